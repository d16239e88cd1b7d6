// The frame assembler, the byte-line interface and the exchange engine: how a
// request goes out and its reply is found in what the line brings, whatever
// line that is. No Qt, no globals.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "proto/proto.h"

namespace proto {

// ---------------------------------------------------------------- finding frames

// Where a frame may start in b[0..n): the first sensor sync word 0x00 0xAA;
// else the last byte when it is 0x00 (the second half may still come); else n.
size_t FrameStart(const uint8_t *b, size_t n);

// Bytes in, whole frames out. Bytes before a sync word (a sensor powering
// up, a touched connector, a second program on the line) are dropped and
// counted; a frame found after such bytes counts as a resync.
class FrameAssembler {
public:
    void Feed(const uint8_t *bytes, size_t n);
    // The next whole frame from a sync word, if one is there.
    bool TakeFrame(uint8_t out[kFrameBytes]);
    // Raw blocks (the firmware text, video) come without a sync word: up to
    // n bytes as they came; the count taken.
    size_t TakeRaw(uint8_t *out, size_t n);
    size_t Buffered() const { return buf_.size(); }
    // What came but is not part of what was taken; forgets a pending resync.
    void Clear();

    long resyncs = 0, bytesDropped = 0;

private:
    std::vector<uint8_t> buf_;
    bool dropped_ = false;
};

// ---------------------------------------------------------------- a byte line

// What the engine needs of a line: a local serial device or, later, a
// network port. Times are monotonic seconds.
class ByteLine {
public:
    enum class Wait { Readable, Deadline, Interrupted, Lost };

    virtual ~ByteLine() = default;
    // All n bytes or false (the line is lost, or the bytes did not go out
    // within the time-out).
    virtual bool Write(const uint8_t *bytes, size_t n) = 0;
    // Bytes the line still holds to send; 0 when it cannot tell.
    virtual long OutQueued() = 0;
    // What came, up to n bytes, without waiting; -1 when the line is lost.
    virtual long ReadSome(uint8_t *buf, size_t n) = 0;
    virtual Wait WaitReadable(double deadline) = 0;
    // Sleeps until `until`; false when interrupted.
    virtual bool SleepUntil(double until) = 0;
    virtual void DiscardInput() = 0;
    virtual void DiscardOutput() = 0;
    virtual bool Lost() const = 0;
    virtual double Now() const = 0;
    // Seconds one character takes on the line (start, 8 data, stop bits).
    virtual double CharTime() const { return 10.0 / kBaud; }
};

// ---------------------------------------------------------------- the exchange

enum class Await {
    Nothing,   // a store: only that the frame has left on the line
    Frame,     // a frame from the sensor's sync word
    Raw,       // a raw block of a given size
};

enum class Outcome {
    Done,          // the reply came (a store: the frame is out)
    Timeout,       // nothing whole within the time-out of the write
    NotSent,       // the frame did not go out whole
    Lost,          // the line went away
    Interrupted,   // a stop was asked for
};

// What the windows' link-health field shows, and kvex-ctl reports.
struct LinkHealth {
    long frames = 0, timeouts = 0, resyncs = 0, bytesDropped = 0;
};

// One request at a time on a line: flushes what an earlier exchange left
// (but never a store still on its way out), writes, and waits up to
// kTimeout from the write for the reply.
class Exchanger {
public:
    explicit Exchanger(ByteLine &line) : line_(line) {}

    Outcome Run(Order order, const Words &words, Await what, size_t rawBytes = 0);

    // Run's request half alone, for a program that waits for the reply in
    // its own event loop: the flush before a request that awaits a reply
    // (never of a store still on its way), the write, and for a store the
    // wait until it is out. Done: written (a store: out on the line).
    Outcome Send(Order order, const Words &words, Await what, uint16_t sync = kHostSync);

    // The reply of the last Run: a frame, or the raw bytes that came (also
    // after a time-out; a raw reply longer than asked shows as one more byte).
    Frame reply;
    std::vector<uint8_t> raw;
    // Seconds from the write to the reply.
    double took = 0;
    // Bytes that came after the request without forming a frame (a line
    // looped back on itself, a sensor with another sync word).
    size_t unframed = 0;
    // Extra time a raw reply is watched for one byte more than asked.
    double rawOverrunWait = 0.02;

    LinkHealth Health() const;
    // A new line (after a reconnect): what is queued is forgotten, the
    // counts stay.
    void Reset();

private:
    bool WaitLineFree();
    ByteLine &line_;
    FrameAssembler asm_;
    double lineFreeAt_ = 0;   // when the last written byte has left the line
    double t0_ = 0;
    bool storeOnWay_ = false;   // a store not yet seen out on the line
    long frames_ = 0, timeouts_ = 0;
};

}   // namespace proto
