// Golden traces of the operator's main paths against the simulator: the
// bytes the program writes on the line and the files it writes, compared
// with the copies in tests/golden/. Loops end after a fixed number of
// requests (the stop button is pressed while the last one is outstanding),
// so a trace does not depend on the machine's speed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "tests/support/support.h"
#include "rt/rt_testing.h"

using golden::Trace;

namespace {

constexpr int kOrderMeasure = 8;

class Golden : public ::testing::Test {
protected:
    void SetUp() override {
        if (golden::RanInChild()) GTEST_SKIP() << "ran in a process of its own";
        ASSERT_TRUE(StartRidarForTest());
        char tmpl[] = "/tmp/ridar-golden-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        files_.clear();
        rt_SetPopupHook([this](const RtPopup &p) {
            RtPopupAnswer a;
            if (p.kind == 3 && !files_.empty()) {
                a.result = files_.front().first;
                a.path = files_.front().second;
                files_.erase(files_.begin());
            }
            popups_.push_back(p.title + ": " + p.message);
            return a;
        });
        // a safety net: no scenario may hang in a loop
        rt_After(60.0, [] { stop_flag = STOP_ASKED; });
    }
    void TearDown() override {
        if (IsSkipped()) return;
        CloseCom(com);
        sim_.Stop();
        std::string cmd = "rm -rf '" + dir_ + "'";
        (void)std::system(cmd.c_str());
    }

    // The simulator with these options, and the program's start-up on it.
    void Start(Trace &t, std::vector<std::string> simOptions = {}) {
        ASSERT_TRUE(sim_.Start(golden::SimArgs(simOptions)));
        t.Step("start-up");
        Connect(sim_.Device());
        t.Status();
    }
    // The next file dialog answers with this file.
    void ChooseFile(const std::string &path, int result) { files_.push_back({result, path}); }
    void Click(Trace &t, const char *name) {
        t.Step(std::string("click ") + name);
        ASSERT_TRUE(drive::Click(pHandle, name)) << name;
        t.Status();
        // An operator's next action comes well after this one. A request
        // that needs no reply (send) may still sit in the line's output
        // queue when it returns, and the next action's flush would drop it.
        Pump(0.1);
    }
    // Types a value into a control and leaves it with Tab, as an operator does.
    void Enter(int panel, const char *name, const std::string &value) {
        ASSERT_TRUE(drive::Type(panel, name, value)) << name;
        ASSERT_TRUE(drive::Key(panel, name, "Tab")) << name;
    }

    SimProcess sim_;
    std::string dir_;
    std::vector<std::pair<int, std::string>> files_;
    std::vector<std::string> popups_;
};

TEST_F(Golden, StartUp) {
    Trace t;
    Start(t);
    golden::Check("StartUp.trace", t.Text());
}

TEST_F(Golden, GetRamAndEeprom) {
    Trace t;
    Start(t, {"--object", "500", "700"});
    Click(t, "BTNGet");
    Click(t, "RBTEeprom");
    Click(t, "BTNGet");
    golden::Check("GetRamAndEeprom.trace", t.Text());
}

// Edited values go to RAM, then others to the EEPROM; each is read back.
TEST_F(Golden, SendRamAndEeprom) {
    Trace t;
    Start(t);
    Enter(pHandle, "NUMPower", "700");
    Enter(pHandle, "NUMSetpoint", "650");
    Enter(pHandle, "NUMVideoThreshold", "400");
    Click(t, "BTNSend");
    Click(t, "BTNGet");
    Click(t, "RBTEeprom");
    Enter(pHandle, "NUMPower", "350");
    Enter(pHandle, "NUMAverage", "8");
    Click(t, "BTNSend");
    Click(t, "BTNGet");
    Click(t, "RBTRam");
    Click(t, "BTNGet");
    golden::Check("SendRamAndEeprom.trace", t.Text());
}

// Before firmware 2.40 word 15 is the second tolerance, not the trigger mode.
TEST_F(Golden, SendFirmware239) {
    Trace t;
    Start(t, {"--softversion", "239"});
    Enter(pHandle, "NUMDeltaTol", "25");
    Click(t, "BTNSend");
    Click(t, "BTNGet");
    golden::Check("SendFirmware239.trace", t.Text());
}

// Save the panel to a parameter file, load a file written by hand (other
// spacing, CR LF) and send what it held to RAM.
TEST_F(Golden, ParameterFileSaveAndLoad) {
    Trace t;
    Start(t);
    Enter(pHandle, "NUMPower", "650");
    Enter(pHandle, "NUMVideoThreshold", "400");
    Click(t, "RBTFile");
    const std::string saved = dir_ + "/KVEXpara.dat";
    ChooseFile(saved, VAL_NEW_FILE_SELECTED);
    Click(t, "BTNSend");
    golden::Check("ParameterFile.saved.dat", testfs::ReadFile(saved));

    const std::string byHand = dir_ + "/hand.dat";
    testfs::WriteFile(byHand, "  800\r\n0\r\n300\t\r\n1\r\n0\r\n2\r\n40\r\n1900\r\n1000\r\n60\r\n"
                              "0\r\n1\r\n2048\r\n30500\r\n32\r\n1\r\n");
    ChooseFile(byHand, VAL_EXISTING_FILE_SELECTED);
    Click(t, "BTNGet");
    Click(t, "RBTRam");
    Click(t, "BTNSend");
    Click(t, "BTNGet");
    golden::Check("ParameterFile.trace", t.Text());
}

TEST_F(Golden, RunMode) {
    Trace t;
    Start(t);
    t.At(kOrderMeasure, 20, [] { rt_UserClick(pHandle, PANEL_BTNStop); });
    Click(t, "BTNRun");
    EXPECT_EQ(t.Count(kOrderMeasure), 20);
    golden::Check("RunMode.trace", t.Text());
}

// Video mode, two passes: a frame, then the blocks of the board type.
void VideoScenario(Trace &t, const char *pcbtype) {
    t.At(kOrderMeasure, 2, [] { rt_UserClick(pHandle, PANEL_BTNStop); });
    t.Step(std::string("video on board type ") + pcbtype);
    ASSERT_TRUE(drive::Click(pHandle, "BTNVideo"));
    t.Status();
    EXPECT_EQ(t.Count(kOrderMeasure), 2);
}

TEST_F(Golden, VideoBoard100) {
    Trace t;
    Start(t, {"--pcbtype", "100"});
    VideoScenario(t, "100");
    golden::Check("VideoBoard100.trace", t.Text());
}

TEST_F(Golden, VideoBoard1) {
    Trace t;
    Start(t, {"--pcbtype", "1"});
    VideoScenario(t, "1");
    golden::Check("VideoBoard1.trace", t.Text());
}

TEST_F(Golden, VideoBoard0) {
    Trace t;
    Start(t, {"--pcbtype", "0"});
    VideoScenario(t, "0");
    golden::Check("VideoBoard0.trace", t.Text());
}

TEST_F(Golden, Teach) {
    Trace t;
    Start(t, {"--object", "450", "650"});
    Click(t, "ButtonTeach");
    golden::Check("Teach.trace", t.Text());
}

// Activate, object 1 (200 px, 5000 um), object 2 (600 px, 17000 um), fit,
// save, discard; then the sensor's RAM read back. Each step comes while a
// given request of the run loop is outstanding.
void CalibrationScenario(SimProcess &sim, Trace &t) {
    auto step = [&t](const char *name) { t.Step(name); };
    t.At(kOrderMeasure, 3, [&, step] {
        step("object 1");
        rt_UserClick(pPopup, POPUP_CheckStep1);
        EXPECT_TRUE(drive::Type(pPopup, "NUMUmObject1", "5000"));
        rt_UserClick(pPopup, POPUP_ButtonAcceptObject1);
        EXPECT_TRUE(SimDo(sim, "object 300 900"));
    });
    t.At(kOrderMeasure, 6, [&, step] {
        step("object 2, fit, save");
        rt_UserClick(pPopup, POPUP_CheckStep2);
        EXPECT_TRUE(drive::Type(pPopup, "NUMUmObject2", "17000"));
        rt_UserClick(pPopup, POPUP_ButtonAcceptObject2);
        rt_UserClick(pPopup, POPUP_ButtonDoFit);
        rt_UserClick(pPopup, POPUP_ButtonSaveCalValues);
        t.Status();
    });
    t.At(kOrderMeasure, 9, [&, step] {
        step("discard");
        rt_UserClick(pPopup, POPUP_DiscardCalibration);
    });
    t.Step("open the calibration");
    ASSERT_TRUE(drive::Click(pHandle, "TOGGBTN_ParaII"));
    ASSERT_TRUE(rt_IsShown(pPopup));
    t.Step("activate");
    rt_UserClick(pPopup, POPUP_ActivateCalibration);
    t.Status();
    EXPECT_EQ(t.Count(kOrderMeasure), 9);
    EXPECT_EQ(stop_flag, STOP_ASKED);
    t.Step("get");
    ASSERT_TRUE(drive::Click(pHandle, "BTNGet"));
    t.Status();
}

TEST_F(Golden, Calibration) {
    Trace t;
    Start(t, {"--object", "400", "600"});
    CalibrationScenario(sim_, t);
    EXPECT_EQ(slope, 30720);   // 30 um/px, -1000 um
    EXPECT_EQ(intersect, 29000);
    golden::Check("Calibration.trace", t.Text());
}

// The slope word counts 1/512 um/px on type 104 before firmware 2.50.
TEST_F(Golden, CalibrationType104) {
    Trace t;
    Start(t, {"--object", "400", "600", "--ccdtype", "104", "--softversion", "249",
              "--ccdvirtpixel", "3072", "--ccdmaxpixel", "1536"});
    CalibrationScenario(sim_, t);
    EXPECT_EQ(slope, 15360);
    golden::Check("CalibrationType104.trace", t.Text());
}

// Three samples, one a second: the requests and the file.
TEST_F(Golden, Recording) {
    Trace t;
    Start(t, {"--object", "420", "610"});
    t.Step("open the recorder");
    ASSERT_TRUE(drive::Click(pHandle, "TOGGBTN_Recorder"));
    const std::string file = dir_ + "/RECORD.DAT";
    ChooseFile(file, VAL_NEW_FILE_SELECTED);
    ASSERT_TRUE(drive::Click(pRecord, "CMDBTNrecfile"));
    Enter(pRecord, "NUMsample", "3");
    Enter(pRecord, "NUMinctime", "0");
    t.Step("start");
    ASSERT_TRUE(drive::Click(pRecord, "CBTNStartRecord"));
    t.Status();
    t.RecorderStatus();
    EXPECT_EQ(t.Count(kOrderMeasure), 3);
    golden::Check("Recording.trace", t.Text());
    golden::Check("Recording.dat", golden::MaskDateTime(testfs::ReadFile(file)));
}

}   // namespace
