// The receive path with stray bytes on the line: every reply comes after
// stray bytes that hold no sync word (a sensor powering up, a touched
// connector), whole or in pieces. A reply whose sync word is intact must be
// taken exactly as sent; one whose sync word is damaged must not be taken
// at all, and nothing else may pass for a reply.
//
// Input, per exchange: a head byte (bits 0-5 the number of stray bytes,
// bit 6 a damaged sync word), two bytes that say where the bytes are split
// (byte offsets), the stray bytes, then the 32 payload bytes of the reply.
#include "tests/fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "link/frame.h"

static void Check(bool ok, const char *what) {
    if (!ok) {
        std::fprintf(stderr, "fuzz_resync: %s\n", what);
        std::abort();
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzStart();
    FuzzClearReplies();
    int exchanges = 0;
    while (size >= 3 && exchanges < 16) {
        const int head = data[0];
        const size_t split1 = data[1], split2 = data[2];
        data += 3;
        size -= 3;
        std::string stray = FuzzTake(data, size, static_cast<size_t>(head & 0x3F));
        // noise that holds the sync word cannot be told from a frame
        for (size_t i = 1; i < stray.size(); ++i)
            if (stray[i - 1] == '\0' && static_cast<unsigned char>(stray[i]) == 0xAA)
                stray[i] = '\x55';
        const bool damaged = (head & 0x40) != 0;
        std::string payload = FuzzTake(data, size, 32);
        payload.resize(32, '\0');
        std::string reply = std::string(damaged ? "\x01\xAA" : "\x00\xAA", 2) +
                            std::string("\x00\x08", 2) + payload;
        const std::string bytes = stray + reply;

        FlushInQ(com);
        rx_flag = graph_flag = graphrefresh = 0;
        for (auto &w : pp) w = 0x5A5A;
        const long resyncs = linkResyncs, dropped = linkBytesDropped;
        AskFrame(8);
        // in up to three pieces, the event pump running between them
        const size_t cut1 = split1 % (bytes.size() + 1);
        const size_t cut2 = cut1 + split2 % (bytes.size() - cut1 + 1);
        FuzzInject(bytes.substr(0, cut1));
        ProcessSystemEvents();
        FuzzInject(bytes.substr(cut1, cut2 - cut1));
        ProcessSystemEvents();
        FuzzInject(bytes.substr(cut2));
        ProcessSystemEvents();
        for (int i = 0; i < 2 && rx_flag == 0; ++i) ProcessSystemEvents();

        if (damaged) {
            Check(rx_flag == 0 && graphrefresh == 0 && graph_flag == 0,
                  "a reply without its sync word was taken");
            for (auto w : pp) Check(w == 0x5A5A, "pp changed without a reply");
        } else {
            Check(rx_flag == 1 && graphrefresh == 1 && graph_flag == 1,
                  "a reply with its sync word was lost");
            for (int i = 0; i < 16; ++i) {
                const unsigned want = static_cast<unsigned char>(payload[2 * i]) * 256u +
                                      static_cast<unsigned char>(payload[2 * i + 1]);
                Check(pp[i] == want, "the reply was not taken as sent");
            }
            Check(linkResyncs == resyncs + (stray.empty() ? 0 : 1), "resync not counted once");
            Check(linkBytesDropped == dropped + static_cast<long>(stray.size()),
                  "dropped bytes miscounted");
        }
        ++exchanges;
    }
    FlushInQ(com);
    AskFrame(0);
    rx_flag = graphrefresh = graph_flag = 0;
    return 0;
}
