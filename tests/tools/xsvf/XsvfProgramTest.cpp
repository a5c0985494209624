// The vexlo-xsvf program as a user runs it: verbs, files, exit statuses, messages.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include "TempFolder.h"
#include "XsvfText.h"

namespace {

namespace fs = std::filesystem;

class XsvfProgram : public ::testing::Test {
protected:
    void SetUp() override {
#ifdef _WIN32
        GTEST_SKIP() << "runs the program through a POSIX shell";
#endif
        folder_ = std::make_unique<TempFolder>("xsvf_program");
        dir_ = folder_->path();
    }

    // Runs `vexlo-xsvf ARGS` in the test folder; stderr goes to the file "err".
    int run(const std::string& args) {
        const std::string command = "cd '" + dir_.string() + "' && '" XSVF_PROGRAM "' " + args + " 2>err";
        const int status = std::system(command.c_str());
#ifndef _WIN32
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#else
        return status;
#endif
    }

    std::string read(const std::string& name) {
        std::ifstream in(dir_ / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    void write(const std::string& name, const std::string& content) {
        std::ofstream(dir_ / name, std::ios::binary) << content;
    }

    std::unique_ptr<TempFolder> folder_;
    fs::path dir_;
};

TEST_F(XsvfProgram, BuildListAndZeroMasksWorkOnFiles) {
    const std::string text =
        "XSDRSIZE 16\n"
        "XTDOMASK 0x0fff\n"
        "XSDRTDO 0x00ff 0x0100\n"
        "XCOMPLETE\n";
    write("in.txt", "# fixture\n" + text);
    ASSERT_EQ(run("build in.txt out.xsvf"), 0) << read("err");
    ASSERT_EQ(run("list out.xsvf > listed.txt"), 0) << read("err");
    EXPECT_EQ(read("listed.txt"), text);
    ASSERT_EQ(run("list out.xsvf listed2.txt"), 0);
    EXPECT_EQ(read("listed2.txt"), text);

    ASSERT_EQ(run("zero-masks out.xsvf zeroed.xsvf"), 0);
    EXPECT_EQ(read("err"), "vexlo-xsvf: 1 XTDOMASK commands cleared\n");
    ASSERT_EQ(run("list zeroed.xsvf > zeroed.txt"), 0);
    EXPECT_EQ(read("zeroed.txt"), "XSDRSIZE 16\nXTDOMASK 0x0000\nXSDRTDO 0x00ff 0x0100\nXCOMPLETE\n");
}

TEST_F(XsvfProgram, FailuresSayWhatAndExitNonZero) {
    write("bad.txt", "XSDRSIZE 8\n\nXSDR 0x100\n");
    EXPECT_EQ(run("build bad.txt out.xsvf"), 1);
    EXPECT_EQ(read("err"), "vexlo-xsvf: bad.txt: line 3: XSDR: 0x100 does not fit in 1 byte\n");
    EXPECT_FALSE(fs::exists(dir_ / "out.xsvf"));

    EXPECT_EQ(run("list missing.xsvf"), 1);
    EXPECT_EQ(read("err"), "vexlo-xsvf: cannot open missing.xsvf\n");

    EXPECT_EQ(run(""), 2);
    EXPECT_NE(read("err").find("Usage:"), std::string::npos);
    EXPECT_EQ(run("list"), 2);
    EXPECT_EQ(run("build only-one.txt"), 2);
    EXPECT_EQ(run("frobnicate a b"), 2);
    EXPECT_EQ(read("err").substr(0, 47), "vexlo-xsvf: unknown command \"frobnicate\"\nUsage:");
}

// Its usage and messages name it as it is installed, never a bare "xsvf".
TEST_F(XsvfProgram, NamesItselfAsInstalled) {
    ASSERT_EQ(run("--help > help.txt"), 0);
    const std::string help = read("help.txt");
    EXPECT_NE(help.find("  vexlo-xsvf list FILE.xsvf [OUT.txt]"), std::string::npos) << help;
    EXPECT_EQ(help.find(" xsvf "), std::string::npos) << help;
    ASSERT_EQ(run("--version > version.txt"), 0);
    EXPECT_EQ(read("version.txt"), "vexlo-xsvf " VEXLO_VERSION "\n");
    EXPECT_EQ(read("err"), "");
}

}  // namespace
