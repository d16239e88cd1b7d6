// The 16 words of the parameter frame by name and panel label.
#include "params/vars.h"

const ParamWordInfo kParamWords[PNUM] = {
    {"power", "Light power"},
    {"rs232Mode", "RS-232 mode"},
    {"vThd", "Video threshold"},
    {"anaMode", "Analog output"},
    {"polarity", "Polarity (0/1)"},
    {"eMode", "Evaluation mode"},
    {"eBeg", "Window left [pixel]"},
    {"eEnd", "Window right [pixel]"},
    {"tVal", "Set-point [pixel]"},
    {"tTol", "Tolerance [pixel]"},
    {"opMode", "Gain / mode"},
    {"eHardware", "Hardware variant"},
    {"slope", "Slope [\xC2\xB5m/pixel]"},
    {"intersect", "Offset [\xC2\xB5m]"},
    {"average", "Averaging"},
    {"deltaTol", "Trigger / delta tol."},
};

const char *ParamWordName(int i) {
    if (i < 0 || i >= PNUM) return "";
    if (i == PNUM - 1 && softversion >= 240) return "trigMode";
    return kParamWords[i].name;
}
