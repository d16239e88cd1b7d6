#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <unistd.h>
#include <sys/stat.h>
#include <vector>

std::string testfs::NewTempDir(const std::string &prefix) {
    std::string tmpl = "/tmp/" + prefix + "-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    return mkdtemp(buf.data()) ? buf.data() : "";
}

static std::map<std::string, std::string> &ProcessDirs() {
    static std::map<std::string, std::string> dirs;
    return dirs;
}

std::string testfs::TempDir(const std::string &prefix) {
    static const pid_t owner = getpid();
    static bool cleanup = false;
    std::string &dir = ProcessDirs()[prefix];
    if (dir.empty()) dir = NewTempDir(prefix);
    if (!cleanup) {
        cleanup = true;
        // a forked child that exits normally must not take the parent's files
        std::atexit([] {
            if (getpid() != owner) return;
            for (const auto &d : ProcessDirs()) {
                std::error_code ec;
                if (!d.second.empty()) std::filesystem::remove_all(d.second, ec);
            }
        });
    }
    return dir;
}

std::string testfs::ReadFile(const std::string &path) {
    std::string out;
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    std::fclose(f);
    return out;
}

void testfs::WriteFile(const std::string &path, const std::string &bytes) {
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size()) << path;
    EXPECT_EQ(std::fclose(f), 0) << path;
}

bool testfs::Exists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}
