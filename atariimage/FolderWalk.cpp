#include "FolderWalk.h"

namespace atari {

bool checkTree(const Volume& volume, TreeCount& count, std::string& error) {
    Walker walker(volume);
    return walk(
        walker, 0, "", 0,
        [&](const Entry& e, const std::string& path, std::string& why) {
            if (e.folder()) {
                ++count.folders;
                return true;
            }
            ++count.files;
            count.bytes += e.size;
            Bytes content;
            if (!walker.readFile(e, content, why)) {
                why = path + ": " + why;
                return false;
            }
            return true;
        },
        error);
}

}  // namespace atari
