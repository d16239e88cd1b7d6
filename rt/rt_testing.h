// The run-time layer's test API: operator actions, what the controls show,
// fault injection. Only tests, benchmarks, fuzz targets and the run-time
// layer itself include this.
#pragma once

#include "rt/rt.h"

class QWidget;   // only tests reach the widgets (rt_Widget)

// ---- operator actions and popups ----------------------------------------------
struct RtPopup {
    int kind;   // 1 message, 2 confirm, 3 file select
    std::string title, message, defaultDir, defaultName, filter, buttonLabel;
};
struct RtPopupAnswer {
    int result = 0;     // what the popup returns
    std::string path;   // file select: the chosen path
};
// With a hook installed popups never show; the hook answers them.
void rt_SetPopupHook(std::function<RtPopupAnswer(const RtPopup &)> hook);

void rt_UserSetVal(int panel, int control,
                   double value);   // numerics, rings (item value), toggles: 2 then 1
void rt_UserSetText(int panel, int control, const char *text);
// Keys pressed with the panel active (its shortcuts), an item
// picked from a control's context menu (0 when it was there), its items.
void rt_UserKey(int panel, const char *keys);
int rt_UserMenuItem(int panel, int control, const char *label);
std::vector<std::string> rt_GetMenuItems(int panel, int control);
void rt_UserOpenRing(int panel, int control);   // opens the list (and closes it again)

// ---- what the controls show ---------------------------------------------------
int rt_GetCtrlMark(int panel, int control);   // 1 marked, 0 not, negative error
std::string rt_GetTableCell(int panel, int control, int row, int column);
int rt_GetTableCellMark(int panel, int control, int row, int column);   // 1, 0, negative error
int rt_GetTableRowHidden(int panel, int control, int row);              // 1, 0, negative error
// Size of a control on screen (control 0: the whole panel).
int rt_GetCtrlSize(int panel, int control, int *width, int *height);
// 0 when the file decodes as an image; gives its size.
int rt_ReadImageSize(const char *file, int *width, int *height);

struct RtPlot {
    int handle = 0;
    int kind = 0;                            // 1 rectangle, 2 xy
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;   // rectangle
    int color = 0, fillColor = 0;
    std::vector<double> x, y;   // xy
};
std::vector<RtPlot> rt_GetPlots(int panel, int control);
int rt_GetCursor(int panel, int control, int cursor, double *x, double *y);
int rt_GetAxisRange(int panel, int control, int axis, double *min, double *max);
struct RtStrip {
    int traces = 0;
    int pointsPerScreen = 0;
    std::vector<int> colors;                   // per trace
    std::vector<std::vector<double>> points;   // per trace, oldest first, the shown window
};
RtStrip rt_GetStrip(int panel, int control);
std::string rt_GetCtrlText(int panel, int control);   // text, label or on/off text shown
std::vector<std::string> rt_GetListItems(int panel, int control);
// The widget of a control (control 0: the panel's window), nullptr when
// absent: for tests that drive the real widgets with QTest.
QWidget *rt_Widget(int panel, int control);

// ---- the serial layer ---------------------------------------------------------
// Statistics of the serial layer since start.
struct RtLinkStats {
    long framesNotified = 0, bytesIn = 0, bytesOut = 0, openFailures = 0;
    long lineWaitWakes = 0;   // wake-ups of the pump's wait on a line alone
};
RtLinkStats rt_LinkStats(void);
int rt_PortLost(int port);   // 1 while a port stays closed because its device went away

// ---- fuzzing and fault injection --------------------------------------------------
// Bytes that arrive on an open port as if the device had sent them.
int rt_InjectInput(int port, const char *bytes, int count);
// Called after every ComWrt with the bytes given to it (a sensor in-process).
void rt_SetWriteHook(std::function<void(int port, const char *bytes, int count)> hook);
// Passes of the event pump and its returns to the program since start.
void rt_PumpCounts(long *passes, long *returns);
// Makes Timer() run `rate` times faster (1: real time), so time-outs pass quickly.
void rt_SetTimerRate(double rate);
