// The serial library on the shared byte lines (a local device or a network
// port): port table, open/close, queues, reads, writes and the receive
// callback.
//
// Input is moved from the line into the layer's own queue (`inq`) as soon
// as it is seen, either when the event loop sees the line readable or by a
// pull inside GetInQLen/ComRd. The program's callback is never called from those paths:
// they only note what happened and post a check, which runs from the event
// loop (RunUserInterface or ProcessSystemEvents).
#include "rt/rt.h"
#include "rt/rt_testing.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFileInfo>
#include <QMetaObject>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <poll.h>
#include <time.h>

#include "rt/rt_ui_internal.h"
#include "lines/net_line.h"
#include "lines/serial_line.h"

namespace {

struct ComPort {
    std::unique_ptr<lines::PortLine> line;
    QSocketNotifier *watch = nullptr;   // the line readable, from the event loop
    bool open = false;
    bool lost = false;   // the device went away; closed at the next safe point
    std::string device;
    QByteArray inq;
    int inQSize = 4096;
    double timeout = 10.0;
    int mask = 0, notifyCount = 1, eventChar = 0;
    ComCallbackPtr cb = nullptr;
    void *cbData = nullptr;
    bool arrived = false;    // bytes came since the last check
    bool charSeen = false;   // the event character came since the last check
    bool txEmpty = false;    // the output queue ran empty since the last check
    bool checkPosted = false;
    bool inCallback = false;
    bool recheck = false;
    bool dueInLineWait = false;   // a check the line wait runs itself
    RtPortLatency latency;
    double charTime = 0.0;     // seconds one character takes on the line
    double lineFreeAt = 0.0;   // when the last written byte has left the line
};

using PortPtr = std::shared_ptr<ComPort>;

std::map<int, PortPtr> g_ports;
std::vector<std::string> g_first, g_table;
bool g_tableBuilt = false;
RtLinkStats g_stats;
QObject *g_hub = nullptr;
void (*g_lostHook)(int) = nullptr;
std::string g_openFault;   // why the last open failed, "" after a good one
std::vector<int> g_lostPending;
bool g_inLineWait = false;
bool g_lostPosted = false;
std::function<void(int, const char *, int)> g_writeHook;

// Ports are numbered like the platform's library (COM1..); a device given
// by name still needs a sane handle.
constexpr int kMaxPort = 1024;

QObject *Hub() {
    if (!g_hub) g_hub = new QObject();
    return g_hub;
}

double Now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

int MsLeft(double deadline) {
    double left = deadline - Now();
    if (left <= 0) return 0;
    if (left > 1e6) left = 1e6;
    return static_cast<int>(std::ceil(left * 1000.0));
}

void BuildTable() {
    std::vector<std::string> table;
    std::vector<QString> canon;
    auto add = [&](const std::string &dev) {
        if (dev.empty()) return;
        QString c = QFileInfo(QString::fromStdString(dev)).canonicalFilePath();
        for (size_t i = 0; i < table.size(); ++i)
            if (table[i] == dev || (!c.isEmpty() && canon[i] == c)) return;
        table.push_back(dev);
        canon.push_back(c);
    };
    for (const auto &d : g_first) add(d);
    // the same list as kvex-ctl ports, sorted by device
    for (const lines::PortName &p : lines::ListPorts()) add(p.device);
    g_table = table;
    g_tableBuilt = true;
}

PortPtr Find(int port) {
    auto it = g_ports.find(port);
    if (it == g_ports.end() || !it->second->open) return nullptr;
    return it->second;
}

int Fd(const ComPort &p) { return p.line ? p.line->Fd() : -1; }

void CloseInternal(const PortPtr &p, bool deleteNow = false) {
    if (!p->open) return;
    p->open = false;
    p->inq.clear();
    p->cb = nullptr;
    p->mask = 0;
    if (QSocketNotifier *w = p->watch) {
        p->watch = nullptr;
        w->setEnabled(false);
        QObject::disconnect(w, nullptr, nullptr, nullptr);
        if (deleteNow) delete w;
        else w->deleteLater();   // we may be inside its own signal
    }
    if (p->line) p->line->Close();
}

// The line said it is gone: stop watching a descriptor that would report
// the hang-up on every pass until the port is closed.
void MarkLost(const PortPtr &p) {
    p->lost = true;
    if (p->watch) p->watch->setEnabled(false);
}

void DeliverLost();

void PostLost(int delayMs) {
    if (g_lostPosted) return;
    g_lostPosted = true;
    QTimer::singleShot(delayMs, Hub(), DeliverLost);
}

// The program hears of a lost port only in its idle event loop: a loop or
// a start-up that is running ends by its own time-out first, and its text
// is not replaced while it still runs.
void DeliverLost() {
    g_lostPosted = false;
    if (g_lostPending.empty()) return;
    if (!rtui::IdleInEventLoop()) {
        PostLost(50);
        return;
    }
    std::vector<int> ports;
    ports.swap(g_lostPending);
    for (int port : ports) {
        auto it = g_ports.find(port);
        if (it == g_ports.end() || it->second->open || !it->second->lost) continue;
        if (g_lostHook) g_lostHook(port);
    }
}

// A frame that came before the line went is still handed to the callback.
bool DeliveryDue(const PortPtr &p) {
    return p->cb && (p->mask & LWRS_RECEIVE) && p->arrived && p->inq.size() >= p->notifyCount;
}

// Closes a port whose device went away; safe at any point.
bool ReapIfLost(const PortPtr &p) {
    if (p->open && !p->lost && p->line && p->line->Lost()) MarkLost(p);
    if (p->open && p->lost && !DeliveryDue(p)) {
        CloseInternal(p);
        rtui::NoteSerialDelivery();
        for (auto &kv : g_ports) {
            if (kv.second == p) {
                g_lostPending.push_back(kv.first);
                PostLost(0);
            }
        }
        return true;
    }
    return false;
}

void Check(int port, const PortPtr &p);

void PostCheck(int port, const PortPtr &p) {
    if (p->checkPosted || !p->open) return;
    p->checkPosted = true;
    QMetaObject::invokeMethod(
        Hub(), [port, p] { Check(port, p); }, Qt::QueuedConnection);
}

// Runs from the event loop only.
void Check(int port, const PortPtr &p) {
    p->checkPosted = false;
    if (ReapIfLost(p) || !p->open) return;
    if (p->mask == 0 || !p->cb) return;   // arrivals stay noted until resumed
    if (p->inCallback) {
        p->recheck = true;
        return;
    }
    int events = 0;
    if (DeliveryDue(p)) events |= LWRS_RECEIVE;
    if ((p->mask & LWRS_RXFLAG) && p->charSeen) events |= LWRS_RXFLAG;
    if ((p->mask & LWRS_TXEMPTY) && p->txEmpty) events |= LWRS_TXEMPTY;
    p->arrived = p->charSeen = p->txEmpty = false;
    if (!events) return;
    if (events & LWRS_RECEIVE) ++g_stats.framesNotified;
    ComCallbackPtr cb = p->cb;
    void *data = p->cbData;
    p->inCallback = true;
    rtui::NoteSerialDelivery();
    cb(port, events, data);
    p->inCallback = false;
    if (p->recheck) {
        p->recheck = false;
        PostCheck(port, p);
    }
    ReapIfLost(p);
}

void Append(int port, const PortPtr &p, QByteArray d) {
    g_stats.bytesIn += d.size();
    // a full queue drops what does not fit, as a driver's queue would
    qsizetype room = std::max<qsizetype>(0, p->inQSize - p->inq.size());
    if (d.size() > room) d.truncate(room);
    if (d.isEmpty()) return;
    p->inq.append(d);
    p->arrived = true;
    if ((p->mask & LWRS_RXFLAG) && d.contains(static_cast<char>(p->eventChar))) p->charSeen = true;
    // Until the notify count is reached or the event character came, a
    // check could raise nothing; at line speed bytes come one by one, and a
    // check for each would cost a pass of the event loop per byte.
    if (p->inq.size() >= p->notifyCount || p->charSeen) {
        if (g_inLineWait) p->dueInLineWait = true;
        else PostCheck(port, p);
    }
}

// What the line holds, moved into the queue: one read for what a pass of
// the line brought (a network line has taken the server's bytes apart
// already and hands them on at once). A line that is gone is marked; it is
// closed at the next safe point.
void MoveIn(int port, const PortPtr &p) {
    if (!p->open || p->lost || !p->line) return;
    uint8_t buf[1024];
    for (int i = 0; i < 64; ++i) {
        const long r = p->line->ReadSome(buf, sizeof buf);
        if (r < 0) MarkLost(p);
        if (r <= 0) return;
        Append(port, p, QByteArray(reinterpret_cast<const char *>(buf), static_cast<qsizetype>(r)));
        if (static_cast<size_t>(r) < sizeof buf) return;
    }
}

// Takes whatever the OS holds for the port without running any callback.
void Pull(int port, const PortPtr &p) {
    MoveIn(port, p);
    // what came before the line went is read before the port is closed
    if (p->inq.isEmpty()) ReapIfLost(p);
}

// Ports still open when the application object goes away are closed while
// Qt can still delete their notifiers.
void CloseAll() {
    for (auto &entry : g_ports) CloseInternal(entry.second, true);
    g_ports.clear();
    delete g_hub;
    g_hub = nullptr;
}

bool ValidSettings(long baud, int parity, int dataBits, int stopBits) {
    if (baud <= 0 || baud > 4000000) return false;
    if (parity < 0 || parity > 4) return false;
    if (dataBits < 5 || dataBits > 8) return false;
    if (stopBits != 1 && stopBits != 2) return false;
    return true;
}

}   // namespace

bool rtui::IsSerialHub(const QObject *o) { return o != nullptr && o == g_hub; }

bool rtui::SerialAwaitingNotify() {
    for (const auto &kv : g_ports) {
        const ComPort &p = *kv.second;
        if (!p.open || p.lost || !p.cb || !(p.mask & LWRS_RECEIVE)) continue;
        // a check on its way will deliver what is due in the next pass
        if (p.inq.size() < p.notifyCount || p.checkPosted) return true;
    }
    return false;
}

// A frame that has begun is waited for on its line alone: every chunk of it
// would otherwise cost a whole pass of the event loop, for nothing the
// program can use before the notify count is reached. Each chunk is still
// moved in as it comes, so the event character and a lost device are seen at
// once.
static bool FrameUnderWay(const ComPort &p) {
    return p.open && !p.lost && p.line && p.cb && (p.mask & LWRS_RECEIVE) && !p.inq.isEmpty() &&
           p.inq.size() < p.notifyCount;
}

bool rtui::SerialFrameUnderWay() {
    bool any = false;
    for (const auto &kv : g_ports) {
        const ComPort &p = *kv.second;
        if (p.checkPosted) return false;   // the loop's work
        if (FrameUnderWay(p)) any = true;
    }
    return any;
}

void rtui::SerialAwaitLine(long long nanoseconds) {
    constexpr int kMaxPorts = 8;
    const double until = Now() + static_cast<double>(nanoseconds) / 1e9;
    while (SerialFrameUnderWay()) {
        pollfd fds[kMaxPorts];
        int ports[kMaxPorts];
        int n = 0;
        for (const auto &kv : g_ports) {
            if (n == kMaxPorts || !FrameUnderWay(*kv.second)) continue;
            fds[n] = pollfd{Fd(*kv.second), POLLIN, 0};
            ports[n++] = kv.first;
        }
        const double left = until - Now();
        if (n == 0 || left <= 0) return;
        timespec ts;
        ts.tv_sec = static_cast<time_t>(left);
        ts.tv_nsec = static_cast<long>((left - static_cast<double>(ts.tv_sec)) * 1e9);
        const int r = ppoll(fds, static_cast<nfds_t>(n), &ts, nullptr);
        if (r < 0 && errno != EINTR) return;
        ++g_stats.lineWaitWakes;
        bool hungUp = false, delivered = false;
        for (int i = 0; i < n; ++i) {
            if (!fds[i].revents) continue;
            if (fds[i].revents & (POLLHUP | POLLERR | POLLNVAL)) hungUp = true;
            auto p = Find(ports[i]);
            if (!p) continue;
            g_inLineWait = true;
            MoveIn(ports[i], p);
            g_inLineWait = false;
            if (ReapIfLost(p)) hungUp = true;
            // handed over from here: a posted check would cost one more
            // pass of the event loop before the program hears of the frame
            if (p->dueInLineWait) {
                p->dueInLineWait = false;
                Check(ports[i], p);
                delivered = true;
            }
        }
        if (hungUp || delivered) return;   // the event loop hears of the rest
    }
}

// ---- port table -------------------------------------------------------------

void rt_SetPortTable(const std::vector<std::string> &firstDevices) {
    g_first = firstDevices;
    BuildTable();
}

void rt_RefreshPortTable(void) { BuildTable(); }

void rt_SetPortLostHook(void (*hook)(int port)) { g_lostHook = hook; }

int rt_PortLost(int port) {
    auto it = g_ports.find(port);
    return it != g_ports.end() && !it->second->open && it->second->lost ? 1 : 0;
}

int rt_InjectInput(int port, const char *bytes, int count) {
    auto p = Find(port);
    if (!p) return RT_ERR_PORT_NOT_OPEN;
    if (count < 0 || (!bytes && count > 0)) return RT_ERR_INVALID_PARAM;
    qsizetype room = std::max<qsizetype>(0, p->inQSize - p->inq.size());
    int n = static_cast<int>(std::min<qsizetype>(room, count));
    if (n <= 0) return 0;
    p->inq.append(bytes, n);
    p->arrived = true;
    if ((p->mask & LWRS_RXFLAG) && std::memchr(bytes, p->eventChar, static_cast<size_t>(n)))
        p->charSeen = true;
    PostCheck(port, p);
    return n;
}

void rt_SetWriteHook(std::function<void(int port, const char *bytes, int count)> hook) {
    g_writeHook = std::move(hook);
}

std::vector<std::string> rt_PortTable(void) {
    if (!g_tableBuilt) BuildTable();
    return g_table;
}

std::string rt_PortDevice(int port) {
    if (!g_tableBuilt) BuildTable();
    if (port < 1 || static_cast<size_t>(port) > g_table.size()) return {};
    return g_table[static_cast<size_t>(port) - 1];
}

RtLinkStats rt_LinkStats(void) { return g_stats; }

std::string rt_OpenFault(void) { return g_openFault; }

RtPortLatency rt_PortLatency(int port) {
    auto p = Find(port);
    return p ? p->latency : RtPortLatency{};
}

// ---- serial library ---------------------------------------------------------

int OpenComConfig(int port, const char *deviceName, long baud, int parity, int dataBits,
                  int stopBits, int inQSize, int outQSize) {
    std::string device;
    if (deviceName && *deviceName) {
        if (port < 1 || port > kMaxPort) return RT_ERR_INVALID_PORT;
        device = deviceName;
    } else {
        device = rt_PortDevice(port);
        if (device.empty()) return RT_ERR_INVALID_PORT;
    }
    if (!ValidSettings(baud, parity, dataBits, stopBits) || inQSize < 0 || outQSize < 0)
        return RT_ERR_INVALID_PARAM;

    auto it = g_ports.find(port);
    if (it != g_ports.end()) CloseInternal(it->second);
    static bool cleanupHooked = false;
    if (!cleanupHooked && QCoreApplication::instance()) {
        cleanupHooked = true;
        qAddPostRoutine(CloseAll);
    }

    auto p = std::make_shared<ComPort>();
    p->device = device;
    p->inQSize = inQSize > 0 ? inQSize : 4096;
    p->line = std::make_unique<lines::PortLine>();
    // the same reasons, in the same words, as kvex-ctl gives
    lines::OpenFault fault = lines::OpenFault::None;
    std::string why, detail;
    bool ok = p->line->Open(device, fault, why);
    if (ok && !p->line->SetFraming(baud, parity, dataBits, stopBits, detail)) {
        ok = false;
        why = device + ": cannot set the line (" + detail + ")";
        p->line->Close();
    }
    if (!ok) {
        ++g_stats.openFailures;
        g_openFault = why;
        g_ports.erase(port);
        return RT_ERR_CANNOT_OPEN;
    }
    g_openFault.clear();
    p->open = true;
    // start bit, data bits, parity bit, stop bits
    p->charTime = (1.0 + dataBits + (parity != 0 ? 1 : 0) + stopBits) / static_cast<double>(baud);
    p->latency.lowLatency = p->line->LowLatency() ? 1 : 0;
    p->latency.timerMs = p->line->LatencyTimerMs();
    p->watch = new QSocketNotifier(static_cast<qintptr>(p->line->Fd()), QSocketNotifier::Read);
    ComPort *raw = p.get();
    QObject::connect(p->watch, &QSocketNotifier::activated, Hub(), [port, raw] {
        auto q = Find(port);
        if (!q || q.get() != raw) return;
        MoveIn(port, q);
        if (q->lost) PostCheck(port, q);   // closed from the event loop
    });
    g_ports[port] = p;
    return 0;
}

int SetComTime(int port, double seconds) {
    auto p = Find(port);
    if (!p) return RT_ERR_PORT_NOT_OPEN;
    if (!std::isfinite(seconds) || seconds < 0) return RT_ERR_INVALID_PARAM;
    p->timeout = std::min(seconds, 1e6);
    return 0;
}

int SetCTSMode(int port, int mode) {
    auto p = Find(port);
    if (!p) return RT_ERR_PORT_NOT_OPEN;
    if (mode != 0 && mode != 1) return RT_ERR_INVALID_PARAM;
    if (!p->line->SetHardwareFlow(mode == 1)) return RT_ERR_IO;
    return 0;
}

int InstallComCallback(int port, int eventMask, int notifyCount, int eventCharacter,
                       ComCallbackPtr callback, void *callbackData) {
    auto p = Find(port);
    if (!p) return RT_ERR_PORT_NOT_OPEN;
    if (notifyCount < 0 || eventCharacter < 0 || eventCharacter > 255) return RT_ERR_INVALID_PARAM;
    if ((eventMask & LWRS_RECEIVE) && notifyCount > p->inQSize) return RT_ERR_INVALID_PARAM;
    p->mask = eventMask & (LWRS_RECEIVE | LWRS_RXFLAG | LWRS_TXEMPTY);
    p->notifyCount = std::max(1, notifyCount);
    p->eventChar = eventCharacter;
    p->cb = callback;
    p->cbData = callbackData;
    // events outside the new mask are not owed to anyone
    if (!(p->mask & LWRS_RXFLAG)) p->charSeen = false;
    if (!(p->mask & LWRS_TXEMPTY)) p->txEmpty = false;
    if (p->mask && p->cb) PostCheck(port, p);
    return 0;
}

int FlushInQ(int port) {
    auto p = Find(port);
    if (!p) return RT_ERR_PORT_NOT_OPEN;
    // drops what the OS (or the device server) holds as well as the layer
    p->line->DiscardInput();
    p->inq.clear();
    p->arrived = p->charSeen = false;
    ReapIfLost(p);
    return 0;
}

int FlushOutQ(int port) {
    auto p = Find(port);
    if (!p) return RT_ERR_PORT_NOT_OPEN;
    p->line->DiscardOutput();
    ReapIfLost(p);
    return 0;
}

int ComWrt(int port, const char *buf, int count) {
    auto p = Find(port);
    if (!p) return RT_ERR_PORT_NOT_OPEN;
    if (count < 0 || (!buf && count > 0)) return RT_ERR_INVALID_PARAM;
    if (count == 0) return 0;
    if (!p->line->Write(reinterpret_cast<const uint8_t *>(buf), static_cast<size_t>(count))) {
        if (ReapIfLost(p)) return RT_ERR_PORT_NOT_OPEN;
        // the rest did not go out in time: drop it so it cannot arrive late
        p->line->DiscardOutput();
        return 0;
    }
    g_stats.bytesOut += count;
    p->lineFreeAt = std::max(p->lineFreeAt, Now()) + static_cast<double>(count) * p->charTime;
    if (g_writeHook) g_writeHook(port, buf, count);
    if (p->mask & LWRS_TXEMPTY) {
        // the line took all of it
        p->txEmpty = true;
        PostCheck(port, p);
    }
    return count;
}

// Bytes the driver still holds, or that cannot have left the line yet at
// its speed: a pseudo-terminal reports nothing queued, a UART's FIFO is not
// counted by the driver either, and a device server cannot be asked.
static int PendingOut(const PortPtr &p) {
    if (!p->open || p->lost) return 0;
    const long queued = p->line->OutQueued();
    const double left = p->lineFreeAt - Now();
    long onLine = 0;
    if (left > 0 && p->charTime > 0) onLine = static_cast<long>(std::ceil(left / p->charTime));
    return static_cast<int>(std::min<long>(std::max(queued, onLine), 1L << 30));
}

int GetOutQLen(int port) {
    auto p = Find(port);
    if (!p) return RT_ERR_PORT_NOT_OPEN;
    int n = PendingOut(p);
    if (ReapIfLost(p)) return RT_ERR_PORT_NOT_OPEN;
    return n;
}

int rt_WaitOutQEmpty(int port) {
    auto p = Find(port);
    if (!p) return RT_ERR_PORT_NOT_OPEN;
    const double deadline = Now() + p->timeout;
    for (;;) {
        const int n = PendingOut(p);
        if (n == 0) break;
        const double left = deadline - Now();
        if (left <= 0) return RT_ERR_TIMEOUT;
        // sleep about as long as the queued bytes take, then look again
        double nap = std::max(0.001, static_cast<double>(n) * p->charTime);
        nap = std::min(nap, left);
        timespec ts{static_cast<time_t>(nap), static_cast<long>((nap - std::floor(nap)) * 1e9)};
        while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {}
    }
    if (ReapIfLost(p)) return RT_ERR_PORT_NOT_OPEN;
    return 0;
}

int ComRd(int port, char *buf, int count) {
    auto p = Find(port);
    if (!p) return RT_ERR_PORT_NOT_OPEN;
    if (count < 0 || (!buf && count > 0)) return RT_ERR_INVALID_PARAM;
    Pull(port, p);
    double deadline = Now() + p->timeout;
    while (p->open && !p->lost && p->inq.size() < count) {
        int ms = MsLeft(deadline);
        if (ms <= 0) break;
        pollfd pf{Fd(*p), POLLIN, 0};
        int r = poll(&pf, 1, ms);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        Pull(port, p);
    }
    int n = static_cast<int>(std::min<qsizetype>(count, p->inq.size()));
    if (n > 0) {
        std::memcpy(buf, p->inq.constData(), static_cast<size_t>(n));
        p->inq.remove(0, n);
    }
    ReapIfLost(p);
    return n;
}

int GetInQLen(int port) {
    auto p = Find(port);
    if (!p) return RT_ERR_PORT_NOT_OPEN;
    Pull(port, p);
    if (!p->open) return RT_ERR_PORT_NOT_OPEN;
    return static_cast<int>(p->inq.size());
}

int rt_PeekInQ(int port, char *buf, int count) {
    auto p = Find(port);
    if (!p) return RT_ERR_PORT_NOT_OPEN;
    if (count < 0 || (!buf && count > 0)) return RT_ERR_INVALID_PARAM;
    Pull(port, p);
    if (!p->open) return RT_ERR_PORT_NOT_OPEN;
    int n = static_cast<int>(std::min<qsizetype>(count, p->inq.size()));
    if (n > 0) std::memcpy(buf, p->inq.constData(), static_cast<size_t>(n));
    return n;
}

int CloseCom(int port) {
    auto p = Find(port);
    if (!p) return RT_ERR_PORT_NOT_OPEN;
    CloseInternal(p);
    return 0;
}
