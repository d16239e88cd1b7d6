// Process entry, start-up order and shutdown.
#include "app/app.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "analysisui/analysisui.h"
#include "fileio/fileio.h"
#include "link/frame.h"
#include "params/vars.h"

// Set when the main panel was closed; a close that comes while start-up
// still waits for the sensor must not leave the program in an event loop
// that nobody asked to run.
static int mainPanelClosed = 0;

static int PanelLoadFailed(const char *file) {
    std::fprintf(stderr, "kvex-ridar: cannot load the user interface file %s\n", file);
    return -1;
}

static const char kHelp[] =
    "Usage: kvex-ridar [--port DEVICE] [--simulate [SIMULATOR OPTIONS]]\n"
    "       kvex-ridar --analyse FILE [--export OUT.pdf [--lsl X] [--usl Y] [--unit px|mm]]\n"
    "Operator tool for K-VEX-XC CCD line sensors.\n"
    "\n"
    "  --port DEVICE    use the serial device DEVICE as port 1 (e.g. /dev/ttyUSB0),\n"
    "                   or a device server: rfc2217://HOST:PORT, tcp://HOST:PORT\n"
    "  --simulate ...   start the sensor simulator kvex-sim on a pseudo-terminal and\n"
    "                   connect to it; every option after it goes to kvex-sim\n"
    "  --help           show this help and exit\n"
    "  --version        show the version and exit\n"
    "  --analyse FILE   open the recorder file FILE in the Analysis window only\n"
    "  --export OUT.pdf with --analyse: write the analysis report to OUT.pdf without\n"
    "                   a window and print the capability table; --lsl and --usl\n"
    "                   give the tolerance limits, --unit the unit (default px)\n"
    "\n"
    "\n"
    "Keys on the main panel:\n"
    "  F5 run, F6 video, Esc stop, Ctrl+G get, Ctrl+S send, Ctrl+P picture of the\n"
    "  panel, F7 the Analysis window, Ctrl+D the Compare window\n"
    "  Alt+underlined letter: the field of that label; Tab, Shift+Tab: next, previous\n"
    "  Menu key or Shift+F10 on a graph (or right-click): save it as PNG\n"
    "Calibration, Recorder, Analysis, Compare: Esc closes the window\n"
    "Analysis: F5 reload, Ctrl+E export PDF, Ctrl+P save PNGs\n"
    "Compare: F5 refresh\n";

// --help and --version answer before any window; 1 when one of them did.
static int AnswerInfoOption(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--simulate") == 0) break;
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kHelp, stdout);
            return 1;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("kvex-ridar (K-VEX-XC-Ridar) %s\n", RIDAR_VERSION);
            return 1;
        }
    }
    return 0;
}

// The panel of a name in the resource files ("PANEL", "POPUP", ...), or -1.
static int PanelByName(const std::string &name) {
    const struct {
        const char *name;
        int handle;
    } panels[] = {{"PANEL", pHandle},
                  {"POPUP", pPopup},
                  {"RECORD", pRecord},
                  {"COMPARE", pCompare},
                  {"ANALYSIS", pAnalysis}};
    for (const auto &p : panels)
        if (name == p.name) return p.handle;
    return -1;
}

// One step of RIDAR_TEST_CLICK: "NAME" presses a main-panel button,
// "PANEL.NAME" a button of that panel, "PANEL>FILE" saves a picture of it,
// "ANALYSIS<FILE" opens a recording in the Analysis window.
static void TestStep(const std::string &step) {
    const size_t open = step.find('<');
    if (open != std::string::npos) {   // "ANALYSIS<FILE": a recording in the Analysis window
        if (AnalysisShow() == 0) AnalysisOpenFile(step.substr(open + 1).c_str());
        return;
    }
    const size_t shot = step.find('>');
    if (shot != std::string::npos) {
        const int panel = PanelByName(step.substr(0, shot));
        if (panel > 0) rt_SavePanelImage(panel, 0, step.substr(shot + 1).c_str());
        return;
    }
    const size_t dot = step.find('.');
    const int panel = dot == std::string::npos ? pHandle : PanelByName(step.substr(0, dot));
    const std::string name = dot == std::string::npos ? step : step.substr(dot + 1);
    const int id = panel > 0 ? rt_Find(panel, name.c_str()) : -1;
    if (id > 0) rt_UserClick(panel, id);
}

// Parses "1.5:BTNRun,4:BTNStop" and schedules each step (screenshots, exit
// tests).
static void ScheduleTestClicks(const char *clicks) {
    if (clicks == nullptr) return;
    std::string all(clicks);
    size_t pos = 0;
    while (pos < all.size()) {
        size_t end = all.find(',', pos);
        if (end == std::string::npos) end = all.size();
        const std::string item = all.substr(pos, end - pos);
        const size_t colon = item.find(':');
        if (colon != std::string::npos) {
            const double seconds = std::atof(item.substr(0, colon).c_str());
            const std::string step = item.substr(colon + 1);
            if (seconds >= 0.0 && !step.empty()) rt_After(seconds, [step] { TestStep(step); });
        }
        pos = end + 1;
    }
}

// What the command line asked for. Everything after --simulate belongs to the
// simulator.
struct RidarOptions {
    std::string portDevice;
    bool simulate = false;
    std::vector<std::string> simArgs;
};

static int UsageError(const std::string &what) {
    std::fprintf(stderr, "kvex-ridar: %s\n", what.c_str());
    std::fprintf(
        stderr,
        "Usage: kvex-ridar [--port DEVICE] [--simulate [SIMULATOR OPTIONS]]\n"
        "       kvex-ridar --analyse FILE [--export OUT.pdf [--lsl X] [--usl Y] [--unit px|mm]]\n");
    return 2;
}

// 0 when the command line is good; otherwise the exit code of a usage error
// (2, as command-line tools do), after saying what was wrong.
static int ParseOptions(int argc, char **argv, RidarOptions *opt) {
    for (int i = 1; i < argc; ++i) {
        const char *a = argv[i];
        if (std::strcmp(a, "--simulate") == 0) {
            opt->simulate = true;
            for (++i; i < argc; ++i) opt->simArgs.push_back(argv[i]);
            break;
        }
        if (std::strcmp(a, "--port") == 0) {
            if (i + 1 >= argc || argv[i + 1][0] == '\0')
                return UsageError("--port needs a device name");
            opt->portDevice = argv[++i];
        } else if (std::strncmp(a, "--port=", 7) == 0 && a[7] != '\0') {
            opt->portDevice = a + 7;
        } else if (std::strcmp(a, "--lsl") == 0 || std::strcmp(a, "--usl") == 0 ||
                   std::strcmp(a, "--unit") == 0) {
            // the analysis report's; without --analyse they change nothing
            if (i + 1 >= argc) return UsageError(std::string(a) + " needs a value");
            ++i;
        } else if (a[0] == '-') {
            return UsageError(std::string("unknown option ") + a);
        } else {
            return UsageError(std::string("unexpected argument ") + a);
        }
    }
    return 0;
}

// Without a display Qt would abort the process with nothing a user can act on.
static int NoDisplay(void) {
    std::fprintf(
        stderr,
        "kvex-ridar: no display: set DISPLAY (X11) or WAYLAND_DISPLAY, run it under xvfb-run, "
        "or set QT_QPA_PLATFORM=offscreen for a headless run\n");
    return 1;
}

int WinMain(int argc, char **argv) {
    if (AnswerInfoOption(argc, argv)) return 0;
    int analyseOnly = 0;
    const int analyseExit = AnalysisCommandLine(argc, argv, &analyseOnly);
    if (analyseOnly) return analyseExit;
    RidarOptions opt;
    if (const int rc = ParseOptions(argc, argv, &opt)) return rc;
    if (InitCVIRTE(argc, argv) == 0) return NoDisplay();
    const std::string &portDevice = opt.portDevice;
    const bool simulate = opt.simulate;
    const std::vector<std::string> &simArgs = opt.simArgs;

    RegisterRidarCallbacks();

    const std::string uirPath = fileio::FindDataFile(UIR_FILE);
    const char *uir = uirPath.c_str();
    pHandle = LoadPanel(0, uir, PANEL);
    if (pHandle < 0) return PanelLoadFailed(uir);
    pPopup = LoadPanel(0, uir, POPUP);
    if (pPopup < 0) return PanelLoadFailed(uir);
    pRecord = LoadPanel(0, uir, RECORD);
    if (pRecord < 0) return PanelLoadFailed(uir);

    std::vector<std::string> ports;
    if (simulate) {
        const std::string dev = rt_StartSimulator(simArgs);
        if (dev.empty()) {
            std::fprintf(stderr,
                         "kvex-ridar: the sensor simulator kvex-sim could not be started\n");
            return -1;
        }
        ports.push_back(dev);
    }
    if (!portDevice.empty()) ports.push_back(portDevice);
    rt_SetPortTable(ports);

    // Test hook: RIDAR_TEST_CLOSE_AFTER=seconds closes the main panel as an
    // operator would, so a headless run can be ended from outside.
    const char *closeAfter = std::getenv("RIDAR_TEST_CLOSE_AFTER");
    if (closeAfter != nullptr && *closeAfter != '\0') {
        const double seconds = std::atof(closeAfter);
        if (seconds >= 0.0) rt_After(seconds, [] { rt_UserClosePanel(pHandle); });
    }
    // Test hook: RIDAR_TEST_CLICK="seconds:STEP[,seconds:STEP...]" presses
    // buttons as an operator would and saves pictures (screenshots, exit tests).
    ScheduleTestClicks(std::getenv("RIDAR_TEST_CLICK"));

    // an installed program's directory is not the operator's to write
    GetFilesDir(proj_dir, sizeof proj_dir);
    InitVars();
    InitComforts();
    InitAnalysis();
    InitRS232(com);
    InitGUI();
    if (!mainPanelClosed) {
        DisplayPanel(pHandle);
        SetActivePanel(pHandle);
        SetActiveCtrl(pHandle, PANEL_CTRLStartFocus);
        RunUserInterface();
    }
    CloseCom(com);
    DiscardPanel(pPopup);
    DiscardPanel(pHandle);
    DiscardPanel(pRecord);
    if (pAnalysis > 0) DiscardPanel(pAnalysis);
    if (simulate) rt_StopSimulator();
    return 0;
}

int CVICALLBACK CC_PANEL(int panel, int control, int event, void *callbackData, int eventData1,
                         int eventData2) {
    (void)panel;
    (void)control;
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event != EVENT_CLOSE) return 0;
    mainPanelClosed = 1;
    stop_flag = STOP_ASKED;
    Sleep(200);
    CloseCom(com);
    QuitUserInterface(0);
    return 0;
}

int CVICALLBACK CC_POPUP(int panel, int control, int event, void *callbackData, int eventData1,
                         int eventData2) {
    (void)panel;
    (void)control;
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event != EVENT_CLOSE) return 0;
    HidePanel(pPopup);
    SetCtrlVal(pHandle, PANEL_TOGGBTN_ParaII, 0);
    return 0;
}

// The windows' own Close buttons do what the window manager's close does.
int CVICALLBACK CC_BTNCalClose(int panel, int control, int event, void *callbackData,
                               int eventData1, int eventData2) {
    (void)control;
    if (event == EVENT_COMMIT)
        CC_POPUP(panel, 0, EVENT_CLOSE, callbackData, eventData1, eventData2);
    return 0;
}

int CVICALLBACK CC_BTNRecClose(int panel, int control, int event, void *callbackData,
                               int eventData1, int eventData2) {
    (void)control;
    if (event == EVENT_COMMIT)
        CC_RECORD(panel, 0, EVENT_CLOSE, callbackData, eventData1, eventData2);
    return 0;
}

int CVICALLBACK CC_RECORD(int panel, int control, int event, void *callbackData, int eventData1,
                          int eventData2) {
    (void)panel;
    (void)control;
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event != EVENT_CLOSE) return 0;
    HidePanel(pRecord);
    SetCtrlVal(pHandle, PANEL_TOGGBTN_Recorder, 0);
    return 0;
}
