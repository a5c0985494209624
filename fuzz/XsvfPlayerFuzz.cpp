// The XSVF player on hostile files: the whole input is the file, played
// through the real handlers, shift engine, TAP walk and pin driver. The fake
// cartridge checks every write for the pin command format and answers each
// TDO read with the next bit of the input, taken from its last byte
// backwards. Once those bits are used up it answers nothing, as a cartridge
// does whose read times out; after a few such time-outs the cartridge counts
// as gone and the run is stopped (a real run would wait 9 s for each).
//
// A run must end: every loop of the player reads the file or the TDO answers,
// or is bounded (256 attempts of a shift, 255 XSDRINC pieces, waits on a clock
// that here advances a minute per reading). A run that keeps the link busy
// for too long without either is reported as an endless loop.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "CartridgeCommands.h"
#include "FuzzSupport.h"
#include "JtagDevice.h"
#include "PinDriver.h"
#include "XsvfHandlers.h"
#include "XsvfPlayer.h"

namespace {

// Link traffic, in calls plus one per 64 bytes written, that the player may
// spend without reading a file byte or a TDO answer. The largest legitimate
// stretches stay below 2^20: a 56000-bit shift without capture (about 340000
// calls), or 256 block shifts of 4097 bits (the attempts of one shift, or the
// pieces of an XSDRINC at the end of the file) with their TAP moves and waits.
// Shifts with capture read TDO on every bit.
constexpr std::uint64_t STALL_LIMIT = std::uint64_t{1} << 22;
// A run that has done this much, all of it with progress, is legitimate but
// slow; it is stopped so that the fuzzer can go on.
constexpr std::uint64_t WORK_LIMIT = std::uint64_t{1} << 23;
// Unanswered TDO reads before the cartridge counts as gone.
constexpr int SILENT_READS = 64;
constexpr std::uint64_t POSITION_CHECK_EVERY = 4096;
constexpr std::uint8_t HOST_PINS = PIN_TDI | PIN_TCK | PIN_TMS;
constexpr DWORD WAIT_BLOCK_BYTES = 32 * sizeof(PinRecord);

enum class Expect { command, pinByte, tdoRead };

// The cartridge's view of the TAP controller, driven only by the pin levels on
// the wire: after a run it must be where the player believes it is.
struct TapModel {
    bool known = false;  // five TMS-high clocks make any TAP reach RESET
    int tmsHighRun = 0;
    std::uint8_t state = TAP_RESET;
    bool tck = false;

    void clock(bool tms) {
        tmsHighRun = tms ? tmsHighRun + 1 : 0;
        // The JTAG model's transition table, not the player's walk, is the referee.
        state = static_cast<std::uint8_t>(jtagNextState(state, tms));
        if (tmsHighRun >= 5) {
            known = true;
            state = TAP_RESET;
        }
    }
    // cmdSetPins: the TAP moves on a rising TCK edge.
    void setPins(std::uint8_t pins) {
        const bool high = (pins & PIN_TCK) != 0;
        if (high && !tck) {
            clock((pins & PIN_TMS) != 0);
        }
        tck = high;
    }
    // cmdClockPins: one full clock at the byte's TMS level.
    void clockPins(std::uint8_t pins) {
        clock((pins & PIN_TMS) != 0);
        tck = true;
    }
};

struct Cartridge {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t tdoBitsUsed = 0;
    int silentReads = 0;
    Expect expect = Expect::command;
    TapModel tap;
    // An XWAIT in a state that TCK clocks at the held TMS level leave (Exit,
    // Select, Capture, Update) moves the TAP during the wait while the
    // player's record keeps the wait state. The format has waits in stable
    // states only; after such a file the two may differ.
    bool movedByWait = false;
    std::uint64_t work = 0;
    std::uint64_t sinceProgress = 0;
    std::uint64_t longestStall = 0;
    std::uint64_t nextPositionCheck = 0;
    long lastPosition = 0;
};

Cartridge g_cart;
CartridgeLink g_link;

void progress() { g_cart.sinceProgress = 0; }

void account(std::uint64_t cost) {
    g_cart.work += cost;
    g_cart.sinceProgress += cost;
    if (g_cart.work >= g_cart.nextPositionCheck) {
        g_cart.nextPositionCheck = g_cart.work + POSITION_CHECK_EVERY;
        const long position = std::ftell(xsvfFile);
        if (position != g_cart.lastPosition) {
            g_cart.lastPosition = position;
            progress();
        }
    }
    if (g_cart.sinceProgress > g_cart.longestStall) {
        g_cart.longestStall = g_cart.sinceProgress;
    }
    if (g_cart.sinceProgress > STALL_LIMIT) {
        fuzz::fault("the player keeps the link busy without reading the file or TDO: endless loop");
    }
    if (g_cart.work > WORK_LIMIT) {
        throw fuzz::StopRun{};
    }
}

bool validRecord(const std::uint8_t* r) {
    return r[0] == SYNC1 && r[1] == SYNC2 && (r[2] == cmdSetPins || r[2] == cmdClockPins) &&
           (r[3] & ~HOST_PINS) == 0;
}

FT_STATUS FT_API checkingWrite(FT_HANDLE handle, void* buffer, DWORD count, DWORD* written) {
    FUZZ_CHECK(handle == g_link.deviceHandle);
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    account(1 + count / 64);
    switch (g_cart.expect) {
        case Expect::pinByte:
            // The byte behind a cmdSetPins header: only the three host pins.
            FUZZ_CHECK(count == 1);
            FUZZ_CHECK((bytes[0] & ~HOST_PINS) == 0);
            g_cart.tap.setPins(bytes[0]);
            g_cart.expect = Expect::command;
            break;
        case Expect::tdoRead:
            fuzz::fault("a write came where the cmdReadPins answer should have been read");
        case Expect::command:
            if (count == 3) {
                FUZZ_CHECK(bytes[0] == SYNC1 && bytes[1] == SYNC2);
                FUZZ_CHECK(bytes[2] == cmdSetPins || bytes[2] == cmdReadPins);
                g_cart.expect = bytes[2] == cmdSetPins ? Expect::pinByte : Expect::tdoRead;
            } else {
                // Clock records of a wait or a block shift: whole records, each
                // built from known pin levels, never more than the block buffer.
                FUZZ_CHECK(count >= sizeof(PinRecord) && count % sizeof(PinRecord) == 0);
                FUZZ_CHECK(count <= BLOCK_BUFFER_BYTES);
                const std::uint8_t before = g_cart.tap.state;
                for (DWORD i = 0; i < count; i += sizeof(PinRecord)) {
                    FUZZ_CHECK(validRecord(bytes + i));
                    if (bytes[i + 2] == cmdSetPins) {
                        g_cart.tap.setPins(bytes[i + 3]);
                    } else {
                        g_cart.tap.clockPins(bytes[i + 3]);
                    }
                }
                if (count == WAIT_BLOCK_BYTES && g_cart.tap.state != before) {
                    g_cart.movedByWait = true;
                }
            }
            break;
    }
    *written = count;
    return FT_OK;
}

FT_STATUS FT_API tdoRead(FT_HANDLE handle, void* buffer, DWORD count, DWORD* got) {
    FUZZ_CHECK(handle == g_link.deviceHandle);
    FUZZ_CHECK(g_cart.expect == Expect::tdoRead);
    FUZZ_CHECK(count == 1);
    g_cart.expect = Expect::command;
    account(1);
    if (g_cart.tdoBitsUsed >= 8 * g_cart.size) {
        if (++g_cart.silentReads > SILENT_READS) {
            throw fuzz::StopRun{};
        }
        *got = 0;  // read time-out: the buffer is left as it was
        return FT_OK;
    }
    const std::size_t bit = g_cart.tdoBitsUsed++;
    const std::uint8_t source = g_cart.data[g_cart.size - 1 - bit / 8];
    // The other bits of the answer are whatever the cartridge had on its port.
    *static_cast<std::uint8_t*>(buffer) =
        static_cast<std::uint8_t>(((source >> (bit % 8)) & 1) != 0 ? (source | PIN_TDO) : (source & ~PIN_TDO));
    *got = 1;
    progress();
    return FT_OK;
}

// The player's record: seven vectors of 7000 bytes, too big for the stack.
SXsvfInfo g_info;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceConsole();
    fuzz::installClock(60000);
    fuzz::installQuietDriver(g_link);
    g_link.FT_Write = checkingWrite;
    g_link.FT_Read = tdoRead;
    linkPtr = &g_link;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    g_cart = Cartridge{};
    g_cart.data = data;
    g_cart.size = size;
    pinShadow = 0;
    fpgaBlockCount = 0;
    xsvfFile = fuzz::openBytes(data, size);
    if (xsvfFile == nullptr) {
        fuzz::fault("cannot open the input as a stream");
    }

    int result = -1;
    bool stopped = false;
    try {
        result = playXsvf(g_info);
    } catch (const fuzz::StopRun&) {
        stopped = true;
    }
    std::fclose(xsvfFile);
    xsvfFile = nullptr;

    // For tuning the limits: VEXLO_FUZZ_STATS=1 prints what each run cost.
    static const bool stats = std::getenv("VEXLO_FUZZ_STATS") != nullptr;
    if (stats) {
        std::fprintf(stderr, "fuzz: result %d%s%s, work %llu, longest stretch without input %llu\n", result,
                     stopped ? " (stopped)" : "", g_cart.movedByWait ? " (a wait moved the TAP)" : "",
                     static_cast<unsigned long long>(g_cart.work), static_cast<unsigned long long>(g_cart.longestStall));
    }
    if (!stopped) {
        FUZZ_CHECK(result >= ERR_NONE && result <= ERR_DATA_OVERFLOW);
        FUZZ_CHECK(result == g_info.errorCode);
        FUZZ_CHECK((result == ERR_NONE) == (g_info.completed == 1));
        FUZZ_CHECK(g_cart.expect == Expect::command);
        FUZZ_CHECK(g_info.sdrSizeBytes >= 0 && g_info.sdrSizeBytes <= MAX_LEN);
        FUZZ_CHECK(g_info.tapState < TAP_STATE_COUNT);
        FUZZ_CHECK(g_cart.tap.known);
        FUZZ_CHECK(g_cart.movedByWait || g_cart.tap.state == g_info.tapState);
    }
    return 0;
}
