// The XSVF file as text: one command per line, so that line N of a listing is
// command N as the player counts them ("See line #N in the XSVF ASCII file."),
// and an assembler that turns that text back into the same bytes.
//
// Line forms (operands exactly as the player reads them; both directions
// follow xsvfCommandLayouts of XsvfFormat.h):
//   XCOMPLETE
//   XTDOMASK 0x00ff              vectors: "0x" and two hex digits per byte,
//   XSDR 0x0100                  as long as the last XSDRSIZE makes them
//   XSDRTDO 0x00ff 0x0100        (the assembler also takes fewer digits)
//   XSIR 8 0xfe                  length in bits, then (length + 7) / 8 bytes
//   XSIR2 300 0x...
//   XRUNTEST 1000                numbers in decimal (0x... accepted)
//   XREPEAT 32
//   XSDRSIZE 16
//   XSETSDRMASKS 0x0000 0x00ff   address mask, data mask
//   XSDRINC 0x0000 2 0x01 0x02   TDI, piece count, pieces of
//                                (ones in the data mask + 7) / 8 bytes
//   XSDRB / XSDRC / XSDRE 0x...
//   XSDRTDOB / XSDRTDOC / XSDRTDOE 0x... 0x...
//   XSTATE 1                     a state code (names such as RUNTEST/IDLE accepted)
//   XENDIR 0 / XENDDR 1          the operand byte (RUNTEST/IDLE, IRPAUSE, DRPAUSE accepted)
//   XCOMMENT "text"              \" \\ \n \r \t and \xNN escapes
//   XWAIT 1 1 1000               wait state, end state, microseconds
//   UNKNOWN 0x05                 a code with no command (5, 6, 24 to 255)
//   TRUNCATED XSDRTDO 0x00ff01   the file ends inside this command's operands:
//                                the code's name, then the operand bytes present
// The assembler also takes blank lines and "#" comments (whole lines or after
// the operands); names are case-insensitive. A listing never contains them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The player's name of a command code ("XCOMPLETE" ... "XWAIT", "Reserved5",
// "Reserved6"), or nullptr for codes 24 to 255.
const char* xsvfCommandName(std::uint8_t code);

// Where one command lies in the file.
struct XsvfCommandSpan {
    std::size_t offset = 0;  // of the command code
    std::size_t size = 0;    // code and operands
    std::uint8_t code = 0;
    bool truncated = false;  // the file ends inside its operands
};

// Splits the file into commands as the player reads them (tracking XSDRSIZE
// and XSETSDRMASKS). Every byte belongs to exactly one command.
std::vector<XsvfCommandSpan> splitXsvf(const std::vector<std::uint8_t>& xsvf);

// One line per command, each ending in "\n".
std::string disassembleXsvf(const std::vector<std::uint8_t>& xsvf);

// Text to bytes. On failure returns false, leaves `out` empty and sets
// `error` to "line N: ..." naming the first offending text line.
bool assembleXsvf(const std::string& text, std::vector<std::uint8_t>& out, std::string& error);

// Sets every XTDOMASK operand byte to 0, so that a device without the
// original chip's memory passes the file's TDO checks while every scan, TAP
// move and wait stays as it was. Returns the number of XTDOMASK commands.
std::size_t zeroXsvfTdoMasks(std::vector<std::uint8_t>& xsvf);
