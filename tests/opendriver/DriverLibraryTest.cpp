// libftd2xx.so itself, loaded as the programs load it, over the system's
// libftdi1 and the fake libusb (an FT232R listed before the cartridge):
// only the 18 entry points leave it, lists and opens by index, a second
// open of an open device fails cleanly, and the transfers each call costs.
#include <dlfcn.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "d2xx.h"

namespace {

// One folder per process: ctest runs each test in a process of its own, side by side.
const std::string WORK = std::string(WORK_DIR) + "/driver_library_" + std::to_string(getpid());
const std::string USB_LOG = WORK + "/usb.log";

struct Driver {
    void* fake = nullptr;
    void* lib = nullptr;
    PFN_FT_OpenEx openEx = nullptr;
    PFN_FT_Open open = nullptr;
    PFN_FT_ListDevices list = nullptr;
    PFN_FT_Close close = nullptr;
    PFN_FT_Read read = nullptr;
    PFN_FT_Write write = nullptr;
    PFN_FT_GetStatus getStatus = nullptr;
    PFN_FT_SetTimeouts setTimeouts = nullptr;
    PFN_FT_SetBitMode setBitMode = nullptr;
    PFN_FT_SetLatencyTimer setLatency = nullptr;

    Driver() {
        std::system(("rm -rf '" + WORK + "' && mkdir -p '" + WORK + "'").c_str());
        setenv("VEXLO_FAKE_USB", ("otherfirst;log=" + USB_LOG).c_str(), 1);
        setenv("VEXLO_EMULATOR", ("out=" + WORK + "/out;log=none").c_str(), 1);
        // Loaded first, the fake answers libftdi1's need of libusb-1.0.so.0.
        fake = dlopen((std::string(FAKEUSB_DIR) + "/libusb-1.0.so.0").c_str(), RTLD_NOW | RTLD_GLOBAL);
        lib = dlopen((std::string(OPENDRIVER_DIR) + "/libftd2xx.so").c_str(), RTLD_NOW);
        if (lib == nullptr) {
            return;
        }
        openEx = reinterpret_cast<PFN_FT_OpenEx>(dlsym(lib, "FT_OpenEx"));
        open = reinterpret_cast<PFN_FT_Open>(dlsym(lib, "FT_Open"));
        list = reinterpret_cast<PFN_FT_ListDevices>(dlsym(lib, "FT_ListDevices"));
        close = reinterpret_cast<PFN_FT_Close>(dlsym(lib, "FT_Close"));
        read = reinterpret_cast<PFN_FT_Read>(dlsym(lib, "FT_Read"));
        write = reinterpret_cast<PFN_FT_Write>(dlsym(lib, "FT_Write"));
        getStatus = reinterpret_cast<PFN_FT_GetStatus>(dlsym(lib, "FT_GetStatus"));
        setTimeouts = reinterpret_cast<PFN_FT_SetTimeouts>(dlsym(lib, "FT_SetTimeouts"));
        setBitMode = reinterpret_cast<PFN_FT_SetBitMode>(dlsym(lib, "FT_SetBitMode"));
        setLatency = reinterpret_cast<PFN_FT_SetLatencyTimer>(dlsym(lib, "FT_SetLatencyTimer"));
    }
};

Driver& driver() {
    static Driver d;
    return d;
}

std::vector<std::string> usbLog() {
    std::ifstream in(USB_LOG);
    std::vector<std::string> out;
    for (std::string l; std::getline(in, l);) {
        out.push_back(l);
    }
    return out;
}

class DriverLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(driver().fake, nullptr) << dlerror();
        ASSERT_NE(driver().lib, nullptr) << dlerror();
    }
    Driver& d = driver();
};

TEST_F(DriverLibrary, ExportsTheEighteenEntryPointsAndNothingOfItsOwn) {
    for (const char* name : {"FT_Open", "FT_OpenEx", "FT_ListDevices", "FT_Close", "FT_Read", "FT_Write",
                             "FT_ResetDevice", "FT_Purge", "FT_SetTimeouts", "FT_GetQueueStatus", "FT_SetBaudRate",
                             "FT_SetDataCharacteristics", "FT_SetFlowControl", "FT_GetStatus",
                             "FT_SetUSBParameters", "FT_SetLatencyTimer", "FT_SetBitMode", "FT_Reload"}) {
        EXPECT_NE(dlsym(d.lib, name), nullptr) << name;
    }
    // Our own functions stay inside: d2xx::read, ftdiWire(), platform::monotonicMs().
    for (const char* name : {"_ZN4d2xx4readEPvS0_jPj", "_Z8ftdiWirev", "_ZN8platform11monotonicMsEv"}) {
        EXPECT_EQ(dlsym(d.lib, name), nullptr) << name;
    }
}

TEST_F(DriverLibrary, ListsTheFtdiDevicesInBusOrder) {
    DWORD count = 0;
    ASSERT_EQ(d.list(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
    EXPECT_EQ(count, 2u);  // the root hub is no FTDI chip
    char name[FT_NAME_BUFFER_SIZE] = {};
    ASSERT_EQ(d.list(nullptr, name, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION), FT_OK);
    EXPECT_STREQ(name, "FT232R USB UART");
    ASSERT_EQ(d.list(reinterpret_cast<void*>(std::uintptr_t{1}), name, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION), FT_OK);
    EXPECT_STREQ(name, "Vexlo");
}

TEST_F(DriverLibrary, ASecondOpenOfTheOpenDeviceFailsCleanly) {
    FT_HANDLE first = nullptr, second = nullptr;
    ASSERT_EQ(d.openEx(const_cast<char*>("Vexlo"), FT_OPEN_BY_DESCRIPTION, &first), FT_OK);
    testing::internal::CaptureStderr();
    EXPECT_EQ(d.openEx(const_cast<char*>("Vexlo"), FT_OPEN_BY_DESCRIPTION, &second), FT_DEVICE_NOT_OPENED);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(d.open(1, &second), FT_DEVICE_NOT_OPENED);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << "one line per failed open: " << err;
    ASSERT_EQ(d.close(first), FT_OK);
    EXPECT_EQ(d.close(first), FT_INVALID_HANDLE);
    ASSERT_EQ(d.open(1, &second), FT_OK);
    ASSERT_EQ(d.close(second), FT_OK);
}

// An idle status poll costs one IN transfer (a latency period on a real
// chip); with the reply queued, the poll and the read cost none more.
TEST_F(DriverLibrary, TransfersPerPollReadAndWrite) {
    FT_HANDLE h = nullptr;
    ASSERT_EQ(d.openEx(const_cast<char*>("Vexlo"), FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
    d.setTimeouts(h, 50, 1000);
    d.setLatency(h, 2);
    d.setBitMode(h, 0xff, FT_BITMODE_RESET);
    d.setBitMode(h, 0xff, FT_BITMODE_SYNC_FIFO);
    const std::size_t before = usbLog().size();
    DWORD rx = 9, tx = 9, events = 9;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(d.getStatus(h, &rx, &tx, &events), FT_OK);
        EXPECT_EQ(rx, 0u);
    }
    std::uint8_t power[3] = {0x53, 0x59, 12};  // cmdGetPower
    DWORD written = 0;
    ASSERT_EQ(d.write(h, power, 3, &written), FT_OK);
    EXPECT_EQ(written, 3u);
    ASSERT_EQ(d.getStatus(h, &rx, &tx, &events), FT_OK);
    EXPECT_EQ(rx, 1u);
    std::uint8_t reply = 0;
    DWORD got = 0;
    ASSERT_EQ(d.read(h, &reply, 1, &got), FT_OK);
    EXPECT_EQ(got, 1u);
    // Nothing more to read: the read returns at its 50 ms time-out.
    ASSERT_EQ(d.read(h, &reply, 1, &got), FT_OK);
    EXPECT_EQ(got, 0u);
    ASSERT_EQ(d.close(h), FT_OK);
    const auto log = usbLog();
    const std::vector<std::string> seen(log.begin() + static_cast<long>(before), log.end());
    ASSERT_GE(seen.size(), 4u);
    EXPECT_EQ(seen[0], "bulk-in idle x3");
    EXPECT_EQ(seen[1], "bulk-out 3 accepted 3");
    EXPECT_EQ(seen[2], "bulk-in 1");
    EXPECT_EQ(seen[3].rfind("bulk-in idle x", 0), 0u) << "the timed-out read polls idle until its deadline";
}

}  // namespace
