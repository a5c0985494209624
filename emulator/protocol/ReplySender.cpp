#include "ReplySender.h"

void ReplySender::send(std::uint8_t value, const char* what, bool pinTraffic) {
    const std::uint32_t number = ++replies_;
    if (dropped_.count(number) != 0) {
        trace_.note(formatText("%s: reply %u (0x%02x) not sent (drop_reply)", what, number, value));
        trace_.markOtherTraffic();
        return;
    }
    host_.bytes.push_back(value);
    host_.lastWasPins = pinTraffic;
    if (!pinTraffic || everyCall_) {
        trace_.note(formatText("%s: reply %u is 0x%02x", what, number, value));
    }
}
