// The protocol core writes what the windows write: recorder files byte for
// byte, frames, word mappings and the rules, over sets of values chosen to
// hit the edges and a seeded random sweep.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <regex>
#include <string>
#include <unistd.h>

#include "tests/support/support.h"
#include "proto/proto.h"
#include "recorder/recorder.h"

using testfs::ReadFile;

namespace {

std::string TempPath(const std::string &name) { return testfs::TempDir("ridar-same") + "/" + name; }

std::vector<proto::Words> WordSets() {
    std::vector<proto::Words> sets;
    sets.push_back(proto::Words{});
    proto::Words full;
    full.fill(65535);
    sets.push_back(full);
    sets.push_back(proto::Words{500, 1, 512, 0, 0, 1, 1, 2048, 512, 100, 0, 0, 12800, 30000, 0, 0});
    sets.push_back(proto::Words{9, 99, 999, 9999, 10000, 10, 100, 1000, 1, 32767, 32768, 0x8001, 5,
                                55, 555, 5555});
    std::mt19937 rng(17);
    for (int i = 0; i < 200; ++i) {
        proto::Words w;
        for (auto &x : w) x = static_cast<uint16_t>(rng());
        sets.push_back(w);
    }
    return sets;
}

TEST(SameAsWindows, FramesAndWordMappings) {
    for (const proto::Words &w : WordSets()) {
        for (int order = 1; order <= 12; ++order) {
            sync = 0x55;
            FillTxBuf(order, w.data());
            uint8_t core[proto::kFrameBytes];
            proto::EncodeFrame(static_cast<proto::Order>(order), w, core);
            EXPECT_EQ(std::string(szWriteBuf, 36), std::string(reinterpret_cast<char *>(core), 36));
        }
        for (uint16_t soft : {0, 239, 240, 252}) {
            softversion = soft;
            std::copy(w.begin(), w.end(), pp);
            CopyPPtoVars();
            proto::ParamFrame p = proto::ParamsFromWords(w);
            EXPECT_EQ(p.deltaTol, deltaTol);
            EXPECT_EQ(p.trigMode, trigMode);
            CopyVarsToPP();
            proto::Words back = proto::ParamsToWords(p, soft);
            for (int i = 0; i < PNUM; ++i) EXPECT_EQ(back[i], pp[i]);
        }
        std::copy(w.begin(), w.end(), pp);
        CopyPPtoRAWVars();
        proto::Measurement m = proto::MeasurementFromWords(w);
        EXPECT_EQ(m.Ledge, Ledge);
        EXPECT_EQ(m.Redge, Redge);
        EXPECT_EQ(m.Mvalue, Mvalue);
        EXPECT_EQ(m.umValue, umValue);
        EXPECT_EQ(m.edcnt, edcnt);
        EXPECT_EQ(m.tVal, tVal);
        EXPECT_EQ(m.tol, tol);
        EXPECT_EQ(m.in0, in0);
    }
    for (uint16_t type : {0, 1, 103, 104, 105})
        for (uint16_t soft : {0, 249, 250, 65535}) {
            ccdtype = type;
            softversion = soft;
            EXPECT_EQ(proto::SlopeScale(type, soft), SlopeScale());
        }
    for (double v : {0.0, -1.0, 34048.7, 1e9, -1e9, 65536.0})
        EXPECT_EQ(proto::DoubleToWord(v), DoubleToWord(v)) << v;
    for (int r = -8; r <= 0; ++r) EXPECT_STREQ(proto::SeriesRefusedText(r), SeriesRefusedText(r));
}

class SameRecorder : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(StartRidarForTest()); }
};

// A whole recorder file of the desktop, written by hand: a type 2 sensor
// before version 250 still has the slope in 1/1024 (only a type 104 has
// 1/512); the clock's date and time are checked for their form.
TEST_F(SameRecorder, HeaderAndLinesByteForByte) {
    const std::string path = TempPath("rec.dat");
    remove(path.c_str());
    snprintf(rec_fname, sizeof rec_fname, "%s", path.c_str());
    ccdtype = 2;
    softversion = 249;
    slope = 65535;
    intersect = 29999;
    SetCtrlVal(pRecord, RECORD_NUMinctime, 65535u);
    SetCtrlVal(pRecord, RECORD_NUMsample, 1u);
    ASSERT_EQ(writeFileHeader(), 0);
    ASSERT_EQ(WriteDataLine(312, 553, 432, 2, 14312), 0);
    ASSERT_EQ(WriteDataLine(65535, 65535, 65535, 65535, 2147483647u), 0);
    ASSERT_EQ(WriteDataLine(7, 8, 9, 3, 4294967295u), 0);
    const std::string got = ReadFile(path);
    const size_t timeEnd = got.find("\r\n", got.find("\r\n") + 2) + 2;
    ASSERT_LT(timeEnd, got.size()) << got;
    EXPECT_TRUE(std::regex_match(
        got.substr(0, timeEnd),
        std::regex("Date:\t[0-9]{2}-[0-9]{2}-[0-9]{4}\r\nTime:\t[0-9]{2}:[0-9]{2}:[0-9]{2}\r\n")))
        << got;
    EXPECT_EQ(got.substr(timeEnd), "Time-Increment[s]:\t65535\r\n"
                                   "Number of Samples:\t1\r\n"
                                   "Offset-Value [\xB5m]:\t-1\r\n"
                                   "Slope-Value [\xB5m/pixel]:\t63.9990\r\n"
                                   "E-LEFT\tE-RIGHT\tM-VALUE\tEDGES\tM-VAL[um]\r\n"
                                   "312\t553\t432\t2\t14312\r\n"
                                   "65535\t65535\t65535\t65535\t2147483647\r\n"
                                   "7\t8\t9\t3\t-1\r\n");
}

}   // namespace
