// Placeholder definitions; replaced by the real code.
#include "params/vars.h"

void CopyVarsToPP(void) {}
void CopyPPtoVars(void) {}
void CopyPPtoRAWVars(void) {}
int SlopeScale(void) { return 0; }
uint16_t DoubleToWord(double value) { return 0; }
void GetPanelValues(void) {}
void SetPanelValues(void) {}
void PushGET(int t) {}
void PushRUN(void) {}
void SendParaToFile(void) {}
void ReadParaFromFile(void) {}
int WriteParaFile(const char *path, const uint16_t *words) { return 0; }
int ReadParaFile(const char *path, uint16_t *words) { return 0; }
RIDAR_CALLBACK(CC_RBTRam) { (void)panel; (void)control; (void)event; (void)callbackData; (void)eventData1; (void)eventData2; return 0; }
RIDAR_CALLBACK(CC_RBTEeprom) { (void)panel; (void)control; (void)event; (void)callbackData; (void)eventData1; (void)eventData2; return 0; }
RIDAR_CALLBACK(CC_RBTFile) { (void)panel; (void)control; (void)event; (void)callbackData; (void)eventData1; (void)eventData2; return 0; }
RIDAR_CALLBACK(CC_BTNSend) { (void)panel; (void)control; (void)event; (void)callbackData; (void)eventData1; (void)eventData2; return 0; }
RIDAR_CALLBACK(CC_BTNGet) { (void)panel; (void)control; (void)event; (void)callbackData; (void)eventData1; (void)eventData2; return 0; }
RIDAR_CALLBACK(CC_BTNRun) { (void)panel; (void)control; (void)event; (void)callbackData; (void)eventData1; (void)eventData2; return 0; }
RIDAR_CALLBACK(CC_BTNStop) { (void)panel; (void)control; (void)event; (void)callbackData; (void)eventData1; (void)eventData2; return 0; }
RIDAR_CALLBACK(CC_NEDITTolerance) { (void)panel; (void)control; (void)event; (void)callbackData; (void)eventData1; (void)eventData2; return 0; }
RIDAR_CALLBACK(CC_NEDITEdgeLeft) { (void)panel; (void)control; (void)event; (void)callbackData; (void)eventData1; (void)eventData2; return 0; }
RIDAR_CALLBACK(CC_NEDITEdgeRight) { (void)panel; (void)control; (void)event; (void)callbackData; (void)eventData1; (void)eventData2; return 0; }
RIDAR_CALLBACK(CC_NUMVideoThreshold) { (void)panel; (void)control; (void)event; (void)callbackData; (void)eventData1; (void)eventData2; return 0; }
RIDAR_CALLBACK(CC_RINGanaMode) { (void)panel; (void)control; (void)event; (void)callbackData; (void)eventData1; (void)eventData2; return 0; }
RIDAR_CALLBACK(CC_ButtonTeach) { (void)panel; (void)control; (void)event; (void)callbackData; (void)eventData1; (void)eventData2; return 0; }
RIDAR_CALLBACK(CC_TOGGBTN_ParaII) { (void)panel; (void)control; (void)event; (void)callbackData; (void)eventData1; (void)eventData2; return 0; }
