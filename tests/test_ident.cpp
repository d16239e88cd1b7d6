// Identification of the connected sensor against kvex-sim: hardware
// information, sensor types, firmware text, refused series, port change.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/support.h"
#include "rt/rt_testing.h"
#include "app/app.h"
#include "display/display.h"
#include "link/frame.h"
#include "params/vars.h"

namespace {

const char *kOnSentinel = "ON-untouched";
const char *kOffSentinel = "OFF-untouched";
const char *kLineSentinel0 = "line0-untouched";
const char *kLineSentinel1 = "line1-untouched";

std::vector<std::string> Split(const std::string &s) {
    std::vector<std::string> out;
    std::stringstream ss(s);
    std::string line;
    while (std::getline(ss, line)) out.push_back(line);
    return out;
}

// The sensor sends its text blank-padded to the full length.
std::string Padded(const std::string &text, size_t n) {
    return text + std::string(n - text.size(), ' ');
}

class Ident : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(StartRidarForTest());
        popups.clear();
        rt_SetPopupHook([this](const RtPopup &p) {
            popups.push_back(p);
            return RtPopupAnswer{};
        });
        // a known state that each identification either changes or keeps
        ccdtype = softversion = hwtype = ccdresolution = 0;
        ccdmaxpixel = 1024;
        ccdvirtpixel = 2048;
        pcbtype = 100;
        adcmax = 256;
        YMAXADC = 777;
        pixB = 5;
        pixE = 999;
        szVersion[0] = '\0';
        ResetTextBox(pPopup, POPUP_TEXTSensorInfo, "");
        ReplaceTextBoxLine(pPopup, POPUP_TEXTSensorInfo, 0, kLineSentinel0);
        ReplaceTextBoxLine(pPopup, POPUP_TEXTSensorInfo, 1, kLineSentinel1);
        SetCtrlAttribute(pHandle, PANEL_SWITCHOpMode, ATTR_ON_TEXT, kOnSentinel);
        SetCtrlAttribute(pHandle, PANEL_SWITCHOpMode, ATTR_OFF_TEXT, kOffSentinel);
        SetCtrlAttribute(pHandle, PANEL_RINGRs232Mode, ATTR_DIMMED, 0);
        // both visible: a rule-V decision always hides one of them
        SetCtrlAttribute(pHandle, PANEL_RINGTrigMode, ATTR_VISIBLE, 1);
        SetCtrlAttribute(pHandle, PANEL_NUMDeltaTol, ATTR_VISIBLE, 1);
        SetCtrlAttribute(pHandle, PANEL_CTRLSeriesLockA, ATTR_DIMMED, 1);
        SetCtrlAttribute(pHandle, PANEL_CTRLSeriesLockB, ATTR_DIMMED, 1);
        SetAxisScalingMode(pHandle, PANEL_GRAPHVideo, VAL_XAXIS, VAL_MANUAL, 7, 77);
        SetAxisScalingMode(pHandle, PANEL_STRIPRaw, VAL_LEFT_YAXIS, VAL_MANUAL, 3, 33);
        sync = 0x55;
    }
    void TearDown() override {
        CloseCom(1);
        CloseCom(2);
        rt_SetPopupHook([](const RtPopup &) { return RtPopupAnswer{}; });
    }
    // Starts a simulator with the options and identifies it on port 1.
    bool Identify(SimProcess &sim, std::vector<std::string> args) {
        args.insert(args.begin(), "--fast");
        if (!sim.Start(args)) return false;
        rt_SetPortTable({sim.Device()});
        com = 1;
        InitRS232(1);
        return true;
    }
    std::vector<std::string> InfoLines() {
        return Split(rt_GetCtrlText(pPopup, POPUP_TEXTSensorInfo));
    }
    std::string SwitchText(int on) {
        SetCtrlVal(pHandle, PANEL_SWITCHOpMode, on);
        return rt_GetCtrlText(pHandle, PANEL_SWITCHOpMode);
    }

    std::vector<RtPopup> popups;
};

// ---- sensor types ---------------------------------------------------------------

struct TypeCase {
    const char *name;
    std::vector<std::string> args;
    const char *line0;   // nullptr: unchanged
    const char *line1;
    const char *on, *off;   // nullptr: unchanged
    int trigVisible;   // 1 shown (deltaTol hidden), 0 hidden (deltaTol shown), -1 both untouched
    int rs232Dimmed;
    int ymax;   // 777: unchanged
    int pixE;
};

const std::string kBlanks37(37, ' ');

// clang-format off
const TypeCase kTypes[] = {
    {"1, hwtype 80, resolution 20",
     {"--ccdtype", "1", "--hwtype", "80", "--ccdresolution", "20", "--ccdvirtpixel", "4096"},
     "CCD-SENSOR:1024 pixel; 4096 subpixel", "8.0mm working range; 2µm resolution", "HI-GAIN", "LO-GAIN", 1, 1,
     1024, 4096},
    {"1, resolution 80, firmware 230",
     {"--ccdtype", "1", "--ccdresolution", "80", "--softversion", "230"},
     "CCD-SENSOR:1024 pixel; 2048 subpixel", "8.0mm working range; 4µm resolution", "HI-GAIN", "LO-GAIN", 0, 1,
     1024, 2048},
    {"1, hwtype 80, resolution 55",
     {"--ccdtype", "1", "--hwtype", "80", "--ccdresolution", "55"},
     "CCD-SENSOR:1024 pixel; 2048 subpixel", "8.0mm working range; 4µm resolution", "HI-GAIN", "LO-GAIN", 1, 1,
     1024, 2048},
    {"1, resolution 20 without an 80",
     {"--ccdtype", "1", "--ccdresolution", "20", "--adcmax", "256", "--ccdvirtpixel", "1024"},
     nullptr, nullptr, "HI-GAIN", "LO-GAIN", -1, 0, 256, 1024},
    {"2a, resolution 750", {"--ccdtype", "2", "--ccdresolution", "750", "--softversion", "230"},
     "CCD-SENSOR:1024 pixel; 25µm pixel-pitch;", "opt.-lense, 75mm working range", "HI-GAIN", "LO-GAIN", -1, 0,
     1024, 2048},
    {"2b, hwtype 250", {"--ccdtype", "2", "--hwtype", "250"},
     "CCD-SENSOR:1024 pixel; 2048 subpixel", "25.6mm working range; 12.5µm resolution", "HI-GAIN", "LO-GAIN", 1,
     0, 1024, 2048},
    {"2c wins over 2b: hwtype 250, resolution 350",
     {"--ccdtype", "2", "--hwtype", "250", "--ccdresolution", "350", "--softversion", "239"},
     "CCD-SENSOR:1024 pixel; 2048 subpixel", "35mm working range; 17µm resolution", "HI-GAIN", "LO-GAIN", 0, 0,
     1024, 2048},
    {"2c wins over 2a: hwtype 350, resolution 750",
     {"--ccdtype", "2", "--hwtype", "350", "--ccdresolution", "750"},
     "CCD-SENSOR:1024 pixel; 2048 subpixel", "35mm working range; 17µm resolution", "HI-GAIN", "LO-GAIN", 1, 0,
     1024, 2048},
    {"2 without a sub-case", {"--ccdtype", "2"}, nullptr, nullptr, "HI-GAIN", "LO-GAIN", -1, 0, 1024, 2048},
    {"3, firmware 240", {"--ccdtype", "3", "--softversion", "240", "--ccdvirtpixel", "512"},
     "CCD-SENSOR:512 pixel; 25µm pixel-pitch;", "12,8mm working range", "HI-GAIN", "LO-GAIN", 1, 1, 1024, 512},
    {"3, firmware 239", {"--ccdtype", "3", "--softversion", "239", "--ccdvirtpixel", "512"},
     "CCD-SENSOR:512 pixel; 25µm pixel-pitch;", "12,8mm working range", "HI-GAIN", "LO-GAIN", 0, 0, 1024, 512},
    {"4", {"--ccdtype", "4", "--ccdmaxpixel", "1536", "--softversion", "230"},
     "CCD-SENSOR:512 pixel; 12,5µm pixel-pitch;", "6,4mm working range", nullptr, nullptr, -1, 0, 777, 512},
    {"101", {"--ccdtype", "101", "--ccdvirtpixel", "512", "--adcmax", "256"},
     "CCD-SENSOR:256 pixel; 63.5µm pixel-pitch;", "Working-Range: 16.25mm, Resolution: 31.75µm (subpixel x2)",
     "ADC-CNV", "DIG-CMP", 1, 0, 256, 512},
    {"102, firmware 230, ADC 1024", {"--ccdtype", "102", "--softversion", "230", "--adcmax", "1024", "--ccdvirtpixel", "1536"},
     "CCD-SENSOR:768 pixel; 63.5µm pixel-pitch;", "Working-Range: 48,8mm, Resolution: 31.75µm (subpixel x2)",
     "ADC-CNV", "DIG-CMP", 0, 0, 256, 1536},
    {"102, firmware 240, ADC 1024", {"--ccdtype", "102", "--softversion", "240", "--adcmax", "1024"},
     "CCD-SENSOR:768 pixel; 63.5µm pixel-pitch;", "Working-Range: 48,8mm, Resolution: 31.75µm (subpixel x2)",
     "ADC-CNV", "DIG-CMP", 1, 0, 1024, 2048},
    {"103, firmware 219", {"--ccdtype", "103", "--softversion", "219", "--ccdvirtpixel", "2360"},
     "CCD-SENSOR:1180 pixel; 63.5µm pixel-pitch;", "Working-Range: 74,9mm,   Resolution: 31.75µm (subpixel x2)",
     "ADC-CNV", "DIG-CMP", 0, 0, 1024, 2360},
    {"103, firmware 220", {"--ccdtype", "103", "--softversion", "220"},
     "CCD-SENSOR:1180 pixel; 63.5µm pixel-pitch;", "Working-Range: 74,9mm,   Resolution: 31.75µm (subpixel x2)",
     "ADC-CNV", "DIG-CMP", 0, 0, 256, 2048},
    {"104, firmware 249", {"--ccdtype", "104", "--softversion", "249", "--ccdvirtpixel", "3072"},
     "CCD-SENSOR:1536 pixel; 63.5µm pixel-pitch;", "Working-Range: 97,5mm, Resolution: 63.5µm", "ADC-CNV",
     "DIG-CMP", 1, 0, 1024, 3072},
    {"104, firmware 250", {"--ccdtype", "104", "--softversion", "250", "--ccdvirtpixel", "3072"},
     "CCD-SENSOR:1536 pixel; 63.5µm pixel-pitch;", "Working-Range: 97,5mm, Resolution: 31.75µm (subpixel x2)",
     "ADC-CNV", "DIG-CMP", 1, 0, 1024, 3072},
    {"unknown type 77", {"--ccdtype", "77", "--ccdvirtpixel", "4096"},
     "CCD-SENSOR: no information avialable!", kBlanks37.c_str(), "ADC-CNV", "DIG-CMP", -1, 0, 777, 1024},
};
// clang-format on

TEST_F(Ident, SensorTypeTable) {
    for (const TypeCase &c : kTypes) {
        SetUp();
        SimProcess sim;
        ASSERT_TRUE(Identify(sim, c.args)) << c.name;
        SCOPED_TRACE(c.name);
        const auto lines = InfoLines();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[0], c.line0 ? c.line0 : kLineSentinel0);
        EXPECT_EQ(lines[1], c.line1 ? c.line1 : kLineSentinel1);
        EXPECT_EQ(SwitchText(1), c.on ? c.on : kOnSentinel);
        EXPECT_EQ(SwitchText(0), c.off ? c.off : kOffSentinel);
        if (c.trigVisible < 0) {
            EXPECT_EQ(Attr(PANEL_RINGTrigMode, ATTR_VISIBLE), 1);
            EXPECT_EQ(Attr(PANEL_NUMDeltaTol, ATTR_VISIBLE), 1);
        } else {
            EXPECT_EQ(Attr(PANEL_RINGTrigMode, ATTR_VISIBLE), c.trigVisible);
            EXPECT_EQ(Attr(PANEL_NUMDeltaTol, ATTR_VISIBLE), 1 - c.trigVisible);
        }
        EXPECT_EQ(Attr(PANEL_RINGRs232Mode, ATTR_DIMMED), c.rs232Dimmed);
        EXPECT_EQ(YMAXADC, c.ymax);
        EXPECT_EQ(pixB, 1);
        EXPECT_EQ(pixE, c.pixE);
        // accepted: firmware text in the status line, locks open
        EXPECT_EQ(StatusLine(), std::string(szVersion));
        EXPECT_EQ(std::string(szVersion).rfind("K-VEX-XC", 0), 0u);
        EXPECT_EQ(Attr(PANEL_CTRLSeriesLockA, ATTR_DIMMED), 0);
        EXPECT_EQ(Attr(PANEL_CTRLSeriesLockB, ATTR_DIMMED), 0);
        EXPECT_TRUE(popups.empty());
        CloseCom(1);
    }
}

TEST_F(Ident, TypeFourSetsStripAxisToMaxPixel) {
    SimProcess sim;
    ASSERT_TRUE(Identify(sim, {"--ccdtype", "4", "--ccdmaxpixel", "1536"}));
    double lo = -1, hi = -1;
    ASSERT_GE(rt_GetAxisRange(pHandle, PANEL_STRIPRaw, VAL_LEFT_YAXIS, &lo, &hi), 0);
    EXPECT_EQ(lo, 0.0);
    EXPECT_EQ(hi, 1536.0);
}

TEST_F(Ident, SpacingTableAndPixelCounts) {
    // clang-format off
    const struct { int virt; int spacing; int virtAfter; int maxIn; int maxAfter; } cases[] = {
        {256, 1, 256, 512, 512},     {512, 2, 512, 768, 768},     {768, 3, 768, 1024, 1024},
        {1024, 4, 1024, 1280, 1280}, {1180, 5, 1180, 1536, 1536}, {1280, 5, 1280, 2048, 2048},
        {1536, 6, 1536, 3072, 3072}, {2048, 8, 2048, 4096, 4096}, {2360, 10, 2360, 1000, 1024},
        {2560, 10, 2560, 0, 1024},   {3072, 12, 3072, 8192, 1024}, {4096, 16, 4096, 1023, 1024},
        {8192, 32, 8192, 1024, 1024}, {1000, 4, 1024, 1024, 1024},
    };
    // clang-format on
    for (const auto &c : cases) {
        SetUp();
        SimProcess sim;
        ASSERT_TRUE(Identify(sim, {"--ccdtype", "2", "--ccdvirtpixel", std::to_string(c.virt),
                                   "--ccdmaxpixel", std::to_string(c.maxIn)}));
        SCOPED_TRACE(c.virt);
        EXPECT_EQ(ccdvirtpixel, c.virtAfter);
        EXPECT_EQ(ccdmaxpixel, c.maxAfter);
        EXPECT_EQ(xArray8[0], 0.0);
        EXPECT_EQ(xArray8[1], c.spacing);
        EXPECT_EQ(xArray8[255], 255.0 * c.spacing);
        // the video graph spans what the sensor said, before the correction
        double lo = 0, hi = 0;
        rt_GetAxisRange(pHandle, PANEL_GRAPHVideo, VAL_XAXIS, &lo, &hi);
        EXPECT_EQ(lo, 1.0);
        EXPECT_EQ(hi, c.virt);
        EXPECT_EQ(pixE, c.virtAfter);   // type 2 copies the corrected count
        CloseCom(1);
    }
}

// ---- firmware text and refused series ---------------------------------------------

TEST_F(Ident, RefusedSeriesGetTheirMessageAndNoParameterRead) {
    // clang-format off
    const struct { const char *firmware; int pcb; const char *message; } cases[] = {
        {"K-VEX-XD-200 V2.10", 100, "K-VEX-XD-series hardware detected!\nUSE K-VEX-XD-Ridar Software!"},
        {"K-VEX-XG-XC 7", 100, "K-VEX-XJ-XC-series hardware detected!\nUSE K-VEX-XJ-XC-Ridar Software!"},
        {"K-VEX-XH-XC", 100, "K-VEX-XJ-XC-series hardware detected!\nUSE K-VEX-XJ-XC-Ridar Software!"},
        {"K-VEX-XG-XD-1", 100, "K-VEX-XJ-XD-series hardware detected!\nUSE K-VEX-XJ-XD-Ridar Software!"},
        {"K-VEX-XH-XD 5", 100, "K-VEX-XJ-XD-series hardware detected!\nUSE K-VEX-XJ-XD-Ridar Software!"},
        {"K-VEX-XF-9", 100, "K-VEX-XF-series hardware detected!\nUSE K-VEX-XF-Ridar Software!"},
        {"K-VEX-XD on board 0", 0, "K-VEX-XD-series hardware detected!\nUSE K-VEX-XD-Ridar Software!"},
    };
    // clang-format on
    for (const auto &c : cases) {
        SetUp();
        SetCtrlAttribute(pHandle, PANEL_CTRLSeriesLockA, ATTR_DIMMED, 0);
        SetCtrlAttribute(pHandle, PANEL_CTRLSeriesLockB, ATTR_DIMMED, 0);
        SimProcess sim;
        ASSERT_TRUE(Identify(sim, {"--firmware", c.firmware, "--pcbtype", std::to_string(c.pcb)}));
        SCOPED_TRACE(c.firmware);
        ASSERT_EQ(popups.size(), 1u);
        EXPECT_EQ(popups[0].kind, 1);
        EXPECT_EQ(popups[0].title, "Attention !!!");
        EXPECT_EQ(popups[0].message, c.message);
        EXPECT_EQ(Attr(PANEL_CTRLSeriesLockA, ATTR_DIMMED), 1);
        EXPECT_EQ(Attr(PANEL_CTRLSeriesLockB, ATTR_DIMMED), 1);
        EXPECT_EQ(SimRequests(sim, 2), 0);
        EXPECT_EQ(SimRequests(sim, 7), 1);
        EXPECT_EQ(StatusLine(), Padded(c.firmware, c.pcb == 0 ? 36 : 72));
        CloseCom(1);
    }
}

TEST_F(Ident, SeriesResultCodes) {
    for (int r : {-1, -2, -3, -4, -5, -6, -7, -100})
        EXPECT_NE(std::string(SeriesRefusedText(r)).find("hardware detected!\n"), std::string::npos)
            << r;
    EXPECT_STREQ(SeriesRefusedText(-7),
                 "Incompatible hardware detected!\nCan not be used with K-VEX-XC-Ridar Software!");
    EXPECT_STREQ(SeriesRefusedText(-3), SeriesRefusedText(-2));
    EXPECT_STREQ(SeriesRefusedText(-5), SeriesRefusedText(-4));
}

TEST_F(Ident, OwnSeriesAndUnknownModelsAreAccepted) {
    // clang-format off
    const struct { const char *firmware; int pcb; } cases[] = {
        {"K-VEX-XC-1024 V2.52", 100},
        {"K-VEX-XCX anything after eight", 100},
        {"K-VEX-ZZ-9000 a new model", 100},
        {"ACME line sensor", 100},
        {"K-VEX-XC on board 0", 0},
    };
    // clang-format on
    for (const auto &c : cases) {
        SetUp();
        SimProcess sim;
        ASSERT_TRUE(Identify(sim, {"--firmware", c.firmware, "--pcbtype", std::to_string(c.pcb)}));
        SCOPED_TRACE(c.firmware);
        EXPECT_TRUE(popups.empty());
        const std::string text = Padded(c.firmware, c.pcb == 0 ? 36 : 72);
        EXPECT_EQ(std::string(szVersion), text);
        EXPECT_EQ(StatusLine(), text);
        EXPECT_EQ(Attr(PANEL_CTRLSeriesLockA, ATTR_DIMMED), 0);
        EXPECT_EQ(Attr(PANEL_CTRLSeriesLockB, ATTR_DIMMED), 0);
        EXPECT_EQ(SimRequests(sim, 2), 1);
        EXPECT_EQ(target, RAM);
        CloseCom(1);
    }
}

TEST_F(Ident, BoardTypeZeroTakesTheLowByteOfEachWord) {
    SimProcess sim;
    // 36 characters exactly: the whole text fits the word form
    const std::string text = "K-VEX-XC-B0 firmware 2.52 word form.";
    ASSERT_EQ(text.size(), 36u);
    ASSERT_TRUE(Identify(sim, {"--pcbtype", "0", "--firmware", text}));
    EXPECT_EQ(pcbtype, 0);
    EXPECT_EQ(std::string(szVersion), text);
    EXPECT_EQ(StatusLine(), text);
}

TEST_F(Ident, SeventyTwoCharacterTextIsTerminated) {
    SimProcess sim;
    const std::string text = "K-VEX-XC-" + std::string(63, 'x');
    ASSERT_EQ(text.size(), 72u);
    std::memset(szVersion, 'Z', sizeof szVersion);
    ASSERT_TRUE(Identify(sim, {"--firmware", text}));
    EXPECT_EQ(std::string(szVersion), text);
    EXPECT_EQ(std::string(szStatus), text);
    EXPECT_EQ(StatusLine(), text);
}

// The sensor's texts are 8-bit Latin-1: 0xB5 is the micro sign, 0xC4 an
// A with umlaut. The status line shows them as those characters.
TEST_F(Ident, FirmwareTextIsLatin1) {
    // clang-format off
    const struct {
        std::string sent;     // bytes on the wire
        int pcb;
        std::string shown;    // UTF-8, before the padding
        int popupsSeen;
    } cases[] = {
        {"K-VEX-XC \xB5m-Sensor \xC4\xD6\xDC\xDF 20\xB0""C", 100, "K-VEX-XC µm-Sensor ÄÖÜß 20°C", 0},
        {"K-VEX-XC 2\xB5m \xE9t\xE9", 0, "K-VEX-XC 2µm été", 0},
        {"K-VEX-XC-" + std::string(63, '\xB5'), 100, "K-VEX-XC-" + [] {
             std::string m;
             for (int i = 0; i < 63; ++i) m += "µ";
             return m;
         }(), 0},
        {"\xFF\xA0\x80 K-VEX-XC", 100, "ÿ\xC2\xA0\xC2\x80 K-VEX-XC", 0},
        {"K-VEX-XD \xB5", 100, "K-VEX-XD µ", 1},   // still known as another series
    };
    // clang-format on
    for (const auto &c : cases) {
        SetUp();
        SimProcess sim;
        ASSERT_TRUE(Identify(sim, {"--firmware", c.sent, "--pcbtype", std::to_string(c.pcb)}));
        SCOPED_TRACE(c.shown);
        const size_t width = c.pcb == 0 ? 36 : 72;
        const std::string text = c.shown + std::string(width - c.sent.size(), ' ');
        EXPECT_EQ(std::string(szVersion), text);
        EXPECT_EQ(StatusLine(), text);
        EXPECT_EQ(StatusLine().find("\xEF\xBF\xBD"),
                  std::string::npos);   // no replacement character
        EXPECT_EQ(static_cast<int>(popups.size()), c.popupsSeen);
        CloseCom(1);
    }
}

TEST_F(Ident, FirmwareBelowAndAbove240LayOutThePanel) {
    const struct {
        const char *version;
        int trig;
        size_t items;
        const char *item2;
    } cases[] = {
        {"239", 0, 8, "MAX. int. trigg."},
        {"240", 1, 5, "MAXIMA"},
        {"252", 1, 5, "MAXIMA"},
    };
    for (const auto &c : cases) {
        SetUp();
        SimProcess sim;
        ASSERT_TRUE(Identify(sim, {"--softversion", c.version, "--hwtype", "250"}));
        InitGUI();
        SCOPED_TRACE(c.version);
        EXPECT_EQ(Attr(PANEL_RINGTrigMode, ATTR_VISIBLE), c.trig);
        EXPECT_EQ(Attr(PANEL_NUMDeltaTol, ATTR_VISIBLE), 1 - c.trig);
        const auto items = rt_GetListItems(pHandle, PANEL_RINGanaMode);
        ASSERT_EQ(items.size(), c.items);
        EXPECT_EQ(items[0], "DIRECT 0..10V");
        EXPECT_EQ(items[2], c.item2);
        CloseCom(1);
    }
}

// ---- failures ---------------------------------------------------------------------

TEST_F(Ident, HardwareReplyWithWrongHeaderStoresWordsButAppliesNothing) {
    SimProcess sim;
    ASSERT_TRUE(Identify(sim, {"--hw-header", "11", "--ccdtype", "104", "--ccdvirtpixel", "1000",
                               "--softversion", "249", "--ccdmaxpixel", "999"}));
    // the words were stored...
    EXPECT_EQ(ccdtype, 104);
    EXPECT_EQ(softversion, 249);
    EXPECT_EQ(ccdvirtpixel, 1000);   // not corrected: the table did not run
    EXPECT_EQ(ccdmaxpixel, 999);
    // ...but the sensor-type table was not applied
    const auto lines = InfoLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], kLineSentinel0);
    EXPECT_EQ(pixE, 999);
    EXPECT_EQ(YMAXADC, 777);
    double lo = 0, hi = 0;
    rt_GetAxisRange(pHandle, PANEL_GRAPHVideo, VAL_XAXIS, &lo, &hi);
    EXPECT_EQ(lo, 7.0);
    EXPECT_EQ(hi, 77.0);
    // the sequence went on: firmware read, parameters read, failure kept visible
    EXPECT_EQ(SimRequests(sim, 7), 1);
    EXPECT_EQ(SimRequests(sim, 2), 1);
    EXPECT_EQ(StatusLine(), "Error reading HARDWARE-info!");
    EXPECT_STREQ(szStatus, "Error reading HARDWARE-info!");
}

TEST_F(Ident, HardwareSilenceTimesOutAndGoesOn) {
    SimProcess sim;
    const double t0 = Timer();
    ASSERT_TRUE(Identify(sim, {"--no-answer", "10", "--ccdtype", "104"}));
    EXPECT_GE(Timer() - t0, 1.5);
    EXPECT_EQ(ccdtype, 0);
    EXPECT_EQ(SimRequests(sim, 2), 1);
    EXPECT_EQ(StatusLine(), "Error reading HARDWARE-info!");
}

TEST_F(Ident, FirmwareFailures) {
    // clang-format off
    const struct {
        const char *name;
        std::vector<std::string> args;
        const char *status;
        double atLeast;
    } cases[] = {
        {"silence", {"--no-answer", "7"}, "Timeout - reading firmware info!", 1.5},
        {"short text", {"--short", "40", "--fault-order", "7"}, "Error reading firmware-info!", 1.5},
        {"more than 72 bytes", {"--extra", "10", "--fault-order", "7"}, "Error reading firmware-info!", 0.0},
        {"more than the read buffer", {"--extra", "1100", "--fault-order", "7"}, "Error reading firmware-info!", 0.0},
    };
    // clang-format on
    for (const auto &c : cases) {
        SetUp();
        SimProcess sim;
        const double t0 = Timer();
        ASSERT_TRUE(Identify(sim, c.args));
        SCOPED_TRACE(c.name);
        EXPECT_GE(Timer() - t0, c.atLeast);
        EXPECT_STREQ(szVersion, "");
        // accepted: locks open, parameters read
        EXPECT_TRUE(popups.empty());
        EXPECT_EQ(Attr(PANEL_CTRLSeriesLockA, ATTR_DIMMED), 0);
        EXPECT_EQ(SimRequests(sim, 2), 1);
        EXPECT_EQ(StatusLine(), c.status);
        // the callback is back: a later exchange still works
        rx_flag = 0;
        EXPECT_EQ(CheckComLine(1), 1);
        CloseCom(1);
    }
}

TEST_F(Ident, FirmwarePollDoesNotBurnACore) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--fast", "--no-answer", "7"}));
    rt_SetPortTable({sim.Device()});
    com = 1;
    ASSERT_GE(OpenComConfig(1, "", 19200, 0, 8, 1, 4096, 4096), 0);
    InstallComCallback(1, eventMask, 36, sync, RX_Receive_Function, nullptr);
    const clock_t c0 = clock();
    const double t0 = Timer();
    EXPECT_EQ(GetVERSIONInfo(), 0);
    const double wall = Timer() - t0;
    const double cpu = static_cast<double>(clock() - c0) / CLOCKS_PER_SEC;
    EXPECT_GE(wall, 1.5);
    EXPECT_LT(cpu, 0.5 * wall);
    EXPECT_STREQ(szStatus, "Timeout - reading firmware info!");
}

TEST_F(Ident, ParameterReadTimeoutStaysVisible) {
    SimProcess sim;
    ASSERT_TRUE(Identify(sim, {"--no-answer", "2"}));
    EXPECT_STRNE(szVersion, "");
    EXPECT_EQ(StatusLine(), "Timeout-RS-232...");
}

// ---- port change and hardware variant --------------------------------------------------

TEST_F(Ident, PortChangeIdentifiesTheSecondSensor) {
    SimProcess first, second;
    ASSERT_TRUE(first.Start(
        {"--fast", "--ccdtype", "2", "--hwtype", "250", "--firmware", "K-VEX-XC-FIRST"}));
    ASSERT_TRUE(second.Start(
        {"--fast", "--ccdtype", "104", "--softversion", "230", "--firmware", "K-VEX-XC-SECOND"}));
    rt_SetPortTable({first.Device(), second.Device()});
    com = 1;
    FillComRing();
    const auto ports = rt_GetListItems(pHandle, PANEL_DropDCom);
    ASSERT_GE(ports.size(), 2u);
    EXPECT_EQ(ports[0], "COM1  " + first.Device());
    EXPECT_EQ(ports[1], "COM2  " + second.Device());
    InitRS232(1);
    InitGUI();
    EXPECT_EQ(StatusLine(), Padded("K-VEX-XC-FIRST", 72));
    EXPECT_EQ(rt_GetListItems(pHandle, PANEL_RINGanaMode).size(), 5u);

    stop_flag = STOP_RUNNING;
    rt_UserSetVal(pHandle, PANEL_DropDCom, 2);
    EXPECT_EQ(com, 2);
    EXPECT_EQ(stop_flag, STOP_ASKED);
    EXPECT_EQ(StatusLine(), Padded("K-VEX-XC-SECOND", 72));
    EXPECT_EQ(ccdtype, 104);
    const auto lines = InfoLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1], "Working-Range: 97,5mm, Resolution: 63.5µm");
    // the analog-mode ring follows the second sensor's firmware
    EXPECT_EQ(rt_GetListItems(pHandle, PANEL_RINGanaMode).size(), 8u);
    // the first port is closed: it saw only its own identification
    const long firstTotal = SimRequests(first, 5) + SimRequests(first, 10) + SimRequests(first, 7) +
                            SimRequests(first, 2);
    EXPECT_EQ(firstTotal, 4);
    EXPECT_EQ(SimRequests(second, 5), 1);
    EXPECT_EQ(SimRequests(second, 2), 1);
}

TEST_F(Ident, HardwareVariantDimsTolerance) {
    for (int v : {0, 1, 2, 3, 1, 0}) {
        rt_UserSetVal(pHandle, PANEL_DROPHardware, v);
        EXPECT_EQ(Attr(PANEL_NEDITTolerance, ATTR_DIMMED), (v == 1 || v == 3) ? 1 : 0) << v;
    }
}

}   // namespace
