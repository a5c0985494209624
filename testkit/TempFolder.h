// A fresh, empty folder under the system's temporary folder for one test,
// benchmark or fuzz run, removed with everything in it when the object goes.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

class TempFolder {
public:
    // The name starts with `tag` and is unique to this process and object.
    explicit TempFolder(const std::string& tag = "vexlo");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The path of `name` inside the folder.
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Everything written so far to `file`, a std::tmpfile() that captures a
// stream; later writes go on at its end.
std::string writtenSoFar(std::FILE* file);
