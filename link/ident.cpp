// Opening the link and identifying the sensor: hardware and firmware
// information, refused series, port change.
#include "link/frame.h"

#include <cstring>

#include "ui/panels.h"

static void SetSwitchTexts(const char *on, const char *off) {
    SetCtrlAttribute(pHandle, PANEL_SWITCHOpMode, ATTR_ON_TEXT, on);
    SetCtrlAttribute(pHandle, PANEL_SWITCHOpMode, ATTR_OFF_TEXT, off);
}

static void SetSensorInfo(const char *line0, const char *line1) {
    ReplaceTextBoxLine(pPopup, POPUP_TEXTSensorInfo, 0, line0);
    ReplaceTextBoxLine(pPopup, POPUP_TEXTSensorInfo, 1, line1);
}

// The controls whose state the sensor type sets, as the resource file has
// them. Several rows of the type table leave them alone; a sensor of such a
// type must not inherit what the previous sensor's row did.
static const int kIdentControls[] = {PANEL_RINGTrigMode, PANEL_NUMDeltaTol, PANEL_RINGRs232Mode};
static const int kIdentAttrs[] = {ATTR_VISIBLE, ATTR_VISIBLE, ATTR_DIMMED};
static int identStartPanel = -1;
static int identStart[3];

void KeepIdentStart(void) {
    if (identStartPanel == pHandle) return;
    identStartPanel = pHandle;
    for (int i = 0; i < 3; ++i)
        GetCtrlAttribute(pHandle, kIdentControls[i], kIdentAttrs[i], &identStart[i]);
}

static void RestoreIdentStart(void) {
    if (identStartPanel != pHandle) return;
    for (int i = 0; i < 3; ++i)
        SetCtrlAttribute(pHandle, kIdentControls[i], kIdentAttrs[i], identStart[i]);
}

// Word 15 of the parameter frame changes meaning at firmware 240.
static void RuleV(void) {
    const int newFirmware = softversion >= 240;
    SetCtrlAttribute(pHandle, PANEL_RINGTrigMode, ATTR_VISIBLE, newFirmware ? 1 : 0);
    SetCtrlAttribute(pHandle, PANEL_NUMDeltaTol, ATTR_VISIBLE, newFirmware ? 0 : 1);
}

static void RuleA(void) { YMAXADC = (adcmax == 256) ? 256 : 1024; }

// Types 102..104: an 8-bit video path on firmware 220..239.
static void RuleA8Bit(void) {
    RuleA();
    if (softversion >= 220 && softversion < 240) YMAXADC = 256;
}

static int SampleSpacing(void) {
    switch (ccdvirtpixel) {
    case 256: return 1;
    case 512: return 2;
    case 768: return 3;
    case 1024: return 4;
    case 1180: return 5;
    case 1280: return 5;
    case 1536: return 6;
    case 2048: return 8;
    case 2360: return 10;
    case 2560: return 10;
    case 3072: return 12;
    case 4096: return 16;
    case 8192: return 32;
    default: ccdvirtpixel = 1024; return 4;
    }
}

static void ApplySensorType(void) {
    const char *adcOn = "ADC-CNV";
    const char *adcOff = "DIG-CMP";
    switch (ccdtype) {
    case 1:
        if (hwtype == 80 || ccdresolution == 80) {
            if (ccdresolution == 20)
                SetSensorInfo("CCD-SENSOR:1024 pixel; 4096 subpixel",
                              "8.0mm working range; 2µm resolution");
            else
                SetSensorInfo("CCD-SENSOR:1024 pixel; 2048 subpixel",
                              "8.0mm working range; 4µm resolution");
            RuleV();
            SetCtrlAttribute(pHandle, PANEL_RINGRs232Mode, ATTR_DIMMED, 1);
        }
        SetSwitchTexts("HI-GAIN", "LO-GAIN");
        RuleA();
        pixB = 1;
        pixE = ccdvirtpixel;
        break;
    case 2:
        if (ccdresolution == 750)
            SetSensorInfo("CCD-SENSOR:1024 pixel; 25µm pixel-pitch;",
                          "opt.-lense, 75mm working range");
        if (hwtype == 250 || ccdresolution == 250) {
            SetSensorInfo("CCD-SENSOR:1024 pixel; 2048 subpixel",
                          "25.6mm working range; 12.5µm resolution");
            RuleV();
        }
        if (hwtype == 350 || ccdresolution == 350) {
            SetSensorInfo("CCD-SENSOR:1024 pixel; 2048 subpixel",
                          "35mm working range; 17µm resolution");
            RuleV();
        }
        SetSwitchTexts("HI-GAIN", "LO-GAIN");
        RuleA();
        pixB = 1;
        pixE = ccdvirtpixel;
        break;
    case 3:
        SetSensorInfo("CCD-SENSOR:512 pixel; 25µm pixel-pitch;", "12,8mm working range");
        SetSwitchTexts("HI-GAIN", "LO-GAIN");
        RuleV();
        if (softversion >= 240) SetCtrlAttribute(pHandle, PANEL_RINGRs232Mode, ATTR_DIMMED, 1);
        RuleA();
        pixB = 1;
        pixE = ccdvirtpixel;
        break;
    case 4:
        SetSensorInfo("CCD-SENSOR:512 pixel; 12,5µm pixel-pitch;", "6,4mm working range");
        SetAxisScalingMode(pHandle, PANEL_STRIPRaw, VAL_LEFT_YAXIS, VAL_MANUAL, 0.0, ccdmaxpixel);
        pixB = 1;
        pixE = 512;
        break;
    case 101:
        SetSensorInfo("CCD-SENSOR:256 pixel; 63.5µm pixel-pitch;",
                      "Working-Range: 16.25mm, Resolution: 31.75µm (subpixel x2)");
        SetSwitchTexts(adcOn, adcOff);
        RuleV();
        RuleA();
        pixB = 1;
        pixE = ccdvirtpixel;
        break;
    case 102:
        SetSensorInfo("CCD-SENSOR:768 pixel; 63.5µm pixel-pitch;",
                      "Working-Range: 48,8mm, Resolution: 31.75µm (subpixel x2)");
        SetSwitchTexts(adcOn, adcOff);
        RuleV();
        RuleA8Bit();
        pixB = 1;
        pixE = ccdvirtpixel;
        break;
    case 103:
        SetSensorInfo("CCD-SENSOR:1180 pixel; 63.5µm pixel-pitch;",
                      "Working-Range: 74,9mm,   Resolution: 31.75µm (subpixel x2)");
        SetSwitchTexts(adcOn, adcOff);
        RuleV();
        RuleA8Bit();
        pixB = 1;
        pixE = ccdvirtpixel;
        break;
    case 104:
        if (softversion >= 250)
            SetSensorInfo("CCD-SENSOR:1536 pixel; 63.5µm pixel-pitch;",
                          "Working-Range: 97,5mm, Resolution: 31.75µm (subpixel x2)");
        else
            SetSensorInfo("CCD-SENSOR:1536 pixel; 63.5µm pixel-pitch;",
                          "Working-Range: 97,5mm, Resolution: 63.5µm");
        SetSwitchTexts(adcOn, adcOff);
        RuleV();
        RuleA8Bit();
        pixB = 1;
        pixE = ccdvirtpixel;
        break;
    default:
        SetSensorInfo("CCD-SENSOR: no information avialable!",
                      "                                     ");
        SetSwitchTexts(adcOn, adcOff);
        pixB = 1;
        pixE = 1024;
        break;
    }
}

int GetHARDWAREInfo(void) {
    Exchange x(10);
    x.timeFirst = true;
    if (SendAndWait(x) != EXCHANGE_DONE) {
        SetStatus("Timeout-RS-232...");
        LinkCountTimeout();
        return 0;
    }

    // stored before the header is looked at, as the sensor description always was
    ccdtype = pp[0];
    ccdmaxpixel = pp[1];
    ccdresolution = pp[2];
    pcbtype = pp[3];
    ccdvirtpixel = pp[4];
    ccdsubpixel = pp[5];
    ccdpixB = pp[6];
    ccdpixE = pp[7];
    softversion = pp[8];
    hwtype = pp[9];
    adcmax = pp[10];

    const unsigned header =
        static_cast<unsigned char>(szReadBuf[2]) * 256u + static_cast<unsigned char>(szReadBuf[3]);
    if (header != 10) return 0;

    SetAxisScalingMode(pHandle, PANEL_GRAPHVideo, VAL_XAXIS, VAL_MANUAL, 1.0, ccdvirtpixel);

    // clang-format off
    switch (ccdmaxpixel) {
    case 512: case 768: case 1024: case 1280: case 1536: case 2048: case 3072: case 4096:
        break;
    default:
        ccdmaxpixel = 1024;
        break;
    }
    // clang-format on

    const int spacing = SampleSpacing();
    for (int i = 0; i < 256; ++i) xArray8[i] = static_cast<double>(spacing) * i;

    ApplySensorType();
    return 1;
}

struct SeriesEntry {
    const char *name;
    size_t len;
    int result;   // 0: accepted
};

// clang-format off
static const SeriesEntry kSeries[] = {
    {"K-VEX-XC", 8, 0},
    {"K-VEX-XD", 8, -1},
    {"K-VEX-XG-XC", 11, -2},
    {"K-VEX-XH-XC", 11, -3},
    {"K-VEX-XG-XD", 11, -4},
    {"K-VEX-XH-XD", 11, -5},
    {"K-VEX-XF", 8, -6},
};
// clang-format on

// The sensor's texts are 8-bit, Latin-1 (0xB5 is the micro sign); the
// program's texts are UTF-8. The text ends at the first NUL.
static void Latin1ToUtf8(const char *in, size_t n, char *out, size_t size) {
    size_t o = 0;
    for (size_t i = 0; i < n && in[i] != '\0'; ++i) {
        const unsigned char c = static_cast<unsigned char>(in[i]);
        if (c < 0x80) {
            if (o + 1 >= size) break;
            out[o++] = static_cast<char>(c);
        } else {
            if (o + 2 >= size) break;
            out[o++] = static_cast<char>(0xC0 | (c >> 6));
            out[o++] = static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    out[o] = '\0';
}

int GetVERSIONInfo(void) {
    InstallComCallback(com, 0, FRAME_BYTES, sync, nullptr, nullptr);
    // No event pump while the text comes.
    Exchange x(7, Await::Raw, 72);
    x.pump = false;
    x.timeFirst = true;
    x.written = [] {
        if (nBytesW == FRAME_BYTES) ShowStatusText("Waiting for parameter-frame ...");
        ShowStatusText("Waiting for firmware info ...");
        return true;
    };
    int n = 0;
    if (SendAndWait(x, &n) == EXCHANGE_TIMEOUT) {
        SetStatus("Timeout - reading firmware info!");
        LinkCountTimeout();
    }
    // a failing port is not a foreign series
    if (n < 0) n = 0;

    szVersion[0] = '\0';
    if (nBytesR == 72) {
        if (pcbtype == 0) {
            // 36 words, one character each in the low byte
            char text[36];
            for (int i = 0; i < 36; ++i) text[i] = szReadBuf[2 * i + 1];
            Latin1ToUtf8(text, 36, szVersion, sizeof szVersion);
        } else {
            Latin1ToUtf8(szReadBuf, 72, szVersion, sizeof szVersion);
        }
        SetStatus(szVersion);
    }

    InstallComCallback(com, eventMask, FRAME_BYTES, sync, RX_Receive_Function, nullptr);
    FlushInQ(com);
    FlushOutQ(com);
    rx_flag = 0;
    ShowStatus();

    for (const SeriesEntry &s : kSeries) {
        if (std::strncmp(szStatus, s.name, s.len) == 0) return s.result == 0 ? n : s.result;
    }
    return n;
}

const char *SeriesRefusedText(int r) {
    switch (r) {
    case -1: return "K-VEX-XD-series hardware detected!\nUSE K-VEX-XD-Ridar Software!";
    case -2:
    case -3: return "K-VEX-XJ-XC-series hardware detected!\nUSE K-VEX-XJ-XC-Ridar Software!";
    case -4:
    case -5: return "K-VEX-XJ-XD-series hardware detected!\nUSE K-VEX-XJ-XD-Ridar Software!";
    case -6: return "K-VEX-XF-series hardware detected!\nUSE K-VEX-XF-Ridar Software!";
    default:
        return "Incompatible hardware detected!\nCan not be used with K-VEX-XC-Ridar Software!";
    }
}

// The device of the open port went away (a pulled adapter). A loop that ran
// has ended by its time-out by now; say why, and that the port ring brings
// the line back once the device is there again.
static void LineLost(int port) {
    if (port != com) return;
    SetStatus("RS-232 port lost! - Reconnect, then choose the port again.");
    ShowStatus();
}

void InitRS232(int port) {
    rt_SetPortLostHook(LineLost);
    // another port may be another sensor: nothing is known of its RAM yet
    linkUp.forgetSensorRam();
    const int rc = OpenComConfig(port, "", 19200, 0, 8, 1, 4096, 4096);
    if (rc < 0) {
        LinkCountOpenFailure();
        SetStatus(ComErrorText(rc));
        ShowStatus();
        return;
    }
    SetComTime(port, TIMEOUT);
    FlushInQ(port);
    FlushOutQ(port);
    SetCTSMode(port, 0);
    InstallComCallback(port, eventMask, FRAME_BYTES, sync, RX_Receive_Function, nullptr);

    if (CheckComLine(port) == 1) {
        // The first failure of the sequence stays in the status line; the
        // later steps would otherwise replace it with an empty or stale text.
        const char *fault = nullptr;
        RestoreIdentStart();
        Delay(0.1);
        if (GetHARDWAREInfo() == 0) {
            SetStatus("Error reading HARDWARE-info!");
            fault = "Error reading HARDWARE-info!";
        }
        Delay(0.1);
        const int r = GetVERSIONInfo();
        if (r > 0 && r < 72) SetStatus("Error reading firmware-info!");
        if (fault == nullptr) {
            if (r == 0) fault = "Timeout - reading firmware info!";
            else if (r > 0 && r != 72) fault = "Error reading firmware-info!";
        }
        if (r < 0) {
            MessagePopup("Attention !!!", SeriesRefusedText(r));
            SetCtrlAttribute(pHandle, PANEL_CTRLSeriesLockB, ATTR_DIMMED, 1);
            SetCtrlAttribute(pHandle, PANEL_CTRLSeriesLockA, ATTR_DIMMED, 1);
        } else {
            SetCtrlAttribute(pHandle, PANEL_CTRLSeriesLockB, ATTR_DIMMED, 0);
            SetCtrlAttribute(pHandle, PANEL_CTRLSeriesLockA, ATTR_DIMMED, 0);
            Delay(0.1);
            linkUp.getRamSet();
            if (fault == nullptr && std::strcmp(szStatus, "Timeout-RS-232...") == 0)
                fault = "Timeout-RS-232...";
            SetStatus(szVersion);
            if (fault != nullptr) SetStatus(fault);
        }
    }
    ShowStatus();
}

RIDAR_CALLBACK(CC_DropDCom) {
    (void)panel;
    (void)control;
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event != EVENT_COMMIT) return 0;
    stop_flag = STOP_ASKED;
    Sleep(100);
    CloseCom(com);
    Sleep(100);
    GetCtrlVal(pHandle, PANEL_DropDCom, &com);
    ShowStatusText("Init COM-Port ...");
    InitRS232(com);
    linkUp.initGui();
    return 0;
}

RIDAR_CALLBACK(CC_DROPHardware) {
    (void)panel;
    (void)control;
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event != EVENT_COMMIT) return 0;
    int value = 0;
    GetCtrlVal(pHandle, PANEL_DROPHardware, &value);
    SetCtrlAttribute(pHandle, PANEL_NEDITTolerance, ATTR_DIMMED,
                     (value == 1 || value == 3) ? 1 : 0);
    return 0;
}
