// The XSVF file format: command codes with their names and operand layouts,
// and the TAP state codes with their names. Every reader and writer of XSVF
// in the tree (the updater's player, the text tool, the JTAG model, the
// tests) takes these from here.
#pragma once

#include <cstdint>

// ---------------------------------------------------------------- TAP states

// code, suffix of TAP_/JTAG_ names, printed name
#define XSVF_TAP_STATES(X)                 \
    X(0, RESET, "RESET")                   \
    X(1, RUNTEST_IDLE, "RUNTEST/IDLE")     \
    X(2, DRSELECT, "DRSELECT")             \
    X(3, DRCAPTURE, "DRCAPTURE")           \
    X(4, DRSHIFT, "DRSHIFT")               \
    X(5, DREXIT1, "DREXIT1")               \
    X(6, DRPAUSE, "DRPAUSE")               \
    X(7, DREXIT2, "DREXIT2")               \
    X(8, DRUPDATE, "DRUPDATE")             \
    X(9, IRSELECT, "IRSELECT")             \
    X(10, IRCAPTURE, "IRCAPTURE")          \
    X(11, IRSHIFT, "IRSHIFT")              \
    X(12, IREXIT1, "IREXIT1")              \
    X(13, IRPAUSE, "IRPAUSE")              \
    X(14, IREXIT2, "IREXIT2")              \
    X(15, IRUPDATE, "IRUPDATE")

// The XSVF state codes. 1 to 8 are the DR column with Run-Test/Idle, 9 to 15
// the IR column.
enum TapState : std::uint8_t {
#define XSVF_TAP_STATE_ENUM(code, name, text) TAP_##name = code,
    XSVF_TAP_STATES(XSVF_TAP_STATE_ENUM)
#undef XSVF_TAP_STATE_ENUM
};

constexpr int TAP_STATE_COUNT = 16;

// The names traces print, indexed by the code.
inline constexpr const char* tapStateNames[TAP_STATE_COUNT] = {
#define XSVF_TAP_STATE_NAME(code, name, text) text,
    XSVF_TAP_STATES(XSVF_TAP_STATE_NAME)
#undef XSVF_TAP_STATE_NAME
};

// ---------------------------------------------------------------- commands

// What follows a command code, one entry per operand in file order. Numbers
// are unsigned and most significant byte first; a vector of n bits takes
// (n + 7) / 8 bytes, stored in file order.
enum XsvfOperand : std::uint8_t {
    XSVF_NUMBER8,     // one byte
    XSVF_NUMBER32,    // four bytes
    XSVF_LENGTH8,     // one byte: the bit count of the XSVF_VECTOR after it
    XSVF_LENGTH16,    // two bytes: the same
    XSVF_VECTOR,      // as many bytes as the length before it gives
    XSVF_SDR_SIZE,    // four bytes: the bit count of every XSVF_SDR_VECTOR after it
    XSVF_SDR_VECTOR,  // as many bytes as the last XSVF_SDR_SIZE gives; none before any
    XSVF_DATA_MASK,   // an XSVF_SDR_VECTOR whose ones are the bit count of each XSVF_PIECES piece
    XSVF_PIECES,      // one byte, a count N; then N vectors of (ones in the data mask) bits
    XSVF_STATE,       // one byte: a TapState code
    XSVF_END_STATE,   // one byte: 0 or 1, the state xsvfEndState gives
    XSVF_TEXT,        // bytes up to and including a 0 byte
};

constexpr int XSVF_MAX_OPERANDS = 3;

// A command's operands in file order.
struct XsvfLayout {
    std::uint8_t count = 0;
    XsvfOperand operands[XSVF_MAX_OPERANDS] = {};

    constexpr XsvfLayout() = default;
    template <class... Operands>
    constexpr XsvfLayout(XsvfOperand first, Operands... rest)
        : count(static_cast<std::uint8_t>(1 + sizeof...(rest))), operands{first, rest...} {}
};

// code, name (also the printed name), operands
#define XSVF_COMMANDS(X)                                                \
    X(0, XCOMPLETE)                                                     \
    X(1, XTDOMASK, XSVF_SDR_VECTOR)                                     \
    X(2, XSIR, XSVF_LENGTH8, XSVF_VECTOR)                               \
    X(3, XSDR, XSVF_SDR_VECTOR)                                         \
    X(4, XRUNTEST, XSVF_NUMBER32)                                       \
    X(5, Reserved5)                                                     \
    X(6, Reserved6)                                                     \
    X(7, XREPEAT, XSVF_NUMBER8)                                         \
    X(8, XSDRSIZE, XSVF_SDR_SIZE)                                       \
    X(9, XSDRTDO, XSVF_SDR_VECTOR, XSVF_SDR_VECTOR)                     \
    X(10, XSETSDRMASKS, XSVF_SDR_VECTOR, XSVF_DATA_MASK)                \
    X(11, XSDRINC, XSVF_SDR_VECTOR, XSVF_PIECES)                        \
    X(12, XSDRB, XSVF_SDR_VECTOR)                                       \
    X(13, XSDRC, XSVF_SDR_VECTOR)                                       \
    X(14, XSDRE, XSVF_SDR_VECTOR)                                       \
    X(15, XSDRTDOB, XSVF_SDR_VECTOR, XSVF_SDR_VECTOR)                   \
    X(16, XSDRTDOC, XSVF_SDR_VECTOR, XSVF_SDR_VECTOR)                   \
    X(17, XSDRTDOE, XSVF_SDR_VECTOR, XSVF_SDR_VECTOR)                   \
    X(18, XSTATE, XSVF_STATE)                                           \
    X(19, XENDIR, XSVF_END_STATE)                                       \
    X(20, XENDDR, XSVF_END_STATE)                                       \
    X(21, XSIR2, XSVF_LENGTH16, XSVF_VECTOR)                            \
    X(22, XCOMMENT, XSVF_TEXT)                                          \
    X(23, XWAIT, XSVF_STATE, XSVF_STATE, XSVF_NUMBER32)

// The command codes; Reserved5 and Reserved6 name no command.
enum XsvfCommand : std::uint8_t {
#define XSVF_COMMAND_ENUM(code, name, ...) name = code,
    XSVF_COMMANDS(XSVF_COMMAND_ENUM)
#undef XSVF_COMMAND_ENUM
};

constexpr int XSVF_COMMAND_COUNT = 24;

// Printed in traces and in the unsupported-command message.
inline constexpr const char* xsvfCommandNames[XSVF_COMMAND_COUNT] = {
#define XSVF_COMMAND_NAME(code, name, ...) #name,
    XSVF_COMMANDS(XSVF_COMMAND_NAME)
#undef XSVF_COMMAND_NAME
};

inline constexpr XsvfLayout xsvfCommandLayouts[XSVF_COMMAND_COUNT] = {
#define XSVF_COMMAND_LAYOUT(code, name, ...) XsvfLayout{__VA_ARGS__},
    XSVF_COMMANDS(XSVF_COMMAND_LAYOUT)
#undef XSVF_COMMAND_LAYOUT
};

namespace xsvf_format_detail {
// The rows of both lists stand in code order, so the arrays index by code.
constexpr bool inCodeOrder(const int* codes, int count) {
    for (int i = 0; i < count; ++i) {
        if (codes[i] != i) {
            return false;
        }
    }
    return true;
}
#define XSVF_ROW_CODE(code, ...) code,
constexpr int tapStateCodes[] = {XSVF_TAP_STATES(XSVF_ROW_CODE)};
constexpr int commandCodes[] = {XSVF_COMMANDS(XSVF_ROW_CODE)};
#undef XSVF_ROW_CODE
static_assert(sizeof tapStateCodes / sizeof tapStateCodes[0] == TAP_STATE_COUNT);
static_assert(sizeof commandCodes / sizeof commandCodes[0] == XSVF_COMMAND_COUNT);
static_assert(inCodeOrder(tapStateCodes, TAP_STATE_COUNT));
static_assert(inCodeOrder(commandCodes, XSVF_COMMAND_COUNT));
}  // namespace xsvf_format_detail

// True for the codes that name a command: 0 to 23 but 5 and 6.
constexpr bool xsvfIsCommand(std::uint8_t code) {
    return code < XSVF_COMMAND_COUNT && code != Reserved5 && code != Reserved6;
}

// The bytes of a fixed-size operand; 0 for those whose size depends on the
// file (vectors, pieces, text).
constexpr unsigned xsvfOperandBytes(XsvfOperand operand) {
    switch (operand) {
        case XSVF_NUMBER8:
        case XSVF_LENGTH8:
        case XSVF_STATE:
        case XSVF_END_STATE:
            return 1;
        case XSVF_LENGTH16:
            return 2;
        case XSVF_NUMBER32:
        case XSVF_SDR_SIZE:
            return 4;
        default:
            return 0;
    }
}

// The end state that XENDIR or XENDDR (`code`) set for operand 0 or 1:
// Run-Test/Idle, or the pause state of that command's register.
constexpr TapState xsvfEndState(std::uint8_t code, std::uint8_t operand) {
    if (operand == 0) {
        return TAP_RUNTEST_IDLE;
    }
    return code == XENDIR ? TAP_IRPAUSE : TAP_DRPAUSE;
}
