// Identification: the echo, the hardware information and the firmware text
// as any sensor (or line noise) may send them, then the panel laid out for
// what was found.
//
// Input: one byte picks the board type the text is read for, then a length
// byte and that many bytes per reply: echo (order 5), hardware information
// (order 10), firmware text (order 7).
#include "tests/fuzz/fuzz_support.h"

#include <cstring>

#include "app/app.h"
#include "link/frame.h"
#include "params/vars.h"

static std::string Segment(const uint8_t *&data, size_t &size, size_t scale) {
    if (size == 0) return {};
    size_t n = data[0] * scale;
    ++data;
    --size;
    return FuzzTake(data, size, n);
}

// Characters of a UTF-8 text; a byte that cannot stand where it is breaks it.
static size_t Chars(const char *s) {
    size_t n = 0;
    for (size_t i = 0; s[i] != '\0'; ++n) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        const size_t len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : 4;
        for (size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) __builtin_trap();
        if (c >= 0x80 && (c & 0xC0) == 0x80) __builtin_trap();
        i += len;
    }
    return n;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzStart();
    FuzzClearReplies();
    if (size == 0) return 0;
    const uint8_t board = data[0];
    ++data;
    --size;
    FuzzReply(5, Segment(data, size, 1));
    FuzzReply(10, Segment(data, size, 1));
    // the text may be longer than the receive buffer
    FuzzReply(7, Segment(data, size, 8));

    CheckComLine(com);
    GetHARDWAREInfo();
    pcbtype = board & 1 ? 0 : pcbtype;
    const int r = GetVERSIONInfo();
    if (r < 0) SeriesRefusedText(r);
    if (Chars(szVersion) > 72 || Chars(szStatus) > 72) __builtin_trap();
    InitGUI();
    FlushInQ(com);
    return 0;
}
