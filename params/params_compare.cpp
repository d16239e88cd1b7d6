// The Compare window: the 16 parameter words as the panel would send them,
// as the sensor holds them in RAM and in EEPROM, and as a parameter file
// holds them. The sensor is read when the window opens and on Refresh,
// never written: a column goes into the panel, and Send stores it.
#include <cstdio>
#include <cstring>
#include <string>

#include "fileio/fileio.h"
#include "ui/panels.h"
#include "params/vars.h"
#include "proto/proto.h"

int pCompare = -1;

namespace {

enum Column { kColWord, kColLabel, kColName, kColPanel, kColRam, kColEeprom, kColFile, kColumns };
enum Source { kPanel, kRam, kEeprom, kFile, kSources };
const char *const kHeaders[kColumns] = {"Word",       "Parameter",     "Name", "Panel",
                                        "Sensor RAM", "Sensor EEPROM", "File"};
const char *const kSourceNames[kSources] = {"Panel", "Sensor RAM", "Sensor EEPROM", "File"};
const int kCopyButtons[kSources] = {0, COMPARE_BTNCmpRamToPanel, COMPARE_BTNCmpEepromToPanel,
                                    COMPARE_BTNCmpFileToPanel};
const double kLockTick = 0.25;   // seconds between looks at the main panel's lock

struct WordSet {
    int known = 0;
    uint16_t w[PNUM] = {};
    std::string missing;   // what the cells say when it could not be read
};

WordSet sets[kSources];
char cmpFile[sizeof file_name] = "";
int onlyDiff = 0;
int reading = 0;   // a read is on its way: no second one, no copy
int lockTimer = 0;

int Column(int source) { return kColPanel + source; }

void Status(const std::string &text) {
    if (pCompare > 0) SetCtrlVal(pCompare, COMPARE_TEXTCmpStatus, text.c_str());
}

// Run, video, a recording or a refused sensor dim the main panel's transfer
// buttons; the window follows them.
int MainLocked(void) {
    int run = 0, series = 0;
    GetCtrlAttribute(pHandle, PANEL_CTRLRunLockA, ATTR_DIMMED, &run);
    GetCtrlAttribute(pHandle, PANEL_CTRLSeriesLockA, ATTR_DIMMED, &series);
    return run || series;
}

void ShowButtons(void) {
    if (pCompare <= 0) return;
    const int locked = MainLocked() || reading;
    SetCtrlAttribute(pCompare, COMPARE_BTNCmpRefresh, ATTR_DIMMED, locked);
    SetCtrlAttribute(pCompare, COMPARE_BTNCmpFile, ATTR_DIMMED, reading);
    for (int s = kRam; s < kSources; ++s)
        SetCtrlAttribute(pCompare, kCopyButtons[s], ATTR_DIMMED, locked || !sets[s].known);
}

// Two readable columns of a row disagree.
int RowDiffers(int i) {
    int first = -1;
    for (int s = 0; s < kSources; ++s) {
        if (!sets[s].known) continue;
        if (first < 0) first = s;
        else if (sets[s].w[i] != sets[first].w[i]) return 1;
    }
    return 0;
}

// A cell is highlighted when it differs from the panel; the panel's cell
// when it differs from any of the others.
int CellDiffers(int s, int i) {
    if (!sets[s].known || !sets[kPanel].known) return 0;
    if (s != kPanel) return sets[s].w[i] != sets[kPanel].w[i];
    for (int o = kRam; o < kSources; ++o)
        if (sets[o].known && sets[o].w[i] != sets[kPanel].w[i]) return 1;
    return 0;
}

std::string CellText(int s, int i) {
    if (!sets[s].known) return sets[s].missing;
    const uint16_t w = sets[s].w[i];
    std::string t = WordShown(i, w);
    // the calibration words show as on the popup, with the word itself
    if (i == 12 || i == 13) t += "  (" + std::to_string(w) + ")";
    return t;
}

void ShowTable(void) {
    if (pCompare <= 0) return;
    int differing = 0;
    for (int i = 0; i < PNUM; ++i) {
        int panel = 0, control = 0;
        WordControl(i, &panel, &control);
        const std::string label = panel > 0 ? rt_GetCtrlLabel(panel, control) : std::string();
        rt_SetTableCell(pCompare, COMPARE_TABLECmpWords, i, kColWord, std::to_string(i).c_str());
        rt_SetTableCell(pCompare, COMPARE_TABLECmpWords, i, kColLabel, label.c_str());
        rt_SetTableCell(pCompare, COMPARE_TABLECmpWords, i, kColName, ParamWordName(i));
        for (int s = 0; s < kSources; ++s) {
            rt_SetTableCell(pCompare, COMPARE_TABLECmpWords, i, Column(s), CellText(s, i).c_str());
            rt_SetTableCellMark(pCompare, COMPARE_TABLECmpWords, i, Column(s), CellDiffers(s, i));
        }
        const int differs = RowDiffers(i);
        differing += differs;
        rt_SetTableRowHidden(pCompare, COMPARE_TABLECmpWords, i, onlyDiff && !differs);
    }
    char tip[120];
    std::snprintf(tip, sizeof tip, "Show only the words whose columns do not all agree (now %d)",
                  differing);
    rt_SetToolTip(pCompare, COMPARE_CHECKCmpOnlyDiff, tip);
    ShowButtons();
}

void TakePanel(void) {
    PanelWords(sets[kPanel].w);
    sets[kPanel].known = 1;
}

void ReadFileColumn(void) {
    WordSet &f = sets[kFile];
    f.known = 0;
    if (!cmpFile[0]) {
        f.missing = "no file chosen";
        return;
    }
    proto::ParamFileFault fault;
    const int r = ReadParaFile(cmpFile, f.w, &fault);
    switch (r) {
    case 0: f.known = 1; return;
    case -2: f.missing = "not read: fewer than 16 numbers"; return;
    case -3: f.missing = "not read: not a parameter file"; return;
    case -4:
        f.missing = "not read: line " + std::to_string(fault.line) + ": " +
                    proto::ParamFileProblem(proto::ParamFileResult::OutOfRange, fault);
        return;
    default: f.missing = "not read: cannot open the file"; return;
    }
}

// The sensor's set of one memory into its column; the main status line
// tells the exchange as a Get does.
void ReadSensorColumn(int source, int orderCode) {
    WordSet &s = sets[source];
    s.known = AskParamFrame(orderCode);
    ShowStatus();
    if (s.known) std::memcpy(s.w, pp, sizeof s.w);
    else s.missing = std::string("not read: ") + szStatus;
}

int LoadForm(void) {
    if (pCompare > 0) return pCompare;
    const std::string form = fileio::FindDataFile(COMPARE_UI_FILE);
    pCompare = LoadPanel(0, form.c_str(), COMPARE);
    if (pCompare < 0) {
        std::fprintf(stderr, "kvex-ridar: cannot load the compare form %s\n", form.c_str());
        return pCompare;
    }
    rt_SetTableSize(pCompare, COMPARE_TABLECmpWords, PNUM, kColumns);
    for (int c = 0; c < kColumns; ++c)
        rt_SetTableHeader(pCompare, COMPARE_TABLECmpWords, c, kHeaders[c]);
    rt_SetShortcut(pCompare, "F5", [] { rt_UserClick(pCompare, COMPARE_BTNCmpRefresh); });
    rt_SetCloseKey(pCompare);
    for (WordSet &s : sets) s = WordSet{};
    return pCompare;
}

void CopyToPanel(int source) {
    if (reading || MainLocked() || !sets[source].known) return;
    std::memcpy(pp, sets[source].w, sizeof pp);
    CopyPPtoVars();
    SetPanelValues();
    UpdateMarks();
    Status(std::string(kSourceNames[source]) +
           " copied into the panel: Send stores it in the sensor");
}

}   // namespace

void CompareRefresh(void) {
    if (LoadForm() < 0 || reading) return;
    if (MainLocked()) {
        Status("Not available while run, video or a recording is going");
        return;
    }
    reading = 1;
    TakePanel();
    ReadFileColumn();
    sets[kRam].known = sets[kEeprom].known = 0;
    sets[kRam].missing = sets[kEeprom].missing = "reading ...";
    ShowTable();
    Status("Reading the sensor RAM and EEPROM ...");
    ReadSensorColumn(kRam, 2);
    ReadSensorColumn(kEeprom, 4);
    reading = 0;
    TakePanel();   // the operator may have edited the panel during the waits
    ShowTable();
    std::string m;
    for (int s = kRam; s <= kEeprom; ++s)
        if (!sets[s].known)
            m += std::string(m.empty() ? "" : "; ") + kSourceNames[s] + " could not be read";
    if (m.empty()) m = "Sensor RAM and EEPROM read";
    if (!sets[kFile].known && cmpFile[0])
        m += "; the file: " + sets[kFile].missing.substr(sizeof "not read: " - 1);
    Status(m);
}

int CompareShow(void) {
    if (MainLocked()) return -1;
    if (LoadForm() < 0) return -1;
    // the parameter file last used anywhere is proposed
    static char seen[sizeof file_name] = "";
    if (std::strcmp(seen, file_name) != 0) {
        std::memcpy(seen, file_name, sizeof seen);
        std::memcpy(cmpFile, file_name, sizeof cmpFile);
    }
    // none used yet: the file the parameter dialogs propose, when it is there
    char def[sizeof cmpFile + 16] = "";
    long size = 0;
    if (!cmpFile[0] &&
        MakePathname(proj_dir, "KVEXpara.dat", def, static_cast<int>(sizeof def)) == 0 &&
        std::strlen(def) < sizeof cmpFile && GetFileInfo(def, &size) == 1)
        std::memcpy(cmpFile, def, sizeof cmpFile);
    SetCtrlVal(pCompare, COMPARE_STRINGCmpFile, cmpFile);
    DisplayPanel(pCompare);
    SetActivePanel(pCompare);
    CompareRefresh();
    return 0;
}

void CompareFollowPanel(void) {
    if (pCompare <= 0 || reading || !rt_IsShown(pCompare)) return;
    TakePanel();
    ShowTable();
}

void CompareForgetSensor(void) {
    for (int s = kRam; s <= kEeprom; ++s) {
        sets[s].known = 0;
        sets[s].missing = "not read yet: Refresh";
    }
    if (pCompare > 0 && !reading) ShowTable();
}

static void LockTick(void) {
    if (pCompare > 0 && rt_IsShown(pCompare)) ShowButtons();
}

void InitCompare(void) {
    if (pHandle > 0)
        rt_SetShortcut(pHandle, "Ctrl+D", [] { rt_UserClick(pHandle, PANEL_BTNCompare); });
    if (lockTimer <= 0) lockTimer = rt_NewTimer(kLockTick, LockTick);
}

static int CVICALLBACK CC_COMPARE(int panel, int control, int event, void *callbackData,
                                  int eventData1, int eventData2) {
    RIDAR_CALLBACK_ARGS_UNUSED;
    if (event == EVENT_CLOSE) HidePanel(pCompare);
    return 0;
}

RIDAR_CALLBACK(CC_BTNCompare) {
    RIDAR_CALLBACK_ARGS_UNUSED;
    if (event == EVENT_COMMIT) CompareShow();
    return 0;
}

static RIDAR_CALLBACK(CC_BTNCmpRefresh) {
    RIDAR_CALLBACK_ARGS_UNUSED;
    if (event == EVENT_COMMIT) CompareRefresh();
    return 0;
}

static RIDAR_CALLBACK(CC_CHECKCmpOnlyDiff) {
    RIDAR_CALLBACK_ARGS_UNUSED;
    if (event != EVENT_COMMIT) return 0;
    GetCtrlVal(pCompare, COMPARE_CHECKCmpOnlyDiff, &onlyDiff);
    ShowTable();
    return 0;
}

static RIDAR_CALLBACK(CC_BTNCmpFile) {
    RIDAR_CALLBACK_ARGS_UNUSED;
    if (event != EVENT_COMMIT || reading) return 0;
    char path[sizeof cmpFile] = "";
    const char *name = cmpFile[0] ? cmpFile : "KVEXpara.dat";
    if (FileSelectPopup(proj_dir, name, "*.dat", "K-VEX-XC-Parameter-File", "Load", 0, 0, 1, 0,
                        path, static_cast<int>(sizeof path)) != VAL_EXISTING_FILE_SELECTED)
        return 0;
    std::memcpy(cmpFile, path, sizeof cmpFile);
    cmpFile[sizeof cmpFile - 1] = '\0';
    SetCtrlVal(pCompare, COMPARE_STRINGCmpFile, cmpFile);
    ReadFileColumn();
    TakePanel();
    ShowTable();
    Status(sets[kFile].known
               ? std::string("File read: ") + cmpFile
               : std::string(cmpFile) + ": " + sets[kFile].missing.substr(sizeof "not read: " - 1));
    return 0;
}

// The three copy buttons: the column is the button's.
static RIDAR_CALLBACK(CC_BTNCmpColumnToPanel) {
    RIDAR_CALLBACK_ARGS_UNUSED;
    if (event != EVENT_COMMIT) return 0;
    for (int s = kRam; s < kSources; ++s)
        if (kCopyButtons[s] == control) CopyToPanel(s);
    return 0;
}

static RIDAR_CALLBACK(CC_BTNCmpClose) {
    RIDAR_CALLBACK_ARGS_UNUSED;
    if (event == EVENT_COMMIT) HidePanel(pCompare);
    return 0;
}

void RegisterCompareCallbacks(void) {
    static const RtCallbackEntry callbacks[] = {
        {"CC_COMPARE", CC_COMPARE},
        {"CC_BTNCompare", CC_BTNCompare},
        {"CC_BTNCmpRefresh", CC_BTNCmpRefresh},
        {"CC_CHECKCmpOnlyDiff", CC_CHECKCmpOnlyDiff},
        {"CC_BTNCmpFile", CC_BTNCmpFile},
        {"CC_BTNCmpRamToPanel", CC_BTNCmpColumnToPanel},
        {"CC_BTNCmpEepromToPanel", CC_BTNCmpColumnToPanel},
        {"CC_BTNCmpFileToPanel", CC_BTNCmpColumnToPanel},
        {"CC_BTNCmpClose", CC_BTNCmpClose},
    };
    RegisterCallbacks(callbacks, static_cast<int>(sizeof callbacks / sizeof callbacks[0]));
}
