// Recorder: the file byte for byte, the duration displays, and recordings
// of kvex-sim with each of their endings.
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/support.h"
#include "rt/rt_testing.h"
#include "app/app.h"
#include "link/frame.h"
#include "params/vars.h"
#include "recorder/recorder.h"

namespace {

std::string TempDir() { return testfs::TempDir("ridar-rec"); }
std::string TempPath(const std::string &name) { return TempDir() + "/" + name; }
using testfs::Exists;
using testfs::ReadFile;
using testfs::WriteFile;

// Splits after each CR LF; a trailing piece without CR LF is kept as it is.
std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> out;
    size_t p = 0;
    while (p < text.size()) {
        size_t e = text.find("\r\n", p);
        if (e == std::string::npos) {
            out.push_back(text.substr(p));
            break;
        }
        out.push_back(text.substr(p, e + 2 - p));
        p = e + 2;
    }
    return out;
}

void UseFile(const std::string &path) { snprintf(rec_fname, sizeof rec_fname, "%s", path.c_str()); }

std::string Duration() {
    return std::to_string(IntVal(pRecord, RECORD_NUMRecDays)) + "/" +
           std::to_string(IntVal(pRecord, RECORD_NUMRecHours)) + "/" +
           std::to_string(IntVal(pRecord, RECORD_NUMRecMinutes)) + "/" +
           std::to_string(IntVal(pRecord, RECORD_NUMRecSeconds));
}

// ---------------------------------------------------------------- data lines

TEST(RecorderFile, DataLinesByteForByte) {
    struct Case {
        uint16_t l, r, m, e;
        uint32_t um;
        const char *text;
    } cases[] = {
        {312, 553, 432, 2, 14312, "312\t553\t432\t2\t14312\r\n"},
        {0, 0, 0, 0, 0, "0\t0\t0\t0\t0\r\n"},
        {65535, 65535, 65535, 65535, 2147483647u, "65535\t65535\t65535\t65535\t2147483647\r\n"},
        {1, 2, 3, 1, 2147483648u, "1\t2\t3\t1\t-2147483648\r\n"},
        {7, 8, 9, 3, 4294967295u, "7\t8\t9\t3\t-1\r\n"},
        {40000, 40001, 1, 0, 100000, "40000\t40001\t1\t0\t100000\r\n"},
    };
    std::string path = TempPath("data.dat");
    remove(path.c_str());
    UseFile(path);
    std::string want;
    for (const auto &c : cases) {
        ASSERT_EQ(WriteDataLine(c.l, c.r, c.m, c.e, c.um), 0);
        want += c.text;
        EXPECT_EQ(ReadFile(path), want);   // appended, never rewritten
    }
}

TEST(RecorderFile, DataLineWritesThatFailReportMinusOne) {
    const std::string paths[] = {
        "/nonexistent-ridar-dir/REC.DAT",   // no such directory
        TempDir(),                          // a directory
        "/proc/version",                    // not writable, even for root
        "/dev/full",                        // every write: no space left
    };
    for (const auto &p : paths) {
        UseFile(p);
        EXPECT_EQ(WriteDataLine(1, 2, 3, 4, 5), -1) << p;
    }
    struct stat st;
    EXPECT_NE(stat("/nonexistent-ridar-dir", &st), 0);
}

// A line that only partly fits is taken back: the file keeps whole lines.
TEST(RecorderFile, PartlyWrittenLineIsTakenBack) {
    std::string path = TempPath("limit.dat");
    remove(path.c_str());
    UseFile(path);
    ASSERT_EQ(WriteDataLine(1, 2, 3, 4, 5), 0);
    std::string before = ReadFile(path);
    signal(SIGXFSZ, SIG_IGN);
    rlimit old;
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit lim = old;
    lim.rlim_cur = before.size() + 5;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lim), 0);
    int r = WriteDataLine(11111, 22222, 33333, 4, 55555);
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(r, -1);
    EXPECT_EQ(ReadFile(path), before);
}

TEST(RecorderFile, DefaultFileBesideTheProgramOrInWorkingDirectory) {
    char saved[260];
    snprintf(saved, sizeof saved, "%s", proj_dir);
    char out[260];
    snprintf(proj_dir, sizeof proj_dir, "%s", TempDir().c_str());
    DefaultRecFile(out, sizeof out);
    EXPECT_EQ(std::string(out), TempDir() + "/RECORD.DAT");
    // a directory that cannot be written (here: one that does not exist)
    snprintf(proj_dir, sizeof proj_dir, "/nonexistent-ridar-dir/bin");
    DefaultRecFile(out, sizeof out);
    char cwd[260];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(std::string(out), std::string(cwd) + "/RECORD.DAT");
    // a program directory too long for a path
    memset(proj_dir, 'd', sizeof proj_dir - 1);
    proj_dir[0] = '/';
    proj_dir[sizeof proj_dir - 1] = '\0';
    DefaultRecFile(out, sizeof out);
    EXPECT_EQ(std::string(out), std::string(cwd) + "/RECORD.DAT");
    snprintf(proj_dir, sizeof proj_dir, "%s", saved);
}

class RecorderPanel : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(StartRidarForTest());
        popups.clear();
        confirmAnswer = 1;
        rt_SetPopupHook([this](const RtPopup &p) {
            popups.push_back(p);
            RtPopupAnswer a;
            if (p.kind == 2) a.result = confirmAnswer;
            if (p.kind == 3) {
                a.result = fileResult;
                a.path = filePath;
            }
            return a;
        });
        ccdtype = 0;
        softversion = 252;
        SetCtrlVal(pRecord, RECORD_NUMinctime, 5);
        SetCtrlVal(pRecord, RECORD_NUMsample, 100);
    }
    std::vector<RtPopup> popups;
    int confirmAnswer = 1;
    int fileResult = 0;
    std::string filePath;
};

// ---------------------------------------------------------------- file

struct HeaderCase {
    uint16_t ccd, soft, slopeWord, offsetWord, inc, samples;
    const char *inc_s, *samples_s, *offset_s, *slope_s;
};

TEST_F(RecorderPanel, HeaderByteForByte) {
    const HeaderCase cases[] = {
        {0, 252, 34052, 29946, 5, 100, "5", "100", "-54", "33.2539"},
        {104, 249, 17026, 29946, 5, 100, "5", "100", "-54", "33.2539"},   // scale 512
        {104, 250, 17026, 30000, 0, 0, "0", "0", "0", "16.6270"},         // scale 1024
        {0, 252, 12800, 0, 40000, 40000, "40000", "40000", "-30000", "12.5000"},
        {0, 252, 65535, 65535, 65535, 65535, "65535", "65535", "35535", "63.9990"},
        {0, 252, 0, 30001, 3600, 1, "3600", "1", "1", "0.0000"},
        {104, 100, 65535, 29999, 1, 2, "1", "2", "-1", "127.9980"},
    };
    for (const auto &c : cases) {
        std::string path = TempPath("header.dat");
        remove(path.c_str());
        UseFile(path);
        ccdtype = c.ccd;
        softversion = c.soft;
        slope = c.slopeWord;
        intersect = c.offsetWord;
        SetCtrlVal(pRecord, RECORD_NUMinctime, static_cast<unsigned>(c.inc));
        SetCtrlVal(pRecord, RECORD_NUMsample, static_cast<unsigned>(c.samples));
        std::string d0 = DateStr(), t0 = TimeStr();
        ASSERT_EQ(writeFileHeader(), 0);
        std::string d1 = DateStr(), t1 = TimeStr();
        auto lines = Lines(ReadFile(path));
        ASSERT_EQ(lines.size(), 7u) << c.slope_s;
        EXPECT_TRUE(lines[0] == "Date:\t" + d0 + "\r\n" || lines[0] == "Date:\t" + d1 + "\r\n")
            << lines[0];
        EXPECT_TRUE(lines[1] == "Time:\t" + t0 + "\r\n" || lines[1] == "Time:\t" + t1 + "\r\n")
            << lines[1];
        EXPECT_TRUE(
            std::regex_match(lines[0], std::regex("Date:\t[01][0-9]-[0-3][0-9]-[0-9]{4}\r\n")));
        EXPECT_TRUE(
            std::regex_match(lines[1], std::regex("Time:\t[0-2][0-9]:[0-5][0-9]:[0-6][0-9]\r\n")));
        EXPECT_EQ(lines[2], std::string("Time-Increment[s]:\t") + c.inc_s + "\r\n");
        EXPECT_EQ(lines[3], std::string("Number of Samples:\t") + c.samples_s + "\r\n");
        EXPECT_EQ(lines[4], std::string("Offset-Value [\xB5m]:\t") + c.offset_s + "\r\n");
        EXPECT_EQ(lines[5], std::string("Slope-Value [\xB5m/pixel]:\t") + c.slope_s + "\r\n");
        EXPECT_EQ(lines[6], "E-LEFT\tE-RIGHT\tM-VALUE\tEDGES\tM-VAL[um]\r\n");
        // the micro sign is one byte, 0xB5
        EXPECT_EQ(lines[4].size(),
                  std::string("Offset-Value [").size() + 4 + 1 + strlen(c.offset_s) + 2);
        EXPECT_EQ(static_cast<unsigned char>(lines[4][14]), 0xB5);
    }
}

// Every slope word can be told apart from its neighbours in the header.
TEST_F(RecorderPanel, SlopeKeepsTheWordResolution) {
    std::string path = TempPath("slope.dat");
    for (int scale : {1024, 512}) {
        ccdtype = scale == 512 ? 104 : 0;
        softversion = 200;
        for (int w = 0; w < 65536; w += (w < 64 || w > 65470) ? 1 : 97) {
            remove(path.c_str());
            UseFile(path);
            slope = static_cast<uint16_t>(w);
            ASSERT_EQ(writeFileHeader(), 0);
            std::string l = Lines(ReadFile(path))[5];
            double v = std::stod(l.substr(l.find('\t') + 1));
            ASSERT_EQ(static_cast<long>(std::lround(v * scale)), w) << l;
        }
    }
}

TEST_F(RecorderPanel, WritesThatFailReportMinusOne) {
    const std::string paths[] = {
        "/nonexistent-ridar-dir/REC.DAT",   // no such directory
        TempDir(),                          // a directory
        "/proc/version",                    // not writable, even for root
        "/dev/full",                        // every write: no space left
    };
    for (const auto &p : paths) {
        UseFile(p);
        EXPECT_EQ(writeFileHeader(), -1) << p;
        EXPECT_EQ(WriteDataLine(1, 2, 3, 4, 5), -1) << p;
    }
    EXPECT_FALSE(Exists("/nonexistent-ridar-dir"));
}

TEST_F(RecorderPanel, CalcRecTimeAndPreviews) {
    // clang-format off
    struct Case { int s; const char *want; } cases[] = {
        {90061, "1/1/1/1"}, {0, "0/0/0/0"}, {59, "0/0/0/59"}, {86399, "0/23/59/59"},
        {86400, "1/0/0/0"}, {6000, "0/1/40/0"}, {29999 * 3599, "1249/14/40/1"},
    };
    // clang-format on
    for (const auto &c : cases) {
        CalcRecTime(c.s);
        EXPECT_EQ(Duration(), c.want) << c.s;
    }
    // previews while the numbers are edited
    SetCtrlVal(pRecord, RECORD_NUMinctime, 60);
    rt_UserSetVal(pRecord, RECORD_NUMsample, 100);
    EXPECT_EQ(Duration(), "0/1/40/0");
    rt_UserSetVal(pRecord, RECORD_NUMsample, 29999);   // 29999 min
    EXPECT_EQ(Duration(), "20/19/59/0");
    rt_UserSetVal(pRecord, RECORD_NUMsample, 30000);   // at the bound: unchanged
    EXPECT_EQ(Duration(), "20/19/59/0");
    rt_UserSetVal(pRecord, RECORD_NUMinctime, 3599);   // only the increment's bound applies
    EXPECT_EQ(Duration(), "1249/15/40/0");             // 30000 x 3599 s
    rt_UserSetVal(pRecord, RECORD_NUMinctime, 3600);   // at the bound: unchanged
    EXPECT_EQ(Duration(), "1249/15/40/0");
    rt_UserSetVal(pRecord, RECORD_NUMsample, 10);   // 10 x 3600 s
    EXPECT_EQ(Duration(), "0/10/0/0");
    rt_UserSetVal(pRecord, RECORD_NUMinctime, 0);
    EXPECT_EQ(Duration(), "0/0/0/0");
}

TEST_F(RecorderPanel, ToggleShowsAndHidesThePanel) {
    HidePanel(pRecord);
    SetCtrlVal(pHandle, PANEL_TOGGBTN_Recorder, 0);
    rt_UserClick(pHandle, PANEL_TOGGBTN_Recorder);
    EXPECT_TRUE(rt_IsShown(pRecord));
    rt_UserClick(pHandle, PANEL_TOGGBTN_Recorder);
    EXPECT_FALSE(rt_IsShown(pRecord));
}

TEST_F(RecorderPanel, FileDialog) {
    std::string existing = TempPath("exists.dat");
    std::string fresh = TempPath("new.dat");
    UseFile(TempPath("old.dat"));
    ResetTextBox(pRecord, RECORD_TEXTRecFile, rec_fname);

    // cancelled: nothing
    fileResult = 0;
    filePath = "";
    rt_UserClick(pRecord, RECORD_CMDBTNrecfile);
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(popups[0].kind, 3);
    EXPECT_EQ(popups[0].title, "K-VEX-Series Recorder-File:");
    EXPECT_EQ(popups[0].filter, "*.dat");
    EXPECT_EQ(popups[0].defaultName, "RECORD.DAT");
    EXPECT_EQ(popups[0].defaultDir, std::string(proj_dir));
    EXPECT_EQ(std::string(rec_fname), TempPath("old.dat"));
    EXPECT_EQ(rt_GetCtrlText(pRecord, RECORD_TEXTRecFile), TempPath("old.dat"));

    // a new name
    popups.clear();
    fileResult = 2;
    filePath = fresh;
    rt_UserClick(pRecord, RECORD_CMDBTNrecfile);
    EXPECT_EQ(popups.size(), 1u);
    EXPECT_EQ(std::string(rec_fname), fresh);
    EXPECT_EQ(rt_GetCtrlText(pRecord, RECORD_TEXTRecFile), fresh);

    // an existing file, overwrite declined: kept
    WriteFile(existing, "OLD");
    popups.clear();
    fileResult = 1;
    filePath = existing;
    confirmAnswer = 0;
    rt_UserClick(pRecord, RECORD_CMDBTNrecfile);
    ASSERT_EQ(popups.size(), 2u);
    EXPECT_EQ(popups[1].kind, 2);
    EXPECT_EQ(popups[1].title, "ATTENTION!");
    EXPECT_EQ(popups[1].message, "Output-File already exist! - Overwrite ?");
    EXPECT_EQ(ReadFile(existing), "OLD");
    EXPECT_EQ(std::string(rec_fname), existing);
    EXPECT_EQ(rt_GetCtrlText(pRecord, RECORD_TEXTRecFile), existing);

    // confirmed: deleted at once
    confirmAnswer = 1;
    rt_UserClick(pRecord, RECORD_CMDBTNrecfile);
    EXPECT_FALSE(Exists(existing));
    EXPECT_EQ(std::string(rec_fname), existing);
}

// ---------------------------------------------------------------- against kvex-sim

// Notes the time each new line of a file appears, polled from the event loop.
struct LineWatch {
    std::string path;
    std::vector<double> times;   // one per line, header lines included
    bool on = true;
    std::function<void(size_t)> onLine;
};
void Look(const std::shared_ptr<LineWatch> &w) {
    size_t n = Lines(ReadFile(w->path)).size();
    while (w->times.size() < n) {
        w->times.push_back(Timer());
        if (w->onLine) w->onLine(w->times.size());
    }
}
void Poll(std::shared_ptr<LineWatch> w) {
    if (!w->on) return;
    Look(w);
    rt_After(0.01, [w] { Poll(w); });
}

const std::regex kDataLine("[0-9]+\t[0-9]+\t[0-9]+\t[0-9]+\t-?[0-9]+\r\n");

std::string RecStatus() { return rt_GetCtrlText(pRecord, RECORD_TEXTRecStatus); }
std::string MainStatus() { return rt_GetCtrlText(pHandle, PANEL_TEXTStatus); }

// Idle recorder: start usable, main panel unlocked, date/time/count/duration dimmed.
std::string IdleState() {
    std::string s;
    for (int c : {PANEL_CTRLRunLockA, PANEL_CTRLRunLockB, PANEL_CTRLRunLockC})
        s += std::to_string(Dimmed(pHandle, c));
    s += " start=" + std::to_string(Dimmed(pRecord, RECORD_CBTNStartRecord)) + " displays=";
    for (int c : {RECORD_TEXTRecDate, RECORD_TEXTRecTime, RECORD_NUMRecCount, RECORD_NUMRecDays,
                  RECORD_NUMRecHours, RECORD_NUMRecMinutes, RECORD_NUMRecSeconds})
        s += std::to_string(Dimmed(pRecord, c));
    return s;
}
const char kIdle[] = "000 start=0 displays=1111111";
const char kRecording[] = "111 start=1 displays=0000000";

class RecorderSim : public RecorderPanel {
protected:
    void SetUp() override {
        RecorderPanel::SetUp();
        ASSERT_TRUE(sim.Start({"--noise", "0", "--exit-on-eof"}));
        CloseCom(1);
        ASSERT_TRUE(OpenTestLine(sim.Device()));
        HoldSimulatorFactorySet();
        ccdvirtpixel = 2048;
        stop_flag = STOP_ASKED;
        path = TempPath(
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".dat");
        remove(path.c_str());
        UseFile(path);
        watch = std::make_shared<LineWatch>();
        watch->path = path;
        SetCtrlAttribute(pRecord, RECORD_TEXTRecStatus, ATTR_TEXT_BGCOLOR, VAL_WHITE);
        ResetTextBox(pRecord, RECORD_TEXTRecStatus, "");
        rt_After(30.0, [] { stop_flag = STOP_ASKED; });   // no test may hang in a loop
    }
    void TearDown() override {
        watch->on = false;
        stop_flag = STOP_ASKED;
        CloseCom(1);
        sim.Stop();
    }
    // Starts a recording and returns when it has ended; the seconds it took.
    double Record(int samples, int increment) {
        SetCtrlVal(pRecord, RECORD_NUMsample, samples);
        SetCtrlVal(pRecord, RECORD_NUMinctime, increment);
        Poll(watch);
        t0 = Timer();
        rt_UserClick(pRecord, RECORD_CBTNStartRecord);
        double took = Timer() - t0;
        Look(watch);   // a last line written just before the end
        return took;
    }
    // Data lines of the file; every one must be complete.
    std::vector<std::string> DataLines() {
        auto l = Lines(ReadFile(path));
        EXPECT_GE(l.size(), 7u);
        if (l.size() < 7) return {};
        std::vector<std::string> d(l.begin() + 7, l.end());
        for (auto &x : d) EXPECT_TRUE(std::regex_match(x, kDataLine)) << x;
        return d;
    }

    SimProcess sim;
    std::string path;
    std::shared_ptr<LineWatch> watch;
    double t0 = 0;
};

TEST_F(RecorderSim, IncrementZeroRecordsEveryReplyAboutOneASecond) {
    std::string during, duringText;
    int bg = -1, fg = -1, bold = -1;
    rt_After(1.6, [&] { Screenshot(pRecord, "recorder-during.png"); });
    rt_After(0.5, [&] {
        during = IdleState();
        duringText = RecStatus();
        bg = Attr(pRecord, RECORD_TEXTRecStatus, ATTR_TEXT_BGCOLOR);
        fg = Attr(pRecord, RECORD_TEXTRecStatus, ATTR_TEXT_COLOR);
        bold = Attr(pRecord, RECORD_TEXTRecStatus, ATTR_TEXT_BOLD);
        EXPECT_EQ(stop_flag, STOP_RUNNING);
        EXPECT_TRUE(std::regex_match(rt_GetCtrlText(pRecord, RECORD_TEXTRecDate),
                                     std::regex("[0-9]{2}-[0-9]{2}-[0-9]{4}")));
        EXPECT_TRUE(std::regex_match(rt_GetCtrlText(pRecord, RECORD_TEXTRecTime),
                                     std::regex("[0-9]{2}:[0-9]{2}:[0-9]{2}")));
    });
    // outside the tolerance band (512 +- 100) after the first sample
    rt_After(1.3, [&] { sim.Command("object 300 700"); });
    double took = Record(3, 0);
    Screenshot(pRecord, "recorder-after.png");
    EXPECT_EQ(during, kRecording);
    EXPECT_TRUE(duringText == "APPEND TO DATA-FILE..." ||
                duringText == "DATA-RECORDER: RS-232-BUSY ...")
        << duringText;
    EXPECT_EQ(bg, VAL_DK_GREEN);
    EXPECT_EQ(fg, VAL_WHITE);
    EXPECT_EQ(bold, 1);

    EXPECT_GT(took, 1.9);
    EXPECT_LT(took, 3.0);
    auto d = DataLines();
    ASSERT_EQ(d.size(), 3u);
    ASSERT_EQ(watch->times.size(), 10u);
    for (size_t i = 8; i < 10; ++i) {
        double gap = watch->times[i] - watch->times[i - 1];
        EXPECT_GT(gap, 0.9) << i;
        EXPECT_LT(gap, 1.5) << i;
    }
    EXPECT_LT(watch->times[7] - t0, 0.5);   // the first reply is a sample
    // eMode 1: the value is the right edge
    EXPECT_EQ(d[0].substr(0, 8), "400\t600\t");
    EXPECT_EQ(d[2], "300\t700\t700\t2\t8750\r\n");   // 700 px x 12.5 um
    EXPECT_EQ(RecStatus(), "DATA-RECORDER COMPLETED SUCCESSFULLY");
    EXPECT_EQ(Attr(pRecord, RECORD_TEXTRecStatus, ATTR_TEXT_BGCOLOR), VAL_LT_GRAY);
    EXPECT_EQ(Attr(pRecord, RECORD_TEXTRecStatus, ATTR_TEXT_COLOR), VAL_BLACK);
    EXPECT_EQ(Attr(pRecord, RECORD_TEXTRecStatus, ATTR_TEXT_BOLD), 0);
    EXPECT_EQ(IdleState(), kIdle);
    EXPECT_EQ(stop_flag, STOP_COMPLETED);
    EXPECT_EQ(IntVal(pRecord, RECORD_NUMRecCount), 3);
    // the live displays show the last reply, red outside the band
    EXPECT_EQ(IntVal(pRecord, RECORD_NUMRecLedge), 300);
    EXPECT_EQ(IntVal(pRecord, RECORD_NUMRecRedge), 700);
    EXPECT_EQ(IntVal(pRecord, RECORD_NUMRecMvalue), 700);
    double mm = 0;
    GetCtrlVal(pRecord, RECORD_NUMRecMvalueMm, &mm);
    EXPECT_DOUBLE_EQ(mm, 8.75);
    EXPECT_EQ(Attr(pRecord, RECORD_TEXTRecStatus, ATTR_TEXT_BGCOLOR), VAL_LT_GRAY);
    EXPECT_EQ(Attr(pRecord, RECORD_NUMRecMvalue, ATTR_TEXT_BGCOLOR), VAL_RED);
    EXPECT_EQ(Attr(pRecord, RECORD_NUMRecMvalueMm, ATTR_TEXT_BGCOLOR), VAL_RED);
    // one request a second at most
    EXPECT_LE(SimRequests(sim, 8), 4);
}

TEST_F(RecorderSim, InsideTheToleranceBandIsGreen) {
    Record(1, 0);
    EXPECT_EQ(IntVal(pRecord, RECORD_NUMRecMvalue), 600);
    EXPECT_EQ(Attr(pRecord, RECORD_NUMRecMvalue, ATTR_TEXT_BGCOLOR), VAL_DK_GREEN);
    EXPECT_EQ(Attr(pRecord, RECORD_NUMRecMvalueMm, ATTR_TEXT_BGCOLOR), VAL_DK_GREEN);
}

TEST_F(RecorderSim, IncrementTwoSecondsSpacesTheSamples) {
    double took = Record(2, 2);
    auto d = DataLines();
    ASSERT_EQ(d.size(), 2u);
    ASSERT_EQ(watch->times.size(), 9u);
    double first = watch->times[7] - t0, gap = watch->times[8] - watch->times[7];
    // times are when the poll saw each line: late by up to a poll period
    // or more on a busy machine, so the lower bound of the gap allows for it
    EXPECT_GE(first, 2.0);
    EXPECT_LT(first, 3.4);
    EXPECT_GE(gap, 1.9);
    EXPECT_LT(gap, 3.4);
    EXPECT_LT(took, 6.5);
    EXPECT_EQ(RecStatus(), "DATA-RECORDER COMPLETED SUCCESSFULLY");
}

TEST_F(RecorderSim, ZeroSamplesLeaveTheHeaderOnly) {
    double took = Record(0, 0);
    EXPECT_LT(took, 0.5);
    EXPECT_EQ(Lines(ReadFile(path)).size(), 7u);
    EXPECT_EQ(DataLines().size(), 0u);
    EXPECT_EQ(RecStatus(), "DATA-RECORDER COMPLETED SUCCESSFULLY");
    EXPECT_EQ(IdleState(), kIdle);
}

TEST_F(RecorderSim, StopButtonEndsTheRecording) {
    std::string right_after;
    rt_After(1.3, [&] {
        rt_UserClick(pRecord, RECORD_CBTNStopRecord);
        right_after = std::to_string(Dimmed(pRecord, RECORD_CBTNStartRecord));
    });
    double took = Record(100, 0);
    EXPECT_EQ(right_after, "0");   // usable again at once
    EXPECT_LT(took, 1.8);
    EXPECT_EQ(RecStatus(), "DATA-RECORDER INTERRUPTED!");
    EXPECT_EQ(Attr(pRecord, RECORD_TEXTRecStatus, ATTR_TEXT_BGCOLOR), VAL_RED);
    EXPECT_EQ(Attr(pRecord, RECORD_TEXTRecStatus, ATTR_TEXT_COLOR), VAL_WHITE);
    EXPECT_EQ(Attr(pRecord, RECORD_TEXTRecStatus, ATTR_TEXT_BOLD), 1);
    EXPECT_EQ(DataLines().size(), 2u);
    EXPECT_EQ(IdleState(), kIdle);
    EXPECT_EQ(stop_flag, STOP_ASKED);
}

TEST_F(RecorderSim, MainPanelStopEndsTheRecording) {
    rt_After(1.3, [&] { rt_UserClick(pHandle, PANEL_BTNStop); });
    double took = Record(100, 0);
    EXPECT_LT(took, 1.8);
    EXPECT_EQ(RecStatus(), "DATA-RECORDER INTERRUPTED!");
    EXPECT_EQ(DataLines().size(), 2u);
    EXPECT_EQ(IdleState(), kIdle);
}

TEST_F(RecorderSim, SilentSensorTimesOutAndKeepsTheLines) {
    double silentAt = 0;
    rt_After(1.2, [&] {
        sim.Command("silent on");
        silentAt = Timer();
    });
    Record(100, 0);
    double end = Timer();
    // the last request went out at most 1 s before the silence; 1.5 s later it ends
    EXPECT_GT(end - silentAt, 1.4);
    EXPECT_LT(end - silentAt, 2.8);
    EXPECT_EQ(MainStatus(), "Timeout RS232-Line!");
    EXPECT_EQ(RecStatus(), "DATA-RECORDER INTERRUPTED - TIMEOUT RS-232 LINE!");
    EXPECT_EQ(Attr(pRecord, RECORD_TEXTRecStatus, ATTR_TEXT_BGCOLOR), VAL_RED);
    EXPECT_EQ(stop_flag, STOP_TIMEOUT);
    auto d = DataLines();
    EXPECT_GE(d.size(), 2u);
    EXPECT_LE(d.size(), 3u);
    EXPECT_EQ(IdleState(), kIdle);
}

// Started inside run mode, the recorder runs nested and both end together.
TEST_F(RecorderSim, RecordingDuringRunMode) {
    int runLoop = -1;
    rt_After(0.4, [&] {
        runLoop = stop_flag == STOP_RUNNING;
        SetCtrlVal(pRecord, RECORD_NUMsample, 2);
        SetCtrlVal(pRecord, RECORD_NUMinctime, 0);
        rt_UserClick(pRecord, RECORD_CBTNStartRecord);
    });
    double t = Timer();
    rt_UserClick(pHandle, PANEL_BTNRun);   // returns when run mode ends
    double took = Timer() - t;
    EXPECT_EQ(runLoop, 1);
    EXPECT_LT(took, 3.0);
    EXPECT_EQ(stop_flag, STOP_COMPLETED);
    EXPECT_EQ(RecStatus(), "DATA-RECORDER COMPLETED SUCCESSFULLY");
    EXPECT_EQ(DataLines().size(), 2u);
    EXPECT_EQ(IdleState(), kIdle);
}

TEST_F(RecorderSim, ExistingFileOverwriteDeclined) {
    WriteFile(path, "OLD");
    ResetTextBox(pRecord, RECORD_TEXTRecStatus, "before");
    confirmAnswer = 0;
    double took = Record(5, 0);
    EXPECT_LT(took, 0.5);
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(popups[0].kind, 2);
    EXPECT_EQ(popups[0].title, "ATTENTION !");
    EXPECT_EQ(popups[0].message, "File already exist - overwrite ?");
    EXPECT_EQ(ReadFile(path), "OLD");
    EXPECT_EQ(IdleState(), kIdle);
    EXPECT_EQ(RecStatus(), "before");
    EXPECT_EQ(SimRequests(sim, 8), 0);

    // confirmed: a fresh file
    confirmAnswer = 1;
    Record(0, 0);
    EXPECT_EQ(Lines(ReadFile(path)).size(), 7u);
}

TEST_F(RecorderSim, HeaderThatCannotBeWrittenEndsAtOnce) {
    UseFile("/nonexistent-ridar-dir/REC.DAT");
    double took = Record(5, 0);
    EXPECT_LT(took, 0.5);
    EXPECT_EQ(RecStatus(), "DATA-RECORDER INTERRUPTED - CANNOT WRITE DATA-FILE!");
    EXPECT_EQ(MainStatus(), "DATA-RECORDER INTERRUPTED - CANNOT WRITE DATA-FILE!");
    EXPECT_EQ(Attr(pRecord, RECORD_TEXTRecStatus, ATTR_TEXT_BGCOLOR), VAL_RED);
    EXPECT_EQ(IdleState(), kIdle);
    EXPECT_NE(stop_flag, STOP_RUNNING);
    EXPECT_EQ(SimRequests(sim, 8), 0);
}

// The medium fills up after two samples: the recording ends with the two
// lines kept and nothing half written.
TEST_F(RecorderSim, FailedWriteEndsTheRecordingAndKeepsTheLines) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit old;
    getrlimit(RLIMIT_FSIZE, &old);
    watch->onLine = [&](size_t n) {
        if (n != 9) return;
        rlimit lim = old;
        lim.rlim_cur = ReadFile(path).size() + 6;
        setrlimit(RLIMIT_FSIZE, &lim);
    };
    double took = Record(100, 0);
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_LT(took, 3.5);
    EXPECT_EQ(DataLines().size(), 2u);
    EXPECT_EQ(ReadFile(path).back(), '\n');
    EXPECT_EQ(RecStatus(), "DATA-RECORDER INTERRUPTED - CANNOT WRITE DATA-FILE!");
    EXPECT_EQ(MainStatus(), "DATA-RECORDER INTERRUPTED - CANNOT WRITE DATA-FILE!");
    EXPECT_EQ(Attr(pRecord, RECORD_TEXTRecStatus, ATTR_TEXT_BGCOLOR), VAL_RED);
    EXPECT_EQ(IntVal(pRecord, RECORD_NUMRecCount), 2);
    EXPECT_EQ(IdleState(), kIdle);
}

// A recording killed with SIGKILL keeps every line it wrote, each complete.
// The recorder runs in a child: this test program again, with one test.
TEST(RecorderKill, EveryWrittenLineIsComplete) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--fast", "--exit-on-eof"}));
    std::string path = TempPath("killed.dat");
    remove(path.c_str());
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        setenv("RIDAR_KILL_DEV", sim.Device().c_str(), 1);
        setenv("RIDAR_KILL_FILE", path.c_str(), 1);
        execl("/proc/self/exe", "test_recorder", "--gtest_filter=RecorderKill.DISABLED_Child",
              "--gtest_also_run_disabled_tests", static_cast<char *>(nullptr));
        _exit(127);
    }
    // kill it when the next line is about due
    size_t lines = 0;
    double start = Timer();
    while (Timer() - start < 15.0 && lines < 10) {
        lines = Lines(ReadFile(path)).size();
        usleep(1000);
    }
    usleep(990000);
    kill(child, SIGKILL);
    int st = 0;
    waitpid(child, &st, 0);
    EXPECT_TRUE(WIFSIGNALED(st));
    std::string text = ReadFile(path);
    auto l = Lines(text);
    ASSERT_GE(l.size(), 10u);
    EXPECT_EQ(l[6], "E-LEFT\tE-RIGHT\tM-VALUE\tEDGES\tM-VAL[um]\r\n");
    for (size_t i = 7; i < l.size(); ++i)
        EXPECT_TRUE(std::regex_match(l[i], kDataLine)) << i << ": " << l[i];
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST(RecorderKill, DISABLED_Child) {
    const char *dev = getenv("RIDAR_KILL_DEV");
    const char *file = getenv("RIDAR_KILL_FILE");
    if (!dev || !file) GTEST_SKIP();
    ASSERT_TRUE(StartRidarForTest());
    rt_SetPortTable({dev});
    com = 1;
    ASSERT_GE(OpenComConfig(1, "", 19200, 0, 8, 1, 4096, 4096), 0);
    InstallComCallback(1, eventMask, 36, sync, RX_Receive_Function, nullptr);
    UseFile(file);
    SetCtrlVal(pRecord, RECORD_NUMsample, 1000);
    SetCtrlVal(pRecord, RECORD_NUMinctime, 0);
    rt_UserClick(pRecord, RECORD_CBTNStartRecord);   // until killed
}

}   // namespace
