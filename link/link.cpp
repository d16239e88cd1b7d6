// Serial port, frame codec, receive callback, echo check and the status line.
#include "link/frame.h"

#include <cstring>

#include "app/panels.h"
#include "params/vars.h"

void SetStatus(const char *text) {
    if (text == nullptr) text = "";
    size_t n = 0;
    for (int chars = 0; text[n] != '\0' && chars < 72; ++chars) {
        size_t len = 1;
        while ((static_cast<unsigned char>(text[n + len]) & 0xC0) == 0x80) ++len;  // continuation bytes
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

void FillTxBuf(int orderCode, const uint16_t *words) {
    szWriteBuf[0] = static_cast<char>((sync >> 8) & 0xFF);
    szWriteBuf[1] = static_cast<char>(sync & 0xFF);
    szWriteBuf[2] = static_cast<char>((orderCode >> 8) & 0xFF);
    szWriteBuf[3] = static_cast<char>(orderCode & 0xFF);
    for (int i = 0; i < PNUM; ++i) {
        szWriteBuf[4 + 2 * i] = static_cast<char>((words[i] >> 8) & 0xFF);
        szWriteBuf[5 + 2 * i] = static_cast<char>(words[i] & 0xFF);
    }
}

int GetRxBuf(int count) {
    // pp holds PNUM words; never unpack more than that
    if (count > PNUM) count = PNUM;
    for (int i = 0; i < count; ++i) {
        const unsigned hi = static_cast<unsigned char>(szReadBuf[4 + 2 * i]);
        const unsigned lo = static_cast<unsigned char>(szReadBuf[5 + 2 * i]);
        pp[i] = static_cast<uint16_t>(hi * 256 + lo);
    }
    return 1;
}

void RX_Receive_Function(int port, int events, void *callbackData) {
    (void)port;
    (void)callbackData;
    if (!(events & LWRS_RECEIVE)) return;
    const int n = ComRd(com, szReadBuf, FRAME_BYTES);
    if (n != FRAME_BYTES) {
        // a torn read is no frame: leave the flags alone, the sender times out
        FlushInQ(com);
        return;
    }
    GetRxBuf(PNUM);
    LinkCountFrame();
    graph_flag = 1;
    rx_flag = 1;
    graphrefresh = 1;
    FlushInQ(com);
}

int CheckComLine(int port) {
    int result = 0;
    CopyVarsToPP();
    FillTxBuf(5, pp);
    FlushOutQ(port);
    FlushInQ(port);
    rx_flag = 0;
    nBytesW = ComWrt(port, szWriteBuf, FRAME_BYTES);
    tstart = Timer();
    do {
        ProcessSystemEvents();
        tdiff = Timer() - tstart;
        if (tdiff > TIMEOUT) {
            SetStatus("Timeout-RS-232...");
            ShowStatus();
            LinkCountTimeout();
            return 0;
        }
    } while (rx_flag == 0);

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
