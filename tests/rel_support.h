// Helpers of the end-to-end reliability tests: the program connected to a
// simulator, status and control state, CPU time, pumping for a while.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <sys/resource.h>
#include <vector>

#include "tests/support/clock.h"
#include "tests/support/drive.h"
#include "tests/support/support.h"
#include "rt/rt_testing.h"
#include "app/app.h"
#include "link/frame.h"
#include "params/vars.h"

namespace rel {

using Clock = std::chrono::steady_clock;

inline double Since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// What the status line shows.
inline std::string StatusLine() {
    char buf[256] = {0};
    GetCtrlVal(pHandle, PANEL_TEXTStatus, buf, static_cast<int>(sizeof buf));
    return buf;
}

inline std::string TextBox(int panel, int control) { return rt_GetCtrlText(panel, control); }

inline int Dimmed(int panel, int control) {
    int v = -1;
    GetCtrlAttribute(panel, control, ATTR_DIMMED, &v);
    return v;
}

// Pumps events as the idle event loop would, for `seconds`.
inline void Pump(double seconds) {
    auto t0 = Clock::now();
    while (Since(t0) < seconds) ProcessSystemEvents();
}

// Pumps until pred() holds or `seconds` passed; true when it held.
template <class Pred> bool PumpUntil(Pred pred, double seconds) {
    auto t0 = Clock::now();
    while (Since(t0) < seconds) {
        if (pred()) return true;
        ProcessSystemEvents();
    }
    return pred();
}

// Runs the program's idle event loop (RunUserInterface) until pred() holds
// or `seconds` passed; true when it held.
template <class Pred> bool IdleUntil(Pred pred, double seconds) {
    auto t0 = Clock::now();
    while (Since(t0) < seconds) {
        if (pred()) return true;
        rt_After(0.02, [] { QuitUserInterface(0); });
        RunUserInterface();
    }
    return pred();
}

inline void Idle(double seconds) {
    IdleUntil([] { return false; }, seconds);
}

// Sends a command to the simulator and waits for its acknowledgement.
inline bool SimDo(SimProcess &sim, const std::string &cmd) {
    size_t before = sim.Output().size();
    sim.Command(cmd);
    for (int i = 0; i < 100; ++i) {
        std::string out = sim.Output(0.05);
        if (out.find("ok " + cmd, before) != std::string::npos) return true;
        if (out.find("error", before) != std::string::npos) return false;
    }
    return false;
}

// Connects the program to `device` as port 1, the way start-up does.
inline void Connect(const std::string &device) {
    rt_SetPortTable({device});
    com = 1;
    stop_flag = STOP_ASKED;
    InitRS232(com);
    InitGUI();
}

// The program started, connected to `sim` (started with args) with its
// start-up exchange done and the main panel the active window; "" when
// all went well, else what failed.
inline std::string StartConnected(SimProcess &sim, const std::vector<std::string> &args) {
    if (!StartRidarForTest()) return "the program did not start";
    InitComforts();
    if (!sim.Start(args)) return "the simulator did not start";
    Connect(sim.Device());
    DisplayPanel(pHandle);
    if (!drive::Activate(pHandle)) return "the main panel could not be activated";
    return "";
}

inline std::string ReadFile(const std::string &path) {
    std::string out;
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    std::fclose(f);
    return out;
}

} // namespace rel
