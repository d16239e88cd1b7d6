// Moving the parameter set between panel, sensor RAM, EEPROM and file, and
// the run mode.
#include <cstring>

#include "ui/panels.h"
#include "params/vars.h"

// Exactly one of the three target buttons is on, and it matches target.
void SetTarget(int t) {
    target = t;
    SetCtrlVal(pHandle, PANEL_RBTRam, t == RAM ? 1 : 0);
    SetCtrlVal(pHandle, PANEL_RBTEeprom, t == EEPROM ? 1 : 0);
    SetCtrlVal(pHandle, PANEL_RBTFile, t == DATFILE ? 1 : 0);
}

// Switching a button off falls back to RAM.
static void RadioChanged(int panel, int control, int mine) {
    int on = 0;
    GetCtrlVal(panel, control, &on);
    SetTarget(on ? mine : RAM);
}

RIDAR_CALLBACK(CC_RBTRam) {
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event == EVENT_VAL_CHANGED) RadioChanged(panel, control, RAM);
    return 0;
}

RIDAR_CALLBACK(CC_RBTEeprom) {
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event == EVENT_VAL_CHANGED) RadioChanged(panel, control, EEPROM);
    return 0;
}

RIDAR_CALLBACK(CC_RBTFile) {
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event == EVENT_VAL_CHANGED) RadioChanged(panel, control, DATFILE);
    return 0;
}

RIDAR_CALLBACK(CC_BTNSend) {
    (void)panel;
    (void)control;
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event != EVENT_LEFT_CLICK) return 0;
    SetStatus("Transmit...");
    ShowStatus();
    if (target == DATFILE) {
        char path[sizeof file_name] = {0};
        int r = FileSelectPopup(proj_dir, "KVEXpara.dat", "*.dat", "K-VEX-XC-Series Parameter File",
                                "OK", 0, 1, 1, 1, path, static_cast<int>(sizeof path));
        if (r > 0) {
            memcpy(file_name, path, sizeof file_name);
            file_name[sizeof file_name - 1] = '\0';
            SendParaToFile();
        }
        return 0;
    }
    sync = 0x55;
    order = (target == EEPROM) ? 3 : 1;
    GetPanelValues();
    CopyVarsToPP();
    // The sensor does not confirm a store; this only says the frame left.
    if (SendAndWait(Exchange(order, Await::Nothing)) == EXCHANGE_DONE) {
        ShowStatusText("Line Ok!");
        NoteSensorRam(pp);
    } else {
        SetStatus(kNotSentText);
        ShowStatus();
    }
    return 0;
}

RIDAR_CALLBACK(CC_BTNGet) {
    (void)panel;
    (void)control;
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event != EVENT_COMMIT) return 0;
    if (target == DATFILE) ReadParaFromFile();
    else order = (target == EEPROM) ? 4 : 2;
    PushGET(target);
    return 0;
}

int AskParamFrame(int orderCode) {
    CopyVarsToPP();
    Exchange x(orderCode);
    x.written = [] {
        if (nBytesW == FRAME_BYTES) ShowStatusText("Waiting for parameter-frame ...");
        return true;
    };
    if (SendAndWait(x) != EXCHANGE_DONE) {
        SetStatus("Timeout-RS-232...");
        LinkCountTimeout();
        return 0;
    }
    GetRxBuf(PNUM);
    if (orderCode == 2) NoteSensorRam(pp);
    SetStatus("Parameter-frame received! - Line Ok!");
    return 1;
}

void PushGET(int t) {
    if (t != DATFILE) {
        if (t == RAM) order = 2;
        else if (t == EEPROM) order = 4;
        if (AskParamFrame(order)) CopyPPtoVars();
    }
    // also after a time-out: the panel goes back to what the variables hold
    SetPanelValues();
    ShowStatus();
}

static void RunLock(int dimmed) {
    SetCtrlAttribute(pHandle, PANEL_CTRLRunLockB, ATTR_DIMMED, dimmed);
    SetCtrlAttribute(pHandle, PANEL_CTRLRunLockA, ATTR_DIMMED, dimmed);
}

static void SendMeasureRequest(void) {
    CopyVarsToPP();
    tstart = Timer();
    SendRequest(Exchange(8));
}

void PushRUN(void) {
    SetCtrlAttribute(pHandle, PANEL_GRAPHVideo, ATTR_VISIBLE, 0);
    SetCtrlAttribute(pHandle, PANEL_STRIPRaw, ATTR_VISIBLE, 1);
    RunLock(1);
    SetTarget(RAM);

    // the variables as they stand: unsent panel edits are not part of a run
    CopyVarsToPP();
    SendRequest(Exchange(8));
    if (nBytesW == FRAME_BYTES) ShowStatusText("Line Ok!");
    tstart = Timer();
    stop_flag = STOP_RUNNING;
    graphrefresh = 0;

    // One request outstanding: each reply is unpacked before the next
    // request goes out, without pumping events in between, so the set-point
    // it reported is what the next request carries. It is drawn while that
    // request is on the line: the line does not wait for the drawing.
    do {
        const int draw = graphrefresh == 1;
        if (draw) {
            CopyPPtoRAWVars();
            graphrefresh = 0;
        }
        if (rx_flag == 1) SendMeasureRequest();
        if (draw) paramsUp.showMeasurement();
        tdiff = Timer() - tstart;
        if (tdiff > TIMEOUT) {
            ShowStatusText("Timeout RS232-Line!");
            LinkCountTimeout();
            stop_flag = STOP_ASKED;
            break;
        }
        ProcessSystemEvents();
    } while (stop_flag == STOP_RUNNING);

    rx_flag = 0;
    AskFrame(0);   // a reply still on its way is nobody's now
    FlushInQ(com);
    FlushOutQ(com);
    graphrefresh = 0;
    RunLock(0);
    SetCtrlAttribute(pHandle, PANEL_CTRLRunLockC, ATTR_DIMMED, 0);
}

RIDAR_CALLBACK(CC_BTNRun) {
    (void)panel;
    (void)control;
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event == EVENT_COMMIT) PushRUN();
    return 0;
}

RIDAR_CALLBACK(CC_BTNStop) {
    (void)panel;
    (void)control;
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event != EVENT_COMMIT) return 0;
    stop_flag = STOP_ASKED;
    SetCtrlAttribute(pHandle, PANEL_CTRLRunLockA, ATTR_DIMMED, 0);
    SetCtrlAttribute(pHandle, PANEL_CTRLRunLockB, ATTR_DIMMED, 0);
    return 0;
}
