// The program's steps around the player: prompt, open, tuning, file, time.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "PinDriver.h"
#include "TempFolder.h"
#include "Updater.h"
#include "UpdaterFixture.h"

#ifndef VEXLO_UPDATER_PROGRAM
#define VEXLO_UPDATER_PROGRAM ""
#endif

namespace {

const std::string kBanner =
    "Vexlo FPGA update version 1.0\n"
    "--------------------------------\n\n"
    "Do not disconnect the cartridge from USB or switch off your Atari!\n\n"
    "If the update hangs you maybe selected a char in the terminal\n"
    "window with the mouse. This forces the update to pause.\n"
    "In this case just press return.\n\n"
    "Press return to continue.\n";

class UpdaterMainTest : public UpdaterTest {
protected:
    void SetUp() override {
        UpdaterTest::SetUp();
        input = std::tmpfile();  // at end of file: must not block
        folder = std::make_unique<TempFolder>("vexlo-updater");
        dir = folder->path();
        linkPtr = nullptr;
    }
    void TearDown() override {
        std::fclose(input);
        folder.reset();
        UpdaterTest::TearDown();
    }
    std::string xsvfPath() const { return (dir / "top.xsvf").string(); }
    void writeXsvf(const std::vector<std::uint8_t>& data) {
        std::ofstream out(xsvfPath(), std::ios::binary);
        out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    }

    std::FILE* input = nullptr;
    std::unique_ptr<TempFolder> folder;
    std::filesystem::path dir;
};

TEST_F(UpdaterMainTest, OpenFailureEndsWithStatusZero) {
    struct Case {
        const char* name;
        bool unbound;
        std::string out;
    };
    const Case cases[] = {
        {"no cartridge", false, kBanner},
        {"FT_OpenEx missing", true, kBanner + "Error: FT_OpenEx is not valid!\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fakeDriver().reset();
        installFakes(link);
        fakeDriver().openStatus = FT_DEVICE_NOT_FOUND;
        if (c.unbound) {
            link.FT_OpenEx = nullptr;
        }
        ConsoleCapture console;
        EXPECT_EQ(runUpdater(link, input, xsvfPath().c_str()), 0);
        EXPECT_EQ(console.out(), c.out);
        EXPECT_EQ(console.err(), "Unable to option Vexlo cartridge.\n");
        EXPECT_EQ(linkPtr, nullptr);
        EXPECT_TRUE(fakeDriver().callsOf("FT_SetLatencyTimer").empty());
    }
}

TEST_F(UpdaterMainTest, MissingFileAfterTheLinkIsTuned) {
    ConsoleCapture console;
    EXPECT_EQ(runUpdater(link, input, xsvfPath().c_str()), 0);
    EXPECT_EQ(console.out(), kBanner);
    EXPECT_EQ(console.err(), "File top.xsvf not found\n");
    EXPECT_EQ(linkPtr, &link);
    // The updater's own tuning comes after the open sequence's.
    const auto usb = fakeDriver().callsOf("FT_SetUSBParameters");
    ASSERT_EQ(usb.size(), 2u);
    EXPECT_EQ(usb[1].args[0], 6400u);
    EXPECT_EQ(usb[1].args[1], 6400u);
    const auto latency = fakeDriver().callsOf("FT_SetLatencyTimer");
    ASSERT_EQ(latency.size(), 2u);
    EXPECT_EQ(latency[1].args[0], 1u);
    EXPECT_TRUE(fakeDriver().callsOf("FT_Close").empty());
}

TEST_F(UpdaterMainTest, MissingTuningEntriesAreSkipped) {
    link.FT_SetUSBParameters = nullptr;
    link.FT_SetLatencyTimer = nullptr;
    ConsoleCapture console;
    EXPECT_EQ(runUpdater(link, input, xsvfPath().c_str()), 0);
    EXPECT_EQ(console.out(), kBanner +
                                 "Error: FT_SetUSBParameters is not valid!\n"
                                 "Error: FT_SetLatencyTimer is not valid!\n"
                                 "Error: FT_SetUSBParameters is not valid!\n"
                                 "Error: FT_SetLatencyTimer is not valid!\n");
    EXPECT_EQ(console.err(), "File top.xsvf not found\n");
}

TEST_F(UpdaterMainTest, PlaysTheFileAndPrintsTheTime) {
    struct Case {
        std::vector<std::uint8_t> file;
        std::string player;
    };
    const Case cases[] = {
        {{0x00}, "Completed FPGA update.            \n"},
        {{0x05},
         "ERROR:  Encountered unsupported command #5 (Reserved5)\nERROR:  Unsupported XSVF command\n"
         "ERROR at or near XSVF command #1.  See line #1 in the XSVF ASCII file.\n"},
    };
    for (const Case& c : cases) {
        fakeDriver().reset();
        // Only t0 and t1 read the clock here: 1.5 s apart.
        fakeDriver().clockStepMs = 1500;
        writeXsvf(c.file);
        ConsoleCapture console;
        EXPECT_EQ(runUpdater(link, input, xsvfPath().c_str()), 0);
        EXPECT_EQ(console.out(), kBanner + "Erasing prom (15s)\n" + c.player + "Time to execute 1.50\n");
        EXPECT_EQ(console.err(), "");
        std::fclose(xsvfFile);
        xsvfFile = nullptr;
    }
}

#if !defined(_WIN32)
// The real program, bound before main: without a cartridge (or without the
// driver library) it still prompts, reads no further than end of input and
// exits with status 0.
TEST_F(UpdaterMainTest, ProgramWithoutCartridgeExitsZero) {
    const std::string program = VEXLO_UPDATER_PROGRAM;
    if (program.empty()) {
        GTEST_SKIP() << "program path not configured";
    }
    const std::string command = "cd '" + dir.string() + "' && '" + program + "' ignored args </dev/null 2>&1";
    std::FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buffer[512];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        out.append(buffer, n);
    }
    const int status = pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(out.find(kBanner), std::string::npos) << out;
    EXPECT_TRUE(out.find("Unable to option Vexlo cartridge.\n") != std::string::npos ||
                out.find("File top.xsvf not found\n") != std::string::npos)
        << out;
}
#endif

}  // namespace
