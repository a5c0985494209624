#include "RunSummary.h"

#include <cstdio>
#include <filesystem>

#include "CartridgeCommands.h"

std::vector<std::string> summaryLines(const RunTotals& t) {
    std::vector<std::string> lines;
    lines.push_back(formatText("opened %u times, %u writes, %u replies", t.opens, t.writes, t.replies));
    for (const auto& u : t.uploads) {
        lines.push_back(formatText("%s: %s, %llu bytes%s", commandName(u.command), u.fileName.c_str(),
                                   static_cast<unsigned long long>(u.bytes), u.complete ? "" : " (INCOMPLETE)"));
    }
    if (t.pins.risingEdges != 0) {
        lines.push_back(formatText("JTAG: %llu TCK cycles, %llu IR scans, %llu DR scans, %llu IDCODE reads, "
                                   "%llu cmdSetPins, %llu cmdClockPins, %llu cmdReadPins",
                                   static_cast<unsigned long long>(t.pins.risingEdges),
                                   static_cast<unsigned long long>(t.scans.irScans),
                                   static_cast<unsigned long long>(t.scans.drScans),
                                   static_cast<unsigned long long>(t.scans.idcodeReads),
                                   static_cast<unsigned long long>(t.pins.setPins),
                                   static_cast<unsigned long long>(t.pins.clockPins),
                                   static_cast<unsigned long long>(t.pins.readPins)));
    }
    if (t.atariShown) {
        lines.push_back(formatText("Atari: %u sector requests, script %s", t.atariRequests, t.atariScript));
    }
    return lines;
}

void writeRunSummary(const std::vector<std::string>& lines, EmulatorLog& log, const std::string& outDir,
                     bool toFile) {
    log.line("Summary:");
    for (const auto& s : lines) {
        log.line("  %s", s.c_str());
    }
    log.flush();
    if (!toFile) {
        return;
    }
    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);
    const std::string path = (std::filesystem::path(outDir) / "summary.txt").string();
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        for (const auto& s : lines) {
            std::fprintf(f, "%s\n", s.c_str());
        }
        std::fclose(f);
    }
}
