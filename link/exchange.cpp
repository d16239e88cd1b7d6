// One exchange with the sensor: a request frame and the wait for its reply.
// The request half (the flush, the write, a store's wait until it is out)
// is the protocol engine's; the wait for a reply pumps the windows' events.
// before frame.h, whose sync macro would rename unistd.h's sync()
#include "lines/serial_line.h"
#include "link/frame.h"

#include <algorithm>
#include <cstring>

#include "proto/engine.h"

namespace {

// The run-time layer's port as the engine's line.
class RtLine final : public proto::ByteLine {
public:
    int port = 0;

    bool Write(const uint8_t *bytes, size_t n) override {
        // szWriteBuf keeps what went out, as the program always had it
        std::memcpy(szWriteBuf, bytes, n);
        nBytesW = ComWrt(port, szWriteBuf, static_cast<int>(n));
        return nBytesW == static_cast<int>(n);
    }
    long OutQueued() override {
        const int n = GetOutQLen(port);
        return n > 0 ? n : 0;
    }
    long ReadSome(uint8_t *buf, size_t n) override {
        const int queued = GetInQLen(port);
        if (queued <= 0) return queued < 0 ? -1 : 0;
        const int want = static_cast<int>(std::min<size_t>(n, static_cast<size_t>(queued)));
        const int r = ComRd(port, reinterpret_cast<char *>(buf), want);
        return r < 0 ? -1 : r;
    }
    Wait WaitReadable(double deadline) override {
        for (;;) {
            const int queued = GetInQLen(port);
            if (queued < 0) return Wait::Lost;
            if (queued > 0) return Wait::Readable;
            if (Timer() >= deadline) return Wait::Deadline;
            Sleep(1);
        }
    }
    bool SleepUntil(double until) override {
        // the shared lines' sleep, on their clock
        return lines::SleepUntil(lines::MonoNow() + (until - Timer()), nullptr, nullptr);
    }
    void DiscardInput() override { FlushInQ(port); }
    void DiscardOutput() override { FlushOutQ(port); }
    bool Lost() const override { return GetInQLen(port) < 0; }
    double Now() const override { return Timer(); }
};

RtLine line;
proto::Exchanger engine(line);

proto::Await EngineAwait(Await what) {
    switch (what) {
    case Await::Nothing: return proto::Await::Nothing;
    case Await::Frame: return proto::Await::Frame;
    case Await::Raw: break;
    }
    return proto::Await::Raw;
}

// Asks for the reply and writes the request; what the engine made of it.
proto::Outcome Request(const Exchange &x) {
    const int port = x.port > 0 ? x.port : com;
    if (port != line.port) {
        // another port: what was written on the last one is not on this one
        line.port = port;
        engine.Reset();
    }
    if (x.await == Await::Frame) rx_flag = 0;
    if (x.await == Await::Raw) AskRaw(x.rawBytes);
    else AskFrame(x.await == Await::Frame ? x.order : 0);
    return engine.Send(static_cast<proto::Order>(x.order), AsWords(x.words), EngineAwait(x.await),
                       static_cast<uint16_t>(sync));
}

bool Written(const Exchange &x) { return !x.written || x.written(); }

}   // namespace

int SendRequest(const Exchange &x) {
    Request(x);
    return nBytesW;
}

int SendAndWait(const Exchange &x, int *queued) {
    const bool raw = x.await == Await::Raw;
    const proto::Outcome sent = Request(x);

    // The sensor does not confirm a store. It has left only once it is out
    // on the line: the next request's flush would drop what the driver holds.
    if (x.await == Await::Nothing)
        return sent == proto::Outcome::Done ? EXCHANGE_DONE : EXCHANGE_NOT_SENT;

    if (!Written(x)) {
        if (raw) AskRaw(0);
        else AskFrame(0);
        return EXCHANGE_NOT_SENT;
    }

    int end = EXCHANGE_TIMEOUT;
    int n = 0;
    // the time-out counts from after what ran after the write (progress texts)
    tstart = Timer();
    for (;;) {
        if (x.pump) ProcessSystemEvents();
        if (raw) n = RawInQLen();   // with what an operator action put aside for us
        const bool came = raw ? n >= x.rawBytes : rx_flag != 0;
        tdiff = Timer() - tstart;
        if (came && !x.timeFirst) {
            end = EXCHANGE_DONE;
            break;
        }
        if (tdiff > TIMEOUT) break;
        if (came) {
            end = EXCHANGE_DONE;
            break;
        }
        if (!x.pump) Sleep(1);
    }
    if (!raw) return end;

    // What came is read, more or fewer bytes than asked; what the buffer
    // cannot hold stays queued until the next flush.
    if (queued) *queued = n;
    if (n > static_cast<int>(sizeof szReadBuf)) n = static_cast<int>(sizeof szReadBuf);
    nBytesR = n > 0 ? RawRead(szReadBuf, n) : 0;
    AskRaw(0);
    return end;
}
