#include "tests/fuzz/fuzz_support.h"
#include "rt/rt_testing.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <deque>
#include <map>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include "app/app.h"
#include "link/frame.h"
#include "params/vars.h"

static std::map<int, std::deque<std::string>> g_replies;
static void (*g_onRequest)(int) = nullptr;
static int g_master = -1;

static void Drain() {
    char buf[4096];
    while (g_master >= 0 && read(g_master, buf, sizeof buf) > 0) {}
}

void FuzzReply(int order, const std::string &bytes) { g_replies[order].push_back(bytes); }
void FuzzClearReplies() {
    g_replies.clear();
    g_onRequest = nullptr;
}
void FuzzOnRequest(void (*fn)(int order)) { g_onRequest = fn; }

void FuzzInject(const std::string &bytes) {
    rt_InjectInput(com, bytes.data(), static_cast<int>(bytes.size()));
}

std::string FuzzTake(const uint8_t *&data, size_t &size, size_t n) {
    if (n > size) n = size;
    std::string out(reinterpret_cast<const char *>(data), n);
    data += n;
    size -= n;
    return out;
}

void FuzzStart() {
    static bool started = false;
    if (started) return;
    started = true;
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static char arg0[] = "ridar-fuzz";
    static char *argv[] = {arg0, nullptr};
    if (!InitCVIRTE(1, argv)) abort();
    RegisterRidarCallbacks();
    rt_SetPopupHook([](const RtPopup &) { return RtPopupAnswer{}; });
    pHandle = LoadPanel(0, KVEX_UIR_PATH, PANEL);
    pPopup = LoadPanel(0, KVEX_UIR_PATH, POPUP);
    pRecord = LoadPanel(0, KVEX_UIR_PATH, RECORD);
    if (pHandle < 0 || pPopup < 0 || pRecord < 0) abort();
    GetProjectDir(proj_dir, sizeof proj_dir);
    InitVars();

    int slave = -1;
    char name[256] = {0};
    if (openpty(&g_master, &slave, name, nullptr, nullptr) != 0) abort();
    termios t;
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    fcntl(g_master, F_SETFL, fcntl(g_master, F_GETFL) | O_NONBLOCK);
    rt_SetPortTable({name});
    com = 1;
    if (OpenComConfig(com, "", 19200, 0, 8, 1, 4096, 4096) < 0) abort();
    SetComTime(com, TIMEOUT);
    InstallComCallback(com, eventMask, FRAME_BYTES, sync, RX_Receive_Function, nullptr);
    // the sensor in-process: a request is answered at once from the queue
    rt_SetWriteHook([](int port, const char *bytes, int count) {
        Drain();
        if (port != com || count < 4) return;
        const int orderCode =
            static_cast<unsigned char>(bytes[2]) * 256 + static_cast<unsigned char>(bytes[3]);
        auto it = g_replies.find(orderCode);
        if (it != g_replies.end() && !it->second.empty()) {
            std::string reply = std::move(it->second.front());
            it->second.pop_front();
            if (!reply.empty()) FuzzInject(reply);
        }
        if (g_onRequest) g_onRequest(orderCode);
    });
    // time-outs pass a thousand times faster: a silent sensor costs 1.5 ms
    rt_SetTimerRate(1000.0);
}
