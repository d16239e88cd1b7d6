// The parameter file: the 16 words of the parameter frame, one per line.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

#include "app/panels.h"
#include "params/vars.h"

int WriteParaFile(const char *path, const uint16_t *words) {
    if (path == nullptr || path[0] == '\0') return -1;
    // The new set goes to a file beside the old one and takes its place only
    // when complete: a full disk must not cost the set already stored. Only a
    // plain file is replaced so; anything else (a device, a link) is written
    // where it is.
    struct stat st;
    const int plain = lstat(path, &st) == 0 ? S_ISREG(st.st_mode) : errno == ENOENT;
    char tmp[600];
    const int n = snprintf(tmp, sizeof tmp, "%s.tmp", path);
    const int viaTemp = plain && n > 0 && n < static_cast<int>(sizeof tmp);
    FILE *f = fopen(viaTemp ? tmp : path, "w");
    if (f == nullptr) return -1;
    int bad = 0;
    for (int i = 0; i < PNUM; ++i)
        if (fprintf(f, "%5u\n", static_cast<unsigned>(words[i])) < 0) bad = 1;
    // a full disk often shows only when the buffer is flushed
    if (fflush(f) != 0 || ferror(f)) bad = 1;
    if (fclose(f) != 0) bad = 1;
    if (viaTemp) {
        if (!bad && rename(tmp, path) != 0) bad = 1;
        if (bad) remove(tmp);
    }
    return bad ? -1 : 0;
}

static int IsSpace(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

int ReadParaFile(const char *path, uint16_t *words) {
    if (path == nullptr || path[0] == '\0') return -1;
    FILE *f = fopen(path, "rb");
    if (f == nullptr) return -1;
    uint16_t got[PNUM] = {0};
    int count = 0;       // numbers complete or under way
    int inNumber = 0;
    unsigned value = 0;  // kept to its low 16 bits as the digits come
    int result = 0;
    int c;
    while ((c = fgetc(f)) != EOF) {
        if (c >= '0' && c <= '9') {
            if (!inNumber) {
                inNumber = 1;
                value = 0;
            }
            value = (value * 10u + static_cast<unsigned>(c - '0')) & 0xFFFFu;
        } else if (IsSpace(c)) {
            if (inNumber) {
                if (count < PNUM) got[count] = static_cast<uint16_t>(value);
                ++count;
                inNumber = 0;
            }
        } else {
            result = -3;
            break;
        }
    }
    if (result == 0 && ferror(f)) result = -1;
    fclose(f);
    if (result != 0) return result;
    if (inNumber) {
        if (count < PNUM) got[count] = static_cast<uint16_t>(value);
        ++count;
    }
    if (count < PNUM) return -2;
    memcpy(words, got, sizeof got);
    return 0;
}

static const char kNotWritten[] = "Parameter-file could not be written!";
static const char kNotLoaded[] = "Parameter-file not loaded - unreadable or incomplete!";

// The text of the last exchange, kept while a file failure covers it: a good
// load shows it again (the failure is over) instead of the stale failure.
static char exchangeText[sizeof szStatus];

static void FileFailure(const char *text) {
    if (std::strcmp(szStatus, kNotWritten) != 0 && std::strcmp(szStatus, kNotLoaded) != 0)
        std::memcpy(exchangeText, szStatus, sizeof exchangeText);
    SetStatus(text);
}

static void FileSuccess(void) {
    if (std::strcmp(szStatus, kNotWritten) == 0 || std::strcmp(szStatus, kNotLoaded) == 0)
        SetStatus(exchangeText);
}

void SendParaToFile(void) {
    GetPanelValues();
    CopyVarsToPP();
    if (WriteParaFile(file_name, pp) != 0) {
        FileFailure(kNotWritten);
        ShowStatus();
    }
}

void ReadParaFromFile(void) {
    char path[sizeof file_name] = {0};
    int r = FileSelectPopup(proj_dir, "KVEXpara.dat", "*.dat", "K-VEX-XC-Parameter-File", "Load",
                            0, 1, 1, 1, path, static_cast<int>(sizeof path));
    if (r <= 0) return;
    memcpy(file_name, path, sizeof file_name);
    file_name[sizeof file_name - 1] = '\0';
    uint16_t words[PNUM];
    if (ReadParaFile(file_name, words) != 0) {
        // a half-read set would mix two parameter sets; keep the old one
        FileFailure(kNotLoaded);
        return;
    }
    FileSuccess();
    memcpy(pp, words, sizeof words);
    CopyPPtoVars();
}
