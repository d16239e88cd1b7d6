// Frame mapping, word conversion, parameter file: no run-time needed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/support.h"
#include "rt/rt_testing.h"
#include "app/app.h"
#include "display/display.h"
#include "params/vars.h"
#include "proto/proto.h"

namespace {

std::string TempPath(const std::string &name) {
    return testfs::TempDir("ridar-params") + "/" + name;
}

void WriteText(const std::string &path, const std::string &text) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
}

std::string ReadText(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

const std::vector<int> kSet = {500, 0, 512, 2, 1, 1, 3, 1024, 700, 100, 1, 1, 34048, 29879, 16, 9};

}   // namespace

// ---------------------------------------------------------------- copies

TEST(CopyVarsToPP, Word15DependsOnFirmware) {
    // clang-format off
    struct Case { uint16_t soft; int word15; } cases[] = {
        {0, 9}, {220, 9}, {239, 9}, {240, 4}, {245, 4}, {250, 4}, {65535, 4}};
    // clang-format on
    for (const auto &c : cases) {
        SetParamVars(kSet, 4);
        softversion = c.soft;
        for (auto &w : pp) w = 0xDEAD;
        CopyVarsToPP();
        for (int i = 0; i < 15; ++i) EXPECT_EQ(pp[i], kSet[i]) << "word " << i;
        EXPECT_EQ(pp[15], c.word15) << "softversion " << c.soft;
    }
}

TEST(CopyPPtoVars, EveryWordAndBothWord15Variables) {
    for (uint16_t soft : {239, 240}) {
        softversion = soft;
        SetParamVars(std::vector<int>(16, 0), 0);
        const uint16_t in[16] = {1200, 5, 20, 9, 3,     9,     3000, 0,
                                 700,  0, 1,  7, 65535, 60001, 2000, 7};
        for (int i = 0; i < 16; ++i) pp[i] = in[i];
        CopyPPtoVars();
        // nothing is corrected while copying
        for (int i = 0; i < 16; ++i) EXPECT_EQ(*kParamVars[i], in[i]) << "word " << i;
        EXPECT_EQ(trigMode, 7);
        EXPECT_EQ(deltaTol, 7);
        EXPECT_EQ(power, 1200);
    }
}

TEST(CopyPPtoRAWVars, MeasurementWords) {
    // clang-format off
    struct Case { uint16_t lo, hi; uint32_t um; } cases[] = {
        {34464, 1, 100000u}, {0, 0, 0u}, {65535, 0, 65535u}, {0, 1, 65536u},
        {65535, 65535, 4294967295u}, {0, 0x8000, 0x80000000u}};
    // clang-format on
    for (const auto &c : cases) {
        const uint16_t in[16] = {11, 22, 33, c.lo, c.hi, 700, 66,     2,
                                 77, 88, 99, 111,  122,  1,   0xAAAA, 0xBBBB};
        for (int i = 0; i < 16; ++i) pp[i] = in[i];
        power = 321;
        CopyPPtoRAWVars();
        EXPECT_EQ(umValue, c.um);
        EXPECT_EQ(Ledge, 11);
        EXPECT_EQ(Redge, 22);
        EXPECT_EQ(Mvalue, 33);
        EXPECT_EQ(tVal, 700);
        EXPECT_EQ(tol, 66);
        EXPECT_EQ(edcnt, 2);
        EXPECT_EQ(mvstart, 77);
        EXPECT_EQ(mvend, 88);
        EXPECT_EQ(freevar, 99);
        EXPECT_EQ(anaMax, 111);
        EXPECT_EQ(anaMin, 122);
        EXPECT_EQ(in0, 1);
        EXPECT_EQ(power, 321);   // parameter variables other than tVal untouched
    }
}

TEST(CopyPPtoRAWVars, ReportedSetpointGoesOutWithNextParameterFrame) {
    SetParamVars(kSet, 0);
    tVal = 512;
    for (auto &w : pp) w = 0;
    pp[5] = 700;
    CopyPPtoRAWVars();
    CopyVarsToPP();
    EXPECT_EQ(pp[8], 700);
    EXPECT_EQ(pp[0], 500);
}

// ---------------------------------------------------------------- words

TEST(DoubleToWord, TruncatesAndWraps) {
    const double inf = std::numeric_limits<double>::infinity();
    // clang-format off
    struct Case { double in; uint16_t out; } cases[] = {
        {0.0, 0}, {-0.0, 0}, {-0.5, 0}, {0.999, 0}, {1.0, 1}, {-1.0, 65535},
        {-1.5, 65535}, {65535.0, 65535}, {65535.99, 65535}, {65536.0, 0}, {65537.5, 1},
        {-65536.0, 0}, {-65536.5, 0}, {-65537.0, 65535}, {34052.26, 34052},
        {29945.75, 29945}, {34048.0, 34048}, {29879.3, 29879}, {1e300, 0}, {-1e300, 0},
        {9007199254740994.0, 2}, {-9007199254740994.0, 65534}, {4294967301.0, 5},
        {std::nan(""), 0}, {-std::nan(""), 0}, {inf, 0}, {-inf, 0},
        {std::numeric_limits<double>::denorm_min(), 0}, {std::numeric_limits<double>::max(), 0},
        {std::numeric_limits<double>::lowest(), 0}};
    // clang-format on
    for (const auto &c : cases) EXPECT_EQ(DoubleToWord(c.in), c.out) << "value " << c.in;
}

TEST(SlopeScale, CcdTypeAndFirmware) {
    // clang-format off
    struct Case { uint16_t type, soft; int k; } cases[] = {
        {104, 249, 512}, {104, 0, 512}, {104, 250, 1024}, {104, 251, 1024},
        {1, 249, 1024}, {102, 230, 1024}, {105, 100, 1024}, {0, 0, 1024}};
    // clang-format on
    for (const auto &c : cases) {
        ccdtype = c.type;
        softversion = c.soft;
        EXPECT_EQ(SlopeScale(), c.k) << c.type << "/" << c.soft;
    }
    ccdtype = 0;
    softversion = 0;
}

// ---------------------------------------------------------------- parameter file

TEST(ParaFile, WriteIsByteExact) {
    const uint16_t words[16] = {500, 0,   512, 2, 1,     1,     3,     1024,
                                700, 100, 1,   1, 34048, 29879, 65535, 7};
    const std::string path = TempPath("exact.dat");
    ASSERT_EQ(WriteParaFile(path.c_str(), words), 0);
    EXPECT_EQ(ReadText(path),
              "  500\n    0\n  512\n    2\n    1\n    1\n    3\n 1024\n  700\n  100\n"
              "    1\n    1\n34048\n29879\n65535\n    7\n");
}

TEST(ParaFile, SavingTwiceKeepsOnlySecondSet) {
    const std::string path = TempPath("twice.dat");
    uint16_t a[16], b[16], back[16];
    for (int i = 0; i < 16; ++i) {
        a[i] = static_cast<uint16_t>(60000 + i);
        b[i] = static_cast<uint16_t>(i);
    }
    ASSERT_EQ(WriteParaFile(path.c_str(), a), 0);
    ASSERT_EQ(WriteParaFile(path.c_str(), b), 0);
    EXPECT_EQ(ReadText(path).size(), 16u * 6u);
    ASSERT_EQ(ReadParaFile(path.c_str(), back), 0);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(back[i], b[i]);
}

TEST(ParaFile, RoundTrip) {
    const std::string path = TempPath("round.dat");
    // clang-format off
    const uint16_t sets[3][16] = {
        {0}, {65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535,
              65535, 65535, 65535, 65535},
        {1000, 1, 950, 7, 1, 4, 1, 2048, 1024, 2048, 1, 3, 1024, 60000, 1024, 2048}};
    // clang-format on
    for (const auto &set : sets) {
        uint16_t back[16];
        ASSERT_EQ(WriteParaFile(path.c_str(), set), 0);
        ASSERT_EQ(ReadParaFile(path.c_str(), back), 0);
        for (int i = 0; i < 16; ++i) EXPECT_EQ(back[i], set[i]) << "word " << i;
    }
}

TEST(ParaFile, ReaderAcceptsWhiteSpaceAndLineEnds) {
    // clang-format off
    struct Case { const char *name; std::string text; } cases[] = {
        {"crlf", "  500\r\n    0\r\n  512\r\n    2\r\n    1\r\n    1\r\n    3\r\n 1024\r\n"
                 "  700\r\n  100\r\n    1\r\n    1\r\n34048\r\n29879\r\n   16\r\n    9\r\n"},
        {"left aligned", "500  \n0    \n512  \n2    \n1    \n1    \n3    \n1024 \n700  \n100  \n"
                         "1    \n1    \n34048\n29879\n16   \n9    \n"},
        {"one line", "500 0 512 2 1 1 3 1024 700 100 1 1 34048 29879 16 9"},
        {"tabs and blank lines", "\n\n500\t0\t512\n\n2\t1 1\r3\f1024\v700 100\n1\n1\n34048\n29879\n16\n9\n\n"},
        {"leading zeros", "00500\n0\n0512\n2\n1\n1\n3\n1024\n700\n100\n1\n1\n34048\n29879\n016\n009\n"},
        {"extra numbers ignored", "500 0 512 2 1 1 3 1024 700 100 1 1 34048 29879 16 9 44 55\n"},
    };
    // clang-format on
    for (const auto &c : cases) {
        const std::string path = TempPath("ws.dat");
        WriteText(path, c.text);
        uint16_t w[16] = {0};
        ASSERT_EQ(ReadParaFile(path.c_str(), w), 0) << c.name;
        for (int i = 0; i < 16; ++i) EXPECT_EQ(w[i], kSet[i]) << c.name << " word " << i;
    }
}

// The windows read with the core's reader: a number no word can hold is
// refused wherever it stands, with its line and text, and the words stay.
TEST(ParaFile, WordsOutsideTheRangeAreRefused) {
    const std::string path = TempPath("range.dat");
    for (int pos = 0; pos < 16; ++pos) {
        for (const char *bad : kNoParamWords) {
            WriteText(path, ParamFileWith(pos, bad));
            uint16_t w[16];
            for (auto &x : w) x = 4242;
            proto::ParamFileFault f;
            EXPECT_EQ(ReadParaFile(path.c_str(), w, &f), bad[0] == '-' ? -3 : -4) << bad;
            EXPECT_EQ(f.line, pos + 1) << bad;
            EXPECT_EQ(f.text, bad);
            for (auto x : w) EXPECT_EQ(x, 4242) << bad << " at " << pos;
        }
        for (const char *edge : kEdgeParamWords) {
            WriteText(path, ParamFileWith(pos, edge));
            uint16_t w[16] = {0};
            ASSERT_EQ(ReadParaFile(path.c_str(), w), 0) << edge;
            EXPECT_EQ(w[pos], std::stoi(edge)) << edge << " at " << pos;
        }
    }
    // no number is too long to be told from a word
    for (const char *num : {"100000", "196625", "123456789012345678901", "99999999999999999999"}) {
        WriteText(path, ParamFileWith(1, num));
        uint16_t w[16] = {0};
        EXPECT_EQ(ReadParaFile(path.c_str(), w), -4) << num;
    }
}

TEST(ParaFile, BadFilesLeaveWordsUntouched) {
    const std::string fifteen = "1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n12\n13\n14\n15\n";
    struct Case {
        const char *name;
        std::string text;
        int result;
    } cases[] = {
        {"empty", "", -2},
        {"only blanks", "  \r\n\r\n \t", -2},
        {"fifteen numbers", fifteen, -2},
        {"fifteen and garbage", fifteen + "x\n", -3},
        {"negative", fifteen + "-5\n", -3},
        {"plus sign", fifteen + "+5\n", -3},
        {"decimal point", fifteen + "1.5\n", -3},
        {"hex", fifteen + "0x10\n", -3},
        {"letter in number", "12a\n" + fifteen, -3},
        {"word", "power 500\n" + fifteen, -3},
        {"nul byte", std::string("1\n\0\n", 4) + fifteen, -3},
        {"binary", std::string("\x89PNG\r\n\x1a\n", 8), -3},
        {"garbage after the set", fifteen + "16\nend\n", -3},
        {"comma separated", "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16\n", -3},
    };
    for (const auto &c : cases) {
        const std::string path = TempPath("bad.dat");
        WriteText(path, c.text);
        uint16_t w[16];
        for (auto &x : w) x = 4242;
        EXPECT_EQ(ReadParaFile(path.c_str(), w), c.result) << c.name;
        for (int i = 0; i < 16; ++i) EXPECT_EQ(w[i], 4242) << c.name;
    }
}

TEST(ParaFile, UnreadableAndUnwritablePaths) {
    uint16_t w[16];
    for (auto &x : w) x = 4242;
    const std::string missing = TempPath("no/such/dir/KVEXpara.dat");
    EXPECT_EQ(ReadParaFile(TempPath("missing.dat").c_str(), w), -1);
    EXPECT_EQ(ReadParaFile(testfs::TempDir("ridar-params").c_str(), w), -1);   // a directory
    EXPECT_EQ(ReadParaFile("", w), -1);
    EXPECT_EQ(ReadParaFile(nullptr, w), -1);
    for (auto x : w) EXPECT_EQ(x, 4242);

    EXPECT_EQ(WriteParaFile(missing.c_str(), w), -1);
    EXPECT_EQ(WriteParaFile(testfs::TempDir("ridar-params").c_str(), w), -1);
    EXPECT_EQ(WriteParaFile("", w), -1);
    // the device accepts the open and fails on the write
    EXPECT_EQ(WriteParaFile("/dev/full", w), -1);
    // a read-only file is refused to its user; root replaces it
    const std::string ro = TempPath("readonly.dat");
    WriteText(ro, "old\n");
    ASSERT_EQ(chmod(ro.c_str(), 0444), 0);
    if (geteuid() != 0) {
        EXPECT_EQ(WriteParaFile(ro.c_str(), w), -1);
        EXPECT_EQ(ReadText(ro), "old\n");
    } else {
        EXPECT_EQ(WriteParaFile(ro.c_str(), w), 0);
        EXPECT_EQ(ReadText(ro).substr(0, 12), " 4242\n 4242\n");
    }
}

// ---------------------------------------------------------------- panel
// These need the run-time layer and the resource file.

namespace {

class Panel : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(StartRidarForTest());
        ccdtype = 2;
        softversion = 252;
        ccdvirtpixel = 2048;
        pixB = 1;
        pixE = 2048;
        SetParamVars({500, 0, 512, 2, 1, 1, 1, 2048, 1024, 100, 0, 0, 1024, 30000, 16, 5}, 0);
        rt_SetPopupHook([](const RtPopup &) { return RtPopupAnswer{}; });
    }
    void TearDown() override {
        ccdtype = 2;
        softversion = 252;
        rt_SetPopupHook([](const RtPopup &) { return RtPopupAnswer{}; });
    }
};

}   // namespace

TEST_F(Panel, RangeCorrectionsAndShownValues) {
    struct Case {
        const char *name;
        uint16_t *var;
        int control;
        int in, out;
    } cases[] = {
        {"power 1001", &power, PANEL_NUMPower, 1001, 500},
        {"power 65535", &power, PANEL_NUMPower, 65535, 500},
        {"power 1000", &power, PANEL_NUMPower, 1000, 1000},
        {"rs232Mode 2", &rs232Mode, PANEL_RINGRs232Mode, 2, 0},
        {"rs232Mode 5", &rs232Mode, PANEL_RINGRs232Mode, 5, 0},
        {"rs232Mode 1", &rs232Mode, PANEL_RINGRs232Mode, 1, 1},
        {"vThd 20", &vThd, PANEL_NUMVideoThreshold, 20, 50},
        {"vThd 0", &vThd, PANEL_NUMVideoThreshold, 0, 50},
        {"vThd 1000", &vThd, PANEL_NUMVideoThreshold, 1000, 950},
        {"vThd 950", &vThd, PANEL_NUMVideoThreshold, 950, 950},
        {"vThd 50", &vThd, PANEL_NUMVideoThreshold, 50, 50},
        {"anaMode 8", &anaMode, PANEL_RINGanaMode, 8, 0},
        {"polarity 5", &polarity, PANEL_NUMPolarity, 5, 1},
        {"polarity 0", &polarity, PANEL_NUMPolarity, 0, 0},
        {"eMode 9", &eMode, PANEL_NUMEvalMode, 9, 4},
        {"eMode 4", &eMode, PANEL_NUMEvalMode, 4, 4},
        {"eMode 3", &eMode, PANEL_NUMEvalMode, 3, 3},
        {"tTol 0", &tTol, PANEL_NEDITTolerance, 0, 1},
        {"tTol 3000", &tTol, PANEL_NEDITTolerance, 3000, 2048},
        {"deltaTol 0", &deltaTol, PANEL_NUMDeltaTol, 0, 1},
        {"deltaTol 5000", &deltaTol, PANEL_NUMDeltaTol, 5000, 2048},
        {"eBeg 3000", &eBeg, PANEL_NEDITEdgeLeft, 3000, 1},
        {"eBeg 2048", &eBeg, PANEL_NEDITEdgeLeft, 2048, 2048},
        {"eEnd 3000", &eEnd, PANEL_NEDITEdgeRight, 3000, 2048},
        {"eEnd 0", &eEnd, PANEL_NEDITEdgeRight, 0, 1},
        {"eHardware 9", &eHardware, PANEL_DROPHardware, 9, 3},
        {"average 2000", &average, PANEL_NUMAverage, 2000, 1024},
        {"average 1024", &average, PANEL_NUMAverage, 1024, 1024},
        {"tVal 60000 unchecked", &tVal, PANEL_NUMSetpoint, 60000, 60000},
        {"opMode 1 unchecked", &opMode, PANEL_SWITCHOpMode, 1, 1},
        {"trigMode 3 unchecked", &trigMode, PANEL_RINGTrigMode, 3, 3},
    };
    for (const auto &c : cases) {
        SetUp();
        *c.var = static_cast<uint16_t>(c.in);
        SetPanelValues();
        EXPECT_EQ(*c.var, c.out) << c.name;
        EXPECT_EQ(Shown(c.control), c.out) << c.name;
    }
}

TEST_F(Panel, CalibrationDisplayForms) {
    struct Case {
        uint16_t type, soft, slopeIn, interIn;
        uint16_t slopeOut, interOut;
        double slopeShown, offsetShown;
    } cases[] = {
        {2, 252, 65535, 30000, 1024, 30000, 1.0, 0.0},
        {104, 249, 65535, 30000, 1024, 30000, 2.0, 0.0},
        {104, 250, 65535, 30000, 1024, 30000, 1.0, 0.0},
        {2, 252, 34048, 60001, 34048, 30000, 33.25, 0.0},
        {104, 249, 34048, 29000, 34048, 29000, 66.5, -1000.0},
        {2, 252, 1024, 60000, 1024, 60000, 1.0, 30000.0},
        {2, 252, 512, 0, 512, 0, 0.5, -30000.0},
        {2, 252, 0, 29879, 0, 29879, 0.0, -121.0},
    };
    for (const auto &c : cases) {
        SetUp();
        ccdtype = c.type;
        softversion = c.soft;
        slope = c.slopeIn;
        intersect = c.interIn;
        SetPanelValues();
        EXPECT_EQ(slope, c.slopeOut);
        EXPECT_EQ(intersect, c.interOut);
        EXPECT_NEAR(DblVal(pPopup, POPUP_NUMCalSlope), c.slopeShown, 1e-3) << c.slopeIn;
        EXPECT_NEAR(DblVal(pPopup, POPUP_NUMCalOffset), c.offsetShown, 1e-3) << c.interIn;
    }
}

TEST_F(Panel, ToleranceInMillimetres) {
    // clang-format off
    struct Case { uint16_t type, soft, slope, tol; double mm; } cases[] = {
        {2, 252, 34048, 100, 3.325}, {104, 249, 34048, 100, 6.65}, {104, 250, 34048, 100, 3.325},
        {2, 252, 1024, 1, 0.001}, {2, 252, 65535, 2048, 2.048} /* slope becomes 1024 first */};
    // clang-format on
    for (const auto &c : cases) {
        SetUp();
        ccdtype = c.type;
        softversion = c.soft;
        slope = c.slope;
        tTol = c.tol;
        SetPanelValues();
        EXPECT_NEAR(DblVal(pHandle, PANEL_NUMToleranceMm), c.mm, 1e-6) << c.slope << "/" << c.tol;
    }
}

TEST_F(Panel, DimmingAndVisibility) {
    for (int hw = 0; hw <= 4; ++hw) {
        SetUp();
        eHardware = static_cast<uint16_t>(hw);
        SetPanelValues();
        EXPECT_EQ(Attr(PANEL_NEDITTolerance, ATTR_DIMMED), (hw == 1 || hw >= 3) ? 1 : 0) << hw;
    }
    const int ana[] = {PANEL_NUMAnaValue, PANEL_NUMAnaMax, PANEL_NUMAnaMin, PANEL_CTRLAnaGroupA,
                       PANEL_CTRLAnaGroupB};
    for (int m = 0; m <= 8; ++m) {
        SetUp();
        anaMode = static_cast<uint16_t>(m);
        SetPanelValues();
        for (int id : ana) EXPECT_EQ(Attr(id, ATTR_VISIBLE), (m > 1 && m <= 7) ? 1 : 0) << m;
    }
}

TEST_F(Panel, ThresholdLineAndBarGraph) {
    vThd = 20;
    eBeg = 100;
    eEnd = 1900;
    tVal = 50;
    tTol = 100;
    for (auto &t : thdArray) t = 0;
    DeleteGraphPlot(pHandle, PANEL_GRAPHBar, VAL_DELETE_ALL, VAL_IMMEDIATE_DRAW);
    SetPanelValues();
    for (auto t : thdArray) ASSERT_EQ(t, 50);
    double mn = 0, mx = 0, x = 0, y = 0;
    ASSERT_EQ(rt_GetAxisRange(pHandle, PANEL_GRAPHBar, VAL_XAXIS, &mn, &mx), 0);
    EXPECT_EQ(mn, 1.0);
    EXPECT_EQ(mx, 2048.0);
    rt_GetCursor(pHandle, PANEL_GRAPHBar, 2, &x, &y);
    EXPECT_EQ(x, 100.0);
    EXPECT_EQ(y, 0.75);
    rt_GetCursor(pHandle, PANEL_GRAPHBar, 3, &x, &y);
    EXPECT_EQ(x, 1900.0);
    EXPECT_EQ(y, 0.75);
    auto plots = rt_GetPlots(pHandle, PANEL_GRAPHBar);
    ASSERT_EQ(plots.size(), 2u);
    EXPECT_EQ(plots[0].kind, 1);
    EXPECT_EQ(plots[0].x1, 0.0);
    EXPECT_EQ(plots[0].y1, 0.0);
    EXPECT_EQ(plots[0].x2, 2048.0);
    EXPECT_EQ(plots[0].y2, 1.0);
    EXPECT_EQ(plots[0].color, 0xA0A0A0);
    EXPECT_EQ(plots[0].fillColor, 0xA0A0A0);
    EXPECT_EQ(plots[1].kind, 1);
    EXPECT_EQ(plots[1].x1, -50.0);   // signed, not wrapped
    EXPECT_EQ(plots[1].y1, 0.0);
    EXPECT_EQ(plots[1].x2, 150.0);
    EXPECT_EQ(plots[1].y2, 0.25);
    EXPECT_EQ(plots[1].color, 0x00FF00);
    EXPECT_EQ(plots[1].fillColor, 0x00FF00);
    // earlier plots stay
    SetPanelValues();
    EXPECT_EQ(rt_GetPlots(pHandle, PANEL_GRAPHBar).size(), 4u);
}

TEST_F(Panel, GetPanelValuesReadsControlsAndConvertsCalibration) {
    const int ids[15] = {PANEL_NUMPower,       PANEL_RINGRs232Mode,  PANEL_NUMVideoThreshold,
                         PANEL_RINGanaMode,    PANEL_NUMPolarity,    PANEL_NUMEvalMode,
                         PANEL_NEDITEdgeLeft,  PANEL_NEDITEdgeRight, PANEL_NUMSetpoint,
                         PANEL_NEDITTolerance, PANEL_DROPHardware,   PANEL_NUMAverage,
                         PANEL_SWITCHOpMode,   PANEL_NUMDeltaTol,    PANEL_RINGTrigMode};
    uint16_t *const vars[15] = {&power,     &rs232Mode, &vThd,   &anaMode,  &polarity,
                                &eMode,     &eBeg,      &eEnd,   &tVal,     &tTol,
                                &eHardware, &average,   &opMode, &deltaTol, &trigMode};
    const int vals[15] = {777, 1, 333, 3, 0, 2, 17, 1500, 900, 55, 2, 64, 1, 12, 1};
    for (int i = 0; i < 15; ++i) SetCtrlVal(pHandle, ids[i], vals[i]);
    struct Case {
        uint16_t type, soft;
        double s, o;
        uint16_t slope, inter;
    } cases[] = {
        {2, 252, 33.25, -120.7, 34048, 29879},
        {104, 249, 33.25, 0.0, 17024, 30000},
        {2, 252, 1.0, 120.5, 1024, 30120},
        {2, 252, 0.0, -30000.0, 0, 0},
    };
    for (const auto &c : cases) {
        ccdtype = c.type;
        softversion = c.soft;
        SetCtrlVal(pPopup, POPUP_NUMCalSlope, c.s);
        SetCtrlVal(pPopup, POPUP_NUMCalOffset, c.o);
        for (auto *v : vars) *v = 4242;
        GetPanelValues();
        for (int i = 0; i < 15; ++i) EXPECT_EQ(*vars[i], vals[i]) << "control " << ids[i];
        EXPECT_EQ(slope, c.slope) << c.s;
        EXPECT_EQ(intersect, c.inter) << c.o;
    }
}

TEST_F(Panel, EdgeLimitsClampAndMoveCursors) {
    pixB = 10;
    pixE = 1000;
    // clang-format off
    struct Case { int control, cursor, in, out; bool writes; } cases[] = {
        {PANEL_NEDITEdgeLeft, 2, 5, 10, true},
        {PANEL_NEDITEdgeLeft, 2, 1001, 999, true},
        {PANEL_NEDITEdgeLeft, 2, 1500, 999, true},
        {PANEL_NEDITEdgeLeft, 2, 1000, 1000, false},
        {PANEL_NEDITEdgeLeft, 2, 500, 500, false},
        {PANEL_NEDITEdgeLeft, 2, 10, 10, false},
        {PANEL_NEDITEdgeRight, 3, 1200, 1000, true},
        {PANEL_NEDITEdgeRight, 3, 3, 11, true},
        {PANEL_NEDITEdgeRight, 3, 10, 10, false},
        {PANEL_NEDITEdgeRight, 3, 800, 800, false},
        {PANEL_NEDITEdgeRight, 3, 1000, 1000, false},
    };
    // clang-format on
    for (const auto &c : cases) {
        eBeg = 4242;
        eEnd = 4242;
        rt_UserSetVal(pHandle, c.control, c.in);
        EXPECT_EQ(Shown(c.control), c.out) << c.in;
        uint16_t &var = (c.control == PANEL_NEDITEdgeLeft) ? eBeg : eEnd;
        EXPECT_EQ(var, c.writes ? c.out : 4242) << c.in;
        double x = 0, y = 0;
        rt_GetCursor(pHandle, PANEL_GRAPHBar, c.cursor, &x, &y);
        EXPECT_EQ(x, c.out) << c.in;
        EXPECT_EQ(y, 1.0) << c.in;
    }
    // a value change without commit does nothing
    SetCtrlVal(pHandle, PANEL_NEDITEdgeLeft, 5);
    CC_NEDITEdgeLeft(pHandle, PANEL_NEDITEdgeLeft, EVENT_VAL_CHANGED, nullptr, 0, 0);
    EXPECT_EQ(Shown(PANEL_NEDITEdgeLeft), 5);
}

TEST_F(Panel, ToleranceThresholdAnalogueAndPopupCallbacks) {
    slope = 34048;
    tTol = 7;
    rt_UserSetVal(pHandle, PANEL_NEDITTolerance, 100);
    EXPECT_NEAR(DblVal(pHandle, PANEL_NUMToleranceMm), 3.325, 1e-9);
    EXPECT_EQ(tTol, 7);

    vThd = 512;
    rt_UserSetVal(pHandle, PANEL_NUMVideoThreshold, 300);
    for (auto t : thdArray) ASSERT_EQ(t, 300);
    EXPECT_EQ(vThd, 512);

    const int ana[] = {PANEL_NUMAnaValue, PANEL_NUMAnaMax, PANEL_NUMAnaMin, PANEL_CTRLAnaGroupA,
                       PANEL_CTRLAnaGroupB};
    anaMode = 0;
    for (int m : {2, 0, 3, 1, 4}) {
        rt_UserSetVal(pHandle, PANEL_RINGanaMode, m);
        for (int id : ana) EXPECT_EQ(Attr(id, ATTR_VISIBLE), m > 1 ? 1 : 0) << m;
        EXPECT_EQ(anaMode, 0);
    }

    HidePanel(pPopup);
    SetCtrlVal(pHandle, PANEL_TOGGBTN_ParaII, 0);
    rt_UserClick(pHandle, PANEL_TOGGBTN_ParaII);
    EXPECT_TRUE(rt_IsShown(pPopup));
    rt_UserClick(pHandle, PANEL_TOGGBTN_ParaII);
    EXPECT_FALSE(rt_IsShown(pPopup));
}

// ---------------------------------------------------------------- file through the panel

namespace {

struct PopupLog {
    std::vector<RtPopup> seen;
    RtPopupAnswer answer;
};

void HookFileDialog(PopupLog &log) {
    rt_SetPopupHook([&log](const RtPopup &p) {
        log.seen.push_back(p);
        return p.kind == 3 ? log.answer : RtPopupAnswer{};
    });
}

void SelectFileTarget() {
    SetCtrlVal(pHandle, PANEL_RBTRam, 0);
    SetCtrlVal(pHandle, PANEL_RBTEeprom, 0);
    SetCtrlVal(pHandle, PANEL_RBTFile, 1);
    target = DATFILE;
}

}   // namespace

TEST_F(Panel, SaveWritesThePanelThroughTheDialog) {
    PopupLog log;
    const std::string path = TempPath("KVEXpara.dat");
    log.answer = {2, path};
    HookFileDialog(log);
    SelectFileTarget();
    softversion = 245;
    SetParamVars({500, 0, 512, 2, 1, 1, 3, 1024, 700, 100, 1, 1, 34048, 29879, 16, 9}, 3);
    SetPanelValues();   // the panel now shows the set; the variables are then scrambled
    SetParamVars(std::vector<int>(16, 1), 1);
    rt_UserClick(pHandle, PANEL_BTNSend);
    ASSERT_EQ(log.seen.size(), 1u);
    EXPECT_EQ(log.seen[0].kind, 3);
    EXPECT_EQ(log.seen[0].title, "K-VEX-XC-Series Parameter File");
    EXPECT_EQ(log.seen[0].buttonLabel, "OK");
    EXPECT_EQ(log.seen[0].filter, "*.dat");
    EXPECT_EQ(log.seen[0].defaultName, "KVEXpara.dat");
    EXPECT_EQ(log.seen[0].defaultDir, std::string(proj_dir));
    EXPECT_EQ(std::string(file_name), path);
    EXPECT_EQ(ReadText(path),
              "  500\n    0\n  512\n    2\n    1\n    1\n    3\n 1024\n  700\n  100\n"
              "    1\n    1\n34048\n29879\n   16\n    3\n");
    EXPECT_EQ(StatusLine(), "Transmit...");
}

TEST_F(Panel, SaveCancelledWritesNothing) {
    PopupLog log;
    const std::string path = TempPath("cancelled.dat");
    std::remove(path.c_str());
    strcpy(file_name, "/previous/KVEXpara.dat");
    log.answer = {0, path};
    HookFileDialog(log);
    SelectFileTarget();
    rt_UserClick(pHandle, PANEL_BTNSend);
    EXPECT_EQ(log.seen.size(), 1u);
    EXPECT_NE(access(path.c_str(), F_OK), 0);
    EXPECT_EQ(std::string(file_name), "/previous/KVEXpara.dat");
}

TEST_F(Panel, SaveToUnwritableTargetSaysSo) {
    for (std::string path :
         {std::string("/dev/full"), testfs::TempDir("ridar-params"), TempPath("none/x.dat")}) {
        PopupLog log;
        log.answer = {1, path};
        HookFileDialog(log);
        SelectFileTarget();
        rt_UserClick(pHandle, PANEL_BTNSend);
        EXPECT_EQ(StatusLine(), "Parameter-file could not be written!") << path;
        EXPECT_STREQ(szStatus, "Parameter-file could not be written!") << path;
    }
}

TEST_F(Panel, LoadReadsTheFileAndShowsIt) {
    PopupLog log;
    const std::string path = TempPath("load.dat");
    // line 1 holds 5 (shown as 0), slope 65535 (shown 1.0), line 15 goes to both
    WriteText(path, "600\r\n5\r\n400\r\n1\r\n0\r\n2\r\n20\r\n1800\r\n640\r\n80\r\n1\r\n2\r\n"
                    "65535\r\n30100\r\n8\r\n3\r\n");
    log.answer = {1, path};
    HookFileDialog(log);
    SelectFileTarget();
    strcpy(szStatus, "Line before");
    rt_UserClick(pHandle, PANEL_BTNGet);
    ASSERT_EQ(log.seen.size(), 1u);
    EXPECT_EQ(log.seen[0].title, "K-VEX-XC-Parameter-File");
    EXPECT_EQ(log.seen[0].buttonLabel, "Load");
    EXPECT_EQ(log.seen[0].filter, "*.dat");
    EXPECT_EQ(log.seen[0].defaultName, "KVEXpara.dat");
    EXPECT_EQ(log.seen[0].defaultDir, std::string(proj_dir));
    EXPECT_EQ(std::string(file_name), path);
    EXPECT_EQ(power, 600);
    EXPECT_EQ(rs232Mode, 0);
    EXPECT_EQ(Shown(PANEL_RINGRs232Mode), 0);
    EXPECT_EQ(Shown(PANEL_NUMPower), 600);
    EXPECT_EQ(Shown(PANEL_NEDITEdgeRight), 1800);
    EXPECT_EQ(slope, 1024);
    EXPECT_NEAR(DblVal(pPopup, POPUP_NUMCalSlope), 1.0, 1e-6);
    EXPECT_NEAR(DblVal(pPopup, POPUP_NUMCalOffset), 100.0, 1e-6);
    EXPECT_EQ(deltaTol, 3);
    EXPECT_EQ(trigMode, 3);
    EXPECT_EQ(StatusLine(), "Line before");   // the status of the last exchange stays
}

TEST_F(Panel, BadFileLoadsNothingAndSaysSo) {
    const std::string fifteen = "1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n12\n13\n14\n15\n";
    // clang-format off
    struct Case { const char *name; std::string text; bool create; } cases[] = {
        {"short", fifteen, true}, {"garbage", fifteen + "sixteen\n", true},
        {"negative", "-1\n" + fifteen, true}, {"empty", "", true}, {"missing", "", false}};
    // clang-format on
    for (const auto &c : cases) {
        SetUp();
        PopupLog log;
        const std::string path = TempPath(std::string("bad-") + c.name + ".dat");
        if (c.create) WriteText(path, c.text);
        else std::remove(path.c_str());
        log.answer = {1, path};
        HookFileDialog(log);
        SelectFileTarget();
        SetParamVars({600, 1, 400, 1, 0, 2, 20, 1800, 640, 80, 1, 2, 2048, 30100, 8, 3}, 3);
        for (auto &w : pp) w = 4242;
        SetCtrlVal(pHandle, PANEL_NUMPower, 999);   // an unsent edit is replaced
        rt_UserClick(pHandle, PANEL_BTNGet);
        EXPECT_EQ(power, 600) << c.name;
        EXPECT_EQ(rs232Mode, 1) << c.name;
        EXPECT_EQ(deltaTol, 3) << c.name;
        EXPECT_EQ(slope, 2048) << c.name;
        for (auto w : pp) EXPECT_EQ(w, 4242) << c.name;
        EXPECT_EQ(Shown(PANEL_NUMPower), 600) << c.name;
        EXPECT_EQ(StatusLine(), "Parameter-file not loaded - unreadable or incomplete!") << c.name;
    }
}

TEST_F(Panel, LoadCancelledRedrawsFromVariables) {
    PopupLog log;
    log.answer = {0, ""};
    HookFileDialog(log);
    SelectFileTarget();
    strcpy(file_name, "/kept.dat");
    power = 640;
    SetCtrlVal(pHandle, PANEL_NUMPower, 999);
    rt_UserClick(pHandle, PANEL_BTNGet);
    EXPECT_EQ(log.seen.size(), 1u);
    EXPECT_EQ(power, 640);
    EXPECT_EQ(Shown(PANEL_NUMPower), 640);
    EXPECT_EQ(std::string(file_name), "/kept.dat");
}
