// The frame codec and the two frame layouts, on any bytes: every 36 bytes
// decode, and what decodes encodes back to the same bytes; the parameter
// and measurement layouts keep every word.
#include <cstdlib>
#include <cstring>

#include "proto/proto.h"

using namespace proto;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    for (size_t at = 0; at + kFrameBytes <= size; at += kFrameBytes) {
        const Frame f = DecodeFrame(data + at);
        uint8_t again[kFrameBytes];
        EncodeFrame(static_cast<Order>(f.header), f.words, again, f.sync);
        if (std::memcmp(again, data + at, kFrameBytes) != 0) abort();

        // the parameter frame: words -> fields -> words, under either firmware
        const ParamFrame p = ParamsFromWords(f.words);
        if (ParamsToWords(p, 239) != f.words || ParamsToWords(p, 240) != f.words) abort();
        for (int i = 0; i < kWords; ++i)
            if (ParamWordName(i, f.words[0]) == nullptr || !*ParamWordName(i, f.words[0])) abort();

        // the measurement frame: the 32-bit value from words 3 and 4
        const Measurement m = MeasurementFromWords(f.words);
        if (m.Ledge != f.words[0] || m.Redge != f.words[1] || m.Mvalue != f.words[2]) abort();
        if ((m.umValue & 0xFFFF) != f.words[3] || (m.umValue >> 16) != f.words[4]) abort();
        const int64_t um = SignedUm(m.umValue);
        if (static_cast<uint32_t>(um) != m.umValue || um < INT32_MIN || um > INT32_MAX) abort();

        // a recorder line from it is one line, five tab-separated fields
        const std::string line = FormatRecorderLine(m);
        if (line.size() < 2 || line.compare(line.size() - 2, 2, "\r\n") != 0) abort();
        if (line.find('\n') != line.size() - 1) abort();
        size_t tabs = 0;
        for (char c : line) tabs += c == '\t';
        if (tabs != 4) abort();
    }
    // and the word codec on its own, over any odd tail
    for (size_t at = 0; at + 2 <= size; at += 2) {
        uint8_t b[2];
        PutWord(b, GetWord(data + at));
        if (b[0] != data[at] || b[1] != data[at + 1]) abort();
    }
    return 0;
}
