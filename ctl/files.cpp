// Files: whole reads, replacing writes and whole-line appends.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ctl/ctl.h"

namespace ctl {

void Complain(const std::string &text) {
    std::fprintf(stderr, "kvex-ctl: %s\n", text.c_str());
    std::fflush(stderr);
}

bool ReadWholeFile(const std::string &path, std::string &out, std::string &err) {
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) {
        err = path + ": " + std::strerror(errno);
        return false;
    }
    out.clear();
    char buf[4096];
    size_t n;
    // a parameter file is a few hundred bytes; anything huge is no such file
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0 && out.size() < (1u << 20))
        out.append(buf, n);
    const bool bad = std::ferror(f) != 0;
    std::fclose(f);
    if (bad) {
        err = path + ": read error";
        return false;
    }
    return true;
}

bool WriteWholeFile(const std::string &path, const std::string &text, std::string &err) {
    // the new file takes the old one's place only when complete
    struct stat st;
    const bool plain = lstat(path.c_str(), &st) == 0 ? S_ISREG(st.st_mode) : errno == ENOENT;
    const std::string tmp = path + ".tmp";
    FILE *f = std::fopen(plain ? tmp.c_str() : path.c_str(), "wb");
    if (!f) {
        err = path + ": " + std::strerror(errno);
        return false;
    }
    bool bad = std::fwrite(text.data(), 1, text.size(), f) != text.size();
    if (std::fflush(f) != 0) bad = true;
    if (std::fclose(f) != 0) bad = true;
    if (plain) {
        if (!bad && std::rename(tmp.c_str(), path.c_str()) != 0) bad = true;
        if (bad) std::remove(tmp.c_str());
    }
    if (bad) err = path + ": cannot be written";
    return !bad;
}

bool AppendLine(const std::string &path, const std::string &line) {
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    struct stat st;
    const off_t before = fstat(fd, &st) == 0 ? st.st_size : -1;
    size_t done = 0;
    bool ok = true;
    while (done < line.size()) {
        ssize_t w = write(fd, line.data() + done, line.size() - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            ok = false;
            break;
        }
        done += static_cast<size_t>(w);
    }
    // a line that only partly fits (disk full) is taken back
    if (!ok && done > 0 && before >= 0 && S_ISREG(st.st_mode)) {
        int r = ftruncate(fd, before);
        (void)r;
    }
    if (close(fd) != 0) ok = false;
    return ok;
}

}   // namespace ctl
