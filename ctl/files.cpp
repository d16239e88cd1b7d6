// Messages and the files kvex-ctl reads.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#include "ctl/ctl.h"
#include "fileio/fileio.h"

namespace ctl {

namespace {

// systemd names the journal's stream in JOURNAL_STREAM ("device:inode");
// stderr is the journal only while it is still that very stream.
bool StderrIsJournal() {
    const char *js = std::getenv("JOURNAL_STREAM");
    struct stat st;
    if (!js || fstat(2, &st) != 0) return false;
    unsigned long long dev = 0, ino = 0;
    if (std::sscanf(js, "%llu:%llu", &dev, &ino) != 2) return false;
    return dev == static_cast<unsigned long long>(st.st_dev) &&
           ino == static_cast<unsigned long long>(st.st_ino);
}

}   // namespace

void Say(const std::string &text) {
    static const bool journal = StderrIsJournal();
    if (journal) std::fprintf(stderr, "%s\n", text.c_str());
    else std::fprintf(stderr, "%s %s\n", UtcStamp().c_str(), text.c_str());
    std::fflush(stderr);
}

void Complain(const std::string &text) { Say("kvex-ctl: " + text); }

std::string FileError(const std::string &path, int err) { return path + ": " + std::strerror(err); }

bool ReadSmallFile(const std::string &path, std::string &out, std::string &err) {
    // a parameter or credentials file is a few hundred bytes; anything
    // huge is no such file
    const int e = fileio::ReadWholeFile(path, out, 1u << 20);
    if (e != 0) err = FileError(path, e);
    return e == 0;
}

int LoadParamFile(const std::string &path, proto::Words &w) {
    std::string text, err;
    if (!ReadSmallFile(path, text, err)) {
        Complain(err);
        return kExitFile;
    }
    proto::ParamFileFault fault;
    const proto::ParamFileResult r = proto::ParseParamFile(text, w, &fault);
    if (r == proto::ParamFileResult::Ok) return kExitOk;
    const std::string where = fault.line > 0 ? path + ":" + std::to_string(fault.line) : path;
    Complain(where + ": " + proto::ParamFileProblem(r, fault));
    return kExitFile;
}

}   // namespace ctl
