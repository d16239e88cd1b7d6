// Messages and the files kvex-ctl reads.
#include <cstdio>
#include <cstring>

#include "ctl/ctl.h"
#include "fileio/fileio.h"

namespace ctl {

void Complain(const std::string &text) {
    std::fprintf(stderr, "kvex-ctl: %s\n", text.c_str());
    std::fflush(stderr);
}

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
