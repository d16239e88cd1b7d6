// The Compare window driven through the widgets against the simulator:
// what each column shows, what goes on the wire and when, and when the
// window may not be used.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "ui/panels.h"
#include "fileio/fileio.h"
#include "link/frame.h"
#include "params/vars.h"
#include "recorder/recorder.h"
#include "tests/support/support.h"

namespace {

enum { kColWord, kColLabel, kColName, kColPanel, kColRam, kColEeprom, kColFile };
const int kTable = COMPARE_TABLECmpWords;

// The simulator's factory set with firmware 2.52, written out by hand.
const int kFactory[16] = {500, 0, 512, 0, 0, 1, 1, 2048, 512, 100, 0, 1, 12800, 30000, 0, 0};

std::string Cell(int row, int col) { return rt_GetTableCell(pCompare, kTable, row, col); }

// "row:column" of every highlighted cell.
std::set<std::string> MarkedCells() {
    std::set<std::string> out;
    for (int r = 0; r < 16; ++r)
        for (int c = kColPanel; c <= kColFile; ++c)
            if (rt_GetTableCellMark(pCompare, kTable, r, c) == 1)
                out.insert(std::to_string(r) + ":" + std::to_string(c));
    return out;
}

std::vector<int> ShownRows() {
    std::vector<int> out;
    for (int r = 0; r < 16; ++r)
        if (rt_GetTableRowHidden(pCompare, kTable, r) == 0) out.push_back(r);
    return out;
}

std::string DialogStatus() { return rt_GetCtrlText(pCompare, COMPARE_TEXTCmpStatus); }

// A request frame as bytes, high byte first: 00 55, the order, 16 words.
std::string Request(int orderCode, const int (&w)[16]) {
    std::string f = {0x00, 0x55, 0x00, static_cast<char>(orderCode)};
    for (int v : w) {
        f += static_cast<char>((v >> 8) & 0xFF);
        f += static_cast<char>(v & 0xFF);
    }
    return f;
}

// The count of one order in such a line; -1 when it is not there.
int Count(const std::string &stats, int orderCode) {
    const std::string key = " " + std::to_string(orderCode) + "=";
    const size_t at = stats.find(key);
    return at == std::string::npos ? -1 : std::atoi(stats.c_str() + at + key.size());
}

std::string WriteParamFile(const std::string &name, const int (&w)[16]) {
    const std::string path = testfs::TempDir("ridar-compare") + "/" + name;
    std::string text;
    char line[16];
    for (int v : w) {
        std::snprintf(line, sizeof line, "%5d\n", v);
        text += line;
    }
    testfs::WriteFile(path, text);
    return path;
}

class Compare : public ::testing::Test {
protected:
    SimProcess sim;
    std::string wire;   // every byte the program wrote
    void SetUp() override {
        ASSERT_EQ(StartConnected(sim, {"--fast", "--softversion", "252"}), "");
        ASSERT_EQ(StatusLine().rfind("K-VEX-XC-SIM Firmware V2.52", 0), 0u) << StatusLine();
        file_name[0] = '\0';
        std::snprintf(savedProjDir, sizeof savedProjDir, "%s", proj_dir);
        std::snprintf(proj_dir, sizeof proj_dir, "%s",
                      testfs::TempDir("ridar-compare-proj").c_str());
        rt_SetWriteHook(
            [this](int, const char *b, int n) { wire.append(b, static_cast<size_t>(n)); });
        rt_After(30.0, [] { stop_flag = 1; });
    }
    void TearDown() override {
        rt_SetWriteHook(nullptr);
        rt_SetPopupHook([](const RtPopup &) { return RtPopupAnswer{}; });
        if (pCompare > 0) {
            int only = 0;
            GetCtrlVal(pCompare, COMPARE_CHECKCmpOnlyDiff, &only);
            if (only) drive::Click(pCompare, "CHECKCmpOnlyDiff");
            HidePanel(pCompare);
        }
        CloseCom(com);
        sim.Stop();
        std::snprintf(proj_dir, sizeof proj_dir, "%s", savedProjDir);
    }
    char savedProjDir[sizeof proj_dir] = "";
    void AnswerFileDialog(const std::string &path) {
        rt_SetPopupHook([path](const RtPopup &p) {
            RtPopupAnswer a;
            if (p.kind == 3) {
                a.result = VAL_EXISTING_FILE_SELECTED;
                a.path = path;
            }
            return a;
        });
    }
    // Opens the window with the main panel's shortcut, from the keyboard.
    void OpenWithCtrlD() {
        ASSERT_TRUE(drive::Activate(pHandle));
        ASSERT_TRUE(drive::PanelKey(pHandle, "Ctrl+D"));
        ASSERT_GT(pCompare, 0);
        ASSERT_EQ(rt_IsShown(pCompare), 1);
    }
};

}   // namespace

// Names and labels come from the protocol's table and the panel's labels.
// No file used yet: the default parameter file beside the program is
// proposed (first in this file: later tests choose files of their own).
TEST_F(Compare, RowsNameEveryWordAsThePanelLabelsIt) {
    const std::string def = std::string(proj_dir) + "/KVEXpara.dat";
    testfs::WriteFile(
        def, std::string("  500\n    0\n  512\n    0\n    0\n    1\n    1\n 2048\n  512\n  100\n") +
                 "    0\n    1\n12800\n30000\n    0\n    0\n");
    OpenWithCtrlD();
    EXPECT_EQ(drive::Shown(pCompare, "STRINGCmpFile"), def);
    EXPECT_EQ(Cell(7, kColFile), "2048");
    // clang-format off
    const struct { const char *label, *name; } want[16] = {
        {"Light power", "power"},           {"RS-232 mode", "rs232Mode"},
        {"Video threshold", "vThd"},        {"Analog output", "anaMode"},
        {"Polarity (0/1)", "polarity"},     {"Evaluation mode", "eMode"},
        {"Window left [pixel]", "eBeg"},    {"Window right [pixel]", "eEnd"},
        {"Set-point [pixel]", "tVal"},      {"Tolerance [pixel]", "tTol"},
        {"Gain / mode", "opMode"},          {"Hardware variant", "eHardware"},
        {"Slope [\xC2\xB5m/pixel]", "slope"}, {"Offset [\xC2\xB5m]", "intersect"},
        {"Averaging", "average"},           {"Trigger / delta tol.", "trigMode"},
    };
    // clang-format on
    for (int i = 0; i < 16; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Cell(i, kColWord), std::to_string(i));
        EXPECT_EQ(Cell(i, kColLabel), want[i].label);
        EXPECT_EQ(Cell(i, kColName), want[i].name);
    }
    // the sensor's own set, as the panel shows it: nothing differs
    EXPECT_EQ(Cell(0, kColRam), "500");
    EXPECT_EQ(Cell(12, kColEeprom), "12.5  (12800)");
    EXPECT_EQ(Cell(13, kColPanel), "0  (30000)");
    EXPECT_TRUE(MarkedCells().empty());
    EXPECT_EQ(DialogStatus(), "Sensor RAM and EEPROM read");
    EXPECT_EQ(StatusLine(), "Parameter-frame received! - Line Ok!");
}

// RAM, EEPROM and file each differ in other words: exactly those are
// highlighted and left by the filter.
TEST_F(Compare, ShowsExactlyTheWordsThatDiffer) {
    ASSERT_TRUE(SimDo(sim, "ram 0 650"));
    ASSERT_TRUE(SimDo(sim, "eeprom-word 14 8"));
    ASSERT_TRUE(SimDo(sim, "eeprom-word 2 300"));
    int file[16];
    std::copy(kFactory, kFactory + 16, file);
    file[8] = 700;
    file[12] = 13312;   // 13.0 um a pixel
    const std::string path = WriteParamFile("differs.dat", file);
    OpenWithCtrlD();
    AnswerFileDialog(path);
    ASSERT_TRUE(drive::Click(pCompare, "BTNCmpFile"));
    EXPECT_EQ(drive::Shown(pCompare, "STRINGCmpFile"), path);

    EXPECT_EQ(Cell(0, kColPanel), "500");
    EXPECT_EQ(Cell(0, kColRam), "650");
    EXPECT_EQ(Cell(2, kColEeprom), "300");
    EXPECT_EQ(Cell(14, kColEeprom), "8");
    EXPECT_EQ(Cell(8, kColFile), "700");
    EXPECT_EQ(Cell(12, kColFile), "13  (13312)");
    const std::set<std::string> want = {"0:3", "0:4",  "2:3",  "2:5",  "8:3",
                                        "8:6", "12:3", "12:6", "14:3", "14:5"};
    EXPECT_EQ(MarkedCells(), want);
    EXPECT_EQ(ShownRows().size(), 16u);
    ASSERT_TRUE(drive::Click(pCompare, "CHECKCmpOnlyDiff"));
    EXPECT_EQ(ShownRows(), (std::vector<int>{0, 2, 8, 12, 14}));
    ASSERT_TRUE(drive::Click(pCompare, "CHECKCmpOnlyDiff"));
    EXPECT_EQ(ShownRows().size(), 16u);

    // the RAM read is an exchange with RAM: the panel's power is marked
    EXPECT_EQ(rt_GetCtrlMark(pHandle, PANEL_NUMPower), 1);
    EXPECT_EQ(rt_GetCtrlMark(pHandle, PANEL_NUMVideoThreshold), 0);

    // an edit on the panel shows in its column at once
    ASSERT_TRUE(drive::Activate(pHandle));
    ASSERT_TRUE(drive::Type(pHandle, "NUMPower", "650"));
    ASSERT_TRUE(drive::Key(pHandle, "NUMPower", "Tab"));
    Pump(0.05);
    EXPECT_EQ(Cell(0, kColPanel), "650");
    EXPECT_EQ(MarkedCells().count("0:4"), 0u);
    EXPECT_EQ(MarkedCells().count("0:3"), 1u);   // the file and EEPROM have 500
    EXPECT_EQ(MarkedCells().count("0:5"), 1u);

    // closed and opened again: the file is proposed again
    ASSERT_TRUE(drive::Click(pCompare, "BTNCmpClose"));
    EXPECT_EQ(rt_IsShown(pCompare), 0);
    OpenWithCtrlD();
    EXPECT_EQ(drive::Shown(pCompare, "STRINGCmpFile"), path);
    EXPECT_EQ(Cell(8, kColFile), "700");
}

// Files that are no parameter files say so in their column.
TEST_F(Compare, AFileThatCannotBeReadSaysSo) {
    const std::string dir = testfs::TempDir("ridar-compare");
    testfs::WriteFile(dir + "/short.dat", "1\n2\n3\n");
    testfs::WriteFile(dir + "/text.dat", std::string(16 * 6, 'x'));
    testfs::WriteFile(dir + "/range.dat", ParamFileWith(2, "70000"));
    const struct {
        std::string path, cell;
    } cases[] = {
        {dir + "/short.dat", "not read: fewer than 16 numbers"},
        {dir + "/text.dat", "not read: not a parameter file"},
        {dir + "/range.dat", "not read: line 3: 70000 is not a parameter word (0..65535)"},
        {dir + "/missing.dat", "not read: cannot open the file"},
    };
    OpenWithCtrlD();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        AnswerFileDialog(c.path);
        ASSERT_TRUE(drive::Click(pCompare, "BTNCmpFile"));
        for (int r = 0; r < 16; ++r) EXPECT_EQ(Cell(r, kColFile), c.cell);
        EXPECT_EQ(Dimmed(pCompare, COMPARE_BTNCmpFileToPanel), 1);
        EXPECT_EQ(DialogStatus().rfind(c.path + ": ", 0), 0u) << DialogStatus();
    }
}

// The sensor is read when the window opens and on Refresh, nothing else:
// two requests each time (order 2, then 4), and none for the filter, the
// file, a copy or the time the window stays open.
TEST_F(Compare, TheWireCarriesOnlyTheReadsAskedFor) {
    const std::string before = SimStatsRequests(sim);
    wire.clear();
    OpenWithCtrlD();
    const std::string reads = Request(2, kFactory) + Request(4, kFactory);
    EXPECT_EQ(Hex(wire), Hex(reads));
    wire.clear();
    const std::string path = WriteParamFile("same.dat", kFactory);
    AnswerFileDialog(path);
    ASSERT_TRUE(drive::Click(pCompare, "BTNCmpFile"));
    ASSERT_TRUE(drive::Click(pCompare, "CHECKCmpOnlyDiff"));
    ASSERT_TRUE(drive::Click(pCompare, "CHECKCmpOnlyDiff"));
    ASSERT_TRUE(drive::Click(pCompare, "BTNCmpRamToPanel"));
    Idle(1.0);
    EXPECT_EQ(Hex(wire), "");
    ASSERT_TRUE(drive::Click(pCompare, "BTNCmpRefresh"));
    EXPECT_EQ(Hex(wire), Hex(reads));
    wire.clear();
    ASSERT_TRUE(drive::Key(pCompare, "TABLECmpWords", "F5"));   // Refresh from the keyboard
    EXPECT_EQ(Hex(wire), Hex(reads));
    // the simulator's own count: three reads of each, nothing stored
    const std::string after = SimStatsRequests(sim);
    ASSERT_FALSE(before.empty());
    EXPECT_EQ(Count(after, 2) - Count(before, 2), 3) << before << "\n" << after;
    EXPECT_EQ(Count(after, 4) - Count(before, 4), 3) << after;
    EXPECT_EQ(Count(after, 1), 0) << after;
    EXPECT_EQ(Count(after, 3), 0) << after;
}

// The EEPROM column into the panel, then Send: exactly those words go out
// with order 1, and the sensor's RAM then holds them.
TEST_F(Compare, EepromIntoThePanelAndSentPutsExactlyItsWordsOnTheWire) {
    ASSERT_TRUE(SimDo(sim, "eeprom-word 0 650"));
    ASSERT_TRUE(SimDo(sim, "eeprom-word 2 300"));
    ASSERT_TRUE(SimDo(sim, "eeprom-word 14 8"));
    ASSERT_TRUE(SimDo(sim, "eeprom-word 15 2"));
    OpenWithCtrlD();
    AnswerFileDialog(WriteParamFile("factory.dat", kFactory));
    ASSERT_TRUE(drive::Click(pCompare, "BTNCmpFile"));
    EXPECT_EQ(MarkedCells(),
              (std::set<std::string>{"0:3", "0:5", "2:3", "2:5", "14:3", "14:5", "15:3", "15:5"}));
    wire.clear();
    ASSERT_TRUE(drive::Click(pCompare, "BTNCmpEepromToPanel"));
    EXPECT_EQ(Hex(wire), "");
    EXPECT_EQ(drive::Shown(pHandle, "NUMPower"), "650");
    EXPECT_EQ(drive::Shown(pHandle, "NUMVideoThreshold"), "300");
    EXPECT_EQ(drive::Shown(pHandle, "NUMAverage"), "8");
    EXPECT_EQ(drive::Shown(pHandle, "RINGTrigMode"), "Trigger IN0 falling");
    for (int c : {PANEL_NUMPower, PANEL_NUMVideoThreshold, PANEL_NUMAverage, PANEL_RINGTrigMode})
        EXPECT_EQ(rt_GetCtrlMark(pHandle, c), 1) << c;
    EXPECT_EQ(rt_GetCtrlMark(pHandle, PANEL_NUMSetpoint), 0);
    // the panel column follows; it now differs from RAM and the file
    EXPECT_EQ(MarkedCells(),
              (std::set<std::string>{"0:3", "0:4", "0:6", "2:3", "2:4", "2:6", "14:3", "14:4",
                                     "14:6", "15:3", "15:4", "15:6"}));
    EXPECT_EQ(DialogStatus(), "Sensor EEPROM copied into the panel: Send stores it in the sensor");

    ASSERT_TRUE(drive::Activate(pHandle));
    ASSERT_TRUE(drive::Click(pHandle, "BTNSend"));
    Pump(0.1);
    const int sent[16] = {650, 0, 300, 0, 0, 1, 1, 2048, 512, 100, 0, 1, 12800, 30000, 8, 2};
    EXPECT_EQ(Hex(wire), Hex(Request(1, sent)));
    EXPECT_EQ(StatusLine(), "Line Ok!");
    for (int c : {PANEL_NUMPower, PANEL_NUMVideoThreshold, PANEL_NUMAverage, PANEL_RINGTrigMode})
        EXPECT_EQ(rt_GetCtrlMark(pHandle, c), 0) << c;
    // read back: RAM and EEPROM agree with the panel now, the file does not
    ASSERT_TRUE(drive::Click(pCompare, "BTNCmpRefresh"));
    EXPECT_EQ(MarkedCells(),
              (std::set<std::string>{"0:3", "0:6", "2:3", "2:6", "14:3", "14:6", "15:3", "15:6"}));
    EXPECT_EQ(Cell(14, kColRam), "8");
}

// A silent sensor: both columns say they could not be read, each read
// waits its own time-out and no longer, the panel keeps what it had.
TEST_F(Compare, ASilentSensorLeavesBothColumnsUnreadWithinTheTimeouts) {
    ASSERT_TRUE(drive::Type(pHandle, "NUMPower", "640"));
    ASSERT_TRUE(drive::Key(pHandle, "NUMPower", "Tab"));
    ASSERT_TRUE(SimDo(sim, "silent on"));
    const long timeoutsBefore = linkTimeouts;
    const double cpu0 = CpuSeconds();
    const auto t0 = Clock::now();
    OpenWithCtrlD();
    const double took = Since(t0);
    EXPECT_GE(took, 2 * TIMEOUT);
    EXPECT_LT(took, 2 * TIMEOUT + 3.0);   // loose: the window's first load under the sanitizers
    EXPECT_LT(CpuSeconds() - cpu0, 0.5 * took);   // the waits do not spin
    EXPECT_EQ(linkTimeouts - timeoutsBefore, 2);
    for (int r = 0; r < 16; ++r) {
        EXPECT_EQ(Cell(r, kColRam), "not read: Timeout-RS-232...");
        EXPECT_EQ(Cell(r, kColEeprom), "not read: Timeout-RS-232...");
    }
    EXPECT_EQ(StatusLine(), "Timeout-RS-232...");
    EXPECT_EQ(DialogStatus(), "Sensor RAM could not be read; Sensor EEPROM could not be read");
    EXPECT_EQ(Dimmed(pCompare, COMPARE_BTNCmpRamToPanel), 1);
    EXPECT_EQ(Dimmed(pCompare, COMPARE_BTNCmpEepromToPanel), 1);
    EXPECT_EQ(Dimmed(pCompare, COMPARE_BTNCmpRefresh), 0);
    AnswerFileDialog(WriteParamFile("factory.dat", kFactory));
    ASSERT_TRUE(drive::Click(pCompare, "BTNCmpFile"));
    EXPECT_EQ(MarkedCells(),
              (std::set<std::string>{"0:3", "0:6"}));   // the panel against the file alone
    EXPECT_EQ(drive::Shown(pHandle, "NUMPower"), "640");
    EXPECT_EQ(rt_GetCtrlMark(pHandle, PANEL_NUMPower), 1);
    // the sensor speaks again: Refresh fills the columns
    ASSERT_TRUE(SimDo(sim, "silent off"));
    ASSERT_TRUE(drive::Click(pCompare, "BTNCmpRefresh"));
    EXPECT_EQ(Cell(0, kColRam), "500");
    EXPECT_EQ(MarkedCells(), (std::set<std::string>{"0:3", "0:4", "0:5", "0:6"}));
}

// Run, video and a recording dim the button and the window's reads and
// copies, as they dim Send and Get; Ctrl+D does nothing meanwhile.
TEST_F(Compare, NotAvailableWhileRunVideoOrRecording) {
    OpenWithCtrlD();
    ASSERT_TRUE(drive::Click(pCompare, "BTNCmpClose"));
    const std::string recFile = testfs::TempDir("ridar-compare") + "/record.dat";
    struct Case {
        const char *what;
        std::function<void()> start;
    } cases[] = {
        {"run", [] { drive::PanelKey(pHandle, "F5"); }},
        {"video", [] { drive::PanelKey(pHandle, "F6"); }},
        {"recording",
         [&] {
             std::remove(recFile.c_str());
             std::snprintf(rec_fname, sizeof rec_fname, "%s", recFile.c_str());
             SetCtrlVal(pRecord, RECORD_NUMsample, 100);
             SetCtrlVal(pRecord, RECORD_NUMinctime, 1);
             DisplayPanel(pRecord);
             drive::Click(pRecord, "CBTNStartRecord");
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        // the window stays open during the first loop, closed during the others
        const bool open = std::string(c.what) == "run";
        if (open) OpenWithCtrlD();
        ASSERT_TRUE(drive::Activate(pHandle));
        wire.clear();
        struct Seen {
            int button = -1, shortcutOpened = -1, refresh = -1, copy = -1, wrote = -1;
        } seen;
        rt_After(0.8, [&] {
            seen.button = Dimmed(pHandle, PANEL_CTRLRunLockA);
            const bool wasShown = pCompare > 0 && rt_IsShown(pCompare);
            drive::PanelKey(pHandle, "Ctrl+D");
            seen.shortcutOpened = !wasShown && pCompare > 0 && rt_IsShown(pCompare);
            if (open) {
                seen.refresh = drive::Click(pCompare, "BTNCmpRefresh") ? 1 : 0;
                seen.copy = drive::Click(pCompare, "BTNCmpRamToPanel") ? 1 : 0;
                const size_t n = wire.size();
                rt_UserClick(pCompare, COMPARE_BTNCmpRefresh);   // even if it got through
                seen.wrote = wire.size() > n &&
                             wire.find(std::string("\x00\x55\x00\x02", 4), n) != std::string::npos;
            }
            stop_flag = 1;
        });
        c.start();
        Pump(0.3);
        EXPECT_EQ(seen.button, 1);
        EXPECT_EQ(seen.shortcutOpened, 0);
        if (open) {
            EXPECT_EQ(seen.refresh, 0);
            EXPECT_EQ(seen.copy, 0);
            EXPECT_EQ(seen.wrote, 0);
        }
        // the loop over, all is free again
        EXPECT_EQ(Dimmed(pHandle, PANEL_CTRLRunLockA), 0);
        if (open) {
            Pump(0.4);   // the window looks at the lock a few times a second
            EXPECT_EQ(Dimmed(pCompare, COMPARE_BTNCmpRefresh), 0);
            EXPECT_EQ(Dimmed(pCompare, COMPARE_BTNCmpRamToPanel), 0);
            ASSERT_TRUE(drive::Click(pCompare, "BTNCmpClose"));
        }
        HidePanel(pRecord);
    }
    OpenWithCtrlD();
    EXPECT_EQ(Cell(0, kColRam), "500");
}

// Firmware below 2.40: word 15 is deltaTol, shown by its own field. What
// was read from the sensor before a new connection is not shown as the new
// sensor's.
TEST_F(Compare, WordFifteenIsNamedByTheFirmware) {
    OpenWithCtrlD();
    EXPECT_EQ(Cell(15, kColName), "trigMode");
    SimProcess older;   // a sensor of firmware 2.39
    ASSERT_TRUE(older.Start({"--fast", "--softversion", "239"}));
    Connect(older.Device());
    for (int r = 0; r < 16; ++r) {
        EXPECT_EQ(Cell(r, kColRam), "not read yet: Refresh");
        EXPECT_EQ(Cell(r, kColEeprom), "not read yet: Refresh");
    }
    EXPECT_EQ(Dimmed(pCompare, COMPARE_BTNCmpEepromToPanel), 1);
    ASSERT_TRUE(drive::Click(pCompare, "BTNCmpClose"));
    ASSERT_EQ(softversion, 239);
    ASSERT_TRUE(SimDo(older, "eeprom-word 15 33"));
    OpenWithCtrlD();
    EXPECT_EQ(Cell(15, kColName), "deltaTol");
    EXPECT_EQ(Cell(15, kColLabel), "Trigger / delta tol.");
    EXPECT_EQ(Cell(15, kColEeprom), "33");
    EXPECT_EQ(MarkedCells().count("15:5"), 1u);
    CloseCom(com);
}

// An edit still in progress when Ctrl+D is pressed is part of the panel's
// column, as it would be part of a Send.
TEST_F(Compare, AnEditInProgressIsThePanels) {
    ASSERT_TRUE(drive::Type(pHandle, "NUMSetpoint", "777"));
    ASSERT_TRUE(drive::PanelKey(pHandle, "Ctrl+D"));
    ASSERT_EQ(rt_IsShown(pCompare), 1);
    EXPECT_EQ(Cell(8, kColPanel), "777");
    EXPECT_EQ(Cell(8, kColRam), "512");
    EXPECT_EQ(MarkedCells().count("8:3"), 1u);
    EXPECT_EQ(MarkedCells().count("8:4"), 1u);
    EXPECT_EQ(rt_GetCtrlMark(pHandle, PANEL_NUMSetpoint), 1);
}

// The table and label functions of the run-time layer refuse what is not
// there, and never touch a cell outside the table.
TEST(CompareTable, BadAddressesAreRefused) {
    ASSERT_TRUE(StartRidarForTest());
    const int p = LoadPanel(0, fileio::FindDataFile(COMPARE_UI_FILE).c_str(), COMPARE);
    ASSERT_GT(p, 0);
    const int t = COMPARE_TABLECmpWords;
    ASSERT_EQ(rt_SetTableSize(p, t, 3, 2), 0);
    const struct {
        const char *what;
        int rc, want;
    } cases[] = {
        {"no panel", rt_SetTableCell(9999, t, 0, 0, "x"), RT_UIE_BAD_PANEL},
        {"no control", rt_SetTableCell(p, 999, 0, 0, "x"), RT_UIE_BAD_CTRL},
        {"not a table", rt_SetTableCell(p, COMPARE_BTNCmpRefresh, 0, 0, "x"), RT_UIE_BAD_TYPE},
        {"row -1", rt_SetTableCell(p, t, -1, 0, "x"), RT_UIE_BAD_VALUE},
        {"row past the end", rt_SetTableCell(p, t, 3, 0, "x"), RT_UIE_BAD_VALUE},
        {"column past the end", rt_SetTableCellMark(p, t, 0, 2, 1), RT_UIE_BAD_VALUE},
        {"header past the end", rt_SetTableHeader(p, t, 2, "x"), RT_UIE_BAD_VALUE},
        {"hidden row past the end", rt_SetTableRowHidden(p, t, 3, 1), RT_UIE_BAD_VALUE},
        {"negative size", rt_SetTableSize(p, t, -1, 2), RT_UIE_BAD_VALUE},
        {"mark of no cell", rt_GetTableCellMark(p, t, 5, 0), RT_UIE_BAD_VALUE},
        {"hidden of no row", rt_GetTableRowHidden(p, t, -2), RT_UIE_BAD_VALUE},
        {"a null text", rt_SetTableCell(p, t, 2, 1, nullptr), 0},
    };
    for (const auto &c : cases) EXPECT_EQ(c.rc, c.want) << c.what;
    EXPECT_EQ(rt_GetTableCell(p, t, 2, 1), "");
    EXPECT_EQ(rt_GetTableCell(p, t, 7, 7), "");
    ASSERT_EQ(rt_SetTableCell(p, t, 1, 1, "\xC2\xB5m"), 0);
    EXPECT_EQ(rt_GetTableCell(p, t, 1, 1), "\xC2\xB5m");
    ASSERT_EQ(rt_SetTableCellMark(p, t, 1, 1, 1), 0);
    EXPECT_EQ(rt_GetTableCellMark(p, t, 1, 1), 1);
    ASSERT_EQ(rt_SetTableCellMark(p, t, 1, 1, 0), 0);
    EXPECT_EQ(rt_GetTableCellMark(p, t, 1, 1), 0);
    // labels: a grid row's label, a group box's title, the label before it, none
    EXPECT_EQ(rt_GetCtrlLabel(pHandle, PANEL_NEDITEdgeLeft), "Window left [pixel]");
    EXPECT_EQ(rt_GetCtrlLabel(pHandle, PANEL_RINGanaMode), "Analog output");
    EXPECT_EQ(rt_GetCtrlLabel(pHandle, PANEL_NUMDeltaTol), "Trigger / delta tol.");
    EXPECT_EQ(rt_GetCtrlLabel(pPopup, POPUP_NUMCalOffset), "Offset [\xC2\xB5m]");
    EXPECT_EQ(rt_GetCtrlLabel(p, COMPARE_STRINGCmpFile), "File");
    EXPECT_EQ(rt_GetCtrlLabel(9999, 1), "");
    DiscardPanel(p);
}
