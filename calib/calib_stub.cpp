// Placeholder definitions; replaced by the real code.
#include "calib/calib.h"

int LinFit(const double *x, const double *y, int n, double *z, double *slopeOut, double *interceptOut, double *mseOut) { return 0; }
RIDAR_CALLBACK(CC_ActivateCalibration) { (void)panel; (void)control; (void)event; (void)callbackData; (void)eventData1; (void)eventData2; return 0; }
RIDAR_CALLBACK(CC_DiscardCalibration) { (void)panel; (void)control; (void)event; (void)callbackData; (void)eventData1; (void)eventData2; return 0; }
RIDAR_CALLBACK(CC_CheckStep1) { (void)panel; (void)control; (void)event; (void)callbackData; (void)eventData1; (void)eventData2; return 0; }
RIDAR_CALLBACK(CC_CheckStep2) { (void)panel; (void)control; (void)event; (void)callbackData; (void)eventData1; (void)eventData2; return 0; }
RIDAR_CALLBACK(CC_ButtonAcceptObject1) { (void)panel; (void)control; (void)event; (void)callbackData; (void)eventData1; (void)eventData2; return 0; }
RIDAR_CALLBACK(CC_ButtonAcceptObject2) { (void)panel; (void)control; (void)event; (void)callbackData; (void)eventData1; (void)eventData2; return 0; }
RIDAR_CALLBACK(CC_ButtonReset) { (void)panel; (void)control; (void)event; (void)callbackData; (void)eventData1; (void)eventData2; return 0; }
RIDAR_CALLBACK(CC_ButtonDoFit) { (void)panel; (void)control; (void)event; (void)callbackData; (void)eventData1; (void)eventData2; return 0; }
RIDAR_CALLBACK(CC_ButtonSaveCalValues) { (void)panel; (void)control; (void)event; (void)callbackData; (void)eventData1; (void)eventData2; return 0; }
