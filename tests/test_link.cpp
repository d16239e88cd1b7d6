// Frame codec, receive path, open failures, the echo check and the one
// exchange (a request and the wait for its reply), over a pseudo-terminal
// with a scripted peer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/clock.h"
#include "tests/support/support.h"
#include "rt/rt_testing.h"
#include "app/app.h"
#include "link/frame.h"
#include "params/vars.h"

namespace {

std::string Bytes(const char *buf, size_t n) { return std::string(buf, n); }

// ---- frame codec -----------------------------------------------------------

struct TxCase {
    const char *name;
    int order;
    uint16_t words[PNUM];
    const char *expect;   // 36 bytes
};

// clang-format off
const TxCase kTxCases[] = {
    {"echo, all zero", 5, {0},
     "\x00\x55\x00\x05" "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
     "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"},
    {"calibration store: slope and intersect", 12, {2, 34048, 29879},
     "\x00\x55\x00\x0C" "\x00\x02\x85\x00\x74\xB7\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
     "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"},
    {"parameter set, high bytes and word 15", 1,
     {500, 1, 512, 7, 1, 4, 1, 2048, 1024, 100, 1, 3, 65535, 60000, 1024, 0xABCD},
     "\x00\x55\x00\x01" "\x01\xF4\x00\x01\x02\x00\x00\x07\x00\x01\x00\x04\x00\x01\x08\x00"
     "\x04\x00\x00\x64\x00\x01\x00\x03\xFF\xFF\xEA\x60\x04\x00\xAB\xCD"},
    {"order above 255", 0x1234, {0xFFFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0001},
     "\x00\x55\x12\x34" "\xFF\xFF\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
     "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x01"},
};
// clang-format on

TEST(FrameCodec, TransmitFrameBytes) {
    sync = 0x55;
    for (const TxCase &c : kTxCases) {
        std::memset(szWriteBuf, 0xEE, sizeof szWriteBuf);
        FillTxBuf(c.order, c.words);
        EXPECT_EQ(Hex(Bytes(szWriteBuf, 36)), Hex(std::string(c.expect, 36))) << c.name;
        // only the frame is written
        EXPECT_EQ(static_cast<unsigned char>(szWriteBuf[36]), 0xEE) << c.name;
    }
}

TEST(FrameCodec, WholeFrameRewrittenEveryCall) {
    sync = 0x55;
    uint16_t full[PNUM];
    for (int i = 0; i < PNUM; ++i) full[i] = 0xFFFF;
    FillTxBuf(0xFFFF, full);
    uint16_t zero[PNUM] = {0};
    FillTxBuf(8, zero);
    std::string expect("\x00\x55\x00\x08", 4);
    expect += std::string(32, '\0');
    EXPECT_EQ(Hex(Bytes(szWriteBuf, 36)), Hex(expect));
}

TEST(FrameCodec, SyncWordIsLow16BitsAlways) {
    uint16_t w[PNUM] = {0};
    for (int s : {0x55, 0x10055, 0x7FFF0055}) {
        sync = s;
        FillTxBuf(2, w);
        EXPECT_EQ(static_cast<unsigned char>(szWriteBuf[0]), 0x00) << s;
        EXPECT_EQ(static_cast<unsigned char>(szWriteBuf[1]), 0x55) << s;
    }
    sync = 0x55;
}

TEST(FrameCodec, ReceiveUnpacksPayloadOnly) {
    const std::string f = MakeFrame(
        0x00AA, 10,
        {2, 1024, 0x8001, 100, 2048, 0, 0xFF00, 0x00FF, 252, 0, 1024, 11, 12, 13, 14, 0xFFFF});
    std::memcpy(szReadBuf, f.data(), f.size());
    for (auto &w : pp) w = 0x5A5A;
    EXPECT_EQ(GetRxBuf(PNUM), 1);
    const uint16_t expect[PNUM] = {2,   1024, 0x8001, 100, 2048, 0,  0xFF00, 0x00FF,
                                   252, 0,    1024,   11,  12,   13, 14,     0xFFFF};
    for (int i = 0; i < PNUM; ++i) EXPECT_EQ(pp[i], expect[i]) << "word " << i;
}

TEST(FrameCodec, ReceiveNeverUnpacksBeyondThePayloadBuffer) {
    std::memset(szReadBuf, 0x11, sizeof szReadBuf);
    EXPECT_EQ(GetRxBuf(500), 1);   // clamped to PNUM words (ASan watches pp)
    EXPECT_EQ(pp[PNUM - 1], 0x1111);
    for (auto &w : pp) w = 7;
    EXPECT_EQ(GetRxBuf(3), 1);
    EXPECT_EQ(pp[2], 0x1111);
    EXPECT_EQ(pp[3], 7);
}

TEST(FrameCodec, OpenFailureTexts) {
    // clang-format off
    const struct { int code; const char *text; } cases[] = {
        {-1, "Unknown system error"}, {-2, "Invalid port number"}, {-3, "Port is not open"},
        {-4, "Unknown I/0 error"},    {-6, "No serial port found"}, {-7, "Cannot open port"},
        {-13, "Invalid parameter"},   {-99, "Timeout"},             {-5, "RS-232 error!"},
        {-12, "RS-232 error!"},       {-8, "RS-232 error!"},        {-100, "RS-232 error!"},
    };
    // clang-format on
    for (const auto &c : cases) EXPECT_STREQ(ComErrorText(c.code), c.text) << c.code;
}

TEST(FrameCodec, StatusTextIsCutAt72) {
    std::string longText(100, 'x');
    SetStatus(longText.c_str());
    EXPECT_EQ(std::strlen(szStatus), 72u);
    SetStatus("Line Ok!");
    EXPECT_STREQ(szStatus, "Line Ok!");
    // 72 characters, not bytes, and never half a character
    std::string micros;
    for (int i = 0; i < 100; ++i) micros += "\xC2\xB5";
    SetStatus(micros.c_str());
    EXPECT_EQ(std::string(szStatus), micros.substr(0, 144));
    SetStatus(("x" + micros).c_str());
    EXPECT_EQ(std::string(szStatus), "x" + micros.substr(0, 142));
}

TEST(FrameCodec, CallbackActsOnlyOnTheNotifyEvent) {
    rx_flag = graphrefresh = graph_flag = 0;
    std::memset(szReadBuf, 0x33, 36);
    RX_Receive_Function(1, LWRS_RXFLAG | LWRS_TXEMPTY, nullptr);
    EXPECT_EQ(rx_flag, 0);
    EXPECT_EQ(graphrefresh, 0);
    EXPECT_EQ(graph_flag, 0);
    EXPECT_EQ(static_cast<unsigned char>(szReadBuf[0]), 0x33);
}

// ---- end to end over a pseudo-terminal --------------------------------------

class LinkE2E : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(StartRidarForTest());
        rt_SetPortTable({peer.Device()});
        com = 1;
        sync = 0x55;
    }
    void TearDown() override {
        if (responder.joinable()) responder.join();
        CloseCom(1);
    }
    // Opens port 1 the way the start-up does, without the echo check.
    void OpenLikeInitRS232() {
        ASSERT_GE(OpenComConfig(1, "", 19200, 0, 8, 1, 4096, 4096), 0);
        SetComTime(1, TIMEOUT);
        FlushInQ(1);
        FlushOutQ(1);
        SetCTSMode(1, 0);
        InstallComCallback(1, eventMask, 36, sync, RX_Receive_Function, nullptr);
    }
    // Reads one request and answers it with `reply` (nothing when empty).
    void Answer(const std::string &reply, std::string *request = nullptr) {
        responder = std::thread([this, reply, request] {
            std::string req = peer.Read(36, 3.0);
            if (request) *request = req;
            if (!reply.empty()) peer.Write(reply);
        });
    }

    PtyPeer peer;
    std::thread responder;
};

TEST_F(LinkE2E, EchoReplyJudgedByItsFirstWord) {
    // clang-format off
    const struct { int syncWord; int result; const char *text; } cases[] = {
        {0x00AA, 1, "Echo Check - Line Ok!"},
        {0x0055, 0, "read error - not sync byte 0xAA!"},
        {0xAA00, 0, "read error - not sync byte 0xAA!"},
        {0x01AA, 0, "read error - not sync byte 0xAA!"},
    };
    // clang-format on
    OpenLikeInitRS232();
    for (const auto &c : cases) {
        power = 777;
        rs232Mode = 0;
        vThd = 333;
        std::string request;
        Answer(MakeFrame(c.syncWord, 5, {9, 9, 9}), &request);
        EXPECT_EQ(CheckComLine(1), c.result) << c.text;
        responder.join();
        EXPECT_STREQ(szStatus, c.text);
        EXPECT_EQ(StatusLine(), c.text);
        EXPECT_EQ(pp[0], c.syncWord);   // the reply's first word lands in pp[0]
        // the request: sync, order 5, the packed parameter set
        ASSERT_EQ(request.size(), 36u);
        EXPECT_EQ(Hex(request.substr(0, 8)),
                  Hex(std::string("\x00\x55\x00\x05\x03\x09\x00\x00", 8)));
        EXPECT_EQ(Hex(request.substr(8, 2)), Hex(std::string("\x01\x4D", 2)));
    }
}

TEST_F(LinkE2E, SilenceTimesOutAfterOneAndAHalfSeconds) {
    OpenLikeInitRS232();
    Answer("");
    const double t0 = Timer();
    EXPECT_EQ(CheckComLine(1), 0);
    const double elapsed = Timer() - t0;
    EXPECT_STREQ(szStatus, "Timeout-RS-232...");
    EXPECT_EQ(StatusLine(), "Timeout-RS-232...");
    EXPECT_GE(elapsed, 1.5);
    EXPECT_LE(elapsed, 1.5 + 0.5);
}

TEST_F(LinkE2E, ShortReplyTimesOutAndIsFlushedByTheNextExchange) {
    OpenLikeInitRS232();
    Answer(MakeFrame(0x00AA, 5, {}).substr(0, 30));
    const double t0 = Timer();
    EXPECT_EQ(CheckComLine(1), 0);
    EXPECT_GE(Timer() - t0, 1.5);
    EXPECT_STREQ(szStatus, "Timeout-RS-232...");
    responder.join();
    // the 30 stale bytes must not combine with the next reply
    Answer(MakeFrame(0x00AA, 5, {1, 2, 3}));
    EXPECT_EQ(CheckComLine(1), 1);
    EXPECT_STREQ(szStatus, "Echo Check - Line Ok!");
    EXPECT_EQ(pp[1], 2);
    EXPECT_EQ(pp[2], 3);
}

TEST_F(LinkE2E, TwoFramesInOneBurstFirstTakenRestFlushed) {
    OpenLikeInitRS232();
    Answer(MakeFrame(0x00AA, 5, {0, 11, 12, 13}) + MakeFrame(0x0055, 99, {0, 21, 22, 23}));
    EXPECT_EQ(CheckComLine(1), 1);
    EXPECT_STREQ(szStatus, "Echo Check - Line Ok!");
    EXPECT_EQ(pp[1], 11);
    EXPECT_EQ(pp[3], 13);
    responder.join();
    // the second frame never raises the callback
    rx_flag = 0;
    Pump(0.2);
    EXPECT_EQ(rx_flag, 0);
    EXPECT_EQ(GetInQLen(1), 0);
    EXPECT_EQ(pp[1], 11);
}

TEST_F(LinkE2E, FrameSplitAcrossWritesIsAssembled) {
    OpenLikeInitRS232();
    const std::string f = MakeFrame(0x00AA, 5, {0, 0x55, 0x5555, 0xAA});
    responder = std::thread([this, f] {
        peer.Read(36, 3.0);
        peer.Write(f.substr(0, 7));
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        peer.Write(f.substr(7));
    });
    EXPECT_EQ(CheckComLine(1), 1);
    EXPECT_EQ(pp[2], 0x5555);
    EXPECT_EQ(pp[3], 0xAA);
}

TEST_F(LinkE2E, OpenFailureShowsItsTextAndStopsThere) {
    rt_SetPortTable({"/dev/ridar-no-such-device"});
    SetStatus("");
    InitRS232(1);
    EXPECT_STREQ(szStatus, "Cannot open port");
    EXPECT_EQ(StatusLine(), "Cannot open port");
    // a port number outside the table
    InitRS232(40);
    EXPECT_STREQ(szStatus, "Invalid port number");
    EXPECT_EQ(StatusLine(), "Invalid port number");
}

TEST_F(LinkE2E, InitRS232EchoFailureSkipsIdentification) {
    std::string request;
    // answer the echo like a looped-back line; any further request would be
    // a hardware-information request
    responder = std::thread([this, &request] {
        peer.Read(36, 3.0);
        peer.Write(MakeFrame(0x0055, 5, {}));
        request = peer.Read(36, 0.6);
    });
    InitRS232(1);
    responder.join();
    EXPECT_STREQ(szStatus, "read error - not sync byte 0xAA!");
    EXPECT_EQ(StatusLine(), "read error - not sync byte 0xAA!");
    EXPECT_TRUE(request.empty()) << Hex(request);
}

void SleepFor(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

// What the peer does after the request came: wait, then write.
struct PeerStep {
    double delay;
    std::string bytes;
};
using PeerScript = std::vector<PeerStep>;

// SendAndWait: a request and the wait for its reply.
class OneExchange : public LinkE2E {
protected:
    void SetUp() override {
        LinkE2E::SetUp();
        OpenLikeInitRS232();
        rx_flag = graphrefresh = graph_flag = 0;
    }
    void TearDown() override {
        Join();
        AskFrame(0);
        AskRaw(0);
        LinkE2E::TearDown();
    }
    void Join() {
        if (responder.joinable()) responder.join();
    }
    // Reads one request, then plays the script; the time of the last write
    // goes to lastWrite.
    void Play(PeerScript script) {
        request.clear();
        responder = std::thread([this, script] {
            request = peer.Read(36, 3.0);
            for (const PeerStep &s : script) {
                SleepFor(s.delay);
                peer.Write(s.bytes);
                lastWrite = Now();
            }
        });
    }

    std::string request;
    double lastWrite = 0;
};

// ---- the request on the wire -----------------------------------------------------

TEST_F(OneExchange, WritesTheFrameOfItsOrderAndWords) {
    struct Case {
        const char *name;
        int order;
        Await await;
        int rawBytes;
        uint16_t words[PNUM];
        bool ownWords;   // words given; else pp carries them
        const char *bytes;
    };
    // clang-format off
    const Case cases[] = {
        {"get from RAM, pp as it stands", 2, Await::Frame, 0,
         {500, 1, 512, 7, 1, 4, 1, 2048, 1024, 100, 1, 3, 65535, 60000, 1024, 0xABCD}, false,
         "\x00\x55\x00\x02\x01\xF4\x00\x01\x02\x00\x00\x07\x00\x01\x00\x04\x00\x01\x08\x00"
         "\x04\x00\x00\x64\x00\x01\x00\x03\xFF\xFF\xEA\x60\x04\x00\xAB\xCD"},
        {"video block 64 from pixel 192, own words", 9, Await::Raw, 128, {192, 0}, true,
         "\x00\x55\x00\x09\x00\xC0\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
         "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"},
        {"store in EEPROM", 3, Await::Nothing, 0, {0x0102, 0x0304, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x8000},
         false,
         "\x00\x55\x00\x03\x01\x02\x03\x04\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
         "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x80\x00"},
        {"calibration store", 12, Await::Frame, 0, {2, 34048, 29879}, false,
         "\x00\x55\x00\x0C\x00\x02\x85\x00\x74\xB7\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
         "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"},
    };
    // clang-format on
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::memcpy(pp, c.words, sizeof pp);
        Exchange x(c.order, c.await, c.rawBytes);
        if (c.ownWords) {
            for (auto &w : pp) w = 0x7777;   // must not go out
            x.words = c.words;
        }
        // the reply: a frame, the raw block asked for, or nothing for a store
        PeerScript reply;
        if (c.await == Await::Frame) reply = {{0.0, MakeFrame(0xAA, c.order, {})}};
        if (c.await == Await::Raw) reply = {{0.0, std::string(c.rawBytes, '\x11')}};
        Play(reply);
        // a raw block has no sync word: the frame callback is kept off it
        if (c.await == Await::Raw) InstallComCallback(1, 0, FRAME_BYTES, sync, nullptr, nullptr);
        EXPECT_EQ(SendAndWait(x), EXCHANGE_DONE);
        Join();
        InstallComCallback(1, eventMask, FRAME_BYTES, sync, RX_Receive_Function, nullptr);
        EXPECT_EQ(nBytesW, 36);
        EXPECT_EQ(Hex(request), Hex(std::string(c.bytes, 36)));
        // one frame and nothing after it
        EXPECT_EQ(peer.Read(1, 0.1), "");
        FlushInQ(1);
    }
}

TEST_F(OneExchange, TheSyncWordIsItsLowSixteenBits) {
    for (int s : {0x55, 0x10055}) {
        sync = s;
        Play({{0.0, MakeFrame(0xAA, 5, {})}});
        std::memset(pp, 0, sizeof pp);
        EXPECT_EQ(SendAndWait(Exchange(5)), EXCHANGE_DONE);
        Join();
        EXPECT_EQ(request.substr(0, 4), std::string("\x00\x55\x00\x05", 4)) << s;
    }
    sync = 0x55;
}

// ---- replies: in time, late, partial, after stray bytes ------------------------------

TEST_F(OneExchange, FrameRepliesAsTheyCome) {
    const std::string reply = MakeFrame(0xAA, 2, {0x1234, 0xBEEF, 7});
    struct Case {
        const char *name;
        PeerScript script;
        int end;
        long dropped;   // stray bytes dropped before the frame
    };
    // clang-format off
    const Case cases[] = {
        {"at once", {{0.0, reply}}, EXCHANGE_DONE, 0},
        {"after 1.2 s", {{1.2, reply}}, EXCHANGE_DONE, 0},
        {"in three pieces", {{0.0, reply.substr(0, 5)}, {0.1, reply.substr(5, 20)}, {0.1, reply.substr(25)}},
         EXCHANGE_DONE, 0},
        {"after stray bytes", {{0.0, "\x13\x37\xFF" + reply}}, EXCHANGE_DONE, 3},
        {"after a lone zero byte", {{0.0, std::string("\x00", 1) + reply}}, EXCHANGE_DONE, 1},
        {"after 0xAA 0x00", {{0.0, std::string("\xAA\x00", 2) + reply}}, EXCHANGE_DONE, 2},
        {"after 50 bytes of the host's sync", {{0.0, std::string(50, '\x55')}, {0.2, reply}}, EXCHANGE_DONE, 50},
        {"after 1.6 s: late", {{1.6, reply}}, EXCHANGE_TIMEOUT, 0},
        {"35 bytes only", {{0.0, reply.substr(0, 35)}}, EXCHANGE_TIMEOUT, 0},
        {"partial at 1 s, rest after the time-out", {{1.0, reply.substr(0, 20)}, {0.7, reply.substr(20)}},
         EXCHANGE_TIMEOUT, 0},
        {"stray bytes only", {{0.0, std::string(40, '\x42')}}, EXCHANGE_TIMEOUT, 40},
    };
    // clang-format on
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        for (auto &w : pp) w = 0x5A5A;
        const long dropped0 = linkBytesDropped, resyncs0 = linkResyncs;
        Play(c.script);
        const double t0 = Timer();
        const int end = SendAndWait(Exchange(2));
        const double t1 = Timer();
        const double returned = Now();
        Join();
        EXPECT_EQ(end, c.end);
        EXPECT_GE(tstart, t0);
        if (end == EXCHANGE_DONE) {
            EXPECT_EQ(rx_flag, 1);
            EXPECT_EQ(pp[0], 0x1234);
            EXPECT_EQ(pp[1], 0xBEEF);
            EXPECT_EQ(pp[2], 7);
            EXPECT_EQ(pp[3], 0);
            EXPECT_EQ(std::string(szReadBuf, 36), reply);
            // seen within a look of its last byte
            EXPECT_LE(returned - lastWrite, 0.5);
            EXPECT_EQ(linkResyncs - resyncs0, c.dropped > 0 ? 1 : 0);
        } else {
            EXPECT_EQ(rx_flag, 0);
            EXPECT_EQ(pp[0], 0x5A5A);   // nothing unpacked
            EXPECT_GT(tdiff, TIMEOUT);
            EXPECT_LE(t1 - t0, TIMEOUT + 0.5);
        }
        EXPECT_EQ(linkBytesDropped - dropped0, c.dropped);
        // what is left (a late or partial reply) is not the next request's
        FlushInQ(1);
        AskFrame(0);
    }
}

TEST_F(OneExchange, SilenceTimesOutOneAndAHalfSecondsAfterTheWrite) {
    for (bool pump : {true, false}) {
        SCOPED_TRACE(pump ? "pumping" : "without the pump");
        for (Await await : {Await::Frame, Await::Raw}) {
            Play({});
            Exchange x(await == Await::Raw ? 11 : 10, await, await == Await::Raw ? 512 : 0);
            x.pump = pump;
            const double t0 = Timer();
            EXPECT_EQ(SendAndWait(x), EXCHANGE_TIMEOUT);
            const double elapsed = Timer() - t0;
            Join();
            EXPECT_GE(elapsed, TIMEOUT);
            EXPECT_LE(elapsed, TIMEOUT + 0.5);
            EXPECT_GT(tdiff, TIMEOUT);
            EXPECT_LE(tdiff, TIMEOUT + 0.5);
            EXPECT_EQ(request.size(), 36u);
        }
    }
}

// The reply is identified by what was asked, not by the order word it
// carries: a frame naming another order still answers this request, and
// only an answer to a measurement request feeds the run and recorder loops.
TEST_F(OneExchange, AReplyNamingAnotherOrderAnswersWhatWasAsked) {
    const struct {
        int asked, named;
        int measurement;   // graphrefresh and graph_flag raised
    } cases[] = {{2, 8, 0}, {8, 2, 1}, {10, 5, 0}, {8, 8, 1}, {12, 0, 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE("asked " + std::to_string(c.asked) + ", reply names " +
                     std::to_string(c.named));
        graphrefresh = graph_flag = 0;
        Play({{0.0, MakeFrame(0xAA, c.named, {c.named, 99})}});
        EXPECT_EQ(SendAndWait(Exchange(c.asked)), EXCHANGE_DONE);
        Join();
        EXPECT_EQ(pp[0], c.named);
        EXPECT_EQ(pp[1], 99);
        EXPECT_EQ(graphrefresh, c.measurement);
        EXPECT_EQ(graph_flag, c.measurement);
        EXPECT_EQ(rxAsked, 0);   // answered
    }
}

TEST_F(OneExchange, AnEarlierRequestsLateReplyIsNotTakenForThisOne) {
    Play({});
    EXPECT_EQ(SendAndWait(Exchange(2)), EXCHANGE_TIMEOUT);
    Join();
    // the first request's reply comes after its time-out, before the next
    // request goes out
    peer.Write(MakeFrame(0xAA, 2, {1, 1, 1}));
    const double t0 = Now();
    while (GetInQLen(1) < 36 && Now() - t0 < 1.0) SleepFor(0.005);
    ASSERT_EQ(GetInQLen(1), 36);
    Play({{0.05, MakeFrame(0xAA, 4, {4, 4, 4})}});
    EXPECT_EQ(SendAndWait(Exchange(4)), EXCHANGE_DONE);
    Join();
    EXPECT_EQ(pp[0], 4);
    EXPECT_EQ(pp[2], 4);
    EXPECT_EQ(request.substr(0, 4), std::string("\x00\x55\x00\x04", 4));
}

// ---- raw blocks -------------------------------------------------------------------

TEST_F(OneExchange, RawBlocksAreReadAsTheyCame) {
    std::string block;
    for (int i = 0; i < 1100; ++i) block += static_cast<char>(i * 7 + 1);
    struct Case {
        const char *name;
        int expect;
        PeerScript script;
        int end;
        int read;   // nBytesR
        int left;   // bytes still queued afterwards
    };
    // clang-format off
    const Case cases[] = {
        {"firmware text", 72, {{0.0, block.substr(0, 72)}}, EXCHANGE_DONE, 72, 0},
        {"512 in pieces", 512, {{0.0, block.substr(0, 200)}, {0.1, block.substr(200, 312)}}, EXCHANGE_DONE, 512, 0},
        {"short: what came is read", 128, {{0.0, block.substr(0, 50)}}, EXCHANGE_TIMEOUT, 50, 0},
        {"nothing", 128, {}, EXCHANGE_TIMEOUT, 0, 0},
        {"more than the buffer holds", 1100, {{0.0, block}}, EXCHANGE_DONE, 1024, 76},
    };
    // clang-format on
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Play(c.script);
        InstallComCallback(1, 0, FRAME_BYTES, sync, nullptr, nullptr);
        int queued = -7;
        rx_flag = 1;   // a raw wait leaves the frame flag alone
        const int end = SendAndWait(Exchange(9, Await::Raw, c.expect), &queued);
        Join();
        EXPECT_EQ(end, c.end);
        EXPECT_EQ(nBytesR, c.read);
        EXPECT_GE(queued, c.read);
        EXPECT_EQ(rx_flag, 1);
        EXPECT_EQ(std::string(szReadBuf, c.read), block.substr(0, c.read));
        EXPECT_EQ(GetInQLen(1), c.left);
        InstallComCallback(1, eventMask, FRAME_BYTES, sync, RX_Receive_Function, nullptr);
        FlushInQ(1);
    }
}

// ---- with and without the event pump ------------------------------------------------

TEST_F(OneExchange, OnlyAPumpingWaitLetsOtherCallbacksRun) {
    for (bool pump : {true, false}) {
        SCOPED_TRACE(pump ? "pumping" : "without the pump");
        bool ran = false;
        rt_After(0.0, [&ran] { ran = true; });
        Play({{0.3, std::string(72, 'x')}});
        InstallComCallback(1, 0, FRAME_BYTES, sync, nullptr, nullptr);
        Exchange x(7, Await::Raw, 72);
        x.pump = pump;
        EXPECT_EQ(SendAndWait(x), EXCHANGE_DONE);
        Join();
        InstallComCallback(1, eventMask, FRAME_BYTES, sync, RX_Receive_Function, nullptr);
        EXPECT_EQ(ran, pump);
        const double t0 = Timer();
        while (!ran && Timer() - t0 < 1.0) ProcessSystemEvents();
    }
}

// A reply that came in the look in which the time ran out (here: the pump
// stalled past the time-out, and the reply came in that same pump) is late
// for a time-first wait and in time for the others.
TEST_F(OneExchange, AReplyInTheLookTheTimeRanOutIn) {
    for (bool timeFirst : {false, true}) {
        SCOPED_TRACE(timeFirst ? "time first" : "reply first");
        Play({});
        rt_After(0.05, [this] {
            Join();   // the request is read
            peer.Write(MakeFrame(0xAA, 6, {6}));
            SleepFor(TIMEOUT + 0.1);
            RX_Receive_Function(1, LWRS_RECEIVE, nullptr);
        });
        Exchange x(6);
        x.timeFirst = timeFirst;
        EXPECT_EQ(SendAndWait(x), timeFirst ? EXCHANGE_TIMEOUT : EXCHANGE_DONE);
        EXPECT_EQ(rx_flag, 1);   // the caller may still look at it
        EXPECT_EQ(pp[0], 6);
        EXPECT_GT(tdiff, TIMEOUT);
    }
}

// ---- after the write: progress texts, a torn request --------------------------------

TEST_F(OneExchange, WhatRunsAfterTheWrite) {
    // runs once, after the write, before the wait starts
    int calls = 0;
    int written = 0;
    double at = 0;
    Play({{0.2, MakeFrame(0xAA, 2, {})}});
    Exchange x(2);
    x.written = [&] {
        ++calls;
        written = nBytesW;
        at = Timer();
        return true;
    };
    EXPECT_EQ(SendAndWait(x), EXCHANGE_DONE);
    Join();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(written, 36);
    EXPECT_LE(at, tstart);   // the time-out counts from after it

    // giving up: nothing is awaited any more, a reply raises nothing
    Play({{0.05, MakeFrame(0xAA, 6, {9})}});
    Exchange give(6);
    give.written = [] { return false; };
    const double t0 = Timer();
    EXPECT_EQ(SendAndWait(give), EXCHANGE_NOT_SENT);
    EXPECT_LT(Timer() - t0, 0.5);
    Join();
    EXPECT_EQ(rxAsked, 0);
    const double t1 = Timer();
    while (Timer() - t1 < 0.2) ProcessSystemEvents();
    EXPECT_EQ(rx_flag, 0);
}

TEST_F(OneExchange, ALineThatIsGoneWritesNothing) {
    CloseCom(1);
    // a frame wait waits on: the sensor might still answer
    Exchange get(2);
    int written = 99;
    get.written = [&written] {
        written = nBytesW;
        return true;
    };
    const double t0 = Timer();
    EXPECT_EQ(SendAndWait(get), EXCHANGE_TIMEOUT);
    EXPECT_GE(Timer() - t0, TIMEOUT);
    EXPECT_LT(written, 36);
    // a store says so at once
    EXPECT_EQ(SendAndWait(Exchange(1, Await::Nothing)), EXCHANGE_NOT_SENT);
    EXPECT_EQ(peer.Read(1, 0.1), "");
}

// ---- a store ------------------------------------------------------------------------

TEST_F(OneExchange, AStoreFlushesNothingAndWaitsOnlyForTheLine) {
    // bytes already queued stay queued; the frame flags stay as they are
    peer.Write("\x01\x02\x03\x04\x05");
    const double t0 = Now();
    while (GetInQLen(1) < 5 && Now() - t0 < 1.0) SleepFor(0.005);
    ASSERT_EQ(GetInQLen(1), 5);
    rx_flag = 1;
    AskFrame(8);
    for (int i = 0; i < PNUM; ++i) pp[i] = static_cast<uint16_t>(i);
    Play({});
    EXPECT_EQ(SendAndWait(Exchange(1, Await::Nothing)), EXCHANGE_DONE);
    EXPECT_EQ(GetOutQLen(1), 0);   // out on the line when it says so
    Join();
    EXPECT_EQ(GetInQLen(1), 5);
    EXPECT_EQ(rx_flag, 1);
    EXPECT_EQ(rxAsked, 0);   // a store is answered by nothing
    EXPECT_EQ(request,
              std::string(
                  "\x00\x55\x00\x01\x00\x00\x00\x01\x00\x02\x00\x03\x00\x04\x00\x05\x00\x06\x00\x07"
                  "\x00\x08\x00\x09\x00\x0A\x00\x0B\x00\x0C\x00\x0D\x00\x0E\x00\x0F",
                  36));
}

// ---- the first half alone ------------------------------------------------------------

TEST_F(OneExchange, SendRequestWritesAndAsksButDoesNotWait) {
    for (int i = 0; i < PNUM; ++i) pp[i] = static_cast<uint16_t>(0x0100 * i + 0xFF);
    rx_flag = 1;
    Play({{1.0, MakeFrame(0xAA, 8, {321})}});
    const double t0 = Timer();
    EXPECT_EQ(SendRequest(Exchange(8)), 36);
    EXPECT_LT(Timer() - t0, 0.5);   // the reply comes after 1 s
    EXPECT_EQ(rx_flag, 0);
    EXPECT_EQ(rxAsked, 8);
    // the loop's own look finds the reply, and it is a measurement
    while (rx_flag == 0 && Timer() - t0 < TIMEOUT) ProcessSystemEvents();
    Join();
    EXPECT_EQ(rx_flag, 1);
    EXPECT_EQ(graphrefresh, 1);
    EXPECT_EQ(graph_flag, 1);
    EXPECT_EQ(pp[0], 321);
    EXPECT_EQ(Hex(request),
              Hex(std::string("\x00\x55\x00\x08\x00\xFF\x01\xFF\x02\xFF\x03\xFF\x04\xFF\x05\xFF"
                              "\x06\xFF\x07\xFF\x08\xFF\x09\xFF\x0A\xFF\x0B\xFF\x0C\xFF\x0D\xFF"
                              "\x0E\xFF\x0F\xFF",
                              36)));
}

// ---- no busy waiting ------------------------------------------------------------------

TEST_F(OneExchange, TimingAWaitDoesNotBurnTheProcessor) {
    for (bool pump : {true, false}) {
        SCOPED_TRACE(pump ? "pumping" : "without the pump");
        Play({});
        Exchange x(10);
        x.pump = pump;
        const double cpu0 = CpuSeconds();
        EXPECT_EQ(SendAndWait(x), EXCHANGE_TIMEOUT);
        const double cpu = CpuSeconds() - cpu0;
        Join();
        EXPECT_LT(cpu, 0.15 * TIMEOUT) << cpu << " s of processor time in a 1.5 s wait";
    }
}

}   // namespace
