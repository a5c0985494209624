#include "platform/Platform.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <windows.h>

#include <string>

#include <cerrno>
#include <cstring>

namespace platform {

const char* driverLibraryName() { return "Ftd2xx.dll"; }

namespace {
// A function's static, as the updater loads its driver while the globals
// are still being constructed.
DWORD& lastLoadError() {
    static DWORD code = 0;
    return code;
}
}  // namespace

void* loadLibrary(const char* fileName) {
    // A console program reports a missing or broken driver on its console;
    // without this, some load failures (a damaged DLL) raise a message box
    // that blocks the run until someone clicks it away.
    const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = LoadLibraryA(fileName);
    const DWORD error = module == nullptr ? GetLastError() : 0;
    SetErrorMode(previous);
    lastLoadError() = error;
    return reinterpret_cast<void*>(module);
}

// "Can't Load Ftd2xx.dll" comes first, the message Windows users know; this
// line says what to do about it. 126: not found, 193: the other bitness.
std::string loadFailureNote(const char* fileName) {
    return std::string("Error: the driver library ") + fileName + " could not be loaded (Windows error " +
           std::to_string(lastLoadError()) +
           "). Install FTDI's D2XX driver, or, to try the programs without a cartridge, copy the emulator's " +
           driverLibraryName() + " from the ZIP's emulator folder beside the program (see WINDOWS.md).";
}

void* findSymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

// Vista and later; it does not wrap after 49 days as GetTickCount does.
std::int64_t monotonicMs() { return static_cast<std::int64_t>(GetTickCount64()); }

void sleepFor(std::uint32_t ms) { Sleep(ms); }

#if !defined(CREATE_WAITABLE_TIMER_HIGH_RESOLUTION)
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

// Sleep(1) lasts a whole tick of the system timer, 15.6 ms by default. A
// high-resolution waitable timer (Windows 10 1803 on, below the 1903 the
// programs' UTF-8 manifest needs anyway) waits 0.9 ms. Older systems get
// Sleep(1): the programs import only what a stock Windows loads for them,
// so no finer timer tick from winmm.
void pauseBriefly() {
    static const HANDLE timer =
        CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
    if (timer != nullptr) {
        LARGE_INTEGER due;
        due.QuadPart = -9000;  // relative, in 100 ns units
        if (SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE)) {
            WaitForSingleObject(timer, INFINITE);
            return;
        }
    }
    Sleep(1);
}

namespace {

// The console's input buffer, also when standard input is redirected: a
// selection pauses the output all the same.
HANDLE consoleInput() {
    static const HANDLE input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, OPEN_EXISTING, 0, nullptr);
    return input;
}

bool getInputMode(std::uint32_t* mode) {
    DWORD value = 0;
    if (consoleInput() == INVALID_HANDLE_VALUE || !GetConsoleMode(consoleInput(), &value)) {
        return false;
    }
    *mode = static_cast<std::uint32_t>(value);
    return true;
}

bool setInputMode(std::uint32_t mode) {
    return consoleInput() != INVALID_HANDLE_VALUE && SetConsoleMode(consoleInput(), static_cast<DWORD>(mode));
}

void (*restoreOnEvent)() = nullptr;

// Ctrl+C, Ctrl+Break and closing the window end the process without the C
// runtime's exit handlers; FALSE lets the default handler end it after this.
BOOL WINAPI onConsoleEvent(DWORD) {
    if (restoreOnEvent != nullptr) {
        restoreOnEvent();
    }
    return FALSE;
}

void atEveryExit(void (*restore)()) {
    restoreOnEvent = restore;
    atexit(restore);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

}  // namespace

ConsoleModeCalls consoleModeCalls = {getInputMode, setInputMode, atEveryExit};

namespace {

// Messages carry their own "\n" line ends and the progress lines rewrite
// themselves with "\r"; the C runtime's text mode would turn every "\n" into
// "\r\n" on the way out. Binary mode writes exactly what was printed (the
// console still starts a new line at "\n"). Files opened without "b" are
// read in binary mode too, so no reader can lose or gain bytes by a missing
// "b". Standard input keeps text mode: it only answers "press Return".
//
// This runs as a constructor of high priority because the updater binds the
// driver, and may print, while its global objects are constructed.
__attribute__((constructor(101))) void useBinaryConsole() {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    _fmode = _O_BINARY;
}

}  // namespace

namespace {

std::wstring widePath(const std::string& utf8) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring wide(length > 0 ? static_cast<std::size_t>(length) : 1, L'\0');
    if (length > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), length);
    wide.resize(wide.size() - 1);
    return wide;
}

bool seekTo(int fd, std::uint64_t offset) { return _lseeki64(fd, static_cast<__int64>(offset), SEEK_SET) >= 0; }

}  // namespace

int openRegularFile(const std::string& utf8Path, std::string& error) {
    const int fd = _wopen(widePath(utf8Path).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) {
        error = "cannot open " + utf8Path + ": " + std::strerror(errno);
        return -1;
    }
    struct _stat64 info {};
    if (_fstat64(fd, &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) {
        error = utf8Path + " is not a regular file";
        _close(fd);
        return -1;
    }
    return fd;
}

int createNewFile(const std::string& utf8Path, std::string& error) {
    const int fd = _wopen(widePath(utf8Path).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                          _S_IREAD | _S_IWRITE);
    if (fd < 0) error = "cannot create " + utf8Path + ": " + std::strerror(errno);
    return fd;
}

bool fileLength(int fd, std::uint64_t& length) {
    struct _stat64 info {};
    if (_fstat64(fd, &info) != 0) return false;
    length = static_cast<std::uint64_t>(info.st_size);
    return true;
}

bool readFileAt(int fd, std::uint64_t offset, void* data, std::size_t size) {
    if (!seekTo(fd, offset)) return false;
    auto* at = static_cast<char*>(data);
    while (size != 0) {
        const int got = _read(fd, at, static_cast<unsigned>(size < 0x40000000 ? size : 0x40000000));
        if (got <= 0) return false;
        at += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

bool writeFileAt(int fd, std::uint64_t offset, const void* data, std::size_t size) {
    if (!seekTo(fd, offset)) return false;
    const auto* at = static_cast<const char*>(data);
    while (size != 0) {
        const int put = _write(fd, at, static_cast<unsigned>(size < 0x40000000 ? size : 0x40000000));
        if (put <= 0) return false;
        at += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

bool finishFile(int fd, std::uint64_t length) {
    return _chsize_s(fd, static_cast<__int64>(length)) == 0 && _commit(fd) == 0;
}

void closeFile(int fd) { _close(fd); }

}  // namespace platform
