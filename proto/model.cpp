// What a sensor is: the model from the hardware reply, the firmware text
// and the series rules.
#include <cmath>
#include <cstring>

#include "proto/proto.h"

namespace proto {

HardwareInfo HardwareFromWords(const Words &w) {
    HardwareInfo h;
    h.ccdtype = w[0];
    h.ccdmaxpixel = w[1];
    h.ccdresolution = w[2];
    h.pcbtype = w[3];
    h.ccdvirtpixel = w[4];
    h.ccdsubpixel = w[5];
    h.ccdpixB = w[6];
    h.ccdpixE = w[7];
    h.softversion = w[8];
    h.hwtype = w[9];
    h.adcmax = w[10];
    return h;
}

int SlopeScale(uint16_t ccdtype, uint16_t softversion) {
    return (ccdtype == 104 && softversion < 250) ? kSlopeX512 : kSlopeX1024;
}

namespace {

// 0: not a line length the video sampling knows
int SpacingFor(uint16_t virtPixels) {
    // clang-format off
    switch (virtPixels) {
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
    default: return 0;
    }
    // clang-format on
}

bool KnownMaxPixels(uint16_t n) {
    // clang-format off
    switch (n) {
    case 512: case 768: case 1024: case 1280: case 1536: case 2048: case 3072: case 4096:
        return true;
    default:
        return false;
    }
    // clang-format on
}

void Lines(SensorModel &m, const char *l0, const char *l1) {
    m.line0 = l0;
    m.line1 = l1;
}

uint16_t AdcRange(const HardwareInfo &h) { return h.adcmax == 256 ? 256 : 1024; }

// Types 102..104: an 8-bit video path on firmware 220..239.
uint16_t AdcRange8Bit(const HardwareInfo &h) {
    if (h.softversion >= 220 && h.softversion < 240) return 256;
    return AdcRange(h);
}

}   // namespace

SensorModel ModelFromHardware(const HardwareInfo &hw, uint16_t yMaxAdcBefore) {
    SensorModel m;
    m.hw = hw;
    m.graphPixels = hw.ccdvirtpixel;
    if (!KnownMaxPixels(hw.ccdmaxpixel)) m.hw.ccdmaxpixel = 1024;
    m.spacing = SpacingFor(hw.ccdvirtpixel);
    if (m.spacing == 0) {
        m.spacing = 4;
        m.hw.ccdvirtpixel = 1024;
    }
    m.slopeScale = SlopeScale(hw.ccdtype, hw.softversion);
    m.trigMode = Word15IsTrigMode(hw.softversion);
    m.firmwareAsWords = hw.pcbtype == 0;
    m.videoIn64Blocks = hw.pcbtype == 0 || hw.pcbtype == 100;
    m.YMAXADC = yMaxAdcBefore;
    m.pixB = 1;
    m.pixE = m.hw.ccdvirtpixel;
    const char *hi = "HI-GAIN", *lo = "LO-GAIN", *adc = "ADC-CNV", *dig = "DIG-CMP";
    switch (hw.ccdtype) {
    case 1:
        if (hw.hwtype == 80 || hw.ccdresolution == 80) {
            if (hw.ccdresolution == 20)
                Lines(m, "CCD-SENSOR:1024 pixel; 4096 subpixel",
                      "8.0mm working range; 2\xB5m resolution");
            else
                Lines(m, "CCD-SENSOR:1024 pixel; 2048 subpixel",
                      "8.0mm working range; 4\xB5m resolution");
            m.word15ByFirmware = true;
            m.rs232ModeFixed = true;
        }
        m.gainOn = hi, m.gainOff = lo;
        m.YMAXADC = AdcRange(hw);
        break;
    case 2:
        if (hw.ccdresolution == 750)
            Lines(m, "CCD-SENSOR:1024 pixel; 25\xB5m pixel-pitch;",
                  "opt.-lense, 75mm working range");
        if (hw.hwtype == 250 || hw.ccdresolution == 250) {
            Lines(m, "CCD-SENSOR:1024 pixel; 2048 subpixel",
                  "25.6mm working range; 12.5\xB5m resolution");
            m.word15ByFirmware = true;
        }
        if (hw.hwtype == 350 || hw.ccdresolution == 350) {
            Lines(m, "CCD-SENSOR:1024 pixel; 2048 subpixel",
                  "35mm working range; 17\xB5m resolution");
            m.word15ByFirmware = true;
        }
        m.gainOn = hi, m.gainOff = lo;
        m.YMAXADC = AdcRange(hw);
        break;
    case 3:
        Lines(m, "CCD-SENSOR:512 pixel; 25\xB5m pixel-pitch;", "12,8mm working range");
        m.gainOn = hi, m.gainOff = lo;
        m.word15ByFirmware = true;
        m.rs232ModeFixed = hw.softversion >= 240;
        m.YMAXADC = AdcRange(hw);
        break;
    case 4:
        Lines(m, "CCD-SENSOR:512 pixel; 12,5\xB5m pixel-pitch;", "6,4mm working range");
        m.pixE = 512;
        m.stripToMaxPixels = true;
        break;
    case 101:
        Lines(m, "CCD-SENSOR:256 pixel; 63.5\xB5m pixel-pitch;",
              "Working-Range: 16.25mm, Resolution: 31.75\xB5m (subpixel x2)");
        m.gainOn = adc, m.gainOff = dig;
        m.word15ByFirmware = true;
        m.YMAXADC = AdcRange(hw);
        break;
    case 102:
        Lines(m, "CCD-SENSOR:768 pixel; 63.5\xB5m pixel-pitch;",
              "Working-Range: 48,8mm, Resolution: 31.75\xB5m (subpixel x2)");
        m.gainOn = adc, m.gainOff = dig;
        m.word15ByFirmware = true;
        m.YMAXADC = AdcRange8Bit(hw);
        break;
    case 103:
        Lines(m, "CCD-SENSOR:1180 pixel; 63.5\xB5m pixel-pitch;",
              "Working-Range: 74,9mm,   Resolution: 31.75\xB5m (subpixel x2)");
        m.gainOn = adc, m.gainOff = dig;
        m.word15ByFirmware = true;
        m.YMAXADC = AdcRange8Bit(hw);
        break;
    case 104:
        if (hw.softversion >= 250)
            Lines(m, "CCD-SENSOR:1536 pixel; 63.5\xB5m pixel-pitch;",
                  "Working-Range: 97,5mm, Resolution: 31.75\xB5m (subpixel x2)");
        else
            Lines(m, "CCD-SENSOR:1536 pixel; 63.5\xB5m pixel-pitch;",
                  "Working-Range: 97,5mm, Resolution: 63.5\xB5m");
        m.gainOn = adc, m.gainOff = dig;
        m.word15ByFirmware = true;
        m.YMAXADC = AdcRange8Bit(hw);
        break;
    default:
        Lines(m, "CCD-SENSOR: no information avialable!", "                                     ");
        m.gainOn = adc, m.gainOff = dig;
        m.pixE = 1024;
        break;
    }
    return m;
}

std::string FirmwareText(const uint8_t *bytes, size_t n, uint16_t pcbtype) {
    if (bytes == nullptr || n != static_cast<size_t>(kFirmwareBytes)) return "";
    std::string text;
    if (pcbtype == 0) {
        // 36 words, one character each in the low byte
        for (int i = 0; i < kFirmwareBytes / 2; ++i) text += static_cast<char>(bytes[2 * i + 1]);
    } else {
        text.assign(reinterpret_cast<const char *>(bytes), n);
    }
    // the text ends at its first NUL, as a C string would
    const size_t nul = text.find('\0');
    if (nul != std::string::npos) text.resize(nul);
    return text;
}

int SeriesResult(const std::string &text) {
    struct Entry {
        const char *name;
        size_t len;
        int result;
    };
    static const Entry series[] = {
        {"K-VEX-XC", 8, 0},      {"K-VEX-XD", 8, -1},     {"K-VEX-XG-XC", 11, -2},
        {"K-VEX-XH-XC", 11, -3}, {"K-VEX-XG-XD", 11, -4}, {"K-VEX-XH-XD", 11, -5},
        {"K-VEX-XF", 8, -6},
    };
    for (const Entry &e : series)
        if (std::strncmp(text.c_str(), e.name, e.len) == 0) return e.result;
    return 0;
}

const char *SeriesRefusedText(int r) {
    switch (r) {
    case -1: return "K-VEX-XD-series hardware detected!\nUSE K-VEX-XD-Ridar Software!";
    case -2:
    case -3: return "K-VEX-XJ-XC-series hardware detected!\nUSE K-VEX-XJ-XC-Ridar Software!";
    case -4:
    case -5: return "K-VEX-XJ-XD-series hardware detected!\nUSE K-VEX-XJ-XD-Ridar Software!";
    case -6: return "K-VEX-XF-series hardware detected!\nUSE K-VEX-XF-Ridar Software!";
    default:
        return "Incompatible hardware detected!\nCan not be used with K-VEX-XC-Ridar Software!";
    }
}

Band ToleranceBand(uint16_t tVal, uint16_t tol, int lowest, int highest) {
    Band b{static_cast<int>(tVal) - static_cast<int>(tol),
           static_cast<int>(tVal) + static_cast<int>(tol)};
    if (b.lower < lowest) b.lower = lowest;
    if (b.upper > highest) b.upper = highest;
    return b;
}

uint16_t DoubleToWord(double value) {
    if (!std::isfinite(value)) return 0;
    // an out-of-range double cast to an integer is undefined, so reduce first
    double m = std::fmod(std::trunc(value), 65536.0);
    if (m < 0) m += 65536.0;
    return static_cast<uint16_t>(static_cast<unsigned>(m));
}

}   // namespace proto
