// Frame codec, receive path, open failures and the echo check over a
// pseudo-terminal with a scripted peer.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "tests/support/support.h"
#include "app/panels.h"
#include "link/frame.h"
#include "params/vars.h"

namespace {

std::string Bytes(const char *buf, size_t n) { return std::string(buf, n); }

std::string Hex(const std::string &s) {
    static const char *d = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        out += d[c >> 4];
        out += d[c & 15];
        out += ' ';
    }
    return out;
}

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

}  // namespace
