// The exchange engine and the frame assembler on a line with a clock of its
// own: bytes leave at 19200 baud, replies arrive at scripted times, and a
// flush drops what has not left yet, as a UART's driver does.
#include <gtest/gtest.h>

#include <deque>
#include <string>

#include "proto/engine.h"

using namespace proto;

namespace {

class PacedLine : public ByteLine {
public:
    double now = 0;
    bool reportsQueue = true;   // a driver that tells what it holds
    std::string onLine;         // what has left towards the sensor
    std::string held;           // written, not yet out
    std::string inbox;
    std::deque<std::pair<double, std::string>> script;   // bytes arriving at a time
    bool lost = false;

    void Advance(double to) {
        // byte k of a burst leaves (k + 1) character times after its start
        while (!held.empty() &&
               lineAt_ + static_cast<double>(sent_ + 1) * CharTime() <= to + 1e-12) {
            ++sent_;
            onLine += held[0];
            held.erase(0, 1);
        }
        if (to > now) now = to;
        while (!script.empty() && script.front().first <= now) {
            inbox += script.front().second;
            script.pop_front();
        }
    }
    bool Write(const uint8_t *b, size_t n) override {
        if (lost) return false;
        if (held.empty()) lineAt_ = now, sent_ = 0;
        held.append(reinterpret_cast<const char *>(b), n);
        return true;
    }
    long OutQueued() override {
        Advance(now);
        return reportsQueue ? static_cast<long>(held.size()) : 0;
    }
    long ReadSome(uint8_t *buf, size_t n) override {
        if (lost) return -1;
        const size_t k = std::min(n, inbox.size());
        inbox.copy(reinterpret_cast<char *>(buf), k);
        inbox.erase(0, k);
        return static_cast<long>(k);
    }
    Wait WaitReadable(double deadline) override {
        if (lost) return Wait::Lost;
        if (!inbox.empty()) return Wait::Readable;
        if (!script.empty() && script.front().first <= deadline) {
            Advance(script.front().first);
            return Wait::Readable;
        }
        Advance(deadline);
        return Wait::Deadline;
    }
    bool SleepUntil(double until) override {
        Advance(until);
        return true;
    }
    void DiscardInput() override { inbox.clear(); }
    void DiscardOutput() override { held.clear(); }
    bool Lost() const override { return lost; }
    double Now() const override { return now; }

private:
    double lineAt_ = 0;
    long sent_ = 0;
};

std::string Bytes(uint16_t sync, uint16_t header, std::initializer_list<uint16_t> words) {
    std::string f;
    auto put = [&f](uint16_t w) {
        f += static_cast<char>(w >> 8);
        f += static_cast<char>(w & 0xFF);
    };
    put(sync);
    put(header);
    size_t n = 0;
    for (uint16_t w : words) put(w), ++n;
    for (; n < 16; ++n) put(0);
    return f;
}

const double kFrameTime = 36 * 10 / 19200.0;   // 18.75 ms

}   // namespace

TEST(EngineStore, AStoreLeavesWholeBeforeTheNextRequestFlushes) {
    for (bool reports : {true, false}) {
        SCOPED_TRACE(reports ? "driver reports its queue" : "driver reports nothing");
        PacedLine line;
        line.reportsQueue = reports;
        Exchanger x(line);
        Words w{};
        w[0] = 0x1234;
        w[15] = 0xFFFF;
        EXPECT_EQ(x.Run(Order::StoreEeprom, w, Await::Nothing), Outcome::Done);
        EXPECT_GE(line.now, kFrameTime - 1e-9);
        line.script.push_back({1.0, Bytes(0x00AA, 4, {7})});
        EXPECT_EQ(x.Run(Order::GetEeprom, Words{}, Await::Frame), Outcome::Done);
        line.Advance(line.now + 1.0);
        const std::string store =
            std::string("\x00\x55\x00\x03\x12\x34", 6) + std::string(28, '\0') + "\xFF\xFF";
        ASSERT_EQ(line.onLine.size(), 72u);
        EXPECT_EQ(line.onLine.substr(0, 36), store);
        EXPECT_EQ(line.onLine.substr(36, 4), std::string("\x00\x55\x00\x04", 4));
        EXPECT_EQ(x.reply.words[0], 7);
    }
}

// A peer that answers faster than the line time (a pseudo-terminal, a
// simulator) is not slowed to it: only a store is waited out.
TEST(EngineStore, ARequestThatGotItsReplyIsNotWaitedOut) {
    PacedLine line;
    Exchanger x(line);
    line.script.push_back({0.001, Bytes(0x00AA, 2, {1})});
    EXPECT_EQ(x.Run(Order::GetRam, Words{}, Await::Frame), Outcome::Done);
    line.script.push_back({0.002, Bytes(0x00AA, 8, {2})});
    EXPECT_EQ(x.Run(Order::Measure, Words{}, Await::Frame), Outcome::Done);
    EXPECT_EQ(x.reply.words[0], 2);
    EXPECT_LT(line.now, kFrameTime / 2);
    // a run at that pace does not build up line time a store then waits out
    for (int i = 0; i < 200; ++i) {
        line.script.push_back({line.now + 0.001, Bytes(0x00AA, 8, {3})});
        ASSERT_EQ(x.Run(Order::Measure, Words{}, Await::Frame), Outcome::Done) << i;
    }
    const double before = line.now;
    EXPECT_EQ(x.Run(Order::StoreRam, Words{}, Await::Nothing), Outcome::Done);
    EXPECT_LT(line.now - before, 2 * kFrameTime + 1e-9);
}

TEST(EngineReply, FoundAfterStrayBytesWithinTheTimeoutFromTheWrite) {
    const std::string reply = Bytes(0x00AA, 8, {400, 600, 600});
    // clang-format off
    struct Case {
        const char *name;
        std::deque<std::pair<double, std::string>> script;
        Outcome want;
        long resyncs, dropped;
        size_t unframed;
    } cases[] = {
        {"in time", {{0.1, reply}}, Outcome::Done, 0, 0, 0},
        {"1 stray", {{0.1, "\x07" + reply}}, Outcome::Done, 1, 1, 0},
        {"3 stray, apart", {{0.05, std::string("\x00\x55\xAA", 3)}, {0.1, reply}}, Outcome::Done, 1, 3, 0},
        {"40 stray", {{0.1, std::string(40, '\x55') + reply}}, Outcome::Done, 1, 40, 0},
        {"split frame", {{0.1, reply.substr(0, 1)}, {0.3, reply.substr(1)}}, Outcome::Done, 0, 0, 0},
        {"just in time", {{1.49, reply}}, Outcome::Done, 0, 0, 0},
        {"late", {{1.51, reply}}, Outcome::Timeout, 0, 0, 0},
        {"short", {{0.1, reply.substr(0, 20)}}, Outcome::Timeout, 0, 0, 20},
        // the last 0x00 might begin a sync word: kept
        {"no sync word", {{0.1, Bytes(0x0055, 8, {})}}, Outcome::Timeout, 0, 35, 36},
    };
    // clang-format on
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PacedLine line;
        line.script = c.script;
        Exchanger x(line);
        EXPECT_EQ(x.Run(Order::Measure, Words{}, Await::Frame), c.want);
        EXPECT_EQ(x.Health().resyncs, c.resyncs);
        EXPECT_EQ(x.Health().bytesDropped, c.dropped);
        EXPECT_EQ(x.Health().frames, c.want == Outcome::Done ? 1 : 0);
        EXPECT_EQ(x.Health().timeouts, c.want == Outcome::Timeout ? 1 : 0);
        if (c.want == Outcome::Done) {
            EXPECT_EQ(x.reply.header, 8);
            EXPECT_EQ(x.reply.words[1], 600);
        } else {
            EXPECT_EQ(x.unframed, c.unframed);
            EXPECT_NEAR(line.now, 1.5, 1e-9);
        }
    }
}

TEST(EngineReply, WhatAnEarlierRequestLeftIsNotThisReply) {
    PacedLine line;
    Exchanger x(line);
    line.script.push_back({1.6, Bytes(0x00AA, 2, {1})});   // the get's reply, late
    EXPECT_EQ(x.Run(Order::GetRam, Words{}, Await::Frame), Outcome::Timeout);
    line.Advance(1.7);
    line.script.push_back({1.8, Bytes(0x00AA, 8, {2})});
    EXPECT_EQ(x.Run(Order::Measure, Words{}, Await::Frame), Outcome::Done);
    EXPECT_EQ(x.reply.words[0], 2);
}

TEST(EngineRaw, BlocksOfTheAskedSizeLongerAndShorter) {
    const std::string text(72, 'K');
    struct Case {
        std::string bytes;
        Outcome want;
        size_t got;
    } cases[] = {
        {text, Outcome::Done, 72},
        {text + "xyz", Outcome::Done, 73},   // a longer reply shows as one byte more
        {text.substr(0, 50), Outcome::Timeout, 50},
        {"", Outcome::Timeout, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.bytes.size());
        PacedLine line;
        if (!c.bytes.empty()) line.script.push_back({0.2, c.bytes});
        Exchanger x(line);
        EXPECT_EQ(x.Run(Order::FirmwareInfo, Words{}, Await::Raw, 72), c.want);
        EXPECT_EQ(x.raw.size(), c.got);
    }
}

TEST(EngineLine, ALostLineEndsTheWaitAtOnce) {
    PacedLine line;
    Exchanger x(line);
    line.lost = true;
    EXPECT_EQ(x.Run(Order::Measure, Words{}, Await::Frame), Outcome::Lost);
    EXPECT_EQ(x.Run(Order::StoreRam, Words{}, Await::Nothing), Outcome::Lost);
    EXPECT_EQ(line.now, 0.0);
}

TEST(EngineAssembler, ResyncRule) {
    // clang-format off
    struct Case { std::string bytes; size_t start; } cases[] = {
        {std::string("\x00\xAA", 2), 0},
        {std::string("\x01\x00\xAA", 3), 1},
        {std::string("\xAA\x00", 2), 1},            // a sync word may be under way
        {std::string("\x00\x00\xAA", 3), 1},
        {std::string("\x55\x55", 2), 2},
        {"", 0},
    };
    // clang-format on
    for (const Case &c : cases)
        EXPECT_EQ(FrameStart(reinterpret_cast<const uint8_t *>(c.bytes.data()), c.bytes.size()),
                  c.start);
}
