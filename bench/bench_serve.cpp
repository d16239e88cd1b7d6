// kvex-ctl serve as a plant runs it: many sensors, each a kvex-sim at line
// speed and a serve, into one local mosquitto (rate at the broker, none
// missing or out of order, CPU per sensor); and Modbus TCP clients polling
// one serve (99th percentile of the response time). Figures beside budgets.
//
//   bench_serve [--sensors N] [--seconds S] [--clients C] [--poll-ms MS]
#include <algorithm>
#include <atomic>
#include <map>
#include <modbus.h>
#include <mosquitto.h>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>

#include "bench/bench_common.h"

namespace {

int FreePort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr *>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
}

pid_t Spawn(const std::vector<std::string> &args) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        std::vector<char *> argv;
        for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// CPU seconds of a running process alone, from /proc
double ProcCpu(pid_t pid) {
    FILE *f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
    if (!f) return -1;
    char buf[1024];
    const size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    buf[n] = 0;
    const char *p = std::strrchr(buf, ')');   // the name may hold spaces
    unsigned long utime = 0, stime = 0;
    if (!p || std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime,
                          &stime) != 2)
        return -1;
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// CPU seconds of a child that ended on SIGTERM, with its own children
double StopAndCpu(pid_t pid) {
    kill(pid, SIGTERM);
    int status;
    rusage ru{};
    if (wait4(pid, &status, 0, &ru) != pid) return -1;
    return ru.ru_utime.tv_sec + ru.ru_utime.tv_usec * 1e-6 + ru.ru_stime.tv_sec +
           ru.ru_stime.tv_usec * 1e-6;
}

struct Counts {
    std::mutex mu;
    std::map<std::string, long> last;   // topic -> last sequence number
    long messages = 0, outOfOrder = 0, missing = 0;
};

void OnMessage(mosquitto *, void *obj, const mosquitto_message *m) {
    auto *c = static_cast<Counts *>(obj);
    const std::string text(static_cast<const char *>(m->payload),
                           static_cast<size_t>(m->payloadlen));
    const size_t at = text.find("\"seq\":");
    if (at == std::string::npos) return;
    const long seq = std::atol(text.c_str() + at + 6);
    std::lock_guard<std::mutex> l(c->mu);
    ++c->messages;
    long &last = c->last[m->topic];
    if (seq <= last) ++c->outOfOrder;
    else if (seq > last + 1) c->missing += seq - last - 1;
    last = std::max(last, seq);
}

void Row(const char *what, double value, const char *unit, const char *budget, bool pass) {
    std::printf("%-44s %10.2f %-6s budget %-14s %s\n", what, value, unit, budget,
                pass ? "PASS" : "FAIL");
}

}   // namespace

int main(int argc, char **argv) {
    int sensors = 20, seconds = 60, clients = 8, pollMs = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        const int v = std::atoi(argv[i + 1]);
        if (a == "--sensors") sensors = v;
        else if (a == "--seconds") seconds = v;
        else if (a == "--clients") clients = v;
        else if (a == "--poll-ms") pollMs = v;
    }
    const std::string ctl = KVEX_CTL_PATH;

    // ---------------------------------------------------------------- broker
    const int brokerPort = FreePort();
    char dir[] = "/tmp/bench-serve-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    const std::string conf = std::string(dir) + "/mosquitto.conf";
    FILE *f = std::fopen(conf.c_str(), "w");
    std::fprintf(f, "listener %d 127.0.0.1\nallow_anonymous true\nmax_queued_messages 100000\n",
                 brokerPort);
    std::fclose(f);
    const pid_t broker = Spawn({"/usr/sbin/mosquitto", "-c", conf});
    usleep(500000);

    Counts counts;
    mosquitto_lib_init();
    mosquitto *sub = mosquitto_new("bench-serve", true, &counts);
    mosquitto_message_callback_set(sub, OnMessage);
    if (mosquitto_connect(sub, "127.0.0.1", brokerPort, 30) != MOSQ_ERR_SUCCESS) {
        std::fprintf(stderr, "bench_serve: no broker on port %d\n", brokerPort);
        return 1;
    }
    mosquitto_subscribe(sub, nullptr, "bench/+/measurement", 1);
    mosquitto_loop_start(sub);
    usleep(300000);

    bench::Note("%d sensors (kvex-sim at line speed, serve --qos 1) for %d s, load %.1f", sensors,
                seconds, bench::LoadAverage1());
    std::vector<pid_t> serves;
    for (int i = 0; i < sensors; ++i)
        serves.push_back(Spawn({ctl, "serve", "--modbus", "off", "--mqtt",
                                "mqtt://127.0.0.1:" + std::to_string(brokerPort), "--topic",
                                "bench/s" + std::to_string(i), "--qos", "1", "--simulate"}));
    // the figures count from when every sensor is identified
    sleep(3);
    long m0;
    {
        std::lock_guard<std::mutex> l(counts.mu);
        m0 = counts.messages;
    }
    const double t0 = bench::Now();
    double serveCpu0 = 0;
    for (pid_t p : serves) serveCpu0 += ProcCpu(p);
    sleep(static_cast<unsigned>(seconds));
    long m1;
    {
        std::lock_guard<std::mutex> l(counts.mu);
        m1 = counts.messages;
    }
    const double span = bench::Now() - t0;
    double serveCpu = -serveCpu0;
    for (pid_t p : serves) serveCpu += ProcCpu(p);
    double cpu = 0;
    for (pid_t p : serves) cpu += StopAndCpu(p);
    sleep(2);   // the last messages
    mosquitto_loop_stop(sub, true);
    const double rate = (m1 - m0) / span;
    const double perServeCpu = 100.0 * serveCpu / sensors / span;
    // start-up included: identification, the simulator's own work
    const double perSensorCpu = 100.0 * cpu / sensors / (span + 3);
    Row("measurements a second at the broker", rate, "/s", "> 0.9 x 26/s x N",
        rate > 0.9 * 26 * sensors);
    Row("  each sensor", rate / sensors, "/s", "", true);
    Row("missing sequence numbers", counts.missing, "", "0", counts.missing == 0);
    Row("out of order", counts.outOfOrder, "", "0", counts.outOfOrder == 0);
    Row("CPU per serve (one core)", perServeCpu, "%", "< 1 %", perServeCpu < 1.0);
    Row("CPU per sensor, serve and kvex-sim", perSensorCpu, "%", "", true);
    bench::Result("serve_broker_rate", rate);
    bench::Result("serve_missing", counts.missing);
    bench::Result("serve_cpu_percent", perServeCpu);
    mosquitto_destroy(sub);
    StopAndCpu(broker);

    // ---------------------------------------------------------------- Modbus
    const int mbPort = FreePort();
    const pid_t one =
        Spawn({ctl, "serve", "--modbus", "127.0.0.1:" + std::to_string(mbPort), "--simulate"});
    sleep(3);
    std::atomic<long> errors{0};
    std::vector<std::vector<double>> times(static_cast<size_t>(clients));
    std::vector<std::thread> threads;
    const double end = bench::Now() + std::min(seconds, 30);
    for (int c = 0; c < clients; ++c)
        threads.emplace_back([&, c] {
            modbus_t *ctx = modbus_new_tcp("127.0.0.1", mbPort);
            if (modbus_connect(ctx) != 0) {
                ++errors;
                modbus_free(ctx);
                return;
            }
            uint16_t r[13];
            for (double next = bench::Now(); next < end; next += pollMs / 1000.0) {
                const double a = bench::Now();
                if (modbus_read_input_registers(ctx, 0, 13, r) != 13) ++errors;
                times[static_cast<size_t>(c)].push_back((bench::Now() - a) * 1000.0);
                const double wait = next + pollMs / 1000.0 - bench::Now();
                if (wait > 0) usleep(static_cast<useconds_t>(wait * 1e6));
            }
            modbus_close(ctx);
            modbus_free(ctx);
        });
    for (auto &t : threads) t.join();
    StopAndCpu(one);
    std::vector<double> all;
    for (auto &t : times) all.insert(all.end(), t.begin(), t.end());
    std::sort(all.begin(), all.end());
    const double p99 = all.empty() ? -1 : all[all.size() * 99 / 100];
    bench::Note("%d Modbus clients every %d ms, %zu requests", clients, pollMs, all.size());
    Row("Modbus response time, 99th percentile", p99, "ms", "< 5 ms", p99 >= 0 && p99 < 5.0);
    Row("Modbus requests failed", errors.load(), "", "0", errors.load() == 0);
    bench::Result("serve_modbus_p99_ms", p99);
    std::string rm = std::string("rm -rf ") + dir;
    return std::system(rm.c_str()) == 0 ? 0 : 1;
}
