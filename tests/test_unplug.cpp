// A pulled serial adapter: the simulator closes its pseudo-terminal while the
// program uses it. The program must say so, end its loop as a time-out
// does, stay cheap while the device is gone, and take the port again from
// the port ring once a device is back, without a restart.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "tests/support/support.h"
#include "rt/rt_testing.h"
#include "recorder/recorder.h"

namespace {

const char kLost[] = "RS-232 port lost! - Reconnect, then choose the port again.";

class Unplug : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(StartRidarForTest()); }
    void TearDown() override {
        CloseCom(com);
        rt_SetPortTable({});
    }
};

int RunLocksDimmed() {
    return Dimmed(pHandle, PANEL_CTRLRunLockA) + Dimmed(pHandle, PANEL_CTRLRunLockB) +
           Dimmed(pHandle, PANEL_CTRLRunLockC);
}

TEST_F(Unplug, RunModeEndsAsTimeoutSaysLostAndPortComesBackFromTheRing) {
    DeviceLink link;
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--fast"}));
    ASSERT_TRUE(link.PointAt(sim.Device()));
    Connect(link.Path());
    ASSERT_EQ(std::string(szVersion).rfind("K-VEX-XC-SIM", 0), 0u) << szStatus;

    // 20 measurement frames, then the adapter is pulled
    ASSERT_TRUE(SimDo(sim, "close-after 20"));
    double cpu0 = CpuSeconds();
    auto t0 = Clock::now();
    rt_UserClick(pHandle, PANEL_BTNRun);
    double loopTime = Since(t0);
    double loopCpu = CpuSeconds() - cpu0;

    // ended as a time-out ends it: its text, the flag, the controls back
    EXPECT_EQ(StatusLine(), "Timeout RS232-Line!");
    EXPECT_EQ(stop_flag, STOP_ASKED);
    EXPECT_EQ(RunLocksDimmed(), 0);
    EXPECT_GE(loopTime, TIMEOUT);
    EXPECT_LT(loopTime, TIMEOUT + 2.0);
    // the loop waited without spinning on the dead line
    EXPECT_LT(loopCpu, 0.5 * loopTime) << "cpu " << loopCpu << " s in " << loopTime << " s";
    EXPECT_NE(sim.Output(2.0, "line closed").find("line closed"), std::string::npos);
    EXPECT_EQ(rt_PortLost(com), 1);

    // back in the idle loop the status line says what happened
    ASSERT_TRUE(IdleUntil([] { return StatusLine() == kLost; }, 1.0)) << StatusLine();
    EXPECT_STREQ(szStatus, kLost);

    // idle with the device gone: no spinning, no flood of events or texts
    cpu0 = CpuSeconds();
    auto before = rt_LinkStats();
    Idle(2.0);
    double idleCpu = CpuSeconds() - cpu0;
    EXPECT_LT(idleCpu, 0.4) << "idle cpu " << idleCpu << " s in 2 s";
    std::printf(
        "run loop on a pulled line: %.2f s CPU in %.2f s; idle with the port gone: %.3f s CPU in 2 s\n",
        loopCpu, loopTime, idleCpu);
    EXPECT_EQ(rt_LinkStats().framesNotified, before.framesNotified);
    EXPECT_EQ(StatusLine(), kLost);

    // Operations on the lost port fail at once and end by their time-outs.
    rt_UserClick(pHandle, PANEL_BTNGet);
    EXPECT_EQ(StatusLine(), "Timeout-RS-232...");

    // the device comes back under its name; the operator opens the ring and
    // picks it again
    SimProcess sim2;
    ASSERT_TRUE(sim2.Start({"--fast", "--object", "300", "700", "--noise", "0"}));
    ASSERT_TRUE(link.PointAt(sim2.Device()));
    ClearListCtrl(pHandle, PANEL_DropDCom);
    rt_UserOpenRing(pHandle, PANEL_DropDCom);
    auto items = rt_GetListItems(pHandle, PANEL_DropDCom);
    ASSERT_FALSE(items.empty());
    EXPECT_NE(items[0].find(link.Path()), std::string::npos) << items[0];
    rt_UserSetVal(pHandle, PANEL_DropDCom, 1);
    EXPECT_EQ(rt_PortLost(com), 0);
    EXPECT_EQ(std::string(szVersion).rfind("K-VEX-XC-SIM", 0), 0u) << szStatus;
    EXPECT_EQ(StatusLine(), szVersion);

    // and measures again
    rt_After(0.5, [] { rt_UserClick(pHandle, PANEL_BTNStop); });
    rt_UserClick(pHandle, PANEL_BTNRun);
    EXPECT_EQ(Ledge, 300);
    EXPECT_EQ(Redge, 700);
    EXPECT_EQ(RunLocksDimmed(), 0);
    Idle(0.2);
    EXPECT_NE(StatusLine(), kLost);
}

TEST_F(Unplug, VideoAndRecorderLoopsEndOnAPulledLine) {
    DeviceLink link;
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--fast"}));
    ASSERT_TRUE(link.PointAt(sim.Device()));
    Connect(link.Path());
    ASSERT_EQ(std::string(szVersion).rfind("K-VEX-XC-SIM", 0), 0u) << szStatus;

    // video mode: a frame and four blocks a pass
    ASSERT_TRUE(SimDo(sim, "close-after 12"));
    auto t0 = Clock::now();
    double cpu0 = CpuSeconds();
    rt_UserClick(pHandle, PANEL_BTNVideo);
    double took = Since(t0);
    EXPECT_EQ(stop_flag, STOP_ASKED);
    EXPECT_EQ(RunLocksDimmed(), 0);
    EXPECT_LT(CpuSeconds() - cpu0, 0.5 * took);
    ASSERT_TRUE(IdleUntil([] { return StatusLine() == kLost; }, 1.0)) << StatusLine();

    // a device back under the same name, then a recording that loses it
    SimProcess sim2;
    ASSERT_TRUE(sim2.Start({"--fast"}));
    ASSERT_TRUE(link.PointAt(sim2.Device()));
    rt_UserOpenRing(pHandle, PANEL_DropDCom);
    rt_UserSetVal(pHandle, PANEL_DropDCom, 1);
    ASSERT_EQ(std::string(szVersion).rfind("K-VEX-XC-SIM", 0), 0u) << szStatus;

    char tmpl[] = "/tmp/ridar-unplug-rec-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    std::string file = std::string(tmpl) + "/REC.DAT";
    std::snprintf(rec_fname, sizeof rec_fname, "%s", file.c_str());
    SetCtrlVal(pRecord, RECORD_NUMsample, 50);
    SetCtrlVal(pRecord, RECORD_NUMinctime, 0);
    ASSERT_TRUE(SimDo(sim2, "close-after 3"));
    rt_UserClick(pRecord, RECORD_CBTNStartRecord);
    EXPECT_EQ(stop_flag, STOP_TIMEOUT);
    EXPECT_EQ(TextBox(pRecord, RECORD_TEXTRecStatus),
              "DATA-RECORDER INTERRUPTED - TIMEOUT RS-232 LINE!");
    EXPECT_EQ(RunLocksDimmed(), 0);
    EXPECT_EQ(Dimmed(pRecord, RECORD_CBTNStartRecord), 0);
    // the header and one complete line per sample that came
    std::string data = testfs::ReadFile(file);
    int lines = 0;
    for (char c : data) lines += c == '\n';
    EXPECT_EQ(lines, 7 + 3) << data;
    ASSERT_FALSE(data.empty());
    EXPECT_EQ(data.substr(data.size() - 2), "\r\n");
    ASSERT_TRUE(IdleUntil([] { return StatusLine() == kLost; }, 1.0)) << StatusLine();
    unlink(file.c_str());
    rmdir(tmpl);
}

TEST_F(Unplug, ThePortRingListsWhatIsPresentWhenOpened) {
    DeviceLink link;
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--fast"}));
    ASSERT_TRUE(link.PointAt(sim.Device()));
    rt_SetPortTable({link.Path()});
    com = 1;
    FillComRing();
    ASSERT_EQ(rt_GetListItems(pHandle, PANEL_DropDCom).size(), rt_PortTable().size());
    // the list is rebuilt from scratch each time it opens
    ClearListCtrl(pHandle, PANEL_DropDCom);
    EXPECT_TRUE(rt_GetListItems(pHandle, PANEL_DropDCom).empty());
    rt_UserOpenRing(pHandle, PANEL_DropDCom);
    auto items = rt_GetListItems(pHandle, PANEL_DropDCom);
    ASSERT_EQ(items.size(), rt_PortTable().size());
    EXPECT_EQ(items[0], "COM1  " + link.Path());
    int v = 0;
    GetCtrlVal(pHandle, PANEL_DropDCom, &v);
    EXPECT_EQ(v, 1);
}

TEST_F(Unplug, PickingAPortThatIsStillGoneSaysSoAndStaysCalm) {
    DeviceLink link;
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--fast"}));
    ASSERT_TRUE(link.PointAt(sim.Device()));
    Connect(link.Path());
    ASSERT_TRUE(SimDo(sim, "close-after 1"));
    rt_UserClick(pHandle, PANEL_BTNGet);
    ASSERT_TRUE(IdleUntil([] { return StatusLine() == kLost; }, 3.0)) << StatusLine();
    link.Pull();
    rt_UserOpenRing(pHandle, PANEL_DropDCom);
    double cpu0 = CpuSeconds();
    rt_UserSetVal(pHandle, PANEL_DropDCom, 1);
    EXPECT_EQ(StatusLine(), "Cannot open port");
    EXPECT_LT(CpuSeconds() - cpu0, 0.5);
}

}   // namespace
