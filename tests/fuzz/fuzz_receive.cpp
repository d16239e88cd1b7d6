// The receive path: whatever bytes a sensor sends, through the receive
// callback, GetRxBuf and the copies into the variables, onto the panel, the
// bar graph and the strip chart.
//
// Input: 36 bytes answer the hardware information (the sensor
// description), 36 bytes answer a get (the parameter set), then chunks of
// a length byte and that many bytes arrive one after another while the
// run loop's body handles each frame (stray bytes between them included).
#include "tests/fuzz/fuzz_support.h"

#include "app/app.h"
#include "display/display.h"
#include "link/frame.h"
#include "params/vars.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzStart();
    FuzzClearReplies();
    FuzzReply(10, FuzzTake(data, size, 36));
    FuzzReply(2, FuzzTake(data, size, 36));
    GetHARDWAREInfo();
    PushGET(RAM);

    int frames = 0;
    while (size > 0 && frames < 64) {
        size_t n = data[0];
        ++data;
        --size;
        // the run loop asks again once its reply was taken
        if (rxAsked == 0) AskFrame(8);
        FuzzInject(FuzzTake(data, size, n));
        ProcessSystemEvents();
        if (graphrefresh == 1) {
            CopyPPtoRAWVars();
            PlotVIDEOBarGraph();
            PlotRAWGraphX8();
            graphrefresh = 0;
            ++frames;
        }
    }
    FlushInQ(com);
    AskFrame(0);
    rx_flag = graphrefresh = graph_flag = 0;
    // the fixed rectangles of each panel redraw stay until a measurement
    // is drawn; clear them as the next one would
    DeleteGraphPlot(pHandle, PANEL_GRAPHBar, VAL_DELETE_ALL, VAL_DELAYED_DRAW);
    return 0;
}
