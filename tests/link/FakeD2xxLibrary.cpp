// A stand-in driver library for the binding tests: the shared fake's quiet
// entry points under their plain names. Built several times; the build
// leaves one export out of each copy but the complete one. Its functions
// succeed without doing anything, so a bound link can be opened.
#include "FakeD2xx.h"

#define VEXLO_FAKE_EXPORT(name, step, missing, params, args, method) \
    extern "C" __attribute__((visibility("default"))) FT_STATUS FT_API name params { return fake_d2xx::name args; }
VEXLO_D2XX_ENTRY_POINTS(VEXLO_FAKE_EXPORT)
#undef VEXLO_FAKE_EXPORT
