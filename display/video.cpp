// Video blocks, video mode and the video curve.
#include "display/display.h"

#include <cstdio>

#include "ui/panels.h"
#include "params/vars.h"

static void SetStatusText(const char *text) {
    std::snprintf(szStatus, sizeof szStatus, "%s", text);
}

// Sends the request for a raw video block and waits until `expect` bytes are
// queued or the time-out passes; reads what came (at most what szReadBuf
// holds) and returns the number of bytes read.
static int FetchBlock(int orderCode, int word0, int word1, int expect, const char *waitText,
                      const char *timeoutText, const char *okText) {
    order = orderCode;
    uint16_t words[PNUM] = {0};
    words[0] = static_cast<uint16_t>(word0);
    words[1] = static_cast<uint16_t>(word1);
    Exchange x(orderCode, Await::Raw, expect);
    x.words = words;
    x.timeFirst = true;
    x.written = [waitText] {
        SetCtrlVal(pHandle, PANEL_TEXTStatus, waitText);
        return true;
    };
    if (SendAndWait(x) == EXCHANGE_TIMEOUT) {
        SetStatusText(timeoutText);
        LinkCountTimeout();
    }
    if (nBytesR == expect) SetStatusText(okText);
    return nBytesR;
}

// Decodes the whole words of this read only: samples that did not arrive
// keep their earlier values instead of taking stale bytes of the buffer.
static void DecodeBlock(int first, int words, int got) {
    if (got < 0) got = 0;
    int have = got / 2;
    if (have > words) have = words;
    for (int i = 0; i < have; ++i) {
        int k = first + i;
        if (k < 0 || k >= 256) continue;
        adcbuf[k] = static_cast<uint16_t>(static_cast<unsigned char>(szReadBuf[2 * i]) * 256 +
                                          static_cast<unsigned char>(szReadBuf[2 * i + 1]));
    }
}

int ReadData64(int start, int second) {
    int got = FetchBlock(9, start, second, 128, "Waiting for Data[64] ...",
                         "Timeout-RS-232 while reading 64 data-words!", "Data[64] block received!");
    DecodeBlock(start, 64, got);
    SetCtrlVal(pHandle, PANEL_TEXTStatus, szStatus);
    return 1;
}

int ReadData256(void) {
    int got =
        FetchBlock(11, 0, 0, 512, "Waiting for Data[256] ...",
                   "Timeout-RS-232 while reading 256 data-words!", "Data[256] block received!");
    DecodeBlock(0, 256, got);
    SetCtrlVal(pHandle, PANEL_TEXTStatus, szStatus);
    return 1;
}

void PlotVIDEOCurve(const uint16_t *samples, const double *positions) {
    SetAxisScalingMode(pHandle, PANEL_GRAPHVideo, VAL_LEFT_YAXIS, VAL_MANUAL, 0.0, YMAXADC);
    DeleteGraphPlot(pHandle, PANEL_GRAPHVideo, VAL_DELETE_ALL, VAL_IMMEDIATE_DRAW);
    PlotXY(pHandle, PANEL_GRAPHVideo, positions, samples, 256, VAL_DOUBLE,
           VAL_UNSIGNED_SHORT_INTEGER, VAL_CONNECTED_POINTS, VAL_SIMPLE_DOT, VAL_SOLID, 1, VAL_RED);
    PlotXY(pHandle, PANEL_GRAPHVideo, positions, thdArray, 256, VAL_DOUBLE,
           VAL_UNSIGNED_SHORT_INTEGER, VAL_CONNECTED_POINTS, VAL_SIMPLE_DOT, VAL_SOLID, 1,
           VAL_DK_GREEN);
}

void PlotThreshold(uint16_t h) {
    for (int i = 0; i < 256; ++i) thdArray[i] = h;
    PlotVIDEOCurve(adcbuf, xArray8);
}

RIDAR_CALLBACK(CC_BTNVideo) {
    (void)panel;
    (void)control;
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event != EVENT_COMMIT) return 0;

    SetCtrlAttribute(pHandle, PANEL_STRIPRaw, ATTR_VISIBLE, 0);
    SetCtrlAttribute(pHandle, PANEL_GRAPHVideo, ATTR_VISIBLE, 1);
    SetCtrlAttribute(pHandle, PANEL_CTRLRunLockB, ATTR_DIMMED, 1);
    SetCtrlAttribute(pHandle, PANEL_CTRLRunLockA, ATTR_DIMMED, 1);
    SetTarget(RAM);
    SetAxisScalingMode(pHandle, PANEL_GRAPHVideo, VAL_XAXIS, VAL_MANUAL, 1.0, ccdvirtpixel);

    stop_flag = STOP_RUNNING;
    do {
        Exchange x(8);
        x.timeFirst = true;
        // stop_flag is not looked at here: a stop lets this pass finish.
        if (SendAndWait(x) == EXCHANGE_TIMEOUT) {
            SetCtrlVal(pHandle, PANEL_TEXTStatus, "Timeout RS232-Line!");
            LinkCountTimeout();
            stop_flag = STOP_ASKED;
        }
        // a reply that came as the time ran out is still drawn
        if (rx_flag == 1) {
            CopyPPtoRAWVars();
            // a video block has no frame header: keep the frame callback off it
            InstallComCallback(com, 0, 36, 0x55, nullptr, nullptr);
            FlushInQ(com);
            FlushOutQ(com);
            if (pcbtype == 0 || pcbtype == 100) {
                ReadData64(0, 0);
                ReadData64(64, 0);
                ReadData64(128, 0);
                ReadData64(192, 0);
            } else {
                ReadData256();
            }
            InstallComCallback(com, eventMask, 36, 0x55, RX_Receive_Function, nullptr);
            PlotVIDEOBarGraph();
            PlotVIDEOCurve(adcbuf, xArray8);
        }
        ProcessSystemEvents();
    } while (stop_flag == STOP_RUNNING);

    SetCtrlAttribute(pHandle, PANEL_CTRLRunLockB, ATTR_DIMMED, 0);
    SetCtrlAttribute(pHandle, PANEL_CTRLRunLockA, ATTR_DIMMED, 0);
    SetCtrlAttribute(pHandle, PANEL_CTRLRunLockC, ATTR_DIMMED, 0);
    InstallComCallback(com, eventMask, 36, 0x55, RX_Receive_Function, nullptr);
    AskFrame(0);   // a reply still on its way is nobody's now
    FlushOutQ(com);
    FlushInQ(com);
    return 0;
}
