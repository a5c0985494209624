// VexloServer: byte streams from the cartridge in, traces and replies out,
// through the recording fakes of the driver entry points.
#include <gtest/gtest.h>

#include <cstdio>
#include <sys/stat.h>
#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "AhdiImage.h"
#include "TextMatch.h"
#include "CartridgeCommands.h"
#include "Console.h"
#include "FakeDriver.h"
#include "VexloServer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string kBanner = "starting VexloServer\n\nrunning...\n";

// The located error line of the server for `message`, as a pattern.
std::string located(const std::string& message) {
    return "Error: -1: " + message + " (source/VexloServer/VexloServer.cpp #)\n";
}

Bytes sectorReply(const Bytes& data) {
    Bytes reply = {0x53, 0x59, 0x09, std::uint8_t(data.size()), std::uint8_t(data.size() >> 8)};
    reply.insert(reply.end(), data.begin(), data.end());
    const Bytes tail = {0x53, 0x59, 0x0B, 0x53, 0x59, 0x0B, 0, 0, 0};
    reply.insert(reply.end(), tail.begin(), tail.end());
    return reply;
}

Bytes request(int sector, int count) {
    return {0x53, 0x59, 0x0A, std::uint8_t(sector), std::uint8_t(sector >> 8), std::uint8_t(count)};
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

class VexloServerTest : public ::testing::Test {
protected:
    // One image for the suite: 512-byte sectors, 2 FATs of 5 sectors, 256
    // root entries, partition at sector 2, a few sectors with known bytes.
    static void SetUpTestSuite() {
        disk_ = new ahdi::AhdiImage;
        for (std::uint32_t s : {1u, 2u, 3u, 19u, 261u, 22867u}) {
            disk_->putSector(s, ahdi::pattern(s, 512));
        }
        path_ = new std::string(ahdi::tempImagePath("served.img"));
        ASSERT_TRUE(disk_->write(*path_));
    }
    static void TearDownTestSuite() {
        std::remove(path_->c_str());
        delete path_;
        delete disk_;
    }

    void SetUp() override {
        fakeDriver().reset();
        installFakes(link_);
    }

    // Starts on the suite's image and forgets the banner output.
    void startLoaded() {
        server_.Start(path_->c_str());
        ASSERT_NE(server_.image.pImage, nullptr);
        outSeen_ = console_.out().size();
        errSeen_ = console_.err().size();
    }
    void startWithoutImage() {
        server_.Start("");
        outSeen_ = console_.out().size();
        errSeen_ = console_.err().size();
    }
    // Runs the loop until the cartridge's bytes are used up.
    void serve(const Bytes& stream) {
        fakeDriver().queueRx(stream);
        int passes = 0;
        while (!fakeDriver().rx.empty()) {
            server_.ServeOnce();
            ASSERT_LT(++passes, 1000);
        }
    }
    std::string out() { return console_.out().substr(outSeen_); }
    std::string err() { return console_.err().substr(errSeen_); }
    std::vector<Bytes> writes() {
        std::vector<Bytes> all;
        for (const FakeCall& call : fakeDriver().callsOf("FT_Write")) {
            all.push_back(call.data);
        }
        return all;
    }

    static Bytes sectors(int first, int count) {
        Bytes all;
        for (int s = first; s < first + count; ++s) {
            const Bytes one = s == 0 ? disk_->bootSector() : ahdi::pattern(std::uint32_t(s), 512);
            all.insert(all.end(), one.begin(), one.end());
        }
        return all;
    }

    static ahdi::AhdiImage* disk_;
    static std::string* path_;
    ConsoleCapture console_;
    CartridgeLink link_{};
    VexloServer server_{&link_, nullptr};
    std::size_t outSeen_ = 0;
    std::size_t errSeen_ = 0;
};

ahdi::AhdiImage* VexloServerTest::disk_ = nullptr;
std::string* VexloServerTest::path_ = nullptr;

TEST_F(VexloServerTest, StartPrintsBannerAndLoadsOnlyAGivenImage) {
    server_.Start(path_->c_str());
    EXPECT_EQ(console_.out(), "starting VexloServer\n\nusing drive image: " + *path_ + "\n\nrunning...\n");
    EXPECT_NE(server_.image.pImage, nullptr);
    EXPECT_EQ(server_.image.bytesPerSector, 512);

    VexloServer bare(&link_, nullptr);
    ConsoleCapture console;
    bare.Start("");
    EXPECT_EQ(console.out(), kBanner);
    EXPECT_EQ(bare.image.pImage, nullptr);
    EXPECT_TRUE(fakeDriver().calls.empty());
}

TEST_F(VexloServerTest, AnswersRequestsWithTraceAndReply) {
    startLoaded();
    struct Case {
        Bytes stream;
        const char* trace;
        Bytes reply;
    };
    const Case cases[] = {
        {request(0, 1), "read sector 0 boot \n", sectorReply(sectors(0, 1))},
        {{0x53, 0x59, 0x0A, 0x05, 0x01, 0x01}, "read sector 261 data \n", sectorReply(sectors(261, 1))},
        {request(1, 3), "read sector 1-4 fat \n", sectorReply(sectors(1, 3))},
        {request(7, 0), "read sector 7-7 fat \n", sectorReply({})},
        // Sync bytes inside the payload are data: lengths are known in advance.
        {{0x53, 0x59, 0x0A, 0x53, 0x59, 0x01}, "read sector 22867 data \n", sectorReply(sectors(22867, 1))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.trace);
        fakeDriver().calls.clear();
        const std::size_t outBefore = out().size();
        serve(c.stream);
        EXPECT_EQ(out().substr(outBefore), c.trace);
        ASSERT_EQ(writes().size(), 1u);
        EXPECT_EQ(writes()[0], c.reply);
    }
    EXPECT_EQ(sectorReply(sectors(0, 1)).size(), 526u);
    EXPECT_EQ(sectorReply({}), Bytes({0x53, 0x59, 9, 0, 0, 0x53, 0x59, 11, 0x53, 0x59, 11, 0, 0, 0}));
    EXPECT_EQ(err(), "");
}

// The server runs until it is killed, so its lines must not wait in the
// stream's buffer (the capture file is fully buffered, like a pipe).
TEST_F(VexloServerTest, OutputIsOnItsWayBeforeTheNextPoll) {
    const auto bytesInFile = [] {
        struct stat info{};
        fstat(fileno(consoleOut), &info);
        return static_cast<std::size_t>(info.st_size);
    };
    consolePrintf("Time to execute 0.00\n\n");
    server_.Start(path_->c_str());
    const std::size_t afterStart = bytesInFile();
    EXPECT_EQ(afterStart, console_.out().size());
    fakeDriver().queueRx(request(0, 1));
    server_.ServeOnce();
    EXPECT_GT(bytesInFile(), afterStart);
    EXPECT_EQ(bytesInFile(), console_.out().size());
}

TEST_F(VexloServerTest, TracesTheAreaOfTheFirstSector) {
    startLoaded();  // 2 FATs of 5 sectors, 256 root entries: 8 directory sectors
    const std::pair<int, const char*> cases[] = {
        {0, "boot"}, {1, "fat"}, {10, "fat"}, {11, "dir"}, {18, "dir"}, {19, "data"}, {20000, "data"},
    };
    std::string expected;
    for (const auto& [sector, area] : cases) {
        serve(request(sector, 1));
        expected += "read sector " + std::to_string(sector) + " " + area + " \n";
    }
    EXPECT_EQ(out(), expected);
    EXPECT_EQ(writes().size(), std::size(cases));
}

TEST_F(VexloServerTest, SyncRules) {
    startLoaded();
    struct Case {
        const char* name;
        Bytes stream;
        std::size_t replies;
    };
    const Case cases[] = {
        {"noise before a frame", concat({{0x00, 0xFF, 0x59}, request(0, 1)}), 1},
        {"S then non-Y, then a frame", concat({{0x53, 0x00}, request(0, 1)}), 1},
        {"S S Y is not a frame", concat({{0x53}, request(0, 1)}), 0},
        {"Y S Y is a frame", concat({{0x59}, request(0, 1)}), 1},
        {"two frames back to back", concat({request(0, 1), request(1, 1)}), 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fakeDriver().calls.clear();
        serve(c.stream);
        EXPECT_EQ(writes().size(), c.replies);
    }
    EXPECT_EQ(err(), "") << "bytes outside a frame are dropped silently";
}

TEST_F(VexloServerTest, UnknownCommandIsReportedAndServingGoesOn) {
    startLoaded();
    for (int command : {0, 7, 9, 11, 255}) {
        SCOPED_TRACE(command);
        const std::size_t errBefore = err().size();
        fakeDriver().calls.clear();
        serve(concat({{0x53, 0x59, std::uint8_t(command), 0x00, 0x00, 0x01}, request(0, 1)}));
        const std::string line = "Error: -1: VexloServer::Handle unknown cmd " + std::to_string(command) +
                                 " (source/VexloServer/VexloServer.cpp #) \n";
        EXPECT_TRUE(matchesWithNumbers(err().substr(errBefore), line)) << err().substr(errBefore);
        EXPECT_EQ(writes().size(), 1u);
    }
}

TEST_F(VexloServerTest, PollsTheReceiveQueueWithoutPause) {
    startLoaded();
    installFakeClock();
    int polls = 0;
    fakeDriver().onGetStatus = [&polls](DWORD* rx) {
        *rx = ++polls < 4 ? 0 : DWORD(fakeDriver().rx.size());
        return FT_OK;
    };
    fakeDriver().queueRx(request(0, 1));
    server_.ServeOnce();
    restoreClock();
    const std::vector<std::string> expected = {"FT_GetStatus", "FT_GetStatus", "FT_GetStatus", "FT_GetStatus",
                                               "FT_Read",      "FT_Read",      "FT_Read",      "FT_Read",
                                               "FT_Read",      "FT_Write"};
    EXPECT_EQ(fakeDriver().sequence(), expected);
    const std::vector<std::uint32_t> readSizes = {1, 1, 1, 2, 1};
    std::vector<std::uint32_t> sizes;
    for (const FakeCall& call : fakeDriver().callsOf("FT_Read")) {
        sizes.push_back(call.args[0]);
    }
    EXPECT_EQ(sizes, readSizes);
}

// Each read of the loop scripted: a status and the bytes handed out.
struct ReadStep {
    FT_STATUS status;
    Bytes data;
};

TEST_F(VexloServerTest, FailedReadsAndWritesAreReportedAndServingGoesOn) {
    startLoaded();
    const FT_STATUS bad = FT_IO_ERROR;
    struct Case {
        const char* name;
        std::vector<ReadStep> reads;
        FT_STATUS writeStatus;
        const char* trace;
        const char* error;  // null: nothing on standard error
        std::size_t writes;
    };
    const Case cases[] = {
        {"sync1 error", {{bad, {}}}, FT_OK, "", "VexloServer::Serve sync1 read failed", 0},
        {"sync1 no byte", {{FT_OK, {}}}, FT_OK, "", "VexloServer::Serve sync1 read failed", 0},
        {"sync2 error", {{FT_OK, {0x53}}, {bad, {}}}, FT_OK, "", "VexloServer::Serve sync2 read failed", 0},
        {"sync2 no byte", {{FT_OK, {0x53}}, {FT_OK, {}}}, FT_OK, "", "VexloServer::Serve sync2 read failed", 0},
        {"cmd error", {{FT_OK, {0x53}}, {FT_OK, {0x59}}, {bad, {}}}, FT_OK, "", nullptr, 0},
        {"cmd no byte", {{FT_OK, {0x53}}, {FT_OK, {0x59}}, {FT_OK, {}}}, FT_OK, "",
         "VexloServer::Serve cmd read failed", 0},
        {"sector number error", {{FT_OK, {0x53}}, {FT_OK, {0x59}}, {FT_OK, {0x0A}}, {bad, {}}}, FT_OK, "",
         "VexloServer::Handle cmdReadSector get sector number failed", 0},
        {"sector number one byte", {{FT_OK, {0x53}}, {FT_OK, {0x59}}, {FT_OK, {0x0A}}, {FT_OK, {0x00}}}, FT_OK, "",
         "VexloServer::Handle cmdReadSector get sector number failed", 0},
        {"count error",
         {{FT_OK, {0x53}}, {FT_OK, {0x59}}, {FT_OK, {0x0A}}, {FT_OK, {0x00, 0x00}}, {bad, {}}},
         FT_OK, "", "VexloServer::Handle cmdReadSector get sector count failed", 0},
        {"count no byte",
         {{FT_OK, {0x53}}, {FT_OK, {0x59}}, {FT_OK, {0x0A}}, {FT_OK, {0x00, 0x00}}, {FT_OK, {}}},
         FT_OK, "", "VexloServer::Handle cmdReadSector get sector count failed", 0},
        {"write error",
         {{FT_OK, {0x53}}, {FT_OK, {0x59}}, {FT_OK, {0x0A}}, {FT_OK, {0x00, 0x00}}, {FT_OK, {0x01}}},
         bad, "read sector 0 boot \n", "VexloServer::Handle upload sector failed", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fakeDriver().calls.clear();
        const std::size_t outBefore = out().size();
        const std::size_t errBefore = err().size();
        std::deque<ReadStep> script(c.reads.begin(), c.reads.end());
        fakeDriver().onGetStatus = [](DWORD* rx) {
            *rx = 1;
            return FT_OK;
        };
        fakeDriver().onRead = [&script](std::uint8_t* data, DWORD, DWORD* got) {
            if (script.empty()) {
                throw std::runtime_error("read past the script");
            }
            const ReadStep step = script.front();
            script.pop_front();
            std::copy(step.data.begin(), step.data.end(), data);
            *got = DWORD(step.data.size());
            return step.status;
        };
        const FT_STATUS writeStatus = c.writeStatus;
        fakeDriver().onWrite = [writeStatus](const std::uint8_t*, DWORD count, DWORD* written) {
            *written = writeStatus == FT_OK ? count : 0;
            return writeStatus;
        };
        server_.ServeOnce();
        EXPECT_TRUE(script.empty()) << "every scripted read is used by one pass";
        EXPECT_EQ(out().substr(outBefore), c.trace);
        if (c.error == nullptr) {
            EXPECT_EQ(err().substr(errBefore), "");
        } else {
            EXPECT_TRUE(matchesWithNumbers(err().substr(errBefore), located(c.error)))
                << err().substr(errBefore);
        }
        EXPECT_EQ(writes().size(), c.writes);
    }
}

TEST_F(VexloServerTest, MissingEntryPoints) {
    startLoaded();
    {
        SCOPED_TRACE("FT_GetStatus missing: reads at once");
        link_.FT_GetStatus = nullptr;
        serve(request(0, 1));
        EXPECT_EQ(out(), "Error: FT_GetStatus is not valid!\nread sector 0 boot \n");
        EXPECT_EQ(writes().size(), 1u);
        installFakes(link_);
    }
    {
        SCOPED_TRACE("FT_Write missing");
        link_.FT_Write = nullptr;
        const std::size_t outBefore = out().size();
        serve(request(0, 1));
        EXPECT_EQ(out().substr(outBefore), "read sector 0 boot \nError: FT_Write is not valid!\n");
        EXPECT_TRUE(matchesWithNumbers(err(), located("VexloServer::Handle upload sector failed")));
        installFakes(link_);
    }
    {
        SCOPED_TRACE("FT_Read missing");
        link_.FT_Read = nullptr;
        const std::size_t outBefore = out().size();
        const std::size_t errBefore = err().size();
        fakeDriver().queueRx({0x53});
        server_.ServeOnce();
        EXPECT_EQ(out().substr(outBefore), "Error: FT_Read is not valid!\n");
        EXPECT_TRUE(
            matchesWithNumbers(err().substr(errBefore), located("VexloServer::Serve sync1 read failed")));
    }
}

TEST_F(VexloServerTest, NoImageAnswersNothing) {
    startWithoutImage();
    serve(request(0, 1));
    EXPECT_EQ(out(), "read sector 0 boot \n");
    const std::string expected =
        "Assertion 'pImage' failed, file 'source/DriveImage/DriveImage.cpp' line '#'.\n" +
        located("VexloServer::Handle read sector failed");
    EXPECT_TRUE(matchesWithNumbers(err(), expected)) << err();
    EXPECT_TRUE(writes().empty());
}

// An image that cannot be served ends the server before its first poll:
// serving without it would leave every request unanswered.
TEST_F(VexloServerTest, ImageThatCannotBeServedEndsTheServer) {
    struct Case {
        const char* name;
        std::function<void(ahdi::AhdiImage&)> change;  // null: no file at all
        std::string message;                           // the image's own line, a pattern
    };
    const Case cases[] = {
        {"missing file", nullptr, "Assertion 'pFile' failed, file 'source/DriveImage/DriveImage.cpp' line '#'.\n"},
        {"bad root checksum", [](ahdi::AhdiImage& d) { d.rootWordSum = 0; }, "Bad root checksum (@)\n"},
        {"inactive partition", [](ahdi::AhdiImage& d) { d.partitionFlags = 0; }, "First partition not active (@)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = ahdi::tempImagePath("unservable.img");
        std::remove(path.c_str());
        if (c.change) {
            ahdi::AhdiImage disk;
            c.change(disk);
            ASSERT_TRUE(disk.write(path));
        }
        fakeDriver().reset();
        ConsoleCapture console;
        VexloServer server(&link_, nullptr);
        EXPECT_EQ(server.Serve(path.c_str()), -5);
        std::remove(path.c_str());
        EXPECT_EQ(console.out(), "starting VexloServer\n\nusing drive image: " + path + "\n\n");
        std::string message = c.message;
        if (const std::size_t at = message.find('@'); at != std::string::npos) {
            message.replace(at, 1, path);
        }
        EXPECT_TRUE(matchesWithNumbers(console.err(), message + "Vexlo: " + path +
                                                          " cannot be served; vexlo-image info " + path +
                                                          " shows what it holds.\n"))
            << console.err();
        EXPECT_EQ(server.image.pImage, nullptr);
        EXPECT_TRUE(fakeDriver().calls.empty()) << "not one poll";
    }
}

// A server with nothing to do pauses between polls after a run of busy
// ones; a request is answered at the first poll that sees it.
TEST_F(VexloServerTest, IdleServerPausesBetweenPolls) {
    startLoaded();
    installFakeClock();
    struct Case {
        int emptyPolls;
        int pauses;
    };
    const Case cases[] = {{0, 0}, {1000, 0}, {1001, 1}, {5000, 4000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.emptyPolls);
        fakeDriver().calls.clear();
        int polls = 0;
        fakeDriver().onGetStatus = [&polls, &c](DWORD* rx) {
            *rx = polls++ < c.emptyPolls ? 0 : DWORD(fakeDriver().rx.size());
            return FT_OK;
        };
        fakeDriver().queueRx(request(0, 1));
        server_.ServeOnce();
        EXPECT_EQ(polls, c.emptyPolls + 1);
        EXPECT_EQ(int(fakeDriver().callsOf("pause").size()), c.pauses);
        EXPECT_EQ(writes().size(), 1u);
    }
    restoreClock();
}

TEST_F(VexloServerTest, RefusesRepliesTheBufferOrLengthCannotHold) {
    startLoaded();
    struct Case {
        std::uint16_t bytesPerSector;
        int first;
        int count;
        std::size_t replyBytes;  // 0: refused
    };
    const Case cases[] = {
        {512, 0, 31, 15872 + 14},   // the largest reply of 512-byte sectors
        {512, 0, 32, 0},            // 16384 + 14 bytes do not fit
        {1024, 0, 15, 15360 + 14},
        {1024, 0, 16, 0},
        {4096, 0, 16, 0},           // 65536 bytes: the 16-bit length would read 0
        {8192, 0, 8, 0},
        {512, 40957, 1, 512 + 14},  // the window's last sector
        {512, 40958, 1, 0},         // past the end of the window
        {512, 65535, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.bytesPerSector) + " x " + std::to_string(c.count) + " from " +
                     std::to_string(c.first));
        server_.image.bytesPerSector = c.bytesPerSector;
        fakeDriver().calls.clear();
        const std::size_t errBefore = err().size();
        serve(request(c.first, c.count));
        if (c.replyBytes == 0) {
            EXPECT_TRUE(writes().empty());
            EXPECT_TRUE(matchesWithNumbers(err().substr(errBefore),
                                         located("VexloServer::Handle read sector failed")))
                << err().substr(errBefore);
        } else {
            ASSERT_EQ(writes().size(), 1u);
            const Bytes reply = writes()[0];
            EXPECT_EQ(reply.size(), c.replyBytes);
            const std::size_t m = c.replyBytes - 14;
            EXPECT_EQ(reply[3] | reply[4] << 8, int(m));
            EXPECT_EQ(Bytes(reply.end() - 9, reply.end()), Bytes({0x53, 0x59, 11, 0x53, 0x59, 11, 0, 0, 0}));
            EXPECT_EQ(err().substr(errBefore), "");
        }
    }
}

}  // namespace
