// Files and time: plain POSIX, no event pumping anywhere.
#include "rt/rt.h"
#include "rt/rt_testing.h"
#include "fileio/fileio.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

int GetFileInfo(const char *path, long *size) {
    if (size) *size = 0;
    if (!path || !*path) return 0;
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    if (size) *size = st.st_size > LONG_MAX ? LONG_MAX : static_cast<long>(st.st_size);
    return 1;
}

int CVI_DeleteFile(const char *path) {
    if (!path || !*path) return -1;
    if (unlink(path) == 0) return 0;
    switch (errno) {
    case ENOENT:
    case ENOTDIR: return -1;   // file not found
    case EACCES:
    case EPERM:
    case EROFS: return -6;   // access denied
    default: return -3;      // general I/O error
    }
}

int GetProjectDir(char *dir, int bufSize) {
    if (!dir || bufSize <= 0) return -1;
    dir[0] = '\0';
    const std::string exeDir = fileio::ProgramDir();
    if (exeDir.empty()) return -1;
    // a cut path would name some other directory
    if (exeDir.size() + 1 > static_cast<size_t>(bufSize)) return -1;
    std::memcpy(dir, exeDir.c_str(), exeDir.size() + 1);
    return 0;
}

int MakePathname(const char *dir, const char *name, char *path, int bufSize) {
    if (!path || bufSize <= 0) return -1;
    path[0] = '\0';
    if (!dir || !name) return -1;
    std::string out = dir;
    if (!out.empty() && out.back() != '/') out += '/';
    out += name;
    if (out.size() + 1 > static_cast<size_t>(bufSize)) return -1;
    std::memcpy(path, out.c_str(), out.size() + 1);
    return 0;
}

static double MonoNow() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Timer() = timerBase + (now - realBase) * timerRate; the rate is 1 outside fuzzing.
static double g_timerRate = 1.0, g_realBase = 0.0, g_timerBase = 0.0;

double Timer(void) {
    const double now = MonoNow();
    if (g_timerRate == 1.0 && g_realBase == 0.0) return now;
    return g_timerBase + (now - g_realBase) * g_timerRate;
}

void rt_SetTimerRate(double rate) {
    if (!std::isfinite(rate) || rate <= 0) rate = 1.0;
    // keep the clock continuous across the change
    const double t = Timer();
    g_realBase = MonoNow();
    g_timerBase = t;
    g_timerRate = rate;
}

static void SleepFor(double seconds) {
    if (!(seconds > 0)) return;         // also NaN
    if (seconds > 1e6) seconds = 1e6;   // no sleep "forever"
    timespec req;
    req.tv_sec = static_cast<time_t>(seconds);
    req.tv_nsec = static_cast<long>((seconds - static_cast<double>(req.tv_sec)) * 1e9);
    if (req.tv_nsec >= 1000000000L) req.tv_nsec = 999999999L;
    timespec rem;
    while (nanosleep(&req, &rem) != 0 && errno == EINTR) req = rem;
}

void Delay(double seconds) { SleepFor(seconds); }

void Sleep(unsigned milliseconds) { SleepFor(milliseconds / 1000.0); }

const char *DateStr(void) {
    static char buf[32];
    time_t t = time(nullptr);
    struct tm tmv;
    if (!localtime_r(&t, &tmv)) {
        std::snprintf(buf, sizeof buf, "00-00-0000");
        return buf;
    }
    std::snprintf(buf, sizeof buf, "%02d-%02d-%04d", tmv.tm_mon + 1, tmv.tm_mday,
                  tmv.tm_year + 1900);
    return buf;
}

const char *TimeStr(void) {
    static char buf[32];
    time_t t = time(nullptr);
    struct tm tmv;
    if (!localtime_r(&t, &tmv)) {
        std::snprintf(buf, sizeof buf, "00:00:00");
        return buf;
    }
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", tmv.tm_hour, tmv.tm_min, tmv.tm_sec);
    return buf;
}
