#include "AtariDisk.h"

bool parseAtariTasks(const std::string&, std::vector<AtariTask>& tasks, std::string& error) {
    tasks.clear();
    error = "not built yet";
    return false;
}

bool runAtariTasks(const std::vector<AtariTask>&, const RequestSectors&, const std::string&,
                   const AtariLog& log) {
    log("Atari: not built yet");
    return false;
}
