// What keeps the live loops light: re-showing unchanged numbers costs no
// repaint (so a wait loop can sleep), yet still replaces what the operator
// typed; the serial layer wakes the program only for bytes that can raise
// an event; the pump's waits are short and cheap.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDoubleSpinBox>
#include <QEvent>
#include <QKeyEvent>
#include <QSpinBox>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <sys/resource.h>
#include <time.h>
#include <vector>

#include "tests/support/support.h"
#include "rt/rt.h"
#include "rt/rt_testing.h"

namespace {

enum { NUMWord = 8, NUMDouble = 10 };

std::string Uir() {
    std::string f = __FILE__;
    return f.substr(0, f.rfind('/')) + "/data/rt_test.uir";
}

class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject *, QEvent *e) override {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
    }
};

using drive::SendKey;
using drive::WidgetAs;

class RtPump : public ::testing::Test {
protected:
    void SetUp() override {
        static char arg0[] = "test_rt_pump";
        static char *argv[] = {arg0, nullptr};
        ASSERT_EQ(InitCVIRTE(1, argv), 1);
        p = LoadPanel(0, Uir().c_str(), 1);
        ASSERT_GT(p, 0);
        DisplayPanel(p);
        Pump(0.05);
    }
    void TearDown() override { DiscardPanel(p); }
    int p = 0;
};

// A loop that shows the same numbers on every pass (the recorder's elapsed
// time does) must neither repaint them nor keep the pump from sleeping.
TEST_F(RtPump, UnchangedNumbersCostNoRepaintAndLetTheLoopSleep) {
    auto *word = WidgetAs<QSpinBox>(p, "NUMWord");
    auto *dbl = WidgetAs<QDoubleSpinBox>(p, "NUMDouble");
    ASSERT_TRUE(word && dbl);
    PaintCounter wc, dc;
    word->installEventFilter(&wc);
    dbl->installEventFilter(&dc);
    SetCtrlVal(p, NUMWord, 42);
    SetCtrlVal(p, NUMDouble, 1.25);
    Pump(0.05);
    EXPECT_GE(wc.paints, 1);
    EXPECT_GE(dc.paints, 1);
    const int w0 = wc.paints, d0 = dc.paints;

    long passes = 0;
    const double c0 = CpuSeconds(), t0 = Now();
    while (Now() - t0 < 1.0) {
        SetCtrlVal(p, NUMWord, 42);
        SetCtrlVal(p, NUMDouble, 1.25);
        ProcessSystemEvents();
        ++passes;
    }
    const double share = (CpuSeconds() - c0) / (Now() - t0);
    EXPECT_EQ(wc.paints, w0);
    EXPECT_EQ(dc.paints, d0);
    // a pump that found a repaint pending on every pass ran flat out
    EXPECT_LT(share, 0.25) << passes << " passes";
    EXPECT_LT(passes, 2000);

    // a new value is shown and painted
    SetCtrlVal(p, NUMWord, 43);
    SetCtrlVal(p, NUMDouble, 1.5);
    Pump(0.05);
    EXPECT_GT(wc.paints, w0);
    EXPECT_GT(dc.paints, d0);
    EXPECT_EQ(word->text(), "43");
    EXPECT_EQ(dbl->text(), "1.500");
    word->removeEventFilter(&wc);
    dbl->removeEventFilter(&dc);
}

// Whatever the operator typed and did not commit is replaced when the
// program shows a value, even the value it showed before.
TEST_F(RtPump, SettingAValueReplacesTypedText) {
    struct Case {
        const char *what;
        int control;
        const char *name;
        double value;
        std::function<void(QWidget *)> type;
        const char *shown;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"digit typed on a word", NUMWord, "NUMWord", 12,
         [](QWidget *w) { SendKey(w, Qt::Key_End); SendKey(w, Qt::Key_7, "7"); }, "12"},
        {"text erased on a word", NUMWord, "NUMWord", 12,
         [](QWidget *w) { SendKey(w, Qt::Key_End); SendKey(w, Qt::Key_Backspace); SendKey(w, Qt::Key_Backspace); }, "12"},
        {"digit typed on a double", NUMDouble, "NUMDouble", 2.5,
         [](QWidget *w) { SendKey(w, Qt::Key_End); SendKey(w, Qt::Key_Backspace); SendKey(w, Qt::Key_7, "7"); }, "2.500"},
        {"same value, other text on a double", NUMDouble, "NUMDouble", 2.5,
         [](QWidget *w) { SendKey(w, Qt::Key_End); SendKey(w, Qt::Key_Backspace); }, "2.500"},
        {"text erased on a double", NUMDouble, "NUMDouble", 2.5,
         [](QWidget *w) { for (int i = 0; i < 5; ++i) { SendKey(w, Qt::Key_End); SendKey(w, Qt::Key_Backspace); } },
         "2.500"},
    };
    // clang-format on
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        auto *sb = WidgetAs<QAbstractSpinBox>(p, c.name);
        ASSERT_TRUE(sb);
        SetCtrlVal(p, c.control, c.value);
        ASSERT_EQ(sb->text().toStdString(), c.shown);
        c.type(sb);
        ASSERT_NE(sb->text().toStdString(), c.shown) << "typing changed nothing";
        SetCtrlVal(p, c.control, c.value);
        EXPECT_EQ(sb->text().toStdString(), c.shown);
        double v = -1;
        GetCtrlVal(p, c.control, &v);
        EXPECT_EQ(v, c.value);
    }
}

// ---- serial: which arrivals wake the program -------------------------------------------------

struct Call {
    int events, queued;
};
std::vector<Call> g_calls;
void Note(int port, int events, void *) { g_calls.push_back({events, GetInQLen(port)}); }

TEST_F(RtPump, SerialCallbackOnlyForBytesThatRaiseAnEvent) {
    PtyPeer peer;
    ASSERT_FALSE(peer.Device().empty());
    rt_SetPortTable({peer.Device()});
    ASSERT_EQ(OpenComConfig(1, "", 19200, 0, 8, 1, 4096, 4096), 0);
    ASSERT_EQ(InstallComCallback(1, LWRS_RECEIVE | LWRS_RXFLAG, 36, 0x55, Note, nullptr), 0);
    Pump(0.05);
    g_calls.clear();
    struct Step {
        const char *what;
        std::string bytes;
        std::vector<int> events;
        int queued;
    };
    const std::vector<Step> steps = {
        {"bytes one by one, below the count", std::string(10, 'A'), {}, 10},
        {"the event character below the count", std::string("B\x55", 2), {LWRS_RXFLAG}, 12},
        {"more bytes, still below", std::string(23, 'C'), {}, 35},
        {"the 36th byte", "D", {LWRS_RECEIVE}, 36},
        {"one more byte over the count", "E", {LWRS_RECEIVE}, 37},
    };
    for (const auto &s : steps) {
        SCOPED_TRACE(s.what);
        g_calls.clear();
        // byte by byte, as a paced line delivers them
        for (char ch : s.bytes) {
            peer.Write(std::string(1, ch));
            Pump(0.003);
        }
        Pump(0.1);
        ASSERT_EQ(g_calls.size(), s.events.size());
        for (size_t i = 0; i < s.events.size(); ++i) EXPECT_EQ(g_calls[i].events, s.events[i]);
        EXPECT_EQ(GetInQLen(1), s.queued);
    }
    CloseCom(1);
}

// A frame that comes in 4-byte chunks, as a line at 19200 baud brings it:
// the pump takes its chunks in on the line alone and hands the frame over
// in one return, costing fewer than three passes of the event loop, with
// or without the event character and the output-empty event in the mask.
std::vector<int> g_frameEvents;
void TakeFrame(int port, int events, void *) {
    g_frameEvents.push_back(events);
    if (events & LWRS_RECEIVE) {
        char b[64];
        ComRd(port, b, GetInQLen(port) < 64 ? GetInQLen(port) : 64);
    }
}

TEST_F(RtPump, AFrameInChunksCostsFewPassesAndOneReturn) {
    struct Case {
        const char *what;
        int mask;
    };
    const Case cases[] = {
        {"receive only", LWRS_RECEIVE},
        {"receive, event character, output empty (the program's mask)", 0x8006},
    };
    constexpr int kFrames = 12;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        PtyPeer peer;
        ASSERT_FALSE(peer.Device().empty());
        rt_SetPortTable({peer.Device()});
        ASSERT_EQ(OpenComConfig(1, "", 19200, 0, 8, 1, 4096, 4096), 0);
        ASSERT_EQ(InstallComCallback(1, c.mask, 36, 0x55, TakeFrame, nullptr), 0);
        Pump(0.05);
        long passes = 0;
        for (int f = 0; f < kFrames; ++f) {
            g_frameEvents.clear();
            std::atomic<bool> done{false};
            // no 0x55 in it: the event character must not come
            const std::string frame = std::string("\x00\xAA", 2) + std::string(34, 'A');
            std::thread line([&] {
                for (size_t at = 0; at < frame.size() && !done; at += 4) {
                    peer.Write(frame.substr(at, 4));
                    struct timespec ts = {0, 2000000};
                    nanosleep(&ts, nullptr);
                }
            });
            long p0 = 0, r0 = 0, p1 = 0, r1 = 0;
            rt_PumpCounts(&p0, &r0);
            const double t0 = Now();
            while (g_frameEvents.empty() && Now() - t0 < 2.0) ProcessSystemEvents();
            rt_PumpCounts(&p1, &r1);
            done = true;
            line.join();
            const double span = Now() - t0;
            ASSERT_EQ(g_frameEvents, std::vector<int>{LWRS_RECEIVE}) << "frame " << f;
            passes += p1 - p0;
            // the pump returns at its bound, 25 ms, when a loaded machine
            // stretched the frame beyond it
            if (span < 0.022) { EXPECT_EQ(r1 - r0, 1) << "frame " << f << " in " << span << " s"; }
        }
        EXPECT_LT(static_cast<double>(passes) / kFrames, 3.0) << passes << " passes";
        CloseCom(1);
    }
}

// The event character is handed over as soon as its chunk came, while the
// frame it is in is still incomplete; a frame that stops half way does not
// hold the pump longer than its usual bound.
TEST_F(RtPump, EventCharacterAtOnceAndAStalledFrameDoesNotHoldThePump) {
    PtyPeer peer;
    ASSERT_FALSE(peer.Device().empty());
    rt_SetPortTable({peer.Device()});
    ASSERT_EQ(OpenComConfig(1, "", 19200, 0, 8, 1, 4096, 4096), 0);
    ASSERT_EQ(InstallComCallback(1, 0x8006, 36, 0x55, Note, nullptr), 0);
    Pump(0.05);
    g_calls.clear();
    peer.Write(std::string("\x00\xAA\x01\x02", 4));
    Pump(0.02);
    peer.Write(std::string("\x03\x55\x04\x05", 4));
    // the rest of the frame waits until the program has heard of the 0x55
    const double t0 = Now();
    while (g_calls.empty() && Now() - t0 < 1.0) ProcessSystemEvents();
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].events, LWRS_RXFLAG);
    EXPECT_EQ(g_calls[0].queued, 8);
    // 8 of 36 bytes, and nothing more comes: the pump still returns, long
    // before the frame's 1.5 s time-out would let it
    std::vector<double> gaps;
    double last = Now();
    while (Now() - t0 < 1.2) {
        ProcessSystemEvents();
        const double t = Now();
        gaps.push_back(t - last);
        last = t;
    }
    EXPECT_LT(*std::max_element(gaps.begin(), gaps.end()), 0.6);
    EXPECT_EQ(g_calls.size(), 1u);
    peer.Write(std::string(28, 'Z'));
    const double t1 = Now();
    while (g_calls.size() < 2 && Now() - t1 < 1.0) ProcessSystemEvents();
    ASSERT_EQ(g_calls.size(), 2u);
    EXPECT_EQ(g_calls[1].events, LWRS_RECEIVE);
    EXPECT_EQ(g_calls[1].queued, 36);
    CloseCom(1);
}

// The pump's wait is bounded: a loop polling a clock still sees time pass
// in small steps, and each pass costs little.
TEST_F(RtPump, TimingWaitsAreShortAndCheap) {
    Pump(0.05);
    std::vector<double> gaps;
    double last = Now();
    const double c0 = CpuSeconds(), t0 = last;
    while (Now() - t0 < 1.0) {
        ProcessSystemEvents();
        double t = Now();
        gaps.push_back(t - last);
        last = t;
    }
    const double share = (CpuSeconds() - c0) / (Now() - t0);
    std::sort(gaps.begin(), gaps.end());
    const double median = gaps[gaps.size() / 2];
#ifdef RIDAR_BUSY_PUMP
    GTEST_SKIP() << "busy pump build";
#endif
    EXPECT_GT(median, 0.002) << "the pump did not sleep";
    EXPECT_LT(median, 0.020) << "a wait is longer than a few milliseconds";
    EXPECT_LT(share, 0.05);
}

}   // namespace
