// The callback table: the run-time layer binds each control to CC_ + its name.
#include "app/app.h"
#include "analysisui/analysisui.h"
#include "link/frame.h"
#include "params/vars.h"
#include "display/display.h"
#include "calib/calib.h"
#include "recorder/recorder.h"
#include "stats/stats.h"

static const RtCallbackEntry kCallbacks[] = {
    {"CC_PANEL", CC_PANEL},
    {"CC_POPUP", CC_POPUP},
    {"CC_RECORD", CC_RECORD},
    {"CC_BTNCalClose", CC_BTNCalClose},
    {"CC_BTNRecClose", CC_BTNRecClose},
    {"CC_DropDCom", CC_DropDCom},
    {"CC_DROPHardware", CC_DROPHardware},
    {"CC_RBTRam", CC_RBTRam},
    {"CC_RBTEeprom", CC_RBTEeprom},
    {"CC_RBTFile", CC_RBTFile},
    {"CC_BTNSend", CC_BTNSend},
    {"CC_BTNGet", CC_BTNGet},
    {"CC_BTNRun", CC_BTNRun},
    {"CC_BTNStop", CC_BTNStop},
    {"CC_NEDITTolerance", CC_NEDITTolerance},
    {"CC_NEDITEdgeLeft", CC_NEDITEdgeLeft},
    {"CC_NEDITEdgeRight", CC_NEDITEdgeRight},
    {"CC_NUMVideoThreshold", CC_NUMVideoThreshold},
    {"CC_RINGanaMode", CC_RINGanaMode},
    {"CC_ButtonTeach", CC_ButtonTeach},
    {"CC_TOGGBTN_ParaII", CC_TOGGBTN_ParaII},
    {"CC_BTNVideo", CC_BTNVideo},
    {"CC_ActivateCalibration", CC_ActivateCalibration},
    {"CC_DiscardCalibration", CC_DiscardCalibration},
    {"CC_CheckStep1", CC_CheckStep1},
    {"CC_CheckStep2", CC_CheckStep2},
    {"CC_ButtonAcceptObject1", CC_ButtonAcceptObject1},
    {"CC_ButtonAcceptObject2", CC_ButtonAcceptObject2},
    {"CC_ButtonReset", CC_ButtonReset},
    {"CC_ButtonDoFit", CC_ButtonDoFit},
    {"CC_ButtonSaveCalValues", CC_ButtonSaveCalValues},
    {"CC_CMDBTNrecfile", CC_CMDBTNrecfile},
    {"CC_CBTNStartRecord", CC_CBTNStartRecord},
    {"CC_CBTNStopRecord", CC_CBTNStopRecord},
    {"CC_NUMsample", CC_NUMsample},
    {"CC_NUMinctime", CC_NUMinctime},
    {"CC_TOGGBTN_Recorder", CC_TOGGBTN_Recorder},
    {"CC_BTNStatsReset", CC_BTNStatsReset},
};

static void GetRamSet(void) {
    SetTarget(RAM);
    PushGET(RAM);
}

static void ShowRunMeasurement(void) {
    PlotVIDEOBarGraph();
    StatsAddSample();
    PlotRAWGraphX8();
}

void WireLayers(void) {
    linkUp = {CopyVarsToPP, ForgetSensorRam, GetRamSet, InitGUI};
    paramsUp = {ShowRunMeasurement, PlotThreshold};
}

void RegisterRidarCallbacks(void) {
    WireLayers();
    RegisterCallbacks(kCallbacks, static_cast<int>(sizeof kCallbacks / sizeof kCallbacks[0]));
    RegisterAnalysisCallbacks();
    RegisterCompareCallbacks();
}
