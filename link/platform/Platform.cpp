#include "platform/Platform.h"

namespace platform {

std::int64_t (*clockMs)() = monotonicMs;
void (*sleepMs)(std::uint32_t ms) = sleepFor;

}  // namespace platform
