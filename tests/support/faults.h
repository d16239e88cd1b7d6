// The fault matrix: every misbehaviour the simulator offers, during every
// activity of the program. Shared by the fault tests (what the operator
// sees) and the golden traces (what goes on the wire).
#pragma once

#include <string>

namespace faults {

// clang-format off
enum Activity { A_STARTUP, A_GET, A_SEND, A_RUN, A_VIDEO, A_TEACH, A_CALIB, A_RECORD };
constexpr int kActivities = A_RECORD + 1;
inline const char *const kActivityName[] = {"Startup", "Get", "Send", "Run", "Video", "Teach", "Calib", "Record"};

enum Fault { F_NONE, F_SILENT, F_LATE1200, F_LATE1600, F_SHORT, F_EXTRA, F_GARBAGE, F_BADSYNC, F_HWHEADER, F_SILENTAFTER, F_CLOSEAFTER };
constexpr int kFaults = F_CLOSEAFTER + 1;
inline const char *const kFaultName[] = {"None", "Silent", "Late1200", "Late1600", "Short", "Extra",
                                         "Garbage", "BadSync", "HwHeader", "SilentAfterN", "CloseAfterN"};

// Answers that pass before the after-N faults strike, per activity: the
// fault then hits the middle of the activity.
inline const int kAfterN[] = {/*Startup*/ 2, /*Get*/ 0, /*Send*/ 0, /*Run*/ 5, /*Video*/ 5,
                              /*Teach*/ 1, /*Calib*/ 1, /*Record*/ 2};
// clang-format on

// The fault as a simulator command (also given as a start option).
inline std::string FaultCommand(Fault f, Activity a) {
    switch (f) {
    case F_NONE: return "";
    case F_SILENT: return "silent on";
    case F_LATE1200: return "late 1200";
    case F_LATE1600: return "late 1600";
    case F_SHORT: return "short 20";
    case F_EXTRA: return "extra 5";
    case F_GARBAGE: return "garbage 1";
    case F_BADSYNC: return "bad-sync 0x00AB";
    case F_HWHEADER: return "hw-header 11";
    case F_SILENTAFTER: return "silent-after " + std::to_string(kAfterN[a]);
    // the line closes after at least one answer
    case F_CLOSEAFTER: return "close-after " + std::to_string(kAfterN[a] > 0 ? kAfterN[a] : 1);
    }
    return "";
}

}   // namespace faults
