// Frame codec, receive path, open failures and the echo check over a
// pseudo-terminal with a scripted peer.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

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
    const std::string f = MakeFrame(0x00AA, 10,
                                    {2, 1024, 0x8001, 100, 2048, 0, 0xFF00, 0x00FF, 252, 0, 1024, 11, 12, 13, 14, 0xFFFF});
    std::memcpy(szReadBuf, f.data(), f.size());
    for (auto &w : pp) w = 0x5A5A;
    EXPECT_EQ(GetRxBuf(PNUM), 1);
    const uint16_t expect[PNUM] = {2, 1024, 0x8001, 100, 2048, 0, 0xFF00, 0x00FF, 252, 0, 1024, 11, 12, 13, 14, 0xFFFF};
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
    const struct { int code; const char *text; } cases[] = {
        {-1, "Unknown system error"}, {-2, "Invalid port number"}, {-3, "Port is not open"},
        {-4, "Unknown I/0 error"},    {-6, "No serial port found"}, {-7, "Cannot open port"},
        {-13, "Invalid parameter"},   {-99, "Timeout"},             {-5, "RS-232 error!"},
        {-12, "RS-232 error!"},       {-8, "RS-232 error!"},        {-100, "RS-232 error!"},
    };
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
    const struct { int syncWord; int result; const char *text; } cases[] = {
        {0x00AA, 1, "Echo Check - Line Ok!"},
        {0x0055, 0, "read error - not sync byte 0xAA!"},
        {0xAA00, 0, "read error - not sync byte 0xAA!"},
        {0x01AA, 0, "read error - not sync byte 0xAA!"},
    };
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
        EXPECT_EQ(Hex(request.substr(0, 8)), Hex(std::string("\x00\x55\x00\x05\x03\x09\x00\x00", 8)));
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
    EXPECT_LE(elapsed, 1.62);
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

}  // namespace
