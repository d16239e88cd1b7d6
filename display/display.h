// Video blocks, video mode, video curve, bar graph and strip chart.
#pragma once

#include <cstdint>
#include "link/frame.h"

extern uint16_t adcbuf[256];
extern uint16_t thdArray[256];
extern double arrayNORM[600];

int ReadData64(int start, int second);
int ReadData256(void);
void PlotVIDEOCurve(const uint16_t *samples, const double *positions);
// Moves the threshold line to h and redraws the video curve.
void PlotThreshold(uint16_t h);
void PlotVIDEOBarGraph(void);
void PlotRAWGraphX8(void);
int Shift(const double *input, int count, int shift, double *output);
int Copy1D(const double *input, int count, double *output);

RIDAR_CALLBACK(CC_BTNVideo);
