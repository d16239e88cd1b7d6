// The widget-driving helper of the test support (tests/support/drive.h):
// typing, keys, clicks and wheel notches reach the real widgets of the
// loaded panels, and the program sees them as it would see an operator.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/support.h"
#include "rt/rt_testing.h"
#include "app/app.h"
#include "params/vars.h"

namespace {

class Drive : public ::testing::Test {
protected:
    PtyPeer peer;
    void SetUp() override {
        ASSERT_TRUE(StartRidarForTest());
        ASSERT_TRUE(OpenTestLine(peer.Device()));
        IdentifiedAsType2();
        SetParamVars({500, 0, 512, 2, 1, 1, 3, 1024, 700, 100, 1, 1, 34048, 29879, 16, 9}, 2);
        SetPanelValues();
        SelectTarget(RAM);
        DisplayPanel(pHandle);
    }
    void TearDown() override { CloseCom(1); }
};

}   // namespace

TEST_F(Drive, FindsTheWidgetsByName) {
    EXPECT_NE(drive::Widget(pHandle, "NUMPower"), nullptr);
    EXPECT_NE(drive::Widget(pPopup, "DiscardCalibration"), nullptr);
    EXPECT_EQ(drive::Widget(pHandle, "NoSuchControl"), nullptr);
    EXPECT_EQ(drive::Widget(pHandle, ""), rt_Widget(pHandle, 0));
    EXPECT_EQ(drive::Widget(pHandle, "NUMPower"), rt_Widget(pHandle, PANEL_NUMPower));
}

TEST_F(Drive, TypingStaysAnEditUntilTheFocusMoves) {
    ASSERT_TRUE(drive::Type(pHandle, "NUMPower", "700"));
    EXPECT_EQ(drive::Shown(pHandle, "NUMPower"), "700");
    EXPECT_TRUE(drive::HasFocus(pHandle, "NUMPower"));
    EXPECT_EQ(Shown(PANEL_NUMPower), 500);   // not yet interpreted
    ASSERT_TRUE(drive::Key(pHandle, "NUMPower", "Tab"));
    EXPECT_FALSE(drive::HasFocus(pHandle, "NUMPower"));
    EXPECT_EQ(Shown(PANEL_NUMPower), 700);
}

TEST_F(Drive, AMouseClickOnSendCommitsTheEditAndSends) {
    ASSERT_TRUE(drive::Type(pHandle, "NUMPower", "700"));
    ASSERT_TRUE(drive::Click(pHandle, "BTNSend"));
    const std::string wire = drive::ReadWire(peer, 36, 0.5);
    ASSERT_EQ(wire.size(), 36u);
    EXPECT_EQ(FrameWord(wire, 0), 700);
    EXPECT_EQ(power, 700);
}

TEST_F(Drive, ClickOnARadioButtonChangesTheTarget) {
    ASSERT_TRUE(drive::Click(pHandle, "RBTEeprom"));
    EXPECT_EQ(target, EEPROM);
    EXPECT_EQ(Radio(PANEL_RBTEeprom), 1);
    EXPECT_EQ(Radio(PANEL_RBTRam), 0);
    ASSERT_TRUE(drive::Click(pHandle, "RBTRam"));
    EXPECT_EQ(target, RAM);
}

TEST_F(Drive, EnterCommitsAndAWheelNotchSteps) {
    ASSERT_TRUE(drive::Type(pHandle, "NUMPower", "650"));
    ASSERT_TRUE(drive::Key(pHandle, "NUMPower", "Return"));
    EXPECT_EQ(Shown(PANEL_NUMPower), 650);
    ASSERT_TRUE(drive::Wheel(pHandle, "NUMPower", 1));
    EXPECT_EQ(Shown(PANEL_NUMPower), 660);   // single step 10
}

TEST_F(Drive, DimmedOrHiddenControlsCannotBeReached) {
    SetCtrlAttribute(pHandle, PANEL_NUMPower, ATTR_DIMMED, 1);
    EXPECT_FALSE(drive::Type(pHandle, "NUMPower", "1"));
    EXPECT_FALSE(drive::Click(pHandle, "NUMPower"));
    EXPECT_FALSE(drive::Wheel(pHandle, "NUMPower", 1));
    SetCtrlAttribute(pHandle, PANEL_NUMPower, ATTR_DIMMED, 0);
    EXPECT_EQ(Shown(PANEL_NUMPower), 500);
    EXPECT_FALSE(drive::Click(pHandle, "NoSuchControl"));
}

TEST_F(Drive, PanelKeysReachTheShortcutsAndLeaveTheFocus) {
    int pressed = 0;
    rt_SetShortcut(pHandle, "Ctrl+F12", [&] { ++pressed; });
    ASSERT_TRUE(drive::Focus(pHandle, "NUMSetpoint"));
    ASSERT_TRUE(drive::PanelKey(pHandle, "Ctrl+F12"));
    EXPECT_EQ(pressed, 1);
    EXPECT_TRUE(drive::HasFocus(pHandle, "NUMSetpoint"));
    rt_SetShortcut(pHandle, "Ctrl+F12", [] {});   // `pressed` ends here
}
