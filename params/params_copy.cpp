// The parameter and measurement frames mapped onto the variables.
#include <cstring>

#include "params/vars.h"
#include "proto/proto.h"

// The word layout lives in the protocol core; these move it to and from the
// program's variables.
void CopyVarsToPP(void) {
    proto::ParamFrame p;
    p.power = power;
    p.rs232Mode = rs232Mode;
    p.vThd = vThd;
    p.anaMode = anaMode;
    p.polarity = polarity;
    p.eMode = eMode;
    p.eBeg = eBeg;
    p.eEnd = eEnd;
    p.tVal = tVal;
    p.tTol = tTol;
    p.opMode = opMode;
    p.eHardware = eHardware;
    p.slope = slope;
    p.intersect = intersect;
    p.average = average;
    p.deltaTol = deltaTol;
    p.trigMode = trigMode;
    const proto::Words w = proto::ParamsToWords(p, softversion);
    std::memcpy(pp, w.data(), sizeof pp);
}

void CopyPPtoVars(void) {
    const proto::ParamFrame p = proto::ParamsFromWords(AsWords(pp));
    power = p.power;
    rs232Mode = p.rs232Mode;
    vThd = p.vThd;
    anaMode = p.anaMode;
    polarity = p.polarity;
    eMode = p.eMode;
    eBeg = p.eBeg;
    eEnd = p.eEnd;
    tVal = p.tVal;
    tTol = p.tTol;
    opMode = p.opMode;
    eHardware = p.eHardware;
    slope = p.slope;
    intersect = p.intersect;
    average = p.average;
    deltaTol = p.deltaTol;
    trigMode = p.trigMode;
}

void CopyPPtoRAWVars(void) {
    const proto::Measurement m = proto::MeasurementFromWords(AsWords(pp));
    Ledge = m.Ledge;
    Redge = m.Redge;
    Mvalue = m.Mvalue;
    umValue = m.umValue;
    tVal = m.tVal;   // the set-point the sensor holds goes back with the next request
    tol = m.tol;
    edcnt = m.edcnt;
    mvstart = m.mvstart;
    mvend = m.mvend;
    freevar = m.freevar;
    anaMax = m.anaMax;
    anaMin = m.anaMin;
    in0 = m.in0;
}

int SlopeScale(void) { return proto::SlopeScale(ccdtype, softversion); }

uint16_t DoubleToWord(double value) { return proto::DoubleToWord(value); }
