// Binding against prepared driver libraries, each lacking one export, and
// against no library at all; then what opening such a link does.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "CartridgeLink.h"
#include "FakeDriver.h"

namespace {

// The entry points in the order BindDriver resolves them.
std::vector<const void*> fieldsInResolveOrder(const CartridgeLink& l) {
    std::vector<const void*> fields(D2XX_ENTRY_COUNT);
#define VEXLO_FIELD_AT_STEP(name, step, missing, params, args, method) \
    fields[step - 1] = reinterpret_cast<const void*>(l.name);
    VEXLO_D2XX_ENTRY_POINTS(VEXLO_FIELD_AT_STEP)
#undef VEXLO_FIELD_AT_STEP
    return fields;
}

struct BindCase {
    const char* name;
    const char* library;
    const char* bindOutput;
    std::size_t boundCount;  // entries bound, counted in resolve order
    FT_STATUS openResult;
    const char* openOutput;
};
void PrintTo(const BindCase& c, std::ostream* os) { *os << c.name; }

const BindCase kBindCases[] = {
    {"complete", FAKE_D2XX_full, "", 18, 0, ""},
    {"noListDevices", FAKE_D2XX_FT_ListDevices, "Error: Can't Find FT_ListDevices\n", 4, 0, kOpenUnconfigured},
    {"noSetUSBParameters", FAKE_D2XX_FT_SetUSBParameters, "Error: Can't Find FT_SetUSBParameter\n", 16, 0,
     "Error: FT_SetUSBParameters is not valid!\n"},
    {"noReload", FAKE_D2XX_FT_Reload, "Error: Can't Find FT_Reload\n", 17, 0, ""},
    {"noWrite", FAKE_D2XX_FT_Write, "Error: Can't Find FT_Write\n", 0, 1, "Error: FT_OpenEx is not valid!\n"},
    {"noLibrary", "./no-such-directory/libftd2xx.so", "Error: Can't Load Ftd2xx.dll\n", 0, 1,
     "Error: FT_OpenEx is not valid!\n"},
};

class Binding : public testing::TestWithParam<BindCase> {
protected:
    void SetUp() override {
        fakeDriver().reset();
        installFakeClock();
    }
    void TearDown() override { restoreClock(); }
};

TEST_P(Binding, StopsAtFirstMissingExportAndOpenCopes) {
    const BindCase& c = GetParam();
    CartridgeLink link;
    std::memset(&link, 0, sizeof link);

    ConsoleCapture console;
    link.BindDriverFrom(c.library);
    link.opened = 0;
    EXPECT_EQ(console.out(), c.bindOutput);
    EXPECT_EQ(link.driverModule == nullptr, std::string(c.name) == "noLibrary");
    // A library that cannot be loaded is explained on standard error: the
    // file, the loader's reason, the two ways out.
    EXPECT_EQ(console.err(), link.driverModule != nullptr
                                 ? ""
                                 : std::string("Error: the driver library ") + c.library +
                                       " could not be loaded (" + c.library +
                                       ": cannot open shared object file: No such file or directory). Install "
                                       "FTDI's D2XX library so that libftd2xx.so is on the library path, or use "
                                       "this project's open-source driver by setting LD_LIBRARY_PATH to the folder "
                                       "of its libftd2xx.so (see README.md).\n");

    const auto fields = fieldsInResolveOrder(link);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        EXPECT_EQ(fields[i] != nullptr, i < c.boundCount) << "resolve step " << i + 1;
    }

    ConsoleCapture openConsole;
    EXPECT_EQ(link.OpenCartridge(), c.openResult);
    EXPECT_EQ(openConsole.out(), c.openOutput);
    EXPECT_EQ(link.opened, c.openResult == 0 ? 1 : 0);
    // The settle time between the two bit modes is kept even when both are skipped.
    EXPECT_EQ(fakeDriver().callsOf("sleep").size(), c.openResult == 0 ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Libraries, Binding, testing::ValuesIn(kBindCases),
                         [](const testing::TestParamInfo<BindCase>& info) { return std::string(info.param.name); });

}  // namespace
