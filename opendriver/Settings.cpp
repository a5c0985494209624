// An open device's settings: time-outs, transfer sizes, latency, bit mode,
// and the serial-line calls, each checked as D2XX checks it.
#include "OpenDevices.h"

namespace d2xx {

FT_STATUS setTimeouts(const D2xxContext&, FT_HANDLE handle, ULONG readMs, ULONG writeMs) {
    return withDevice(handle, [&](Device& d) {
        d.readTimeoutMs = readMs;
        d.writeTimeoutMs = writeMs;
        return FT_OK;
    });
}

FT_STATUS setBaudRate(const D2xxContext&, FT_HANDLE handle, ULONG baud) {
    return withDevice(handle, [&](Device& d) {
        if (baud == 0 || baud > 0x7fffffff) {
            return FT_INVALID_BAUD_RATE;
        }
        const int r = d.wire->setBaudRate(d.port, baud);
        return r == wireIoError ? FT_INVALID_BAUD_RATE : statusOf(r);
    });
}

FT_STATUS setDataCharacteristics(const D2xxContext&, FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits, UCHAR parity) {
    return withDevice(handle, [&](Device& d) {
        if ((wordLength != 7 && wordLength != 8) || (stopBits != 0 && stopBits != 2) || parity > 4) {
            return FT_INVALID_PARAMETER;
        }
        return statusOf(d.wire->setLineProperty(d.port, wordLength, stopBits, parity));
    });
}

FT_STATUS setFlowControl(const D2xxContext&, FT_HANDLE handle, USHORT flowControl, UCHAR xon, UCHAR xoff) {
    return withDevice(handle, [&](Device& d) {
        if (flowControl != FT_FLOW_NONE && flowControl != FT_FLOW_RTS_CTS && flowControl != FT_FLOW_DTR_DSR &&
            flowControl != FT_FLOW_XON_XOFF) {
            return FT_INVALID_PARAMETER;
        }
        return statusOf(d.wire->setFlowControl(d.port, flowControl, xon, xoff));
    });
}

FT_STATUS setUSBParameters(const D2xxContext&, FT_HANDLE handle, ULONG inSize, ULONG outSize) {
    return withDevice(handle, [&](Device& d) {
        const int packet = d.wire->packetSize(d.port);
        // 0 leaves a size as it is.
        const DWORD in = inSize == 0 ? d.inSize : roundTransferSize(inSize, packet);
        const DWORD out = outSize == 0 ? d.outSize : roundTransferSize(outSize, packet);
        const int r = d.wire->setTransferSizes(d.port, in, out);
        if (r != wireOk) {
            return statusOf(r);
        }
        d.inSize = in;
        d.outSize = out;
        d.chunk.resize(in);
        return FT_OK;
    });
}

FT_STATUS setLatencyTimer(const D2xxContext&, FT_HANDLE handle, UCHAR ms) {
    return withDevice(handle, [&](Device& d) {
        if (ms == 0) {
            return FT_INVALID_PARAMETER;
        }
        return statusOf(d.wire->setLatency(d.port, ms));
    });
}

FT_STATUS setBitMode(const D2xxContext&, FT_HANDLE handle, UCHAR mask, UCHAR mode) {
    return withDevice(handle, [&](Device& d) { return statusOf(d.wire->setBitMode(d.port, mask, mode)); });
}

}  // namespace d2xx
