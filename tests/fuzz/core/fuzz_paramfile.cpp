// The parameter file reader on any text: what it accepts, written back by
// the writer, reads the same; what it refuses leaves the words untouched;
// and it accepts exactly what it documents (white space and digits only,
// at least 16 numbers).
#include <cstdlib>
#include <string>

#include "proto/proto.h"

using namespace proto;

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// An independent reading of the documented format.
int Documented(const std::string &t, Words &w) {
    int count = 0;
    size_t i = 0;
    while (i < t.size()) {
        if (IsSpace(t[i])) {
            ++i;
            continue;
        }
        if (t[i] < '0' || t[i] > '9') return -3;
        unsigned long long low = 0;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
            low = (low * 10 + static_cast<unsigned>(t[i] - '0')) % 65536;
            ++i;
        }
        if (count < kWords) w[count] = static_cast<uint16_t>(low);
        ++count;
    }
    return count < kWords ? -2 : 0;
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    Words words;
    for (int i = 0; i < kWords; ++i) words[i] = static_cast<uint16_t>(0xA5A5 + i);
    const Words before = words;

    const ParamFileResult r = ParseParamFile(text, words);
    Words expected{};
    const int want = Documented(text, expected);
    if (static_cast<int>(r) != want) abort();
    if (r != ParamFileResult::Ok) {
        if (words != before) abort();
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
