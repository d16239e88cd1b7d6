// The parameter file reader on any text: what it accepts, written back by
// the writer, reads the same; what it refuses leaves the words untouched;
// and it accepts exactly what it documents (white space and numbers of
// 0..65535 only, at least 16 of them), naming the line and text it refuses.
#include <cstdlib>
#include <string>

#include "proto/proto.h"

using namespace proto;

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// An independent reading of the documented format: the line and the text
// of the first word that is no number of 0..65535.
int Documented(const std::string &t, Words &w, ParamFileFault &f) {
    int count = 0, line = 1;
    size_t i = 0;
    while (i < t.size()) {
        if (IsSpace(t[i])) {
            line += t[i] == '\n';
            ++i;
            continue;
        }
        size_t j = i;
        while (j < t.size() && !IsSpace(t[j])) ++j;
        f.line = line;
        f.text = t.substr(i, j - i);
        if (f.text.find_first_not_of("0123456789") != std::string::npos) return -3;
        const size_t first = f.text.find_first_not_of('0');
        const std::string digits = first == std::string::npos ? "0" : f.text.substr(first);
        if (digits.size() > 5 || std::stoul(digits) > 65535) return -4;
        if (count < kWords) w[count] = static_cast<uint16_t>(std::stoul(digits));
        ++count;
        i = j;
    }
    f = ParamFileFault{};
    return count < kWords ? -2 : 0;
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    Words words;
    for (int i = 0; i < kWords; ++i) words[i] = static_cast<uint16_t>(0xA5A5 + i);
    const Words before = words;

    ParamFileFault fault;
    const ParamFileResult r = ParseParamFile(text, words, &fault);
    Words expected{};
    ParamFileFault wantFault;
    const int want = Documented(text, expected, wantFault);
    if (static_cast<int>(r) != want) abort();
    if (r != ParamFileResult::Ok) {
        if (words != before) abort();
        if (fault.line != wantFault.line || fault.text != wantFault.text) abort();
        if (ParamFileProblem(r, fault).empty()) abort();
        return 0;
    }
    if (words != expected) abort();
    const std::string written = FormatParamFile(words);
    if (written.size() != static_cast<size_t>(kWords) * 6) abort();
    Words again{};
    if (ParseParamFile(written, again) != ParamFileResult::Ok || again != words) abort();
    if (FormatParamFile(again) != written) abort();
    return 0;
}
