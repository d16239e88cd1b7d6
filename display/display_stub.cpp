// Placeholder definitions; replaced by the real code.
#include "display/display.h"

int ReadData64(int start, int second) { return 0; }
int ReadData256(void) { return 0; }
void PlotVIDEOCurve(const uint16_t *samples, const double *positions) {}
void PlotVIDEOBarGraph(void) {}
void PlotRAWGraphX8(void) {}
int Shift(const double *input, int count, int shift, double *output) { return 0; }
int Copy1D(const double *input, int count, double *output) { return 0; }
RIDAR_CALLBACK(CC_BTNVideo) { (void)panel; (void)control; (void)event; (void)callbackData; (void)eventData1; (void)eventData2; return 0; }
