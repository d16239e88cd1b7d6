// Variable defaults, the port ring and the main panel's mode-dependent layout.
#include "app/app.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "display/display.h"
#include "link/frame.h"
#include "params/vars.h"
#include "recorder/recorder.h"

// Adapters come and go while the program runs: the list shows the ports
// present when the operator opens it.
static void ComRingOpened(void) {
    rt_RefreshPortTable();
    FillComRing();
    KeepIdentStart();
}

void FillComRing(void) {
    rt_SetRingOpenHook(pHandle, PANEL_DropDCom, ComRingOpened);
    // every change of port closes the line and identifies anew: a wheel
    // notch or an arrow key passing over the ring must not do that
    rt_SetRingChoiceOnly(pHandle, PANEL_DropDCom, 1);
    ClearListCtrl(pHandle, PANEL_DropDCom);
    const std::vector<std::string> ports = rt_PortTable();
    for (size_t i = 0; i < ports.size(); ++i) {
        char label[300];
        std::snprintf(label, sizeof label, "COM%d  %s", static_cast<int>(i + 1), ports[i].c_str());
        InsertListItem(pHandle, PANEL_DropDCom, -1, label, static_cast<int>(i + 1));
    }
    SetCtrlVal(pHandle, PANEL_DropDCom, com);
}

void InitVars(void) {
    power = 500;
    rs232Mode = 0;
    vThd = 512;
    anaMode = 0;
    polarity = 1;
    eMode = 1;
    eBeg = 1;
    eEnd = 1024;
    tVal = 512;
    tTol = 100;
    eHardware = 1;
    slope = SLOPE_x1024;
    intersect = YOFFSET;
    pixB = 1;
    pixE = 1024;
    com = 1;
    sync = 0x55;
    order = 1;
    target = RAM;
    rx_flag = 0;
    stop_flag = STOP_ASKED;
    ccdmaxpixel = 1024;
    ccdvirtpixel = 2048;
    pcbtype = 100;
    adcmax = 256;

    SetStatus("InitVars");
    ShowStatus();

    std::snprintf(szSoftVersion, sizeof szSoftVersion, "%s", "Version 2.52");
    std::snprintf(szSoftName, sizeof szSoftName, "%s", "K-VEX-XC-Ridar");
    ShowLogo(2);

    GetPanelValues();
    InitMarks();

    DeleteGraphPlot(pHandle, PANEL_GRAPHBar, VAL_DELETE_ALL, VAL_IMMEDIATE_DRAW);
    SetGraphCursor(pHandle, PANEL_GRAPHBar, 1, tVal, 1.0);
    SetGraphCursor(pHandle, PANEL_GRAPHBar, 2, eBeg, 1.0);
    SetGraphCursor(pHandle, PANEL_GRAPHBar, 3, eEnd, 1.0);
    const int left = static_cast<int>(tVal) - static_cast<int>(tTol);
    const int right = static_cast<int>(tVal) + static_cast<int>(tTol);
    PlotRectangle(pHandle, PANEL_GRAPHBar, left, 0.0, right, 0.25, VAL_GREEN, VAL_GREEN);

    for (int i = 0; i < 256; ++i) thdArray[i] = vThd;

    FillComRing();
}

static const char *const kAnaModeNew[] = {
    "DIRECT 0..10V", "DIRECT <no AVG>", "MAXIMA", "MINIMA", "MAX - MIN",
};
static const char *const kAnaModeOld[] = {
    "DIRECT 0..10V",       "DIRECT <no AVG>",    "MAX. int. trigg.",   "MIN. int. trigg.",
    "MAX-MIN int. trigg.", "MAX. ext. IN0-gate", "MIN. ext. IN0-gate", "MAX-MIN IN0-gate",
};

void InitGUI(void) {
    int hardware = 0;
    GetCtrlVal(pHandle, PANEL_DROPHardware, &hardware);
    SetCtrlAttribute(pHandle, PANEL_NEDITTolerance, ATTR_DIMMED,
                     (hardware == 1 || hardware == 3) ? 1 : 0);

    const int ana = anaMode > 1 ? 1 : 0;
    SetCtrlAttribute(pHandle, PANEL_NUMAnaValue, ATTR_VISIBLE, ana);
    SetCtrlAttribute(pHandle, PANEL_NUMAnaMax, ATTR_VISIBLE, ana);
    SetCtrlAttribute(pHandle, PANEL_NUMAnaMin, ATTR_VISIBLE, ana);
    SetCtrlAttribute(pHandle, PANEL_CTRLAnaGroupA, ATTR_VISIBLE, ana);
    SetCtrlAttribute(pHandle, PANEL_CTRLAnaGroupB, ATTR_VISIBLE, ana);

    ClearListCtrl(pHandle, PANEL_RINGanaMode);
    if (softversion >= 240) {
        for (int i = 0; i < 5; ++i)
            InsertListItem(pHandle, PANEL_RINGanaMode, -1, kAnaModeNew[i], i);
    } else {
        for (int i = 0; i < 8; ++i)
            InsertListItem(pHandle, PANEL_RINGanaMode, -1, kAnaModeOld[i], i);
    }
    // The refilled ring starts at its first item; show the mode the sensor
    // holds, or the next send would quietly change it.
    ShowRingValue(PANEL_RINGanaMode, anaMode);

    SetCtrlVal(pHandle, PANEL_TOGGBTN_Recorder, 0);

    DefaultRecFile(rec_fname, sizeof rec_fname);
    ResetTextBox(pRecord, RECORD_TEXTRecFile, rec_fname);

    SetActiveCtrl(pHandle, PANEL_CTRLStartFocus);
    SetActivePanel(pHandle);
}
