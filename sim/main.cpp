// kvex-sim entry: options and commands, the line (pty or device), request
// framing, paced answers, faults, counters.
#include "sim/sim.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sstream>
#include <termios.h>
#include <time.h>
#include <unistd.h>

using namespace kvexsim;

namespace {

constexpr size_t kMaxPending = 64 * 1024;
constexpr size_t kMaxCommand = 4096;
constexpr size_t kChunk = 4;
// A USB-serial adapter sends what it received when its latency timer ran
// out since its last packet, or when a packet's worth is waiting.
constexpr size_t kAdapterPacket = 62;

double Now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

struct Tx {
    std::vector<uint8_t> bytes;
    double start = 0;
    size_t sent = 0;
    bool close = false;   // close the line once this answer is out
};

struct Sim {
    Sensor sensor;
    Faults faults;
    Stats stats;
    bool fast = false;
    double adapterLatency = 0;   // seconds; 0: bytes pass at once
    double adapterLastRelease = -1e9;
    bool exitOnEof = false;
    bool objectSet = false;
    // memory words given on the command line: the factory set is made after
    // the options are read, so they wait until then
    bool memoryReady = false;
    struct MemoryWord {
        bool eeprom;
        uint16_t word, value;
    };
    std::vector<MemoryWord> startWords;
    std::string device;
    int line = -1, slave = -1;
    bool lineWantsOut = false;
    std::vector<uint8_t> rx;
    double rxFirst = 0;
    std::deque<Tx> tx;
    std::string cmdBuf;
    bool quit = false;
    double closeStart = -1;   // the closing answer is out; the line closes soon
};

Sim g;
volatile sig_atomic_t gotSignal = 0;

void OnSignal(int) { gotSignal = 1; }

void Say(const std::string &s) {
    fputs(s.c_str(), stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

// ---------------------------------------------------------------- options

using Args = std::vector<std::string>;

bool Num(const std::string &s, long long lo, long long hi, long long &out, bool allowOff = false) {
    if (allowOff && s == "off") {
        out = -1;
        return true;
    }
    if (s.empty()) return false;
    char *end = nullptr;
    errno = 0;
    long long v = strtoll(s.c_str(), &end, 0);
    if (errno || *end != '\0' || v < lo || v > hi) return false;
    out = v;
    return true;
}

bool Real(const std::string &s, double lo, double hi, double &out) {
    if (s.empty()) return false;
    char *end = nullptr;
    errno = 0;
    double v = strtod(s.c_str(), &end);
    if (errno || *end != '\0' || !std::isfinite(v) || v < lo || v > hi) return false;
    out = v;
    return true;
}

bool OnOff(const Args &a, bool &out) {
    if (a.empty() || a[0] == "on" || a[0] == "1") out = true;
    else if (a[0] == "off" || a[0] == "0") out = false;
    else return false;
    return true;
}

struct Option {
    const char *name;
    const char *args;       // for the help text
    int minArgs, maxArgs;   // -1 max: the rest of the command line as one text
    bool startOnly;
    const char *help;
    std::function<bool(const Args &)> apply;
};

std::function<bool(const Args &)> WordField(uint16_t Identity::*field) {
    return [field](const Args &a) {
        long long v;
        if (!Num(a[0], 0, 65535, v)) return false;
        g.sensor.id.*field = static_cast<uint16_t>(v);
        if (!g.sensor.id.pixeSet) g.sensor.id.ccdpixe = g.sensor.id.ccdvirtpixel;
        return true;
    };
}

bool SetObject(int k, const Args &a) {
    if (k == 1 && a.size() == 1 && a[0] == "off") {
        g.sensor.scene.obj[1].on = false;
        return true;
    }
    double l, r;
    if (a.size() != 2 || !Real(a[0], -1e6, 1e6, l) || !Real(a[1], -1e6, 1e6, r) || r < l)
        return false;
    g.sensor.scene.obj[k] = Object{true, l, r};
    if (k == 0) g.objectSet = true;
    return true;
}

bool SetMemoryWord(bool eeprom, const Args &a) {
    long long word, value;
    if (!Num(a[0], 0, kWords - 1, word) || !Num(a[1], 0, 65535, value)) return false;
    if (!g.memoryReady) {
        g.startWords.push_back({eeprom, static_cast<uint16_t>(word), static_cast<uint16_t>(value)});
        return true;
    }
    (eeprom ? g.sensor.eeprom : g.sensor.ram)[word] = static_cast<uint16_t>(value);
    return true;
}

void PrintStats();

std::vector<Option> &Options() {
    // clang-format off
    static std::vector<Option> opts = {
        // line
        {"device", "PATH", 1, 1, true, "use this serial device instead of a new pseudo-terminal",
         [](const Args &a) { g.device = a[0]; return true; }},
        {"fast", "[on|off]", 0, 1, false,
         "answer at once instead of at 19200 baud (one frame time after the request, 0.52 ms a byte)",
         [](const Args &a) { return OnOff(a, g.fast); }},
        {"adapter-latency", "MS", 1, 1, false,
         "hold the answers' bytes as a USB-serial adapter with this latency timer does: released "
         "when MS have passed since the last release or 62 bytes wait (default 0: at once)",
         [](const Args &a) {
             double ms;
             if (!Real(a[0], 0, 1000, ms)) return false;
             g.adapterLatency = ms / 1000.0;
             return true;
         }},
        {"exit-on-eof", "", 0, 0, true, "end when standard input reaches its end",
         [](const Args &) { g.exitOnEof = true; return true; }},
        {"seed", "N", 1, 1, false, "seed of the noise generator (default 1)",
         [](const Args &a) {
             long long v;
             if (!Num(a[0], 0, 0x7FFFFFFFFFFFLL, v)) return false;
             g.sensor.rng.seed(static_cast<uint64_t>(v));
             return true;
         }},
        // identity
        {"ccdtype", "N", 1, 1, false, "hardware word 0, sensor type (default 2)", WordField(&Identity::ccdtype)},
        {"ccdmaxpixel", "N", 1, 1, false, "hardware word 1, CCD pixels (default 1024)", WordField(&Identity::ccdmaxpixel)},
        {"ccdresolution", "N", 1, 1, false, "hardware word 2, variant code (default 0)", WordField(&Identity::ccdresolution)},
        {"pcbtype", "N", 1, 1, false, "hardware word 3, board type; 0 sends the firmware text as 36 words (default 100)",
         WordField(&Identity::pcbtype)},
        {"ccdvirtpixel", "N", 1, 1, false, "hardware word 4, virtual pixels of the line (default 2048)",
         WordField(&Identity::ccdvirtpixel)},
        {"ccdsubpixel", "N", 1, 1, false, "hardware word 5 (default 2)", WordField(&Identity::ccdsubpixel)},
        {"ccdpixb", "N", 1, 1, false, "hardware word 6 (default 1)", WordField(&Identity::ccdpixb)},
        {"ccdpixe", "N", 1, 1, false, "hardware word 7 (default: the virtual pixels)",
         [](const Args &a) {
             long long v;
             if (!Num(a[0], 0, 65535, v)) return false;
             g.sensor.id.ccdpixe = static_cast<uint16_t>(v);
             g.sensor.id.pixeSet = true;
             return true;
         }},
        {"softversion", "N", 1, 1, false, "hardware word 8, firmware version (default 252)",
         WordField(&Identity::softversion)},
        {"hwtype", "N", 1, 1, false, "hardware word 9, variant code (default 0)", WordField(&Identity::hwtype)},
        {"adcmax", "N", 1, 1, false, "hardware word 10, ADC full scale of the video (default 1024)",
         WordField(&Identity::adcmax)},
        {"firmware", "TEXT", 1, -1, false,
         "firmware text (order 7), cut to 72 characters, 36 on board type 0; another series "
         "e.g. \"K-VEX-XD ...\" (default \"K-VEX-XC-SIM Firmware V<version>\")",
         [](const Args &a) {
             if (a[0].empty()) return false;
             g.sensor.id.firmware = a[0].substr(0, 72);
             return true;
         }},
        // parameters
        {"eeprom", "FILE", 1, 1, true,
         "keep the EEPROM parameter set in FILE (16 decimal lines) across runs",
         [](const Args &a) { g.sensor.eepromPath = a[0]; return true; }},
        // scene
        {"object", "LEFT RIGHT", 2, 2, false,
         "edges of the object (a shadow) in virtual pixels (default 400 600)",
         [](const Args &a) { return SetObject(0, a); }},
        {"object2", "LEFT RIGHT|off", 1, 2, false, "a second object (default off)",
         [](const Args &a) { return SetObject(1, a); }},
        {"motion", "AMP PERIOD", 2, 2, false,
         "move the objects sinusoidally by AMP virtual pixels every PERIOD seconds (0 0: still)",
         [](const Args &a) {
             double amp, per;
             if (!Real(a[0], 0, 1e5, amp) || !Real(a[1], 0, 1e6, per)) return false;
             g.sensor.scene.motionAmp = amp;
             g.sensor.scene.motionPeriod = per;
             return true;
         }},
        {"noise", "SIGMA", 1, 1, false, "edge jitter in virtual pixels (default 0.3)",
         [](const Args &a) { return Real(a[0], 0, 1e4, g.sensor.scene.jitter); }},
        {"video-noise", "SIGMA", 1, 1, false, "noise of the video samples in ADC counts (default 2)",
         [](const Args &a) { return Real(a[0], 0, 1e4, g.sensor.scene.videoNoise); }},
        {"in0", "N", 1, 1, false, "state of input IN0, measurement word 13 (default 0)",
         [](const Args &a) {
             long long v;
             if (!Num(a[0], 0, 65535, v)) return false;
             g.sensor.in0 = static_cast<uint16_t>(v);
             return true;
         }},
        // memory, changed behind the host's back
        {"ram", "WORD VALUE", 2, 2, false,
         "set parameter word WORD (0..15) of the RAM set to VALUE, as a front-panel change would",
         [](const Args &a) { return SetMemoryWord(false, a); }},
        {"eeprom-word", "WORD VALUE", 2, 2, false,
         "set parameter word WORD (0..15) of the EEPROM set to VALUE (not written to the "
         "--eeprom file)",
         [](const Args &a) { return SetMemoryWord(true, a); }},
        // faults
        {"silent", "[on|off]", 0, 1, false, "answer nothing",
         [](const Args &a) { return OnOff(a, g.faults.silent); }},
        {"no-answer", "ORDER", 1, 1, false, "never answer this order (may be repeated)",
         [](const Args &a) {
             long long v;
             if (!Num(a[0], 0, 65535, v)) return false;
             g.faults.noAnswer.insert(static_cast<int>(v));
             return true;
         }},
        {"answer", "ORDER", 1, 1, false, "answer this order again (undoes no-answer)",
         [](const Args &a) {
             long long v;
             if (!Num(a[0], 0, 65535, v)) return false;
             g.faults.noAnswer.erase(static_cast<int>(v));
             return true;
         }},
        {"late", "MS", 1, 1, false, "answer MS milliseconds later than usual (0: off)",
         [](const Args &a) {
             long long v;
             if (!Num(a[0], 0, 600000, v)) return false;
             g.faults.lateMs = static_cast<int>(v);
             return true;
         }},
        {"short", "K|off", 1, 1, false, "send only the first K bytes of each answer",
         [](const Args &a) {
             long long v;
             if (!Num(a[0], 0, 65535, v, true)) return false;
             g.faults.shortBytes = static_cast<int>(v);
             return true;
         }},
        {"extra", "K", 1, 1, false, "append K bytes (0xEE) to each answer (0: off)",
         [](const Args &a) {
             long long v;
             if (!Num(a[0], 0, 4096, v)) return false;
             g.faults.extraBytes = static_cast<int>(v);
             return true;
         }},
        {"bad-sync", "WORD|off", 1, 1, false,
         "send WORD instead of the sync word 0x00AA in frames (0x0055: a looped-back line)",
         [](const Args &a) {
             long long v;
             if (!Num(a[0], 0, 65535, v, true)) return false;
             g.faults.badSync = static_cast<int>(v);
             return true;
         }},
        {"hw-header", "WORD|off", 1, 1, false, "send WORD instead of 10 as header word of the order 10 answer",
         [](const Args &a) {
             long long v;
             if (!Num(a[0], 0, 65535, v, true)) return false;
             g.faults.hwHeader = static_cast<int>(v);
             return true;
         }},
        {"garbage", "P", 1, 1, false,
         "with probability P, send 1 to 8 random bytes before an answer, as line noise would (0: off)",
         [](const Args &a) { return Real(a[0], 0, 1, g.faults.garbage); }},
        {"stray", "K|off [EVERY]", 1, 2, false,
         "send K random bytes (never the sync word 0x00 0xAA) before every EVERY-th frame answer "
         "(default every one), counted from this command; raw blocks are left alone",
         [](const Args &a) {
             long long k, every = 1;
             if (!Num(a[0], 0, 4096, k, true)) return false;
             if (a.size() > 1 && !Num(a[1], 1, 1 << 30, every)) return false;
             g.faults.strayBytes = k < 0 ? 0 : static_cast<int>(k);
             g.faults.strayEvery = static_cast<int>(every);
             g.faults.strayFrames = 0;
             return true;
         }},
        {"silent-after", "N|off", 1, 1, false, "answer nothing once N more answers were sent",
         [](const Args &a) {
             long long v;
             if (!Num(a[0], 0, 1LL << 40, v, true)) return false;
             g.faults.silentAt = v < 0 ? -1 : static_cast<long long>(g.stats.answers) + v;
             return true;
         }},
        {"close-after", "N|off", 1, 1, false, "close the line once N more answers were sent",
         [](const Args &a) {
             long long v;
             if (!Num(a[0], 1, 1LL << 40, v, true)) return false;
             g.faults.closeAt = v < 0 ? -1 : static_cast<long long>(g.stats.answers) + v;
             return true;
         }},
        {"fault-order", "ORDER|all", 1, 1, false,
         "limit late, short, extra, bad-sync, stray and garbage to the answers of one order (default all)",
         [](const Args &a) {
             long long v;
             if (a[0] == "all") v = -1;
             else if (!Num(a[0], 0, 65535, v)) return false;
             g.faults.scopeOrder = static_cast<int>(v);
             return true;
         }},
        {"faults-off", "", 0, 0, false, "clear every fault",
         [](const Args &) { g.faults = Faults{}; return true; }},
    };
    // clang-format on
    return opts;
}

const Option *FindOption(const std::string &name) {
    for (const Option &o : Options())
        if (name == o.name) return &o;
    return nullptr;
}

void PrintHelp() {
    printf("Usage: kvex-sim [OPTION]...\n"
           "Simulates a K-VEX-XC CCD line sensor on a serial line. Opens a pseudo-terminal\n"
           "and prints its device path on the first line (or uses --device PATH).\n"
           "Speaks 36-byte frames, every word most significant byte first; requests whose\n"
           "36 bytes do not arrive within 100 ms are dropped.\n\n"
           "Measurement: a shadow (the object) on a bright CCD line, 256 video samples,\n"
           "edges where the video crosses vThd inside eBeg..eEnd; polarity 1 swaps bright\n"
           "and dark; eMode 0 left edge, 1 right edge, 2 width, 3 centre, 4 gap between\n"
           "the first two objects, above 4 width; calibration mode measures the width.\n\n"
           "Options (each also a command on standard input, without the dashes,\n"
           "unless marked 'start only'):\n");
    for (const Option &o : Options()) {
        std::string head = std::string("  --") + o.name + (o.args[0] ? " " : "") + o.args;
        std::string text = std::string(o.help) + (o.startOnly ? " (start only)" : "");
        // wrapped to 79 columns beside the option
        std::istringstream words(text);
        std::string word, line;
        bool first = true;
        auto flush = [&]() {
            printf("%-30s %s\n", first ? head.c_str() : "", line.c_str());
            first = false;
            line.clear();
        };
        while (words >> word) {
            if (!line.empty() && line.size() + 1 + word.size() > 48) flush();
            line += (line.empty() ? "" : " ") + word;
        }
        flush();
    }
    printf("  --help                       this text\n\n"
           "Commands on standard input, one a line:\n"
           "  object LEFT RIGHT            move the object\n"
           "  any option above without '--', e.g. 'late 200', 'no-answer 8', 'short off'\n"
           "  stats                        print the counters\n"
           "  line                         print the line's settings as the other side set\n"
           "                               them, e.g. 'line 19200 8N1 flow=none'\n"
           "  help                         list the commands\n"
           "  quit                         print the counters and end\n"
           "The counters are also printed on SIGINT and SIGTERM. Every command answers\n"
           "'ok COMMAND' or 'error: ...' on standard output.\n");
    fflush(stdout);
}

// ---------------------------------------------------------------- commands

void PrintStats() {
    const Stats &s = g.stats;
    std::ostringstream o;
    unsigned long long total = 0;
    o << "stats requests";
    for (int i = 1; i <= kOrders; ++i) {
        o << ' ' << i << '=' << s.requests[i];
        total += s.requests[i];
    }
    total += s.requests[0];
    o << " other=" << s.requests[0] << " total=" << total << '\n';
    o << "stats sent answers=" << s.answers << " frames=" << s.frames << " blocks=" << s.blocks
      << " bytes=" << s.bytesOut << '\n';
    o << "stats received bytes=" << s.bytesIn << '\n';
    o << "stats faults not-answered=" << s.suppressed << " garbage-bursts=" << s.garbageBursts
      << " garbage-bytes=" << s.garbageBytes << " stray-bursts=" << s.strayBursts
      << " stray-bytes=" << s.strayBytes << '\n';
    o << "stats errors dropped-bytes=" << s.dropped << " bad-sync=" << s.badSync
      << " unknown-order=" << s.unknown << " write-errors=" << s.writeErrors
      << " overflow=" << s.overflow << '\n';
    o << "stats end";
    Say(o.str());
}

// What the program (or a device server) on the other side set the line to.
void PrintLine() {
    termios t{};
    if (g.slave < 0 || tcgetattr(g.slave, &t) != 0) {
        Say("error: line: the settings cannot be read on this line");
        return;
    }
    static const struct {
        speed_t code;
        long baud;
    } kSpeeds[] = {{B1200, 1200},   {B2400, 2400},   {B4800, 4800},   {B9600, 9600},
                   {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200}};
    long baud = 0;
    for (const auto &s : kSpeeds)
        if (cfgetospeed(&t) == s.code) baud = s.baud;
    const int bits = (t.c_cflag & CSIZE) == CS5   ? 5
                     : (t.c_cflag & CSIZE) == CS6 ? 6
                     : (t.c_cflag & CSIZE) == CS7 ? 7
                                                  : 8;
    const char parity = !(t.c_cflag & PARENB) ? 'N' : (t.c_cflag & PARODD) ? 'O' : 'E';
    const char *flow = (t.c_cflag & CRTSCTS)          ? "rtscts"
                       : (t.c_iflag & (IXON | IXOFF)) ? "xonxoff"
                                                      : "none";
    Say("line " + std::to_string(baud) + " " + std::to_string(bits) + parity +
        ((t.c_cflag & CSTOPB) ? "2" : "1") + " flow=" + flow);
}

void Command(const std::string &line) {
    std::istringstream in(line);
    std::string name;
    if (!(in >> name)) return;
    if (name == "stats") {
        PrintStats();
        return;
    }
    if (name == "line") {
        PrintLine();
        return;
    }
    if (name == "quit") {
        g.quit = true;
        return;
    }
    if (name == "help") {
        PrintHelp();
        return;
    }
    const Option *o = FindOption(name);
    if (!o) {
        Say("error: unknown command: " + name);
        return;
    }
    if (o->startOnly) {
        Say("error: " + name + " works only as a start option");
        return;
    }
    Args a;
    if (o->maxArgs < 0) {
        std::string rest;
        std::getline(in, rest);
        size_t p = rest.find_first_not_of(" \t");
        rest = p == std::string::npos ? "" : rest.substr(p);
        while (!rest.empty() && (rest.back() == '\r' || rest.back() == ' ')) rest.pop_back();
        a.push_back(rest);
    } else {
        std::string w;
        while (in >> w) a.push_back(w);
    }
    if (static_cast<int>(a.size()) < o->minArgs ||
        (o->maxArgs >= 0 && static_cast<int>(a.size()) > o->maxArgs) || !o->apply(a)) {
        Say(std::string("error: usage: ") + o->name + " " + o->args);
        return;
    }
    std::string echo = line;
    while (!echo.empty() && (echo.back() == '\r' || echo.back() == ' ')) echo.pop_back();
    Say("ok " + echo);
}

void ReadCommands(int fd, bool &open) {
    char buf[1024];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        open = false;
        if (!g.cmdBuf.empty()) Command(g.cmdBuf);
        g.cmdBuf.clear();
        return;
    }
    if (n < 0) return;
    for (ssize_t i = 0; i < n; ++i) {
        if (buf[i] == '\n') {
            if (g.cmdBuf.size() <= kMaxCommand) Command(g.cmdBuf);
            else Say("error: command line too long");
            g.cmdBuf.clear();
        } else if (g.cmdBuf.size() <= kMaxCommand) {
            g.cmdBuf += buf[i];
        }
    }
}

// ---------------------------------------------------------------- line

void CloseLine(const char *why) {
    if (g.line >= 0) close(g.line);
    if (g.slave >= 0) close(g.slave);
    g.line = g.slave = -1;
    g.closeStart = -1;
    g.tx.clear();
    g.rx.clear();
    Say(std::string("line closed: ") + why);
}

bool OpenLine() {
    if (!g.device.empty()) {
        g.line = open(g.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (g.line < 0) {
            fprintf(stderr, "kvex-sim: cannot open %s: %s\n", g.device.c_str(), strerror(errno));
            return false;
        }
        termios t;
        if (tcgetattr(g.line, &t) == 0) {
            cfmakeraw(&t);
            cfsetispeed(&t, B19200);
            cfsetospeed(&t, B19200);
            t.c_cflag |= CLOCAL | CREAD;
            tcsetattr(g.line, TCSANOW, &t);
        }
        Say(g.device);
        return true;
    }
    if (openpty(&g.line, &g.slave, nullptr, nullptr, nullptr) != 0) {
        fprintf(stderr, "kvex-sim: cannot open a pseudo-terminal: %s\n", strerror(errno));
        return false;
    }
    // raw, so the other side gets the bytes as sent even before it sets up
    // the port; the slave stays open here so the line never hangs up when
    // the other side closes and reopens it
    termios t;
    tcgetattr(g.slave, &t);
    cfmakeraw(&t);
    cfsetispeed(&t, B19200);
    cfsetospeed(&t, B19200);
    tcsetattr(g.slave, TCSANOW, &t);
    fcntl(g.line, F_SETFL, fcntl(g.line, F_GETFL) | O_NONBLOCK);
    fcntl(g.line, F_SETFD, FD_CLOEXEC);
    fcntl(g.slave, F_SETFD, FD_CLOEXEC);
    const char *name = ptsname(g.line);
    if (!name) {
        fprintf(stderr, "kvex-sim: no name for the pseudo-terminal\n");
        return false;
    }
    Say(name);
    return true;
}

size_t Pending() {
    size_t n = 0;
    for (const Tx &t : g.tx) n += t.bytes.size() - t.sent;
    return n;
}

// Line noise that a receiver cannot take for the start of a frame: random
// bytes in which 0x00 is never followed by the sync word's 0xAA.
std::vector<uint8_t> StrayBytes(int n) {
    std::vector<uint8_t> out(static_cast<size_t>(n));
    for (size_t i = 0; i < out.size(); ++i) {
        uint8_t c = static_cast<uint8_t>(g.sensor.rng() & 0xFF);
        if (i > 0 && out[i - 1] == (kSensorSync >> 8) && c == (kSensorSync & 0xFF)) c = 0xFF;
        out[i] = c;
    }
    return out;
}

bool InScope(int order) { return g.faults.scopeOrder < 0 || g.faults.scopeOrder == order; }

void Queue(Answer &a, double tFirst, double now) {
    Faults &f = g.faults;
    if (f.silent || f.noAnswer.count(a.order) || g.closeStart >= 0 ||
        (f.silentAt >= 0 && static_cast<long long>(g.stats.answers) >= f.silentAt)) {
        g.stats.suppressed++;
        return;
    }
    std::vector<uint8_t> &b = a.bytes;
    if (a.frame && a.order == 10 && f.hwHeader >= 0) {
        b[2] = static_cast<uint8_t>(f.hwHeader >> 8);
        b[3] = static_cast<uint8_t>(f.hwHeader & 0xFF);
    }
    double late = 0;
    if (InScope(a.order)) {
        if (a.frame && f.badSync >= 0) {
            b[0] = static_cast<uint8_t>(f.badSync >> 8);
            b[1] = static_cast<uint8_t>(f.badSync & 0xFF);
        }
        if (f.shortBytes >= 0 && static_cast<size_t>(f.shortBytes) < b.size())
            b.resize(f.shortBytes);
        b.insert(b.end(), static_cast<size_t>(f.extraBytes), 0xEE);
        if (a.frame && f.strayBytes > 0 &&
            ++f.strayFrames % static_cast<unsigned>(f.strayEvery) == 0) {
            std::vector<uint8_t> stray = StrayBytes(f.strayBytes);
            b.insert(b.begin(), stray.begin(), stray.end());
            g.stats.strayBursts++;
            g.stats.strayBytes += stray.size();
        }
        if (f.garbage > 0 &&
            std::uniform_real_distribution<double>(0, 1)(g.sensor.rng) < f.garbage) {
            int n = std::uniform_int_distribution<int>(1, 8)(g.sensor.rng);
            std::vector<uint8_t> junk(n);
            for (auto &c : junk) c = static_cast<uint8_t>(g.sensor.rng() & 0xFF);
            b.insert(b.begin(), junk.begin(), junk.end());
            g.stats.garbageBursts++;
            g.stats.garbageBytes += n;
        }
        late = f.lateMs / 1000.0;
    }
    if (Pending() + b.size() > kMaxPending) {
        g.stats.overflow++;
        return;
    }
    g.stats.answers++;
    if (a.frame) g.stats.frames++;
    else g.stats.blocks++;
    Tx t;
    t.bytes = std::move(b);
    if (g.fast) {
        t.start = now;
    } else {
        // the request's last byte ends one frame time after its first began
        t.start = std::max(tFirst + kFrameBytes * kByteTime, now);
        if (!g.tx.empty()) {
            const Tx &p = g.tx.back();
            t.start = std::max(t.start, p.start + p.bytes.size() * kByteTime);
        }
    }
    t.start += late;
    t.close = f.closeAt >= 0 && static_cast<long long>(g.stats.answers) >= f.closeAt;
    g.tx.push_back(std::move(t));
}

void Dispatch(const uint8_t *frame, double tFirst, double now) {
    const uint16_t syncWord = static_cast<uint16_t>(frame[0] << 8 | frame[1]);
    if (syncWord != kHostSync) {
        g.stats.badSync++;
        return;
    }
    Answer a;
    std::string note;
    bool answers = HandleRequest(g.sensor, g.stats, frame, now, a, note);
    if (!note.empty()) fprintf(stderr, "kvex-sim: %s\n", note.c_str());
    if (answers) Queue(a, tFirst, now);
}

void DropStale(double now) {
    if (!g.rx.empty() && now - g.rxFirst >= kDropTime) {
        g.stats.dropped += g.rx.size();
        g.rx.clear();
    }
}

void ReadLine(double now) {
    uint8_t buf[4096];
    ssize_t n = read(g.line, buf, sizeof buf);
    if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) return;
        CloseLine(strerror(errno));
        return;
    }
    if (n == 0) {
        CloseLine("end of file");
        return;
    }
    g.stats.bytesIn += n;
    for (ssize_t i = 0; i < n; ++i) {
        if (g.rx.empty()) g.rxFirst = now;
        g.rx.push_back(buf[i]);
        if (g.rx.size() == static_cast<size_t>(kFrameBytes)) {
            Dispatch(g.rx.data(), g.rxFirst, now);
            g.rx.clear();
            if (g.line < 0) return;
        }
    }
}

// Closing at once would take the last answer with it: the other side
// loses what it has not read when the line hangs up. So the line closes
// once that answer was read (seen on our own slave end, after the kernel
// had time to pass it on), at most 0.5 s on.
bool CloseDue(double now) {
    if (g.closeStart < 0 || now - g.closeStart < 0.05) return false;
    if (now - g.closeStart >= 0.5) return true;
    int queued = 0;
    return g.slave >= 0 && ioctl(g.slave, FIONREAD, &queued) == 0 && queued == 0;
}

// Writes whatever is due; returns the time the next byte falls due, or a
// negative value when nothing waits (or the line must become writable).
double ServiceTx(double now) {
    g.lineWantsOut = false;
    while (!g.tx.empty() && g.line >= 0) {
        Tx &t = g.tx.front();
        // bytes that went over the line so far
        size_t due;
        if (g.fast) {
            due = now >= t.start ? t.bytes.size() : 0;
        } else {
            double k = std::floor((now - t.start) / kByteTime);
            due = k <= 0 ? 0 : std::min(t.bytes.size(), static_cast<size_t>(k));
        }
        if (g.adapterLatency > 0 && due > t.sent) {
            const bool timerRanOut = now - g.adapterLastRelease >= g.adapterLatency;
            if (due - t.sent >= kAdapterPacket || timerRanOut) g.adapterLastRelease = now;
            else due = t.sent;   // the adapter still holds them
        }
        if (due > t.sent) {
            ssize_t w = write(g.line, t.bytes.data() + t.sent, due - t.sent);
            if (w < 0) {
                if (errno == EAGAIN || errno == EINTR) {
                    g.lineWantsOut = true;
                    return -1;
                }
                g.stats.writeErrors++;
                CloseLine(strerror(errno));
                return -1;
            }
            t.sent += static_cast<size_t>(w);
            g.stats.bytesOut += static_cast<unsigned long long>(w);
            if (t.sent < due) {
                g.lineWantsOut = true;
                return -1;
            }
        }
        if (t.sent < t.bytes.size()) {
            if (g.adapterLatency > 0) {
                // next release: the timer runs out with bytes waiting, or a packet fills
                const double firstWaiting = g.fast ? t.start : t.start + (t.sent + 1) * kByteTime;
                double next = std::max(g.adapterLastRelease + g.adapterLatency, firstWaiting);
                if (t.bytes.size() - t.sent >= kAdapterPacket)
                    next = std::min(
                        next, g.fast ? t.start : t.start + (t.sent + kAdapterPacket) * kByteTime);
                return std::max(next, now + 1e-4);
            }
            if (g.fast) return t.start;
            // the first byte as soon as it is due, then a few at a time: the
            // pace stays within 2 ms of the line and costs few wake-ups
            size_t next = std::min(t.bytes.size(), t.sent + (t.sent == 0 ? 1 : kChunk));
            return t.start + next * kByteTime;
        }
        bool closing = t.close;
        g.tx.pop_front();
        if (closing) {
            g.closeStart = now;
            g.tx.clear();
            return -1;
        }
    }
    return -1;
}

}   // namespace

int main(int argc, char **argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    signal(SIGPIPE, SIG_IGN);
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            PrintHelp();
            return 0;
        }
        const Option *o = arg.rfind("--", 0) == 0 ? FindOption(arg.substr(2)) : nullptr;
        if (!o) {
            fprintf(stderr, "kvex-sim: unknown option %s (see --help)\n", arg.c_str());
            return 2;
        }
        Args a;
        int want = o->maxArgs < 0 ? 1 : o->maxArgs;
        for (int k = 0; k < want && i + 1 < argc; ++k) {
            // optional arguments (on/off, object2 off) never look like options
            if (static_cast<int>(a.size()) >= o->minArgs &&
                std::string(argv[i + 1]).rfind("--", 0) == 0)
                break;
            a.push_back(argv[++i]);
        }
        if (static_cast<int>(a.size()) < o->minArgs || !o->apply(a)) {
            fprintf(stderr, "kvex-sim: usage: --%s %s\n", o->name, o->args);
            return 2;
        }
    }

    const double t0 = Now();
    InitSensor(g.sensor, t0);
    if (!g.objectSet) g.sensor.scene.obj[0] = Object{true, 400, 600};
    if (!g.sensor.eepromPath.empty()) {
        std::string msg;
        if (LoadEeprom(g.sensor, msg))
            std::copy(g.sensor.eeprom, g.sensor.eeprom + kWords, g.sensor.ram);
        else fprintf(stderr, "kvex-sim: %s\n", msg.c_str());
    }
    g.memoryReady = true;
    for (const Sim::MemoryWord &m : g.startWords)
        (m.eeprom ? g.sensor.eeprom : g.sensor.ram)[m.word] = m.value;
    BuildVideo(g.sensor, t0);

    if (!OpenLine()) return 1;

    sigset_t block, orig;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    sigaddset(&block, SIGTERM);
    sigprocmask(SIG_BLOCK, &block, &orig);
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigset_t waitMask = orig;
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGTERM);

    // stdin stays blocking (it may be a shell's terminal); it is read only
    // after poll reported data
    bool stdinOpen = true;

    while (!gotSignal && !g.quit) {
        double now = Now();
        DropStale(now);
        double next = ServiceTx(now);
        if (CloseDue(now)) CloseLine("after the requested number of answers");
        if (g.closeStart >= 0) next = next < 0 ? now + 0.01 : std::min(next, now + 0.01);
        if (!g.rx.empty()) {
            double drop = g.rxFirst + kDropTime;
            next = next < 0 ? drop : std::min(next, drop);
        }
        pollfd fds[2];
        int n = 0, lineIdx = -1, inIdx = -1;
        if (g.line >= 0) {
            lineIdx = n;
            fds[n++] =
                pollfd{g.line, static_cast<short>(POLLIN | (g.lineWantsOut ? POLLOUT : 0)), 0};
        }
        if (stdinOpen) {
            inIdx = n;
            fds[n++] = pollfd{0, POLLIN, 0};
        }
        timespec ts, *tp = nullptr;
        if (next >= 0) {
            double d = std::max(0.0, next - Now());
            ts.tv_sec = static_cast<time_t>(d);
            ts.tv_nsec = static_cast<long>((d - ts.tv_sec) * 1e9);
            tp = &ts;
        }
        int r = ppoll(fds, n, tp, &waitMask);
        if (r < 0) {
            if (errno == EINTR) continue;
            perror("kvex-sim: ppoll");
            break;
        }
        now = Now();
        if (lineIdx >= 0 && g.line >= 0) {
            if (fds[lineIdx].revents & POLLIN) {
                DropStale(now);
                ReadLine(now);
            } else if (fds[lineIdx].revents & (POLLHUP | POLLERR | POLLNVAL)) {
                CloseLine("hung up");
            }
        }
        if (inIdx >= 0 && (fds[inIdx].revents & (POLLIN | POLLHUP | POLLERR))) {
            ReadCommands(0, stdinOpen);
            if (!stdinOpen && g.exitOnEof) break;
        }
    }
    PrintStats();
    return 0;
}
