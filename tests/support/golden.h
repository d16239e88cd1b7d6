// Golden traces: what the program wrote on the line and into files during
// a scenario, compared byte for byte with the copy kept in tests/golden/.
//
// A trace is text, one line per entry:
//   # <step>             a step of the scenario, written by the test
//   > 00 55 00 08 ...    the bytes of one write to the line, in hex
//   status: "<text>"     the status line after a step
// Files are kept as written, with dates and times masked.
//
// RIDAR_GOLDEN_RECORD=1 writes the golden copies instead of comparing (see
// tests/golden/README.md for when that is allowed).
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace golden {

// Records every write to the line from construction to destruction, and
// runs actions of the operator at fixed points of the exchange.
class Trace {
public:
    Trace();
    ~Trace();
    Trace(const Trace &) = delete;
    Trace &operator=(const Trace &) = delete;

    void Step(const std::string &name);
    // The status line as it stands (and the recorder's status box).
    void Status();
    void RecorderStatus();
    // Runs fn from the event loop once the n-th request with this order has
    // gone out (n counted from the trace's start): the operator acts while
    // that request is outstanding, so what follows does not depend on the
    // machine's speed. Loops look at the stop button before their next
    // request, never between a request and its reply.
    void At(int order, int n, std::function<void()> fn);
    int Count(int order) const;
    // Leaves out the writes after the first n that follow step `step`, and
    // says so: used where the sensor closes the line and whether the next
    // write still reached it depends on timing.
    void KeepWrites(const std::string &step, int n);
    const std::string &Text() const { return text_; }

private:
    void OnWrite(const char *bytes, int count);
    std::string text_;
    std::map<int, int> counts_;
    std::map<std::pair<int, int>, std::function<void()>> actions_;
};

// The file's bytes with the recorder header's date and time masked (only
// when they have the form MM-DD-YYYY and HH:MM:SS, so a changed form shows).
std::string MaskDateTime(const std::string &file);

// Compares `actual` with tests/golden/<name>, or writes it there when
// recording. On a difference the actual bytes go to <build>/golden-actual/.
void Check(const std::string &name, const std::string &actual);

// Each scenario must start from the program's state after start-up. ctest
// runs every test in a process of its own; when this binary runs several
// in one process, every scenario after the first is run again alone in a
// child process, whose result this returns (true: the caller is done).
bool RanInChild();

// Base options of the simulator: no noise, a fixed seed.
std::vector<std::string> SimArgs(std::vector<std::string> more = {});

}   // namespace golden
