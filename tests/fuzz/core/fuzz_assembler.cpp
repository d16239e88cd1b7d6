// The frame assembler and the exchange engine on any bytes in any chunks:
// every frame taken starts with the sensor's sync word, no byte is lost or
// counted twice, and an exchange ends within its time-out.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "proto/engine.h"

using namespace proto;

namespace {

// Bytes arrive in chunks, one every 0.1 s of a clock of its own.
class ChunkLine : public ByteLine {
public:
    ChunkLine(const uint8_t *d, size_t n) : data_(d), size_(n) {}
    bool Write(const uint8_t *, size_t) override { return true; }
    long OutQueued() override { return 0; }
    long ReadSome(uint8_t *buf, size_t n) override {
        if (at_ >= size_ || due_ > now_) return 0;
        const size_t k =
            std::min<size_t>({n, size_ - at_, static_cast<size_t>(data_[at_] % 50) + 1});
        std::memcpy(buf, data_ + at_, k);
        at_ += k;
        due_ = now_ + 0.1;
        return static_cast<long>(k);
    }
    Wait WaitReadable(double deadline) override {
        if (at_ >= size_ || due_ > deadline) {
            now_ = std::max(now_, deadline);
            return Wait::Deadline;
        }
        now_ = std::max(now_, due_);
        return Wait::Readable;
    }
    bool SleepUntil(double until) override {
        now_ = std::max(now_, until);
        return true;
    }
    void DiscardInput() override {}
    void DiscardOutput() override {}
    bool Lost() const override { return false; }
    double Now() const override { return now_; }

private:
    const uint8_t *data_;
    size_t size_, at_ = 0;
    double now_ = 0, due_ = 0;
};

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FrameAssembler a;
    long frames = 0;
    size_t at = 0;
    while (at < size) {
        const size_t k = std::min(size - at, static_cast<size_t>(data[at] % 40) + 1);
        a.Feed(data + at, k);
        at += k;
        uint8_t f[kFrameBytes];
        while (a.TakeFrame(f)) {
            if (f[0] != 0x00 || f[1] != 0xAA) abort();
            ++frames;
        }
    }
    if (static_cast<size_t>(a.bytesDropped) + static_cast<size_t>(frames) * kFrameBytes +
            a.Buffered() !=
        size)
        abort();
    if (a.resyncs > frames) abort();

    for (Await what : {Await::Frame, Await::Raw}) {
        ChunkLine line(data, size);
        Exchanger x(line);
        const Outcome o = x.Run(Order::Measure, Words{}, what, kFirmwareBytes);
        if (line.Now() > kTimeout + 1e-9) abort();
        if (o == Outcome::Done && what == Await::Frame && x.reply.sync != kSensorSync) abort();
        if (what == Await::Raw && x.raw.size() > static_cast<size_t>(kFirmwareBytes) + 1) abort();
        if (o != Outcome::Done && o != Outcome::Timeout) abort();
    }
    return 0;
}
