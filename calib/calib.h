// Calibration procedure and linear fit.
#pragma once

#include <cstdint>
#include "link/frame.h"

extern double pixel[2];
extern double umeter[2];
extern uint16_t flagstep1, flagstep2, oldMode;
extern double slopeval, interval, zarray[2], mse;

int LinFit(const double *x, const double *y, int n, double *z, double *slopeOut,
           double *interceptOut, double *mseOut);

RIDAR_CALLBACK(CC_ActivateCalibration);
RIDAR_CALLBACK(CC_DiscardCalibration);
RIDAR_CALLBACK(CC_CheckStep1);
RIDAR_CALLBACK(CC_CheckStep2);
RIDAR_CALLBACK(CC_ButtonAcceptObject1);
RIDAR_CALLBACK(CC_ButtonAcceptObject2);
RIDAR_CALLBACK(CC_ButtonReset);
RIDAR_CALLBACK(CC_ButtonDoFit);
RIDAR_CALLBACK(CC_ButtonSaveCalValues);
