// Parameter and measurement variables, frame mapping, panel mapping,
// transfers, run mode, parameter file and edit callbacks.
#pragma once

#include <cstdint>
#include "link/frame.h"

#define RAM 1
#define EEPROM 2
#define DATFILE 3
#define SLOPE_x512 512
#define SLOPE_x1024 1024
#define YOFFSET 30000

// parameter variables (parameter frame words 0..15)
extern uint16_t power, rs232Mode, vThd, anaMode, polarity, eMode, eBeg, eEnd, tVal, tTol,
    opMode, eHardware, slope, intersect, average, deltaTol, trigMode;

// measurement variables (measurement frame)
extern uint16_t Ledge, Redge, Mvalue, tol, edcnt, mvstart, mvend, freevar, anaMax, anaMin, in0;
extern uint32_t umValue;

extern int target;
extern char file_name[260];

// Parameter frame words 0..15: the name the protocol calls each word by and
// the label of its control on the panel.
struct ParamWordInfo {
    const char *name;
    const char *label;
};
extern const ParamWordInfo kParamWords[PNUM];
// Name of word i; word 15 is deltaTol or, from firmware 240, trigMode.
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
void PushRUN(void);

void SendParaToFile(void);
void ReadParaFromFile(void);
// Writes the 16 words as the parameter file; 0 on success, -1 when it cannot be written.
int WriteParaFile(const char *path, const uint16_t *words);
// Reads 16 unsigned decimal numbers; 0 on success, -1 unreadable, -2 fewer than 16,
// -3 something that is not an unsigned decimal number. words untouched on failure.
int ReadParaFile(const char *path, uint16_t *words);

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
