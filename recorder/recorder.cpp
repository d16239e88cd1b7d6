// The recording loop and the recorder panel around it.
#include "recorder/recorder.h"

#include "ui/panels.h"
#include "display/display.h"
#include "params/vars.h"
#include "stats/stats.h"

static const double kPacing = 1.0;            // seconds between requests
static const int kWriteFailed = STOP_ASKED;   // stop_flag of a recording ended by a failed write

static const int kRecDisplays[] = {RECORD_TEXTRecDate, RECORD_NUMRecCount,   RECORD_NUMRecDays,
                                   RECORD_NUMRecHours, RECORD_NUMRecMinutes, RECORD_NUMRecSeconds,
                                   RECORD_TEXTRecTime};

static void Dim(int panel, int control, int dimmed) {
    SetCtrlAttribute(panel, control, ATTR_DIMMED, dimmed);
}

static void LockMainPanel(int dimmed) {
    Dim(pHandle, PANEL_CTRLRunLockB, dimmed);
    Dim(pHandle, PANEL_CTRLRunLockA, dimmed);
    Dim(pHandle, PANEL_CTRLRunLockC, dimmed);
    Dim(pRecord, RECORD_CBTNStartRecord, dimmed);
}

static void RecStatus(const char *text) { ResetTextBox(pRecord, RECORD_TEXTRecStatus, text); }

// Red outside the tolerance band around the set-point, dark green inside,
// as on the main panel: the same measurement never shows two colours.
static void ToleranceColour(void) {
    const int colour =
        proto::ToleranceBand(tVal, tol, 0, ccdvirtpixel).Holds(Mvalue) ? VAL_DK_GREEN : VAL_RED;
    SetCtrlAttribute(pRecord, RECORD_NUMRecMvalueMm, ATTR_TEXT_BGCOLOR, colour);
    SetCtrlAttribute(pRecord, RECORD_NUMRecMvalue, ATTR_TEXT_BGCOLOR, colour);
}

void CalcRecTime(int seconds) {
    int s = seconds;
    uint16_t days = static_cast<uint16_t>(s / 86400);
    SetCtrlVal(pRecord, RECORD_NUMRecDays, static_cast<unsigned>(days));
    s -= days * 86400;
    int hours = s / 3600;
    SetCtrlVal(pRecord, RECORD_NUMRecHours, hours);
    s -= hours * 3600;
    int minutes = s / 60;
    SetCtrlVal(pRecord, RECORD_NUMRecMinutes, minutes);
    s -= minutes * 60;
    SetCtrlVal(pRecord, RECORD_NUMRecSeconds, s);
}

// Ends a recording whatever ended it; writeFailed wins over stop_flag.
static void EndRecording(int writeFailed) {
    rx_flag = 0;
    graph_flag = 0;
    AskFrame(0);   // a reply still on its way is nobody's now
    FlushInQ(com);
    FlushOutQ(com);
    LockMainPanel(0);
    if (writeFailed) {
        SetCtrlAttribute(pRecord, RECORD_TEXTRecStatus, ATTR_TEXT_BGCOLOR, VAL_RED);
        RecStatus("DATA-RECORDER INTERRUPTED - CANNOT WRITE DATA-FILE!");
        SetStatus("DATA-RECORDER INTERRUPTED - CANNOT WRITE DATA-FILE!");
        ShowStatus();
    } else if (stop_flag == STOP_COMPLETED) {
        SetCtrlAttribute(pRecord, RECORD_TEXTRecStatus, ATTR_TEXT_BGCOLOR, VAL_LT_GRAY);
        SetCtrlAttribute(pRecord, RECORD_TEXTRecStatus, ATTR_TEXT_COLOR, VAL_BLACK);
        SetCtrlAttribute(pRecord, RECORD_TEXTRecStatus, ATTR_TEXT_BOLD, 0);
        RecStatus("DATA-RECORDER COMPLETED SUCCESSFULLY");
    } else if (stop_flag == STOP_TIMEOUT) {
        SetCtrlAttribute(pRecord, RECORD_TEXTRecStatus, ATTR_TEXT_BGCOLOR, VAL_RED);
        RecStatus("DATA-RECORDER INTERRUPTED - TIMEOUT RS-232 LINE!");
    } else {
        SetCtrlAttribute(pRecord, RECORD_TEXTRecStatus, ATTR_TEXT_BGCOLOR, VAL_RED);
        RecStatus("DATA-RECORDER INTERRUPTED!");
    }
    for (int c : kRecDisplays) Dim(pRecord, c, 1);
}

RIDAR_CALLBACK(CC_CBTNStartRecord) {
    (void)panel;
    (void)control;
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event != EVENT_COMMIT) return 0;

    long size = 0;
    if (GetFileInfo(rec_fname, &size) == 1) {
        if (!ConfirmPopup("ATTENTION !", "File already exist - overwrite ?")) return 0;
        CVI_DeleteFile(rec_fname);
    }
    LockMainPanel(1);
    SetCtrlAttribute(pRecord, RECORD_TEXTRecStatus, ATTR_TEXT_BGCOLOR, VAL_DK_GREEN);
    SetCtrlAttribute(pRecord, RECORD_TEXTRecStatus, ATTR_TEXT_COLOR, VAL_WHITE);
    SetCtrlAttribute(pRecord, RECORD_TEXTRecStatus, ATTR_TEXT_BOLD, 1);
    for (int c : kRecDisplays) Dim(pRecord, c, 0);
    SetCtrlVal(pRecord, RECORD_TEXTRecDate, DateStr());
    SetCtrlVal(pRecord, RECORD_TEXTRecTime, TimeStr());

    if (writeFileHeader() != 0) {
        // a recording that cannot be stored must not look like one that runs
        stop_flag = kWriteFailed;
        EndRecording(1);
        return 0;
    }

    uint16_t increment = 0, samples = 0;
    GetCtrlVal(pRecord, RECORD_NUMinctime, &increment);
    GetCtrlVal(pRecord, RECORD_NUMsample, &samples);
    int count = 0;
    // The flags are cleared before the first request goes out: its reply
    // may already come in the event pump right after the write.
    stop_flag = STOP_RUNNING;
    graph_flag = 0;
    rx_flag = 0;
    SendRequest(Exchange(8));
    double tStartRec = Timer();
    double tRequest = tStartRec, tLastSample = tStartRec, tPaced = tStartRec;
    ProcessSystemEvents();

    int writeFailed = 0;
    do {
        double now = Timer();
        double sinceSample = now - tLastSample;
        double sinceRequest = now - tPaced;
        if (graph_flag == 1) {
            CopyPPtoRAWVars();
            PlotVIDEOBarGraph();
            StatsAddSample();
            ToleranceColour();
            SetCtrlVal(pRecord, RECORD_NUMRecLedge, static_cast<unsigned>(Ledge));
            SetCtrlVal(pRecord, RECORD_NUMRecRedge, static_cast<unsigned>(Redge));
            SetCtrlVal(pRecord, RECORD_NUMRecMvalue, static_cast<unsigned>(Mvalue));
            SetCtrlVal(pRecord, RECORD_NUMRecMvalueMm, static_cast<double>(umValue) / 1000.0);
            // never more lines than samples asked for
            if (sinceSample >= increment && count < samples) {
                if (WriteDataLine(Ledge, Redge, Mvalue, edcnt, umValue) != 0) {
                    writeFailed = 1;
                    stop_flag = kWriteFailed;
                    break;
                }
                count = count + 1;
                SetCtrlVal(pRecord, RECORD_NUMRecCount, count);
                RecStatus("APPEND TO DATA-FILE...");
                tLastSample = now;
            }
            graph_flag = 0;
            FlushInQ(com);
            FlushOutQ(com);
        }
        if (rx_flag == 1 && sinceRequest >= kPacing) {
            RecStatus("DATA-RECORDER: RS-232-BUSY ...");
            CopyVarsToPP();
            tRequest = Timer();
            SendRequest(Exchange(8));
            ProcessSystemEvents();
            tPaced = Timer();
        }
        if (Timer() - tRequest > TIMEOUT) {
            ShowStatusText("Timeout RS232-Line!");
            LinkCountTimeout();
            stop_flag = STOP_TIMEOUT;
            break;
        }
        CalcRecTime(static_cast<int>(Timer() - tStartRec));
        if (count >= samples) stop_flag = STOP_COMPLETED;
        ProcessSystemEvents();
    } while (stop_flag == STOP_RUNNING);

    EndRecording(writeFailed);
    return 0;
}

RIDAR_CALLBACK(CC_CBTNStopRecord) {
    (void)panel;
    (void)control;
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event != EVENT_COMMIT) return 0;
    stop_flag = STOP_ASKED;
    LockMainPanel(0);
    return 0;
}

// Planned length of a recording while its numbers are edited.
static void Preview(int fromSamples) {
    uint16_t samples = 0, increment = 0;
    GetCtrlVal(pRecord, RECORD_NUMsample, &samples);
    GetCtrlVal(pRecord, RECORD_NUMinctime, &increment);
    int ok = fromSamples ? samples < 30000 : increment < 3600;
    if (ok) CalcRecTime(static_cast<int>(samples) * static_cast<int>(increment));
}

RIDAR_CALLBACK(CC_NUMsample) {
    (void)panel;
    (void)control;
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event == EVENT_VAL_CHANGED) Preview(1);
    return 0;
}

RIDAR_CALLBACK(CC_NUMinctime) {
    (void)panel;
    (void)control;
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event == EVENT_VAL_CHANGED) Preview(0);
    return 0;
}

RIDAR_CALLBACK(CC_TOGGBTN_Recorder) {
    (void)panel;
    (void)control;
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event != EVENT_COMMIT) return 0;
    int on = 0;
    GetCtrlVal(pHandle, PANEL_TOGGBTN_Recorder, &on);
    if (on) DisplayPanel(pRecord);
    else HidePanel(pRecord);
    return 0;
}
