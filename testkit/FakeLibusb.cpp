// A stand-in for libusb-1.0.so.0, for tests only: it shows libftdi1 an
// FT232H as the cartridge carries it (0403:6014, bcdDevice 0x0900, product
// "Vexlo", 512-byte bulk endpoints 0x02 and 0x81), answers the vendor
// requests libftdi sends, and moves the bulk data to and from the emulated
// cartridge. Every IN packet starts with the two modem-status bytes, a short
// packet ends a transfer, and an idle device answers one status-only packet
// per latency period.
//
// VEXLO_FAKE_USB holds the scenario, items separated by ';':
//   none            no FTDI device at all
//   denied          the cartridge cannot be opened (no permission)
//   busy            the cartridge's interface is held by another driver
//   noproduct       the cartridge has no product string
//   otherfirst      an FT232R with another description is listed first
//   refusingfirst   an FT232H that cannot be opened is listed first
//   fullspeed       64-byte packets
//   partialwrite=N  bulk OUT transfer N takes half of its bytes, then times out
//   stallwrite=N    bulk OUT transfer N takes nothing and times out
//   log=PATH        the control requests and bulk transfers, one per line
//   totals          log bulk transfers only as totals, at the end
// The emulated cartridge takes its own settings from VEXLO_EMULATOR.
#include <libusb.h>

#include <time.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "EmulatedCartridge.h"

#define FAKE_EXPORT __attribute__((visibility("default")))

struct libusb_context {
    int unused;
};

struct libusb_device {
    int refs;
    std::uint16_t vendor, product, bcdDevice;
    std::uint8_t bus, address;
    std::string product_string;  // "" : no product string
    std::string serial;
    int openError;   // libusb_open fails with this, or 0
    int claimError;  // libusb_claim_interface fails with this, or 0
    int packet;      // bulk endpoint size
    bool cartridge;  // the bytes go to the emulated cartridge
    libusb_endpoint_descriptor endpoints[2];
    libusb_interface_descriptor altsetting;
    libusb_interface interface;
    libusb_config_descriptor config;
};

struct libusb_device_handle {
    libusb_device* dev;
    bool claimed;
};

namespace {

struct Scenario {
    std::set<std::string> flags;
    long partialWrite = 0, stallWrite = 0;
    std::string log;
};

Scenario scenario() {
    Scenario s;
    const char* env = std::getenv("VEXLO_FAKE_USB");
    std::string text = env != nullptr ? env : "";
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(';', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string item = text.substr(start, end - start);
        const auto eq = item.find('=');
        if (eq == std::string::npos) {
            if (!item.empty()) {
                s.flags.insert(item);
            }
        } else {
            const std::string key = item.substr(0, eq), value = item.substr(eq + 1);
            if (key == "partialwrite") {
                s.partialWrite = std::strtol(value.c_str(), nullptr, 10);
            } else if (key == "stallwrite") {
                s.stallWrite = std::strtol(value.c_str(), nullptr, 10);
            } else if (key == "log") {
                s.log = value;
            }
        }
        start = end + 1;
    }
    return s;
}

// The bus as the scenario sets it up, and the emulated cartridge behind the
// one cartridge device, made on first use and kept for the process.
struct Bus {
    Scenario sc = scenario();
    std::vector<std::unique_ptr<libusb_device>> devices;
    std::FILE* log = nullptr;
    bool totals = sc.flags.count("totals") != 0;
    long idleIns = 0;  // status-only IN transfers not yet logged
    long outs = 0;     // bulk OUT transfers so far
    long dataIns = 0, allIdleIns = 0;

    EmulatorLog emulatorLog;
    std::unique_ptr<EmulatedCartridge> cart;
    FT_HANDLE cartHandle = nullptr;
    std::uint8_t latency = 16;

    Bus() {
        if (!sc.log.empty()) {
            log = std::fopen(sc.log.c_str(), "a");
        }
        const bool full = sc.flags.count("fullspeed") != 0;
        // A root hub, never an FTDI chip: libftdi must pass it by.
        add(0x1d6b, 0x0002, 0x0600, "Root hub", 0, 0, 64, false);
        if (sc.flags.count("none") == 0) {
            if (sc.flags.count("otherfirst") != 0) {
                add(0x0403, 0x6001, 0x0600, "FT232R USB UART", 0, 0, 64, false);
            }
            if (sc.flags.count("refusingfirst") != 0) {
                add(0x0403, 0x6014, 0x0900, "Vexlo", LIBUSB_ERROR_IO, 0, 512, false);
            }
            add(0x0403, 0x6014, 0x0900, sc.flags.count("noproduct") != 0 ? "" : "Vexlo",
                sc.flags.count("denied") != 0 ? LIBUSB_ERROR_ACCESS : 0,
                sc.flags.count("busy") != 0 ? LIBUSB_ERROR_BUSY : 0, full ? 64 : 512, true);
        }
    }

    void add(std::uint16_t vendor, std::uint16_t product, std::uint16_t bcd, const char* name, int openError,
             int claimError, int packet, bool cartridge) {
        auto d = std::make_unique<libusb_device>();
        d->refs = 1;
        d->vendor = vendor;
        d->product = product;
        d->bcdDevice = bcd;
        d->bus = 1;
        d->address = static_cast<std::uint8_t>(devices.size() + 2);
        d->product_string = name;
        d->serial = "VX" + std::to_string(1000 + devices.size());
        d->openError = openError;
        d->claimError = claimError;
        d->packet = packet;
        d->cartridge = cartridge;
        std::memset(d->endpoints, 0, sizeof d->endpoints);
        for (int i = 0; i < 2; ++i) {
            d->endpoints[i].bLength = LIBUSB_DT_ENDPOINT_SIZE;
            d->endpoints[i].bDescriptorType = LIBUSB_DT_ENDPOINT;
            d->endpoints[i].bmAttributes = LIBUSB_TRANSFER_TYPE_BULK;
            d->endpoints[i].wMaxPacketSize = static_cast<std::uint16_t>(packet);
        }
        d->endpoints[0].bEndpointAddress = 0x81;
        d->endpoints[1].bEndpointAddress = 0x02;
        std::memset(&d->altsetting, 0, sizeof d->altsetting);
        d->altsetting.bLength = LIBUSB_DT_INTERFACE_SIZE;
        d->altsetting.bDescriptorType = LIBUSB_DT_INTERFACE;
        d->altsetting.bNumEndpoints = 2;
        d->altsetting.bInterfaceClass = 0xff;
        d->altsetting.endpoint = d->endpoints;
        d->interface.altsetting = &d->altsetting;
        d->interface.num_altsetting = 1;
        std::memset(&d->config, 0, sizeof d->config);
        d->config.bLength = LIBUSB_DT_CONFIG_SIZE;
        d->config.bDescriptorType = LIBUSB_DT_CONFIG;
        d->config.bNumInterfaces = 1;
        d->config.bConfigurationValue = 1;
        d->config.MaxPower = 45;
        d->config.interface = &d->interface;
        devices.push_back(std::move(d));
    }

    void line(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
        if (log == nullptr) {
            return;
        }
        if (idleIns != 0 && !totals) {
            std::fprintf(log, "bulk-in idle x%ld\n", idleIns);
            idleIns = 0;
        }
        va_list ap;
        va_start(ap, fmt);
        std::vfprintf(log, fmt, ap);
        va_end(ap);
        std::fputc('\n', log);
        std::fflush(log);
    }

    EmulatedCartridge& cartridge() {
        if (!cart) {
            std::vector<std::string> problems;
            const EmulatorConfig config = loadEmulatorConfig(std::getenv(EMULATOR_ENV_VAR), problems);
            const std::string logPath = config.logPath.empty() ? config.outDir + "/emulator.log" : config.logPath;
            if (config.logPath.empty()) {
                std::error_code ec;
                std::filesystem::create_directories(config.outDir, ec);
            }
            emulatorLog.open(logPath);
            for (const auto& p : problems) {
                std::fprintf(stderr, "fake libusb: %s: %s\n", EMULATOR_ENV_VAR, p.c_str());
            }
            cart = std::make_unique<EmulatedCartridge>(config, emulatorLog);
        }
        return *cart;
    }

    ~Bus() {
        line("totals: %ld bulk-in with data, %ld bulk-in idle, %ld bulk-out", dataIns, allIdleIns, outs);
        line("end");
        if (cart) {
            cart->finishRun();
            cart.reset();
        }
        if (log != nullptr) {
            std::fclose(log);
        }
    }
};

Bus& bus() {
    static Bus b;
    return b;
}

void sleepMs(unsigned ms) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {
    }
}

libusb_context theContext;

// A vendor request of libftdi: what it does to the cartridge, and its log line.
int vendorRequest(libusb_device_handle* h, std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
                  std::uint16_t index, unsigned char* data, std::uint16_t length) {
    Bus& b = bus();
    const bool toCartridge = h->dev->cartridge && b.cartHandle != nullptr;
    EmulatedCartridge* cart = toCartridge ? &b.cartridge() : nullptr;
    if ((requestType & LIBUSB_ENDPOINT_IN) == 0) {
        switch (request) {
        case 0x00:  // reset, and the two flushes
            if (value == 0) {
                b.line("control reset");
                if (cart) cart->resetDevice(b.cartHandle);
            } else if (value == 2) {
                b.line("control tciflush");
                if (cart) cart->purge(b.cartHandle, FT_PURGE_RX);
            } else if (value == 1) {
                b.line("control tcoflush");
                if (cart) cart->purge(b.cartHandle, FT_PURGE_TX);
            } else {
                b.line("control reset value %u", value);
            }
            return 0;
        case 0x01:
            b.line("control modem-ctrl 0x%04x", value);
            return 0;
        case 0x02:
            b.line("control flow 0x%04x", index & 0xff00);
            if (cart) cart->setFlowControl(b.cartHandle, index & 0xff00, value & 0xff, value >> 8);
            return 0;
        case 0x03:
            b.line("control baudrate 0x%04x 0x%04x", value, index);
            return 0;
        case 0x04:
            b.line("control data 0x%04x", value);
            if (cart) {
                cart->setDataCharacteristics(b.cartHandle, value & 0xff, ((value >> 11) & 7) == 2 ? 2 : 0,
                                             (value >> 8) & 7);
            }
            return 0;
        case 0x06:
        case 0x07:
            b.line("control %s-char 0x%04x", request == 6 ? "event" : "error", value);
            return 0;
        case 0x09:
            b.line("control latency %u", value & 0xff);
            b.latency = static_cast<std::uint8_t>(value & 0xff);
            if (cart) cart->setLatencyTimer(b.cartHandle, b.latency);
            return 0;
        case 0x0b:
            b.line("control bitmode 0x%02x 0x%02x", value & 0xff, value >> 8);
            if (cart) cart->setBitMode(b.cartHandle, value & 0xff, value >> 8);
            return 0;
        default:
            b.line("control out request 0x%02x value 0x%04x index 0x%04x (unknown)", request, value, index);
            return LIBUSB_ERROR_PIPE;
        }
    }
    switch (request) {
    case 0x05:
        b.line("control modem-status");
        if (length < 2) return LIBUSB_ERROR_OVERFLOW;
        data[0] = 0x32;
        data[1] = 0x60;
        return 2;
    case 0x0a:
        b.line("control get-latency");
        if (length < 1) return LIBUSB_ERROR_OVERFLOW;
        data[0] = b.latency;
        return 1;
    case 0x0c:
        b.line("control read-pins");
        if (length < 1) return LIBUSB_ERROR_OVERFLOW;
        data[0] = 0xff;
        return 1;
    case 0x90:
        if (length < 2) return LIBUSB_ERROR_OVERFLOW;
        data[0] = data[1] = 0xff;  // an empty EEPROM
        return 2;
    default:
        b.line("control in request 0x%02x value 0x%04x index 0x%04x (unknown)", request, value, index);
        return LIBUSB_ERROR_PIPE;
    }
}

int standardRequest(libusb_device_handle* h, std::uint8_t request, std::uint16_t value, std::uint16_t index,
                    unsigned char* data, std::uint16_t length) {
    if (request != LIBUSB_REQUEST_GET_DESCRIPTOR || (value >> 8) != LIBUSB_DT_STRING) {
        return LIBUSB_ERROR_PIPE;
    }
    (void)index;
    const int i = value & 0xff;
    if (i == 0) {  // the language table: US English
        if (length < 4) return LIBUSB_ERROR_OVERFLOW;
        const unsigned char langs[4] = {4, LIBUSB_DT_STRING, 0x09, 0x04};
        std::memcpy(data, langs, 4);
        return 4;
    }
    const std::string text = i == 1 ? "FTDI" : i == 2 ? h->dev->product_string : i == 3 ? h->dev->serial : "";
    if (text.empty()) {
        return LIBUSB_ERROR_PIPE;
    }
    const int n = std::min<int>(static_cast<int>(2 + 2 * text.size()), length);
    data[0] = static_cast<unsigned char>(2 + 2 * text.size());
    data[1] = LIBUSB_DT_STRING;
    for (int k = 2; k + 1 < n; k += 2) {
        data[k] = static_cast<unsigned char>(text[(k - 2) / 2]);
        data[k + 1] = 0;
    }
    return n;
}

// The cartridge's bytes for the host, packet by packet.
int bulkIn(libusb_device_handle* h, unsigned char* data, int length, int* transferred) {
    Bus& b = bus();
    const int packet = h->dev->packet;
    if (!h->dev->cartridge || b.cartHandle == nullptr || length < 2) {
        return LIBUSB_ERROR_IO;
    }
    EmulatedCartridge& cart = b.cartridge();
    int out = 0;
    int payload = 0;
    while (length - out >= 2) {
        DWORD queued = 0, tx = 0, events = 0;
        cart.getStatus(b.cartHandle, &queued, &tx, &events);
        if (queued == 0 && out != 0) {
            break;
        }
        if (queued == 0) {
            // Idle: after one latency period, a packet of status bytes only.
            sleepMs(b.latency);
        }
        const int room = std::min(packet, length - out) - 2;
        const DWORD want = std::min<DWORD>(queued, static_cast<DWORD>(room));
        data[out] = 0x32;
        data[out + 1] = 0x60;
        DWORD got = 0;
        if (want != 0) {
            cart.read(b.cartHandle, data + out + 2, want, &got);
        }
        out += 2 + static_cast<int>(got);
        payload += static_cast<int>(got);
        if (2 + static_cast<int>(got) < packet) {
            break;  // a short packet ends the transfer
        }
    }
    *transferred = out;
    if (payload == 0) {
        ++b.idleIns;
        ++b.allIdleIns;
    } else {
        ++b.dataIns;
        if (!b.totals) {
            b.line("bulk-in %d", payload);
        }
    }
    return 0;
}

int bulkOut(libusb_device_handle* h, unsigned char* data, int length, int* transferred) {
    Bus& b = bus();
    if (!h->dev->cartridge || b.cartHandle == nullptr) {
        return LIBUSB_ERROR_IO;
    }
    const long number = ++b.outs;
    int offer = length;
    int result = 0;
    if (number == b.sc.partialWrite) {
        offer = length / 2;
        result = LIBUSB_ERROR_TIMEOUT;
    } else if (number == b.sc.stallWrite) {
        offer = 0;
        result = LIBUSB_ERROR_TIMEOUT;
    }
    DWORD written = 0;
    if (offer != 0) {
        b.cartridge().write(b.cartHandle, data, static_cast<DWORD>(offer), &written);
    }
    *transferred = static_cast<int>(written);
    if (!b.totals) {
        b.line("bulk-out %d accepted %d%s", length, *transferred, result != 0 ? " (time-out)" : "");
    }
    return result;
}

}  // namespace

extern "C" {

FAKE_EXPORT int libusb_init(libusb_context** ctx) {
    bus();
    if (ctx != nullptr) {
        *ctx = &theContext;
    }
    return 0;
}

FAKE_EXPORT void libusb_exit(libusb_context*) {}

FAKE_EXPORT const char* libusb_error_name(int code) {
    switch (code) {
    case LIBUSB_SUCCESS: return "LIBUSB_SUCCESS";
    case LIBUSB_ERROR_IO: return "LIBUSB_ERROR_IO";
    case LIBUSB_ERROR_ACCESS: return "LIBUSB_ERROR_ACCESS";
    case LIBUSB_ERROR_BUSY: return "LIBUSB_ERROR_BUSY";
    case LIBUSB_ERROR_TIMEOUT: return "LIBUSB_ERROR_TIMEOUT";
    case LIBUSB_ERROR_NO_DEVICE: return "LIBUSB_ERROR_NO_DEVICE";
    default: return "LIBUSB_ERROR_OTHER";
    }
}

FAKE_EXPORT ssize_t libusb_get_device_list(libusb_context*, libusb_device*** list) {
    Bus& b = bus();
    auto** out = static_cast<libusb_device**>(std::calloc(b.devices.size() + 1, sizeof(libusb_device*)));
    for (std::size_t i = 0; i < b.devices.size(); ++i) {
        out[i] = b.devices[i].get();
        ++out[i]->refs;
    }
    *list = out;
    return static_cast<ssize_t>(b.devices.size());
}

FAKE_EXPORT void libusb_free_device_list(libusb_device** list, int unrefDevices) {
    if (list == nullptr) {
        return;
    }
    if (unrefDevices != 0) {
        for (libusb_device** d = list; *d != nullptr; ++d) {
            --(*d)->refs;
        }
    }
    std::free(list);
}

FAKE_EXPORT libusb_device* libusb_ref_device(libusb_device* dev) {
    ++dev->refs;
    return dev;
}

FAKE_EXPORT void libusb_unref_device(libusb_device* dev) { --dev->refs; }

FAKE_EXPORT uint8_t libusb_get_bus_number(libusb_device* dev) { return dev->bus; }
FAKE_EXPORT uint8_t libusb_get_device_address(libusb_device* dev) { return dev->address; }

FAKE_EXPORT int libusb_get_device_descriptor(libusb_device* dev, libusb_device_descriptor* desc) {
    std::memset(desc, 0, sizeof *desc);
    desc->bLength = LIBUSB_DT_DEVICE_SIZE;
    desc->bDescriptorType = LIBUSB_DT_DEVICE;
    desc->bcdUSB = dev->packet == 512 ? 0x0200 : 0x0110;
    desc->bMaxPacketSize0 = 64;
    desc->idVendor = dev->vendor;
    desc->idProduct = dev->product;
    desc->bcdDevice = dev->bcdDevice;
    desc->iManufacturer = 1;
    desc->iProduct = dev->product_string.empty() ? 0 : 2;
    desc->iSerialNumber = 3;
    desc->bNumConfigurations = 1;
    return 0;
}

FAKE_EXPORT int libusb_get_config_descriptor(libusb_device* dev, uint8_t index, libusb_config_descriptor** config) {
    if (index != 0) {
        return LIBUSB_ERROR_NOT_FOUND;
    }
    *config = &dev->config;
    return 0;
}

FAKE_EXPORT void libusb_free_config_descriptor(libusb_config_descriptor*) {}

FAKE_EXPORT int libusb_open(libusb_device* dev, libusb_device_handle** handle) {
    if (dev->openError != 0) {
        return dev->openError;
    }
    *handle = new libusb_device_handle{dev, false};
    ++dev->refs;
    return 0;
}

FAKE_EXPORT int libusb_release_interface(libusb_device_handle* h, int) {
    Bus& b = bus();
    if (!h->claimed) {
        return LIBUSB_ERROR_NOT_FOUND;
    }
    h->claimed = false;
    if (h->dev->cartridge && b.cartHandle != nullptr) {
        b.line("release");
        b.cartridge().close(b.cartHandle);
        b.cartHandle = nullptr;
    }
    return 0;
}

FAKE_EXPORT void libusb_close(libusb_device_handle* h) {
    if (h == nullptr) {
        return;
    }
    if (h->claimed) {
        libusb_release_interface(h, 0);
    }
    --h->dev->refs;
    delete h;
}

FAKE_EXPORT int libusb_get_configuration(libusb_device_handle*, int* config) {
    *config = 1;
    return 0;
}

FAKE_EXPORT int libusb_set_configuration(libusb_device_handle*, int config) {
    return config == 1 || config == -1 ? 0 : LIBUSB_ERROR_NOT_FOUND;
}

FAKE_EXPORT int libusb_detach_kernel_driver(libusb_device_handle*, int) { return LIBUSB_ERROR_NOT_FOUND; }

FAKE_EXPORT int libusb_set_auto_detach_kernel_driver(libusb_device_handle*, int) { return 0; }

FAKE_EXPORT int libusb_claim_interface(libusb_device_handle* h, int interfaceNumber) {
    Bus& b = bus();
    if (interfaceNumber != 0) {
        return LIBUSB_ERROR_NOT_FOUND;
    }
    if (h->dev->claimError != 0) {
        return h->dev->claimError;
    }
    if (h->dev->cartridge) {
        if (b.cartHandle != nullptr) {
            return LIBUSB_ERROR_BUSY;  // claimed through another handle
        }
        FT_HANDLE ft = nullptr;
        if (b.cartridge().openEx(const_cast<char*>("Vexlo"), FT_OPEN_BY_DESCRIPTION, &ft) != FT_OK) {
            return LIBUSB_ERROR_NO_DEVICE;
        }
        b.cartHandle = ft;
        b.line("claim");
    }
    h->claimed = true;
    return 0;
}

FAKE_EXPORT int libusb_control_transfer(libusb_device_handle* h, uint8_t requestType, uint8_t request,
                                        uint16_t value, uint16_t index, unsigned char* data, uint16_t length,
                                        unsigned int) {
    if ((requestType & (3 << 5)) == LIBUSB_REQUEST_TYPE_VENDOR) {
        return vendorRequest(h, requestType, request, value, index, data, length);
    }
    return standardRequest(h, request, value, index, data, length);
}

FAKE_EXPORT int libusb_get_string_descriptor_ascii(libusb_device_handle* h, uint8_t index, unsigned char* data,
                                                   int length) {
    if (index == 0) {
        return LIBUSB_ERROR_INVALID_PARAM;
    }
    unsigned char raw[256];
    const int n = standardRequest(h, LIBUSB_REQUEST_GET_DESCRIPTOR, static_cast<uint16_t>((LIBUSB_DT_STRING << 8) | index),
                                  0x0409, raw, sizeof raw);
    if (n < 0) {
        return n;
    }
    int out = 0;
    for (int k = 2; k + 1 < n && out < length - 1; k += 2) {
        data[out++] = raw[k + 1] == 0 ? raw[k] : '?';
    }
    data[out] = 0;
    return out;
}

FAKE_EXPORT int libusb_bulk_transfer(libusb_device_handle* h, unsigned char endpoint, unsigned char* data,
                                     int length, int* transferred, unsigned int) {
    int dummy = 0;
    if (transferred == nullptr) {
        transferred = &dummy;
    }
    *transferred = 0;
    if (!h->claimed) {
        return LIBUSB_ERROR_IO;
    }
    if (endpoint == 0x81) {
        return bulkIn(h, data, length, transferred);
    }
    if (endpoint == 0x02) {
        return bulkOut(h, data, length, transferred);
    }
    return LIBUSB_ERROR_NOT_FOUND;
}

// libftdi's streaming and asynchronous calls; the driver uses neither.
FAKE_EXPORT libusb_transfer* libusb_alloc_transfer(int isoPackets) {
    const std::size_t size = sizeof(libusb_transfer) + sizeof(libusb_iso_packet_descriptor) * static_cast<std::size_t>(isoPackets);
    return static_cast<libusb_transfer*>(std::calloc(1, size));
}
FAKE_EXPORT void libusb_free_transfer(libusb_transfer* t) { std::free(t); }
FAKE_EXPORT int libusb_submit_transfer(libusb_transfer*) { return LIBUSB_ERROR_NOT_SUPPORTED; }
FAKE_EXPORT int libusb_cancel_transfer(libusb_transfer*) { return LIBUSB_ERROR_NOT_FOUND; }
FAKE_EXPORT int libusb_handle_events_timeout(libusb_context*, timeval*) { return 0; }
FAKE_EXPORT int libusb_handle_events_timeout_completed(libusb_context*, timeval*, int*) { return 0; }

}  // extern "C"
