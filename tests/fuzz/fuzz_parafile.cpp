// The parameter file reader: any file content. A file that is taken must
// come back unchanged after the panel round trip and a write; one that is
// refused must leave the variables untouched.
#include "tests/fuzz/fuzz_support.h"
#include "rt/rt_testing.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "app/app.h"
#include "params/vars.h"

static std::string TempPath(const char *name) {
    static std::string dir;
    if (dir.empty()) {
        char tmpl[] = "/tmp/ridar-fuzz-XXXXXX";
        if (!mkdtemp(tmpl)) abort();
        dir = tmpl;
    }
    return dir + "/" + name;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzStart();
    static const std::string in = TempPath("in.dat"), out = TempPath("out.dat");
    FILE *f = std::fopen(in.c_str(), "wb");
    if (!f) abort();
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);

    uint16_t words[PNUM];
    for (int i = 0; i < PNUM; ++i) words[i] = static_cast<uint16_t>(0xA5A5 + i);
    uint16_t before[PNUM];
    std::memcpy(before, words, sizeof words);
    const int r = ReadParaFile(in.c_str(), words);
    if (r != 0) {
        if (std::memcmp(before, words, sizeof words) != 0) __builtin_trap();
    } else {
        // what was read is written back as read
        if (WriteParaFile(out.c_str(), words) != 0) __builtin_trap();
        uint16_t again[PNUM];
        if (ReadParaFile(out.c_str(), again) != 0) __builtin_trap();
        if (std::memcmp(words, again, sizeof words) != 0) __builtin_trap();
    }

    // and through the operator's load: dialog, variables, panel
    static std::string path;
    path = in;
    rt_SetPopupHook([](const RtPopup &p) {
        RtPopupAnswer a;
        if (p.kind == 3) {
            a.result = VAL_EXISTING_FILE_SELECTED;
            a.path = path;
        }
        return a;
    });
    target = DATFILE;
    ReadParaFromFile();
    SetPanelValues();
    GetPanelValues();
    // Each redraw of the panel adds the bar graph's fixed rectangles; the
    // program's next measurement clears them, so do that here too.
    DeleteGraphPlot(pHandle, PANEL_GRAPHBar, VAL_DELETE_ALL, VAL_DELAYED_DRAW);
    // Back to the event loop now and then, as the program always comes back
    // to it: what the panel posted (repaints) is handled there, or it piles up.
    static unsigned calls = 0;
    if (++calls % 64 == 0) ProcessSystemEvents();
    return 0;
}
