// Opening the link and identifying the sensor: hardware and firmware
// information, refused series, port change.
#include "link/frame.h"

#include <cstring>

#include "proto/proto.h"
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
    const int newFirmware = proto::Word15IsTrigMode(softversion);
    SetCtrlAttribute(pHandle, PANEL_RINGTrigMode, ATTR_VISIBLE, newFirmware ? 1 : 0);
    SetCtrlAttribute(pHandle, PANEL_NUMDeltaTol, ATTR_VISIBLE, newFirmware ? 0 : 1);
}

static void Latin1ToUtf8(const char *in, size_t n, char *out, size_t size);

// The sensor type's row: what the model says, onto the panel.
static void ApplySensorType(const proto::SensorModel &m) {
    if (!m.line0.empty()) {
        char l0[160], l1[160];
        Latin1ToUtf8(m.line0.data(), m.line0.size(), l0, sizeof l0);
        Latin1ToUtf8(m.line1.data(), m.line1.size(), l1, sizeof l1);
        SetSensorInfo(l0, l1);
    }
    if (!m.gainOn.empty()) SetSwitchTexts(m.gainOn.c_str(), m.gainOff.c_str());
    if (m.word15ByFirmware) RuleV();
    if (m.rs232ModeFixed) SetCtrlAttribute(pHandle, PANEL_RINGRs232Mode, ATTR_DIMMED, 1);
    if (m.stripToMaxPixels)
        SetAxisScalingMode(pHandle, PANEL_STRIPRaw, VAL_LEFT_YAXIS, VAL_MANUAL, 0.0, ccdmaxpixel);
    YMAXADC = m.YMAXADC;
    pixB = m.pixB;
    pixE = m.pixE;
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
    const proto::HardwareInfo hw = proto::HardwareFromWords(AsWords(pp));
    ccdtype = hw.ccdtype;
    ccdmaxpixel = hw.ccdmaxpixel;
    ccdresolution = hw.ccdresolution;
    pcbtype = hw.pcbtype;
    ccdvirtpixel = hw.ccdvirtpixel;
    ccdsubpixel = hw.ccdsubpixel;
    ccdpixB = hw.ccdpixB;
    ccdpixE = hw.ccdpixE;
    softversion = hw.softversion;
    hwtype = hw.hwtype;
    adcmax = hw.adcmax;

    if (proto::GetWord(reinterpret_cast<const uint8_t *>(szReadBuf) + 2) != 10) return 0;

    const proto::SensorModel m = proto::ModelFromHardware(hw, YMAXADC);
    SetAxisScalingMode(pHandle, PANEL_GRAPHVideo, VAL_XAXIS, VAL_MANUAL, 1.0, m.graphPixels);
    ccdmaxpixel = m.hw.ccdmaxpixel;
    ccdvirtpixel = m.hw.ccdvirtpixel;
    for (int i = 0; i < 256; ++i) xArray8[i] = static_cast<double>(m.spacing) * i;

    ApplySensorType(m);
    return 1;
}

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
        const std::string text =
            proto::FirmwareText(reinterpret_cast<const uint8_t *>(szReadBuf), 72, pcbtype);
        Latin1ToUtf8(text.data(), text.size(), szVersion, sizeof szVersion);
        SetStatus(szVersion);
    }

    InstallComCallback(com, eventMask, FRAME_BYTES, sync, RX_Receive_Function, nullptr);
    FlushInQ(com);
    FlushOutQ(com);
    rx_flag = 0;
    ShowStatus();

    const int series = proto::SeriesResult(szStatus);
    return series == 0 ? n : series;
}

const char *SeriesRefusedText(int r) { return proto::SeriesRefusedText(r); }

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
