#include "tests/support/program.h"
#include "tests/support/drive.h"
#include "tests/support/sim.h"

#include "app/app.h"
#include "link/frame.h"
#include "params/vars.h"

#include <cstdlib>

bool StartRidarForTest() {
    static bool started = false;
    static bool ok = false;
    if (started) return ok;
    started = true;
    static char arg0[] = "ridar-test";
    static char *argv[] = {arg0, nullptr};
    if (!InitCVIRTE(1, argv)) return false;
    RegisterRidarCallbacks();
    rt_SetPopupHook([](const RtPopup &) { return RtPopupAnswer{}; });
    pHandle = LoadPanel(0, KVEX_UIR_PATH, PANEL);
    pPopup = LoadPanel(0, KVEX_UIR_PATH, POPUP);
    pRecord = LoadPanel(0, KVEX_UIR_PATH, RECORD);
    if (pHandle < 0 || pPopup < 0 || pRecord < 0) return false;
    GetProjectDir(proj_dir, sizeof proj_dir);
    InitVars();
    ok = true;
    return ok;
}

void OpenSensorLine(const std::string &device) {
    rt_SetPortTable({device});
    com = 1;
    stop_flag = STOP_ASKED;
    InitRS232(com);
}

void Connect(const std::string &device) {
    OpenSensorLine(device);
    InitGUI();
}

std::string StartConnected(SimProcess &sim, const std::vector<std::string> &args) {
    if (!StartRidarForTest()) return "the program did not start";
    InitComforts();
    if (!sim.Start(args)) return "the simulator did not start";
    Connect(sim.Device());
    DisplayPanel(pHandle);
    if (!drive::Activate(pHandle)) return "the main panel could not be activated";
    return "";
}

void Pump(double seconds) {
    const double t0 = Now();
    do ProcessSystemEvents();
    while (Now() - t0 < seconds);
}

void Idle(double seconds) {
    IdleUntil([] { return false; }, seconds);
}

int Attr(int panel, int control, int attribute) {
    int v = kUnread;
    GetCtrlAttribute(panel, control, attribute, &v);
    return v;
}

int Dimmed(int panel, int control) { return Attr(panel, control, ATTR_DIMMED); }

int IntVal(int panel, int control) {
    int v = kUnread;
    GetCtrlVal(panel, control, &v);
    return v;
}

double DblVal(int panel, int control) {
    double v = kUnread;
    GetCtrlVal(panel, control, &v);
    return v;
}

std::string TextBox(int panel, int control) { return rt_GetCtrlText(panel, control); }

std::string StatusLine() { return rt_GetCtrlText(pHandle, PANEL_TEXTStatus); }

void Screenshot(int panel, const char *name) {
    if (const char *dir = std::getenv("RIDAR_SCREENSHOT_DIR"))
        rt_SavePanelImage(panel, 0, (std::string(dir) + "/" + name).c_str());
}
