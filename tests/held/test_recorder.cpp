// Recorder: the file byte for byte, the duration displays, and recordings
// of kvex-sim with each of their endings.
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/support.h"
#include "app/panels.h"
#include "params/vars.h"
#include "recorder/recorder.h"

namespace {

std::string TempDir() {
    static std::string dir;
    if (dir.empty()) {
        char tmpl[] = "/tmp/ridar-rec-XXXXXX";
        dir = mkdtemp(tmpl);
    }
    return dir;
}
std::string TempPath(const std::string &name) { return TempDir() + "/" + name; }

std::string ReadFile(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}
void WriteFile(const std::string &path, const std::string &text) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
}
bool Exists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// Splits after each CR LF; a trailing piece without CR LF is kept as it is.
std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> out;
    size_t p = 0;
    while (p < text.size()) {
        size_t e = text.find("\r\n", p);
        if (e == std::string::npos) { out.push_back(text.substr(p)); break; }
        out.push_back(text.substr(p, e + 2 - p));
        p = e + 2;
    }
    return out;
}

void UseFile(const std::string &path) {
    snprintf(rec_fname, sizeof rec_fname, "%s", path.c_str());
}

void Pump(double seconds) {
    double t0 = Timer();
    while (Timer() - t0 < seconds) ProcessSystemEvents();
}

int Dimmed(int panel, int control) {
    int v = -1;
    GetCtrlAttribute(panel, control, ATTR_DIMMED, &v);
    return v;
}
int IntVal(int panel, int control) {
    int v = -1;
    GetCtrlVal(panel, control, &v);
    return v;
}
int Attr(int panel, int control, int attr) {
    int v = -1;
    GetCtrlAttribute(panel, control, attr, &v);
    return v;
}
std::string Duration() {
    return std::to_string(IntVal(pRecord, RECORD_NUMRecDays)) + "/" +
           std::to_string(IntVal(pRecord, RECORD_NUMRecHours)) + "/" +
           std::to_string(IntVal(pRecord, RECORD_NUMRecMinutes)) + "/" +
           std::to_string(IntVal(pRecord, RECORD_NUMRecSeconds));
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
            if (p.kind == 3) { a.result = fileResult; a.path = filePath; }
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
        EXPECT_TRUE(lines[0] == "Date:\t" + d0 + "\r\n" || lines[0] == "Date:\t" + d1 + "\r\n") << lines[0];
        EXPECT_TRUE(lines[1] == "Time:\t" + t0 + "\r\n" || lines[1] == "Time:\t" + t1 + "\r\n") << lines[1];
        EXPECT_TRUE(std::regex_match(lines[0], std::regex("Date:\t[01][0-9]-[0-3][0-9]-[0-9]{4}\r\n")));
        EXPECT_TRUE(std::regex_match(lines[1], std::regex("Time:\t[0-2][0-9]:[0-5][0-9]:[0-6][0-9]\r\n")));
        EXPECT_EQ(lines[2], std::string("Time-Increment[s]:\t") + c.inc_s + "\r\n");
        EXPECT_EQ(lines[3], std::string("Number of Samples:\t") + c.samples_s + "\r\n");
        EXPECT_EQ(lines[4], std::string("Offset-Value [\xB5m]:\t") + c.offset_s + "\r\n");
        EXPECT_EQ(lines[5], std::string("Slope-Value [\xB5m/pixel]:\t") + c.slope_s + "\r\n");
        EXPECT_EQ(lines[6], "E-LEFT\tE-RIGHT\tM-VALUE\tEDGES\tM-VAL[um]\r\n");
        // the micro sign is one byte, 0xB5
        EXPECT_EQ(lines[4].size(), std::string("Offset-Value [").size() + 4 + 1 + strlen(c.offset_s) + 2);
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
    struct Case { int s; const char *want; } cases[] = {
        {90061, "1/1/1/1"}, {0, "0/0/0/0"}, {59, "0/0/0/59"}, {86399, "0/23/59/59"},
        {86400, "1/0/0/0"}, {6000, "0/1/40/0"}, {29999 * 3599, "1249/14/40/1"},
    };
    for (const auto &c : cases) {
        CalcRecTime(c.s);
        EXPECT_EQ(Duration(), c.want) << c.s;
    }
    // previews while the numbers are edited
    SetCtrlVal(pRecord, RECORD_NUMinctime, 60);
    rt_UserSetVal(pRecord, RECORD_NUMsample, 100);
    EXPECT_EQ(Duration(), "0/1/40/0");
    rt_UserSetVal(pRecord, RECORD_NUMsample, 29999);          // 29999 min
    EXPECT_EQ(Duration(), "20/19/59/0");
    rt_UserSetVal(pRecord, RECORD_NUMsample, 30000);          // at the bound: unchanged
    EXPECT_EQ(Duration(), "20/19/59/0");
    rt_UserSetVal(pRecord, RECORD_NUMinctime, 3599);          // the increment's own bound applies
    EXPECT_EQ(Duration(), "1249/14/40/1");
    rt_UserSetVal(pRecord, RECORD_NUMinctime, 3600);          // at the bound: unchanged
    EXPECT_EQ(Duration(), "1249/14/40/1");
    rt_UserSetVal(pRecord, RECORD_NUMsample, 10);             // 10 x 3600 s
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

TEST_F(RecorderPanel, DefaultFileBesideTheProgramOrInWorkingDirectory) {
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
    snprintf(proj_dir, sizeof proj_dir, "%s", saved);
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

} // namespace
