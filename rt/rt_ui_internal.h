// Shared state of the user-interface half of the run-time layer.
#pragma once

#include <QColor>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "rt/rt.h"
#include "rt/rt_testing.h"

class QComboBox;
class QLabel;
class QCustomPlot;
class QCPItemRect;
class QCPItemText;
class QCPGraph;
class QCPItemStraightLine;
class QCPItemTracer;

namespace rtui {

// The plot widget the panels' graphs and strip charts are made of.
QCustomPlot *NewPlotWidget(QWidget *parent);

// clang-format off
enum Kind {
    K_OTHER, K_INT_NUM, K_DBL_NUM, K_RING, K_RADIO, K_TOGGLE, K_CHECK, K_SWITCH,
    K_BUTTON, K_TEXTBOX, K_STRING, K_LABEL, K_CONTAINER, K_DECO, K_PICTURE, K_GRAPH, K_STRIP,
    K_CHART,
};
// clang-format on
// storage type of an integer numeric
enum NumType { NT_U16, NT_INT, NT_FLOAT, NT_DOUBLE };

struct GraphPlot {
    RtPlot data;                   // what the caller asked for, as drawn
    QCPItemRect *rect = nullptr;   // kind 1
    QCPGraph *graph = nullptr;     // kind 2
};

struct Cursor {
    bool set = false;
    double x = 0, y = 0;
    QCPItemStraightLine *line = nullptr;
    QCPItemTracer *marker = nullptr;
};

struct GraphState {
    int nextHandle = 1;
    bool handlesWrapped = false;   // nextHandle started again at 1
    std::vector<GraphPlot> plots;
    // deleted items wait here for reuse instead of being reallocated
    std::vector<QCPItemRect *> freeRects;
    std::vector<QCPGraph *> freeGraphs;
    Cursor cursors[3];
    bool autoscale[2] = {false, false};
    QCPItemText *note = nullptr;
};

struct StripState {
    int traces = 1;
    int pointsPerScreen = 101;   // the chart shows one point less than this
    int scrollMode = 0;
    std::vector<int> colors;
    std::vector<int> styles;   // VAL_SOLID, VAL_DASH, VAL_DOT
    std::vector<std::deque<double>> points;
    std::vector<QCPGraph *> graphs;
};

struct Ctrl {
    int id = 0;
    int kind = K_OTHER;
    int numType = NT_U16;
    QPointer<QWidget> w;
    CtrlCallbackPtr cb = nullptr;
    bool dimmed = false, visible = true;
    int textColor = 0, textBg = 0xFFFFFF, frameColor = 0;
    bool bold = false;
    int pointSize = 0;
    QString onText, offText;
    // a double numeric keeps the program's exact value while its display
    // shows the rounded one
    bool haveExact = false;
    double exact = 0, exactShown = 0;
    // what the program last set on a numeric and the text that showed;
    // setting it again unchanged is skipped (Qt would repaint each time)
    bool lastSetValid = false;
    double lastSet = 0, lastSetShown = 0;
    QString lastSetText;
    double committed = 0;   // last committed value of a numeric
    double seen = 0;        // last value announced as changed
    std::unique_ptr<GraphState> graph;
    std::unique_ptr<StripState> strip;
};

struct Panel {
    int handle = 0;
    QPointer<QWidget> w;
    // where its controls lie: inside a scroll area, so that a panel larger
    // than the screen can still be reached
    QPointer<QWidget> content;
    QString name;
    CtrlCallbackPtr cb = nullptr;
    std::map<int, std::unique_ptr<Ctrl>> ctrls;
    int nextNewId = 1000;
};

Panel *FindPanel(int handle);
Ctrl *FindCtrl(int panel, int control);
QColor ToColor(int rgb);
int FromColor(const QColor &c);

// Depth of the program's control and panel callbacks now running (0: idle).
int CallbackDepth();
// True in RunUserInterface's own loop: no callback runs and no wait loop pumps.
bool IdleInEventLoop();

// serial (rt_serial.cpp) and the pump: true while an open port has a receive
// callback installed whose notify count is not reached yet (or whose check is
// on its way), so a pass of the pump that only moved bytes in has nothing for
// the program yet.
bool SerialAwaitingNotify();
// True while a port's frame has begun but its notify count is not reached,
// and the serial layer has nothing else for the event loop to do.
bool SerialFrameUnderWay();
// Waits on those ports' lines alone, moving each chunk in, until a check is
// posted (count reached, event character, device gone) or the time passed.
void SerialAwaitLine(long long nanoseconds);
// A serial callback ran or a port was closed: the pump returns to the program.
void NoteSerialDelivery();
// The object the serial layer posts its checks to.
bool IsSerialHub(const QObject *o);

// graphs (rt_graph.cpp)
void SetupGraph(Ctrl *c);
void SetupStrip(Ctrl *c);
int SetStripAttribute(Ctrl *c, int attribute, int value);
int GetStripAttribute(Ctrl *c, int attribute, int *value);
void SetupChart(Ctrl *c);   // rt_chart.cpp

// shared by the files of the user-interface half (rt_ui.cpp)
// Double to word and unsigned: truncated toward zero, wrapped; NaN and
// infinity give 0. To int and float: clamped.
uint16_t Wrap16(double v);
unsigned Wrap32(double v);
int ClampInt(double v);
float ClampFloat(double v);
QString FromC(const char *s);
void CopyOut(const QString &s, char *buf, int bufSize);
// Calls the control's callback (and the event hook) with an event.
void Raise(int panel, int control, int event);
bool IsToggleKind(int k);
void ShowSwitchText(Ctrl *c);
double NumValue(Ctrl *c);
int SetNum(Ctrl *c, double v);
int GetNum(Ctrl *c, double *out);
QString TextOf(Ctrl *c);
int SetText(Ctrl *c, const QString &t);
// The error for a control that is not there: its panel's or its own.
int Bad(int panel);
// The ring control, or nullptr with the error in *rc.
QComboBox *Ring(int panel, int control, int *rc);

// accessibility (rt_access.cpp)
// "&Light power" -> "Light power"; "&&" -> "&".
QString StripMnemonic(const QString &s);
// The label an operator reads w by: its buddy, the label left of it in its
// grid row (or above it), or before it in its row; nullptr when none. A table's
// cell gives "heading (row title)" in *heading instead, and the nearest
// titled group box around w its title in *boxTitle.
QLabel *LabelOf(QWidget *panel, QWidget *w, QString *heading, QString *boxTitle);
// Names, descriptions, buddies and mnemonics of a panel just loaded.
void MakeAccessible(Panel *p);
// Radio buttons and toggles said as such; once per process.
void InstallAccessibleRoles();

}   // namespace rtui
