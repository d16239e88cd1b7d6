// The parameter file and the recorder file, byte for byte as the program
// writes them, whatever the process locale.
#include <algorithm>
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
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool AllDigits(const std::string &s, size_t from) {
    if (from >= s.size()) return false;
    for (size_t i = from; i < s.size(); ++i)
        if (!IsDigit(s[i])) return false;
    return true;
}
}   // namespace

ParamFileResult ParseParamFile(const std::string &text, Words &out, ParamFileFault *fault) {
    Words got{};
    int count = 0, line = 1;
    size_t i = 0;
    while (i < text.size()) {
        if (IsSpace(text[i])) {
            line += text[i++] == '\n';
            continue;
        }
        size_t end = i;
        while (end < text.size() && !IsSpace(text[end])) ++end;
        // never more than 65536: a long digit string cannot overflow
        uint32_t value = 0;
        bool digits = true;
        for (size_t k = i; k < end && digits; ++k) {
            digits = IsDigit(text[k]);
            if (digits)
                value =
                    std::min<uint32_t>(value * 10u + static_cast<uint32_t>(text[k] - '0'), 65536u);
        }
        if (!digits || value > 65535u) {
            if (fault) {
                fault->line = line;
                fault->text = text.substr(i, end - i);
            }
            return digits ? ParamFileResult::OutOfRange : ParamFileResult::NotANumber;
        }
        if (count < kWords) got[count] = static_cast<uint16_t>(value);
        ++count;
        i = end;
    }
    if (count < kWords) {
        if (fault) *fault = ParamFileFault{};
        return ParamFileResult::TooFew;
    }
    out = got;
    return ParamFileResult::Ok;
}

std::string ParamFileProblem(ParamFileResult r, const ParamFileFault &fault) {
    // what the file holds, readable on a terminal and in a table cell
    const size_t kShown = 24;
    std::string shown;
    for (size_t k = 0; k < fault.text.size() && k < kShown; ++k) {
        const unsigned char c = static_cast<unsigned char>(fault.text[k]);
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", c);
        shown += c > 0x20 && c < 0x7F ? std::string(1, static_cast<char>(c)) : std::string(hex);
    }
    if (fault.text.size() > kShown) shown += "...";
    const char kWord[] = " is not a parameter word (0..65535)";
    switch (r) {
    case ParamFileResult::Ok: return "";
    case ParamFileResult::TooFew: return "not a parameter file (fewer than 16 numbers)";
    case ParamFileResult::OutOfRange: return shown + kWord;
    case ParamFileResult::NotANumber:
        // a negative number is a number, just not one the sensor can hold
        if (!fault.text.empty() && fault.text[0] == '-' && AllDigits(fault.text, 1))
            return shown + kWord;
        return "\"" + shown + "\" is not an unsigned decimal number";
    }
    return "";
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
