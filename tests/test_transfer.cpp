// Parameter transfers end to end over a pseudo-terminal: what goes on the
// wire, what comes back onto the panel, and the time-outs.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/support.h"
#include "app/app.h"
#include "display/display.h"
#include "params/vars.h"

namespace {

using drive::ReadWire;

// Plays the sensor on a thread: for each step reads one request and
// answers it (after a delay) unless the answer is empty.
struct SteppedSensor {
    struct Step {
        std::string answer;
        double delay = 0.0;
    };
    std::vector<std::string> requests;
    std::vector<Clock::time_point> requestTimes;
    std::string extra;   // bytes that came when no request was due
    std::thread th;

    void Run(PtyPeer &peer, std::vector<Step> steps, double waitEach = 3.0) {
        th = std::thread([this, &peer, steps, waitEach] {
            for (const auto &s : steps) {
                std::string r = peer.Read(36, waitEach);
                if (r.empty()) return;
                requests.push_back(r);
                requestTimes.push_back(Clock::now());
                if (r.size() < 36) return;
                if (s.answer.empty()) continue;
                std::this_thread::sleep_for(std::chrono::duration<double>(s.delay));
                extra += peer.Read(36, 0.0);
                peer.Write(s.answer);
            }
        });
    }
    void Join() {
        if (th.joinable()) th.join();
    }
    ~SteppedSensor() { Join(); }
};

class Transfer : public ::testing::Test {
protected:
    PtyPeer peer;
    void SetUp() override {
        ASSERT_TRUE(StartRidarForTest());
        ASSERT_FALSE(peer.Device().empty());
        ASSERT_TRUE(OpenTestLine(peer.Device()));
        IdentifiedAsType2();
        SetParamVars({500, 0, 512, 2, 1, 1, 3, 1024, 700, 100, 1, 1, 34048, 29879, 16, 9}, 2);
        SetPanelValues();
        SelectTarget(RAM);
    }
    void TearDown() override {
        CloseCom(1);
        softversion = 252;
    }
};

const std::vector<int> kOther = {800,  1,  300, 3, 0,    2,     40, 1900,
                                 1000, 60, 0,   2, 2048, 30500, 32, 4};

}   // namespace

TEST_F(Transfer, RadioLogic) {
    struct Case {
        int start, click;
        int ram, eeprom, file, target;
    } cases[] = {
        {RAM, PANEL_RBTRam, 1, 0, 0, RAM},   // switching RAM off keeps it on
        {RAM, PANEL_RBTEeprom, 0, 1, 0, EEPROM}, {RAM, PANEL_RBTFile, 0, 0, 1, DATFILE},
        {EEPROM, PANEL_RBTEeprom, 1, 0, 0, RAM},   // off falls back to RAM
        {EEPROM, PANEL_RBTRam, 1, 0, 0, RAM},    {EEPROM, PANEL_RBTFile, 0, 0, 1, DATFILE},
        {DATFILE, PANEL_RBTFile, 1, 0, 0, RAM},  {DATFILE, PANEL_RBTEeprom, 0, 1, 0, EEPROM},
        {DATFILE, PANEL_RBTRam, 1, 0, 0, RAM},
    };
    for (const auto &c : cases) {
        SelectTarget(c.start);
        rt_UserClick(pHandle, c.click);
        EXPECT_EQ(Radio(PANEL_RBTRam), c.ram) << c.start << "/" << c.click;
        EXPECT_EQ(Radio(PANEL_RBTEeprom), c.eeprom) << c.start << "/" << c.click;
        EXPECT_EQ(Radio(PANEL_RBTFile), c.file) << c.start << "/" << c.click;
        EXPECT_EQ(target, c.target) << c.start << "/" << c.click;
    }
}

TEST_F(Transfer, SendPutsThePanelOnTheWire) {
    // clang-format off
    struct Case { int target; uint16_t soft; int order; } cases[] = {
        {RAM, 252, 1}, {EEPROM, 252, 3}, {RAM, 239, 1}, {EEPROM, 240, 3}};
    // clang-format on
    for (const auto &c : cases) {
        softversion = c.soft;
        SetParamVars(kOther, 3);
        SetPanelValues();
        const std::vector<int> expect = ParamVars(c.soft >= 240);
        SetParamVars(std::vector<int>(16, 1), 1);   // the panel, not the variables, is sent
        SelectTarget(c.target);
        sync = 0x77;
        rx_flag = 5;
        ShowStatusText("");
        rt_UserClick(pHandle, PANEL_BTNSend);
        const std::string wire = ReadWire(peer, 72, 0.5);
        EXPECT_EQ(wire, MakeFrame(0x55, c.order, expect)) << "order " << c.order;
        EXPECT_EQ(StatusLine(), "Line Ok!");
        EXPECT_EQ(order, c.order);
        EXPECT_EQ(rx_flag, 5);   // no reply is awaited
        EXPECT_EQ(ParamVars(c.soft >= 240), expect);
    }
}

// An operator who sends and at once gets: the send's frame needs its 18.75 ms
// on the line, and the get's flush must not drop what is still going out.
// The sensor here takes the bytes at a line's pace, a few at a time.
TEST_F(Transfer, SendThenGetAtOnceLosesNeitherFrame) {
    const std::vector<int> sent = ParamVars(true);
    std::string wire;
    std::thread sensor([&] {
        const auto t0 = Clock::now();
        while (wire.size() < 72 && Since(t0) < 1.0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(4));
            wire += peer.Read(72 - wire.size(), 0.001);
        }
        if (wire.size() == 72) peer.Write(MakeFrame(0xAA, 2, kOther));
    });
    const auto t0 = Clock::now();
    rt_UserClick(pHandle, PANEL_BTNSend);
    const double sendTook = Since(t0);
    const std::string afterSend = StatusLine();
    rt_UserClick(pHandle, PANEL_BTNGet);
    sensor.join();
    EXPECT_EQ(afterSend, "Line Ok!");
    EXPECT_GE(sendTook, 0.018);
    EXPECT_LT(sendTook, 0.5);
    // sync word 0x0055, order, then the 16 words of the panel
    ASSERT_EQ(wire.size(), 72u);
    EXPECT_EQ(wire.substr(0, 4), std::string("\x00\x55\x00\x01", 4));
    EXPECT_EQ(wire.substr(36, 4), std::string("\x00\x55\x00\x02", 4));
    EXPECT_EQ(wire, MakeFrame(0x55, 1, sent) + MakeFrame(0x55, 2, sent));
    EXPECT_EQ(StatusLine(), "Parameter-frame received! - Line Ok!");
    EXPECT_EQ(*kParamVars[2], kOther[2]);
}

TEST_F(Transfer, SendActsOnLeftClickOnly) {
    CC_BTNSend(pHandle, PANEL_BTNSend, EVENT_COMMIT, nullptr, 0, 0);
    CC_BTNSend(pHandle, PANEL_BTNSend, EVENT_VAL_CHANGED, nullptr, 0, 0);
    EXPECT_EQ(ReadWire(peer, 36, 0.3), "");
    CC_BTNSend(pHandle, PANEL_BTNSend, EVENT_LEFT_CLICK, nullptr, 0, 0);
    EXPECT_EQ(ReadWire(peer, 36, 0.5).size(), 36u);
}

TEST_F(Transfer, GetFillsVariablesAndPanel) {
    // clang-format off
    struct Case { int target; int order; uint16_t soft; } cases[] = {
        {RAM, 2, 252}, {EEPROM, 4, 252}, {RAM, 2, 239}};
    // clang-format on
    for (const auto &c : cases) {
        softversion = c.soft;
        SetParamVars({500, 0, 512, 2, 1, 1, 3, 1024, 700, 100, 1, 1, 34048, 29879, 16, 9}, 2);
        const std::vector<int> sent = ParamVars(c.soft >= 240);
        SelectTarget(c.target);
        std::vector<int> reply = kOther;
        reply[0] = 1200;   // shown as 500
        SteppedSensor sensor;
        sensor.Run(peer, {{MakeFrame(0xAA, c.order, reply), 0.4}});
        std::string during;
        rt_After(0.2, [&] { during = StatusLine(); });
        auto t0 = Clock::now();
        rt_UserClick(pHandle, PANEL_BTNGet);
        const double took = Since(t0);
        sensor.Join();
        ASSERT_EQ(sensor.requests.size(), 1u);
        EXPECT_EQ(sensor.requests[0], MakeFrame(0x55, c.order, sent));
        EXPECT_EQ(during, "Waiting for parameter-frame ...");
        EXPECT_LT(took, 1.0);
        EXPECT_EQ(StatusLine(), "Parameter-frame received! - Line Ok!");
        EXPECT_EQ(order, c.order);
        EXPECT_EQ(power, 500);
        EXPECT_EQ(Shown(PANEL_NUMPower), 500);
        for (int i = 1; i < 15; ++i) EXPECT_EQ(*kParamVars[i], reply[i]) << "word " << i;
        EXPECT_EQ(deltaTol, 4);
        EXPECT_EQ(trigMode, 4);
        EXPECT_EQ(Shown(PANEL_NEDITEdgeRight), 1900);
        EXPECT_EQ(Shown(PANEL_NUMSetpoint), 1000);
        EXPECT_EQ(sensor.extra, "");
    }
}

TEST_F(Transfer, GetWithoutAnswerTimesOutAndRedrawsOldValues) {
    struct Case {
        const char *name;
        std::string answer;
        double delay;
    } cases[] = {
        {"no sensor", "", 0.0},
        {"short reply", MakeFrame(0xAA, 2, kOther).substr(0, 20), 0.1},
        {"late reply", MakeFrame(0xAA, 2, kOther), 1.8},
    };
    for (const auto &c : cases) {
        SetParamVars({500, 0, 512, 2, 1, 1, 3, 1024, 700, 100, 1, 1, 34048, 29879, 16, 9}, 2);
        SetPanelValues();
        SetCtrlVal(pHandle, PANEL_NUMPower, 999);   // an edit that was not sent
        SelectTarget(RAM);
        SteppedSensor sensor;
        if (!c.answer.empty()) sensor.Run(peer, {{c.answer, c.delay}});
        std::string during;
        rt_After(0.7, [&] { during = StatusLine(); });
        auto t0 = Clock::now();
        rt_UserClick(pHandle, PANEL_BTNGet);
        const double took = Since(t0);
        sensor.Join();
        EXPECT_EQ(during, "Waiting for parameter-frame ...") << c.name;
        EXPECT_GE(took, 1.4) << c.name;
        EXPECT_LE(took, 1.5 + 0.5) << c.name;
        EXPECT_EQ(StatusLine(), "Timeout-RS-232...") << c.name;
        EXPECT_EQ(power, 500) << c.name;
        EXPECT_EQ(slope, 34048) << c.name;
        EXPECT_EQ(Shown(PANEL_NUMPower), 500) << c.name;
        // what arrives late must not leak into the next exchange
        for (int i = 0; i < 30; ++i) ProcessSystemEvents();
        peer.Read(1000, 0.05);
    }
}

TEST_F(Transfer, TeachSendsOrder6ThenGetsTheNewSetpoint) {
    for (int i = 0; i < PNUM; ++i) pp[i] = static_cast<uint16_t>(0x0101 * (i + 1));
    const std::vector<int> ppBefore(pp, pp + PNUM);
    const std::vector<int> varsBefore = ParamVars(true);
    std::vector<int> reply = varsBefore;
    reply[8] = 777;
    SteppedSensor sensor;
    sensor.Run(peer, {{MakeFrame(0xAA, 6, std::vector<int>(16, 0)), 0.1},
                      {MakeFrame(0xAA, 2, reply), 0.05}});
    std::string during;
    rt_After(0.05, [&] { during = StatusLine(); });
    rt_UserClick(pHandle, PANEL_ButtonTeach);
    sensor.Join();
    ASSERT_EQ(sensor.requests.size(), 2u);
    EXPECT_EQ(sensor.requests[0], MakeFrame(0x55, 6, ppBefore));   // pp as it was
    EXPECT_EQ(sensor.requests[1], MakeFrame(0x55, 2, varsBefore));
    EXPECT_EQ(during, "New setpoint value teached!");
    EXPECT_EQ(tVal, 777);
    EXPECT_EQ(Shown(PANEL_NUMSetpoint), 777);
    EXPECT_EQ(StatusLine(), "Parameter-frame received! - Line Ok!");
}

TEST_F(Transfer, TeachWithoutSensorEndsWithTheTimeoutText) {
    tVal = 700;
    const long timeouts = linkTimeouts;
    std::string during;
    rt_After(0.05, [&] { during = StatusLine(); });
    auto t0 = Clock::now();
    rt_UserClick(pHandle, PANEL_ButtonTeach);
    const double took = Since(t0);
    EXPECT_GE(took, 1.4);
    EXPECT_LE(took, 1.5 + 0.5);
    // the set-point was never confirmed: no success stays behind
    EXPECT_EQ(during, "New setpoint value teached!");
    EXPECT_EQ(StatusLine(), "Timeout-RS-232...");
    EXPECT_EQ(linkTimeouts, timeouts + 1);
    const std::string wire = ReadWire(peer, 72, 0.3);
    ASSERT_EQ(wire.size(), 36u);   // no get follows
    EXPECT_EQ(static_cast<unsigned char>(wire[3]), 6);
    EXPECT_EQ(tVal, 700);
}

// ---------------------------------------------------------------- simulator

class TransferSim : public ::testing::Test {
protected:
    SimProcess sim;
    void SetUp() override {
        ASSERT_TRUE(StartRidarForTest());
        ASSERT_TRUE(sim.Start({"--object", "500", "800", "--motion", "0", "0"}));
        OpenSensorLine(sim.Device());
        ASSERT_EQ(softversion, 252) << szStatus;
    }
    void TearDown() override {
        CloseCom(1);
        sim.Stop();
    }
};

TEST_F(TransferSim, TeachShowsTheNewSetpoint) {
    ASSERT_EQ(eMode, 1);   // the sensor's set: the right edge is the measured value
    tVal = 1;
    SetCtrlVal(pHandle, PANEL_NUMSetpoint, 1);
    rt_UserClick(pHandle, PANEL_ButtonTeach);
    EXPECT_EQ(StatusLine(), "Parameter-frame received! - Line Ok!");
    EXPECT_NEAR(tVal, 800, 5);
    uint16_t shown = 0;
    GetCtrlVal(pHandle, PANEL_NUMSetpoint, &shown);
    EXPECT_EQ(shown, tVal);
}

TEST_F(TransferSim, EepromSendThenGetRoundTrip) {
    // what goes to the EEPROM comes back from it, through the panel both ways
    SetCtrlVal(pHandle, PANEL_NUMPower, 777);
    SetCtrlVal(pHandle, PANEL_NEDITTolerance, 42);
    SelectTarget(EEPROM);
    rt_UserClick(pHandle, PANEL_BTNSend);
    EXPECT_EQ(StatusLine(), "Line Ok!");
    for (int i = 0; i < 20; ++i) ProcessSystemEvents();   // the sensor stores it
    power = 1;
    tTol = 1;
    SetPanelValues();
    rt_UserClick(pHandle, PANEL_BTNGet);
    EXPECT_EQ(StatusLine(), "Parameter-frame received! - Line Ok!");
    EXPECT_EQ(power, 777);
    EXPECT_EQ(tTol, 42);
    EXPECT_EQ(Shown(PANEL_NUMPower), 777);
}
