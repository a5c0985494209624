// The updater against a standard TAP model: what the device really sees.
#include <filesystem>
#include <fstream>
#include <iterator>

#include "Corpus.h"
#include "JtagDevice.h"
#include "JtagFake.h"
#include "PinDriver.h"
#include "UpdaterFixture.h"
#include "XsvfText.h"

namespace {

class JtagModelTest : public UpdaterTest {
protected:
    void SetUp() override {
        UpdaterTest::SetUp();
        configure(JtagDeviceConfig{});
    }
    void configure(const JtagDeviceConfig& config) {
        cartridge.reset();
        device = std::make_unique<JtagDevice>(config);
        cartridge = std::make_unique<JtagFake>(*device);
        cartridge->install(link);
        pinShadow = 0;  // the program's start value
    }
    int run(const std::string& text) {
        useXsvfText(text);
        return HasFatalFailure() ? -1 : playXsvf(*info);
    }
    // TDI of the finished data scans, as vectors in file byte order.
    std::vector<std::vector<std::uint8_t>> dataScans() const {
        std::vector<std::vector<std::uint8_t>> found;
        for (const JtagScan& scan : device->scans()) {
            if (!scan.ir && scan.updated) {
                found.push_back(jtagBitsToBytes(scan.tdi));
            }
        }
        return found;
    }

    std::unique_ptr<JtagDevice> device;
    std::unique_ptr<JtagFake> cartridge;
};

using Bytes = std::vector<std::uint8_t>;

TEST_F(JtagModelTest, TrackedStateMatchesTheDeviceForEveryMove) {
    TapState state = TAP_RESET;
    tapGotoState(state, TAP_RESET);
    for (int current = 0; current < 16; ++current) {
        for (int target = 0; target < 16; ++target) {
            if ((target == TAP_DREXIT2 && current != TAP_DRPAUSE) || (target == TAP_IREXIT2 && current != TAP_IRPAUSE)) {
                continue;
            }
            SCOPED_TRACE(std::string(tapStateNames[current]) + " -> " + tapStateNames[target]);
            if (state != current) {
                // Exit-2 states are only reachable from their pause state.
                if (current == TAP_DREXIT2) {
                    tapGotoState(state, TAP_DRPAUSE);
                } else if (current == TAP_IREXIT2) {
                    tapGotoState(state, TAP_IRPAUSE);
                }
                ASSERT_EQ(tapGotoState(state, static_cast<std::uint8_t>(current)), ERR_NONE);
            }
            ASSERT_EQ(device->state(), current);
            ASSERT_EQ(tapGotoState(state, static_cast<std::uint8_t>(target)), ERR_NONE);
            ASSERT_EQ(device->state(), target);
            ASSERT_EQ(state, target);
        }
    }
    EXPECT_FALSE(cartridge->framingError());
}

TEST_F(JtagModelTest, CapturedTdoComesFromTheDevice) {
    // Test-Logic-Reset selects IDCODE.
    EXPECT_EQ(run("XSDRSIZE 32\nXTDOMASK 0xffffffff\nXSDRTDO 0x00000000 0x0ace50db\nXCOMPLETE\n"), ERR_NONE);
    EXPECT_EQ(info->tdoCaptured.length, 4);
    EXPECT_EQ(info->tdoCaptured.bytes[0], 0x0a);
    EXPECT_EQ(info->tdoCaptured.bytes[3], 0xdb);
    EXPECT_EQ(device->state(), TAP_RUNTEST_IDLE);
    EXPECT_EQ(run("XSDRSIZE 32\nXTDOMASK 0xffffffff\nXSDRTDO 0x00000000 0x0ace50da\nXCOMPLETE\n"), ERR_TDO_MISMATCH);
}

TEST_F(JtagModelTest, XsdrincExamples) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<Bytes> scans;
    };
    const Case cases[] = {
        {"carry crosses the byte", "XSDRSIZE 16\nXSETSDRMASKS 0x0001 0x0000\nXSDRINC 0x00ff 1 0x\n",
         {{0x00, 0xff}, {0x01, 0x00}}},
        {"data bits into masked positions", "XSDRSIZE 8\nXSETSDRMASKS 0x00 0x05\nXSDRINC 0x00 1 0x02\n",
         {{0x00}, {0x04}}},
        {"address and data over three bytes", "XSDRSIZE 24\nXSETSDRMASKS 0x000010 0xf00f00\nXSDRINC 0x123456 1 0xcd\n",
         {{0x12, 0x34, 0x56}, {0xc2, 0x3d, 0x66}}},
        {"no pieces: one shift", "XSDRSIZE 8\nXSETSDRMASKS 0x01 0x00\nXSDRINC 0x10 0\n", {{0x10}}},
        {"additions accumulate, data replaces", "XSDRSIZE 8\nXSETSDRMASKS 0x10 0x03\nXSDRINC 0x00 3 0x01 0x02 0x03\n",
         {{0x00}, {0x11}, {0x22}, {0x33}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        configure(JtagDeviceConfig{});
        ASSERT_EQ(run(c.text + "XCOMPLETE\n"), ERR_NONE);
        EXPECT_EQ(dataScans(), c.scans);
    }
}

TEST_F(JtagModelTest, InstructionShiftsAndEndStates) {
    JtagDeviceConfig config;
    config.irLength = 9;
    configure(config);
    EXPECT_EQ(run("XSIR 9 0x0155\nXCOMPLETE\n"), ERR_NONE);  // 9 bits read as 2 bytes
    ASSERT_FALSE(device->scans().empty());
    EXPECT_TRUE(device->scans().back().ir);
    EXPECT_EQ(jtagBitsToBytes(device->scans().back().tdi), (Bytes{0x01, 0x55}));
    EXPECT_EQ(device->instruction(), 0x155u);
    EXPECT_EQ(device->state(), TAP_RUNTEST_IDLE);

    configure(JtagDeviceConfig{});
    EXPECT_EQ(run("XENDIR 1\nXSIR 8 0x05\nXCOMPLETE\n"), ERR_NONE);
    EXPECT_EQ(device->state(), TAP_IRPAUSE);
    EXPECT_EQ(info->tapState, TAP_IRPAUSE);

    configure(JtagDeviceConfig{});
    EXPECT_EQ(run("XENDDR 1\nXSDRSIZE 8\nXSDR 0x3c\nXCOMPLETE\n"), ERR_NONE);
    EXPECT_EQ(device->state(), TAP_DRPAUSE);
    EXPECT_EQ(info->tapState, TAP_DRPAUSE);
    // A shift from Pause-DR goes through Exit2-DR back into Shift-DR: the
    // three shifts are one scan, updated only when the last one ends.
    configure(JtagDeviceConfig{});
    EXPECT_EQ(run("XENDDR 1\nXSIR 8 0x05\nXSDRSIZE 8\nXSDR 0x3c\nXSDR 0xc3\nXENDDR 0\nXSDR 0x11\nXCOMPLETE\n"), ERR_NONE);
    EXPECT_EQ(device->state(), TAP_RUNTEST_IDLE);
    EXPECT_EQ(jtagBitsToBytes(device->storedRegister(0x05)), (Bytes{0x11, 0xc3, 0x3c}));
}

TEST_F(JtagModelTest, LongestInstructionShift) {
    std::string tdi = "0x";
    for (int i = 0; i < 7000; ++i) {
        tdi += "ff";
    }
    JtagDeviceConfig config;
    config.keepHistory = false;
    configure(config);
    EXPECT_EQ(run("XSIR2 56000 " + tdi + "\nXCOMPLETE\n"), ERR_NONE);
    EXPECT_EQ(device->instruction(), 0xFFu) << "all ones: BYPASS";
}

TEST_F(JtagModelTest, ShiftPiecesInOneShiftDrVisit) {
    EXPECT_EQ(run("XSDRSIZE 8\nXSDRB 0x01\nXSDRC 0x02\nXSDRE 0x03\nXCOMPLETE\n"), ERR_NONE);
    EXPECT_EQ(dataScans(), (std::vector<Bytes>{{0x03, 0x02, 0x01}}));
    EXPECT_EQ(device->state(), TAP_RUNTEST_IDLE);

    configure(JtagDeviceConfig{});
    EXPECT_EQ(run("XSDRSIZE 8\nXSDRTDOB 0x01 0x00\nXSDRTDOC 0x02 0x00\nXSDRTDOE 0x03 0x00\nXCOMPLETE\n"),
              ERR_TDO_MISMATCH)
        << "IDCODE bits come out; B/C/E compare every bit";
    EXPECT_EQ(device->state(), TAP_DRSHIFT);
}

TEST_F(JtagModelTest, BlockShiftReachesTheDevice) {
    std::string tdi = "0x01";  // bit 4096 set
    Bytes data(513, 0);
    data[0] = 0x01;
    for (int i = 1; i < 513; ++i) {
        data[i] = static_cast<std::uint8_t>(i * 7);
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", data[i]);
        tdi += hex;
    }
    ConsoleCapture console;
    EXPECT_EQ(run("XSIR 8 0x05\nXSDRSIZE 4097\nXSDR " + tdi + "\nXCOMPLETE\n"), ERR_NONE);
    EXPECT_EQ(cartridge->largestWrite(), 16392u);
    EXPECT_EQ(jtagBitsToBytes(device->storedRegister(0x05)), data);
    EXPECT_EQ(device->state(), TAP_RUNTEST_IDLE);
    EXPECT_EQ(console.out(), "Writing FPGA block = 1/555\rCompleted FPGA update.            \n");
}

TEST_F(JtagModelTest, RealFilesPlayToCompletion) {
    const std::filesystem::path dir = testkit::corpusDir() / "xsvf";
    VEXLO_NEED_CORPUS(dir);
    for (const char* name : testkit::corpusXsvfFiles) {
        SCOPED_TRACE(name);
        std::ifstream in(dir / name, std::ios::binary);
        ASSERT_TRUE(in) << "missing " << name;
        Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // The model has no programmed memory: compare nothing, keep every scan.
        zeroXsvfTdoMasks(data);
        JtagDeviceConfig config;
        config.keepHistory = false;
        configure(config);
        fakeDriver().clockStepMs = 1000;  // each wait is a pass or two
        useXsvf(data);
        ConsoleCapture console;
        EXPECT_EQ(playXsvf(*info), ERR_NONE);
        const std::string out = console.out();
        EXPECT_EQ(out.substr(out.size() - 35), "Completed FPGA update.            \n");
        EXPECT_EQ(device->state(), info->tapState);
        EXPECT_EQ(info->commandCount, static_cast<std::int32_t>(splitXsvf(data).size()));
        EXPECT_FALSE(cartridge->framingError());
    }
}

}  // namespace
