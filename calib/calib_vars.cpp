#include "calib/calib.h"

double pixel[2] = {241.0, 662.0};
double umeter[2] = {7960.0, 21960.0};
uint16_t flagstep1, flagstep2, oldMode;
double slopeval, interval, zarray[2], mse;
