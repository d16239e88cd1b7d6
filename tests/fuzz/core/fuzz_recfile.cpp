// The recorder file reader on any bytes, cut anywhere: it never reports
// more samples than there are complete data lines, hands on each one it
// counts, and a cut file never yields more than the whole. A file the
// recorder writes (header and lines from the same input) reads back as
// written.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "analysis/recfile.h"
#include "proto/proto.h"

namespace {

constexpr int64_t kHeaderLines = 7;

void Count(const RecSample *, void *user) { ++*static_cast<int64_t *>(user); }

void Keep(const RecSample *s, void *user) {
    static_cast<std::vector<RecSample> *>(user)->push_back(*s);
}

struct Read {
    int rc;
    RecReadInfo info;
    int64_t handed = 0;
};

Read ReadBytes(const uint8_t *data, size_t size) {
    Read r;
    RecHeader h;
    r.rc = RecReadBuffer(reinterpret_cast<const char *>(data), size, &h, Count, &r.handed, &r.info);
    int64_t complete = 0;
    for (size_t i = 0; i < size; ++i) complete += data[i] == '\n';
    const int64_t dataLines = complete > kHeaderLines ? complete - kHeaderLines : 0;
    if (r.handed != r.info.samples) abort();
    if (r.info.samples + r.info.badLines > dataLines) abort();
    if (r.info.bytes != static_cast<int64_t>(size)) abort();
    if ((r.rc == 0) != (r.info.ok == 1)) abort();
    if (r.rc != 0 && r.info.message.empty()) abort();
    if (r.rc == 0) {
        const bool endsInLine = size > 0 && data[size - 1] != '\n';
        if (r.info.partialLastLine != (endsInLine ? 1 : 0)) abort();
        if (r.info.badLines > 0 &&
            (r.info.firstBadLine <= kHeaderLines || r.info.firstBadLine > complete))
            abort();
    }
    return r;
}

// A file as the recorder writes it, its numbers from the input.
void WrittenFileReadsBack(const uint8_t *data, size_t size) {
    uint8_t b[16 + 10 * 8] = {};
    std::memcpy(b, data, size < sizeof b ? size : sizeof b);
    proto::RecorderHeader h;
    h.date = "12-07-2026";
    h.time = "10:30:00";
    h.increment = proto::GetWord(b);
    h.samples = proto::GetWord(b + 2);
    h.slope = proto::GetWord(b + 4);
    h.intersect = proto::GetWord(b + 6);
    h.slopeScale = b[8] & 1 ? proto::kSlopeX512 : proto::kSlopeX1024;
    const size_t lines = b[9] % 9;
    std::string file = proto::FormatRecorderHeader(h);
    std::vector<proto::Measurement> ms;
    for (size_t i = 0; i < lines; ++i) {
        const uint8_t *p = b + 16 + 8 * i;
        proto::Measurement m;
        m.Ledge = proto::GetWord(p);
        m.Redge = proto::GetWord(p + 2);
        m.Mvalue = proto::GetWord(p + 4);
        m.edcnt = p[6];
        m.umValue = static_cast<uint32_t>(proto::GetWord(p + 6)) * 40503u;   // spread over 32 bits
        ms.push_back(m);
        file += proto::FormatRecorderLine(m);
    }
    RecHeader rh;
    RecReadInfo info;
    std::vector<RecSample> got;
    if (RecReadBuffer(file.data(), file.size(), &rh, Keep, &got, &info) != 0) abort();
    if (!info.message.empty() || info.crlf != 1 || got.size() != ms.size()) abort();
    if (rh.date != h.date || rh.time != h.time || rh.increment != h.increment ||
        rh.samples != h.samples)
        abort();
    if (rh.offset != static_cast<long>(h.intersect) - proto::kYOffset) abort();
    // four decimals of the slope
    if (std::fabs(rh.slope - static_cast<double>(h.slope) / h.slopeScale) >
        0.00005 + 1e-9 * h.slope)
        abort();
    for (size_t i = 0; i < ms.size(); ++i) {
        const RecSample &s = got[i];
        if (s.left != ms[i].Ledge || s.right != ms[i].Redge || s.value != ms[i].Mvalue ||
            s.edges != ms[i].edcnt || s.um != proto::SignedUm(ms[i].umValue))
            abort();
    }
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const Read whole = ReadBytes(data, size);
    // the same bytes cut where the first bytes say
    if (size > 2) {
        const size_t cut = (static_cast<size_t>(data[0]) << 8 | data[1]) % (size + 1);
        const Read part = ReadBytes(data, cut);
        if (whole.rc == 0 && part.rc == 0 && part.info.samples > whole.info.samples) abort();
        if (part.rc == 0 && whole.rc != 0 &&
            whole.info.message.find("longer than") == std::string::npos)
            abort();   // a good beginning stays good, unless what follows is no text at all
    }
    // the number parsers: a decimal comma reads as a point
    if (size > 0 && size <= 64) {
        const char *s = reinterpret_cast<const char *>(data);
        long long n = 0;
        double d = 0.0, d2 = 0.0;
        if (RecParseInt(s, size, &n) &&
            (!RecParseDouble(s, size, &d) || d != static_cast<double>(n)) &&
            std::fabs(static_cast<double>(n)) < 9007199254740992.0)
            abort();
        std::string comma(s, size);
        for (char &c : comma)
            if (c == '.') c = ',';
        if (RecParseDouble(s, size, &d) != RecParseDouble(comma.data(), comma.size(), &d2)) abort();
        if (RecParseDouble(s, size, &d) && !(d == d2 || (std::isnan(d) && std::isnan(d2)))) abort();
    }
    WrittenFileReadsBack(data, size);
    return 0;
}
