// Serial port, frame codec, receive callback, echo check and the status line.
#include "link/frame.h"

#include <cstring>

#include "proto/engine.h"
#include "ui/panels.h"

const char kNotSentText[] = "Transmit error - frame not sent completely!";

void SetStatus(const char *text) {
    if (text == nullptr) text = "";
    size_t n = 0;
    for (int chars = 0; text[n] != '\0' && chars < 72; ++chars) {
        size_t len = 1;
        while ((static_cast<unsigned char>(text[n + len]) & 0xC0) == 0x80)
            ++len;   // continuation bytes
        if (n + len >= sizeof szStatus) break;
        n += len;
    }
    std::memcpy(szStatus, text, n);
    szStatus[n] = '\0';
}

void ShowStatus(void) { SetCtrlVal(pHandle, PANEL_TEXTStatus, szStatus); }

void ShowStatusText(const char *text) { SetCtrlVal(pHandle, PANEL_TEXTStatus, text); }

const char *ComErrorText(int code) {
    switch (code) {
    case -1: return "Unknown system error";
    case -2: return "Invalid port number";
    case -3: return "Port is not open";
    case -4: return "Unknown I/0 error";
    case -6: return "No serial port found";
    case -7: return "Cannot open port";
    case -13: return "Invalid parameter";
    case -99: return "Timeout";
    default: return "RS-232 error!";
    }
}

proto::Words AsWords(const uint16_t *words) {
    proto::Words w;
    std::memcpy(w.data(), words, sizeof(uint16_t) * PNUM);
    return w;
}

void FillTxBuf(int orderCode, const uint16_t *words) {
    proto::EncodeFrame(static_cast<proto::Order>(orderCode), AsWords(words),
                       reinterpret_cast<uint8_t *>(szWriteBuf), static_cast<uint16_t>(sync));
}

int GetRxBuf(int count) {
    // pp holds PNUM words; never unpack more than that
    if (count > PNUM) count = PNUM;
    for (int i = 0; i < count; ++i)
        pp[i] = proto::GetWord(reinterpret_cast<const uint8_t *>(szReadBuf) + 4 + 2 * i);
    return 1;
}

// ---- receive path -------------------------------------------------------------

static const int kOrderMeasure = 8;   // the only order whose reply is a measurement

int rxAsked = 0;
static double rxAskedAt = 0.0;
static int rawAsked = 0;
static double rawAskedAt = 0.0;
static char rawHeld[sizeof szReadBuf];   // a raw block put aside for its reader
static int rawHeldCount = 0;
// What came since the last request without forming a frame (first 36 bytes),
// and whether bytes were dropped before the frame that is being found.
static char unframed[FRAME_BYTES];
static int unframedCount = 0;
static int droppedBeforeFrame = 0;

void AskFrame(int orderCode) {
    rxAsked = orderCode;
    rxAskedAt = Timer();
    unframedCount = 0;
    droppedBeforeFrame = 0;
}

void AskRaw(int bytes) {
    rxAsked = 0;
    rawAsked = bytes > 0 ? bytes : 0;
    rawAskedAt = Timer();
    rawHeldCount = 0;
}

int RawInQLen(void) {
    const int queued = GetInQLen(com);
    if (queued < 0) return rawHeldCount > 0 ? rawHeldCount : queued;
    return rawHeldCount + queued;
}

int RawRead(char *buf, int count) {
    int k = rawHeldCount < count ? rawHeldCount : count;
    if (k > 0) {
        std::memcpy(buf, rawHeld, static_cast<size_t>(k));
        std::memmove(rawHeld, rawHeld + k, static_cast<size_t>(rawHeldCount - k));
        rawHeldCount -= k;
    }
    if (count > k) {
        const int r = ComRd(com, buf + k, count - k);
        if (r < 0) return k > 0 ? k : r;
        k += r;
    }
    return k;
}

int UnframedBytes(char *buf, int count) {
    int k = unframedCount < count ? unframedCount : count;
    if (k > 0) std::memcpy(buf, unframed, static_cast<size_t>(k));
    if (count > k) {
        const int r = rt_PeekInQ(com, buf + k, count - k);
        if (r > 0) k += r;
    }
    return k;
}

// Takes n stray bytes off the head of the queue; the number taken.
static int DropStray(int n) {
    char b[sizeof szReadBuf];
    const int got = ComRd(com, b, n);
    if (got <= 0) return 0;
    for (int i = 0; i < got && unframedCount < FRAME_BYTES; ++i) unframed[unframedCount++] = b[i];
    droppedBeforeFrame = 1;
    LinkCountDropped(got);
    return got;
}

// A frame starts with the sensor's sync word. Bytes before it (a sensor
// powering up, a touched connector) are dropped and the frame is completed
// from the bytes that follow; until 36 bytes from a sync word are queued
// nothing is taken, and the sender's wait ends by its time-out as before.
void RX_Receive_Function(int port, int events, void *callbackData) {
    (void)port;
    (void)callbackData;
    if (!(events & LWRS_RECEIVE)) return;
    char head[sizeof szReadBuf];
    for (;;) {
        const int n = rt_PeekInQ(com, head, static_cast<int>(sizeof head));
        if (n < FRAME_BYTES) return;
        const int at = static_cast<int>(
            proto::FrameStart(reinterpret_cast<const uint8_t *>(head), static_cast<size_t>(n)));
        if (at == 0) break;
        if (DropStray(at) == 0) return;   // a failing port: nothing more to look at
    }
    char frame[FRAME_BYTES];
    if (ComRd(com, frame, FRAME_BYTES) != FRAME_BYTES) {
        FlushInQ(com);
        return;
    }
    LinkCountFrame();
    if (droppedBeforeFrame) LinkCountResync();
    droppedBeforeFrame = 0;
    // whatever followed the frame is not part of it
    FlushInQ(com);
    const int answered = rxAsked;
    if (answered == 0) return;
    rxAsked = 0;
    std::memcpy(szReadBuf, frame, FRAME_BYTES);
    GetRxBuf(PNUM);
    rx_flag = 1;
    if (answered == kOrderMeasure) {
        graph_flag = 1;
        graphrefresh = 1;
    }
}

// ---- an operator action inside a running loop ---------------------------------------

static struct {
    int held;
    int rx;
    uint16_t words[PNUM];
    char frame[FRAME_BYTES];
    int rawAsked;   // the loop's raw block, read meanwhile into rawHeld
    double rawAskedAt;
} loop;

int HoldLoop(void) {
    loop.held = 0;
    // a single exchange (a get, a teach) that this action interrupts is
    // held the same way as a loop; an ask whose time passed is nobody's
    const int waiting = rxAsked != 0 && Timer() - rxAskedAt <= TIMEOUT;
    if (stop_flag != STOP_RUNNING && !waiting) return 1;
    while (rxAsked != 0 && Timer() - rxAskedAt <= TIMEOUT) ProcessSystemEvents();
    if (rxAsked != 0) return 0;
    loop.rawAsked = 0;
    if (rawAsked > 0) {
        int n = RawInQLen();
        while (n < rawAsked && Timer() - rawAskedAt <= TIMEOUT) {
            ProcessSystemEvents();
            n = RawInQLen();
        }
        if (n < rawAsked) return 0;
        // the action's own exchange flushes the queue: the block waits aside
        const int room = static_cast<int>(sizeof rawHeld) - rawHeldCount;
        const int take = n - rawHeldCount < room ? n - rawHeldCount : room;
        if (take > 0) {
            const int r = ComRd(com, rawHeld + rawHeldCount, take);
            if (r > 0) rawHeldCount += r;
        }
        loop.rawAsked = rawAsked;
        loop.rawAskedAt = rawAskedAt;
        rawAsked = 0;
        InstallComCallback(com, eventMask, FRAME_BYTES, sync, RX_Receive_Function, nullptr);
    }
    loop.held = 1;
    loop.rx = rx_flag;
    std::memcpy(loop.words, pp, sizeof loop.words);
    std::memcpy(loop.frame, szReadBuf, sizeof loop.frame);
    return 1;
}

void ReleaseLoop(void) {
    if (!loop.held) return;
    loop.held = 0;
    rxAsked = 0;
    rx_flag = loop.rx;
    std::memcpy(pp, loop.words, sizeof loop.words);
    std::memcpy(szReadBuf, loop.frame, sizeof loop.frame);
    if (loop.rawAsked > 0) {
        // back to the loop's raw block, which its reader takes from rawHeld
        InstallComCallback(com, 0, FRAME_BYTES, sync, nullptr, nullptr);
        rawAsked = loop.rawAsked;
        rawAskedAt = loop.rawAskedAt;
    }
}

int CheckComLine(int port) {
    int result = 0;
    linkUp.packParams();
    Exchange x(5);
    x.port = port;
    x.timeFirst = true;
    if (SendAndWait(x) == EXCHANGE_TIMEOUT) {
        // A line that sent a frame's worth of bytes without the sync word
        // (looped back on itself, or a sensor with another sync word) is
        // judged by the first of them, as a reply.
        if (UnframedBytes(szReadBuf, FRAME_BYTES) == FRAME_BYTES) {
            rx_flag = 1;
        } else {
            SetStatus("Timeout-RS-232...");
            ShowStatus();
            LinkCountTimeout();
            return 0;
        }
    }

    if (rx_flag == 1) {
        const unsigned word = static_cast<unsigned char>(szReadBuf[0]) * 256u +
                              static_cast<unsigned char>(szReadBuf[1]);
        pp[0] = static_cast<uint16_t>(word);
        if (word == 0x00AA) {
            SetStatus("Echo Check - Line Ok!");
            result = 1;
        } else {
            SetStatus("read error - not sync byte 0xAA!");
        }
    }
    ShowStatus();
    return result;
}
