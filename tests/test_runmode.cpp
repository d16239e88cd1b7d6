// Run mode end to end: against the simulator at line speed and against a
// scripted peer that checks every request byte.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

#include "tests/support/support.h"
#include "rt/rt_testing.h"
#include "app/app.h"
#include "display/display.h"
#include "params/vars.h"

namespace {

struct LockState {
    int a = -1, b = -1, c = -1, video = -1, strip = -1, ram = -1, eeprom = -1, file = -1;
    int stop = -1;
};

LockState Locks() {
    LockState s;
    s.a = Attr(PANEL_CTRLRunLockA, ATTR_DIMMED);
    s.b = Attr(PANEL_CTRLRunLockB, ATTR_DIMMED);
    s.c = Attr(PANEL_CTRLRunLockC, ATTR_DIMMED);
    s.video = Attr(PANEL_GRAPHVideo, ATTR_VISIBLE);
    s.strip = Attr(PANEL_STRIPRaw, ATTR_VISIBLE);
    s.ram = Radio(PANEL_RBTRam);
    s.eeprom = Radio(PANEL_RBTEeprom);
    s.file = Radio(PANEL_RBTFile);
    s.stop = stop_flag;
    return s;
}

std::string Measurement(int ledge, int redge, int setpoint) {
    return MakeFrame(
        0xAA, 8,
        {ledge, redge, redge - ledge, 20000, 0, setpoint, 50, 2, 100, 100, 0, 0, 0, 0, 0, 0});
}

}   // namespace

// ---------------------------------------------------------------- scripted peer

class RunPeer : public ::testing::Test {
protected:
    PtyPeer peer;
    void SetUp() override {
        ASSERT_TRUE(StartRidarForTest());
        ASSERT_TRUE(OpenTestLine(peer.Device()));
        softversion = 252;
        ccdtype = 2;
        ccdvirtpixel = 2048;
        stop_flag = STOP_ASKED;
    }
    void TearDown() override { CloseCom(1); }
};

TEST_F(RunPeer, EachRequestCarriesTheLastReportedSetpoint) {
    power = 500;
    rs232Mode = 0;
    vThd = 512;
    anaMode = 2;
    polarity = 1;
    eMode = 2;
    eBeg = 3;
    eEnd = 2000;
    tVal = 512;
    tTol = 100;
    opMode = 1;
    eHardware = 0;
    slope = 1024;
    intersect = 30000;
    average = 16;
    deltaTol = 9;
    trigMode = 4;
    SetPanelValues();
    SetCtrlVal(pHandle, PANEL_NUMSetpoint, 999);   // an unsent edit is not part of the run
    SelectTarget(EEPROM);
    SetCtrlAttribute(pHandle, PANEL_CTRLRunLockC, ATTR_DIMMED, 1);

    std::vector<std::string> requests;
    std::vector<Clock::time_point> times;
    std::string between;   // anything sent while a request was outstanding
    std::thread sensor([&] {
        const int setpoints[] = {700, 701, 702};
        for (int i = 0; i < 4; ++i) {
            std::string r = peer.Read(36, 3.0);
            if (r.size() < 36) return;
            requests.push_back(r);
            times.push_back(Clock::now());
            if (i == 3) break;   // then the sensor falls silent
            between += peer.Read(36, 0.05);
            peer.Write(Measurement(300 + i, 600 + i, setpoints[i]));
        }
        between += peer.Read(36, 1.7);
    });
    LockState during;
    rt_After(0.1, [&] { during = Locks(); });
    auto t0 = Clock::now();
    rt_UserClick(pHandle, PANEL_BTNRun);
    auto tEnd = Clock::now();
    sensor.join();
    (void)t0;

    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(
        requests[0],
        MakeFrame(0x55, 8, {500, 0, 512, 2, 1, 2, 3, 2000, 512, 100, 1, 0, 1024, 30000, 16, 4}));
    EXPECT_EQ(FrameWord(requests[1], 8), 700);
    EXPECT_EQ(FrameWord(requests[2], 8), 701);
    EXPECT_EQ(FrameWord(requests[3], 8), 702);
    for (const auto &r : requests) {
        EXPECT_EQ(r.substr(0, 4), std::string("\x00\x55\x00\x08", 4));
        EXPECT_EQ(FrameWord(r, 0), 500);
        EXPECT_EQ(FrameWord(r, 15), 4);
    }
    EXPECT_EQ(between, "");   // one request outstanding at a time
    // the time-out counts from the last request
    const double quiet = std::chrono::duration<double>(tEnd - times.back()).count();
    EXPECT_GE(quiet, 1.4);
    EXPECT_LE(quiet, 1.5 + 0.5);
    EXPECT_EQ(StatusLine(), "Timeout RS232-Line!");
    EXPECT_EQ(stop_flag, STOP_ASKED);
    // the last reply was unpacked
    EXPECT_EQ(Ledge, 302);
    EXPECT_EQ(Redge, 602);
    EXPECT_EQ(tVal, 702);
    EXPECT_EQ(umValue, 20000u);

    EXPECT_EQ(during.a, 1);
    EXPECT_EQ(during.b, 1);
    EXPECT_EQ(during.video, 0);
    EXPECT_EQ(during.strip, 1);
    EXPECT_EQ(during.ram, 1);
    EXPECT_EQ(during.eeprom, 0);
    EXPECT_EQ(during.file, 0);
    EXPECT_EQ(during.stop, 0);
    LockState after = Locks();
    EXPECT_EQ(after.a, 0);
    EXPECT_EQ(after.b, 0);
    EXPECT_EQ(after.c, 0);
    EXPECT_EQ(after.video, 0);
    EXPECT_EQ(after.strip, 1);
    EXPECT_EQ(target, RAM);
    EXPECT_EQ(rx_flag, 0);
    EXPECT_EQ(graphrefresh, 0);
}

TEST_F(RunPeer, NoSensorEndsAfterTimeout) {
    auto t0 = Clock::now();
    rt_UserClick(pHandle, PANEL_BTNRun);
    EXPECT_GE(Since(t0), 1.4);
    EXPECT_LE(Since(t0), 1.5 + 0.5);
    EXPECT_EQ(StatusLine(), "Timeout RS232-Line!");
    EXPECT_EQ(peer.Read(72, 0.2).size(), 36u);   // only the first request
    EXPECT_EQ(Attr(PANEL_CTRLRunLockA, ATTR_DIMMED), 0);
}

TEST_F(RunPeer, TimingLoopAddsLittleToEachExchange) {
    // a peer that answers at once: what is left is the loop's own cost
    std::atomic<int> answered{0};
    std::atomic<bool> done{false};
    std::thread sensor([&] {
        while (!done) {
            std::string r = peer.Read(36, 0.2);
            if (r.size() < 36) continue;
            peer.Write(Measurement(300, 600, 512));
            ++answered;
        }
    });
    rt_After(1.0, [&] { rt_UserClick(pHandle, PANEL_BTNStop); });
    auto t0 = Clock::now();
    rt_UserClick(pHandle, PANEL_BTNRun);
    const double took = Since(t0);
    done = true;
    sensor.join();
    printf("instant peer: %d exchanges in %.2f s\n", answered.load(), took);
    EXPECT_GT(answered.load() / took, 250.0);   // well under 4 ms a pass
    EXPECT_NE(StatusLine(), "Timeout RS232-Line!");
}

// ---------------------------------------------------------------- simulator

class RunSim : public ::testing::Test {
protected:
    SimProcess sim;
    void SetUp() override {
        ASSERT_TRUE(StartRidarForTest());
        ASSERT_TRUE(sim.Start({"--object", "400", "600", "--motion", "100", "1"}));
        OpenSensorLine(sim.Device());
        ASSERT_EQ(softversion, 252) << szStatus;
    }
    void TearDown() override {
        stop_flag = STOP_ASKED;
        CloseCom(1);
        sim.Stop();
    }
    long Frames() { return rt_LinkStats().framesNotified; }
};

TEST_F(RunSim, PlotsFramesStopsAndRunsAgain) {
    RtStrip early;
    LockState during;
    long framesAtStop = 0;
    Clock::time_point stopAt;
    rt_After(0.5, [&] {
        early = rt_GetStrip(pHandle, PANEL_STRIPRaw);
        during = Locks();
    });
    rt_After(1.5, [&] {
        framesAtStop = Frames();
        stopAt = Clock::now();
        rt_UserClick(pHandle, PANEL_BTNStop);
    });
    const long f0 = Frames();
    rt_UserClick(pHandle, PANEL_BTNRun);
    const double stopLag = Since(stopAt);
    const long f1 = Frames();

    EXPECT_LT(stopLag, 0.5);   // ends after the current pass, not a time-out
    EXPECT_LE(f1 - framesAtStop, 1);
    EXPECT_GT(f1 - f0, 25);
    EXPECT_EQ(stop_flag, STOP_ASKED);
    EXPECT_NE(StatusLine(), "Timeout RS232-Line!");
    EXPECT_EQ(during.a, 1);
    EXPECT_EQ(during.b, 1);
    EXPECT_EQ(during.stop, 0);
    EXPECT_EQ(Attr(PANEL_CTRLRunLockA, ATTR_DIMMED), 0);
    EXPECT_EQ(Attr(PANEL_CTRLRunLockB, ATTR_DIMMED), 0);
    // measured and drawn
    EXPECT_NEAR(Ledge, 400, 130);
    EXPECT_NEAR(Redge, 600, 130);
    EXPECT_EQ(edcnt, 2);
    uint16_t shownL = 0;
    GetCtrlVal(pHandle, PANEL_NUMLedge, &shownL);
    EXPECT_EQ(shownL, Ledge);
    RtStrip late = rt_GetStrip(pHandle, PANEL_STRIPRaw);
    ASSERT_FALSE(late.points.empty());
    ASSERT_FALSE(early.points.empty());
    EXPECT_NE(late.points, early.points);   // the strip chart moved

    // a second run starts with stop_flag 0 and stops again
    int stopSeenAtStart = -1;
    rt_After(0.05, [&] { stopSeenAtStart = stop_flag; });
    rt_After(0.8, [&] { rt_UserClick(pHandle, PANEL_BTNStop); });
    const long f2 = Frames();
    auto t0 = Clock::now();
    rt_UserClick(pHandle, PANEL_BTNRun);
    EXPECT_GE(Since(t0), 0.65);
    EXPECT_LE(Since(t0), 0.8 + 0.5);
    EXPECT_EQ(stopSeenAtStart, 0);
    EXPECT_GT(Frames() - f2, 12);
}

TEST_F(RunSim, SensorFallingSilentEndsRunMode) {
    Clock::time_point silentAt;
    rt_After(0.6, [&] {
        sim.Command("silent on");
        silentAt = Clock::now();
    });
    rt_UserClick(pHandle, PANEL_BTNRun);
    const double quiet = Since(silentAt);
    // the last request went out at most one exchange before the sensor fell silent
    EXPECT_GT(quiet, 1.5 - 0.1 - 0.04);
    EXPECT_LT(quiet, 1.5 + 0.5);
    EXPECT_EQ(StatusLine(), "Timeout RS232-Line!");
    EXPECT_EQ(stop_flag, STOP_ASKED);
    EXPECT_EQ(Attr(PANEL_CTRLRunLockA, ATTR_DIMMED), 0);
}

TEST_F(RunSim, TimingKeepsUpWithTheLineAndIdlesCheaply) {
    // Other processes on a shared machine can only slow the exchange down,
    // so the best of up to three stretches is what the loop can do.
    const double seconds = 3.0;
    double best = 0, cpuOfBest = 1;
    // The strict budget (>= 98% of the line) is bench_live's; this holds on a
    // loaded 2-core machine and still catches a loop that loses frames.
    const double atLeast = 0.85 * 26.67;
    for (int attempt = 0; attempt < 3 && best < atLeast; ++attempt) {
        long framesAtStart = 0, framesAtEnd = 0;
        double cpuAtStart = 0, cpuAtEnd = 0;
        Clock::time_point wallStart, wallEnd;
        // a steady stretch, not the start
        rt_After(0.5, [&] {
            framesAtStart = Frames();
            cpuAtStart = CpuSeconds();
            wallStart = Clock::now();
        });
        rt_After(0.5 + seconds, [&] {
            framesAtEnd = Frames();
            cpuAtEnd = CpuSeconds();
            wallEnd = Clock::now();
            rt_UserClick(pHandle, PANEL_BTNStop);
        });
        rt_UserClick(pHandle, PANEL_BTNRun);
        const double wall = std::chrono::duration<double>(wallEnd - wallStart).count();
        const double rate = (framesAtEnd - framesAtStart) / wall;
        const double cpu = (cpuAtEnd - cpuAtStart) / wall;
        printf("run mode at line speed: %.2f exchanges/s (%.1f%% of 26.67), CPU %.1f%%\n", rate,
               100.0 * rate / 26.67, 100.0 * cpu);
        if (rate > best) {
            best = rate;
            cpuOfBest = cpu;
        }
        EXPECT_LT(cpu, 0.5);
        EXPECT_NE(StatusLine(), "Timeout RS232-Line!");
    }
    RecordProperty("exchanges_per_second", std::to_string(best));
    RecordProperty("cpu_share", std::to_string(cpuOfBest));
    EXPECT_GE(best, atLeast);
}

TEST_F(RunSim, ClosingTheMainPanelEndsRunModeQuietly) {
    Clock::time_point closedAt;
    rt_After(0.6, [&] {
        closedAt = Clock::now();
        rt_UserClosePanel(pHandle);
    });
    rt_UserClick(pHandle, PANEL_BTNRun);
    EXPECT_LT(Since(closedAt), 0.5);
    EXPECT_EQ(stop_flag, STOP_ASKED);
    EXPECT_NE(StatusLine(), "Timeout RS232-Line!");
    EXPECT_EQ(Attr(PANEL_CTRLRunLockA, ATTR_DIMMED), 0);
}
