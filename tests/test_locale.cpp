// The program on a German desktop (de_DE.UTF-8, decimal comma): the
// recorder file, the parameter file and the picture names come out byte for
// byte as everywhere else, and what it reads back is read the same; only the
// panels follow the locale. The locale must be installed (scripts/install-deps
// generates it): without it these tests fail, as they would prove nothing.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <langinfo.h>
#include <locale.h>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "tests/support/support.h"
#include "rt/rt_testing.h"
#include "app/app.h"
#include "link/frame.h"
#include "params/vars.h"
#include "recorder/recorder.h"

namespace {

const char kGermanLocale[] = "de_DE.UTF-8";

// Before anything starts Qt, which takes the locale from the environment.
const bool kGerman = [] {
    setenv("LC_ALL", kGermanLocale, 1);
    setenv("LANG", kGermanLocale, 1);
    setenv("LANGUAGE", "de_DE", 1);
    setenv("TZ", "UTC", 1);
    return true;
}();

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) nl = text.size() - 1;
        out.push_back(text.substr(pos, nl + 1 - pos));
        pos = nl + 1;
    }
    return out;
}

class GermanDesktop : public ::testing::Test {
protected:
    SimProcess sim;
    std::string dir;
    std::string answer;   // what the file dialogs choose
    void SetUp() override {
        ASSERT_TRUE(kGerman);
        locale_t de = newlocale(LC_ALL_MASK, kGermanLocale, static_cast<locale_t>(0));
        ASSERT_NE(de, static_cast<locale_t>(0))
            << kGermanLocale << " is not installed: run scripts/install-deps (it generates it)";
        const std::string radix = nl_langinfo_l(RADIXCHAR, de);
        freelocale(de);
        ASSERT_EQ(radix, ",");
        ASSERT_TRUE(StartRidarForTest());
        InitComforts();
        char tmpl[] = "/tmp/ridar-locale-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        rt_SetPopupHook([this](const RtPopup &p) {
            RtPopupAnswer a;
            if (p.kind == 3) {
                a.result = 2;
                a.path = answer;
            }
            return a;
        });
        ASSERT_TRUE(
            sim.Start({"--fast", "--noise", "0", "--video-noise", "0", "--motion", "0", "0"}));
        Connect(sim.Device());
        ASSERT_EQ(softversion, 252);
        DisplayPanel(pHandle);
        rt_After(30.0, [] { stop_flag = STOP_ASKED; });
    }
    void TearDown() override {
        stop_flag = STOP_ASKED;
        CloseCom(com);
        sim.Stop();
        rt_SetPopupHook([](const RtPopup &) { return RtPopupAnswer{}; });
        if (!dir.empty()) {
            const std::string rm = "rm -rf '" + dir + "'";
            (void)std::system(rm.c_str());
        }
    }
    // The calibration typed on the popup the German way, then sent to RAM:
    // slope 33.25 um/pixel (word 34048), offset -120 um (word 29880).
    void SendGermanCalibration() {
        ASSERT_TRUE(drive::Click(pHandle, "TOGGBTN_ParaII"));
        ASSERT_TRUE(drive::Type(pPopup, "NUMCalSlope", "33,25"));
        ASSERT_TRUE(drive::Type(pPopup, "NUMCalOffset", "-120"));
        ASSERT_TRUE(drive::Key(pPopup, "NUMCalOffset", "Tab"));
        ASSERT_TRUE(drive::Click(pHandle, "RBTRam"));
        ASSERT_TRUE(drive::Click(pHandle, "BTNSend"));
        ASSERT_EQ(slope, 34048);
        ASSERT_EQ(intersect, 29880);
    }
};

}   // namespace

TEST_F(GermanDesktop, PanelsFollowTheLocaleTheCLibraryDoesNot) {
    SetCtrlVal(pPopup, POPUP_NUMCalSlope, 33.25);
    EXPECT_NE(drive::Shown(pPopup, "NUMCalSlope").find("33,25"), std::string::npos)
        << drive::Shown(pPopup, "NUMCalSlope");
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.4f", 1.5);
    EXPECT_STREQ(buf, "1.5000");
    EXPECT_EQ(std::strtod("1.5", nullptr), 1.5);
    EXPECT_EQ(std::atof("0.25"), 0.25);
}

// The C library's numbers go back to the C locale once the program is up;
// what is written for machines must not depend on that reset either, so the
// recording is made once more with the C library's numbers German.
TEST_F(GermanDesktop, RecorderFileIsTheSameAsEverywhere) {
    SendGermanCalibration();
    ASSERT_TRUE(drive::Click(pHandle, "TOGGBTN_Recorder"));
    const char *cLocales[] = {"C", "de_DE.UTF-8"};
    for (const char *numeric : cLocales) {
        SCOPED_TRACE(std::string("C library numbers: ") + numeric);
        ASSERT_NE(std::setlocale(LC_NUMERIC, numeric), nullptr);
        char probe[16];
        std::snprintf(probe, sizeof probe, "%.1f", 1.5);
        EXPECT_STREQ(probe, std::string(numeric) == "C" ? "1.5" : "1,5");
        answer = dir + "/record-" + numeric + ".dat";
        ASSERT_TRUE(drive::Click(pRecord, "CMDBTNrecfile"));
        ASSERT_TRUE(drive::Type(pRecord, "NUMsample", "2"));
        ASSERT_TRUE(drive::Type(pRecord, "NUMinctime", "0"));
        ASSERT_TRUE(drive::Click(pRecord, "CBTNStartRecord"));   // returns when it ended
        // the slope as the parameter marks and the Compare window show it
        EXPECT_EQ(WordShown(12, slope), "33.25");
        std::setlocale(LC_NUMERIC, "C");
        const std::vector<std::string> lines = Lines(testfs::ReadFile(answer));
        ASSERT_EQ(lines.size(), 9u);
        EXPECT_TRUE(
            std::regex_match(lines[0], std::regex("Date:\t[01][0-9]-[0-3][0-9]-[0-9]{4}\r\n")))
            << lines[0];
        EXPECT_TRUE(
            std::regex_match(lines[1], std::regex("Time:\t[0-2][0-9]:[0-5][0-9]:[0-6][0-9]\r\n")))
            << lines[1];
        EXPECT_EQ(lines[2], "Time-Increment[s]:\t0\r\n");
        EXPECT_EQ(lines[3], "Number of Samples:\t2\r\n");
        EXPECT_EQ(lines[4], "Offset-Value [\xB5m]:\t-120\r\n");
        EXPECT_EQ(lines[5], "Slope-Value [\xB5m/pixel]:\t33.2500\r\n");
        EXPECT_EQ(lines[6], "E-LEFT\tE-RIGHT\tM-VALUE\tEDGES\tM-VAL[um]\r\n");
        // the still object from pixel 400 to 600, its edges on samples 50 and
        // 75 right at the threshold 512, half the full scale; the factory set
        // measures the right edge: 600 * 34048 / 1024 - 120 = 19830 um
        EXPECT_EQ(lines[7], "400\t600\t600\t2\t19830\r\n");
        EXPECT_EQ(lines[8], "400\t600\t600\t2\t19830\r\n");
    }
}

TEST_F(GermanDesktop, ParameterFileIsTheSameAsEverywhereAndReadsBack) {
    SetParamVars({640, 1, 450, 2, 0, 3, 5, 1900, 800, 40, 0, 2, 20480, 30000, 4, 1}, 1);
    SetPanelValues();
    ASSERT_TRUE(drive::Click(pHandle, "TOGGBTN_ParaII"));
    ASSERT_TRUE(drive::Type(pPopup, "NUMCalSlope", "33,25"));
    ASSERT_TRUE(drive::Type(pPopup, "NUMCalOffset", "-120"));
    ASSERT_TRUE(drive::Click(pHandle, "RBTFile"));
    answer = dir + "/set.dat";
    ASSERT_TRUE(drive::Click(pHandle, "BTNSend"));
    EXPECT_EQ(testfs::ReadFile(answer),
              "  640\n    1\n  450\n    2\n    0\n    3\n    5\n 1900\n  800\n   40\n"
              "    0\n    2\n34048\n29880\n    4\n    1\n");
    // read back: the panel shows the same calibration
    SetParamVars(std::vector<int>(16, 1), 1);
    SetPanelValues();
    ASSERT_TRUE(drive::Click(pHandle, "BTNGet"));
    EXPECT_EQ(power, 640);
    EXPECT_EQ(slope, 34048);
    EXPECT_EQ(intersect, 29880);
    EXPECT_EQ(DblVal(pPopup, POPUP_NUMCalSlope), 33.25);
    EXPECT_EQ(DblVal(pPopup, POPUP_NUMCalOffset), -120.0);
}

TEST_F(GermanDesktop, PictureNamesAreTheSameAsEverywhere) {
    char name[64];
    PictureName(name, sizeof name, 1796653855LL);   // 2026-12-07 14:30:55 UTC
    EXPECT_STREQ(name, "ridar-2026-12-07-143055.png");
    answer = dir + "/panel";
    ASSERT_TRUE(drive::PanelKey(pHandle, "Ctrl+P"));
    struct stat st {};
    EXPECT_EQ(stat((answer + ".png").c_str(), &st), 0);
}
