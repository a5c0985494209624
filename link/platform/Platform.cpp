#include "platform/Platform.h"

namespace platform {

std::int64_t (*clockMs)() = monotonicMs;
void (*sleepMs)(std::uint32_t ms) = sleepFor;
void (*idlePause)() = pauseBriefly;

namespace {

// Bits of the Windows console's input mode.
constexpr std::uint32_t QUICK_EDIT_MODE = 0x0040;
constexpr std::uint32_t EXTENDED_FLAGS = 0x0080;  // without it, QuickEdit changes are ignored

bool modeSaved = false;
std::uint32_t savedMode = 0;
bool exitHookSet = false;

}  // namespace

void quickEditOff() {
    const ConsoleModeCalls& calls = consoleModeCalls;
    std::uint32_t mode = 0;
    if (modeSaved || calls.getInputMode == nullptr || !calls.getInputMode(&mode) || (mode & QUICK_EDIT_MODE) == 0) {
        return;
    }
    if (!calls.setInputMode((mode & ~QUICK_EDIT_MODE) | EXTENDED_FLAGS)) {
        return;
    }
    savedMode = mode;
    modeSaved = true;
    if (!exitHookSet && calls.atEveryExit != nullptr) {
        exitHookSet = true;
        calls.atEveryExit(restoreConsoleMode);
    }
}

void restoreConsoleMode() {
    if (!modeSaved) {
        return;
    }
    modeSaved = false;
    consoleModeCalls.setInputMode(savedMode | EXTENDED_FLAGS);
}

}  // namespace platform
