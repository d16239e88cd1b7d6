// The sensor model from any hardware reply, firmware version and video full
// scale before it: whatever the sensor says, the model must give the video
// sampling and the drawing numbers they can use.
#include <cstdlib>
#include <cstring>

#include "proto/proto.h"

using namespace proto;

namespace {

bool KnownFullScale(uint16_t y, uint16_t before) { return y == 256 || y == 1024 || y == before; }

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // the reply's 16 words, then the full scale in force before it
    uint8_t buf[kWords * 2 + 2] = {};
    std::memcpy(buf, data, size < sizeof buf ? size : sizeof buf);
    Words w{};
    for (int i = 0; i < kWords; ++i) w[i] = GetWord(buf + 2 * i);
    uint16_t before = GetWord(buf + 2 * kWords);
    if (before == 0) before = 1024;   // the program starts at 1024 and never sets 0

    const HardwareInfo hw = HardwareFromWords(w);
    const SensorModel m = ModelFromHardware(hw, before);

    // 256 video samples, `spacing` virtual pixels apart, cover the line
    if (m.spacing < 1 || m.spacing > 32) abort();
    if (m.hw.ccdvirtpixel == 0 || 256 * m.spacing < m.hw.ccdvirtpixel) abort();
    if (m.hw.ccdvirtpixel / m.spacing > 256) abort();
    if (m.hw.ccdmaxpixel == 0 || m.hw.ccdmaxpixel > 4096) abort();
    // the usable range: the line as corrected, but type 4 is a 512-pixel line
    // and an unknown type keeps the 1024 the program starts with, whatever
    // the reply says (the limit callbacks clamp to it, the bar graph ends there)
    const bool copiesLine =
        (hw.ccdtype >= 1 && hw.ccdtype <= 3) || (hw.ccdtype >= 101 && hw.ccdtype <= 104);
    const uint16_t wantE = copiesLine ? m.hw.ccdvirtpixel : hw.ccdtype == 4 ? 512 : 1024;
    if (m.pixB != 1 || m.pixE != wantE || m.pixE > 8192) abort();
    // the y axis and the slope are divisors somewhere
    if (m.YMAXADC == 0 || !KnownFullScale(m.YMAXADC, before)) abort();
    if (m.slopeScale != kSlopeX512 && m.slopeScale != kSlopeX1024) abort();
    if (m.slopeScale != SlopeScale(hw.ccdtype, hw.softversion)) abort();
    if (m.trigMode != Word15IsTrigMode(hw.softversion)) abort();
    if (m.graphPixels != hw.ccdvirtpixel) abort();
    // the texts are what the panels show: no NUL inside, a switch has both
    if (m.line0.find('\0') != std::string::npos || m.line1.find('\0') != std::string::npos) abort();
    if (m.gainOn.empty() != m.gainOff.empty()) abort();
    // fields the model does not correct come through as received
    if (m.hw.ccdtype != hw.ccdtype || m.hw.softversion != hw.softversion ||
        m.hw.pcbtype != hw.pcbtype)
        abort();
    if (m.firmwareAsWords != (hw.pcbtype == 0)) abort();
    return 0;
}
