// The parameter file: the 16 words of the parameter frame, one per line.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ui/panels.h"
#include "params/vars.h"

// Writes the 16 lines to an open stream; 0 when every byte reached the file.
static int WriteWords(FILE *f, const uint16_t *words) {
    int bad = 0;
    for (int i = 0; i < PNUM; ++i)
        if (fprintf(f, "%5u\n", static_cast<unsigned>(words[i])) < 0) bad = 1;
    // a full disk often shows only when the buffer is flushed
    if (fflush(f) != 0 || ferror(f)) bad = 1;
    return bad;
}

static int WriteInPlace(const char *path, const uint16_t *words) {
    FILE *f = fopen(path, "w");
    if (f == nullptr) return -1;
    int bad = WriteWords(f, words);
    if (fclose(f) != 0) bad = 1;
    return bad ? -1 : 0;
}

static int MayWrite(const char *path) { return faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) == 0; }

enum TempResult { TEMP_DONE, TEMP_FAILED, TEMP_NOT_SAFE };

// Writes the set to a new file of a unique name beside path, gives it the
// old file's owner and mode (old is null for a new file) and renames it over
// path when complete. TEMP_NOT_SAFE, before anything is written, where the
// new file could not be made to look like the old one.
static TempResult WriteViaTemp(const char *path, const struct stat *old, const uint16_t *words) {
    char tmp[PATH_MAX];
    const int n = snprintf(tmp, sizeof tmp, "%s.XXXXXX", path);
    if (n < 0 || n >= static_cast<int>(sizeof tmp)) return TEMP_FAILED;
    const int fd = mkstemp(tmp);
    if (fd < 0) return errno == ENAMETOOLONG ? TEMP_NOT_SAFE : TEMP_FAILED;
    mode_t mode;
    int same = 1;
    if (old != nullptr) {
        if ((old->st_uid != geteuid() || old->st_gid != getegid()) &&
            fchown(fd, old->st_uid, old->st_gid) != 0)
            same = 0;
        mode = old->st_mode & 0777;
    } else {
        // what creating the file by name would have given it
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    if (same && fchmod(fd, mode) != 0) same = 0;
    if (!same) {
        close(fd);
        unlink(tmp);
        return TEMP_NOT_SAFE;
    }
    FILE *f = fdopen(fd, "w");
    if (f == nullptr) {
        close(fd);
        unlink(tmp);
        return TEMP_FAILED;
    }
    int bad = WriteWords(f, words);
    if (!bad && fsync(fd) != 0 && errno != EINVAL) bad = 1;
    if (fclose(f) != 0) bad = 1;
    if (!bad && rename(tmp, path) != 0) bad = 1;
    if (bad) unlink(tmp);
    return bad ? TEMP_FAILED : TEMP_DONE;
}

int WriteParaFile(const char *path, const uint16_t *words) {
    if (path == nullptr || path[0] == '\0') return -1;
    struct stat st;
    const int exists = lstat(path, &st) == 0;
    if (!exists && errno != ENOENT) return -1;
    // a file the operator may not write stays as it is
    if (exists && !MayWrite(path)) return -1;
    // Anything but a plain file of one name (a device, a link, a file with
    // other names) is written where it is: replacing it would change what
    // it is.
    if (exists && (!S_ISREG(st.st_mode) || st.st_nlink > 1)) return WriteInPlace(path, words);
    // Otherwise the new set goes to a file beside the old one and takes its
    // place only when complete, so that a full disk does not cost the set
    // already stored. That needs a directory the operator may write, and a
    // new file that can be given the old one's owner and mode.
    char dir[PATH_MAX];
    const char *slash = strrchr(path, '/');
    const size_t len =
        slash == nullptr ? 0 : (slash == path ? 1 : static_cast<size_t>(slash - path));
    if (len >= sizeof dir) return -1;
    if (len == 0) strcpy(dir, ".");
    else {
        memcpy(dir, path, len);
        dir[len] = '\0';
    }
    if (faccessat(AT_FDCWD, dir, W_OK | X_OK, AT_EACCESS) == 0) {
        const TempResult r = WriteViaTemp(path, exists ? &st : nullptr, words);
        if (r != TEMP_NOT_SAFE) return r == TEMP_DONE ? 0 : -1;
    }
    return WriteInPlace(path, words);
}

static int IsSpace(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

int ReadParaFile(const char *path, uint16_t *words) {
    if (path == nullptr || path[0] == '\0') return -1;
    FILE *f = fopen(path, "rb");
    if (f == nullptr) return -1;
    uint16_t got[PNUM] = {0};
    int count = 0;   // numbers complete or under way
    int inNumber = 0;
    unsigned value = 0;   // kept to its low 16 bits as the digits come
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
    int r = FileSelectPopup(proj_dir, "KVEXpara.dat", "*.dat", "K-VEX-XC-Parameter-File", "Load", 0,
                            1, 1, 1, path, static_cast<int>(sizeof path));
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
