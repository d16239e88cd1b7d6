// The run-time layer: user interface, serial line, files, time and the event
// loop, offered under the names and numeric codes the program was written
// against. Only rt/*.cpp include Qt; everything else sees this header.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#define CVICALLBACK

// ---- events -------------------------------------------------------------
enum {
    EVENT_COMMIT = 1,
    EVENT_VAL_CHANGED = 2,
    EVENT_LEFT_CLICK = 3,
    EVENT_CLOSE = 11,
};

// ---- control attributes ---------------------------------------------------
enum {
    ATTR_DIMMED = 500,
    ATTR_VISIBLE = 530,
    ATTR_TEXT_COLOR = 680,
    ATTR_TEXT_BOLD = 687,
    ATTR_TEXT_BGCOLOR = 690,
    ATTR_TEXT_POINT_SIZE = 800,   // int
    ATTR_TEXT_FONT = 801,         // string
    ATTR_LEFT = 802,              // int, panel pixels
    ATTR_TOP = 803,               // int, panel pixels
    ATTR_FRAME_COLOR = 804,       // decoration colour
    ATTR_ON_TEXT = 940,           // string
    ATTR_OFF_TEXT = 941,          // string
    ATTR_NUM_TRACES = 1100,       // strip chart
    ATTR_POINTS_PER_SCREEN = 1171,
    ATTR_SCROLL_MODE = 1088,
    ATTR_TRACE_COLOR = 1200,        // SetTraceAttribute
    ATTR_TRACE_LINE_STYLE = 1201,   // SetTraceAttribute: VAL_SOLID, VAL_DASH, VAL_DOT
};

// ---- colours --------------------------------------------------------------
enum : int {
    VAL_RED = 0xFF0000,
    VAL_GREEN = 0x00FF00,
    VAL_DK_GREEN = 0x008000,
    VAL_BLACK = 0x000000,
    VAL_WHITE = 0xFFFFFF,
    VAL_GRAY = 0x808080,
    VAL_LT_GRAY = 0xE0E0E0,
    VAL_BLUE = 0x0080FF,
};

// ---- graphs ---------------------------------------------------------------
enum { VAL_XAXIS = 0, VAL_LEFT_YAXIS = 1 };
enum { VAL_MANUAL = 0, VAL_AUTOSCALE = 1 };
enum { VAL_DELETE_ALL = -1 };   // plot handle for DeleteGraphPlot
enum { VAL_IMMEDIATE_DRAW = 1, VAL_DELAYED_DRAW = 0 };
// data types of PlotXY and PlotStripChart
enum { VAL_DOUBLE = 4, VAL_UNSIGNED_SHORT_INTEGER = 6, VAL_INTEGER = 2 };
// plot style 5 (connected points), point style 10, line style 0 as the program passes them
enum { VAL_CONNECTED_POINTS = 5, VAL_SIMPLE_DOT = 10, VAL_SOLID = 0 };
enum { VAL_DASH = 1, VAL_DOT = 2 };

// ---- new controls ---------------------------------------------------------
enum { CTRL_TEXT_MSG = 1 };

// ---- user-interface error codes (negative results of the calls above) ------
enum {
    RT_UIE_FILE = -20,        // resource or image file missing or unreadable
    RT_UIE_NO_PANEL = -21,    // the resource file has no such panel
    RT_UIE_BAD_PANEL = -22,   // not a panel handle
    RT_UIE_BAD_CTRL = -23,    // no such control on the panel
    RT_UIE_BAD_ATTR = -24,    // attribute unknown or not for this control
    RT_UIE_BAD_VALUE = -25,   // value, index, pointer or size out of range
    RT_UIE_BAD_TYPE = -26,    // operation does not fit the control's kind
};

// ---- serial library error codes --------------------------------------------
enum {
    RT_ERR_UNKNOWN_SYSTEM = -1,
    RT_ERR_INVALID_PORT = -2,
    RT_ERR_PORT_NOT_OPEN = -3,
    RT_ERR_IO = -4,
    RT_ERR_NO_PORT = -6,
    RT_ERR_CANNOT_OPEN = -7,
    RT_ERR_INVALID_PARAM = -13,
    RT_ERR_TIMEOUT = -99,
};
enum { LWRS_RXFLAG = 0x0002, LWRS_TXEMPTY = 0x0004, LWRS_RECEIVE = 0x8000 };

// ---- file dialog results --------------------------------------------------
enum { VAL_NO_FILE_SELECTED = 0, VAL_EXISTING_FILE_SELECTED = 1, VAL_NEW_FILE_SELECTED = 2 };

typedef int (*CtrlCallbackPtr)(int panel, int control, int event, void *callbackData,
                               int eventData1, int eventData2);
typedef void (*ComCallbackPtr)(int portNumber, int eventMask, void *callbackData);

struct RtCallbackEntry {
    const char *name;   // "CC_BTNRun", "CC_PANEL", ...
    CtrlCallbackPtr fn;
};

// ---- start and event loop -------------------------------------------------
int InitCVIRTE(int argc, char **argv);   // 1 on success, 0 on failure
int rt_HaveDisplay(void);                // 0 when the platform would find no display
// For work without a screen (a report): keeps the platform layer's notices
// about the missing screen off the terminal; every other message still shows.
void rt_QuietPlatformNotices(void);
void RegisterCallbacks(const RtCallbackEntry *table, int count);   // before LoadPanel
int RunUserInterface(void);
int QuitUserInterface(int code);
// Runs what is pending and returns; when nothing is pending it blocks at
// most a few milliseconds for the next event, so wait loops do not spin.
int ProcessSystemEvents(void);
int rt_BusyPump(void);   // 1 in the benchmark build whose pump never blocks

// ---- panels ---------------------------------------------------------------
// Loads panel `id` (dynamic property "panelId" of a top-level child of the
// resource file's root widget). Negative on a missing file or panel.
int LoadPanel(int parent, const char *file, int id);
int DisplayPanel(int panel);
int HidePanel(int panel);
int DiscardPanel(int panel);
int SetActivePanel(int panel);
int SetActiveCtrl(int panel, int control);

// ---- controls -------------------------------------------------------------
// Values keep the control's type; these convert with wrap-around where the
// target is narrower. A program-set value never raises an event.
int SetCtrlVal(int panel, int control, int value);
int SetCtrlVal(int panel, int control, unsigned value);
int SetCtrlVal(int panel, int control, double value);
int SetCtrlVal(int panel, int control, const char *value);
int GetCtrlVal(int panel, int control, uint16_t *value);
int GetCtrlVal(int panel, int control, int *value);
int GetCtrlVal(int panel, int control, unsigned *value);
int GetCtrlVal(int panel, int control, float *value);
int GetCtrlVal(int panel, int control, double *value);
int GetCtrlVal(int panel, int control, char *value, int bufSize);   // always terminated
int SetCtrlAttribute(int panel, int control, int attribute, int value);
int SetCtrlAttribute(int panel, int control, int attribute, const char *value);
int GetCtrlAttribute(int panel, int control, int attribute, int *value);
int NewCtrl(int panel, int style, const char *label, int top, int left);   // returns new id
int ClearListCtrl(int panel, int control);
int InsertListItem(int panel, int control, int index, const char *label, int value);   // -1 appends
int DeleteListItem(int panel, int control, int index, int count);   // count -1: to the end
int GetNumListItems(int panel, int control, int *count);
int GetLabelFromIndex(int panel, int control, int index, char *label, int bufSize);
int ResetTextBox(int panel, int control, const char *text);
int ReplaceTextBoxLine(int panel, int control, int line, const char *text);
int DisplayImageFile(int panel, int control, const char *file);   // <0 when missing

// ---- graphs and strip charts -------------------------------------------------
int SetAxisScalingMode(int panel, int control, int axis, int mode, double min, double max);
int SetGraphCursor(int panel, int control, int cursor, double x, double y);   // cursors 1..3
// A short text in the graph's top right corner, in the desktop's colours,
// that stays until changed; an empty text takes it away.
int rt_SetGraphNote(int panel, int control, const char *text);
int DeleteGraphPlot(int panel, int control, int plot, int refresh);
int PlotRectangle(int panel, int control, double x1, double y1, double x2, double y2, int color,
                  int fillColor);
int PlotXY(int panel, int control, const void *x, const void *y, int n, int xType, int yType,
           int plotStyle, int pointStyle, int lineStyle, int pointFrequency, int color);
int PlotStripChart(int panel, int control, const void *data, int n, int start, int skip, int type);
int SetTraceAttribute(int panel, int control, int trace, int attribute, int value);

// ---- popups ---------------------------------------------------------------
int MessagePopup(const char *title, const char *message);
int ConfirmPopup(const char *title, const char *message);   // non-zero for yes
// Writes the chosen path (bufSize includes the terminator). 0 cancel,
// 1 existing file, 2 new name.
int FileSelectPopup(const char *defaultDir, const char *defaultName, const char *filter,
                    const char *title, const char *buttonLabel, int restrictDir, int restrictExt,
                    int allowCancel, int allowMakeDir, char *path, int bufSize);

// ---- serial ---------------------------------------------------------------
// Port n (1-based) is the n-th entry of the port table (see rt_SetPortTable).
int OpenComConfig(int port, const char *deviceName, long baud, int parity, int dataBits,
                  int stopBits, int inQSize, int outQSize);
int SetComTime(int port, double seconds);
int SetCTSMode(int port, int mode);
// mask 0 suspends the callback. The callback runs only inside the event
// loop or ProcessSystemEvents.
int InstallComCallback(int port, int eventMask, int notifyCount, int eventCharacter,
                       ComCallbackPtr callback, void *callbackData);
int FlushInQ(int port);
int FlushOutQ(int port);
int ComWrt(int port, const char *buf, int count);
int ComRd(int port, char *buf, int count);   // never more than count bytes
int GetInQLen(int port);                     // sees bytes even without pumping events
// Bytes written but not yet out on the line (the driver's queue, or the
// line time of the last write when the driver cannot tell).
int GetOutQLen(int port);
// Sleeps until GetOutQLen is 0, at most the port's time-out (then
// RT_ERR_TIMEOUT); pumps no events.
int rt_WaitOutQEmpty(int port);
// Copies up to count bytes from the head of the input queue without taking
// them out; returns the number copied (a receive path that looks before it reads).
int rt_PeekInQ(int port, char *buf, int count);
int CloseCom(int port);

// ---- files and time ---------------------------------------------------------
int GetFileInfo(const char *path, long *size);   // 1 when the file exists
int CVI_DeleteFile(const char *path);            // 0 on success, negative otherwise
int GetProjectDir(char *dir, int bufSize);       // directory of the executable
// Where the file dialogs propose the operator's files: the executable's
// directory when it may be written, else the documents folder (made when
// missing); -1 and "" when neither can be written.
int GetFilesDir(char *dir, int bufSize);
int MakePathname(const char *dir, const char *name, char *path, int bufSize);
double Timer(void);           // monotonic seconds
void Delay(double seconds);   // pumps no events
void Sleep(unsigned milliseconds);
const char *DateStr(void);   // "MM-DD-YYYY"
const char *TimeStr(void);   // "HH:MM:SS"

// ---- process glue -----------------------------------------------------------
// Port table: the given device first, then the serial devices present.
void rt_SetPortTable(const std::vector<std::string> &firstDevices);
std::vector<std::string> rt_PortTable(void);
std::string rt_PortDevice(int port);   // "" when out of range
// Starts kvex-sim on a pseudo-terminal as a child that ends with this
// process; returns its device path or "" on failure.
std::string rt_StartSimulator(const std::vector<std::string> &args);
void rt_StopSimulator(void);

// ---- operator actions -------------------------------------------------------
// Operator actions, raising the events a real operator would raise (the
// shortcuts and the panel close use them; the rest are in rt_testing.h).
// Focus, then button: 3 then 1; toggle: flips, 2 then 1.
void rt_UserClick(int panel, int control);
void rt_UserClosePanel(int panel);   // 11 to the panel callback
// Runs fn once from the event loop after `seconds` (QTimer::singleShot).
void rt_After(double seconds, std::function<void()> fn);

// ---- periodic timers, keyboard shortcuts, context menus --------------------------
// Calls fn every `seconds` from the event loop and from ProcessSystemEvents;
// returns a timer id > 0, or a negative error.
int rt_NewTimer(double seconds, std::function<void()> fn);
int rt_DiscardTimer(int timerId);
// fn runs when the keys ("F5", "Esc", "Ctrl+G") are pressed while the panel
// is the active window (not while a popup of the program is open); it
// replaces an earlier shortcut of the panel with the same keys.
int rt_SetShortcut(int panel, const char *keys, std::function<void()> fn);
// Adds an item to the context menu (right mouse button) of a control.
int rt_AddMenuItem(int panel, int control, const char *label, std::function<void()> fn);
// Esc closes a secondary window exactly as the window manager's close does
// (the panel's callback gets EVENT_CLOSE).
int rt_SetCloseKey(int panel);

std::string rt_GetToolTip(int panel, int control);
int rt_SetToolTip(int panel, int control, const char *text);
// Marks a control as holding a value the device does not have: its field
// takes an amber tint of its own colours, readable in light and dark palettes.
int rt_SetCtrlMark(int panel, int control, int on);
// Tables (a QTableWidget in the form): read-only text cells, UTF-8.
int rt_SetTableSize(int panel, int control, int rows, int columns);
int rt_SetTableHeader(int panel, int control, int column, const char *text);
int rt_SetTableCell(int panel, int control, int row, int column, const char *text);
// A cell that differs: the amber of rt_SetCtrlMark over the table's own
// colours, and bold, so it shows without colour too.
int rt_SetTableCellMark(int panel, int control, int row, int column, int on);
int rt_SetTableRowHidden(int panel, int control, int row, int hidden);
// The text an operator reads a control by: the label that names it as its
// buddy, the label left of it in its grid row, or the title of the group
// box around it; "" when there is none.
std::string rt_GetCtrlLabel(int panel, int control);
// Called after every event a control raises (after its callback, if any).
void rt_SetEventHook(std::function<void(int panel, int control, int event)> hook);
int rt_IsShown(int panel);
int rt_Find(int panel, const char *name);   // control id by name, -1 when absent
// Saves a picture of a panel (or of one control when control > 0) as PNG.
int rt_SavePanelImage(int panel, int control, const char *file);
// What the driver of an open port does about latency: lowLatency 1 when it
// took the low-latency request made at open; timerMs the USB adapter's
// latency timer as it reads after that request, -1 where there is none.
struct RtPortLatency {
    int lowLatency = 0;
    int timerMs = -1;
};
RtPortLatency rt_PortLatency(int port);
// Why the last OpenComConfig failed, naming the device (missing, not a
// serial line, permission denied, busy and who holds it); "" after a good one.
std::string rt_OpenFault(void);

// ---- unplugged devices and the port list -------------------------------------
// Rebuilds the port table: the devices given to rt_SetPortTable first, then
// the serial devices present now.
void rt_RefreshPortTable(void);
// Called when the operator opens the list of a ring, before the list shows.
void rt_SetRingOpenHook(int panel, int control, void (*hook)(void));
// A ring whose value changes only by a choice from its opened list: the
// wheel, the arrow keys and typed letters do not move it while it is
// closed (the arrow keys open the list instead).
int rt_SetRingChoiceOnly(int panel, int control, int on);
// Called from RunUserInterface's idle loop (no callback or wait loop running)
// once an open port was closed because its device went away (a pulled USB
// adapter).
void rt_SetPortLostHook(void (*hook)(int port));

// ---- charts and reports ------------------------------------------------------------
// A chart drawn whole from a description: series of values, straight lines
// with labels, titles and ranges. For graph controls whose resource entry
// has ctrlKind "chart" (no cursors, nothing kept between calls).
enum { RT_SERIES_LINE = 0, RT_SERIES_POINTS = 1, RT_SERIES_BARS = 2 };
enum { RT_LINE_SOLID = 0, RT_LINE_DASHED = 1, RT_LINE_DOTTED = 2 };
enum { RT_MARK_DISC = 0, RT_MARK_SQUARE = 1, RT_MARK_TRIANGLE = 2, RT_MARK_DIAMOND = 3 };
struct RtChartSeries {
    int kind = RT_SERIES_LINE;
    std::vector<double> x, y;           // bars: x the centres, barWidth their width
    double xStart = 0.0, xStep = 1.0;   // x empty: x[i] = xStart + i * xStep
    int color = VAL_BLACK;
    double width = 1.0;        // pen width, or the size of a point
    int mark = RT_MARK_DISC;   // the points' shape
    double barWidth = 1.0;
    std::string name;   // in the legend when not empty
};
struct RtChartLine {
    int vertical = 0;   // 0: horizontal at y = at, 1: vertical at x = at
    double at = 0.0;
    int color = VAL_BLACK;
    int style = RT_LINE_SOLID;
    double width = 1.0;
    std::string label;       // written at the line's end (right, or top)
    int labelOtherEnd = 0;   // 1: at the other end (left, or bottom)
};
struct RtChart {
    std::string title, xLabel, yLabel;
    std::vector<RtChartSeries> series;
    std::vector<RtChartLine> lines;
    double xMin = 0.0, xMax = 1.0, yMin = 0.0, yMax = 1.0;
    int legend = 0;
    std::string empty;   // when not empty: written in the middle, for a chart without data
};
int rt_DrawChart(int panel, int control, const RtChart &chart);

// A report as PDF on one A4 portrait page: a title, lines of text, the
// charts of a panel as vector drawings (chartHeights weigh their share of
// the room the text leaves), a table of rows (the first row is the
// heading) beside the last chart or under the charts, and notes. Only when
// the text alone leaves too little room for the charts do they go on to
// further pages.
struct RtReport {
    std::string title;
    std::vector<std::string> lines;
    int panel = 0;
    std::vector<int> charts;         // controls of `panel`, in order
    std::vector<int> chartHeights;   // weights, per chart (0: 1)
    std::vector<std::vector<std::string>> table;
    int tableBesideLastChart = 0;
    std::vector<std::string> notes;   // lines after the table
};
// 0 when written; negative when not, with the reason in *why (when given).
// The file is replaced whole or not at all.
int rt_WritePdfReport(const char *file, const RtReport &report, std::string *why = nullptr);
