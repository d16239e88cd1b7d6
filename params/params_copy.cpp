// The parameter and measurement frames mapped onto the variables.
#include <cmath>

#include "params/vars.h"

void CopyVarsToPP(void) {
    pp[0] = power;
    pp[1] = rs232Mode;
    pp[2] = vThd;
    pp[3] = anaMode;
    pp[4] = polarity;
    pp[5] = eMode;
    pp[6] = eBeg;
    pp[7] = eEnd;
    pp[8] = tVal;
    pp[9] = tTol;
    pp[10] = opMode;
    pp[11] = eHardware;
    pp[12] = slope;
    pp[13] = intersect;
    pp[14] = average;
    // firmware 240 replaced the second tolerance by the trigger mode
    pp[15] = (softversion < 240) ? deltaTol : trigMode;
}

void CopyPPtoVars(void) {
    power = pp[0];
    rs232Mode = pp[1];
    vThd = pp[2];
    anaMode = pp[3];
    polarity = pp[4];
    eMode = pp[5];
    eBeg = pp[6];
    eEnd = pp[7];
    tVal = pp[8];
    tTol = pp[9];
    opMode = pp[10];
    eHardware = pp[11];
    slope = pp[12];
    intersect = pp[13];
    average = pp[14];
    // the frame does not say which one it is, so both take it
    deltaTol = pp[15];
    trigMode = pp[15];
}

void CopyPPtoRAWVars(void) {
    Ledge = pp[0];
    Redge = pp[1];
    Mvalue = pp[2];
    umValue = static_cast<uint32_t>(pp[3]) + 65536u * static_cast<uint32_t>(pp[4]);
    tVal = pp[5];   // the set-point the sensor holds goes back with the next request
    tol = pp[6];
    edcnt = pp[7];
    mvstart = pp[8];
    mvend = pp[9];
    freevar = pp[10];
    anaMax = pp[11];
    anaMin = pp[12];
    in0 = pp[13];
}

int SlopeScale(void) {
    if (ccdtype == 104 && softversion < 250) return SLOPE_x512;
    return SLOPE_x1024;
}

uint16_t DoubleToWord(double value) {
    if (!std::isfinite(value)) return 0;
    // an out-of-range double cast to an integer is undefined, so reduce first
    double m = std::fmod(std::trunc(value), 65536.0);
    if (m < 0) m += 65536.0;
    return static_cast<uint16_t>(static_cast<unsigned>(m));
}
