// The recorder file: choice of the file, the header and the data lines.
// Every write opens the file, appends and closes it, so whatever was
// written survives an interruption or the end of the program.
// POSIX headers first: link/frame.h renames the frame's sync word, which
// must not touch unistd.h's sync().
#include <cstdio>
#include <unistd.h>

#include "recorder/recorder.h"

#include "fileio/fileio.h"
#include "ui/panels.h"
#include "params/vars.h"
#include "proto/proto.h"

// The header in one append: in the file whole or not at all.
int writeFileHeader(void) {
    proto::RecorderHeader h;
    h.date = DateStr();
    h.time = TimeStr();
    GetCtrlVal(pRecord, RECORD_NUMinctime, &h.increment);
    GetCtrlVal(pRecord, RECORD_NUMsample, &h.samples);
    h.slope = slope;
    h.intersect = intersect;
    h.slopeScale = SlopeScale();
    const std::string text = proto::FormatRecorderHeader(h);
    return fileio::AppendLine(rec_fname, text) == 0 ? 0 : -1;
}

int WriteDataLine(uint16_t left, uint16_t right, uint16_t value, uint16_t edges, uint32_t um) {
    proto::Measurement m;
    m.Ledge = left;
    m.Redge = right;
    m.Mvalue = value;
    m.edcnt = edges;
    m.umValue = um;
    const std::string line = proto::FormatRecorderLine(m);
    return fileio::AppendLine(rec_fname, line) == 0 ? 0 : -1;
}

void DefaultRecFile(char *out, int size) {
    if (size <= 0) return;
    out[0] = '\0';
    if (proj_dir[0] != '\0' && access(proj_dir, W_OK) == 0 &&
        MakePathname(proj_dir, "RECORD.DAT", out, size) >= 0)
        return;
    // an installed program may not write beside itself
    char cwd[260];
    if (getcwd(cwd, sizeof cwd) != nullptr) MakePathname(cwd, "RECORD.DAT", out, size);
    else snprintf(out, static_cast<size_t>(size), "RECORD.DAT");
}

RIDAR_CALLBACK(CC_CMDBTNrecfile) {
    (void)panel;
    (void)control;
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event != EVENT_COMMIT) return 0;
    char path[260] = "";
    int r = FileSelectPopup(proj_dir, "RECORD.DAT", "*.dat", "K-VEX-Series Recorder-File:", "OK", 0,
                            1, 1, 1, path, sizeof path);
    if (r != VAL_EXISTING_FILE_SELECTED && r != VAL_NEW_FILE_SELECTED) return 0;
    snprintf(rec_fname, sizeof rec_fname, "%s", path);
    if (r == VAL_EXISTING_FILE_SELECTED &&
        ConfirmPopup("ATTENTION!", "Output-File already exist! - Overwrite ?"))
        CVI_DeleteFile(rec_fname);
    // rec_fname is the file the next recording goes to, so show it even
    // when the old file was kept (the start asks again before overwriting)
    ResetTextBox(pRecord, RECORD_TEXTRecFile, rec_fname);
    return 0;
}
