// The firmware reply as text and the series rules, on any bytes and board
// type: the text is at most the reply, without a NUL, and the series
// answer is one the program has a message for.
#include <cstdlib>
#include <cstring>

#include "proto/proto.h"

using namespace proto;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    // first byte picks the board type: 0 (words), 100 or another
    const uint16_t pcb = data[0] % 3 == 0 ? 0 : data[0] % 3 == 1 ? 100 : data[0];
    const uint8_t *reply = data + 1;
    const size_t n = size - 1;

    const std::string text = FirmwareText(reply, n, pcb);
    if (n != static_cast<size_t>(kFirmwareBytes) && !text.empty()) abort();
    if (text.size() > static_cast<size_t>(pcb == 0 ? kFirmwareBytes / 2 : kFirmwareBytes)) abort();
    if (text.find('\0') != std::string::npos) abort();
    if (!text.empty()) {
        // the characters are the reply's, in order
        for (size_t i = 0; i < text.size(); ++i)
            if (static_cast<uint8_t>(text[i]) != (pcb == 0 ? reply[2 * i + 1] : reply[i])) abort();
    }

    for (const std::string &t : {text, std::string(reinterpret_cast<const char *>(reply), n)}) {
        const int r = SeriesResult(t);
        if (r < -6 || r > 0) abort();
        if (r != 0 && t.compare(0, 7, "K-VEX-X") != 0) abort();
        const char *msg = SeriesRefusedText(r);
        if (msg == nullptr || std::strchr(msg, '\n') == nullptr) abort();
    }
    return 0;
}
