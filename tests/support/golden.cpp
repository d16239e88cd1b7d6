#include "tests/support/golden.h"
#include "rt/rt_testing.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/app.h"
#include "link/frame.h"
#include "tests/support/child.h"
#include "tests/support/files.h"

namespace golden {

Trace::Trace() {
    rt_SetWriteHook([this](int, const char *bytes, int count) { OnWrite(bytes, count); });
}

Trace::~Trace() { rt_SetWriteHook(nullptr); }

void Trace::Step(const std::string &name) { text_ += "# " + name + "\n"; }

void Trace::Status() { text_ += "status: \"" + rt_GetCtrlText(pHandle, PANEL_TEXTStatus) + "\"\n"; }

void Trace::RecorderStatus() {
    text_ += "recorder: \"" + rt_GetCtrlText(pRecord, RECORD_TEXTRecStatus) + "\"\n";
}

void Trace::At(int order, int n, std::function<void()> fn) { actions_[{order, n}] = std::move(fn); }

int Trace::Count(int order) const {
    auto it = counts_.find(order);
    return it == counts_.end() ? 0 : it->second;
}

void Trace::KeepWrites(const std::string &step, int n) {
    const size_t at = text_.find("# " + step + "\n");
    if (at == std::string::npos) return;
    std::string out = text_.substr(0, at), rest = text_.substr(at);
    int writes = 0;
    for (size_t pos = 0; pos < rest.size();) {
        size_t end = rest.find('\n', pos);
        end = end == std::string::npos ? rest.size() : end + 1;
        const std::string line = rest.substr(pos, end - pos);
        if (line[0] != '>' || ++writes <= n) out += line;
        pos = end;
    }
    text_ = out + "# writes after the first " + std::to_string(n) + " left out\n";
}

void Trace::OnWrite(const char *bytes, int count) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string line = ">";
    for (int i = 0; i < count; ++i) {
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        line += ' ';
        line += kHex[b >> 4];
        line += kHex[b & 15];
    }
    text_ += line + "\n";
    if (count < 4) return;
    const int order =
        static_cast<unsigned char>(bytes[2]) * 256 + static_cast<unsigned char>(bytes[3]);
    const int n = ++counts_[order];
    auto it = actions_.find({order, n});
    if (it == actions_.end()) return;
    // posted, not called: the write is still under way in the program
    std::function<void()> fn = std::move(it->second);
    actions_.erase(it);
    QMetaObject::invokeMethod(qApp, std::move(fn), Qt::QueuedConnection);
}

// Replaces the value after `key` up to the line end by `mask` when it has
// the form of `mask` (a digit where the mask has a letter, else the same).
static void MaskField(std::string &s, const std::string &key, const std::string &mask) {
    for (size_t at = s.find(key); at != std::string::npos; at = s.find(key, at + 1)) {
        if (at != 0 && s[at - 1] != '\n') continue;
        const size_t v = at + key.size();
        if (s.size() < v + mask.size()) continue;
        bool fits = true;
        for (size_t i = 0; i < mask.size(); ++i) {
            const char c = s[v + i], m = mask[i];
            fits = fits && ((m >= 'A' && m <= 'Z') ? (c >= '0' && c <= '9') : c == m);
        }
        if (fits && s.compare(v + mask.size(), 2, "\r\n") == 0) s.replace(v, mask.size(), mask);
    }
}

std::string MaskDateTime(const std::string &file) {
    std::string s = file;
    MaskField(s, "Date:\t", "MM-DD-YYYY");
    MaskField(s, "Time:\t", "HH:MM:SS");
    return s;
}

static bool Recording() {
    const char *r = std::getenv("RIDAR_GOLDEN_RECORD");
    return r && std::strcmp(r, "1") == 0;
}

void Check(const std::string &name, const std::string &actual) {
    const std::string dir = std::string(KVEX_SOURCE_DIR) + "/tests/golden/";
    const std::string path = dir + name;
    if (Recording()) {
        const size_t slash = path.rfind('/');
        mkdir(path.substr(0, slash).c_str(), 0755);
        testfs::WriteFile(path, actual);
        std::printf("golden: recorded %s (%zu bytes)\n", path.c_str(), actual.size());
        return;
    }
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0)
        << "no golden copy " << path << " (record it with RIDAR_GOLDEN_RECORD=1)";
    const std::string expected = testfs::ReadFile(path);
    if (expected == actual) return;
    // where they part, as a line of the trace when it is text
    size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
    const size_t lineStart = expected.rfind('\n', at == 0 ? 0 : at - 1);
    const size_t from = lineStart == std::string::npos ? 0 : lineStart + 1;
    int line = 1;
    for (size_t i = 0; i < from; ++i) line += expected[i] == '\n';
    auto lineAt = [from](const std::string &s) {
        if (from >= s.size()) return std::string("<end>");
        const size_t e = s.find('\n', from);
        return s.substr(from, e == std::string::npos ? std::string::npos : e - from);
    };
    const std::string outDir = std::string(KVEX_BUILD_DIR) + "/golden-actual/";
    mkdir(outDir.c_str(), 0755);
    const std::string outPath = outDir + name;
    mkdir(outPath.substr(0, outPath.rfind('/')).c_str(), 0755);
    testfs::WriteFile(outPath, actual);
    ADD_FAILURE() << name << " differs from its golden copy at byte " << at << " (line " << line
                  << ")\n  golden: " << lineAt(expected) << "\n  actual: " << lineAt(actual)
                  << "\n  sizes " << expected.size() << " / " << actual.size()
                  << "; whole actual in " << outPath;
}

// ---- one scenario a process ---------------------------------------------------

bool RanInChild() {
    static int scenarios = 0;
    if (scenarios++ == 0) return false;
    const ::testing::TestInfo *t = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter =
        std::string("--gtest_filter=") + t->test_suite_name() + "." + t->name();
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    EXPECT_GT(n, 0);
    if (n <= 0) return true;
    self[n] = '\0';
    std::fflush(stdout);
    const pid_t pid = SpawnChild(self, {filter}, kInherit, kInherit, kInherit);
    EXPECT_GT(pid, 0) << "cannot start " << self;
    if (pid <= 0) return true;
    int st = 0;
    while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {}
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << "scenario failed in its own process";
    return true;
}

std::vector<std::string> SimArgs(std::vector<std::string> more) {
    std::vector<std::string> a = {"--noise", "0", "--video-noise", "0", "--seed", "1"};
    a.insert(a.end(), more.begin(), more.end());
    return a;
}

}   // namespace golden
