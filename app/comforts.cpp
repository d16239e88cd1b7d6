// Operator comforts of the main panel: keyboard shortcuts, pictures of the
// graphs, and the link-health line of the status area.
#include "app/app.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "link/frame.h"
#include "proto/proto.h"
#include "stats/stats.h"

static const double kHealthPeriod = 0.5;   // seconds between link-health updates
static const double kTalking = 2.0;        // a frame younger than this: the sensor talks
static const int kTalkingColor = 0xC8F0C8;

// The tooltip of the link-health line adds what the adapter's driver does
// about latency, where the port is a USB adapter that tells.
static void ShowLatencyTip(void) {
    static std::string base;
    static int baseRead = 0;
    if (!baseRead) {
        base = rt_GetToolTip(pHandle, PANEL_TEXTLinkHealth);
        baseRead = 1;
    }
    const RtPortLatency l = rt_PortLatency(com);
    std::string tip = base;
    const std::string fault = rt_OpenFault();
    if (!fault.empty()) tip += "\nCannot open port: " + fault;
    if (l.lowLatency) tip += "\nLow-latency mode of the serial driver: on";
    if (l.timerMs >= 0) {
        char line[300];
        if (l.timerMs <= 2)
            std::snprintf(line, sizeof line, "\nUSB adapter latency timer: %d ms", l.timerMs);
        else
            std::snprintf(line, sizeof line,
                          "\nUSB adapter latency timer: %d ms - every reply may wait that long; "
                          "lower it to 1 ms with the udev rule in the README (Troubleshooting)",
                          l.timerMs);
        tip += line;
    }
    rt_SetToolTip(pHandle, PANEL_TEXTLinkHealth, tip.c_str());
}

void ShowLinkHealth(void) {
    char age[48];
    double a = 0.0;
    if (linkFrames == 0) {
        std::snprintf(age, sizeof age, "none yet");
    } else {
        a = Timer() - linkLastFrame;
        if (a < 0.0) a = 0.0;
        if (a < 60.0) std::snprintf(age, sizeof age, "%s s ago", proto::OneDecimal(a).c_str());
        else if (a < 3600.0)
            std::snprintf(age, sizeof age, "%d min ago", static_cast<int>(a / 60.0));
        else std::snprintf(age, sizeof age, "%s h ago", proto::OneDecimal(a / 3600.0).c_str());
    }
    char text[200];
    std::snprintf(
        text, sizeof text,
        "Frames %ld   Time-outs %ld   Resyncs %ld (bytes dropped %ld)   Open failures %ld   Last frame %s",
        linkFrames, linkTimeouts, linkResyncs, linkBytesDropped, linkOpenFailures, age);
    SetCtrlVal(pHandle, PANEL_TEXTLinkHealth, text);
    const int talking = linkFrames > 0 && a < kTalking;
    SetCtrlAttribute(pHandle, PANEL_TEXTLinkHealth, ATTR_TEXT_BGCOLOR,
                     talking ? kTalkingColor : VAL_WHITE);
    // the field is always light: its text must not follow a dark desktop palette
    SetCtrlAttribute(pHandle, PANEL_TEXTLinkHealth, ATTR_TEXT_COLOR, VAL_BLACK);
    ShowLatencyTip();
}

void PictureName(char *name, int bufSize, long long unixTime) {
    if (!name || bufSize <= 0) return;
    const std::time_t t = static_cast<std::time_t>(unixTime);
    std::tm local{};
    if (localtime_r(&t, &local) == nullptr ||
        std::strftime(name, static_cast<size_t>(bufSize), "ridar-%Y-%m-%d-%H%M%S.png", &local) == 0)
        std::snprintf(name, static_cast<size_t>(bufSize), "ridar.png");
}

// Where the last picture went; empty: the working directory.
static char pictDir[260] = "";

static void RememberDir(const char *path) {
    const char *slash = std::strrchr(path, '/');
    if (!slash) {
        pictDir[0] = '\0';
        return;
    }
    size_t n = static_cast<size_t>(slash - path);
    if (n >= sizeof pictDir) return;
    std::memcpy(pictDir, path, n);
    pictDir[n] = '\0';
}

int SavePicture(int control) {
    char name[64];
    PictureName(name, sizeof name, static_cast<long long>(std::time(nullptr)));
    char path[260] = "";
    if (stop_flag == STOP_RUNNING) {
        // A loop is measuring: a dialog would hold it up until its reply
        // timed out, so the picture goes straight to the proposed name.
        if (pictDir[0] != '\0') MakePathname(pictDir, name, path, sizeof path);
        else std::snprintf(path, sizeof path, "%s", name);
    } else {
        const int r = FileSelectPopup(pictDir, name, "*.png", "Save picture as PNG", "Save", 0, 1,
                                      1, 1, path, static_cast<int>(sizeof path));
        if (r <= 0) return -1;
        // a name without an extension still gets a PNG; say so in its name
        const char *base = std::strrchr(path, '/');
        base = base ? base + 1 : path;
        if (std::strchr(base, '.') == nullptr && std::strlen(path) + 4 < sizeof path)
            std::strcat(path, ".png");
        long size = 0;
        if (GetFileInfo(path, &size) == 1 &&
            !ConfirmPopup("ATTENTION !", "File already exist - overwrite ?"))
            return -1;
    }
    const int rc = rt_SavePanelImage(pHandle, control, path);
    const char *base = std::strrchr(path, '/');
    base = base ? base + 1 : path;
    char text[120];
    if (rc == 0) {
        RememberDir(path);
        std::snprintf(text, sizeof text, "Picture saved: %s", base);
    } else {
        std::snprintf(text, sizeof text, "Picture could not be written: %s", base);
    }
    ShowStatusText(text);
    return rc == 0 ? 0 : -1;
}

// A shortcut is the operator pressing the button: the same events (the
// edit in progress is finished first, as the click's focus change does),
// and nothing at all while the button is dimmed.
static void Press(int control) { rt_UserClick(pHandle, control); }

void InitComforts(void) {
    static int donePanels[16];
    static int nDone = 0;
    static int timer = 0;
    StatsClear(&statsPx);
    StatsClear(&statsUm);
    StatsShow();
    ShowLinkHealth();
    if (timer <= 0) timer = rt_NewTimer(kHealthPeriod, ShowLinkHealth);
    for (int i = 0; i < nDone; ++i)
        if (donePanels[i] == pHandle) return;
    if (nDone < 16) donePanels[nDone++] = pHandle;

    rt_SetShortcut(pHandle, "F5", [] { Press(PANEL_BTNRun); });
    rt_SetShortcut(pHandle, "F6", [] { Press(PANEL_BTNVideo); });
    rt_SetShortcut(pHandle, "Esc", [] { Press(PANEL_BTNStop); });
    rt_SetShortcut(pHandle, "Ctrl+G", [] { Press(PANEL_BTNGet); });
    rt_SetShortcut(pHandle, "Ctrl+S", [] { Press(PANEL_BTNSend); });
    rt_SetShortcut(pHandle, "Ctrl+P", [] { SavePicture(0); });
    rt_SetCloseKey(pPopup);
    rt_SetCloseKey(pRecord);

    static const int graphs[] = {PANEL_GRAPHBar, PANEL_GRAPHVideo, PANEL_STRIPRaw};
    for (int g : graphs) {
        rt_AddMenuItem(pHandle, g, "Save this graph as PNG...", [g] { SavePicture(g); });
        rt_AddMenuItem(pHandle, g, "Save the whole panel as PNG...  (Ctrl+P)",
                       [] { SavePicture(0); });
    }
}
