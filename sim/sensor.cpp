// The simulated sensor: parameter sets, the scene on the CCD line, the edge
// evaluation and the answer to each order.
#include "sim/sim.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace kvexsim {

namespace {

uint16_t Word(const uint8_t *b) { return static_cast<uint16_t>(b[0] << 8 | b[1]); }

void PutWord(std::vector<uint8_t> &b, unsigned w) {
    b.push_back(static_cast<uint8_t>((w >> 8) & 0xFF));
    b.push_back(static_cast<uint8_t>(w & 0xFF));
}

uint16_t ClampWord(double v) {
    if (!(v > 0)) return 0;   // also NaN
    if (v >= 65535.0) return 65535;
    return static_cast<uint16_t>(std::lround(v));
}

// 0 outside the object, 1 inside, a raised-cosine step of width w at the edge
double Step(double u, double w) {
    if (u <= -w / 2) return 0.0;
    if (u >= w / 2) return 1.0;
    return 0.5 - 0.5 * std::cos(M_PI * (u + w / 2) / w);
}

}   // namespace

uint16_t SlopeScale(const Identity &id) {
    return (id.ccdtype == 104 && id.softversion < 250) ? 512 : 1024;
}

// Virtual pixels between two of the 256 video samples; the tool places the
// samples the same way, so curve and edges line up on its screen.
int SampleSpacing(uint16_t v) {
    // clang-format off
    switch (v) {
    case 256: return 1;
    case 512: return 2;
    case 768: return 3;
    case 1024: return 4;
    case 1180: case 1280: return 5;
    case 1536: return 6;
    case 2048: return 8;
    case 2360: case 2560: return 10;
    case 3072: return 12;
    case 4096: return 16;
    case 8192: return 32;
    default: return std::max(1, static_cast<int>(std::lround(v / 256.0)));
    }
    // clang-format on
}

uint16_t FullScale(const Identity &id) { return id.adcmax >= 16 ? id.adcmax : 1024; }

std::string FirmwareText(const Identity &id) {
    if (!id.firmware.empty()) return id.firmware;
    char buf[64];
    snprintf(buf, sizeof buf, "K-VEX-XC-SIM Firmware V%u.%02u", id.softversion / 100u,
             id.softversion % 100u);
    return buf;
}

void FactoryDefaults(const Identity &id, uint16_t set[kWords]) {
    const uint16_t scale = SlopeScale(id);
    const uint16_t def[kWords] = {
        500,                                     // power
        0,                                       // rs232Mode
        512,                                     // vThd
        0,                                       // anaMode
        0,                                       // polarity: dark object on a bright line
        1,                                       // eMode: right edge
        1,                                       // eBeg
        id.ccdvirtpixel,                         // eEnd: the whole line
        512,                                     // tVal
        100,                                     // tTol
        0,                                       // opMode
        1,                                       // eHardware
        static_cast<uint16_t>(scale * 25 / 2),   // slope: 12.5 um a virtual pixel
        kYOffset,                                // intersect: no offset
        0,                                       // average
        0,                                       // deltaTol / trigMode
    };
    std::copy(def, def + kWords, set);
}

void ResetMaxMin(Sensor &s) {
    s.anaMax = 0;
    s.anaMin = static_cast<uint16_t>(s.id.ccdvirtpixel - 1);
}

void InitSensor(Sensor &s, double now) {
    FactoryDefaults(s.id, s.eeprom);
    std::copy(s.eeprom, s.eeprom + kWords, s.ram);
    s.t0 = now;
    ResetMaxMin(s);
}

bool LoadEeprom(Sensor &s, std::string &msg) {
    std::ifstream in(s.eepromPath);
    if (!in) {
        msg = "eeprom file " + s.eepromPath + " not found: factory defaults";
        return false;
    }
    uint16_t set[kWords];
    std::string line;
    int n = 0;
    while (std::getline(in, line)) {
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        char *end = nullptr;
        errno = 0;
        long v = strtol(line.c_str(), &end, 10);
        while (end && (*end == ' ' || *end == '\t' || *end == '\r')) ++end;
        if (errno || end == line.c_str() || *end != '\0' || v < 0 || v > 65535 || n >= kWords) {
            msg = "eeprom file " + s.eepromPath + " is damaged: factory defaults";
            return false;
        }
        set[n++] = static_cast<uint16_t>(v);
    }
    if (n != kWords) {
        msg = "eeprom file " + s.eepromPath + " is damaged: factory defaults";
        return false;
    }
    std::copy(set, set + kWords, s.eeprom);
    return true;
}

// Written beside the target and renamed over it, so an interrupted write
// never leaves a half file behind.
bool SaveEeprom(const Sensor &s, std::string &msg) {
    if (s.eepromPath.empty()) return true;
    std::string tmp = s.eepromPath + ".tmp";
    FILE *f = fopen(tmp.c_str(), "w");
    if (!f) {
        msg = "cannot write " + tmp + ": " + strerror(errno);
        return false;
    }
    bool ok = true;
    for (int i = 0; i < kWords; ++i) ok = fprintf(f, "%u\n", s.eeprom[i]) > 0 && ok;
    ok = fflush(f) == 0 && ok;
    ok = fsync(fileno(f)) == 0 && ok;
    ok = fclose(f) == 0 && ok;
    if (!ok || rename(tmp.c_str(), s.eepromPath.c_str()) != 0) {
        msg = "cannot write " + s.eepromPath + ": " + strerror(errno);
        unlink(tmp.c_str());
        return false;
    }
    return true;
}

void BuildVideo(Sensor &s, double now) {
    const double full = FullScale(s.id);
    const double bright = full * 15 / 16, dark = full / 16;
    const double sp = SampleSpacing(s.id.ccdvirtpixel);
    const double width = 4 * sp;
    double shift = 0;
    if (s.scene.motionPeriod > 0)
        shift = s.scene.motionAmp * std::sin(2 * M_PI * (now - s.t0) / s.scene.motionPeriod);
    std::normal_distribution<double> gauss(0.0, 1.0);
    double l[2], r[2];
    for (int k = 0; k < 2; ++k) {
        l[k] = s.scene.obj[k].left + shift;
        r[k] = s.scene.obj[k].right + shift;
        if (s.scene.jitter > 0) {
            l[k] += s.scene.jitter * gauss(s.rng);
            r[k] += s.scene.jitter * gauss(s.rng);
        }
    }
    for (int i = 0; i < kSamples; ++i) {
        const double x = sp * i;
        double shadow = 0;
        for (int k = 0; k < 2; ++k)
            if (s.scene.obj[k].on)
                shadow = std::max(shadow, Step(x - l[k], width) * Step(r[k] - x, width));
        double level = bright - (bright - dark) * shadow;
        if (s.ram[P_POLARITY] != 0) level = bright + dark - level;
        if (s.scene.videoNoise > 0) level += s.scene.videoNoise * gauss(s.rng);
        level = std::min(level, full - 1);
        s.video[i] = ClampWord(level);
    }
}

Measurement Evaluate(const Sensor &s) {
    Measurement m;
    const int sp = SampleSpacing(s.id.ccdvirtpixel);
    const unsigned beg = s.ram[P_EBEG], end = s.ram[P_EEND];
    const int thd = s.ram[P_VTHD];
    int first = static_cast<int>((beg + sp - 1) / sp);
    int last = static_cast<int>(end / sp);
    m.mvstart = s.video[std::min(first, kSamples - 1)];
    m.mvend = s.video[std::min(last, kSamples - 1)];
    last = std::min(last, kSamples - 1);
    std::vector<double> edges;
    for (int i = first; i < last; ++i) {
        const int a = s.video[i], b = s.video[i + 1];
        if ((a >= thd) != (b >= thd))
            edges.push_back(sp * (i + static_cast<double>(thd - a) / (b - a)));
    }
    m.edcnt = static_cast<uint16_t>(std::min<size_t>(edges.size(), 65535));
    if (!edges.empty()) {
        m.ledge = ClampWord(edges.front());
        m.redge = ClampWord(edges.back());
    }
    const int mode = s.calMode ? 2 : s.ram[P_EMODE];
    int need = 2, value = 0;
    switch (mode) {
    case 0:
        need = 1;
        value = m.ledge;
        break;
    case 1:
        need = 1;
        value = m.redge;
        break;
    case 3: value = (m.ledge + m.redge) / 2; break;
    case 4:   // gap between the first two objects
        need = 3;
        if (edges.size() >= 3) value = ClampWord(edges[2]) - ClampWord(edges[1]);
        break;
    default: value = m.redge - m.ledge; break;   // width
    }
    m.valid = static_cast<int>(edges.size()) >= need;
    m.mvalue = m.valid ? static_cast<uint16_t>(std::max(0, value)) : 0;
    long long um = static_cast<long long>(m.mvalue) * s.ram[P_SLOPE] / SlopeScale(s.id) +
                   (static_cast<long long>(s.ram[P_INTERSECT]) - kYOffset);
    m.um = static_cast<uint32_t>(std::max(0LL, std::min(um, 0xFFFFFFFFLL)));
    return m;
}

void PutFrame(std::vector<uint8_t> &b, int syncWord, int order, const uint16_t w[kWords]) {
    b.clear();
    PutWord(b, static_cast<unsigned>(syncWord));
    PutWord(b, static_cast<unsigned>(order));
    for (int i = 0; i < kWords; ++i) PutWord(b, w[i]);
}

bool HandleRequest(Sensor &s, Stats &st, const uint8_t *frame, double now, Answer &out,
                   std::string &note) {
    const uint16_t order = Word(frame + 2);
    uint16_t in[kWords], w[kWords] = {};
    for (int i = 0; i < kWords; ++i) in[i] = Word(frame + 4 + 2 * i);
    out.order = order;
    out.frame = true;
    out.bytes.clear();
    st.requests[order >= 1 && order <= kOrders ? order : 0]++;
    switch (order) {
    case 1: std::copy(in, in + kWords, s.ram); return false;
    case 3:
        std::copy(in, in + kWords, s.eeprom);
        std::copy(in, in + kWords, s.ram);
        if (!SaveEeprom(s, note)) note = "error: " + note;
        return false;
    case 2: PutFrame(out.bytes, kSensorSync, order, s.ram); return true;
    case 4: PutFrame(out.bytes, kSensorSync, order, s.eeprom); return true;
    case 5: PutFrame(out.bytes, kSensorSync, order, in); return true;
    case 6: {
        BuildVideo(s, now);
        s.ram[P_TVAL] = Evaluate(s).mvalue;
        PutFrame(out.bytes, kSensorSync, order, s.ram);
        return true;
    }
    case 7: {
        std::string text = FirmwareText(s.id);
        out.frame = false;
        if (s.id.pcbtype == 0) {
            text.resize(36, ' ');
            for (char c : text) PutWord(out.bytes, static_cast<uint8_t>(c));
        } else {
            text.resize(72, ' ');
            out.bytes.assign(text.begin(), text.end());
        }
        return true;
    }
    case 8: {
        BuildVideo(s, now);
        Measurement m = Evaluate(s);
        if (m.valid) {
            s.anaMax = std::max(s.anaMax, m.mvalue);
            s.anaMin = std::min(s.anaMin, m.mvalue);
        }
        ++s.frameCounter;
        // clang-format off
        const uint16_t words[kWords] = {
            m.ledge, m.redge, m.mvalue,
            static_cast<uint16_t>(m.um & 0xFFFF), static_cast<uint16_t>(m.um >> 16),
            s.ram[P_TVAL], s.ram[P_TTOL], m.edcnt, m.mvstart, m.mvend,
            s.frameCounter, s.anaMax, s.anaMin, s.in0, 0, 0};
        // clang-format on
        PutFrame(out.bytes, kSensorSync, order, words);
        return true;
    }
    case 9: {
        if (in[0] == 0) BuildVideo(s, now);
        out.frame = false;
        for (unsigned i = in[0]; i < in[0] + 64u; ++i)
            PutWord(out.bytes, i < kSamples ? s.video[i] : 0);
        return true;
    }
    case 10: {
        const Identity &id = s.id;
        // clang-format off
        const uint16_t words[kWords] = {id.ccdtype, id.ccdmaxpixel, id.ccdresolution, id.pcbtype,
                                        id.ccdvirtpixel, id.ccdsubpixel, id.ccdpixb, id.ccdpixe,
                                        id.softversion, id.hwtype, id.adcmax, 0, 0, 0, 0, 0};
        // clang-format on
        PutFrame(out.bytes, kSensorSync, order, words);
        return true;
    }
    case 11: {
        bool zero = std::all_of(in, in + kWords, [](uint16_t v) { return v == 0; });
        if (zero) {
            BuildVideo(s, now);
            out.frame = false;
            for (int i = 0; i < kSamples; ++i) PutWord(out.bytes, s.video[i]);
            return true;
        }
        ResetMaxMin(s);
        w[11] = s.anaMax;
        w[12] = s.anaMin;
        PutFrame(out.bytes, kSensorSync, order, w);
        return true;
    }
    case 12: {
        switch (in[0]) {
        case 0: s.calMode = false; break;
        case 1: s.calMode = true; break;
        case 2:
            s.ram[P_SLOPE] = in[1];
            s.ram[P_INTERSECT] = in[2];
            break;
        default: note = "calibration command " + std::to_string(in[0]) + " ignored"; break;
        }
        w[0] = s.ram[P_SLOPE];
        w[1] = s.ram[P_INTERSECT];
        w[2] = s.calMode ? 1 : 0;
        PutFrame(out.bytes, kSensorSync, order, w);
        return true;
    }
    default: st.unknown++; return false;
    }
}

}   // namespace kvexsim
