// Files as both programs write and read them.
#include "fileio/fileio.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fileio {

namespace {

// All bytes, however many writes it takes; 0 or the errno of the failure.
int WriteAll(int fd, const char *bytes, size_t n, size_t *written = nullptr) {
    size_t done = 0;
    int err = 0;
    while (done < n) {
        const ssize_t w = write(fd, bytes + done, n - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            err = w < 0 ? errno : EIO;
            break;
        }
        done += static_cast<size_t>(w);
    }
    if (written) *written = done;
    return err;
}

// A device or a pipe has nothing to sync.
int Sync(int fd) { return fsync(fd) == 0 || errno == EINVAL ? 0 : errno; }

int CloseFd(int fd, int err) { return close(fd) != 0 && err == 0 ? errno : err; }

int WriteInPlace(const std::string &path, const std::string &bytes) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return errno;
    int err = WriteAll(fd, bytes.data(), bytes.size());
    if (err == 0) err = Sync(fd);
    return CloseFd(fd, err);
}

const int kNotSafe = -1;

// Writes the bytes to a new file of a unique name beside path, gives it the
// old file's owner and mode (old is null for a new file) and renames it over
// path when complete. kNotSafe, before anything is written, where the new
// file could not be made to look like the old one.
int WriteViaTemp(const std::string &path, const struct stat *old, const std::string &bytes) {
    const std::string pattern = path + ".XXXXXX";
    if (pattern.size() >= PATH_MAX) return ENAMETOOLONG;
    std::vector<char> tmp(pattern.begin(), pattern.end());
    tmp.push_back('\0');
    const int fd = mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) return errno == ENAMETOOLONG ? kNotSafe : errno;
    mode_t mode;
    bool same = true;
    if (old != nullptr) {
        if ((old->st_uid != geteuid() || old->st_gid != getegid()) &&
            fchown(fd, old->st_uid, old->st_gid) != 0)
            same = false;
        mode = old->st_mode & 0777;
    } else {
        // what creating the file by name would have given it
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    if (same && fchmod(fd, mode) != 0) same = false;
    if (!same) {
        close(fd);
        unlink(tmp.data());
        return kNotSafe;
    }
    int err = WriteAll(fd, bytes.data(), bytes.size());
    if (err == 0) err = Sync(fd);
    err = CloseFd(fd, err);
    if (err == 0 && rename(tmp.data(), path.c_str()) != 0) err = errno;
    if (err != 0) unlink(tmp.data());
    return err;
}

}   // namespace

int ReplaceFile(const std::string &path, const std::string &bytes) {
    if (path.empty()) return ENOENT;
    struct stat st;
    const bool exists = lstat(path.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) return errno;
    // a file the caller may not write stays as it is
    if (exists && faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) return errno;
    // Anything but a plain file of one name (a device, a link, a file with
    // other names) is written where it is: replacing it would change what
    // it is.
    if (exists && (!S_ISREG(st.st_mode) || st.st_nlink > 1)) return WriteInPlace(path, bytes);
    // Otherwise the new content goes to a file beside the old one and takes
    // its place only when complete. That needs a directory the caller may
    // write, and a new file that can be given the old one's owner and mode.
    const size_t slash = path.rfind('/');
    const std::string dir =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    if (faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) == 0) {
        const int r = WriteViaTemp(path, exists ? &st : nullptr, bytes);
        if (r != kNotSafe) return r;
    }
    return WriteInPlace(path, bytes);
}

int AppendLine(const std::string &path, const std::string &bytes) {
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return errno;
    struct stat st;
    const off_t before = fstat(fd, &st) == 0 ? st.st_size : -1;
    size_t done = 0;
    const int err = WriteAll(fd, bytes.data(), bytes.size(), &done);
    if (err != 0 && done > 0 && before >= 0 && S_ISREG(st.st_mode)) {
        const int r = ftruncate(fd, before);
        (void)r;   // nothing better to do: the error is reported either way
    }
    return CloseFd(fd, err);
}

int ReadBlocks(const std::string &path, size_t block,
               const std::function<bool(const char *, size_t)> &take, bool *opening) {
    if (opening) *opening = true;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    if (opening) *opening = false;
    std::vector<char> buf(block > 0 ? block : 1);
    int err = 0;
    for (;;) {
        const ssize_t n = read(fd, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) err = errno;
        if (n <= 0 || !take(buf.data(), static_cast<size_t>(n))) break;
    }
    close(fd);
    return err;
}

int ReadWholeFile(const std::string &path, std::string &out, size_t cap) {
    std::string got;
    bool big = false;
    const int err = ReadBlocks(path, 64 * 1024, [&](const char *bytes, size_t n) {
        big = n > cap - got.size();
        if (!big) got.append(bytes, n);
        return !big;
    });
    if (err != 0) return err;
    if (big) return EFBIG;
    out.swap(got);
    return 0;
}

std::string ProgramDir() {
    char exe[PATH_MAX + 1];
    const ssize_t n = readlink("/proc/self/exe", exe, PATH_MAX);
    if (n <= 0) return "";
    const std::string path(exe, static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return "";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string FindDataFile(const std::string &programDir, const std::string &name) {
    const std::string candidates[3] = {programDir + "/" + name,
                                       programDir + "/../share/kvex-ridar/" + name, name};
    for (const std::string &c : candidates) {
        struct stat st;
        if (stat(c.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return c;
    }
    return candidates[0];
}

std::string FindDataFile(const std::string &name) { return FindDataFile(ProgramDir(), name); }

std::string FindProgram(const std::string &name) {
    auto runnable = [](const std::string &path) {
        struct stat st;
        return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
               access(path.c_str(), X_OK) == 0;
    };
    const std::string dir = ProgramDir();
    if (!dir.empty() && runnable(dir + "/" + name)) return dir + "/" + name;
    const char *env = getenv("PATH");
    const std::string path = env ? env : "/usr/local/bin:/usr/bin:/bin";
    size_t from = 0;
    while (from <= path.size()) {
        size_t colon = path.find(':', from);
        if (colon == std::string::npos) colon = path.size();
        // an empty entry is the working directory
        const std::string entry = colon == from ? "." : path.substr(from, colon - from);
        if (runnable(entry + "/" + name)) return entry + "/" + name;
        from = colon + 1;
    }
    return "";
}

std::string ProposalDir(const std::string &programDir, const std::string &documentsDir) {
    if (!programDir.empty() && access(programDir.c_str(), W_OK) == 0) return programDir;
    if (documentsDir.empty()) return "";
    // an installed program's first run: the folder may not be there yet
    if (mkdir(documentsDir.c_str(), 0755) != 0 && errno != EEXIST) return "";
    struct stat st;
    if (stat(documentsDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return "";
    return access(documentsDir.c_str(), W_OK) == 0 ? documentsDir : "";
}

}   // namespace fileio
