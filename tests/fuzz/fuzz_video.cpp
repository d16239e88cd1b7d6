// Video mode, one pass: a measurement frame, then the video blocks of the
// board (four of 64 words or one of 256), decoded and drawn as the curve.
//
// Input: one byte picks the board type, the virtual pixel count and the ADC
// range; 36 bytes answer the measurement request; then a length (two
// bytes) and the bytes of each block reply.
#include "tests/fuzz/fuzz_support.h"

#include "app/app.h"
#include "display/display.h"
#include "link/frame.h"
#include "params/vars.h"

static const uint16_t kVirt[] = {256,  512,  768,  1024, 1180, 1280, 1536, 2048,
                                 2360, 2560, 3072, 4096, 8192, 0,    1,    65535};

static int g_blockRequests = 0;

// One pass: the loop looks at the stop only when the pass is done.
static void CountBlocks(int order) {
    if (order == 9 || order == 11) {
        ++g_blockRequests;
        if (order == 11 || g_blockRequests >= 4) stop_flag = STOP_ASKED;
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzStart();
    FuzzClearReplies();
    if (size < 1) return 0;
    const uint8_t pick = data[0];
    ++data;
    --size;
    pcbtype = (pick & 0x10) ? 100 : ((pick & 0x20) ? 0 : 7);
    ccdvirtpixel = kVirt[pick & 0x0F];
    YMAXADC = (pick & 0x40) ? 256 : 1024;
    for (int i = 0; i < 256; ++i) xArray8[i] = static_cast<double>(i) * (ccdvirtpixel / 256.0);

    FuzzReply(8, FuzzTake(data, size, 36));
    for (int i = 0; i < 4; ++i) {
        size_t n = 0;
        if (size >= 2) {
            n = (static_cast<size_t>(data[0]) << 8 | data[1]) % 1400;
            data += 2;
            size -= 2;
        }
        std::string block = FuzzTake(data, size, n);
        FuzzReply(9, block);
        if (i == 0) FuzzReply(11, block);
    }
    g_blockRequests = 0;
    FuzzOnRequest(CountBlocks);
    CC_BTNVideo(pHandle, PANEL_BTNVideo, EVENT_COMMIT, nullptr, 0, 0);
    FlushInQ(com);
    stop_flag = STOP_ASKED;
    return 0;
}
