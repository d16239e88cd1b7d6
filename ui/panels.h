// The resource file's panels and controls: their ids, and the handles of
// the three panels once loaded. Every folder that shows something includes
// this; it includes nothing.
#pragma once

// Panel resource ids in the resource file.
#define PANEL 1
#define POPUP 2
#define RECORD 3

// PANEL: main panel
#define PANEL_DropDCom 2
#define PANEL_CTRLRunLockC 3
#define PANEL_RINGanaMode 4
#define PANEL_BTNRun 5
#define PANEL_BTNStop 6
#define PANEL_BTNSend 7
#define PANEL_BTNGet 8
#define PANEL_BTNVideo 9
#define PANEL_CTRLSeriesLockA 10
#define PANEL_CTRLSeriesLockB 11
#define PANEL_RBTFile 12
#define PANEL_RBTEeprom 13
#define PANEL_CTRLAnaGroupA 14
#define PANEL_NUMVideoThreshold 15
#define PANEL_NUMPower 16
#define PANEL_NUMDeltaTol 17
#define PANEL_NEDITTolerance 18
#define PANEL_NUMSetpoint 19
#define PANEL_RBTRam 20
#define PANEL_CTRLRunLockA 21
#define PANEL_CTRLStartFocus 22
#define PANEL_CTRLRunLockB 23
#define PANEL_RINGTrigMode 24
#define PANEL_DROPHardware 25
#define PANEL_RINGRs232Mode 26
#define PANEL_NUMPolarity 27
#define PANEL_NUMAverage 28
#define PANEL_NUMEvalMode 29
#define PANEL_ButtonTeach 30
#define PANEL_NUMAnaValue 31
#define PANEL_NUMMvalueMm 32
#define PANEL_NUMMvalue 33
#define PANEL_NUMAnaMin 34
#define PANEL_NUMAnaMax 35
#define PANEL_NUMToleranceMm 36
#define PANEL_NUMLedge 37
#define PANEL_NUMRedge 38
#define PANEL_ButtonReset 39
#define PANEL_DECOLogo 45
#define PANEL_NEDITEdgeRight 46
#define PANEL_NEDITEdgeLeft 47
#define PANEL_TEXTStatus 48
#define PANEL_GRAPHVideo 49
#define PANEL_GRAPHBar 50
#define PANEL_PICTLogo 51
#define PANEL_TOGGLEZoom 52
#define PANEL_CTRLAnaGroupB 53
#define PANEL_TOGGBTN_Recorder 54
#define PANEL_TOGGBTN_ParaII 55
#define PANEL_STRIPRaw 56
#define PANEL_SWITCHOpMode 57
// statistics: rows last 100 / since reset in pixel and mm, columns count .. Ppk
#define PANEL_TEXTStatWinPxCount 60
#define PANEL_TEXTStatWinPxMean 61
#define PANEL_TEXTStatWinPxSdev 62
#define PANEL_TEXTStatWinPxMin 63
#define PANEL_TEXTStatWinPxMax 64
#define PANEL_TEXTStatWinPxRange 65
#define PANEL_TEXTStatWinPxPp 66
#define PANEL_TEXTStatWinPxPpk 67
#define PANEL_TEXTStatWinMmCount 68
#define PANEL_TEXTStatWinMmMean 69
#define PANEL_TEXTStatWinMmSdev 70
#define PANEL_TEXTStatWinMmMin 71
#define PANEL_TEXTStatWinMmMax 72
#define PANEL_TEXTStatWinMmRange 73
#define PANEL_TEXTStatWinMmPp 74
#define PANEL_TEXTStatWinMmPpk 75
#define PANEL_TEXTStatAllPxCount 76
#define PANEL_TEXTStatAllPxMean 77
#define PANEL_TEXTStatAllPxSdev 78
#define PANEL_TEXTStatAllPxMin 79
#define PANEL_TEXTStatAllPxMax 80
#define PANEL_TEXTStatAllPxRange 81
#define PANEL_TEXTStatAllPxPp 82
#define PANEL_TEXTStatAllPxPpk 83
#define PANEL_TEXTStatAllMmCount 84
#define PANEL_TEXTStatAllMmMean 85
#define PANEL_TEXTStatAllMmSdev 86
#define PANEL_TEXTStatAllMmMin 87
#define PANEL_TEXTStatAllMmMax 88
#define PANEL_TEXTStatAllMmRange 89
#define PANEL_TEXTStatAllMmPp 90
#define PANEL_TEXTStatAllMmPpk 91
#define PANEL_BTNStatsReset 92
#define PANEL_TEXTLinkHealth 93

// POPUP: calibration popup and sensor description
#define POPUP_TEXTSensorInfo 2
#define POPUP_ActivateCalibration 3
#define POPUP_DiscardCalibration 4
#define POPUP_NUMFitIntercept 7
#define POPUP_NUMFitSlope 8
#define POPUP_ButtonAcceptObject2 9
#define POPUP_ButtonSaveCalValues 12
#define POPUP_ButtonAcceptObject1 13
#define POPUP_NUMPixelObject2 14
#define POPUP_NUMUmObject2 15
#define POPUP_ButtonDoFit 16
#define POPUP_NUMPixelObject1 17
#define POPUP_NUMUmObject1 18
#define POPUP_NUMCalOffset 19
#define POPUP_NUMCalSlope 20
#define POPUP_CheckStep2 31
#define POPUP_CheckStep1 32
#define POPUP_BTNCalClose 40

// RECORD: recorder panel
#define RECORD_TEXTRecFile 2
#define RECORD_CBTNStartRecord 4
#define RECORD_CBTNStopRecord 5
#define RECORD_CMDBTNrecfile 6
#define RECORD_TEXTRecStatus 8
#define RECORD_NUMsample 9
#define RECORD_NUMinctime 10
#define RECORD_NUMRecMvalue 11
#define RECORD_NUMRecLedge 12
#define RECORD_NUMRecRedge 13
#define RECORD_NUMRecMvalueMm 14
#define RECORD_TEXTRecDate 16
#define RECORD_TEXTRecTime 17
#define RECORD_NUMRecDays 18
#define RECORD_NUMRecHours 19
#define RECORD_NUMRecMinutes 20
#define RECORD_NUMRecCount 21
#define RECORD_NUMRecSeconds 22
#define RECORD_BTNRecClose 30

// the main panel's button beside Get, and the Compare window
#define PANEL_BTNCompare 121
#define COMPARE 5
#define COMPARE_TABLECmpWords 2
#define COMPARE_CHECKCmpOnlyDiff 3
#define COMPARE_BTNCmpRefresh 4
#define COMPARE_STRINGCmpFile 5
#define COMPARE_BTNCmpFile 6
#define COMPARE_BTNCmpRamToPanel 7
#define COMPARE_BTNCmpEepromToPanel 8
#define COMPARE_BTNCmpFileToPanel 9
#define COMPARE_TEXTCmpStatus 10
#define COMPARE_BTNCmpClose 11
#define COMPARE_UI_FILE "K-VEX-XCRidarCompare.ui"

#define UIR_FILE "K-VEX-XCRidarV252.uir"

// Handles of the loaded panels (LoadPanel), -1 before.
inline int pHandle = -1, pPopup = -1, pRecord = -1;
// Where the files the operator saves are proposed first: the program's
// directory, or the documents folder when the program's may not be written.
inline char proj_dir[260];
