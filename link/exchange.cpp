// One exchange with the sensor: a request frame and the wait for its reply.
#include "link/frame.h"

static bool Written(const Exchange &x) { return !x.written || x.written(); }

static int PortOf(const Exchange &x) { return x.port > 0 ? x.port : com; }

int SendRequest(const Exchange &x) {
    const int port = PortOf(x);
    if (x.await != Await::Nothing) {
        // what an earlier, timed-out exchange left is not this reply
        FlushInQ(port);
        FlushOutQ(port);
    }
    if (x.await == Await::Frame) rx_flag = 0;
    FillTxBuf(x.order, x.words);
    if (x.await == Await::Raw) AskRaw(x.rawBytes);
    else AskFrame(x.await == Await::Frame ? x.order : 0);
    nBytesW = ComWrt(port, szWriteBuf, FRAME_BYTES);
    return nBytesW;
}

int SendAndWait(const Exchange &x, int *queued) {
    const int port = PortOf(x);
    const bool raw = x.await == Await::Raw;
    SendRequest(x);

    // The sensor does not confirm a store. It has left only once it is out
    // on the line: the next request's flush would drop what the driver holds.
    if (x.await == Await::Nothing)
        return nBytesW == FRAME_BYTES && rt_WaitOutQEmpty(port) == 0 ? EXCHANGE_DONE
                                                                     : EXCHANGE_NOT_SENT;

    if (!Written(x)) {
        if (raw) AskRaw(0);
        else AskFrame(0);
        return EXCHANGE_NOT_SENT;
    }

    int end = EXCHANGE_TIMEOUT;
    int n = 0;
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
