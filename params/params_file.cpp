// The parameter file: the 16 words of the parameter frame, one per line.
#include <algorithm>
#include <cstring>
#include <string>

#include "fileio/fileio.h"
#include "ui/panels.h"
#include "params/vars.h"
#include "proto/proto.h"

int WriteParaFile(const char *path, const uint16_t *words) {
    if (path == nullptr || path[0] == '\0') return -1;
    proto::Words w;
    std::copy(words, words + PNUM, w.begin());
    return fileio::ReplaceFile(path, proto::FormatParamFile(w)) == 0 ? 0 : -1;
}

int ReadParaFile(const char *path, uint16_t *words, proto::ParamFileFault *fault) {
    if (path == nullptr || path[0] == '\0') return -1;
    std::string text;
    // a parameter file is a hundred bytes; a huge file is no such file
    if (fileio::ReadWholeFile(path, text, 1u << 20) != 0) return -1;
    proto::Words w;
    const proto::ParamFileResult r = proto::ParseParamFile(text, w, fault);
    if (r != proto::ParamFileResult::Ok) return static_cast<int>(r);
    std::copy(w.begin(), w.end(), words);
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
