// Video blocks and video mode over a pseudo-terminal: a scripted peer where
// the bytes must be controlled, kvex-sim for the real line.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <iostream>
#include <memory>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/support.h"
#include "rt/rt_testing.h"
#include "app/app.h"
#include "display/display.h"
#include "params/vars.h"

namespace {

std::string Words(const uint16_t *w, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) {
        s.push_back(static_cast<char>(w[i] >> 8));
        s.push_back(static_cast<char>(w[i] & 0xFF));
    }
    return s;
}

int Word(const std::string &s, int byte) {
    return static_cast<unsigned char>(s[byte]) * 256 + static_cast<unsigned char>(s[byte + 1]);
}

// Runs fn from the event loop every `s` seconds until it returns true.
void Every(double s, std::function<bool()> fn) {
    rt_After(s, [s, fn] {
        if (!fn()) Every(s, fn);
    });
}

// The video line a scripted sensor serves in pass p.
uint16_t LineSample(int pass, int i) { return static_cast<uint16_t>(pass * 1000 + i * 3 + 1); }

// A scripted sensor on the master side of a pty: answers order 8 with a
// measurement frame, orders 9 and 11 with the blocks of the current video
// line, each as the test's policy says.
class FakeSensor {
public:
    struct Policy {
        // reply bytes for a block request; default: the full block
        std::function<std::string(int order, int start, int pass)> block;
        // false: stay silent to this order 8 (pass counts from 1)
        std::function<bool(int pass)> answer8 = [](int) { return true; };
        double delay8 = 0.0;   // before answering order 8 in pass delay8Pass
        int delay8Pass = 0;
        double gap = 0.0;   // >0: a block comes in two halves this far apart
    };

    explicit FakeSensor(Policy p) : policy_(std::move(p)) {
        th_ = std::thread([this] { Loop(); });
    }
    ~FakeSensor() {
        quit_ = true;
        th_.join();
    }
    const std::string &Device() const { return peer_.Device(); }
    std::vector<std::string> Requests() {
        std::lock_guard<std::mutex> l(m_);
        return requests_;
    }
    std::vector<Clock::time_point> Times() {
        std::lock_guard<std::mutex> l(m_);
        return times_;
    }
    // Writes from the test's thread (the peer's thread only reads meanwhile).
    void Send(const std::string &bytes) { peer_.Write(bytes); }
    int Passes() const { return passes_; }
    std::atomic<bool> waiting8{false};   // holding back the delayed order 8 reply

    static std::string Meas(int pass) {
        // Ledge, Redge, Mvalue, um lo, um hi, tVal, tol, edcnt, mvstart, mvend
        return MakeFrame(0x00AA, 8,
                         {400 + pass, 1400 + pass, 1000 + pass, 5000, 0, 1000, 20, 2, 100, 100, 0,
                          0, 0, 0, 0, 0});
    }

private:
    void Loop() {
        std::string buf;
        while (!quit_) {
            buf += peer_.Read(36 - buf.size(), 0.02);
            if (buf.size() < 36) continue;
            std::string req = buf.substr(0, 36);
            buf.clear();
            {
                std::lock_guard<std::mutex> l(m_);
                requests_.push_back(req);
                times_.push_back(Clock::now());
            }
            int ord = Word(req, 2);
            if (ord == 8) {
                int pass = ++passes_;
                if (pass == policy_.delay8Pass && policy_.delay8 > 0) {
                    waiting8 = true;
                    std::this_thread::sleep_for(std::chrono::duration<double>(policy_.delay8));
                    waiting8 = false;
                }
                if (policy_.answer8(pass)) peer_.Write(Meas(pass));
            } else if (ord == 9 || ord == 11) {
                int start = ord == 9 ? Word(req, 4) : 0;
                int n = ord == 9 ? 64 : 256;
                std::string out;
                if (policy_.block) {
                    out = policy_.block(ord, start, passes_);
                } else {
                    uint16_t w[256];
                    for (int i = 0; i < n; ++i) w[i] = LineSample(passes_, start + i);
                    out = Words(w, n);
                }
                if (policy_.gap > 0 && out.size() > 1) {
                    peer_.Write(out.substr(0, out.size() / 2));
                    std::this_thread::sleep_for(std::chrono::duration<double>(policy_.gap));
                    peer_.Write(out.substr(out.size() / 2));
                } else if (!out.empty()) {
                    peer_.Write(out);
                }
            }
        }
    }

    Policy policy_;
    PtyPeer peer_;
    std::thread th_;
    std::atomic<bool> quit_{false};
    std::atomic<int> passes_{0};
    std::mutex m_;
    std::vector<std::string> requests_;
    std::vector<Clock::time_point> times_;
};

class Video : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(StartRidarForTest()); }
    void TearDown() override { CloseCom(com); }
    // Opens port 1 on the device; with `callback` the frame callback is on.
    static void Open(const std::string &device, bool callback) {
        rt_SetPortTable({device});
        com = 1;
        ASSERT_GE(OpenComConfig(com, "", 19200, 0, 8, 1, 4096, 4096), 0);
        SetComTime(com, TIMEOUT);
        FlushInQ(com);
        FlushOutQ(com);
        if (callback) InstallComCallback(com, eventMask, 36, 0x55, RX_Receive_Function, nullptr);
    }
    static void Fill(uint16_t v) {
        for (auto &a : adcbuf) a = v;
    }
};

// ---------------------------------------------------------------- blocks

struct BlockCase {
    const char *name;
    int start;      // -1: ReadData256
    int bytes;      // reply length, 0 silent
    double gapAt;   // >0: the reply comes in two parts, the second after this many seconds
    const char *status;
    int decoded;   // words that must change
};

TEST_F(Video, BlocksDecodeOnlyWhatArrived) {
    const BlockCase cases[] = {
        {"64 complete", 0, 128, 0, "Data[64] block received!", 64},
        {"64 complete at 192", 192, 128, 0, "Data[64] block received!", 64},
        {"64 in two parts", 64, 128, 0.3, "Data[64] block received!", 64},
        {"64 silent", 64, 0, 0, "Timeout-RS-232 while reading 64 data-words!", 0},
        {"64 short, odd", 128, 101, 0, "Timeout-RS-232 while reading 64 data-words!", 50},
        {"64 plus two", 0, 130, 0, "previous", 64},
        {"64 past the buffer", 0, 1500, 0, "previous", 64},
        {"256 complete", -1, 512, 0, "Data[256] block received!", 256},
        {"256 short", -1, 300, 0, "Timeout-RS-232 while reading 256 data-words!", 150},
        {"256 silent", -1, 0, 0, "Timeout-RS-232 while reading 256 data-words!", 0},
        {"256 plus more", -1, 600, 0, "previous", 256},
        {"256 past the buffer", -1, 2000, 0, "previous", 256},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const int n = c.start < 0 ? 256 : 64;
        const int first = c.start < 0 ? 0 : c.start;
        std::string reply;
        for (int i = 0; i < c.bytes; ++i) reply.push_back(static_cast<char>((i * 7 + 3) & 0xFF));

        FakeSensor::Policy p;
        p.block = [&](int, int, int) { return reply; };
        p.gap = c.gapAt;
        FakeSensor s(p);
        Open(s.Device(), false);
        Fill(0xBEEF);
        std::snprintf(szStatus, sizeof szStatus, "previous");
        SetCtrlVal(pHandle, PANEL_TEXTStatus, "before");
        // may fire after this case when the reply is quick: owns its result
        auto during = std::make_shared<std::string>();
        rt_After(0.1, [during] { *during = StatusLine(); });

        auto t0 = Clock::now();
        int r = c.start < 0 ? ReadData256() : ReadData64(c.start, 0);
        double took = Since(t0);
        EXPECT_EQ(r, 1);

        auto req = s.Requests();
        ASSERT_EQ(req.size(), 1u);
        std::string want = MakeFrame(0x0055, c.start < 0 ? 11 : 9, {c.start < 0 ? 0 : c.start, 0});
        EXPECT_EQ(req[0], want);
        EXPECT_EQ(order, c.start < 0 ? 11 : 9);
        EXPECT_EQ(nBytesW, 36);

        if (c.bytes == 0 || (c.bytes < n * 2 && c.gapAt == 0)) {
            EXPECT_GT(took, 1.5);
            EXPECT_LT(took, 1.5 + 0.5);
            EXPECT_EQ(*during,
                      c.start < 0 ? "Waiting for Data[256] ..." : "Waiting for Data[64] ...");
        }
        EXPECT_STREQ(szStatus, c.status);
        EXPECT_EQ(StatusLine(), c.status);
        EXPECT_LE(nBytesR, 1024);
        for (int i = 0; i < 256; ++i) {
            int k = i - first;
            if (k >= 0 && k < c.decoded) ASSERT_EQ(adcbuf[i], Word(reply, 2 * k)) << "sample " << i;
            else ASSERT_EQ(adcbuf[i], 0xBEEF) << "sample " << i;
        }
        CloseCom(com);
    }
}

TEST_F(Video, BlockSecondWordAndStaleBufferNotUsed) {
    FakeSensor::Policy p;
    p.block = [](int, int, int) { return std::string(40, '\x11'); };
    FakeSensor s(p);
    Open(s.Device(), false);
    // an earlier reception left other bytes in the buffer
    std::memset(szReadBuf, 0x77, sizeof szReadBuf);
    Fill(5);
    ReadData64(64, 0x1234);
    auto req = s.Requests();
    ASSERT_EQ(req.size(), 1u);
    EXPECT_EQ(req[0], MakeFrame(0x0055, 9, {64, 0x1234}));
    for (int i = 0; i < 256; ++i) ASSERT_EQ(adcbuf[i], (i >= 64 && i < 84) ? 0x1111 : 5) << i;
}

// ---------------------------------------------------------------- video mode

struct PassLog {
    std::vector<int> orders;   // order of every request
    std::vector<int> starts;   // word 0 of every order 9/11 request
};

PassLog Log(const std::vector<std::string> &req) {
    PassLog l;
    for (const auto &r : req) {
        l.orders.push_back(Word(r, 2));
        if (Word(r, 2) != 8) l.starts.push_back(Word(r, 4));
    }
    return l;
}

TEST_F(Video, BoardKindsAndWholeLoop) {
    struct C {
        uint16_t pcb;
        std::vector<int> pass;
        std::vector<int> starts;
    } cases[] = {
        {0, {8, 9, 9, 9, 9}, {0, 64, 128, 192}},
        {100, {8, 9, 9, 9, 9}, {0, 64, 128, 192}},
        {1, {8, 11}, {0}},
        {7, {8, 11}, {0}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("pcbtype " + std::to_string(c.pcb));
        FakeSensor::Policy p;
        p.answer8 = [](int pass) { return pass <= 2; };   // then silent: the loop times out
        FakeSensor s(p);
        Open(s.Device(), true);
        pcbtype = c.pcb;
        ccdvirtpixel = 2048;
        pixB = 1;
        pixE = 2047;
        YMAXADC = 1023;
        for (int i = 0; i < 256; ++i) {
            xArray8[i] = i * 8.0;
            thdArray[i] = 321;
        }
        for (int i = 0; i < PNUM; ++i) pp[i] = static_cast<uint16_t>(0x0100 + i);
        SetCtrlAttribute(pHandle, PANEL_STRIPRaw, ATTR_VISIBLE, 1);
        SetCtrlAttribute(pHandle, PANEL_GRAPHVideo, ATTR_VISIBLE, 0);
        std::vector<int> dimmedA, dimmedB;
        Every(0.05, [&] {
            int a = 0, b = 0;
            GetCtrlAttribute(pHandle, PANEL_CTRLRunLockA, ATTR_DIMMED, &a);
            GetCtrlAttribute(pHandle, PANEL_CTRLRunLockB, ATTR_DIMMED, &b);
            dimmedA.push_back(a);
            dimmedB.push_back(b);
            return s.Passes() >= 3;
        });

        auto t0 = Clock::now();
        rt_UserClick(pHandle, PANEL_BTNVideo);
        double took = Since(t0);

        auto req = s.Requests();
        PassLog l = Log(req);
        std::vector<int> want = c.pass;
        want.insert(want.end(), c.pass.begin(), c.pass.end());
        want.push_back(8);
        EXPECT_EQ(l.orders, want);
        std::vector<int> starts = c.starts;
        starts.insert(starts.end(), c.starts.begin(), c.starts.end());
        EXPECT_EQ(l.starts, starts);
        // the first order 8 carries pp as it was, the next the reply's payload
        ASSERT_GE(req.size(), 1u);
        EXPECT_EQ(req[0], MakeFrame(0x0055, 8,
                                    {0x100, 0x101, 0x102, 0x103, 0x104, 0x105, 0x106, 0x107, 0x108,
                                     0x109, 0x10A, 0x10B, 0x10C, 0x10D, 0x10E, 0x10F}));
        std::string second = FakeSensor::Meas(1);
        second[1] = 0x55;
        ASSERT_GT(req.size(), c.pass.size());
        EXPECT_EQ(req[c.pass.size()], second);

        // the loop ended 1.5 s after the unanswered third request
        EXPECT_GT(took, 1.5);
        EXPECT_EQ(StatusLine(), "Timeout RS232-Line!");
        EXPECT_EQ(stop_flag, STOP_ASKED);
        // the line and the measurement of the second pass are drawn
        for (int i = 0; i < 256; ++i) ASSERT_EQ(adcbuf[i], LineSample(2, i)) << i;
        auto plots = rt_GetPlots(pHandle, PANEL_GRAPHVideo);
        ASSERT_EQ(plots.size(), 2u);
        ASSERT_EQ(plots[0].y.size(), 256u);
        for (int i = 0; i < 256; ++i) {
            ASSERT_EQ(plots[0].x[i], i * 8.0);
            ASSERT_EQ(plots[0].y[i], LineSample(2, i));
            ASSERT_EQ(plots[1].y[i], 321);
        }
        EXPECT_EQ(plots[0].color, 0xFF0000);
        EXPECT_EQ(plots[1].color, 0x008000);
        double lo, hi;
        rt_GetAxisRange(pHandle, PANEL_GRAPHVideo, VAL_XAXIS, &lo, &hi);
        EXPECT_EQ(lo, 1.0);
        EXPECT_EQ(hi, 2048.0);
        rt_GetAxisRange(pHandle, PANEL_GRAPHVideo, VAL_LEFT_YAXIS, &lo, &hi);
        EXPECT_EQ(hi, 1023.0);
        double v = 0;
        GetCtrlVal(pHandle, PANEL_NUMLedge, &v);
        EXPECT_EQ(v, 402);
        GetCtrlVal(pHandle, PANEL_NUMMvalue, &v);
        EXPECT_EQ(v, 1002);

        int vis = -1;
        GetCtrlAttribute(pHandle, PANEL_STRIPRaw, ATTR_VISIBLE, &vis);
        EXPECT_EQ(vis, 0);
        GetCtrlAttribute(pHandle, PANEL_GRAPHVideo, ATTR_VISIBLE, &vis);
        EXPECT_EQ(vis, 1);
        ASSERT_FALSE(dimmedA.empty());
        EXPECT_EQ(dimmedA.front(), 1);
        EXPECT_EQ(dimmedB.front(), 1);
        for (int ctl : {PANEL_CTRLRunLockA, PANEL_CTRLRunLockB, PANEL_CTRLRunLockC}) {
            int d = -1;
            GetCtrlAttribute(pHandle, ctl, ATTR_DIMMED, &d);
            EXPECT_EQ(d, 0) << ctl;
        }
        CloseCom(com);
    }
}

TEST_F(Video, BlockTimeoutsDoNotEndVideoMode) {
    FakeSensor::Policy p;
    // pass 1: order 9 unanswered; pass 2: answered
    p.block = [](int, int start, int pass) {
        if (pass == 1) return std::string();
        uint16_t w[64];
        for (int i = 0; i < 64; ++i) w[i] = LineSample(pass, start + i);
        return Words(w, 64);
    };
    p.delay8Pass = 2;   // stop while the second order 8 waits
    p.delay8 = 0.3;
    FakeSensor s(p);
    Open(s.Device(), true);
    pcbtype = 0;
    Fill(0x4242);
    bool sawTimeoutWhileWaiting = false;
    Every(0.02, [&] {
        // the next block's wait shows its waiting text; szStatus still holds the time-out
        if (std::strcmp(szStatus, "Timeout-RS-232 while reading 64 data-words!") == 0 &&
            StatusLine() == "Waiting for Data[64] ...")
            sawTimeoutWhileWaiting = true;
        if (s.waiting8) {
            stop_flag = STOP_ASKED;
            return true;
        }
        return false;
    });
    rt_UserClick(pHandle, PANEL_BTNVideo);
    EXPECT_TRUE(sawTimeoutWhileWaiting);
    EXPECT_EQ(s.Passes(), 2);
    auto req = s.Requests();
    auto when = s.Times();
    PassLog l = Log(req);
    ASSERT_EQ(l.orders, (std::vector<int>{8, 9, 9, 9, 9, 8, 9, 9, 9, 9}));
    // each block of pass 1 waited out its 1.5 s (seen from the peer, whose
    // reading of a request may lag its writing by a poll)
    for (int k = 1; k <= 4; ++k) {
        double gap = std::chrono::duration<double>(when[k + 1] - when[k]).count();
        EXPECT_GT(gap, 1.45) << k;
        EXPECT_LT(gap, 1.5 + 0.5) << k;
    }
    EXPECT_EQ(StatusLine(), "Data[64] block received!");
    // nothing of pass 1 arrived; pass 2 drew its line
    for (int i = 0; i < 256; ++i) ASSERT_EQ(adcbuf[i], LineSample(2, i)) << i;
}

TEST_F(Video, StopDuringOrder8WaitEndsAfterThatPass) {
    FakeSensor::Policy p;
    p.delay8Pass = 2;
    p.delay8 = 0.4;
    FakeSensor s(p);
    Open(s.Device(), true);
    pcbtype = 100;
    bool clicked = false;
    Every(0.01, [&] {
        if (!s.waiting8) return false;
        rt_UserClick(pHandle, PANEL_BTNStop);
        clicked = true;
        return true;
    });
    rt_UserClick(pHandle, PANEL_BTNVideo);
    EXPECT_TRUE(clicked);
    PassLog l = Log(s.Requests());
    EXPECT_EQ(l.orders, (std::vector<int>{8, 9, 9, 9, 9, 8, 9, 9, 9, 9}));
    for (int i = 0; i < 256; ++i) ASSERT_EQ(adcbuf[i], LineSample(2, i)) << i;
    double v = 0;
    GetCtrlVal(pHandle, PANEL_NUMRedge, &v);
    EXPECT_EQ(v, 1402);
    EXPECT_NE(StatusLine(), "Timeout RS232-Line!");
}

TEST_F(Video, TargetForcedToRamAndLeftThere) {
    FakeSensor::Policy p;
    p.answer8 = [](int pass) { return pass <= 1; };
    FakeSensor s(p);
    Open(s.Device(), true);
    pcbtype = 1;
    rt_UserClick(pHandle, PANEL_RBTEeprom);
    SetCtrlVal(pHandle, PANEL_RBTRam, 0);
    SetCtrlVal(pHandle, PANEL_RBTEeprom, 1);
    SetCtrlVal(pHandle, PANEL_RBTFile, 0);
    target = EEPROM;
    rt_UserClick(pHandle, PANEL_BTNVideo);
    EXPECT_EQ(target, RAM);
    int ram = -1, ee = -1, file = -1;
    GetCtrlVal(pHandle, PANEL_RBTRam, &ram);
    GetCtrlVal(pHandle, PANEL_RBTEeprom, &ee);
    GetCtrlVal(pHandle, PANEL_RBTFile, &file);
    EXPECT_EQ(ram, 1);
    EXPECT_EQ(ee, 0);
    EXPECT_EQ(file, 0);
}

TEST_F(Video, FrameCallbackRestoredAfterVideoMode) {
    FakeSensor::Policy p;
    p.answer8 = [](int pass) { return pass <= 1; };
    FakeSensor s(p);
    Open(s.Device(), true);
    pcbtype = 1;
    rt_UserClick(pHandle, PANEL_BTNVideo);
    ASSERT_EQ(s.Passes(), 2);
    // a frame after video mode is taken by the frame callback again (asked
    // for, as a get asks: a frame nobody asked for is taken as nothing)
    rx_flag = 0;
    AskFrame(2);
    s.Send(MakeFrame(0x00AA, 2, {4321}));
    PumpUntil([] { return rx_flag == 1; }, 1.0);
    EXPECT_EQ(rx_flag, 1);
    EXPECT_EQ(pp[0], 4321);
}

TEST_F(Video, ThresholdLineFollowsControlAtOnce) {
    for (int i = 0; i < 256; ++i) {
        adcbuf[i] = static_cast<uint16_t>(i * 4);
        xArray8[i] = i * 8.0;
        thdArray[i] = 500;
    }
    vThd = 500;
    SetCtrlVal(pHandle, PANEL_NUMVideoThreshold, 500);
    PlotVIDEOCurve(adcbuf, xArray8);
    rt_UserSetVal(pHandle, PANEL_NUMVideoThreshold, 700);
    auto plots = rt_GetPlots(pHandle, PANEL_GRAPHVideo);
    ASSERT_EQ(plots.size(), 2u);
    ASSERT_EQ(plots[1].y.size(), 256u);
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(plots[0].y[i], i * 4) << i;   // the last video line again
        ASSERT_EQ(plots[1].y[i], 700) << i;
    }
    EXPECT_EQ(vThd, 500);
    GetPanelValues();
    EXPECT_EQ(vThd, 700);
}

// ---------------------------------------------------------------- against kvex-sim

// A parameter set with the whole line as evaluation window, into the sensor's RAM.
void SendParameters(uint16_t threshold) {
    const uint16_t w[PNUM] = {500, 0,  threshold, 0, 0,    2,     1, 2040,
                              200, 20, 0,         0, 1024, 30000, 0, 0};
    FlushInQ(com);
    FillTxBuf(1, w);
    ComWrt(com, szWriteBuf, 36);
    Pump(0.2);
    std::memcpy(pp, w, sizeof w);
}

TEST_F(Video, SimulatorLineBothBoardKinds) {
    struct C {
        uint16_t pcb;
        int blockOrder;
        int perPass;
    } cases[] = {{100, 9, 4}, {0, 9, 4}, {1, 11, 1}};
    for (auto c : cases) {
        SCOPED_TRACE("pcbtype " + std::to_string(c.pcb));
        SimProcess sim;
        ASSERT_TRUE(sim.Start({"--pcbtype", std::to_string(c.pcb), "--video-noise", "0", "--noise",
                               "0", "--object", "400", "600", "--fast"}));
        Open(sim.Device(), true);
        pcbtype = c.pcb;
        ccdvirtpixel = 2048;
        pixB = 1;
        pixE = 2048;
        YMAXADC = 1024;
        for (int i = 0; i < 256; ++i) {
            xArray8[i] = i * 8.0;
            thdArray[i] = 500;
        }
        SendParameters(500);
        Fill(0);
        rt_After(0.8, [] { rt_UserClick(pHandle, PANEL_BTNStop); });
        rt_UserClick(pHandle, PANEL_BTNVideo);

        long n8 = SimRequests(sim, 8);
        EXPECT_GE(n8, 2);
        EXPECT_EQ(SimRequests(sim, c.blockOrder), n8 * c.perPass);
        EXPECT_EQ(SimRequests(sim, c.blockOrder == 9 ? 11 : 9), 0);

        // bright line, dark shadow from 400 to 600 (full scale 1024)
        EXPECT_EQ(adcbuf[0], 960);
        EXPECT_EQ(adcbuf[40], 960);
        EXPECT_EQ(adcbuf[62], 64);
        EXPECT_EQ(adcbuf[255], 960);
        // the edges the sensor measured lie where this line crosses its threshold
        std::vector<double> edges;
        for (int i = 0; i < 255; ++i) {
            int a = adcbuf[i], b = adcbuf[i + 1];
            if ((a >= 500) != (b >= 500))
                edges.push_back(8.0 * (i + static_cast<double>(500 - a) / (b - a)));
        }
        ASSERT_EQ(edges.size(), 2u);
        EXPECT_EQ(edcnt, 2);
        EXPECT_NEAR(Ledge, edges[0], 1.0);
        EXPECT_NEAR(Redge, edges[1], 1.0);
        EXPECT_NEAR(Ledge, 400, 2.0);
        EXPECT_NEAR(Redge, 600, 2.0);
        auto plots = rt_GetPlots(pHandle, PANEL_GRAPHVideo);
        ASSERT_EQ(plots.size(), 2u);
        ASSERT_EQ(plots[0].y.size(), 256u);
        for (int i = 0; i < 256; ++i) ASSERT_EQ(plots[0].y[i], adcbuf[i]) << i;
        // a picture of the main panel in video mode, for the eye
        std::string png =
            std::string(KVEX_BUILD_DIR) + "/video_mode_pcb" + std::to_string(c.pcb) + ".png";
        EXPECT_GE(rt_SavePanelImage(pHandle, 0, png.c_str()), 0);
        CloseCom(com);
    }
}

TEST_F(Video, SimulatorSilentToBlocksKeepsVideoModeGoing) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--pcbtype", "100", "--no-answer", "9", "--fast"}));
    Open(sim.Device(), true);
    pcbtype = 100;
    Fill(0x1234);
    bool untouched = false;
    std::string status;
    // during the last block of the first pass: nothing of the line came
    rt_After(5.0, [&] {
        untouched = true;
        for (auto a : adcbuf) untouched = untouched && a == 0x1234;
        status = szStatus;
        sim.Command("answer 9");
    });
    rt_After(6.5, [] { rt_UserClick(pHandle, PANEL_BTNStop); });
    auto t0 = Clock::now();
    rt_UserClick(pHandle, PANEL_BTNVideo);
    EXPECT_GT(Since(t0), 6.0);
    EXPECT_TRUE(untouched);
    EXPECT_EQ(status, "Timeout-RS-232 while reading 64 data-words!");
    long n8 = SimRequests(sim, 8);
    EXPECT_GE(n8, 2);
    EXPECT_EQ(SimRequests(sim, 9), 4 * n8);
    EXPECT_EQ(StatusLine(), "Data[64] block received!");
    EXPECT_NE(adcbuf[0], 0x1234);
}

// Passes a second at line speed against the passes the line allows.
TEST_F(Video, TimingSimulatorPassRateAtLineSpeed) {
    const double byteTime = 10.0 / 19200;
    // per exchange: the request's frame time before the answer, then the answer
    struct C {
        uint16_t pcb;
        double lineRate;
    } cases[] = {
        {100, 1.0 / ((36 + 36 + 4 * (36 + 128)) * byteTime)},
        {1, 1.0 / ((36 + 36 + 36 + 512) * byteTime)},
    };
    for (auto c : cases) {
        SCOPED_TRACE("pcbtype " + std::to_string(c.pcb));
        SimProcess sim;
        ASSERT_TRUE(sim.Start({"--pcbtype", std::to_string(c.pcb)}));
        Open(sim.Device(), true);
        pcbtype = c.pcb;
        SendParameters(500);
        const double cpu0 = CpuSeconds();
        rt_After(4.0, [] { rt_UserClick(pHandle, PANEL_BTNStop); });
        auto t0 = Clock::now();
        rt_UserClick(pHandle, PANEL_BTNVideo);
        double took = Since(t0);
        double cpu = CpuSeconds() - cpu0;
        long n8 = SimRequests(sim, 8);
        double rate = n8 / took;
        std::cout << "[ rate     ] pcbtype " << c.pcb << ": " << n8 << " passes in " << took
                  << " s = " << rate << " /s, line allows " << c.lineRate << " /s ("
                  << 100.0 * rate / c.lineRate << "%), CPU " << 100.0 * cpu / took << "%\n";
        RecordProperty("passes_per_s_pcb" + std::to_string(c.pcb), std::to_string(rate));
        EXPECT_GE(rate, 0.9 * c.lineRate);
        EXPECT_LT(cpu / took, 0.5);   // waiting must not spin
        CloseCom(com);
    }
}

}   // namespace
