// Frame mapping, word conversion, parameter file: no run-time needed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/support.h"
#include "app/panels.h"
#include "display/display.h"
#include "params/vars.h"

namespace {

uint16_t *const kParamVars[16] = {&power, &rs232Mode, &vThd, &anaMode, &polarity, &eMode,
                                  &eBeg, &eEnd, &tVal, &tTol, &opMode, &eHardware,
                                  &slope, &intersect, &average, &deltaTol};

void SetParamVars(const std::vector<int> &w, int trig) {
    for (int i = 0; i < 16; ++i) *kParamVars[i] = static_cast<uint16_t>(w[i]);
    trigMode = static_cast<uint16_t>(trig);
}

std::string TempDir() {
    static std::string dir;
    if (dir.empty()) {
        char tmpl[] = "/tmp/ridar-params-XXXXXX";
        dir = mkdtemp(tmpl);
    }
    return dir;
}

std::string TempPath(const std::string &name) { return TempDir() + "/" + name; }

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

} // namespace

// ---------------------------------------------------------------- copies

TEST(CopyVarsToPP, Word15DependsOnFirmware) {
    struct Case { uint16_t soft; int word15; } cases[] = {
        {0, 9}, {220, 9}, {239, 9}, {240, 4}, {245, 4}, {250, 4}, {65535, 4}};
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
        const uint16_t in[16] = {1200, 5, 20, 9, 3, 9, 3000, 0, 700, 0, 1, 7, 65535, 60001, 2000, 7};
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
    struct Case { uint16_t lo, hi; uint32_t um; } cases[] = {
        {34464, 1, 100000u}, {0, 0, 0u}, {65535, 0, 65535u}, {0, 1, 65536u},
        {65535, 65535, 4294967295u}, {0, 0x8000, 0x80000000u}};
    for (const auto &c : cases) {
        const uint16_t in[16] = {11, 22, 33, c.lo, c.hi, 700, 66, 2, 77, 88, 99, 111, 122, 1, 0xAAAA, 0xBBBB};
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
    struct Case { double in; uint16_t out; } cases[] = {
        {0.0, 0}, {-0.0, 0}, {-0.5, 0}, {0.999, 0}, {1.0, 1}, {-1.0, 65535},
        {-1.5, 65535}, {65535.0, 65535}, {65535.99, 65535}, {65536.0, 0}, {65537.5, 1},
        {-65536.0, 0}, {-65536.5, 0}, {-65537.0, 65535}, {34052.26, 34052},
        {29945.75, 29945}, {34048.0, 34048}, {29879.3, 29879}, {1e300, 0}, {-1e300, 0},
        {9007199254740994.0, 2}, {-9007199254740994.0, 65534}, {4294967301.0, 5},
        {std::nan(""), 0}, {-std::nan(""), 0}, {inf, 0}, {-inf, 0},
        {std::numeric_limits<double>::denorm_min(), 0}, {std::numeric_limits<double>::max(), 0},
        {std::numeric_limits<double>::lowest(), 0}};
    for (const auto &c : cases) EXPECT_EQ(DoubleToWord(c.in), c.out) << "value " << c.in;
}

TEST(SlopeScale, CcdTypeAndFirmware) {
    struct Case { uint16_t type, soft; int k; } cases[] = {
        {104, 249, 512}, {104, 0, 512}, {104, 250, 1024}, {104, 251, 1024},
        {1, 249, 1024}, {102, 230, 1024}, {105, 100, 1024}, {0, 0, 1024}};
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
    const uint16_t words[16] = {500, 0, 512, 2, 1, 1, 3, 1024, 700, 100, 1, 1, 34048, 29879, 65535, 7};
    const std::string path = TempPath("exact.dat");
    ASSERT_EQ(WriteParaFile(path.c_str(), words), 0);
    EXPECT_EQ(ReadText(path),
              "  500\n    0\n  512\n    2\n    1\n    1\n    3\n 1024\n  700\n  100\n"
              "    1\n    1\n34048\n29879\n65535\n    7\n");
}

TEST(ParaFile, SavingTwiceKeepsOnlySecondSet) {
    const std::string path = TempPath("twice.dat");
    uint16_t a[16], b[16], back[16];
    for (int i = 0; i < 16; ++i) { a[i] = static_cast<uint16_t>(60000 + i); b[i] = static_cast<uint16_t>(i); }
    ASSERT_EQ(WriteParaFile(path.c_str(), a), 0);
    ASSERT_EQ(WriteParaFile(path.c_str(), b), 0);
    EXPECT_EQ(ReadText(path).size(), 16u * 6u);
    ASSERT_EQ(ReadParaFile(path.c_str(), back), 0);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(back[i], b[i]);
}

TEST(ParaFile, RoundTrip) {
    const std::string path = TempPath("round.dat");
    const uint16_t sets[3][16] = {
        {0}, {65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535,
              65535, 65535, 65535, 65535},
        {1000, 1, 950, 7, 1, 4, 1, 2048, 1024, 2048, 1, 3, 1024, 60000, 1024, 2048}};
    for (const auto &set : sets) {
        uint16_t back[16];
        ASSERT_EQ(WriteParaFile(path.c_str(), set), 0);
        ASSERT_EQ(ReadParaFile(path.c_str(), back), 0);
        for (int i = 0; i < 16; ++i) EXPECT_EQ(back[i], set[i]) << "word " << i;
    }
}

TEST(ParaFile, ReaderAcceptsWhiteSpaceAndLineEnds) {
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
    for (const auto &c : cases) {
        const std::string path = TempPath("ws.dat");
        WriteText(path, c.text);
        uint16_t w[16] = {0};
        ASSERT_EQ(ReadParaFile(path.c_str(), w), 0) << c.name;
        for (int i = 0; i < 16; ++i) EXPECT_EQ(w[i], kSet[i]) << c.name << " word " << i;
    }
}

TEST(ParaFile, ValueAbove65535KeepsLow16Bits) {
    struct Case { const char *num; uint16_t word; } cases[] = {
        {"65536", 0}, {"65537", 1}, {"100000", 34464}, {"196625", 17}, {"4294967297", 1},
        {"123456789012345678901", 27701}, {"99999999999999999999", 65535}};
    for (const auto &c : cases) {
        const std::string path = TempPath("big.dat");
        WriteText(path, std::string("1\n") + c.num + "\n3\n4\n5\n6\n7\n8\n9\n10\n11\n12\n13\n14\n15\n16\n");
        uint16_t w[16] = {0};
        ASSERT_EQ(ReadParaFile(path.c_str(), w), 0) << c.num;
        EXPECT_EQ(w[1], c.word) << c.num;
        EXPECT_EQ(w[0], 1);
        EXPECT_EQ(w[15], 16);
    }
}

TEST(ParaFile, BadFilesLeaveWordsUntouched) {
    const std::string fifteen = "1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n12\n13\n14\n15\n";
    struct Case { const char *name; std::string text; int result; } cases[] = {
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
    EXPECT_EQ(ReadParaFile(TempDir().c_str(), w), -1);   // a directory
    EXPECT_EQ(ReadParaFile("", w), -1);
    EXPECT_EQ(ReadParaFile(nullptr, w), -1);
    for (auto x : w) EXPECT_EQ(x, 4242);

    EXPECT_EQ(WriteParaFile(missing.c_str(), w), -1);
    EXPECT_EQ(WriteParaFile(TempDir().c_str(), w), -1);
    EXPECT_EQ(WriteParaFile("", w), -1);
    // the device accepts the open and fails on the write
    EXPECT_EQ(WriteParaFile("/dev/full", w), -1);
    if (geteuid() != 0) {
        const std::string ro = TempPath("readonly.dat");
        WriteText(ro, "old\n");
        chmod(ro.c_str(), 0444);
        EXPECT_EQ(WriteParaFile(ro.c_str(), w), -1);
        EXPECT_EQ(ReadText(ro), "old\n");
    }
}

