#include "JtagScanReport.h"

#include <string>
#include <vector>

namespace {

std::string bitsHex(const std::vector<bool>& bits) {
    std::string hex = jtagBitsToHex(bits);
    if (hex.size() > 66) {
        hex = hex.substr(0, 66) + "...";
    }
    return hex;
}

}  // namespace

void JtagScanReport::report(EmulatorLog& log) {
    if (model_ == nullptr) {
        return;
    }
    const auto& scans = model_->scans();
    if (scans.empty()) {
        return;
    }
    const int state = model_->state();
    // The model marks a scan updated on the falling edge in Update-xR, so a
    // scan is still open up to and including that state.
    const bool lastOpen = !scans.back().updated &&
                          ((scans.back().ir && state >= JTAG_IRCAPTURE && state <= JTAG_IRUPDATE) ||
                           (!scans.back().ir && state >= JTAG_DRCAPTURE && state <= JTAG_DRUPDATE));
    const std::size_t done = lastOpen ? scans.size() - 1 : scans.size();
    for (std::size_t k = 0; k < done; ++k) {
        const JtagScan& s = scans[k];
        if (s.ir) {
            ++totals_.irScans;
        } else {
            ++totals_.drScans;
        }
        if (!s.ir && s.instruction == model_->config().idcodeInstruction && s.tdo.size() >= 32) {
            ++totals_.idcodeReads;
            std::vector<bool> first(s.tdo.begin(), s.tdo.begin() + 32);
            log.line("JTAG IDCODE read: 0x%08llx", static_cast<unsigned long long>(jtagBitsToValue(first)));
        }
        log.line("JTAG %s scan, %zu bits%s: in %s, out %s", s.ir ? "IR" : "DR", s.tdi.size(),
                 s.updated ? "" : " (left without Update)", bitsHex(s.tdi).c_str(), bitsHex(s.tdo).c_str());
    }
    if (done != 0) {
        model_->clearHistory();
    }
}
