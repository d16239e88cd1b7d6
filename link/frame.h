// Serial link: frames, receive callback, echo check and identification.
#pragma once

#include <cstdint>
#include "proto/proto.h"
#include "rt/rt.h"

// the program's names for the protocol's constants
#define PNUM (proto::kWords)
#define FRAME_BYTES (proto::kFrameBytes)
constexpr double TIMEOUT = proto::kTimeout;
constexpr int eventMask = 0x8006;

// Declares a control callback with the run-time's callback form.
#define RIDAR_CALLBACK(name) \
    int CVICALLBACK name(int panel, int control, int event, void *callbackData, int eventData1, \
                         int eventData2)
// For a callback that uses none of its arguments but the event.
#define RIDAR_CALLBACK_ARGS_UNUSED \
    (void)panel; \
    (void)control; \
    (void)callbackData; \
    (void)eventData1; \
    (void)eventData2

// link variables
// POSIX declares a function sync(); the frame's sync word keeps its name
// in the code but not in the symbol table.
#define sync ridar_sync
extern int com;
extern int sync;
extern int order;
extern char szWriteBuf[1024];
extern char szReadBuf[1024];
extern uint16_t pp[PNUM];
extern int rx_flag, graphrefresh, graph_flag, stop_flag;
// What stop_flag holds. Every loop (run, video, recorder) runs while it is
// STOP_RUNNING and ends on any other value; only the recorder tells the
// other values apart.
enum StopFlag : int {
    STOP_RUNNING = 0,     // a loop runs
    STOP_ASKED = 1,       // stopped (button, panel close, port change, time-out), or none runs
    STOP_COMPLETED = 2,   // the recorder took all its samples
    STOP_TIMEOUT = 3,     // the recorder's line timed out
};
extern double tstart, tdiff;
extern int nBytesW, nBytesR;
// Texts are UTF-8. The sensor's 8-bit texts take up to two bytes a
// character so; 72 characters fit the buffers either way.
extern char szStatus[160];   // status text, at most 72 characters shown

// sensor description (hardware information, order 10)
extern uint16_t ccdtype, ccdmaxpixel, ccdresolution, pcbtype, ccdvirtpixel, ccdsubpixel, ccdpixB,
    ccdpixE, softversion, hwtype, adcmax;
extern double xArray8[256];
extern uint16_t pixB, pixE, YMAXADC;
extern char szVersion[160];   // firmware text, at most 72 characters

// Copies text into szStatus, truncated to 72 characters (never within one).
void SetStatus(const char *text);
// Shows szStatus in the status line.
void ShowStatus(void);
// Shows a literal text in the status line without storing it.
void ShowStatusText(const char *text);
// Status text of a request whose 36 bytes did not all go out.
extern const char kNotSentText[];

void FillTxBuf(int orderCode, const uint16_t *words);
// PNUM words of the program (pp and the like) as the protocol core takes them.
proto::Words AsWords(const uint16_t *words);
int GetRxBuf(int count);
void RX_Receive_Function(int port, int events, void *callbackData);
int CheckComLine(int port);
void InitRS232(int port);
int GetHARDWAREInfo(void);
// Notes how the resource file left the controls that the sensor type shows,
// hides or dims; each identification starts from that state again.
void KeepIdentStart(void);
int GetVERSIONInfo(void);
// The message for an OpenComConfig error code.
const char *ComErrorText(int code);
// Message of a refused series (GetVERSIONInfo result < 0).
const char *SeriesRefusedText(int r);

// What the outstanding request asked for. A sender names it just before it
// writes; a frame that comes is only ever taken as the reply to that order,
// and only the reply to a measurement request (order 8) raises graph_flag
// and graphrefresh. A frame nobody asked for raises nothing.
extern int rxAsked;   // order whose frame reply is awaited, 0: none
void AskFrame(int orderCode);
// A raw block of `bytes` is awaited (video data, callback suspended); 0: none.
void AskRaw(int bytes);
// The awaited raw block as queued, with what an operator action that ran
// meanwhile put aside for it (RawInQLen may be negative on a port fault).
int RawInQLen(void);
int RawRead(char *buf, int count);
// Up to `count` bytes that came since the last request without forming a
// frame (the echo check judges a line that never sends the sync word by them).
int UnframedBytes(char *buf, int count);
// An operator action with an exchange of its own while a loop (run, video,
// recorder) or another exchange is running: HoldLoop lets what is
// outstanding come in first, within that request's own time-out (0 when it
// did not: the action then sends nothing), and keeps that reply for its
// asker; ReleaseLoop gives it back once the action's exchange is over.
int HoldLoop(void);
void ReleaseLoop(void);

// ---- one exchange: a request and the wait for its reply ---------------------

// What a request waits for once it is written.
enum class Await {
    Nothing,   // a store: only that the frame has left on the line
    Frame,     // a frame, taken as the reply to this order (AskFrame)
    Raw,       // rawBytes raw bytes (AskRaw); the caller suspends the frame callback
};

struct Exchange {
    explicit Exchange(int orderCode, Await what = Await::Frame, int bytes = 0)
        : order(orderCode), await(what), rawBytes(bytes) {}
    int order;
    Await await;
    int rawBytes;                 // the size of a raw reply
    const uint16_t *words = pp;   // the payload
    int port = 0;                 // 0: com (a raw reply is always read from com)
    // Pump events on every look. Without, the panels stay frozen for the
    // wait and a short sleep between looks keeps it off the processor.
    bool pump = true;
    // A reply that came in the look in which the time ran out is late.
    bool timeFirst = false;
    // Runs once the frame is written (nBytesW holds what went out), before
    // the wait: progress texts. Returning false gives the wait up.
    std::function<bool()> written;
};

enum ExchangeEnd : int {
    EXCHANGE_NOT_SENT = -1,   // given up after the write, or a store that did not leave
    EXCHANGE_TIMEOUT = 0,     // nothing within TIMEOUT of the write
    EXCHANGE_DONE = 1,        // the reply came (a store: the frame is out)
};

// Writes the frame of x.order and x.words and waits up to TIMEOUT from the
// write for its reply. A request that awaits a reply first flushes both
// queues (a frame wait clears rx_flag too); a store does not. Sets nBytesW,
// tstart and tdiff as the program's wait loops always did. A frame reply is
// in pp and szReadBuf; a raw reply is read, as far as szReadBuf holds it,
// into szReadBuf (nBytesR), also after a time-out, and *queued gets the
// queue length last seen. Texts, time-out counts and whatever the reply
// means are the caller's.
int SendAndWait(const Exchange &x, int *queued = nullptr);
// Its first half, for the paced loops that look for the reply themselves:
// flushes, clears and asks as SendAndWait does and writes; returns nBytesW.
int SendRequest(const Exchange &x);

// Link health since start: frames received, time-outs, failed opens, frames
// found again after stray bytes and the bytes dropped before them.
extern long linkFrames, linkTimeouts, linkOpenFailures, linkResyncs, linkBytesDropped;
extern double linkLastFrame;   // Timer() of the last frame
void LinkCountFrame(void);
void LinkCountTimeout(void);   // every place that reports a time-out calls this
void LinkCountOpenFailure(void);
void LinkCountDropped(int bytes);
void LinkCountResync(void);

// What opening the link asks of the layers above it, wired by the
// application at start-up (WireLayers); each does nothing until then.
struct LinkUpcalls {
    void (*packParams)(void);        // the panel's set into pp (the echo check sends it)
    void (*forgetSensorRam)(void);   // another port may be another sensor
    void (*getRamSet)(void);         // the sensor's RAM set onto the panel
    void (*initGui)(void);           // the panel rebuilt for the sensor (port change)
};
extern LinkUpcalls linkUp;

RIDAR_CALLBACK(CC_DropDCom);
RIDAR_CALLBACK(CC_DROPHardware);
