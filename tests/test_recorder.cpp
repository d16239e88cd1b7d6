// The recorder file's data lines: bytes, append, failures.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "recorder/recorder.h"

namespace {

std::string TempDir() {
    static std::string dir;
    if (dir.empty()) {
        char tmpl[] = "/tmp/ridar-recfile-XXXXXX";
        dir = mkdtemp(tmpl);
    }
    return dir;
}
std::string TempPath(const std::string &name) { return TempDir() + "/" + name; }

std::string ReadFile(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

void UseFile(const std::string &path) {
    snprintf(rec_fname, sizeof rec_fname, "%s", path.c_str());
}

TEST(RecorderFile, DataLinesByteForByte) {
    struct Case { uint16_t l, r, m, e; uint32_t um; const char *text; } cases[] = {
        {312, 553, 432, 2, 14312, "312\t553\t432\t2\t14312\r\n"},
        {0, 0, 0, 0, 0, "0\t0\t0\t0\t0\r\n"},
        {65535, 65535, 65535, 65535, 2147483647u, "65535\t65535\t65535\t65535\t2147483647\r\n"},
        {1, 2, 3, 1, 2147483648u, "1\t2\t3\t1\t-2147483648\r\n"},
        {7, 8, 9, 3, 4294967295u, "7\t8\t9\t3\t-1\r\n"},
        {40000, 40001, 1, 0, 100000, "40000\t40001\t1\t0\t100000\r\n"},
    };
    std::string path = TempPath("data.dat");
    remove(path.c_str());
    UseFile(path);
    std::string want;
    for (const auto &c : cases) {
        ASSERT_EQ(WriteDataLine(c.l, c.r, c.m, c.e, c.um), 0);
        want += c.text;
        EXPECT_EQ(ReadFile(path), want);   // appended, never rewritten
    }
}

TEST(RecorderFile, DataLineWritesThatFailReportMinusOne) {
    const std::string paths[] = {
        "/nonexistent-ridar-dir/REC.DAT",   // no such directory
        TempDir(),                          // a directory
        "/proc/version",                    // not writable, even for root
        "/dev/full",                        // every write: no space left
    };
    for (const auto &p : paths) {
        UseFile(p);
        EXPECT_EQ(WriteDataLine(1, 2, 3, 4, 5), -1) << p;
    }
    struct stat st;
    EXPECT_NE(stat("/nonexistent-ridar-dir", &st), 0);
}

// A line that only partly fits is taken back: the file keeps whole lines.
TEST(RecorderFile, PartlyWrittenLineIsTakenBack) {
    std::string path = TempPath("limit.dat");
    remove(path.c_str());
    UseFile(path);
    ASSERT_EQ(WriteDataLine(1, 2, 3, 4, 5), 0);
    std::string before = ReadFile(path);
    signal(SIGXFSZ, SIG_IGN);
    rlimit old;
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit lim = old;
    lim.rlim_cur = before.size() + 5;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lim), 0);
    int r = WriteDataLine(11111, 22222, 33333, 4, 55555);
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(r, -1);
    EXPECT_EQ(ReadFile(path), before);
}

} // namespace
