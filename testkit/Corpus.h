// The real-world input files the tests and benchmarks read in place, from
// the folder the build was given (VEXLO_CORPUS_DIR). A test whose file is
// missing skips, unless the build requires the corpus (VEXLO_REQUIRE_CORPUS,
// as CI configures it): then the test fails.
#pragma once

#include <cctype>
#include <filesystem>
#include <string>

namespace testkit {

inline std::filesystem::path corpusDir() { return VEXLO_CORPUS_DIR; }
inline constexpr bool corpusRequired = VEXLO_CORPUS_REQUIRED != 0;

// The XSVF files of corpusDir()/xsvf that play to the end once their TDO
// masks are cleared (a model has no programmed memory to compare with).
inline constexpr const char* corpusXsvfFiles[] = {
    "hackrf_xc2c64a_default.xsvf",
    "hackrf_xc2c64a_default_svf2xsvf.xsvf",
    "numato_xc9572xl_counter_svf2xsvf.xsvf",
};

// A test case's name for a corpus file: its name with '_' for what a test
// name cannot hold.
inline std::string corpusCaseName(const char* file) {
    std::string name = file;
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            c = '_';
        }
    }
    return name;
}

}  // namespace testkit

// In a test body: skips or fails when `where` (a corpus file or folder) is
// missing.
#define VEXLO_NEED_CORPUS(where)                                                \
    do {                                                                        \
        const std::filesystem::path vexloCorpusPath_(where);                    \
        if (!std::filesystem::exists(vexloCorpusPath_)) {                       \
            if (testkit::corpusRequired) {                                      \
                FAIL() << "corpus missing: " << vexloCorpusPath_;               \
            }                                                                   \
            GTEST_SKIP() << "corpus not present: " << vexloCorpusPath_;         \
        }                                                                       \
    } while (0)
