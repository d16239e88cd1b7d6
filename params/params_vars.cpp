#include "params/vars.h"

uint16_t power = 500, rs232Mode, vThd = 512, anaMode, polarity = 1, eMode = 1, eBeg = 1,
         eEnd = 1024, tVal = 512, tTol = 100, opMode, eHardware = 1, slope = SLOPE_x1024,
         intersect = YOFFSET, average, deltaTol, trigMode;
uint16_t Ledge, Redge, Mvalue, tol, edcnt, mvstart, mvend, freevar, anaMax, anaMin, in0;
uint32_t umValue;
int target = RAM;
char file_name[260];

static void NoMeasurement(void) {}
static void NoThreshold(uint16_t) {}
ParamsUpcalls paramsUp = {NoMeasurement, NoThreshold};
