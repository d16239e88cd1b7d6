// The parameter set on the main panel and the calibration popup, and the
// controls that act at once when edited.
#include <cstdio>
#include <cstring>

#include "ui/panels.h"
#include "params/vars.h"

// The five controls of the analogue output that only make sense for the
// MAX/MIN modes.
static void ShowAnaControls(int show) {
    static const int ids[] = {PANEL_NUMAnaValue, PANEL_NUMAnaMax, PANEL_NUMAnaMin,
                              PANEL_CTRLAnaGroupA, PANEL_CTRLAnaGroupB};
    for (int id : ids) SetCtrlAttribute(pHandle, id, ATTR_VISIBLE, show ? 1 : 0);
}

static double ToleranceMm(uint16_t t) {
    return static_cast<double>(slope) * static_cast<double>(t) /
           (static_cast<double>(SlopeScale()) * 1000.0);
}

// Label of an item added for a value the ring has no item for.
static const char kAddedItem[] = "mode ";

static int IsAddedItem(const char *label) {
    const size_t n = sizeof kAddedItem - 1;
    if (std::strncmp(label, kAddedItem, n) != 0 || label[n] == '\0') return 0;
    for (const char *c = label + n; *c; ++c)
        if (*c < '0' || *c > '9') return 0;
    return 1;
}

void ShowRingValue(int control, int value) {
    // an item added for an earlier value goes again
    int n = 0;
    GetNumListItems(pHandle, control, &n);
    for (int i = n - 1; i >= 0; --i) {
        char label[64] = "";
        GetLabelFromIndex(pHandle, control, i, label, static_cast<int>(sizeof label));
        if (IsAddedItem(label)) DeleteListItem(pHandle, control, i, 1);
    }
    if (SetCtrlVal(pHandle, control, value) == 0) return;
    // Shown as another mode, the next send would change the sensor's
    // setting although the operator picked nothing.
    char label[32];
    std::snprintf(label, sizeof label, "%s%d", kAddedItem, value);
    InsertListItem(pHandle, control, -1, label, value);
    SetCtrlVal(pHandle, control, value);
}

void GetPanelValues(void) {
    GetCtrlVal(pHandle, PANEL_NUMPower, &power);
    GetCtrlVal(pHandle, PANEL_RINGRs232Mode, &rs232Mode);
    GetCtrlVal(pHandle, PANEL_NUMVideoThreshold, &vThd);
    GetCtrlVal(pHandle, PANEL_RINGanaMode, &anaMode);
    GetCtrlVal(pHandle, PANEL_NUMPolarity, &polarity);
    GetCtrlVal(pHandle, PANEL_NUMEvalMode, &eMode);
    GetCtrlVal(pHandle, PANEL_NEDITEdgeLeft, &eBeg);
    GetCtrlVal(pHandle, PANEL_NEDITEdgeRight, &eEnd);
    GetCtrlVal(pHandle, PANEL_NUMSetpoint, &tVal);
    GetCtrlVal(pHandle, PANEL_NEDITTolerance, &tTol);
    GetCtrlVal(pHandle, PANEL_DROPHardware, &eHardware);
    GetCtrlVal(pHandle, PANEL_NUMAverage, &average);
    GetCtrlVal(pHandle, PANEL_SWITCHOpMode, &opMode);
    GetCtrlVal(pHandle, PANEL_NUMDeltaTol, &deltaTol);
    GetCtrlVal(pHandle, PANEL_RINGTrigMode, &trigMode);

    float s = 0.0f, o = 0.0f;
    GetCtrlVal(pPopup, POPUP_NUMCalSlope, &s);
    GetCtrlVal(pPopup, POPUP_NUMCalOffset, &o);
    slope = DoubleToWord(static_cast<double>(SlopeScale()) * static_cast<double>(s));
    intersect = DoubleToWord(static_cast<double>(YOFFSET) + static_cast<double>(o));
}

void SetPanelValues(void) {
    const uint16_t vp = ccdvirtpixel;

    // Out-of-range values are replaced before they are shown; some of the
    // replacements are not the nearest limit, and the sensor expects that.
    if (power > 1000) power = 500;
    if (rs232Mode > 1) rs232Mode = 0;
    if (vThd > 950) vThd = 950;
    if (vThd < 50) vThd = 50;
    if (anaMode > 7) anaMode = 0;
    if (polarity > 1) polarity = 1;
    if (eMode > 3) eMode = 4;
    if (tTol > vp) tTol = vp;
    if (tTol < 1) tTol = 1;
    if (deltaTol > vp) deltaTol = vp;
    if (deltaTol < 1) deltaTol = 1;
    if (eBeg > vp) eBeg = 1;
    if (eEnd > vp) eEnd = vp;
    if (eEnd == 0) eEnd = 1;
    if (eHardware > 3) eHardware = 3;
    if (average > 1024) average = 1024;
    if (slope == 65535) slope = SLOPE_x1024;   // an erased calibration word
    if (intersect > 60000) intersect = YOFFSET;

    const int k = SlopeScale();
    const float slopeShown = static_cast<float>(static_cast<double>(slope) / k);
    const float offsetShown = static_cast<float>(static_cast<int>(intersect) - YOFFSET);

    SetCtrlAttribute(pHandle, PANEL_NEDITTolerance, ATTR_DIMMED,
                     (eHardware == 1 || eHardware == 3) ? 1 : 0);
    ShowAnaControls(anaMode > 1);

    SetCtrlVal(pHandle, PANEL_NUMPower, power);
    SetCtrlVal(pHandle, PANEL_RINGRs232Mode, rs232Mode);
    SetCtrlVal(pHandle, PANEL_NUMVideoThreshold, vThd);
    ShowRingValue(PANEL_RINGanaMode, anaMode);
    SetCtrlVal(pHandle, PANEL_NUMPolarity, polarity);
    SetCtrlVal(pHandle, PANEL_NUMEvalMode, eMode);
    SetCtrlVal(pHandle, PANEL_NEDITEdgeLeft, eBeg);
    SetCtrlVal(pHandle, PANEL_NEDITEdgeRight, eEnd);
    SetCtrlVal(pHandle, PANEL_NUMSetpoint, tVal);
    SetCtrlVal(pHandle, PANEL_NEDITTolerance, tTol);
    SetCtrlVal(pHandle, PANEL_DROPHardware, eHardware);
    SetCtrlVal(pHandle, PANEL_NUMAverage, average);
    SetCtrlVal(pHandle, PANEL_SWITCHOpMode, opMode);
    ShowRingValue(PANEL_RINGTrigMode, trigMode);
    SetCtrlVal(pHandle, PANEL_NUMDeltaTol, deltaTol);

    SetCtrlVal(pPopup, POPUP_NUMCalSlope, static_cast<double>(slopeShown));
    SetCtrlVal(pPopup, POPUP_NUMCalOffset, static_cast<double>(offsetShown));

    SetCtrlVal(pHandle, PANEL_NUMToleranceMm, ToleranceMm(tTol));

    paramsUp.showThreshold(vThd);

    SetAxisScalingMode(pHandle, PANEL_GRAPHBar, VAL_XAXIS, VAL_MANUAL, 1.0,
                       static_cast<double>(vp));
    SetGraphCursor(pHandle, PANEL_GRAPHBar, 2, eBeg, 0.75);
    SetGraphCursor(pHandle, PANEL_GRAPHBar, 3, eEnd, 0.75);
    PlotRectangle(pHandle, PANEL_GRAPHBar, 0.0, 0.0, static_cast<double>(vp), 1.0, 0xA0A0A0,
                  0xA0A0A0);
    const int left = static_cast<int>(tVal) - static_cast<int>(tTol);
    const int right = static_cast<int>(tVal) + static_cast<int>(tTol);
    PlotRectangle(pHandle, PANEL_GRAPHBar, left, 0.0, right, 0.25, VAL_GREEN, VAL_GREEN);
    UpdateMarks();
}

RIDAR_CALLBACK(CC_NEDITTolerance) {
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event != EVENT_VAL_CHANGED) return 0;
    uint16_t t = 0;
    GetCtrlVal(panel, control, &t);
    SetCtrlVal(pHandle, PANEL_NUMToleranceMm, ToleranceMm(t));
    return 0;
}

RIDAR_CALLBACK(CC_NEDITEdgeLeft) {
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event != EVENT_COMMIT) return 0;
    uint16_t v = 0;
    GetCtrlVal(panel, control, &v);
    if (v < pixB) {
        v = pixB;
        eBeg = v;
    }
    if (v > pixE) {
        v = static_cast<uint16_t>(pixE - 1);   // leaves room for the right limit
        eBeg = v;
    }
    SetCtrlVal(panel, control, v);
    SetGraphCursor(pHandle, PANEL_GRAPHBar, 2, v, 1.0);
    return 0;
}

RIDAR_CALLBACK(CC_NEDITEdgeRight) {
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event != EVENT_COMMIT) return 0;
    uint16_t v = 0;
    GetCtrlVal(panel, control, &v);
    if (v > pixE) {
        v = pixE;
        eEnd = v;
    }
    if (v < pixB) {
        v = static_cast<uint16_t>(pixB + 1);   // leaves room for the left limit
        eEnd = v;
    }
    SetCtrlVal(panel, control, v);
    SetGraphCursor(pHandle, PANEL_GRAPHBar, 3, v, 1.0);
    return 0;
}

RIDAR_CALLBACK(CC_NUMVideoThreshold) {
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event != EVENT_VAL_CHANGED) return 0;
    uint16_t h = 0;
    GetCtrlVal(panel, control, &h);
    // only the line moves; vThd follows when the panel is next read
    paramsUp.showThreshold(h);
    return 0;
}

RIDAR_CALLBACK(CC_RINGanaMode) {
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event != EVENT_COMMIT) return 0;
    int m = 0;
    GetCtrlVal(panel, control, &m);
    ShowAnaControls(m > 1);
    return 0;
}

RIDAR_CALLBACK(CC_TOGGBTN_ParaII) {
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event != EVENT_COMMIT) return 0;
    int on = 0;
    GetCtrlVal(panel, control, &on);
    if (on == 0) HidePanel(pPopup);
    else DisplayPanel(pPopup);
    return 0;
}

RIDAR_CALLBACK(CC_ButtonTeach) {
    (void)panel;
    (void)control;
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event != EVENT_COMMIT) return 0;
    // the sensor takes the object it sees, so the payload does not matter
    Exchange x(6);
    x.written = [] {
        if (nBytesW != FRAME_BYTES) return false;   // a torn request teaches nothing
        SetStatus("New setpoint value teached!");
        ShowStatus();
        return true;
    };
    const int end = SendAndWait(x);
    if (end == EXCHANGE_NOT_SENT) {
        SetStatus(kNotSentText);
        ShowStatus();
    } else if (end == EXCHANGE_DONE) {
        PushGET(RAM);
    } else {
        // the sensor never confirmed: the set-point was not taught
        SetStatus("Timeout-RS-232...");
        ShowStatus();
        LinkCountTimeout();
    }
    return 0;
}
