// Serial link: frames, receive callback, echo check and identification.
#pragma once

#include <cstdint>
#include "rt/rt.h"

#define PNUM 16
#define FRAME_BYTES (PNUM * 2 + 4)
constexpr double TIMEOUT = 1.5;
constexpr int eventMask = 0x8006;

// Declares a control callback with the run-time's callback form.
#define RIDAR_CALLBACK(name) \
    int CVICALLBACK name(int panel, int control, int event, void *callbackData, int eventData1, int eventData2)

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
extern double tstart, tdiff;
extern int nBytesW, nBytesR;
// Texts are UTF-8. The sensor's 8-bit texts take up to two bytes a
// character so; 72 characters fit the buffers either way.
extern char szStatus[160];         // status text, at most 72 characters shown

// sensor description (hardware information, order 10)
extern uint16_t ccdtype, ccdmaxpixel, ccdresolution, pcbtype, ccdvirtpixel, ccdsubpixel,
    ccdpixB, ccdpixE, softversion, hwtype, adcmax;
extern double xArray8[256];
extern uint16_t pixB, pixE, YMAXADC;
extern char szVersion[160];        // firmware text, at most 72 characters

// Copies text into szStatus, truncated to 72 characters (never within one).
void SetStatus(const char *text);
// Shows szStatus in the status line.
void ShowStatus(void);
// Shows a literal text in the status line without storing it.
void ShowStatusText(const char *text);

void FillTxBuf(int orderCode, const uint16_t *words);
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

// Link health since start: frames received, time-outs, failed opens.
extern long linkFrames, linkTimeouts, linkOpenFailures;
extern double linkLastFrame;       // Timer() of the last frame
void LinkCountFrame(void);
void LinkCountTimeout(void);       // every place that reports a time-out calls this
void LinkCountOpenFailure(void);

RIDAR_CALLBACK(CC_DropDCom);
RIDAR_CALLBACK(CC_DROPHardware);
