// The few USB operations the D2XX layer needs, as one table of function
// pointers. The shipped table drives libftdi1 (FtdiWire.cpp); the unit tests
// fill one with scripted answers. Every operation returns 0 or a WireError.
#pragma once

#include <cstdint>
#include <string>

enum WireError : int {
    wireOk = 0,
    wireAccessDenied = -1,  // no permission on the device node
    wireBusy = -2,          // another program or a kernel driver holds it
    wireNoDevice = -3,      // unplugged meanwhile
    wireTimeout = -4,       // nothing (more) accepted within the time-out
    wireIoError = -5,       // anything else
};

struct WireList;  // the devices found by one enumeration
struct WirePort;  // one open channel of one device

struct Wire {
    // Enumerates FTDI's chips (0403:6001, 6010, 6011, 6014, 6015); count >= 0 or an error.
    int (*listDevices)(WireList** list);
    void (*freeList)(WireList* list);
    std::uint16_t (*productId)(WireList* list, int device);
    // The product and serial strings; a missing string reads as "".
    int (*readStrings)(WireList* list, int device, std::string& description, std::string& serial);
    // channel: 0 = A, 1 = B, ...
    int (*open)(WireList* list, int device, int channel, WirePort** port);
    void (*close)(WirePort* port);
    // Payload bytes of one bulk IN transfer (modem status removed), at most
    // `max`: >= 0, 0 when the device had nothing within its latency period.
    int (*read)(WirePort* port, std::uint8_t* buffer, int max);
    // One bulk OUT transfer; `done` is what the device accepted, also on a
    // time-out or an error.
    int (*write)(WirePort* port, const std::uint8_t* data, int count, std::uint32_t timeoutMs, int* done);
    int (*reset)(WirePort* port);
    int (*purge)(WirePort* port, bool rx, bool tx);
    int (*setLatency)(WirePort* port, std::uint8_t ms);
    int (*setBitMode)(WirePort* port, std::uint8_t mask, std::uint8_t mode);
    int (*setFlowControl)(WirePort* port, std::uint16_t flow, std::uint8_t xon, std::uint8_t xoff);
    int (*setBaudRate)(WirePort* port, std::uint32_t baud);
    int (*setLineProperty)(WirePort* port, std::uint8_t bits, std::uint8_t stopBits, std::uint8_t parity);
    // Sizes of one bulk IN and one bulk OUT transfer, whole packets.
    int (*setTransferSizes)(WirePort* port, std::uint32_t in, std::uint32_t out);
    // 512 at high speed, 64 at full speed.
    int (*packetSize)(WirePort* port);
    // A short human text for the last failure of `open`, for the hint line.
    std::string (*lastError)();
    std::int64_t (*nowMs)();
};

// The libftdi1 table.
const Wire& ftdiWire();
