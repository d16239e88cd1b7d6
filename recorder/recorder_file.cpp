// The recorder file: choice of the file, the header and the data lines.
// Every write opens the file, appends and closes it, so whatever was
// written survives an interruption or the end of the program.
// POSIX headers first: link/frame.h renames the frame's sync word, which
// must not touch unistd.h's sync().
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "recorder/recorder.h"

#include "ui/panels.h"
#include "params/vars.h"

// Appends n bytes in one write, so a line is in the file whole or not at
// all; a line that only partly fits (disk full) is taken back.
static int AppendBytes(const char *path, const char *bytes, size_t n) {
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    struct stat st;
    off_t before = fstat(fd, &st) == 0 ? st.st_size : -1;
    size_t done = 0;
    int ok = 1;
    while (done < n) {
        ssize_t w = write(fd, bytes + done, n - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            ok = 0;
            break;
        }
        done += static_cast<size_t>(w);
    }
    if (!ok && done > 0 && before >= 0 && S_ISREG(st.st_mode)) {
        int r = ftruncate(fd, before);
        (void)r;
    }
    if (close(fd) != 0) ok = 0;
    return ok ? 0 : -1;
}

static int AppendText(const char *path, const char *text) {
    return AppendBytes(path, text, strlen(text));
}

// Signed 32-bit column value of an unsigned 32-bit quantity.
static long long Signed32(uint32_t v) {
    return v > 0x7FFFFFFFu ? static_cast<long long>(v) - 0x100000000LL : static_cast<long long>(v);
}

int writeFileHeader(void) {
    uint16_t increment = 0, samples = 0;
    GetCtrlVal(pRecord, RECORD_NUMinctime, &increment);
    GetCtrlVal(pRecord, RECORD_NUMsample, &samples);
    int32_t offset = static_cast<int32_t>(intersect) - YOFFSET;
    float slopeValue =
        static_cast<float>(static_cast<double>(slope) / static_cast<double>(SlopeScale()));

    // one append per line; the first failure ends the header
    char lines[7][96];
    snprintf(lines[0], sizeof lines[0], "Date:\t%s\r\n", DateStr());
    snprintf(lines[1], sizeof lines[1], "Time:\t%s\r\n", TimeStr());
    // the increment and the count as entered: both are unsigned on the panel
    snprintf(lines[2], sizeof lines[2], "Time-Increment[s]:\t%u\r\n",
             static_cast<unsigned>(increment));
    snprintf(lines[3], sizeof lines[3], "Number of Samples:\t%u\r\n",
             static_cast<unsigned>(samples));
    // the micro sign is the single Windows-1252 byte 0xB5
    snprintf(lines[4], sizeof lines[4], "Offset-Value [\xB5m]:\t%" PRId32 "\r\n", offset);
    // four decimals keep the 1/1024 steps of the slope word apart
    snprintf(lines[5], sizeof lines[5], "Slope-Value [\xB5m/pixel]:\t%.4f\r\n",
             static_cast<double>(slopeValue));
    snprintf(lines[6], sizeof lines[6], "E-LEFT\tE-RIGHT\tM-VALUE\tEDGES\tM-VAL[um]\r\n");
    for (const auto &l : lines)
        if (AppendText(rec_fname, l) != 0) return -1;
    return 0;
}

int WriteDataLine(uint16_t left, uint16_t right, uint16_t value, uint16_t edges, uint32_t um) {
    char line[96];
    int n = snprintf(line, sizeof line, "%u\t%u\t%u\t%u\t%lld\r\n", static_cast<unsigned>(left),
                     static_cast<unsigned>(right), static_cast<unsigned>(value),
                     static_cast<unsigned>(edges), Signed32(um));
    return AppendBytes(rec_fname, line, static_cast<size_t>(n));
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
