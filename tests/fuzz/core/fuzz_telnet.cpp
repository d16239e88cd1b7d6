// The Telnet layer of an RFC 2217 port: whatever a server sends, the line
// bytes taken out are those of an independent reading of the stream, and
// no command, option request or subnegotiation leaks into them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "lines/telnet.h"

namespace {

// The line bytes of a whole stream, read by index over all of it at once.
std::vector<uint8_t> LineBytes(const uint8_t *d, size_t n) {
    std::vector<uint8_t> out;
    size_t i = 0;
    while (i < n) {
        if (d[i] != 0xFF) {
            out.push_back(d[i++]);
            continue;
        }
        if (i + 1 >= n) break;
        const uint8_t c = d[i + 1];
        if (c == 0xFF) {
            out.push_back(0xFF);
            i += 2;
        } else if (c >= 0xFB) {
            i += 3;   // WILL, WONT, DO, DONT and the option
        } else if (c == 0xFA) {
            // to the next IAC that is not a doubled 0xFF, and the byte after it
            size_t k = i + 2;
            while (k < n && !(d[k] == 0xFF && (k + 1 >= n || d[k + 1] != 0xFF)))
                k += d[k] == 0xFF ? 2 : 1;
            i = k + 2;
        } else {
            i += 2;
        }
    }
    return out;
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    lines::TelnetRx rx;
    std::vector<uint8_t> got;
    size_t options = 0, subs = 0;
    for (size_t i = 0; i < size; ++i) {
        switch (rx.Take(data[i], got)) {
        case lines::TelnetRx::Got::Option:
            ++options;
            if (rx.Command() < 0xFB) abort();
            break;
        case lines::TelnetRx::Got::Sub: {
            ++subs;
            if (rx.Sub().size() > lines::TelnetRx::kSubMax) abort();
            int command = 0;
            uint32_t value = 0;
            if (lines::ComPortAnswer(rx.Sub(), command, value) &&
                (command < 1 || command > 5 || rx.Sub().size() > 6))
                abort();
            break;
        }
        case lines::TelnetRx::Got::Nothing: break;
        }
    }
    if (got != LineBytes(data, size)) abort();
    // every option request and subnegotiation costs at least three bytes
    if (3 * (options + subs) + got.size() > size) abort();
    return 0;
}
