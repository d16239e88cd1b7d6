// Files that cannot be written: a full disk (a small tmpfs, or a file size
// limit), a read-only directory, a path that is a directory, a path too
// long for the program. Each gets a clear message and keeps what was
// already written, for the parameter file and for recordings.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <functional>
#include <memory>
#include <grp.h>
#include <string>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>

#include "tests/support/support.h"
#include "rt/rt_testing.h"
#include "recorder/recorder.h"
#include "fileio/fileio.h"

namespace {

const char kParaFail[] = "Parameter-file could not be written!";
const char kParaNotLoaded[] = "Parameter-file not loaded - unreadable or incomplete!";
const char kRecFail[] = "DATA-RECORDER INTERRUPTED - CANNOT WRITE DATA-FILE!";

void RemoveTree(const std::string &path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        chmod(path.c_str(), 0700);   // a case may have locked it
        if (DIR *d = opendir(path.c_str())) {
            while (dirent *e = readdir(d)) {
                std::string n = e->d_name;
                if (n != "." && n != "..") RemoveTree(path + "/" + n);
            }
            closedir(d);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

void WriteAll(const std::string &path, const std::string &bytes) {
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    ASSERT_EQ(std::fclose(f), 0);
}

// The names in a directory, sorted.
std::vector<std::string> Entries(const std::string &dir) {
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(n);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A scratch directory; optionally a tmpfs of the given size on it. Root
// mounts it here; anyone else in a user and mount namespace that a child
// process makes and holds, which this process reaches through the child's
// root. The cases so run the same for any user.
class Scratch {
public:
    Scratch() {
        char tmpl[] = "/tmp/ridar-files-XXXXXX";
        dir_ = mkdtemp(tmpl) ? tmpl : "";
    }
    ~Scratch() {
        if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
        if (holder_ > 0) {
            close(cmd_);
            close(ans_);
            waitpid(holder_, nullptr, 0);
        }
        if (!dir_.empty()) RemoveTree(dir_);
    }
    // "" once mounted, else why not
    std::string MountTmpfs(size_t bytes) {
        const std::string opt = "size=" + std::to_string(bytes) + ",mode=0777";
        if (geteuid() == 0) {
            mounted_ = mount("tmpfs", dir_.c_str(), "tmpfs", 0, opt.c_str()) == 0;
            return mounted_ ? "" : std::string("cannot mount a tmpfs: ") + std::strerror(errno);
        }
        int cmd[2], ans[2];
        if (pipe2(cmd, O_CLOEXEC) != 0) return "no pipe";
        if (pipe2(ans, O_CLOEXEC) != 0) {
            close(cmd[0]);
            close(cmd[1]);
            return "no pipe";
        }
        const std::string uidMap = "0 " + std::to_string(geteuid()) + " 1\n";
        const std::string gidMap = "0 " + std::to_string(getegid()) + " 1\n";
        std::fflush(nullptr);
        holder_ = fork();
        if (holder_ < 0) return "no fork";
        if (holder_ == 0) {
            // only system calls from here: the parent has threads
            close(cmd[1]);
            close(ans[0]);
            // the namespace's mounts do not propagate back: a user
            // namespace of its own makes them slaves
            int step = 0;
            if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) step = 1;
            else if (!WriteProc("/proc/self/setgroups", "deny\n") ||
                     !WriteProc("/proc/self/uid_map", uidMap.c_str()) ||
                     !WriteProc("/proc/self/gid_map", gidMap.c_str()))
                step = 2;
            else if (mount("tmpfs", dir_.c_str(), "tmpfs", 0, opt.c_str()) != 0) step = 3;
            Reply(ans[1], step);
            if (step != 0) _exit(1);
            char c;
            while (read(cmd[0], &c, 1) == 1) {
                const bool ro =
                    mount(nullptr, dir_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
                Reply(ans[1], ro ? 0 : 4);
            }
            _exit(0);
        }
        close(cmd[0]);
        close(ans[1]);
        cmd_ = cmd[1];
        ans_ = ans[0];
        const std::string why = Answer();
        if (why.empty()) view_ = "/proc/" + std::to_string(holder_) + "/root" + dir_;
        return why;
    }
    // "" once the tmpfs is read-only, else why not
    std::string ReadOnly() {
        if (mounted_)
            return mount(nullptr, dir_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0
                       ? ""
                       : std::string("cannot remount read-only: ") + std::strerror(errno);
        if (view_.empty()) return "no tmpfs";
        if (write(cmd_, "r", 1) != 1) return "the namespace's holder is gone";
        return Answer();
    }
    // fills the tmpfs up to its last byte
    void Fill() {
        FILE *f = std::fopen((Dir() + "/filler").c_str(), "wb");
        if (!f) return;
        std::setvbuf(f, nullptr, _IONBF, 0);
        char block[512] = {0};
        while (std::fwrite(block, 1, sizeof block, f) == sizeof block) {}
        while (std::fwrite(block, 1, 1, f) == 1) {}
        std::fclose(f);
    }
    const std::string &Dir() const { return view_.empty() ? dir_ : view_; }

private:
    static bool WriteProc(const char *path, const char *text) {
        const int fd = open(path, O_WRONLY | O_CLOEXEC);
        if (fd < 0) return false;
        const ssize_t len = static_cast<ssize_t>(std::strlen(text));
        const bool ok = write(fd, text, static_cast<size_t>(len)) == len;
        close(fd);
        return ok;
    }
    static void Reply(int fd, int step) {
        const int what[2] = {step, step ? errno : 0};
        if (write(fd, what, sizeof what) != static_cast<ssize_t>(sizeof what)) _exit(2);
    }
    std::string Answer() {
        int what[2] = {-1, 0};
        if (read(ans_, what, sizeof what) != static_cast<ssize_t>(sizeof what))
            return "cannot mount a tmpfs here: the namespace's holder ended";
        static const char *const kStep[] = {
            "", "unshare (a user and mount namespace of our own; a loop device needs root)",
            "writing the user namespace's id maps", "mount tmpfs", "remount read-only"};
        if (what[0] == 0) return "";
        if (what[0] < 0 || what[0] > 4) return "the namespace's holder said nonsense";
        return std::string("cannot mount a tmpfs here: ") + kStep[what[0]] + ": " +
               std::strerror(what[1]);
    }
    std::string dir_, view_;
    bool mounted_ = false;
    pid_t holder_ = -1;
    int cmd_ = -1, ans_ = -1;
};

// Files of this process may grow to `bytes` at most while it lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &old_);
        oldSig_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit r = old_;
        r.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &r);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldSig_);
    }

private:
    rlimit old_{};
    void (*oldSig_)(int) = nullptr;
};

// What the popups asked and answered.
struct Popups {
    std::string chosen;   // path the file dialog returns
    int result = VAL_EXISTING_FILE_SELECTED;
    std::vector<RtPopup> seen;
    void Install() {
        rt_SetPopupHook([this](const RtPopup &p) {
            seen.push_back(p);
            RtPopupAnswer a;
            if (p.kind == 3) {
                a.result = result;
                a.path = chosen;
            } else if (p.kind == 2) {
                a.result = 1;   // yes, overwrite
            }
            return a;
        });
    }
    int Messages(const std::string &containing) const {
        int n = 0;
        for (const auto &p : seen)
            n += p.kind == 1 && p.message.find(containing) != std::string::npos;
        return n;
    }
};

const std::string kOldSet = "  111\n  222\n  333\n  444\n  555\n  666\n  777\n  888\n"
                            "  999\n 1000\n 1001\n 1002\n 1003\n 1004\n 1005\n 1006\n";

class Files : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(StartRidarForTest());
        ASSERT_FALSE(scratch_.Dir().empty());
        popups_.Install();
    }
    void TearDown() override {
        rt_SetPopupHook([](const RtPopup &) { return RtPopupAnswer{}; });
        CloseCom(com);
    }
    void SendToFile(const std::string &path) {
        popups_.chosen = path;
        SetCtrlVal(pHandle, PANEL_RBTFile, 1);
        SetCtrlVal(pHandle, PANEL_RBTRam, 0);
        target = DATFILE;
        ShowStatusText("");
        SetStatus("");
        rt_UserClick(pHandle, PANEL_BTNSend);
    }
    Scratch scratch_;
    Popups popups_;
};

// ---- the parameter file ------------------------------------------------------------

enum ParaCase { P_FULL_TMPFS, P_FSIZE, P_READONLY, P_DIRECTORY, P_NO_DIR };
struct ParaWrite {
    const char *name;
    ParaCase kind;
};

class ParaFileWrite : public Files, public ::testing::WithParamInterface<ParaWrite> {};

TEST_P(ParaFileWrite, SaysSoAndKeepsTheOldSet) {
    const ParaWrite &c = GetParam();
    std::string path = scratch_.Dir() + "/KVEXpara.dat";
    std::unique_ptr<FileSizeLimit> limit;
    switch (c.kind) {
    case P_FULL_TMPFS:
        ASSERT_EQ(scratch_.MountTmpfs(8192), "");
        path = scratch_.Dir() + "/KVEXpara.dat";
        WriteAll(path, kOldSet);
        scratch_.Fill();
        break;
    case P_FSIZE:
        WriteAll(path, kOldSet);
        // room for a few lines only
        limit = std::make_unique<FileSizeLimit>(40);
        break;
    case P_READONLY:
        ASSERT_EQ(scratch_.MountTmpfs(65536), "");
        path = scratch_.Dir() + "/KVEXpara.dat";
        WriteAll(path, kOldSet);
        ASSERT_EQ(scratch_.ReadOnly(), "");
        break;
    case P_DIRECTORY: ASSERT_EQ(mkdir(path.c_str(), 0755), 0); break;
    case P_NO_DIR: path = scratch_.Dir() + "/missing/KVEXpara.dat"; break;
    }
    const std::vector<std::string> before = Entries(scratch_.Dir());
    SendToFile(path);
    limit.reset();
    EXPECT_EQ(StatusLine(), kParaFail);
    EXPECT_STREQ(szStatus, kParaFail);
    struct stat st;
    if (c.kind == P_DIRECTORY) {
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
    } else if (c.kind == P_NO_DIR) {
        EXPECT_NE(stat(path.c_str(), &st), 0);
    } else {
        // byte for byte the set that was there
        EXPECT_EQ(testfs::ReadFile(path), kOldSet);
    }
    // no half-written file is left beside it
    EXPECT_EQ(Entries(scratch_.Dir()), before);
}

INSTANTIATE_TEST_SUITE_P(Cases, ParaFileWrite,
                         ::testing::Values(ParaWrite{"FullTmpfs", P_FULL_TMPFS},
                                           ParaWrite{"FileSizeLimit", P_FSIZE},
                                           ParaWrite{"ReadOnlyDir", P_READONLY},
                                           ParaWrite{"PathIsADirectory", P_DIRECTORY},
                                           ParaWrite{"MissingDirectory", P_NO_DIR}),
                         [](const ::testing::TestParamInfo<ParaWrite> &i) {
                             return std::string(i.param.name);
                         });

TEST_F(Files, ParaFileWrittenWholeReplacesTheOldOne) {
    std::string path = scratch_.Dir() + "/KVEXpara.dat";
    WriteAll(path, kOldSet);
    SetCtrlVal(pHandle, PANEL_NUMVideoThreshold, 777);
    SendToFile(path);
    std::string now = testfs::ReadFile(path);
    EXPECT_NE(now, kOldSet);
    EXPECT_EQ(now.size(), 16u * 6u) << now;
    EXPECT_NE(now.find("  777\n"), std::string::npos) << now;
    EXPECT_EQ(Entries(scratch_.Dir()), std::vector<std::string>{"KVEXpara.dat"});
}

TEST_F(Files, ParaFileOnADeviceOrThroughALinkIsWrittenWhereItIs) {
    uint16_t w[PNUM] = {1, 2, 3};
    // a device is never replaced by a plain file
    EXPECT_EQ(WriteParaFile("/dev/full", w), -1);
    struct stat st;
    ASSERT_EQ(lstat("/dev/full", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_NE(lstat("/dev/full.tmp", &st), 0);
    EXPECT_EQ(WriteParaFile("/dev/null", w), 0);
    ASSERT_EQ(lstat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    // a link stays a link to the file that is written
    std::string real = scratch_.Dir() + "/real.dat", link = scratch_.Dir() + "/link.dat";
    WriteAll(real, kOldSet);
    ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
    EXPECT_EQ(WriteParaFile(link.c_str(), w), 0);
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(testfs::ReadFile(real).substr(0, 18), "    1\n    2\n    3\n");
}

TEST_F(Files, ParaFileTooLongAPathSaysSoAndWritesNothing) {
    std::string name(300, 'p');
    std::string path =
        scratch_.Dir() + "/" + name.substr(0, 200) + "/" + name.substr(0, 100) + ".dat";
    std::string cut = path.substr(0, sizeof file_name - 1);
    SendToFile(path);
    EXPECT_EQ(popups_.Messages("too long"), 1);
    // nothing under the cut-off name either
    struct stat st;
    EXPECT_NE(stat(cut.c_str(), &st), 0);
    EXPECT_NE(StatusLine(), "Line Ok!");
}

// The save dialog itself, as the operator fills it in: the name typed into
// its file name field, then Enter. Its filter "*.dat" is restricted, so a
// name that does not match it gets ".dat", and the load dialog lists the file.
TEST_F(Files, ParaFileSaveDialogAddsTheExtension) {
    const struct {
        const char *typed, *written;
    } cases[] = {
        {"mypara", "mypara.dat"},
        {"mypara.dat", "mypara.dat"},
        {"OTHER.DAT", "OTHER.DAT"},
        {"para.v2", "para.v2.dat"},
        {"dotted.", "dotted.dat"},
        {"mypara", "mypara.dat"},   // again: the file just written is replaced
    };
    char oldProj[sizeof proj_dir];
    std::memcpy(oldProj, proj_dir, sizeof proj_dir);
    std::snprintf(proj_dir, sizeof proj_dir, "%s", scratch_.Dir().c_str());
    rt_SetPopupHook({});   // the real dialogs
    std::vector<std::string> expected;
    int vThdShown = 600;
    // the target "File", chosen as the operator does; a click on the button
    // when it is on already would switch it off
    int fileOn = 0;
    GetCtrlVal(pHandle, PANEL_RBTFile, &fileOn);
    if (!fileOn || target != DATFILE) {
        SetCtrlVal(pHandle, PANEL_RBTFile, 0);
        ASSERT_TRUE(drive::Click(pHandle, "RBTFile"));
    }
    ASSERT_EQ(target, DATFILE);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.typed);
        std::string title, filters, failed;
        auto done = std::make_shared<bool>(false);
        const std::string typed = c.typed;
        rt_After(0.3, [&, typed, done] {
            auto *dlg = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            QLineEdit *edit =
                dlg ? dlg->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")) : nullptr;
            if (!edit) {
                failed = "no file dialog with a name field";
                return;
            }
            title = dlg->windowTitle().toStdString();
            filters = dlg->nameFilters().join(QLatin1Char('|')).toStdString();
            edit->setFocus(Qt::OtherFocusReason);
            QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(edit, QString::fromStdString(typed));
            QTest::keyClick(edit, Qt::Key_Return);
        });
        // a safety net: a dialog still open is cancelled
        rt_After(5.0, [done] {
            if (*done) return;
            if (auto *dlg = qobject_cast<QFileDialog *>(QApplication::activeModalWidget()))
                dlg->reject();
        });
        SetCtrlVal(pHandle, PANEL_NUMVideoThreshold, ++vThdShown);
        ASSERT_TRUE(drive::Click(pHandle, "BTNSend"));
        *done = true;
        ASSERT_EQ(failed, "");
        EXPECT_EQ(title, "K-VEX-XC-Series Parameter File");
        EXPECT_EQ(filters, "Files (*.dat)");
        const std::string path = scratch_.Dir() + "/" + c.written;
        EXPECT_EQ(std::string(file_name), path);
        EXPECT_EQ(testfs::ReadFile(path).substr(12, 6), "  " + std::to_string(vThdShown) + "\n");
        if (std::find(expected.begin(), expected.end(), c.written) == expected.end())
            expected.push_back(c.written);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(Entries(scratch_.Dir()), expected);
    }
    std::memcpy(proj_dir, oldProj, sizeof proj_dir);
}

// ---- the parameter file and file permissions -------------------------------------

// Root writes any file whatever its mode; the operator does not. The
// operator is the user running the tests, or nobody when that is root: the
// cases of an operator's rights then run in a child that has dropped to
// nobody, with the panel and the file dialog it inherited. In the table
// kNobody stands for the operator.
const uid_t kNobody = 65534;
const gid_t kNogroup = 65534;

bool AsRoot() { return geteuid() == 0; }
uid_t OperatorUid() { return AsRoot() ? kNobody : geteuid(); }
gid_t OperatorGid() { return AsRoot() ? kNogroup : getegid(); }

// Runs body as nobody in a child; what it returns comes back, or a text
// starting "child:" when the child could not drop or ended badly.
std::string AsOperator(const std::function<std::string()> &body) {
    if (!AsRoot()) return body();
    int fds[2];
    if (pipe(fds) != 0) return "child: no pipe";
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) return "child: no fork";
    if (pid == 0) {
        close(fds[0]);
        std::string out = "child: cannot drop to nobody";
        if (setgroups(0, nullptr) == 0 && setgid(kNogroup) == 0 && setuid(kNobody) == 0 &&
            geteuid() == kNobody) {
            umask(022);
            out = body();
        }
        const char *p = out.data();
        size_t left = out.size();
        while (left > 0) {
            const ssize_t n = write(fds[1], p, left);
            if (n <= 0) break;
            p += n;
            left -= static_cast<size_t>(n);
        }
        _exit(0);
    }
    close(fds[1]);
    std::string out;
    char buf[512];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "child: ended with status " + std::to_string(status);
    return out;
}

enum Who { AS_ROOT, AS_NOBODY };
enum Dir { DIR_OPERATORS, DIR_LOCKED };     // nobody may write the directory, or not
enum How { REFUSED, REPLACED, IN_PLACE };   // REPLACED: a new file took the name

struct ParaRights {
    const char *name;
    Who who;
    Dir dir;
    bool exists;
    uid_t owner;
    gid_t group;
    mode_t mode;
    How how;
};

class ParaFileRights : public Files, public ::testing::WithParamInterface<ParaRights> {};

TEST_P(ParaFileRights, RefusedWrittenInPlaceOrReplacedKeepingOwnerAndMode) {
    const ParaRights &c = GetParam();
    if (!AsRoot() && (c.who == AS_ROOT || (c.exists && c.owner != kNobody)))
        FAIL() << "needs root: only root can make a file of another user or write as root";
    const uid_t op = OperatorUid();
    const gid_t opGroup = OperatorGid();
    const uid_t owner = c.owner == kNobody ? op : c.owner;
    const gid_t group = c.group == kNogroup ? opGroup : c.group;
    // the operator may look into the scratch directory; the case's directory
    // is the operator's own or one the operator may not write
    ASSERT_EQ(chmod(scratch_.Dir().c_str(), 0755), 0);
    const std::string dir = scratch_.Dir() + "/d";
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    if (c.dir == DIR_OPERATORS) { ASSERT_EQ(chown(dir.c_str(), op, opGroup), 0); }
    const std::string path = dir + "/KVEXpara.dat";
    // an operator's own file of the name an earlier mend wrote through
    const std::string own = dir + "/KVEXpara.dat.tmp";
    const std::string ownText = "notes of the operator\n";
    WriteAll(own, ownText);
    ASSERT_EQ(chown(own.c_str(), op, opGroup), 0);
    struct stat st {};
    ino_t inode = 0;
    if (c.exists) {
        WriteAll(path, kOldSet);
        ASSERT_EQ(chown(path.c_str(), owner, group), 0);
        ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        inode = st.st_ino;
    }
    // root's directory when root runs the tests; else the operator's, locked
    if (c.dir == DIR_LOCKED && !AsRoot()) { ASSERT_EQ(chmod(dir.c_str(), 0555), 0); }
    const std::vector<std::string> before = Entries(dir);
    SetCtrlVal(pHandle, PANEL_NUMVideoThreshold, 777);
    std::string status;
    if (c.who == AS_NOBODY) {
        status = AsOperator([&] {
            SendToFile(path);
            return StatusLine();
        });
    } else {
        SendToFile(path);
        status = StatusLine();
    }
    ASSERT_EQ(status.rfind("child:", 0), std::string::npos) << status;
    if (c.how == REFUSED) {
        EXPECT_EQ(status, kParaFail);
        EXPECT_EQ(testfs::ReadFile(path), c.exists ? kOldSet : "");
    } else {
        EXPECT_NE(status, kParaFail);
        const std::string now = testfs::ReadFile(path);
        EXPECT_EQ(now.size(), 16u * 6u) << now;
        EXPECT_EQ(now.substr(12, 6), "  777\n") << now;
    }
    // the file is what it was, or looks like it; a new one as any new file
    struct stat now {};
    const bool there = stat(path.c_str(), &now) == 0;
    EXPECT_EQ(there, c.exists || c.how != REFUSED);
    if (there) {
        EXPECT_EQ(now.st_uid, c.exists ? owner : (c.who == AS_NOBODY ? op : 0u));
        EXPECT_EQ(now.st_gid, c.exists ? group : (c.who == AS_NOBODY ? opGroup : 0u));
        EXPECT_EQ(now.st_mode & 07777, c.exists ? c.mode : 0644u);
        if (c.exists && c.how != REFUSED) {
            EXPECT_EQ(now.st_ino == inode, c.how == IN_PLACE) << "written in place";
        }
    }
    // nothing left beside it, and the operator's own file untouched
    std::vector<std::string> after = before;
    if (!c.exists && c.how != REFUSED) after.push_back("KVEXpara.dat");
    std::sort(after.begin(), after.end());
    EXPECT_EQ(Entries(dir), after);
    EXPECT_EQ(testfs::ReadFile(own), ownText);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParaFileRights,
    ::testing::Values(
        // the operator's file, read-only: refused, in a directory of theirs or not
        ParaRights{"ReadOnlyFile", AS_NOBODY, DIR_OPERATORS, true, kNobody, kNogroup, 0444,
                   REFUSED},
        ParaRights{"ReadOnlyFileLockedDir", AS_NOBODY, DIR_LOCKED, true, kNobody, kNogroup, 0444,
                   REFUSED},
        // another user's file the operator may not write
        ParaRights{"OthersFile", AS_NOBODY, DIR_OPERATORS, true, 0, 0, 0644, REFUSED},
        // replaced whole, with its mode
        ParaRights{"OwnFile", AS_NOBODY, DIR_OPERATORS, true, kNobody, kNogroup, 0640, REPLACED},
        ParaRights{"OwnFileGroupWritable", AS_NOBODY, DIR_OPERATORS, true, kNobody, kNogroup, 0664,
                   REPLACED},
        // a writable file in a directory the operator may not write
        ParaRights{"OwnFileLockedDir", AS_NOBODY, DIR_LOCKED, true, kNobody, kNogroup, 0600,
                   IN_PLACE},
        ParaRights{"OthersWritableFileLockedDir", AS_NOBODY, DIR_LOCKED, true, 0, 0, 0666,
                   IN_PLACE},
        // another user's writable file: a new file would be the operator's
        ParaRights{"OthersWritableFile", AS_NOBODY, DIR_OPERATORS, true, 0, 0, 0666, IN_PLACE},
        // new files
        ParaRights{"NewFile", AS_NOBODY, DIR_OPERATORS, false, 0, 0, 0, REPLACED},
        ParaRights{"NewFileLockedDir", AS_NOBODY, DIR_LOCKED, false, 0, 0, 0, REFUSED},
        // root replaces a user's file, which stays the user's, with its mode
        ParaRights{"RootOnUsersFile", AS_ROOT, DIR_OPERATORS, true, kNobody, kNogroup, 0604,
                   REPLACED},
        ParaRights{"RootOnReadOnlyFile", AS_ROOT, DIR_LOCKED, true, kNobody, kNogroup, 0444,
                   REPLACED}),
    [](const ::testing::TestParamInfo<ParaRights> &i) { return std::string(i.param.name); });

struct ParaRead {
    const char *name;
    int kind;   // 0 directory, 1 missing, 2 too long, 3 empty, 4 half a set, 5 bad word
    const char *word = nullptr;   // kind 5: the text at word pos
    int pos = 0;
};

class ParaFileRead : public Files, public ::testing::WithParamInterface<ParaRead> {};

TEST_P(ParaFileRead, RefusedWithAMessageAndTheSetUnchanged) {
    const ParaRead &c = GetParam();
    std::string path = scratch_.Dir() + "/in.dat";
    switch (c.kind) {
    case 0: ASSERT_EQ(mkdir(path.c_str(), 0755), 0); break;
    case 1: break;
    case 2: path = scratch_.Dir() + "/" + std::string(280, 'q'); break;
    case 3: WriteAll(path, ""); break;
    case 4: WriteAll(path, "1\n2\n3\n4\n5\n6\n7\n8\n"); break;
    case 5: WriteAll(path, ParamFileWith(c.pos, c.word)); break;
    }
    vThd = 321;
    power = 432;
    SetPanelValues();
    for (int i = 0; i < PNUM; ++i) pp[i] = static_cast<uint16_t>(1000 + i);
    popups_.chosen = path;
    SetCtrlVal(pHandle, PANEL_RBTFile, 1);
    target = DATFILE;
    rt_UserClick(pHandle, PANEL_BTNGet);
    EXPECT_EQ(vThd, 321);
    EXPECT_EQ(power, 432);
    EXPECT_EQ(Shown(PANEL_NUMVideoThreshold), 321);
    EXPECT_EQ(Shown(PANEL_NUMPower), 432);
    for (int i = 0; i < PNUM; ++i) EXPECT_EQ(pp[i], 1000 + i) << "pp[" << i << "]";
    if (c.kind == 2) {
        EXPECT_EQ(popups_.Messages("too long"), 1);
    } else {
        EXPECT_EQ(StatusLine(), kParaNotLoaded);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParaFileRead,
    ::testing::Values(ParaRead{"Directory", 0}, ParaRead{"Missing", 1}, ParaRead{"TooLongAPath", 2},
                      ParaRead{"Empty", 3}, ParaRead{"HalfASet", 4},
                      ParaRead{"Word65536", 5, "65536", 0}, ParaRead{"Word70000", 5, "70000", 2},
                      ParaRead{"WordMinus1", 5, "-1", 9},
                      ParaRead{"Word4294967796", 5, "4294967796", 15}),
    [](const ::testing::TestParamInfo<ParaRead> &i) { return std::string(i.param.name); });

// ---- recordings --------------------------------------------------------------------

struct RecLines {
    int header = 0, data = 0;
    bool complete = true;
};

RecLines Parse(const std::string &file) {
    RecLines r;
    size_t pos = 0;
    int line = 0;
    while (pos < file.size()) {
        size_t end = file.find("\r\n", pos);
        if (end == std::string::npos) {
            r.complete = false;
            break;
        }
        std::string l = file.substr(pos, end - pos);
        if (line < 7) {
            ++r.header;
        } else {
            int tabs = 0;
            for (char ch : l) {
                if (ch == '\t') ++tabs;
                else if (!(ch >= '0' && ch <= '9') && ch != '-') r.complete = false;
            }
            if (tabs != 4) r.complete = false;
            ++r.data;
        }
        ++line;
        pos = end + 2;
    }
    return r;
}

class RecorderFiles : public Files {
protected:
    void SetUp() override {
        Files::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        ASSERT_TRUE(sim_.Start({"--fast"}));
        Connect(sim_.Device());
        ASSERT_EQ(std::string(szVersion).rfind("K-VEX-XC-SIM", 0), 0u) << szStatus;
    }
    // A recording of `samples` samples, one a second, into `path`.
    void Record(const std::string &path, int samples) {
        std::snprintf(rec_fname, sizeof rec_fname, "%s", path.c_str());
        SetCtrlVal(pRecord, RECORD_NUMsample, samples);
        SetCtrlVal(pRecord, RECORD_NUMinctime, 0);
        SetStatus("");
        ShowStatus();
        DisplayPanel(pRecord);
        rt_UserClick(pRecord, RECORD_CBTNStartRecord);
        HidePanel(pRecord);
    }
    void ExpectWriteFailure() {
        EXPECT_EQ(TextBox(pRecord, RECORD_TEXTRecStatus), kRecFail);
        EXPECT_EQ(StatusLine(), kRecFail);
        EXPECT_NE(stop_flag, STOP_RUNNING);
        EXPECT_EQ(Dimmed(pHandle, PANEL_CTRLRunLockA), 0);
        EXPECT_EQ(Dimmed(pHandle, PANEL_CTRLRunLockB), 0);
        EXPECT_EQ(Dimmed(pHandle, PANEL_CTRLRunLockC), 0);
        EXPECT_EQ(Dimmed(pRecord, RECORD_CBTNStartRecord), 0);
    }
    SimProcess sim_;
};

TEST_F(RecorderFiles, DiskFullMidwayKeepsEveryCompleteLine) {
    std::string path = scratch_.Dir() + "/REC.DAT";
    auto t0 = Clock::now();
    {
        // the header and two or three lines fit
        FileSizeLimit limit(230);
        Record(path, 20);
    }
    EXPECT_LT(Since(t0), 10.0);
    ExpectWriteFailure();
    std::string file = testfs::ReadFile(path);
    RecLines r = Parse(file);
    EXPECT_TRUE(r.complete) << file;
    EXPECT_EQ(r.header, 7);
    EXPECT_GE(r.data, 1);
    EXPECT_LT(r.data, 20);
    EXPECT_LE(file.size(), 230u);
    int count = -1;
    GetCtrlVal(pRecord, RECORD_NUMRecCount, &count);
    EXPECT_EQ(count, r.data);
}

TEST_F(RecorderFiles, FullTmpfsAtTheStartSaysSo) {
    ASSERT_EQ(scratch_.MountTmpfs(8192), "");
    scratch_.Fill();
    std::string path = scratch_.Dir() + "/REC.DAT";
    Record(path, 3);
    ExpectWriteFailure();
    RecLines r = Parse(testfs::ReadFile(path));
    EXPECT_TRUE(r.complete);
    EXPECT_EQ(r.data, 0);
}

TEST_F(RecorderFiles, ReadOnlyDirectorySaysSo) {
    ASSERT_EQ(scratch_.MountTmpfs(65536), "");
    ASSERT_EQ(scratch_.ReadOnly(), "");
    Record(scratch_.Dir() + "/REC.DAT", 3);
    ExpectWriteFailure();
}

TEST_F(RecorderFiles, PathThatIsADirectorySaysSo) {
    std::string path = scratch_.Dir() + "/REC.DAT";
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
    Record(path, 3);
    ExpectWriteFailure();
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(RecorderFiles, TooLongAPathIsRefusedInTheDialog) {
    std::string keep = scratch_.Dir() + "/REC.DAT";
    std::snprintf(rec_fname, sizeof rec_fname, "%s", keep.c_str());
    popups_.chosen = scratch_.Dir() + "/" + std::string(300, 'r');
    popups_.result = VAL_NEW_FILE_SELECTED;
    DisplayPanel(pRecord);
    rt_UserClick(pRecord, RECORD_CMDBTNrecfile);
    HidePanel(pRecord);
    EXPECT_EQ(popups_.Messages("too long"), 1);
    EXPECT_EQ(std::string(rec_fname), keep);
    // and a recording still goes to the file shown
    Record(keep, 1);
    EXPECT_EQ(TextBox(pRecord, RECORD_TEXTRecStatus), "DATA-RECORDER COMPLETED SUCCESSFULLY");
    RecLines r = Parse(testfs::ReadFile(keep));
    EXPECT_TRUE(r.complete);
    EXPECT_EQ(r.data, 1);
}

// ---- the shared file routines, as both programs use them -------------------------

ino_t Inode(const std::string &path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// Replacing a file: a plain file by a new one with its owner and mode, a
// link or a file of several names where it is, a read-only file refused;
// never anything left beside it, never a fixed temporary name followed.
TEST(FileIo, ReplaceKeepsOwnerModeAndWhatTheFileIs) {
    // root replaces nobody's files; anyone else their own
    enum Kind { PLAIN, SYMLINK, HARDLINK, READONLY_AS_NOBODY };
    const struct {
        const char *name;
        Kind kind;
        mode_t mode;
        int err;
        bool sameInode;
    } cases[] = {
        {"plain file of another user", PLAIN, 0604, 0, false},
        {"symbolic link", SYMLINK, 0640, 0, true},
        {"file of two names", HARDLINK, 0600, 0, true},
        {"read-only file", READONLY_AS_NOBODY, 0444, EACCES, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Scratch scratch;
        const std::string dir = scratch.Dir(), real = dir + "/real.dat";
        ASSERT_EQ(chmod(dir.c_str(), 0777), 0);
        WriteAll(real, "old\n");
        ASSERT_EQ(chown(real.c_str(), OperatorUid(), OperatorGid()), 0);
        ASSERT_EQ(chmod(real.c_str(), c.mode), 0);
        const std::string path = c.kind == SYMLINK    ? dir + "/link.dat"
                                 : c.kind == HARDLINK ? dir + "/other.dat"
                                                      : real;
        if (c.kind == SYMLINK) { ASSERT_EQ(symlink(real.c_str(), path.c_str()), 0); }
        if (c.kind == HARDLINK) { ASSERT_EQ(link(real.c_str(), path.c_str()), 0); }
        // a fixed temporary name would write through this link
        const std::string victim = dir + "/victim";
        WriteAll(victim, "keep\n");
        ASSERT_EQ(symlink(victim.c_str(), (path + ".tmp").c_str()), 0);
        const ino_t before = Inode(real);
        const std::vector<std::string> names = Entries(dir);
        int err = -1;
        if (c.kind == READONLY_AS_NOBODY) {
            const std::string r =
                AsOperator([&] { return std::to_string(fileio::ReplaceFile(path, "new\n")); });
            ASSERT_EQ(r.rfind("child:", 0), std::string::npos) << r;
            err = std::stoi(r);
        } else {
            err = fileio::ReplaceFile(path, "new\n");
        }
        EXPECT_EQ(err, c.err) << std::strerror(err);
        EXPECT_EQ(testfs::ReadFile(real), c.err ? "old\n" : "new\n");
        EXPECT_EQ(Inode(real) == before, c.sameInode);
        struct stat st {};
        ASSERT_EQ(stat(real.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, OperatorUid());
        EXPECT_EQ(st.st_gid, OperatorGid());
        EXPECT_EQ(st.st_mode & 07777, c.mode);
        EXPECT_EQ(testfs::ReadFile(victim), "keep\n");
        EXPECT_EQ(Entries(dir), names);
    }
}

// A write that fails midway keeps the old content and leaves nothing; an
// append that only partly fits is taken back.
TEST(FileIo, FailuresKeepWhatWasThere) {
    Scratch scratch;
    const std::string path = scratch.Dir() + "/f.dat", old(100, 'o');
    WriteAll(path, old);
    const std::vector<std::string> names = Entries(scratch.Dir());
    {
        FileSizeLimit limit(150);
        EXPECT_EQ(fileio::ReplaceFile(path, std::string(200, 'n')), EFBIG);
        EXPECT_EQ(fileio::AppendLine(path, std::string(60, 'a')), EFBIG);
        EXPECT_EQ(fileio::AppendLine(path, std::string(50, 'a')), 0);
    }
    EXPECT_EQ(testfs::ReadFile(path), old + std::string(50, 'a'));
    EXPECT_EQ(Entries(scratch.Dir()), names);
    EXPECT_EQ(fileio::ReplaceFile("/dev/full", "x"), ENOSPC);
    EXPECT_EQ(fileio::ReplaceFile(scratch.Dir() + "/none/f.dat", "x"), ENOENT);
    EXPECT_EQ(fileio::ReplaceFile(scratch.Dir(), "x"), EISDIR);
    EXPECT_EQ(fileio::AppendLine(scratch.Dir(), "x"), EISDIR);
}

TEST(FileIo, ReadWholeFileUpToItsCap) {
    Scratch scratch;
    const std::string path = scratch.Dir() + "/f.dat";
    WriteAll(path, std::string(100, 'x'));
    std::string out = "before";
    EXPECT_EQ(fileio::ReadWholeFile(path, out, 99), EFBIG);
    EXPECT_EQ(out, "before");
    EXPECT_EQ(fileio::ReadWholeFile(path, out, 100), 0);
    EXPECT_EQ(out, std::string(100, 'x'));
    EXPECT_EQ(fileio::ReadWholeFile(scratch.Dir() + "/none", out, 100), ENOENT);
    EXPECT_EQ(fileio::ReadWholeFile(scratch.Dir(), out, 100), EISDIR);
}

// A shipped file: beside the program, else installed, else in the working
// directory, else the name beside the program.
TEST(FileIo, DataFileLookupOrder) {
    Scratch scratch;
    const std::string root = scratch.Dir(), bin = root + "/bin", share = root + "/share/kvex-ridar";
    ASSERT_EQ(mkdir(bin.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((root + "/share").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(share.c_str(), 0755), 0);
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(root.c_str()), 0);
    const struct {
        const char *there;   // where the file is made, relative to root
        std::string found;
    } cases[] = {
        {"", bin + "/form.ui"},
        {"form.ui", "form.ui"},
        {"share/kvex-ridar/form.ui", bin + "/../share/kvex-ridar/form.ui"},
        {"bin/form.ui", bin + "/form.ui"},
    };
    for (const auto &c : cases) {
        if (*c.there) WriteAll(root + "/" + c.there, "x");
        EXPECT_EQ(fileio::FindDataFile(bin, "form.ui"), c.found) << c.there;
    }
    // a directory of the name is no such file
    EXPECT_EQ(fileio::FindDataFile(root, "bin"), root + "/bin");
    ASSERT_EQ(chdir(cwd), 0);
}

// kvex-sim is found beside the program first, then on PATH, and only as a
// runnable file.
TEST(FileIo, ProgramBesideThenOnPath) {
    Scratch scratch;
    const std::string a = scratch.Dir() + "/a", b = scratch.Dir() + "/b";
    ASSERT_EQ(mkdir(a.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(b.c_str(), 0755), 0);
    WriteAll(a + "/tool-x", "#!/bin/sh\n");   // not executable
    ASSERT_EQ(mkdir((a + "/tool-d").c_str(), 0755), 0);
    WriteAll(b + "/tool-x", "#!/bin/sh\n");
    ASSERT_EQ(chmod((b + "/tool-x").c_str(), 0755), 0);
    WriteAll(b + "/tool-d", "#!/bin/sh\n");
    ASSERT_EQ(chmod((b + "/tool-d").c_str(), 0755), 0);
    const char *old = getenv("PATH");
    const std::string saved = old ? old : "";
    setenv("PATH", (a + ":" + b).c_str(), 1);
    EXPECT_EQ(fileio::FindProgram("tool-x"), b + "/tool-x");
    EXPECT_EQ(fileio::FindProgram("tool-d"), b + "/tool-d");
    EXPECT_EQ(fileio::FindProgram("tool-none"), "");
    // the test programs sit beside kvex-sim in the build tree
    EXPECT_EQ(fileio::FindProgram("kvex-sim"), fileio::ProgramDir() + "/kvex-sim");
    setenv("PATH", saved.c_str(), 1);
}

// The operator's files are proposed beside the program run from the build
// tree, and in the documents folder (made on first use) beside an installed
// one whose directory the operator may not write.
TEST(FileIo, ProposedFilesGoWhereTheOperatorMayWrite) {
    Scratch scratch;
    const std::string root = scratch.Dir(), bin = root + "/bin", home = root + "/home";
    for (const std::string &d : {bin, home}) ASSERT_EQ(mkdir(d.c_str(), 0755), 0);
    for (const std::string &d : {bin, home})
        ASSERT_EQ(chown(d.c_str(), OperatorUid(), OperatorGid()), 0);
    // nobody may make a folder here
    ASSERT_EQ(chmod(root.c_str(), 0555), 0);
    const std::string docs = home + "/Documents", locked = root + "/Documents";
    const struct {
        const char *name;
        bool binWritable;
        std::string docs, expected;
    } cases[] = {
        {"build tree", true, docs, bin},
        {"installed, first run", false, docs, docs},
        {"installed, folder there", false, docs, docs},
        {"nowhere to write", false, locked, ""},
        {"no documents folder known", false, "", ""},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(chmod(bin.c_str(), c.binWritable ? 0755 : 0555), 0);
        EXPECT_EQ(AsOperator([&] { return fileio::ProposalDir(bin, c.docs); }), c.expected)
            << c.name;
    }
    ASSERT_EQ(chmod(root.c_str(), 0755), 0);
    struct stat st;
    ASSERT_EQ(stat(docs.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_uid, OperatorUid());
    EXPECT_NE(stat(locked.c_str(), &st), 0);   // the operator may not make it
}

}   // namespace
