#include "EmulatorLog.h"

EmulatorLog::~EmulatorLog() {
    if (file_ != nullptr) {
        std::fflush(file_);
        if (ownsFile_) {
            std::fclose(file_);
        }
    }
}

bool EmulatorLog::open(const std::string& path) {
    if (path.empty() || path == "none") {
        return true;
    }
    if (path == "stdout") {
        file_ = stdout;
        return true;
    }
    if (path == "stderr") {
        file_ = stderr;
        return true;
    }
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) {
        return false;
    }
    ownsFile_ = true;
    // Line buffered, so a run stopped from outside (the drive image server
    // never ends by itself) still leaves a complete log behind.
    std::setvbuf(file_, nullptr, _IOLBF, 1 << 16);
    return true;
}

void EmulatorLog::line(const char* format, ...) {
    if (!enabled()) {
        return;
    }
    char buffer[1024];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    std::string text(buffer, n < 0 ? 0 : (n >= static_cast<int>(sizeof buffer) ? sizeof buffer - 1 : n));
    text += '\n';
    if (capture_ != nullptr) {
        *capture_ += text;
    }
    if (file_ != nullptr) {
        std::fputs(text.c_str(), file_);
    }
}

void EmulatorLog::flush() {
    if (file_ != nullptr) {
        std::fflush(file_);
    }
}
