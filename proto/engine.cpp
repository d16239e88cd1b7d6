// The frame assembler and the exchange engine.
#include "proto/engine.h"

#include <algorithm>

namespace proto {

size_t FrameStart(const uint8_t *b, size_t n) {
    for (size_t i = 0; i + 1 < n; ++i)
        if (b[i] == 0x00 && b[i + 1] == 0xAA) return i;
    if (n > 0 && b[n - 1] == 0x00) return n - 1;
    return n;
}

void FrameAssembler::Feed(const uint8_t *bytes, size_t n) {
    buf_.insert(buf_.end(), bytes, bytes + n);
}

bool FrameAssembler::TakeFrame(uint8_t out[kFrameBytes]) {
    const size_t at = FrameStart(buf_.data(), buf_.size());
    if (at > 0) {
        buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(at));
        bytesDropped += static_cast<long>(at);
        dropped_ = true;
    }
    if (buf_.size() < static_cast<size_t>(kFrameBytes)) return false;
    std::copy(buf_.begin(), buf_.begin() + kFrameBytes, out);
    buf_.erase(buf_.begin(), buf_.begin() + kFrameBytes);
    if (dropped_) ++resyncs;
    dropped_ = false;
    return true;
}

size_t FrameAssembler::TakeRaw(uint8_t *out, size_t n) {
    const size_t k = std::min(n, buf_.size());
    std::copy(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(k), out);
    buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(k));
    return k;
}

void FrameAssembler::Clear() {
    buf_.clear();
    dropped_ = false;
}

LinkHealth Exchanger::Health() const {
    LinkHealth h;
    h.frames = frames_;
    h.timeouts = timeouts_;
    h.resyncs = asm_.resyncs;
    h.bytesDropped = asm_.bytesDropped;
    return h;
}

void Exchanger::Reset() {
    asm_.Clear();
    lineFreeAt_ = 0;
    storeOnWay_ = false;
}

// A line reports what its driver holds; the last bytes of a UART or what a
// network port hands on are counted by their time on the line.
bool Exchanger::WaitLineFree() {
    const double deadline = line_.Now() + kTimeout;
    for (;;) {
        if (line_.Lost()) return false;
        const double now = line_.Now();
        const long queued = line_.OutQueued();
        const double free =
            std::max(lineFreeAt_, now + static_cast<double>(queued) * line_.CharTime());
        if (queued <= 0 && now >= lineFreeAt_) return true;
        if (now >= deadline) return false;
        if (!line_.SleepUntil(std::min(free, deadline))) return false;
    }
}

Outcome Exchanger::Send(Order order, const Words &words, Await what, uint16_t sync) {
    raw.clear();
    took = 0;
    unframed = 0;
    const bool store = what == Await::Nothing;
    if (!store) {
        // a store written just before may still be on its way: flushing now
        // would drop it (a request that got its reply has left the line)
        if (storeOnWay_) WaitLineFree();
        line_.DiscardInput();
        line_.DiscardOutput();
        asm_.Clear();
    }
    uint8_t frame[kFrameBytes];
    EncodeFrame(order, words, frame, sync);
    const bool written = line_.Write(frame, sizeof frame);
    t0_ = line_.Now();
    if (!written) return line_.Lost() ? Outcome::Lost : Outcome::NotSent;
    // after the flush nothing earlier is queued; a store queues behind what is
    lineFreeAt_ = (store ? std::max(lineFreeAt_, t0_) : t0_) + kFrameBytes * line_.CharTime();
    storeOnWay_ = store;
    if (!store) return Outcome::Done;
    if (WaitLineFree()) {
        storeOnWay_ = false;
        return Outcome::Done;
    }
    return line_.Lost() ? Outcome::Lost : Outcome::NotSent;
}

Outcome Exchanger::Run(Order order, const Words &words, Await what, size_t rawBytes) {
    const Outcome sent = Send(order, words, what);
    if (sent != Outcome::Done || what == Await::Nothing) return sent;
    const double t0 = t0_;
    const double deadline = t0 + kTimeout;
    const long droppedBefore = asm_.bytesDropped;
    uint8_t buf[512];
    bool overrunWatched = false;
    for (;;) {
        long n;
        while ((n = line_.ReadSome(buf, sizeof buf)) > 0) asm_.Feed(buf, static_cast<size_t>(n));
        if (n < 0) return Outcome::Lost;
        if (what == Await::Frame) {
            uint8_t got[kFrameBytes];
            if (asm_.TakeFrame(got)) {
                reply = DecodeFrame(got);
                took = line_.Now() - t0;
                ++frames_;
                // whatever followed the frame is not part of it
                asm_.Clear();
                return Outcome::Done;
            }
        } else if (asm_.Buffered() >= rawBytes) {
            if (overrunWatched || asm_.Buffered() > rawBytes) break;
            // a longer reply shows as one byte more
            overrunWatched = true;
            const double until = std::min(line_.Now() + rawOverrunWait, deadline);
            if (line_.WaitReadable(until) == ByteLine::Wait::Interrupted)
                return Outcome::Interrupted;
            continue;
        }
        switch (line_.WaitReadable(deadline)) {
        case ByteLine::Wait::Readable: continue;
        case ByteLine::Wait::Interrupted: return Outcome::Interrupted;
        case ByteLine::Wait::Lost: return Outcome::Lost;
        case ByteLine::Wait::Deadline: break;
        }
        break;
    }
    if (what == Await::Raw) {
        raw.resize(std::min(asm_.Buffered(), rawBytes + 1));
        raw.resize(asm_.TakeRaw(raw.data(), raw.size()));
        asm_.Clear();
        took = line_.Now() - t0;
        if (raw.size() >= rawBytes) return Outcome::Done;
    }
    unframed = static_cast<size_t>(asm_.bytesDropped - droppedBefore) + asm_.Buffered();
    ++timeouts_;
    return Outcome::Timeout;
}

}   // namespace proto
