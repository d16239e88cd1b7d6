// Reader of the recorder file: the seven header lines, then
// one line per sample with E-LEFT, E-RIGHT, M-VALUE, EDGES and M-VAL[um].
// Streaming (the file is read in blocks and each sample handed on at once),
// lines ending in CR LF or LF, numbers read the same in any locale (a
// decimal comma is taken as a point). Plain C++: no Qt, no panels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct RecHeader {
    std::string date, time;   // as written: "MM-DD-YYYY", "HH:MM:SS"
    long increment = 0;       // Time-Increment[s]
    long samples = 0;         // Number of Samples (as planned)
    long offset = 0;          // Offset-Value [um]
    double slope = 0.0;       // Slope-Value [um/pixel]
};

struct RecSample {
    int32_t left = 0, right = 0, value = 0, edges = 0, um = 0;
};

struct RecReadInfo {
    int ok = 0;                 // 1: a recorder file (possibly with notes); 0: see message
    std::string message;        // why it is not one, or the notes on what was skipped
    int64_t samples = 0;        // data lines handed on
    int64_t bytes = 0;          // bytes read
    int crlf = 0;               // the header's line end was CR LF (0: LF)
    int partialLastLine = 0;    // the file ended inside a line, which was ignored
    int64_t partialBytes = 0;   // its length
    int64_t badLines = 0;       // complete lines that are not five integers, skipped
    int64_t firstBadLine = 0;   // line number (1-based) of the first of them
};

// Called for each sample, in file order.
typedef void (*RecSampleFn)(const RecSample *sample, void *user);

// Reads the file; returns 0 when it is a recorder file (info->ok 1), -1 when
// it cannot be opened or is not a recorder file (info->message says why).
int RecReadFile(const char *path, RecHeader *header, RecSampleFn fn, void *user, RecReadInfo *info);
// The same from memory.
int RecReadBuffer(const char *data, size_t size, RecHeader *header, RecSampleFn fn, void *user,
                  RecReadInfo *info);

// Parsers used by the reader, locale-independent. 1 on success.
int RecParseInt(const char *s, size_t len, long long *out);
int RecParseDouble(const char *s, size_t len, double *out);
