// The JTAG device model's identity when nothing else is asked for, apart
// from the model so that settings can name it without pulling it in.
#pragma once

#include <cstdint>

constexpr unsigned JTAG_DEFAULT_IR_LENGTH = 8;            // 2 to 32
constexpr std::uint32_t JTAG_DEFAULT_IDCODE = 0x0ACE50DB;  // bit 0 is 1, as the standard requires
