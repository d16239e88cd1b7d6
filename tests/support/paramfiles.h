// Parameter files that hold a word no parameter can: the texts, and a file
// with one of them on a given line. Plain C++, for the core's tests too.
#pragma once

#include <string>

// Numbers the sensor's 16-bit words cannot hold, as a file may have them.
inline const char *const kNoParamWords[] = {"65536", "70000", "-1", "4294967796"};
// The edges that are words.
inline const char *const kEdgeParamWords[] = {"0", "65535"};

// Sixteen lines "1" to "16" (word i holds i + 1), line pos + 1 holding
// `text` instead.
inline std::string ParamFileWith(int pos, const std::string &text) {
    std::string out;
    for (int i = 0; i < 16; ++i) out += (i == pos ? text : std::to_string(i + 1)) + "\n";
    return out;
}
