// Frame codec and the two frame layouts the program interprets.
#include "proto/proto.h"

namespace proto {

uint16_t GetWord(const uint8_t *p) {
    return static_cast<uint16_t>(static_cast<unsigned>(p[0]) << 8 | p[1]);
}

void PutWord(uint8_t *p, uint16_t w) {
    p[0] = static_cast<uint8_t>(w >> 8);
    p[1] = static_cast<uint8_t>(w & 0xFF);
}

void EncodeFrame(Order order, const Words &words, uint8_t out[kFrameBytes], uint16_t sync) {
    PutWord(out, sync);
    PutWord(out + 2, static_cast<uint16_t>(order));
    for (int i = 0; i < kWords; ++i) PutWord(out + 4 + 2 * i, words[i]);
}

Frame DecodeFrame(const uint8_t in[kFrameBytes]) {
    Frame f;
    f.sync = GetWord(in);
    f.header = GetWord(in + 2);
    for (int i = 0; i < kWords; ++i) f.words[i] = GetWord(in + 4 + 2 * i);
    return f;
}

bool Word15IsTrigMode(uint16_t softversion) { return softversion >= 240; }

Words ParamsToWords(const ParamFrame &p, uint16_t softversion) {
    // clang-format off
    return Words{p.power, p.rs232Mode, p.vThd, p.anaMode, p.polarity, p.eMode,
                 p.eBeg, p.eEnd, p.tVal, p.tTol, p.opMode, p.eHardware,
                 p.slope, p.intersect, p.average,
                 Word15IsTrigMode(softversion) ? p.trigMode : p.deltaTol};
    // clang-format on
}

ParamFrame ParamsFromWords(const Words &w) {
    ParamFrame p;
    p.power = w[kPower];
    p.rs232Mode = w[kRs232Mode];
    p.vThd = w[kVThd];
    p.anaMode = w[kAnaMode];
    p.polarity = w[kPolarity];
    p.eMode = w[kEMode];
    p.eBeg = w[kEBeg];
    p.eEnd = w[kEEnd];
    p.tVal = w[kTVal];
    p.tTol = w[kTTol];
    p.opMode = w[kOpMode];
    p.eHardware = w[kEHardware];
    p.slope = w[kSlope];
    p.intersect = w[kIntersect];
    p.average = w[kAverage];
    p.deltaTol = w[kWord15];
    p.trigMode = w[kWord15];
    return p;
}

const char *ParamWordName(int i, uint16_t softversion) {
    // clang-format off
    static const char *const names[kWords] = {
        "power", "rs232Mode", "vThd", "anaMode", "polarity", "eMode", "eBeg", "eEnd",
        "tVal", "tTol", "opMode", "eHardware", "slope", "intersect", "average", "deltaTol"};
    // clang-format on
    if (i < 0 || i >= kWords) return "";
    if (i == kWord15 && Word15IsTrigMode(softversion)) return "trigMode";
    return names[i];
}

Measurement MeasurementFromWords(const Words &w) {
    Measurement m;
    m.Ledge = w[0];
    m.Redge = w[1];
    m.Mvalue = w[2];
    m.umValue = static_cast<uint32_t>(w[3]) + 65536u * static_cast<uint32_t>(w[4]);
    m.tVal = w[5];
    m.tol = w[6];
    m.edcnt = w[7];
    m.mvstart = w[8];
    m.mvend = w[9];
    m.freevar = w[10];
    m.anaMax = w[11];
    m.anaMin = w[12];
    m.in0 = w[13];
    return m;
}

int64_t SignedUm(uint32_t umValue) {
    return umValue > 0x7FFFFFFFu ? static_cast<int64_t>(umValue) - 0x100000000LL
                                 : static_cast<int64_t>(umValue);
}

}   // namespace proto
