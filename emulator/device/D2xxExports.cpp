// The 18 driver entry points the programs bind, under their plain names,
// each handed to the emulated cartridge. Which of them a library exports is
// decided when it is linked (emulator/CMakeLists.txt): the variants that
// lack one entry point run the programs' binding paths.
#include <cstdio>
#include <filesystem>
#include <cstdlib>
#include <memory>
#include <vector>

#include "EmulatedCartridge.h"
#include "d2xx.h"

#if defined(_WIN32)
// Exported through the module definition file (plain names on 32-bit too).
#define VEXLO_EXPORT extern "C"
#else
#define VEXLO_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

// The log outlives the cartridge, which writes its summary when the
// process ends.
struct Emulator {
    EmulatorLog log;
    std::unique_ptr<EmulatedCartridge> cartridge;

    Emulator() {
        std::vector<std::string> problems;
        const EmulatorConfig config = loadEmulatorConfig(std::getenv(EMULATOR_ENV_VAR), problems);
        const std::string outProblem = prepareOutputFolder(config.outDir);
        if (!outProblem.empty()) {
            problems.push_back(outProblem);
        }
        const std::string logPath =
            config.logPath.empty() ? config.outDir + "/emulator.log" : config.logPath;
        if (config.logPath.empty() || (config.logPath != "none" && config.logPath != "stdout" &&
                                       config.logPath != "stderr")) {
            std::error_code ec;
            const auto parent = std::filesystem::path(logPath).parent_path();
            if (!parent.empty()) {
                std::filesystem::create_directories(parent, ec);
            }
        }
        const bool logOpened = log.open(logPath);
        // A broken configuration must not go unnoticed, even though the
        // programs' own standard error is otherwise left alone.
        for (const auto& p : problems) {
            std::fprintf(stderr, "vexlo emulator: %s: %s\n", EMULATOR_ENV_VAR, p.c_str());
        }
        if (!logOpened) {
            std::fprintf(stderr, "vexlo emulator: cannot write the log %s\n", logPath.c_str());
        }
        cartridge = std::make_unique<EmulatedCartridge>(config, log);
        for (const auto& p : problems) {
            log.line("configuration problem: %s", p.c_str());
        }
    }
    ~Emulator() { cartridge.reset(); }
};

EmulatedCartridge& cart() {
    static Emulator emulator;
    return *emulator.cartridge;
}

}  // namespace

#define VEXLO_EXPORT_ENTRY(name, step, missing, params, args, method) \
    VEXLO_EXPORT FT_STATUS FT_API name params { return cart().method args; }
VEXLO_D2XX_ENTRY_POINTS(VEXLO_EXPORT_ENTRY)
#undef VEXLO_EXPORT_ENTRY
