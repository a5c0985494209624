// The 18 entry points the programs bind, under their plain names, over
// libftdi1. Nothing else leaves the library.
#include <cstdio>
#include <type_traits>

#include "D2xxApi.h"
#include "d2xx.h"

#define VEXLO_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
D2xxContext context() { return D2xxContext{&ftdiWire(), stderr}; }
}  // namespace

// Each entry point forwards to its d2xx:: operation, with exactly the type
// the programs bind it with.
#define VEXLO_OPEN_DRIVER_ENTRY(name, step, missing, params, args, method) \
    VEXLO_EXPORT FT_STATUS FT_API name params { return d2xx::method(context(), VEXLO_D2XX_SPREAD args); } \
    static_assert(std::is_same_v<decltype(&name), PFN_##name>);
VEXLO_D2XX_ENTRY_POINTS(VEXLO_OPEN_DRIVER_ENTRY)
#undef VEXLO_OPEN_DRIVER_ENTRY
