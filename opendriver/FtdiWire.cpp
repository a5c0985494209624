// The Wire over libftdi1 1.5 and, where libftdi loses what the D2XX layer
// needs (why a device cannot be opened, how many bytes a cut write moved),
// over libusb-1.0 directly on libftdi's own device handle.
#include <libusb.h>
#include <ftdi.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "Wire.h"
#include "platform/Platform.h"

struct WireList {
    ftdi_context* ctx = nullptr;  // handed to the port that opens through it
    ftdi_device_list* found = nullptr;
    std::vector<libusb_device*> devices;
};

struct WirePort {
    ftdi_context* ctx = nullptr;
    std::vector<unsigned char> raw;  // one IN transfer, modem status included
};

namespace {

thread_local std::string lastErrorText;

int fromLibusb(int e) {
    switch (e) {
    case LIBUSB_SUCCESS:
        return wireOk;
    case LIBUSB_ERROR_ACCESS:
        return wireAccessDenied;
    case LIBUSB_ERROR_BUSY:
        return wireBusy;
    case LIBUSB_ERROR_NO_DEVICE:
        return wireNoDevice;
    case LIBUSB_ERROR_TIMEOUT:
        return wireTimeout;
    default:
        return wireIoError;
    }
}

// libftdi's status of a control request: 0, or negative with the text kept.
int control(ftdi_context* ctx, int result) {
    if (result >= 0) {
        return wireOk;
    }
    lastErrorText = ftdi_get_error_string(ctx);
    return result == -666 ? wireNoDevice : wireIoError;
}

int listDevices(WireList** out) {
    *out = nullptr;
    auto* list = new WireList;
    list->ctx = ftdi_new();
    if (list->ctx == nullptr) {
        lastErrorText = "libusb could not start";
        delete list;
        return wireIoError;
    }
    // Vendor and product 0: every FTDI chip libftdi knows (6001, 6010, 6011, 6014, 6015).
    const int n = ftdi_usb_find_all(list->ctx, &list->found, 0, 0);
    if (n < 0) {
        lastErrorText = ftdi_get_error_string(list->ctx);
        ftdi_free(list->ctx);
        delete list;
        return wireIoError;
    }
    for (ftdi_device_list* d = list->found; d != nullptr; d = d->next) {
        list->devices.push_back(d->dev);
    }
    *out = list;
    return static_cast<int>(list->devices.size());
}

void freeList(WireList* list) {
    if (list->found != nullptr) {
        ftdi_list_free(&list->found);
    }
    if (list->ctx != nullptr) {
        ftdi_free(list->ctx);
    }
    delete list;
}

std::uint16_t productId(WireList* list, int device) {
    libusb_device_descriptor desc{};
    if (libusb_get_device_descriptor(list->devices[device], &desc) != 0) {
        return 0;
    }
    return desc.idProduct;
}

// Through libusb, not ftdi_usb_get_strings, which folds every reason a
// device cannot be opened into one code.
int readStrings(WireList* list, int device, std::string& description, std::string& serial) {
    description.clear();
    serial.clear();
    libusb_device* dev = list->devices[device];
    libusb_device_descriptor desc{};
    int r = libusb_get_device_descriptor(dev, &desc);
    if (r != 0) {
        lastErrorText = libusb_error_name(r);
        return fromLibusb(r);
    }
    libusb_device_handle* h = nullptr;
    r = libusb_open(dev, &h);
    if (r != 0) {
        lastErrorText = libusb_error_name(r);
        return fromLibusb(r);
    }
    unsigned char text[256];
    if (desc.iProduct != 0) {
        const int n = libusb_get_string_descriptor_ascii(h, desc.iProduct, text, sizeof text);
        if (n > 0) {
            description.assign(reinterpret_cast<char*>(text), static_cast<std::size_t>(n));
        }
    }
    if (desc.iSerialNumber != 0) {
        const int n = libusb_get_string_descriptor_ascii(h, desc.iSerialNumber, text, sizeof text);
        if (n > 0) {
            serial.assign(reinterpret_cast<char*>(text), static_cast<std::size_t>(n));
        }
    }
    libusb_close(h);
    return wireOk;
}

int open(WireList* list, int device, int channel, WirePort** port) {
    *port = nullptr;
    if (list->ctx == nullptr) {
        list->ctx = ftdi_new();
        if (list->ctx == nullptr) {
            return wireIoError;
        }
    }
    ftdi_context* ctx = list->ctx;
    if (ftdi_set_interface(ctx, static_cast<ftdi_interface>(INTERFACE_A + channel)) != 0) {
        lastErrorText = ftdi_get_error_string(ctx);
        return wireIoError;
    }
    const int r = ftdi_usb_open_dev(ctx, list->devices[device]);
    if (r != 0) {
        lastErrorText = ftdi_get_error_string(ctx);
        switch (r) {
        case -4:
            return wireAccessDenied;  // libusb_open
        case -3:
        case -5:
        case -11:
            return wireBusy;  // configuration, claim, kernel driver
        default:
            return wireIoError;
        }
    }
    // The port keeps the context (and its libusb session); the list makes
    // itself a new one should it be asked again.
    list->ctx = nullptr;
    *port = new WirePort{ctx, {}};
    return wireOk;
}

void close(WirePort* port) {
    ftdi_usb_close(port->ctx);
    ftdi_free(port->ctx);
    delete port;
}

// One bulk IN transfer, done here: ftdi_read_data asks the device again
// whenever a transfer brings fewer bytes than wanted, which costs an idle
// latency period per read, and it drops what a timed-out transfer brought.
int read(WirePort* port, std::uint8_t* buffer, int max) {
    ftdi_context* ctx = port->ctx;
    const int packet = static_cast<int>(ctx->max_packet_size);
    if (packet <= 2 || max < packet) {
        return wireIoError;
    }
    port->raw.resize(static_cast<std::size_t>(max));
    int got = 0;
    const int r = libusb_bulk_transfer(ctx->usb_dev, static_cast<unsigned char>(ctx->out_ep), port->raw.data(), max,
                                       &got, static_cast<unsigned>(ctx->usb_read_timeout));
    if (r != 0 && r != LIBUSB_ERROR_TIMEOUT) {
        lastErrorText = libusb_error_name(r);
        return fromLibusb(r);
    }
    // Every packet starts with the two modem-status bytes.
    int n = 0;
    for (int at = 0; at < got; at += packet) {
        const int size = std::min(packet, got - at);
        if (size > 2) {
            std::memcpy(buffer + n, port->raw.data() + at + 2, static_cast<std::size_t>(size - 2));
            n += size - 2;
        }
    }
    return n;
}

// libftdi's write gives up the count of a transfer that a time-out cut.
int write(WirePort* port, const std::uint8_t* data, int count, std::uint32_t timeoutMs, int* done) {
    *done = 0;
    const int r = libusb_bulk_transfer(port->ctx->usb_dev, static_cast<unsigned char>(port->ctx->in_ep),
                                       const_cast<std::uint8_t*>(data), count, done, timeoutMs);
    if (r != 0) {
        lastErrorText = libusb_error_name(r);
    }
    return fromLibusb(r);
}

int reset(WirePort* port) { return control(port->ctx, ftdi_usb_reset(port->ctx)); }

int purge(WirePort* port, bool rx, bool tx) {
    int r = wireOk;
    if (rx) {
        r = control(port->ctx, ftdi_tciflush(port->ctx));
    }
    if (tx && r == wireOk) {
        r = control(port->ctx, ftdi_tcoflush(port->ctx));
    }
    return r;
}

int setLatency(WirePort* port, std::uint8_t ms) {
    return control(port->ctx, ftdi_set_latency_timer(port->ctx, ms));
}

int setBitMode(WirePort* port, std::uint8_t mask, std::uint8_t mode) {
    return control(port->ctx, ftdi_set_bitmode(port->ctx, mask, mode));
}

int setFlowControl(WirePort* port, std::uint16_t flow, std::uint8_t xon, std::uint8_t xoff) {
    if (flow == SIO_XON_XOFF_HS) {
        return control(port->ctx, ftdi_setflowctrl_xonxoff(port->ctx, xon, xoff));
    }
    return control(port->ctx, ftdi_setflowctrl(port->ctx, flow));
}

int setBaudRate(WirePort* port, std::uint32_t baud) {
    return control(port->ctx, ftdi_set_baudrate(port->ctx, static_cast<int>(baud)));
}

int setLineProperty(WirePort* port, std::uint8_t bits, std::uint8_t stopBits, std::uint8_t parity) {
    return control(port->ctx,
                   ftdi_set_line_property(port->ctx, static_cast<ftdi_bits_type>(bits),
                                          static_cast<ftdi_stopbits_type>(stopBits),
                                          static_cast<ftdi_parity_type>(parity)));
}

int setTransferSizes(WirePort* port, std::uint32_t in, std::uint32_t out) {
    int r = control(port->ctx, ftdi_read_data_set_chunksize(port->ctx, in));
    if (r == wireOk) {
        r = control(port->ctx, ftdi_write_data_set_chunksize(port->ctx, out));
    }
    return r;
}

int packetSize(WirePort* port) { return static_cast<int>(port->ctx->max_packet_size); }

std::string lastError() { return lastErrorText; }

const Wire table = {
    listDevices, freeList,   productId,      readStrings, open,        close,
    read,        write,      reset,          purge,       setLatency,  setBitMode,
    setFlowControl, setBaudRate, setLineProperty, setTransferSizes, packetSize, lastError,
    platform::monotonicMs,
};

}  // namespace

const Wire& ftdiWire() { return table; }
