// Reader of the recorder file (see recfile.h).
#include "analysis/recfile.h"
#include "fileio/fileio.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

int RecParseInt(const char *s, size_t len, long long *out) {
    while (len > 0 && (*s == ' ' || *s == '\t')) {
        ++s;
        --len;
    }
    while (len > 0 && (s[len - 1] == ' ' || s[len - 1] == '\t')) --len;
    if (len == 0) return 0;
    const char *b = s, *e = s + len;
    if (*b == '+') ++b;
    long long v = 0;
    auto r = std::from_chars(b, e, v);
    if (r.ec != std::errc() || r.ptr != e) return 0;
    *out = v;
    return 1;
}

int RecParseDouble(const char *s, size_t len, double *out) {
    while (len > 0 && (*s == ' ' || *s == '\t')) {
        ++s;
        --len;
    }
    while (len > 0 && (s[len - 1] == ' ' || s[len - 1] == '\t')) --len;
    if (len == 0 || len > 64) return 0;
    char buf[65];
    std::memcpy(buf, s, len);
    buf[len] = '\0';
    // a file written where the decimal separator is a comma
    for (size_t i = 0; i < len; ++i)
        if (buf[i] == ',') buf[i] = '.';
    const char *b = buf;
    if (*b == '+') ++b;
    double v = 0.0;
    auto r = std::from_chars(b, buf + len, v);
    if (r.ec != std::errc() || r.ptr != buf + len) return 0;
    *out = v;
    return 1;
}

namespace {

struct Labelled {
    const char *label;   // the line starts with it (the micro sign may be any encoding)
    const char *shown;   // in messages
};
// Lines 1 to 7 of the header.
const Labelled kHeader[7] = {
    {"Date:", "Date:"},
    {"Time:", "Time:"},
    {"Time-Increment[s]:", "Time-Increment[s]:"},
    {"Number of Samples:", "Number of Samples:"},
    {"Offset-Value [", "Offset-Value [um]:"},
    {"Slope-Value [", "Slope-Value [um/pixel]:"},
    {"E-LEFT", "E-LEFT<tab>E-RIGHT<tab>M-VALUE<tab>EDGES<tab>M-VAL[um]"},
};

// The text after "label...:" and the tab (or spaces).
bool ValueAfterColon(const char *s, size_t len, const char **v, size_t *vlen) {
    const void *c = std::memchr(s, ':', len);
    if (!c) return false;
    const char *p = static_cast<const char *>(c) + 1;
    *v = p;
    *vlen = len - static_cast<size_t>(p - s);
    return true;
}

class Reader {
public:
    Reader(RecHeader *h, RecSampleFn fn, void *user, RecReadInfo *info)
        : h_(h), fn_(fn), user_(user), info_(info) {}

    // false: stop, not a recorder file
    bool Line(const char *s, size_t len, bool crlf) {
        ++lineNo_;
        if (lineNo_ <= 7) return HeaderLine(s, len, crlf);
        while (len > 0 && (s[len - 1] == ' ' || s[len - 1] == '\t')) --len;
        if (len == 0) return true;   // an empty line holds no sample
        long long f[5];
        int nf = 0;
        size_t i = 0;
        bool bad = false;
        while (i <= len && !bad) {
            size_t j = i;
            while (j < len && s[j] != '\t') ++j;
            if (nf == 5 || !RecParseInt(s + i, j - i, &f[nf]) || f[nf] < INT32_MIN ||
                f[nf] > INT32_MAX)
                bad = true;
            else ++nf;
            i = j + 1;
        }
        if (bad || nf != 5) {
            if (info_->badLines++ == 0) info_->firstBadLine = lineNo_;
            return true;
        }
        RecSample smp;
        smp.left = static_cast<int32_t>(f[0]);
        smp.right = static_cast<int32_t>(f[1]);
        smp.value = static_cast<int32_t>(f[2]);
        smp.edges = static_cast<int32_t>(f[3]);
        smp.um = static_cast<int32_t>(f[4]);
        ++info_->samples;
        if (fn_) fn_(&smp, user_);
        return true;
    }

    int64_t lines() const { return lineNo_; }

    // a line without end beyond any sensible length: no text file of ours
    bool TooLong() {
        ++lineNo_;
        return NotOne("is longer than 64 kB");
    }

private:
    bool NotOne(const char *why) {
        char m[300];
        std::snprintf(m, sizeof m, "not a recorder file: line %lld %s",
                      static_cast<long long>(lineNo_), why);
        info_->message = m;
        return false;
    }

    bool HeaderLine(const char *s, size_t len, bool crlf) {
        const Labelled &want = kHeader[lineNo_ - 1];
        const size_t ll = std::strlen(want.label);
        if (len < ll || std::memcmp(s, want.label, ll) != 0) {
            char why[200];
            std::snprintf(why, sizeof why, "should begin with \"%s\"", want.shown);
            return NotOne(why);
        }
        if (lineNo_ == 1) info_->crlf = crlf ? 1 : 0;
        const char *v = nullptr;
        size_t vl = 0;
        long long n = 0;
        double d = 0.0;
        switch (lineNo_) {
        case 1:
        case 2:
            ValueAfterColon(s, len, &v, &vl);
            while (vl > 0 && (*v == '\t' || *v == ' ')) {
                ++v;
                --vl;
            }
            (lineNo_ == 1 ? h_->date : h_->time).assign(v, vl);
            return true;
        case 3:
        case 4:
        case 5:
            if (!ValueAfterColon(s, len, &v, &vl) || !RecParseInt(v, vl, &n))
                return NotOne("has no whole number after its label");
            if (lineNo_ == 3) h_->increment = static_cast<long>(n);
            else if (lineNo_ == 4) h_->samples = static_cast<long>(n);
            else h_->offset = static_cast<long>(n);
            return true;
        case 6:
            if (!ValueAfterColon(s, len, &v, &vl) || !RecParseDouble(v, vl, &d))
                return NotOne("has no number after its label");
            h_->slope = d;
            return true;
        default: return true;
        }
    }

    RecHeader *h_;
    RecSampleFn fn_;
    void *user_;
    RecReadInfo *info_;
    int64_t lineNo_ = 0;
};

// Feeds blocks to the reader and keeps the line that a block cut in two.
class Splitter {
public:
    static const size_t kMaxLine = 1 << 16;
    explicit Splitter(Reader *r) : r_(r) {}
    // false: stop
    bool Feed(const char *data, size_t n) {
        size_t start = 0;
        for (;;) {
            const void *nl = std::memchr(data + start, '\n', n - start);
            if (!nl) break;
            const size_t end = static_cast<size_t>(static_cast<const char *>(nl) - data);
            bool ok;
            if (!carry_.empty()) {
                carry_.append(data + start, end - start);
                ok = Emit(carry_.data(), carry_.size());
                carry_.clear();
            } else {
                ok = Emit(data + start, end - start);
            }
            if (!ok) return false;
            start = end + 1;
        }
        carry_.append(data + start, n - start);
        if (carry_.size() > kMaxLine) return r_->TooLong();
        return true;
    }
    const std::string &rest() const { return carry_; }

private:
    bool Emit(const char *s, size_t len) {
        const bool crlf = len > 0 && s[len - 1] == '\r';
        return r_->Line(s, crlf ? len - 1 : len, crlf);
    }
    Reader *r_;
    std::string carry_;
};

int Finish(Reader &reader, Splitter &split, bool stopped, RecReadInfo *info) {
    if (stopped) return -1;
    const int64_t lines = reader.lines();
    const size_t rest = split.rest().size();
    if (lines == 0 && rest == 0) {
        info->message = "the file is empty: not a recorder file";
        return -1;
    }
    if (lines < 7) {
        char m[200];
        if (lines == 0)
            std::snprintf(m, sizeof m, "not a recorder file: no line end in %zu bytes", rest);
        else
            std::snprintf(m, sizeof m, "not a recorder file: the header has %lld of its 7 lines",
                          static_cast<long long>(lines));
        info->message = m;
        return -1;
    }
    std::string notes;
    char m[200];
    if (rest > 0) {
        info->partialLastLine = 1;
        info->partialBytes = static_cast<int64_t>(rest);
        std::snprintf(m, sizeof m,
                      "the last line is incomplete (%zu bytes, no line end) and was ignored", rest);
        notes = m;
    }
    if (info->badLines > 0) {
        std::snprintf(
            m, sizeof m,
            "%lld line(s) that are not five whole numbers were skipped, the first is line %lld",
            static_cast<long long>(info->badLines), static_cast<long long>(info->firstBadLine));
        if (!notes.empty()) notes += "; ";
        notes += m;
    }
    info->message = notes;
    info->ok = 1;
    return 0;
}

}   // namespace

int RecReadBuffer(const char *data, size_t size, RecHeader *header, RecSampleFn fn, void *user,
                  RecReadInfo *info) {
    *info = RecReadInfo{};
    *header = RecHeader{};
    Reader reader(header, fn, user, info);
    Splitter split(&reader);
    const bool stopped = !split.Feed(data ? data : "", data ? size : 0);
    info->bytes = static_cast<int64_t>(size);
    return Finish(reader, split, stopped, info);
}

int RecReadFile(const char *path, RecHeader *header, RecSampleFn fn, void *user,
                RecReadInfo *info) {
    *info = RecReadInfo{};
    *header = RecHeader{};
    if (!path) {
        info->message = "cannot open the file: no name";
        return -1;
    }
    Reader reader(header, fn, user, info);
    Splitter split(&reader);
    bool stopped = false, opening = false;
    const int err = fileio::ReadBlocks(
        path, 1 << 20,
        [&](const char *bytes, size_t n) {
            info->bytes += static_cast<int64_t>(n);
            stopped = !split.Feed(bytes, n);
            return !stopped;
        },
        &opening);
    if (err != 0 && opening) {
        info->message = std::string("cannot open the file: ") + std::strerror(err);
        return -1;
    }
    if (err != 0) {
        // a directory opens, and its first read tells what it is
        info->message =
            info->bytes == 0
                ? std::string("cannot read the file: ") + std::strerror(err)
                : std::string("the file could not be read to its end: ") + std::strerror(err);
        return -1;
    }
    return Finish(reader, split, stopped, info);
}
