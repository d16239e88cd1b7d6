// Placeholder definitions; replaced by the real code.
#include "recorder/recorder.h"

void CalcRecTime(int seconds) {}
int writeFileHeader(void) { return 0; }
int WriteDataLine(uint16_t left, uint16_t right, uint16_t value, uint16_t edges, uint32_t um) { return 0; }
RIDAR_CALLBACK(CC_CMDBTNrecfile) { (void)panel; (void)control; (void)event; (void)callbackData; (void)eventData1; (void)eventData2; return 0; }
RIDAR_CALLBACK(CC_CBTNStartRecord) { (void)panel; (void)control; (void)event; (void)callbackData; (void)eventData1; (void)eventData2; return 0; }
RIDAR_CALLBACK(CC_CBTNStopRecord) { (void)panel; (void)control; (void)event; (void)callbackData; (void)eventData1; (void)eventData2; return 0; }
RIDAR_CALLBACK(CC_NUMsample) { (void)panel; (void)control; (void)event; (void)callbackData; (void)eventData1; (void)eventData2; return 0; }
RIDAR_CALLBACK(CC_NUMinctime) { (void)panel; (void)control; (void)event; (void)callbackData; (void)eventData1; (void)eventData2; return 0; }
RIDAR_CALLBACK(CC_TOGGBTN_Recorder) { (void)panel; (void)control; (void)event; (void)callbackData; (void)eventData1; (void)eventData2; return 0; }
