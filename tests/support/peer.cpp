#include "tests/support/peer.h"
#include "tests/support/clock.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

// ---- the bare pseudo-terminal ---------------------------------------------------------------

PtyPeer::PtyPeer() {
    int slave = -1;
    char name[256] = {0};
    if (openpty(&fd_, &slave, name, nullptr, nullptr) == 0) {
        termios t;
        tcgetattr(slave, &t);
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
        device_ = name;
        // keep the slave open in this process so the line does not hang up
        // between the program's close and reopen; closed with the peer
        slave_ = slave;
    }
}

PtyPeer::~PtyPeer() { Close(); }

void PtyPeer::Close() {
    if (fd_ >= 0) close(fd_);
    if (slave_ >= 0) close(slave_);
    fd_ = slave_ = -1;
}

std::string PtyPeer::Read(size_t n, double seconds) {
    std::string out;
    double t0 = Now();
    while (out.size() < n && fd_ >= 0) {
        double left = seconds - (Now() - t0);
        if (left <= 0) break;
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left * 1000) + 1) <= 0) continue;
        char buf[1024];
        ssize_t r = read(fd_, buf, std::min(sizeof buf, n - out.size()));
        if (r > 0) out.append(buf, r);
        else if (r < 0 && errno != EAGAIN && errno != EINTR) break;
    }
    return out;
}

void PtyPeer::Write(const std::string &bytes) {
    size_t off = 0;
    while (off < bytes.size() && fd_ >= 0) {
        ssize_t w = write(fd_, bytes.data() + off, bytes.size() - off);
        if (w > 0) off += w;
        else if (errno != EAGAIN && errno != EINTR) break;
    }
}

// ---- a device name that follows the adapter ----------------------------------------------

DeviceLink::DeviceLink() {
    char tmpl[] = "/tmp/ridar-link-XXXXXX";
    dir_ = mkdtemp(tmpl) ? tmpl : "/tmp";
    path_ = dir_ + "/ttyKVEX0";
}

DeviceLink::~DeviceLink() {
    Pull();
    rmdir(dir_.c_str());
}

bool DeviceLink::PointAt(const std::string &target) {
    const std::string tmp = path_ + ".new";
    unlink(tmp.c_str());
    return symlink(target.c_str(), tmp.c_str()) == 0 && rename(tmp.c_str(), path_.c_str()) == 0;
}

void DeviceLink::Pull() { unlink(path_.c_str()); }

// ---- frames ----------------------------------------------------------------------------------

std::string MakeFrame(int syncWord, int orderCode, const std::vector<int> &words) {
    std::string f(36, '\0');
    f[0] = static_cast<char>((syncWord >> 8) & 0xFF);
    f[1] = static_cast<char>(syncWord & 0xFF);
    f[2] = static_cast<char>((orderCode >> 8) & 0xFF);
    f[3] = static_cast<char>(orderCode & 0xFF);
    for (size_t i = 0; i < 16 && i < words.size(); ++i) {
        f[4 + 2 * i] = static_cast<char>((words[i] >> 8) & 0xFF);
        f[5 + 2 * i] = static_cast<char>(words[i] & 0xFF);
    }
    return f;
}

int FrameWord(const std::string &frame, int i) {
    return static_cast<unsigned char>(frame[4 + 2 * i]) * 256 +
           static_cast<unsigned char>(frame[5 + 2 * i]);
}

std::string Hex(const std::string &bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
        out += ' ';
    }
    return out;
}

// ---- the scripted sensor ---------------------------------------------------------------------

PeerResponder::PeerResponder() {
    for (auto &s : silent_) s = false;
    thread_ = std::thread([this] { Run(); });
}

PeerResponder::~PeerResponder() {
    quit_ = true;
    thread_.join();
}

void PeerResponder::SetMeasurement(int l, int r, int m, uint32_t um, int tv, int tl, int edges) {
    std::lock_guard<std::mutex> g(mu_);
    meas_ = {l, r, m, static_cast<int>(um & 0xFFFF), static_cast<int>(um >> 16), tv, tl, edges};
}

void PeerResponder::SetCalibration(int slopeWord, int offsetWord) {
    std::lock_guard<std::mutex> g(mu_);
    slope_ = slopeWord;
    offset_ = offsetWord;
}

void PeerResponder::SetParameterSet(const std::vector<int> &words) {
    std::lock_guard<std::mutex> g(mu_);
    params_ = words;
}

std::vector<PeerRequest> PeerResponder::Requests() {
    std::lock_guard<std::mutex> g(mu_);
    return log_;
}

std::vector<PeerRequest> PeerResponder::Requests(int orderCode) {
    std::vector<PeerRequest> out;
    for (auto &r : Requests())
        if (r.order == orderCode) out.push_back(r);
    return out;
}

void PeerResponder::ClearLog() {
    std::lock_guard<std::mutex> g(mu_);
    log_.clear();
}

int PeerResponder::SlopeWord() {
    std::lock_guard<std::mutex> g(mu_);
    return slope_;
}

int PeerResponder::OffsetWord() {
    std::lock_guard<std::mutex> g(mu_);
    return offset_;
}

void PeerResponder::Run() {
    std::string buf;
    while (!quit_) {
        std::string got = peer_.Read(36 - buf.size(), 0.02);
        buf += got;
        if (buf.size() < 36) continue;
        PeerRequest rq;
        rq.t = Now();
        auto u = [&](size_t i) { return static_cast<unsigned char>(buf[i]); };
        rq.order = u(2) * 256 + u(3);
        for (int i = 0; i < 16; ++i) rq.words.push_back(u(4 + 2 * i) * 256 + u(5 + 2 * i));
        buf.clear();
        std::string reply;
        {
            std::lock_guard<std::mutex> g(mu_);
            log_.push_back(rq);
            if (rq.order == 8) {
                reply = MakeFrame(0xAA, 8, meas_);
            } else if (rq.order == 12) {
                if (rq.words[0] == 2) {
                    slope_ = rq.words[1];
                    offset_ = rq.words[2];
                }
                reply = MakeFrame(0xAA, 12, {slope_, offset_});
            } else if (rq.order == 11) {
                reply = MakeFrame(0xAA, 11, {});
            } else if ((rq.order == 2 || rq.order == 4) && !params_.empty()) {
                reply = MakeFrame(0xAA, rq.order, params_);
            }
        }
        if (!reply.empty() && !silent_[rq.order & 15]) peer_.Write(reply);
    }
}
