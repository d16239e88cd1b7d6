// The protocol core writes what the windows write: recorder files byte for
// byte, frames, word mappings and the rules, over sets of values chosen to
// hit the edges and a seeded random sweep.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
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

TEST_F(SameRecorder, HeaderAndLinesByteForByte) {
    const std::string path = TempPath("rec.dat");
    std::mt19937 rng(5);
    for (int i = 0; i < 60; ++i) {
        remove(path.c_str());
        snprintf(rec_fname, sizeof rec_fname, "%s", path.c_str());
        proto::RecorderHeader h;
        ccdtype = i % 3 == 0 ? 104 : 2;
        softversion = i % 2 ? 249 : 252;
        slope = i < 2 ? static_cast<uint16_t>(i * 65535) : static_cast<uint16_t>(rng());
        intersect = static_cast<uint16_t>(rng());
        h.increment = static_cast<uint16_t>(rng());
        h.samples = static_cast<uint16_t>(rng());
        SetCtrlVal(pRecord, RECORD_NUMinctime, static_cast<unsigned>(h.increment));
        SetCtrlVal(pRecord, RECORD_NUMsample, static_cast<unsigned>(h.samples));
        h.slope = slope;
        h.intersect = intersect;
        h.slopeScale = proto::SlopeScale(ccdtype, softversion);
        h.date = DateStr();
        h.time = TimeStr();
        ASSERT_EQ(writeFileHeader(), 0);
        std::string want = proto::FormatRecorderHeader(h);
        for (int k = 0; k < 5; ++k) {
            proto::Measurement m;
            m.Ledge = static_cast<uint16_t>(rng());
            m.Redge = static_cast<uint16_t>(rng());
            m.Mvalue = static_cast<uint16_t>(rng());
            m.edcnt = static_cast<uint16_t>(rng() % 4);
            m.umValue = static_cast<uint32_t>(rng());
            ASSERT_EQ(WriteDataLine(m.Ledge, m.Redge, m.Mvalue, m.edcnt, m.umValue), 0);
            want += proto::FormatRecorderLine(m);
        }
        std::string got = ReadFile(path);
        // the clock may have ticked between the two: date and time from the file
        const size_t timeEnd = got.find("\r\n", got.find("\r\n") + 2) + 2;
        const size_t wantTimeEnd = want.find("\r\n", want.find("\r\n") + 2) + 2;
        EXPECT_EQ(got.substr(timeEnd), want.substr(wantTimeEnd));
        EXPECT_EQ(got.substr(0, 6), "Date:\t");
    }
}

}   // namespace
