// The serial layer against a scripted peer on a pseudo-terminal, and the
// files/time services.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <cmath>
#include <fstream>
#include <functional>
#include <limits.h>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <time.h>
#include <unistd.h>

#include "tests/support/support.h"
#include "rt/rt.h"
#include "rt/rt_testing.h"

namespace {

// Callbacks seen, and whether each came from inside ProcessSystemEvents.
struct Seen {
    int port, events, queued;
    bool pumping;
};
std::vector<Seen> g_seen;
bool g_pumping = false;
bool g_readInCallback = false;

void Record(int port, int events, void *) {
    g_seen.push_back({port, events, GetInQLen(port), g_pumping});
    if (g_readInCallback) {
        char buf[64];
        ComRd(port, buf, std::min<int>(64, GetInQLen(port)));
    }
}

size_t Receipts() {
    size_t n = 0;
    for (const auto &s : g_seen) n += (s.events & 0x8000) != 0;
    return n;
}

const Seen &Receipt(size_t i) {
    for (const auto &s : g_seen)
        if ((s.events & 0x8000) && i-- == 0) return s;
    static Seen none{};
    return none;
}

// Pump(), marking the callbacks that come from inside it.
void PumpMarked(double seconds) {
    double t0 = Now();
    do {
        g_pumping = true;
        ProcessSystemEvents();
        g_pumping = false;
    } while (Now() - t0 < seconds);
}

class Serial : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static char arg0[] = "test_rt_serial";
        static char *argv[] = {arg0, nullptr};
        started = InitCVIRTE(1, argv) != 0;
    }
    void SetUp() override {
        ASSERT_TRUE(started) << "run-time did not start";
        g_seen.clear();
        g_readInCallback = false;
        ASSERT_FALSE(peer.Device().empty());
        rt_SetPortTable({peer.Device()});
        ASSERT_EQ(OpenComConfig(1, "", 19200, 0, 8, 1, 4096, 4096), 0);
        ASSERT_EQ(SetComTime(1, 1.5), 0);
        ASSERT_EQ(SetCTSMode(1, 0), 0);
    }
    void TearDown() override { CloseCom(1); }
    // waits without pumping until the layer holds n bytes
    int WaitQueued(int n, double seconds = 2.0) {
        double t0 = Now();
        int q = GetInQLen(1);
        while (q >= 0 && q < n && Now() - t0 < seconds) {
            Sleep(1);
            q = GetInQLen(1);
        }
        return q;
    }
    PtyPeer peer;
    static bool started;
};
bool Serial::started = false;

std::string AllBytes() {
    std::string s;
    for (int i = 0; i < 256; ++i) s += static_cast<char>(i);
    return s;
}

TEST_F(Serial, OpenFailuresGiveTheLibraryCodes) {
    const std::string missing = "/dev/kvex-no-such-device";
    rt_SetPortTable({peer.Device(), missing});
    struct Case {
        int port;
        long baud;
        int parity, bits, stop;
        int want;
    } cases[] = {
        {0, 19200, 0, 8, 1, RT_ERR_INVALID_PORT},
        {-1, 19200, 0, 8, 1, RT_ERR_INVALID_PORT},
        {static_cast<int>(rt_PortTable().size()) + 1, 19200, 0, 8, 1, RT_ERR_INVALID_PORT},
        {2, 19200, 0, 8, 1, RT_ERR_CANNOT_OPEN},
        {1, 0, 0, 8, 1, RT_ERR_INVALID_PARAM},
        {1, -9600, 0, 8, 1, RT_ERR_INVALID_PARAM},
        {1, 19200, 5, 8, 1, RT_ERR_INVALID_PARAM},
        {1, 19200, 0, 9, 1, RT_ERR_INVALID_PARAM},
        {1, 19200, 0, 4, 1, RT_ERR_INVALID_PARAM},
        {1, 19200, 0, 8, 3, RT_ERR_INVALID_PARAM},
        {1, 19200, 0, 8, 1, 0},   // reopening an open port
    };
    for (const auto &c : cases) {
        long failsBefore = rt_LinkStats().openFailures;
        EXPECT_EQ(OpenComConfig(c.port, "", c.baud, c.parity, c.bits, c.stop, 4096, 4096), c.want)
            << "port " << c.port << " baud " << c.baud;
        EXPECT_EQ(rt_LinkStats().openFailures - failsBefore, c.want == RT_ERR_CANNOT_OPEN ? 1 : 0);
    }
    EXPECT_EQ(rt_PortDevice(0), "");
    EXPECT_EQ(rt_PortDevice(2), missing);
    EXPECT_EQ(rt_PortDevice(static_cast<int>(rt_PortTable().size()) + 1), "");
}

TEST_F(Serial, EveryCallOnAClosedPortSaysNotOpen) {
    char buf[8] = {0};
    for (int port : {1, 2, 0, 5000}) {
        if (port == 1) { ASSERT_EQ(CloseCom(1), 0); }
        EXPECT_EQ(CloseCom(port), RT_ERR_PORT_NOT_OPEN);
        EXPECT_EQ(ComWrt(port, "x", 1), RT_ERR_PORT_NOT_OPEN);
        EXPECT_EQ(ComRd(port, buf, 1), RT_ERR_PORT_NOT_OPEN);
        EXPECT_EQ(GetInQLen(port), RT_ERR_PORT_NOT_OPEN);
        EXPECT_EQ(GetOutQLen(port), RT_ERR_PORT_NOT_OPEN);
        EXPECT_EQ(rt_WaitOutQEmpty(port), RT_ERR_PORT_NOT_OPEN);
        EXPECT_EQ(FlushInQ(port), RT_ERR_PORT_NOT_OPEN);
        EXPECT_EQ(FlushOutQ(port), RT_ERR_PORT_NOT_OPEN);
        EXPECT_EQ(SetComTime(port, 1.0), RT_ERR_PORT_NOT_OPEN);
        EXPECT_EQ(InstallComCallback(port, 0x8000, 36, 0x55, Record, nullptr),
                  RT_ERR_PORT_NOT_OPEN);
    }
    EXPECT_TRUE(peer.Read(1, 0.1).empty());
}

TEST_F(Serial, PortTableGivenDevicesFirstWithoutDuplicates) {
    rt_SetPortTable({peer.Device(), "/dev/kvex-x", peer.Device()});
    auto t = rt_PortTable();
    ASSERT_GE(t.size(), 2u);
    EXPECT_EQ(t[0], peer.Device());
    EXPECT_EQ(t[1], "/dev/kvex-x");
    for (size_t i = 0; i < t.size(); ++i)
        for (size_t j = i + 1; j < t.size(); ++j) EXPECT_NE(t[i], t[j]);
    for (size_t i = 3; i < t.size(); ++i) EXPECT_LT(t[i - 1], t[i]);   // the scanned rest is sorted
}

TEST_F(Serial, BytesCrossTheLineUnchangedBothWays) {
    const std::string all = AllBytes() + AllBytes();
    EXPECT_EQ(ComWrt(1, all.data(), static_cast<int>(all.size())), 512);
    EXPECT_EQ(peer.Read(512, 1.0), all);
    peer.Write(all);
    ASSERT_EQ(WaitQueued(512), 512);
    char buf[600];
    ASSERT_EQ(ComRd(1, buf, 512), 512);
    EXPECT_EQ(std::string(buf, 512), all);
    EXPECT_EQ(ComWrt(1, nullptr, 5), RT_ERR_INVALID_PARAM);
    EXPECT_EQ(ComWrt(1, "abc", -1), RT_ERR_INVALID_PARAM);
    EXPECT_EQ(ComWrt(1, "abc", 0), 0);
}

TEST_F(Serial, QueueLengthSeesBytesWithoutPumping) {
    peer.Write(std::string(72, 'F'));
    double t0 = Now();
    EXPECT_EQ(WaitQueued(72, 1.0), 72);
    EXPECT_LT(Now() - t0, 0.5);
}

TEST_F(Serial, ReadNeverTakesMoreThanAsked) {
    std::string data;
    for (int i = 0; i < 2000; ++i) data += static_cast<char>(i * 7);
    peer.Write(data);
    ASSERT_EQ(WaitQueued(2000), 2000);
    char buf[1100];
    std::memset(buf, '#', sizeof buf);
    ASSERT_EQ(ComRd(1, buf, 36), 36);
    EXPECT_EQ(std::string(buf, 36), data.substr(0, 36));
    EXPECT_EQ(std::string(buf + 36, 4), "####");
    EXPECT_EQ(GetInQLen(1), 1964);
    ASSERT_EQ(ComRd(1, buf, 1024), 1024);
    EXPECT_EQ(std::string(buf, 1024), data.substr(36, 1024));
    EXPECT_EQ(buf[1024], '#');
    EXPECT_EQ(GetInQLen(1), 940);
    EXPECT_EQ(ComRd(1, buf, 0), 0);
    EXPECT_EQ(ComRd(1, buf, -4), RT_ERR_INVALID_PARAM);
}

TEST_F(Serial, CallbackSettingsOutOfRangeAreRefused) {
    // clang-format off
    struct Case { int mask, count, ch, want; } cases[] = {
        {0x8000, 4097, 0x55, RT_ERR_INVALID_PARAM},  // more than the queue holds
        {0x8000, -1, 0x55, RT_ERR_INVALID_PARAM},
        {0x8002, 36, 256, RT_ERR_INVALID_PARAM},
        {0x8002, 36, -1, RT_ERR_INVALID_PARAM},
        {0x8006, 36, 0x55, 0},
        {0, 0, 0, 0},
    };
    // clang-format on
    for (const auto &c : cases)
        EXPECT_EQ(InstallComCallback(1, c.mask, c.count, c.ch, Record, nullptr), c.want)
            << c.mask << " " << c.count << " " << c.ch;
}

TEST_F(Serial, FlushInQDropsQueuedAndUnreadInput) {
    peer.Write(std::string(100, 'a'));
    ASSERT_EQ(WaitQueued(100), 100);
    peer.Write(std::string(50, 'b'));   // still with the OS
    Sleep(50);
    ASSERT_EQ(SetComTime(1, 0.2), 0);
    ASSERT_EQ(FlushInQ(1), 0);
    EXPECT_EQ(GetInQLen(1), 0);
    PumpMarked(0.05);
    EXPECT_EQ(GetInQLen(1), 0);
    peer.Write("xyz");
    ASSERT_EQ(WaitQueued(3), 3);
    char buf[8];
    ASSERT_EQ(ComRd(1, buf, 8), 3);   // waits the time-out for the rest
    EXPECT_EQ(std::string(buf, 3), "xyz");
}

// A pseudo-terminal hands the bytes on at once, but a line needs its time
// for them: until then a flush of the output queue would drop them.
TEST_F(Serial, OutputQueueHoldsWhatTheLineHasNotSentYet) {
    struct Case {
        long baud;
        int parity;
        int bits;
        int stop;
        int count;
        double lineTime;
    } cases[] = {
        {19200, 0, 8, 1, 36, 36 * 10 / 19200.0},   // 18.75 ms, a frame
        {9600, 0, 8, 1, 36, 36 * 10 / 9600.0},     // 37.5 ms
        {38400, 0, 8, 1, 200, 200 * 10 / 38400.0},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(CloseCom(1), 0);
        ASSERT_EQ(OpenComConfig(1, "", c.baud, c.parity, c.bits, c.stop, 4096, 4096), 0) << c.baud;
        EXPECT_EQ(GetOutQLen(1), 0) << c.baud;
        const std::string bytes(static_cast<size_t>(c.count), 'f');
        const double t0 = Now();
        ASSERT_EQ(ComWrt(1, bytes.data(), c.count), c.count);
        const int queued = GetOutQLen(1);
        EXPECT_GT(queued, c.count * 3 / 4) << c.baud;
        EXPECT_LE(queued, c.count) << c.baud;
        EXPECT_EQ(rt_WaitOutQEmpty(1), 0) << c.baud;
        const double took = Now() - t0;
        EXPECT_GE(took, c.lineTime * 0.95) << c.baud;
        EXPECT_LT(took, c.lineTime + 0.5) << c.baud;
        EXPECT_EQ(GetOutQLen(1), 0) << c.baud;
        EXPECT_EQ(peer.Read(static_cast<size_t>(c.count) + 1, 0.2), bytes) << c.baud;
    }
    // a second write queues behind the first
    ASSERT_EQ(ComWrt(1, "0123456789", 10), 10);
    ASSERT_EQ(ComWrt(1, "0123456789", 10), 10);
    EXPECT_GT(GetOutQLen(1), 15);
    EXPECT_EQ(rt_WaitOutQEmpty(1), 0);
    EXPECT_EQ(peer.Read(21, 0.2).size(), 20u);
}

// The speed, framing and handshake a caller names reach the driver (the
// master side of a pseudo-terminal reads its slave's settings; the
// pseudo-terminal itself keeps 8 bits without a parity bit, so the kind of
// parity and the stop bits tell); a speed the driver has no setting for is
// refused with the reason.
TEST_F(Serial, LineSettingsReachTheDriver) {
    const tcflag_t mask = PARODD | CMSPAR | CSTOPB | CRTSCTS;
    struct Case {
        long baud;
        int parity, bits, stop;
        speed_t speed;
        tcflag_t cflag;
    } cases[] = {
        {19200, 0, 8, 1, B19200, 0},
        {9600, 2, 7, 2, B9600, CSTOPB},                // even
        {38400, 1, 8, 1, B38400, PARODD},              // odd
        {115200, 3, 5, 1, B115200, PARODD | CMSPAR},   // mark
        {1200, 4, 6, 2, B1200, CMSPAR | CSTOPB},       // space
    };
    termios t;
    for (const Case &c : cases) {
        CloseCom(1);
        ASSERT_EQ(OpenComConfig(1, "", c.baud, c.parity, c.bits, c.stop, 4096, 4096), 0) << c.baud;
        ASSERT_EQ(tcgetattr(peer.Fd(), &t), 0);
        EXPECT_EQ(cfgetospeed(&t), c.speed) << c.baud;
        EXPECT_EQ(t.c_cflag & mask, c.cflag) << c.baud;
    }
    ASSERT_EQ(SetCTSMode(1, 1), 0);
    ASSERT_EQ(tcgetattr(peer.Fd(), &t), 0);
    EXPECT_EQ(t.c_cflag & CRTSCTS, static_cast<tcflag_t>(CRTSCTS));
    ASSERT_EQ(SetCTSMode(1, 0), 0);
    ASSERT_EQ(tcgetattr(peer.Fd(), &t), 0);
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
    CloseCom(1);
    EXPECT_EQ(OpenComConfig(1, "", 12345, 0, 8, 1, 4096, 4096), RT_ERR_CANNOT_OPEN);
    EXPECT_EQ(
        rt_OpenFault(),
        peer.Device() + ": cannot set the line (12345 baud is not a speed of the serial driver)");
    ASSERT_EQ(OpenComConfig(1, "", 19200, 0, 8, 1, 4096, 4096), 0);
}

TEST_F(Serial, BlockingReadWaitsForTheRestUpToTheTimeout) {
    ASSERT_EQ(SetComTime(1, 0.6), 0);
    ASSERT_EQ(InstallComCallback(1, 0x8000, 1, 0x55, Record, nullptr), 0);
    char buf[64];
    // clang-format off
    struct Case { std::string now, later; int want; double minT, maxT; } cases[] = {
        {std::string(36, 'U'), "", 36, 0.0, 0.5},             // all there: no wait
        {std::string(10, 'U'), "", 10, 0.59, 1.1},            // short: the whole time-out
        {std::string(10, 'U'), std::string(26, 'V'), 36, 0.09, 0.45}, // rest comes in time
    };
    // clang-format on
    for (const auto &c : cases) {
        FlushInQ(1);
        peer.Write(c.now);
        ASSERT_EQ(WaitQueued(static_cast<int>(c.now.size())), static_cast<int>(c.now.size()));
        std::thread late;
        if (!c.later.empty())
            late = std::thread([&] {
                usleep(100000);
                peer.Write(c.later);
            });
        double t0 = Now();
        EXPECT_EQ(ComRd(1, buf, 36), c.want);
        double took = Now() - t0;
        if (late.joinable()) late.join();
        EXPECT_GE(took, c.minT);
        EXPECT_LE(took, c.maxT);
        EXPECT_EQ(std::string(buf, c.want), (c.now + c.later).substr(0, c.want));
    }
    EXPECT_TRUE(g_seen.empty()) << "callback ran inside a read";
}

TEST_F(Serial, CallbackRunsOnlyFromTheEventPump) {
    ASSERT_EQ(InstallComCallback(1, 0x8006, 36, 0x55, Record, nullptr), 0);
    long framesBefore = rt_LinkStats().framesNotified;
    peer.Write(std::string(20, 'A'));
    PumpMarked(0.15);
    EXPECT_EQ(Receipts(), 0u) << "fewer than the notify count";

    // Enough bytes, but nothing pumps: the calls that touch the queue must
    // not run the callback themselves.
    peer.Write(std::string(15, 'B') + "\x55");
    EXPECT_EQ(WaitQueued(36), 36);
    EXPECT_EQ(ComWrt(1, "ping", 4), 4);
    char buf[4];
    EXPECT_EQ(ComRd(1, buf, 0), 0);
    ASSERT_EQ(InstallComCallback(1, 0x8006, 36, 0x55, Record, nullptr), 0);
    EXPECT_TRUE(g_seen.empty());

    PumpMarked(0.15);
    ASSERT_EQ(Receipts(), 1u);
    const Seen &first = Receipt(0);
    EXPECT_EQ(first.port, 1);
    EXPECT_EQ(first.events & 0x8002, 0x8002);
    EXPECT_EQ(first.queued, 36);
    EXPECT_EQ(rt_LinkStats().framesNotified - framesBefore, 1);
    int allEvents = 0;
    for (const auto &s : g_seen) allEvents |= s.events;
    EXPECT_EQ(allEvents, 0x8006);   // the write emptied the output queue

    // the bytes stay queued: no second call until more arrive
    PumpMarked(0.15);
    EXPECT_EQ(Receipts(), 1u);
    peer.Write("C");
    PumpMarked(0.15);
    ASSERT_EQ(Receipts(), 2u);
    EXPECT_EQ(Receipt(1).events, 0x8000);
    EXPECT_EQ(Receipt(1).queued, 37);
    for (const auto &s : g_seen) EXPECT_TRUE(s.pumping);
}

TEST_F(Serial, CallbackGetsOnlyMaskedEventsAndCanBeSuspended) {
    struct Case {
        int mask;
        std::string bytes;
        bool write;
        int want;
    } cases[] = {
        {0x8000, std::string(36, 0x55), false, 0x8000},
        {0x0002, "\x55", false, 0x0002},
        {0x0002, "abc", false, 0},
        {0x0004, "", true, 0x0004},
        {0x8004, "", true, 0x0004},
        {0x0000, std::string(40, 0x55), true, 0},
    };
    for (const auto &c : cases) {
        FlushInQ(1);
        PumpMarked(0.03);
        g_seen.clear();
        g_readInCallback = true;   // leave nothing queued
        ASSERT_EQ(InstallComCallback(1, c.mask, 36, 0x55, Record, nullptr), 0);
        if (c.write) { EXPECT_EQ(ComWrt(1, "abcd", 4), 4); }
        if (!c.bytes.empty()) peer.Write(c.bytes);
        PumpMarked(0.15);
        peer.Read(100, 0.01);
        if (c.want == 0) {
            EXPECT_TRUE(g_seen.empty()) << "mask " << c.mask;
        } else {
            ASSERT_FALSE(g_seen.empty()) << "mask " << c.mask;
            EXPECT_EQ(g_seen[0].events, c.want) << "mask " << c.mask;
        }
    }
}

TEST_F(Serial, UnplugClosesThePortQuietlyAndItCanBeOpenedAgain) {
    ASSERT_EQ(InstallComCallback(1, 0x8006, 36, 0x55, Record, nullptr), 0);
    peer.Close();
    // noticed from the event loop alone
    double t0 = Now();
    while (Now() - t0 < 1.0 && GetInQLen(1) >= 0) PumpMarked(0.02);
    EXPECT_EQ(GetInQLen(1), RT_ERR_PORT_NOT_OPEN);
    EXPECT_EQ(ComWrt(1, "x", 1), RT_ERR_PORT_NOT_OPEN);
    char buf[4];
    EXPECT_EQ(ComRd(1, buf, 4), RT_ERR_PORT_NOT_OPEN);
    EXPECT_TRUE(g_seen.empty());

    double cpu0 = CpuSeconds();
    PumpMarked(1.0);
    EXPECT_LT(CpuSeconds() - cpu0, 0.3) << "spins after the device went away";

    PtyPeer again;
    rt_SetPortTable({again.Device()});
    long failsBefore = rt_LinkStats().openFailures;
    ASSERT_EQ(OpenComConfig(1, "", 19200, 0, 8, 1, 4096, 4096), 0);
    EXPECT_EQ(rt_LinkStats().openFailures, failsBefore);
    ASSERT_EQ(InstallComCallback(1, 0x8000, 36, 0x55, Record, nullptr), 0);
    EXPECT_EQ(ComWrt(1, "hello", 5), 5);
    EXPECT_EQ(again.Read(5, 1.0), "hello");
    again.Write(MakeFrame(0xAA, 5, {1, 2, 3}));
    PumpMarked(0.2);
    ASSERT_EQ(g_seen.size(), 1u);
    EXPECT_EQ(g_seen[0].queued, 36);
}

TEST_F(Serial, UnplugSeenByACallerThatDoesNotPump) {
    peer.Close();
    double t0 = Now();
    int q = 0;
    while (Now() - t0 < 1.0 && (q = GetInQLen(1)) >= 0) Sleep(5);
    EXPECT_EQ(q, RT_ERR_PORT_NOT_OPEN);
    EXPECT_EQ(CloseCom(1), RT_ERR_PORT_NOT_OPEN);
}

TEST_F(Serial, DelayAndSleepPumpNothing) {
    ASSERT_EQ(InstallComCallback(1, 0x8000, 1, 0, Record, nullptr), 0);
    peer.Write("abc");
    ASSERT_EQ(WaitQueued(3), 3);
    struct Case {
        std::function<void()> wait;
        double secs;
    } cases[] = {
        {[] { Delay(0.12); }, 0.12},
        {[] { Sleep(120); }, 0.12},
        {[] { Delay(-1.0); }, 0.0},
        {[] { Delay(std::nan("")); }, 0.0},
    };
    for (const auto &c : cases) {
        double t0 = Timer();
        c.wait();
        double took = Timer() - t0;
        EXPECT_GE(took, c.secs);
        EXPECT_LT(took, c.secs + 0.5);
    }
    EXPECT_TRUE(g_seen.empty());
    PumpMarked(0.05);
    EXPECT_EQ(g_seen.size(), 1u);
}

// ---- files and time ---------------------------------------------------------

TEST(Files, MakePathnameFitsOrFailsTerminated) {
    // clang-format off
    struct Case { const char *dir, *name; int size; int ret; const char *want; } cases[] = {
        {"/a", "b", 5, 0, "/a/b"},
        {"/a", "b", 4, -1, ""},
        {"/a/", "b", 5, 0, "/a/b"},
        {"", "RECORD.DAT", 11, 0, "RECORD.DAT"},
        {"/tmp", "", 6, 0, "/tmp/"},
        {nullptr, "b", 8, -1, ""},
        {"/a", nullptr, 8, -1, ""},
    };
    // clang-format on
    for (const auto &c : cases) {
        char buf[16];
        std::memset(buf, '#', sizeof buf);
        EXPECT_EQ(MakePathname(c.dir, c.name, buf, c.size) < 0, c.ret < 0) << c.want;
        EXPECT_STREQ(buf, c.want);
        for (int i = c.size; i < 16; ++i) EXPECT_EQ(buf[i], '#') << "wrote past " << c.size;
    }
    char one = '#';
    EXPECT_LT(MakePathname("/a", "b", &one, 0), 0);
    EXPECT_EQ(one, '#');
}

TEST(Files, ProjectDirIsTheExecutablesDirectory) {
    char exe[PATH_MAX + 1];
    ssize_t n = readlink("/proc/self/exe", exe, PATH_MAX);
    ASSERT_GT(n, 0);
    std::string want(exe, static_cast<size_t>(n));
    want = want.substr(0, want.rfind('/'));
    char buf[PATH_MAX];
    ASSERT_EQ(GetProjectDir(buf, sizeof buf), 0);
    EXPECT_EQ(std::string(buf), want);
    char small[8];
    std::memset(small, '#', sizeof small);
    EXPECT_LT(GetProjectDir(small, 4), 0);
    EXPECT_EQ(small[0], '\0');
    EXPECT_EQ(small[4], '#');
}

TEST(Files, FileInfoAndDelete) {
    char dir[] = "/tmp/rtfilesXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string f = std::string(dir) + "/five.dat";
    std::ofstream(f) << "12345";
    long size = -1;
    EXPECT_EQ(GetFileInfo(f.c_str(), &size), 1);
    EXPECT_EQ(size, 5);
    size = -1;
    EXPECT_EQ(GetFileInfo(dir, &size), 0);   // a directory is not a file
    EXPECT_EQ(size, 0);
    EXPECT_EQ(GetFileInfo((f + "x").c_str(), &size), 0);
    EXPECT_EQ(GetFileInfo(nullptr, nullptr), 0);
    EXPECT_EQ(CVI_DeleteFile(f.c_str()), 0);
    EXPECT_EQ(GetFileInfo(f.c_str(), &size), 0);
    EXPECT_LT(CVI_DeleteFile(f.c_str()), 0);
    EXPECT_LT(CVI_DeleteFile(nullptr), 0);
    rmdir(dir);
}

TEST(Time, DateAndTimeTextsOfLocalTime) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        time_t t0 = time(nullptr);
        std::string d = DateStr(), tm = TimeStr();
        time_t t1 = time(nullptr);
        if (t0 != t1) continue;   // a second ticked in between
        struct tm lt;
        localtime_r(&t0, &lt);
        char wantD[16], wantT[16];
        strftime(wantD, sizeof wantD, "%m-%d-%Y", &lt);
        strftime(wantT, sizeof wantT, "%H:%M:%S", &lt);
        EXPECT_EQ(d, wantD);
        EXPECT_EQ(tm, wantT);
        EXPECT_TRUE(std::regex_match(d, std::regex("[01][0-9]-[0-3][0-9]-[0-9]{4}")));
        EXPECT_TRUE(std::regex_match(tm, std::regex("[0-2][0-9]:[0-5][0-9]:[0-6][0-9]")));
        return;
    }
    FAIL() << "clock kept ticking";
}

TEST(Time, TimerIsMonotonicSeconds) {
    double a = Timer();
    usleep(50000);
    double b = Timer();
    EXPECT_GE(b - a, 0.05);
    EXPECT_LT(b - a, 0.3);
}

}   // namespace

// ---- the simulator as a child ----------------------------------------------

namespace {

class Simulator : public Serial {
protected:
    void SetUp() override { ASSERT_TRUE(started) << "run-time did not start"; }
    void TearDown() override {
        CloseCom(1);
        rt_StopSimulator();
    }
};

bool Exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

TEST_F(Simulator, StartsOnAPseudoTerminalAndAnswers) {
    std::string dev = rt_StartSimulator({});
    ASSERT_FALSE(dev.empty());
    ASSERT_TRUE(Exists(dev));
    rt_SetPortTable({dev});
    ASSERT_EQ(OpenComConfig(1, "", 19200, 0, 8, 1, 4096, 4096), 0);
    ASSERT_EQ(SetComTime(1, 1.5), 0);
    std::string echo = MakeFrame(0x55, 5, {});
    ASSERT_EQ(ComWrt(1, echo.data(), 36), 36);
    char buf[40];
    ASSERT_EQ(ComRd(1, buf, 36), 36);
    EXPECT_EQ(buf[0], 0x00);
    EXPECT_EQ(static_cast<unsigned char>(buf[1]), 0xAA);

    rt_StopSimulator();
    double t0 = Now();
    while (Exists(dev) && Now() - t0 < 2.0) Sleep(10);
    EXPECT_FALSE(Exists(dev));
}

TEST_F(Simulator, ASimulatorThatFailsToStartGivesNoDevice) {
    double t0 = Now();
    EXPECT_EQ(rt_StartSimulator({"--no-such-option"}), "");
    EXPECT_LT(Now() - t0, 5.5);
}

// Run in a child copy of this test program, which the parent then kills.
TEST_F(Simulator, ChildOfAKilledProgram) {
    const char *out = getenv("RT_SIM_CHILD_OUT");
    if (!out) GTEST_SKIP() << "only as the child of EndsWhenTheProgramIsKilled";
    std::string dev = rt_StartSimulator({});
    std::ofstream(out) << dev << "\n";
    Sleep(30000);
}

TEST_F(Simulator, EndsWhenTheProgramIsKilled) {
    char outName[] = "/tmp/rtsimXXXXXX";
    int fd = mkstemp(outName);
    ASSERT_GE(fd, 0);
    close(fd);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        setenv("RT_SIM_CHILD_OUT", outName, 1);
        // a simulator that outlives us must not hold the runner's pipes
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execl("/proc/self/exe", "test_rt_serial", "--gtest_filter=Simulator.ChildOfAKilledProgram",
              static_cast<char *>(nullptr));
        _exit(127);
    }
    std::string dev;
    double t0 = Now();
    while (dev.empty() && Now() - t0 < 10.0) {
        Sleep(20);
        std::ifstream in(outName);
        std::getline(in, dev);
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    unlink(outName);
    ASSERT_FALSE(dev.empty());
    t0 = Now();
    while (Exists(dev) && Now() - t0 < 3.0) Sleep(10);
    EXPECT_FALSE(Exists(dev)) << "the simulator outlived its parent";
}

}   // namespace

namespace {

// A pseudo-terminal refuses the low-latency request: the port opens and
// works as before. The adapter's latency timer is read from sysfs (a fake
// directory here) under the device's own name, as it reads after opening.
TEST_F(Serial, LowLatencyRefusedByAPtyAndAdapterTimerFromSysfs) {
    CloseCom(1);
    char dirTemplate[] = "/tmp/ridar-sysfs-XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    const std::string dir = dirTemplate;
    const std::string tty = peer.Device().substr(peer.Device().rfind('/') + 1);
    ASSERT_EQ(mkdir((dir + "/" + tty).c_str(), 0755), 0);
    struct Case {
        const char *content;   // nullptr: no latency_timer file
        int timerMs;
    } cases[] = {
        {"16\n", 16}, {"1\n", 1},        {"0", 0},     {nullptr, -1},
        {"", -1},     {"sixteen\n", -1}, {"-3\n", -1}, {"99999999999999999999\n", -1},
    };
    setenv("RIDAR_USB_SERIAL_SYSFS", dir.c_str(), 1);
    for (const Case &c : cases) {
        const std::string file = dir + "/" + tty + "/latency_timer";
        std::remove(file.c_str());
        if (c.content) std::ofstream(file) << c.content;
        ASSERT_EQ(OpenComConfig(1, "", 19200, 0, 8, 1, 4096, 4096), 0)
            << (c.content ? c.content : "none");
        const RtPortLatency l = rt_PortLatency(1);
        EXPECT_EQ(l.lowLatency, 0);
        EXPECT_EQ(l.timerMs, c.timerMs) << (c.content ? c.content : "none");
        // the port works as before
        ASSERT_EQ(ComWrt(1, "ab", 2), 2);
        EXPECT_EQ(peer.Read(2, 1.0), "ab");
        peer.Write("xyz");
        EXPECT_EQ(WaitQueued(3), 3);
        char buf[8];
        EXPECT_EQ(ComRd(1, buf, 3), 3);
        CloseCom(1);
    }
    unsetenv("RIDAR_USB_SERIAL_SYSFS");
    // no sysfs entry at all: no timer; a closed port has nothing to say
    ASSERT_EQ(OpenComConfig(1, "", 19200, 0, 8, 1, 4096, 4096), 0);
    EXPECT_EQ(rt_PortLatency(1).timerMs, -1);
    CloseCom(1);
    EXPECT_EQ(rt_PortLatency(1).timerMs, -1);
    EXPECT_EQ(rt_PortLatency(1).lowLatency, 0);
    std::system(("rm -rf '" + dir + "'").c_str());
    ASSERT_EQ(OpenComConfig(1, "", 19200, 0, 8, 1, 4096, 4096), 0);
}

}   // namespace

namespace {

// A sensor at 19200 baud: the frame in 4-byte chunks, 2.08 ms apart.
void SendPaced(PtyPeer &peer, const std::string &frame) {
    const double byteTime = 10.0 / 19200;
    for (size_t i = 0; i < frame.size(); i += 4) {
        peer.Write(frame.substr(i, 4));
        usleep(static_cast<useconds_t>(4 * byteTime * 1e6));
    }
}

// While a frame is incomplete the pump does not come back for each chunk:
// fewer than three returns per 36-byte frame, the event character still
// reported at once, and a time-out still seen on time.
TEST_F(Serial, PumpReturnsOncePerFrameNotPerChunk) {
    std::string frame = MakeFrame(0x00AA, 2, std::vector<int>(16, 0x1234));
    struct Case {
        const char *name;
        int mask;
        std::string frame;
        int eventAt;   // the event character's byte, -1: none
    } cases[] = {
        {"count only", 0x8000, frame, -1},
        {"as the program installs it, no event character", 0x8006, frame, -1},
        {"event character inside the frame", 0x8002, MakeFrame(0x00AA, 2, {0x1234, 0x5501}), 8},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const int frames = 8;
        long returns = 0;
        int got = 0;
        double rxflagQueued = -1;
        ASSERT_EQ(InstallComCallback(1, c.mask, 36, 0x55, Record, nullptr), 0);
        for (int f = 0; f < frames; ++f) {
            g_seen.clear();
            FlushInQ(1);
            std::thread sensor([&] { SendPaced(peer, c.frame); });
            const double t0 = Now();
            while (Receipts() == 0 && Now() - t0 < 1.0) {
                ProcessSystemEvents();
                ++returns;
            }
            sensor.join();
            got += Receipts() == 1;
            for (const Seen &s : g_seen)
                if (s.events & 0x0002) rxflagQueued = s.queued;
            char buf[64];
            ComRd(1, buf, GetInQLen(1));
        }
        EXPECT_EQ(got, frames);
        EXPECT_LT(static_cast<double>(returns) / frames, 3.0)
            << returns << " returns for " << frames << " frames";
        if (c.eventAt >= 0) {
            // reported before the frame was complete
            EXPECT_GE(rxflagQueued, c.eventAt);
            EXPECT_LT(rxflagQueued, 36);
        }
    }
    // the sensor falls silent: a 1.5 s wait ends on time
    ASSERT_EQ(InstallComCallback(1, 0x8006, 36, 0x55, Record, nullptr), 0);
    g_seen.clear();
    peer.Write(frame.substr(0, 20));
    const double t0 = Now();
    while (Receipts() == 0 && Now() - t0 < 1.5) ProcessSystemEvents();
    const double took = Now() - t0;
    EXPECT_GE(took, 1.5);
    EXPECT_LT(took, 1.5 + 0.5);
    // other events are not held back while a frame is incomplete
    bool fired = false;
    double firedAt = 0;
    rt_After(0.005, [&] {
        fired = true;
        firedAt = Now();
    });
    const double t1 = Now();
    while (!fired && Now() - t1 < 1.0) ProcessSystemEvents();
    EXPECT_TRUE(fired);
    EXPECT_LT(Now() - firedAt, 0.5);   // not held until a frame completes
    EXPECT_EQ(Receipts(), 0u);
    InstallComCallback(1, 0, 36, 0x55, nullptr, nullptr);
}

}   // namespace
