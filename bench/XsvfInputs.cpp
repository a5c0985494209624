#include "XsvfInputs.h"

#include <cstdio>
#include <cstdlib>
#include <list>

#include "Corpus.h"
#include "XsvfText.h"

namespace bench {

std::vector<std::uint8_t> readXsvfZeroMasks(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return bytes;
    }
    std::uint8_t buffer[65536];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    std::fclose(file);
    zeroXsvfTdoMasks(bytes);
    return bytes;
}

std::string corpusXsvfDir() {
    const char* root = std::getenv("VEXLO_CORPUS_DIR");
    return (root != nullptr && root[0] != '\0' ? std::string(root) : testkit::corpusDir().string()) + "/xsvf";
}

const std::vector<std::uint8_t>& keptCorpusXsvf(const std::string& name) {
    // A list keeps each file at its place while more are added.
    static std::list<std::vector<std::uint8_t>> files;
    return files.emplace_back(readXsvfZeroMasks(corpusXsvfDir() + "/" + name));
}

}  // namespace bench
