// The parameter file and the recorder file, byte for byte as the program
// writes them, whatever the process locale.
#include <cmath>
#include <charconv>
#include <cinttypes>
#include <cstdio>

#include "proto/proto.h"

namespace proto {

std::string FormatParamFile(const Words &w) {
    std::string out;
    char line[16];
    for (uint16_t v : w) {
        // integers only: printf's integer conversions ignore the locale
        int n = std::snprintf(line, sizeof line, "%5u\n", static_cast<unsigned>(v));
        out.append(line, static_cast<size_t>(n));
    }
    return out;
}

namespace {
bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
}   // namespace

ParamFileResult ParseParamFile(const std::string &text, Words &out) {
    Words got{};
    int count = 0;
    bool inNumber = false;
    unsigned value = 0;   // kept to its low 16 bits as the digits come
    auto finish = [&] {
        if (count < kWords) got[count] = static_cast<uint16_t>(value);
        ++count;
        inNumber = false;
    };
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            if (!inNumber) {
                inNumber = true;
                value = 0;
            }
            value = (value * 10u + static_cast<unsigned>(c - '0')) & 0xFFFFu;
        } else if (IsSpace(c)) {
            if (inNumber) finish();
        } else {
            return ParamFileResult::NotANumber;
        }
    }
    if (inNumber) finish();
    if (count < kWords) return ParamFileResult::TooFew;
    out = got;
    return ParamFileResult::Ok;
}

std::string FormatRecorderHeader(const RecorderHeader &h) {
    const int32_t offset = static_cast<int32_t>(h.intersect) - kYOffset;
    const float slopeValue =
        static_cast<float>(static_cast<double>(h.slope) /
                           static_cast<double>(h.slopeScale > 0 ? h.slopeScale : kSlopeX1024));
    // four decimals keep the 1/1024 steps of the slope word apart
    const std::string slopeText = NumberText(static_cast<double>(slopeValue), 'f', 4);

    std::string out;
    out += "Date:\t" + h.date + "\r\n";
    out += "Time:\t" + h.time + "\r\n";
    out += "Time-Increment[s]:\t" + std::to_string(h.increment) + "\r\n";
    out += "Number of Samples:\t" + std::to_string(h.samples) + "\r\n";
    out += "Offset-Value [\xB5m]:\t" + std::to_string(offset) + "\r\n";
    out += std::string("Slope-Value [\xB5m/pixel]:\t") + slopeText + "\r\n";
    out += "E-LEFT\tE-RIGHT\tM-VALUE\tEDGES\tM-VAL[um]\r\n";
    return out;
}

std::string FormatRecorderLine(const Measurement &m) {
    char line[96];
    int n = std::snprintf(line, sizeof line, "%u\t%u\t%u\t%u\t%" PRId64 "\r\n",
                          static_cast<unsigned>(m.Ledge), static_cast<unsigned>(m.Redge),
                          static_cast<unsigned>(m.Mvalue), static_cast<unsigned>(m.edcnt),
                          SignedUm(m.umValue));
    return std::string(line, static_cast<size_t>(n));
}

std::string NumberText(double value, char style, int precision) {
    // to_chars rounds as printf does in the C locale, and never reads the
    // process locale; 400 characters hold any double in fixed notation
    char text[400];
    const auto r =
        std::to_chars(text, text + sizeof text, value,
                      style == 'g' ? std::chars_format::general : std::chars_format::fixed,
                      precision < 0 ? 0 : precision);
    if (r.ec != std::errc()) return "-";
    return std::string(text, r.ptr);
}

std::string OneDecimal(double value) {
    if (!std::isfinite(value) || std::fabs(value) >= 1e15) return "-";
    const long long tenths = std::llround(value * 10.0);
    const unsigned long long mag = static_cast<unsigned long long>(tenths < 0 ? -tenths : tenths);
    std::string out = tenths < 0 ? "-" : "";
    out += std::to_string(mag / 10) + "." + std::to_string(mag % 10);
    return out;
}

}   // namespace proto
