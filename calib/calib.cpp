// Calibration procedure: calibration mode on the sensor, the two measurement
// steps, the least-squares line and storing it in the sensor's RAM.
#include "calib/calib.h"

#include <cstdio>

#include "ui/panels.h"
#include "params/vars.h"

static const char kWaitText[] = "Reset Max/Min values...";

// 1 while oldMode holds the mode an activation of this cycle saved.
static int modeSaved = 0;

// Gives eMode back the mode saved on activation, and shows it: that is the
// mode the next frames carry. Without an activation oldMode is 0 or a mode
// of an earlier cycle, so nothing is restored then.
static void RestoreMode(void) {
    if (!modeSaved) return;
    eMode = oldMode;
    SetCtrlVal(pHandle, PANEL_NUMEvalMode, static_cast<unsigned>(eMode));
    modeSaved = 0;
}
static const char kTimeoutText[] = "Timeout-RS-232...";

static void Status(const char *text) {
    SetStatus(text);
    ShowStatus();
}

static void Dim(int panel, int control, int dimmed) {
    SetCtrlAttribute(panel, control, ATTR_DIMMED, dimmed);
}

// A loop that is running (run or video mode, a recording) may have a
// request on the line whose reply has not come yet. Let it in first, or it
// would be taken for the answer to our own order; when it does not come in
// its time-out the sensor is silent: the action then ends as by its own
// time-out, without sending anything. 1 when the action may send.
static int WaitForPendingReply(void) { return HoldLoop(); }

// Sends pp with the order and waits for the reply, "Reset Max/Min values..."
// in the status line meanwhile; 1 when it came in time.
static int AskSensor(int orderCode) {
    order = orderCode;
    Exchange x(order);
    x.written = [] {
        Status(kWaitText);
        return true;
    };
    if (SendAndWait(x) == EXCHANGE_DONE) return 1;
    LinkCountTimeout();
    return 0;
}

// Sends order 12 with the payload words already set in pp (the others go
// out as they are) and waits for the reply. 1 when it came in time; then
// slope and intersect hold the calibration the sensor reports. Nothing is
// sent when a loop's reply never came (held 0).
static int CalibrationExchange(int held) {
    if (!held || !AskSensor(12)) {
        Status(kTimeoutText);
        return 0;
    }
    GetRxBuf(PNUM);
    slope = pp[0];
    intersect = pp[1];
    NoteSensorRamWord(12, slope);
    NoteSensorRamWord(13, intersect);
    return 1;
}

// Shows the calibration words in micrometres per pixel and micrometres.
static void ShowCalibration(void) {
    float s = static_cast<float>(static_cast<double>(slope) / static_cast<double>(SlopeScale()));
    float o = static_cast<float>(static_cast<int32_t>(intersect) - YOFFSET);
    SetCtrlVal(pPopup, POPUP_NUMCalSlope, static_cast<double>(s));
    SetCtrlVal(pPopup, POPUP_NUMCalOffset, static_cast<double>(o));
}

// Ends the procedure's part of the popup: every step control dimmed and
// unticked, both steps to be taken anew.
static void ResetSteps(void) {
    Dim(pPopup, POPUP_ButtonAcceptObject1, 1);
    Dim(pPopup, POPUP_ButtonAcceptObject2, 1);
    Dim(pPopup, POPUP_CheckStep1, 1);
    Dim(pPopup, POPUP_CheckStep2, 1);
    Dim(pPopup, POPUP_ButtonDoFit, 1);
    Dim(pPopup, POPUP_ButtonSaveCalValues, 1);
    SetCtrlVal(pPopup, POPUP_CheckStep1, 0);
    SetCtrlVal(pPopup, POPUP_CheckStep2, 0);
    flagstep1 = 0;
    flagstep2 = 0;
}

int LinFit(const double *x, const double *y, int n, double *z, double *slopeOut,
           double *interceptOut, double *mseOut) {
    if (n < 2) return -20006;
    long double sx = 0, sxx = 0, sy = 0, sxy = 0;
    for (int i = 0; i < n; ++i) {
        sx += x[i];
        sxx += static_cast<long double>(x[i]) * x[i];
        sy += y[i];
        sxy += static_cast<long double>(x[i]) * y[i];
    }
    long double d = sx * sx - n * sxx;
    double k = static_cast<double>((sx * sy - n * sxy) / d);
    double b = static_cast<double>((sx * sxy - sxx * sy) / d);
    double e = 0.0;
    for (int i = 0; i < n; ++i) {
        z[i] = k * x[i] + b;
        e += (z[i] - y[i]) * (z[i] - y[i]);
    }
    *slopeOut = k;
    *interceptOut = b;
    *mseOut = e / n;
    return 0;
}

RIDAR_CALLBACK(CC_ActivateCalibration) {
    (void)panel;
    (void)control;
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event != EVENT_COMMIT) return 0;
    const int held = WaitForPendingReply();
    pp[0] = 1;
    const int ok = CalibrationExchange(held);
    ReleaseLoop();
    if (!ok) return 0;
    Status("Calibration activated!");
    ShowCalibration();
    oldMode = eMode;
    modeSaved = 1;
    SetCtrlVal(pHandle, PANEL_NUMEvalMode, 2);
    ProcessSystemEvents();
    Dim(pPopup, POPUP_CheckStep1, 0);
    Dim(pPopup, POPUP_CheckStep2, 0);
    // Live values are needed for the steps: start the run loop unless one
    // is running already (any non-zero stop_flag means none is).
    if (stop_flag != STOP_RUNNING) PushRUN();
    return 0;
}

RIDAR_CALLBACK(CC_DiscardCalibration) {
    (void)panel;
    (void)control;
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event != EVENT_COMMIT) return 0;
    const int held = WaitForPendingReply();
    stop_flag = STOP_ASKED;
    pp[0] = 0;
    const int ok = CalibrationExchange(held);
    ReleaseLoop();
    if (ok) {
        Status("Calibration stopped successfully!");
        ShowCalibration();
        RestoreMode();
        ProcessSystemEvents();
    }
    ResetSteps();
    HidePanel(pPopup);
    SetCtrlVal(pHandle, PANEL_TOGGBTN_ParaII, 0);
    return 0;
}

// The two step boxes act as a pair: at most one ticked, and only the accept
// button of the ticked step usable. step is 0 or 1.
static const int kCheck[2] = {POPUP_CheckStep1, POPUP_CheckStep2};
static const int kAccept[2] = {POPUP_ButtonAcceptObject1, POPUP_ButtonAcceptObject2};
static const int kUm[2] = {POPUP_NUMUmObject1, POPUP_NUMUmObject2};

static void StepChanged(int step) {
    int on = 0;
    GetCtrlVal(pPopup, kCheck[step], &on);
    if (on == 1) SetCtrlVal(pPopup, kCheck[1 - step], 0);
    Dim(pPopup, kAccept[0], !(on == 1 && step == 0));
    Dim(pPopup, kAccept[1], !(on == 1 && step == 1));
}

// Takes the live value as the pixel point of one object.
static void AcceptObject(int step) {
    (step == 0 ? flagstep1 : flagstep2) = 1;
    uint16_t um = 0;
    GetCtrlVal(pPopup, kUm[step], &um);
    pixel[step] = static_cast<double>(Mvalue);
    umeter[step] = static_cast<double>(um);
    if (flagstep1 == 1 && flagstep2 == 1) Dim(pPopup, POPUP_ButtonDoFit, 0);
    Dim(pPopup, kCheck[step], 1);
    Dim(pPopup, kAccept[step], 1);
    SetCtrlVal(pPopup, kCheck[step], 0);
}

RIDAR_CALLBACK(CC_CheckStep1) {
    (void)panel;
    (void)control;
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event == EVENT_VAL_CHANGED) StepChanged(0);
    return 0;
}

RIDAR_CALLBACK(CC_CheckStep2) {
    (void)panel;
    (void)control;
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event == EVENT_VAL_CHANGED) StepChanged(1);
    return 0;
}

RIDAR_CALLBACK(CC_ButtonAcceptObject1) {
    (void)panel;
    (void)control;
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event == EVENT_COMMIT) AcceptObject(0);
    return 0;
}

RIDAR_CALLBACK(CC_ButtonAcceptObject2) {
    (void)panel;
    (void)control;
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event == EVENT_COMMIT) AcceptObject(1);
    return 0;
}

RIDAR_CALLBACK(CC_ButtonReset) {
    (void)panel;
    (void)control;
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event != EVENT_COMMIT) return 0;
    const int held = WaitForPendingReply();
    int ok = 0;
    if (held) {
        // An all-zero payload asks order 11 for the video line instead of the
        // reset; before any frame went through pp it may still be all zero, so
        // send the parameter set then, as the measuring orders do.
        int zero = 1;
        for (int i = 0; i < PNUM; ++i)
            if (pp[i] != 0) zero = 0;
        if (zero) CopyVarsToPP();
        ok = AskSensor(11);
    }
    ReleaseLoop();
    Status(ok ? "Reset of analog-output Max/Min OK!" : kTimeoutText);
    return 0;
}

// A fit that cannot be stored: nothing is shown or sent, and both steps are
// open again for new points.
static void RefuseFit(const char *message) {
    SetCtrlVal(pPopup, POPUP_NUMFitSlope, 0.0);
    SetCtrlVal(pPopup, POPUP_NUMFitIntercept, 0.0);
    ResetSteps();
    Dim(pPopup, POPUP_CheckStep1, 0);
    Dim(pPopup, POPUP_CheckStep2, 0);
    MessagePopup("Calibration", message);
}

// The sensor holds the line as two unsigned words, slope times the slope
// scale and offset plus YOFFSET, each truncated toward zero. A line outside
// them would wrap into another one (swapped object sizes give a negative
// slope, stored as a positive one). NaN fails every comparison.
static int FitsCalibrationWords(double slopeUm, double offsetUm) {
    const double s = static_cast<double>(SlopeScale()) * slopeUm;
    const double o = static_cast<double>(YOFFSET) + offsetUm;
    return s >= 1.0 && s < 65536.0 && o > -1.0 && o < 65536.0;
}

static void RefuseUnstorableFit(double slopeUm, double offsetUm) {
    char text[400];
    snprintf(text, sizeof text,
             "The fitted line cannot be stored in the sensor - not saved!\n"
             "Slope %.4f µm/pixel (possible: above 0 up to %.4f),\n"
             "offset %.1f µm (possible: -30000 to 35535).\n"
             "Check the sizes of both objects and take both objects again.",
             slopeUm, 65535.0 / static_cast<double>(SlopeScale()), offsetUm);
    RefuseFit(text);
}

RIDAR_CALLBACK(CC_ButtonDoFit) {
    (void)panel;
    (void)control;
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event != EVENT_COMMIT) return 0;
    // Two equal pixel values leave the line undetermined (the fit would
    // divide by zero and its result would reach the sensor).
    if (!(pixel[0] != pixel[1])) {
        RefuseFit("Both objects gave the same pixel value - no fit possible!\n"
                  "The two objects must differ in size. Please take both objects again.");
        return 0;
    }
    double z[2], k = 0.0, b = 0.0, e = 0.0;
    LinFit(pixel, umeter, 2, z, &k, &b, &e);
    if (!FitsCalibrationWords(k, b)) {
        RefuseUnstorableFit(k, b);
        return 0;
    }
    zarray[0] = z[0];
    zarray[1] = z[1];
    slopeval = k;
    interval = b;
    mse = e;
    SetCtrlVal(pPopup, POPUP_NUMFitSlope, slopeval);
    SetCtrlVal(pPopup, POPUP_NUMFitIntercept, interval);
    Dim(pPopup, POPUP_ButtonSaveCalValues, 0);
    Dim(pPopup, POPUP_ButtonDoFit, 1);
    return 0;
}

RIDAR_CALLBACK(CC_ButtonSaveCalValues) {
    (void)panel;
    (void)control;
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event != EVENT_COMMIT) return 0;
    // the slope scale belongs to the sensor, which may have changed since the fit
    if (!FitsCalibrationWords(slopeval, interval)) {
        RefuseUnstorableFit(slopeval, interval);
        return 0;
    }
    const int held = WaitForPendingReply();
    double scale = static_cast<double>(static_cast<uint16_t>(SlopeScale() & 0xFFFF));
    slope = DoubleToWord(scale * slopeval);
    intersect = DoubleToWord(static_cast<double>(YOFFSET) + interval);
    pp[0] = 2;
    pp[1] = slope;
    pp[2] = intersect;
    const int ok = CalibrationExchange(held);
    ReleaseLoop();
    if (ok) {
        Status("New Calibration values in activated in RAM!");
        ShowCalibration();
        RestoreMode();
        ResetSteps();
    }
    Dim(pPopup, POPUP_ButtonSaveCalValues, 1);
    ProcessSystemEvents();
    return 0;
}
