// The program under test inside the test process: its start-up without a
// window, its connection to a sensor, the event loop run for a while, and
// what its panels show.
#pragma once

#include <string>
#include <vector>

#include "tests/support/clock.h"
#include "rt/rt_testing.h"

class SimProcess;

// Starts the run-time once per process, registers the callbacks and loads
// the three panels; installs a popup hook that answers every popup with 0
// unless a test sets its own. Returns false when something failed.
bool StartRidarForTest();

// Opens `device` as port 1 the way start-up does: echo check,
// identification and the parameter set from RAM; the panels untouched.
void OpenSensorLine(const std::string &device);

// Connects the program to `device` as port 1, the way start-up does:
// OpenSensorLine, then the panels set for the sensor.
void Connect(const std::string &device);

// The program started, connected to `sim` (started with args) with its
// start-up exchange done and the main panel the active window; "" when
// all went well, else what failed.
std::string StartConnected(SimProcess &sim, const std::vector<std::string> &args);

// ---- the event loop ------------------------------------------------------------------------

// Pumps events as the idle event loop would, at least once and for `seconds`.
void Pump(double seconds);

// Pumps until pred() holds or `seconds` passed; true when it held.
template <class Pred>
bool PumpUntil(Pred pred, double seconds) {
    auto t0 = Clock::now();
    while (Since(t0) < seconds) {
        if (pred()) return true;
        ProcessSystemEvents();
    }
    return pred();
}

// Runs the program's idle event loop (RunUserInterface) until pred() holds
// or `seconds` passed; true when it held.
template <class Pred>
bool IdleUntil(Pred pred, double seconds) {
    auto t0 = Clock::now();
    while (Since(t0) < seconds) {
        if (pred()) return true;
        rt_After(0.02, [] { QuitUserInterface(0); });
        RunUserInterface();
    }
    return pred();
}

void Idle(double seconds);

// ---- what the panels show ------------------------------------------------------------------
// A read that fails gives kUnread, which no control shows.

constexpr int kUnread = -12345;

int Attr(int panel, int control, int attribute);
int Dimmed(int panel, int control);
int IntVal(int panel, int control);
double DblVal(int panel, int control);
// Text, label or on/off text the control shows.
std::string TextBox(int panel, int control);
// What the main panel's status line shows.
std::string StatusLine();

// Saves a picture of the panel as `name` in $RIDAR_SCREENSHOT_DIR when set
// (for looking at the panels a test went through).
void Screenshot(int panel, const char *name);
