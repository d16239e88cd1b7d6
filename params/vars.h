// Parameter and measurement variables, frame mapping, panel mapping,
// transfers, run mode, parameter file and edit callbacks.
#pragma once

#include <cstdint>
#include <string>
#include "link/frame.h"

namespace proto {
struct ParamFileFault;
}

#define RAM 1
#define EEPROM 2
#define DATFILE 3
#define SLOPE_x512 512
#define SLOPE_x1024 1024
#define YOFFSET 30000

// parameter variables (parameter frame words 0..15)
extern uint16_t power, rs232Mode, vThd, anaMode, polarity, eMode, eBeg, eEnd, tVal, tTol, opMode,
    eHardware, slope, intersect, average, deltaTol, trigMode;

// measurement variables (measurement frame)
extern uint16_t Ledge, Redge, Mvalue, tol, edcnt, mvstart, mvend, freevar, anaMax, anaMin, in0;
extern uint32_t umValue;

extern int target;
extern char file_name[260];

// Name of parameter word i as the protocol core calls it; word 15 is
// deltaTol or, from firmware 240, trigMode.
const char *ParamWordName(int i);

// The set last exchanged with the sensor's RAM (sent with order 1 or 3,
// received with order 2); panel controls that differ from it are marked.
void NoteSensorRam(const uint16_t *words);
void ForgetSensorRam(void);
// One word the sensor reported outside a parameter frame (calibration).
void NoteSensorRamWord(int i, uint16_t word);
// 0 when no set has been exchanged with this sensor yet.
int SensorRamKnown(const uint16_t **words);
// The 16 words Send would put on the wire now, read from the panel; the
// variables stay as they are.
void PanelWords(uint16_t *words);
void UpdateMarks(void);
// The control that shows word i now (word 15 by firmware) and its panel.
void WordControl(int i, int *panel, int *control);
// Word i as its control shows it (slope and offset in their display form).
std::string WordShown(int i, uint16_t word);
// Installs the hook that keeps the marks up to date with every edit.
void InitMarks(void);

void CopyVarsToPP(void);
void CopyPPtoVars(void);
void CopyPPtoRAWVars(void);

// 512 for CCD type 104 below firmware 250, else 1024.
int SlopeScale(void);
// Truncates toward zero and wraps modulo 65536; NaN and infinities give 0.
uint16_t DoubleToWord(double value);

void GetPanelValues(void);
void SetPanelValues(void);
// Shows value in a ring of PANEL; a value the ring has no item for gets an
// item of its own ("mode 6") instead of showing as another mode.
void ShowRingValue(int control, int value);

// Sets target and the three radio buttons that show it.
void SetTarget(int t);

void PushGET(int t);
// Asks for the parameter frame of order 2 (RAM) or 4 (EEPROM) and waits for
// it as a get does, with its status texts; 1 when it came (in pp), 0 after
// the time-out. The variables and the panel stay as they are.
int AskParamFrame(int orderCode);
void PushRUN(void);

void SendParaToFile(void);
void ReadParaFromFile(void);
// Writes the 16 words as the parameter file; 0 on success, -1 when it cannot be written.
int WriteParaFile(const char *path, const uint16_t *words);
// Reads 16 unsigned decimal numbers; 0 on success, -1 unreadable, -2 fewer than 16,
// -3 something that is not an unsigned decimal number, -4 a number above 65535.
// words untouched on failure; fault (when given) tells the line and the text.
int ReadParaFile(const char *path, uint16_t *words, proto::ParamFileFault *fault = nullptr);

// The Compare window: panel, sensor RAM, sensor EEPROM and a parameter file
// side by side. RAM and EEPROM are read when it opens and on Refresh only.
extern int pCompare;
void RegisterCompareCallbacks(void);
void InitCompare(void);   // the main panel's Ctrl+D
int CompareShow(void);    // opens it and reads; negative when it cannot
void CompareRefresh(void);
// Follows the panel's words while the window shows (called with the marks).
void CompareFollowPanel(void);
// A new connection: what was read belongs to the sensor before it.
void CompareForgetSensor(void);
RIDAR_CALLBACK(CC_BTNCompare);

RIDAR_CALLBACK(CC_RBTRam);
RIDAR_CALLBACK(CC_RBTEeprom);
RIDAR_CALLBACK(CC_RBTFile);
RIDAR_CALLBACK(CC_BTNSend);
RIDAR_CALLBACK(CC_BTNGet);
RIDAR_CALLBACK(CC_BTNRun);
RIDAR_CALLBACK(CC_BTNStop);
RIDAR_CALLBACK(CC_NEDITTolerance);
RIDAR_CALLBACK(CC_NEDITEdgeLeft);
RIDAR_CALLBACK(CC_NEDITEdgeRight);
RIDAR_CALLBACK(CC_NUMVideoThreshold);
RIDAR_CALLBACK(CC_RINGanaMode);
RIDAR_CALLBACK(CC_ButtonTeach);
RIDAR_CALLBACK(CC_TOGGBTN_ParaII);

// What the parameter layer asks of the layers above it, wired by the
// application at start-up (WireLayers); each does nothing until then.
struct ParamsUpcalls {
    void (*showMeasurement)(void);       // run mode: bar graph, statistics, strip chart
    void (*showThreshold)(uint16_t h);   // the threshold line on the video curve
};
extern ParamsUpcalls paramsUp;
