// kvex-ctl serve against kvex-sim: Modbus TCP clients on libmodbus, raw
// sockets with bad requests, the configuration file, the broker.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <fstream>
#include <modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "tests/support/clock.h"
#include "tests/support/ctl.h"
#include "tests/support/files.h"
#include "tests/support/peer.h"
#include "tests/support/sim.h"

namespace {

enum { kUmHi, kUmLo, kPix, kLeft, kRight, kEdges, kStatus, kSeqHi, kSeqLo, kAge, kSet, kTol, kVer };
constexpr int kAnswering = 1, kInTol = 2, kTimedOut = 4, kLost = 8;

class Client {
public:
    explicit Client(int port) : ctx_(modbus_new_tcp("127.0.0.1", port)) {
        modbus_set_response_timeout(ctx_, 5, 0);
    }
    ~Client() {
        modbus_close(ctx_);
        modbus_free(ctx_);
    }
    bool Connect(double seconds) {
        for (double end = Now() + seconds; Now() < end; usleep(50000))
            if (modbus_connect(ctx_) == 0) return true;
        return false;
    }
    bool Read(std::vector<uint16_t> &r) {
        r.assign(13, 0);
        return modbus_read_input_registers(ctx_, 0, 13, r.data()) == 13;
    }
    // reads until `pred` holds on the registers, within `seconds`
    template <class P>
    bool Until(std::vector<uint16_t> &r, double seconds, P pred) {
        for (double end = Now() + seconds; Now() < end; usleep(20000))
            if (Read(r) && pred(r)) return true;
        return false;
    }
    modbus_t *ctx_;
};

// serve on a kvex-sim of its own, Modbus on a free port of 127.0.0.1
struct Served {
    SimProcess sim;
    CtlChild ctl;
    int port = FreePort();
    bool Start(const std::vector<std::string> &simArgs, std::vector<std::string> more = {},
               const std::string &device = "") {
        if (!sim.Start(simArgs)) return false;
        std::vector<std::string> args = {"serve", "--port", device.empty() ? sim.Device() : device,
                                         "--modbus", "127.0.0.1:" + std::to_string(port)};
        args.insert(args.end(), more.begin(), more.end());
        return ctl.Start(args);
    }
};

std::string Exchange(int port, const std::string &request, double seconds = 3.0) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    std::string got;
    if (connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
        write(s, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
        pollfd p{s, POLLIN, 0};
        char buf[300];
        ssize_t n;
        while (poll(&p, 1, static_cast<int>(seconds * 1000)) > 0 &&
               (n = read(s, buf, sizeof buf)) > 0)
            got.append(buf, static_cast<size_t>(n));
    }
    close(s);
    return got;
}

std::string Bytes(std::initializer_list<int> b) {
    std::string s;
    for (int c : b) s.push_back(static_cast<char>(c));
    return s;
}

TEST(ServeModbus, RegistersAreWhatTheSimulatorSent) {
    // slope 10000 (scale 1024), intersect 30500: um = pixels * 10000 / 1024 + 500
    Served sv;
    ASSERT_TRUE(sv.Start({"--noise", "0", "--object", "400", "700", "--ram", "12", "10000", "--ram",
                          "13", "30500"}));
    Client c(sv.port);
    ASSERT_TRUE(c.Connect(10.0)) << sv.ctl.err;
    std::vector<uint16_t> r;
    ASSERT_TRUE(c.Until(r, 10.0, [](auto &r) { return r[kSeqLo] > 0; })) << sv.ctl.err;
    // 700 * 10000 / 1024 = 6835.9; set-point 512 +- 100 does not hold 700
    const std::vector<uint16_t> out = {0,         7335,      700,     400, 700, 2, kAnswering,
                                       r[kSeqHi], r[kSeqLo], r[kAge], 512, 100, 1};
    EXPECT_EQ(r, out);
    EXPECT_LT(r[kAge], 1500);
    const uint32_t seq = static_cast<uint32_t>(r[kSeqHi]) << 16 | r[kSeqLo];
    ASSERT_TRUE(c.Until(
        r, 5.0, [&](auto &r) { return (uint32_t(r[kSeqHi]) << 16 | r[kSeqLo]) > seq + 5; }));

    // 600 * 10000 / 1024 = 5859.4, inside 412..612
    ASSERT_TRUE(SimDo(sv.sim, "object 400 600"));
    ASSERT_TRUE(c.Until(r, 5.0, [](auto &r) { return r[kPix] == 600; }));
    EXPECT_EQ(r[kUmLo], 6359);
    EXPECT_EQ(r[kRight], 600);
    EXPECT_EQ(r[kStatus], kAnswering | kInTol);

    ASSERT_TRUE(SimDo(sv.sim, "silent on"));
    ASSERT_TRUE(c.Until(r, 6.0, [](auto &r) { return r[kStatus] & kTimedOut; }));
    EXPECT_EQ(r[kStatus], kTimedOut | kInTol);
    EXPECT_GE(r[kAge],
              1500);   // a time-out comes 1.5 s after a request that followed the last reply
    ASSERT_TRUE(SimDo(sv.sim, "silent off"));
    EXPECT_TRUE(c.Until(r, 6.0, [](auto &r) { return r[kStatus] == (kAnswering | kInTol); }));
}

TEST(ServeModbus, PulledAdapterSaysLostAndGoesOn) {
    DeviceLink link;
    SimProcess sim2;
    Served sv;
    ASSERT_TRUE(sv.sim.Start({"--noise", "0"}));
    ASSERT_TRUE(link.PointAt(sv.sim.Device()));
    ASSERT_TRUE(sv.ctl.Start(
        {"serve", "--port", link.Path(), "--modbus", "127.0.0.1:" + std::to_string(sv.port)}));
    Client c(sv.port);
    ASSERT_TRUE(c.Connect(10.0)) << sv.ctl.err;
    std::vector<uint16_t> r;
    ASSERT_TRUE(c.Until(r, 10.0, [](auto &r) { return r[kStatus] & kAnswering; }));
    ASSERT_TRUE(SimDo(sv.sim, "close-after 3"));
    ASSERT_NE(sv.sim.Output(5.0, "line closed").find("line closed"), std::string::npos);
    link.Pull();
    ASSERT_TRUE(c.Until(r, 6.0, [](auto &r) { return r[kStatus] & kLost; })) << sv.ctl.err;
    EXPECT_EQ(r[kStatus] & (kAnswering | kLost), kLost);
    ASSERT_TRUE(sim2.Start({"--noise", "0", "--object", "300", "800"}));
    ASSERT_TRUE(link.PointAt(sim2.Device()));
    ASSERT_TRUE(c.Until(r, 10.0, [](auto &r) { return r[kRight] == 800; })) << sv.ctl.err;
    EXPECT_EQ(r[kStatus] & (kAnswering | kLost), kAnswering);
}

TEST(ServeModbus, WritesOnlyWhenAllowedAndReadBack) {
    {
        Served sv;
        ASSERT_TRUE(sv.Start({"--noise", "0"}));
        Client c(sv.port);
        ASSERT_TRUE(c.Connect(10.0)) << sv.ctl.err;
        EXPECT_EQ(modbus_write_register(c.ctx_, 0, 600), -1);
        EXPECT_EQ(errno, EMBXILADD);
        uint16_t h[2];
        EXPECT_EQ(modbus_read_registers(c.ctx_, 0, 2, h), -1);
        EXPECT_EQ(errno, EMBXILADD);
        std::vector<uint16_t> r;
        ASSERT_TRUE(c.Until(r, 5.0, [](auto &r) { return r[kSeqLo] > 3; }));
        EXPECT_EQ(r[kSet], 512);
        EXPECT_EQ(SimRequests(sv.sim, 1), 0);   // no store went to the sensor
    }
    Served sv;
    ASSERT_TRUE(sv.Start({"--noise", "0"}, {"--allow-writes"}));
    Client c(sv.port);
    ASSERT_TRUE(c.Connect(10.0)) << sv.ctl.err;
    const uint16_t both[2] = {600, 60};
    ASSERT_EQ(modbus_write_registers(c.ctx_, 0, 2, both), 2) << modbus_strerror(errno);
    EXPECT_EQ(SimRequests(sv.sim, 1), 1);
    uint16_t h[2] = {};
    ASSERT_EQ(modbus_read_registers(c.ctx_, 0, 2, h), 2);
    EXPECT_EQ(h[0], 600);
    EXPECT_EQ(h[1], 60);
    std::vector<uint16_t> r;
    EXPECT_TRUE(c.Until(r, 5.0, [](auto &r) { return r[kSet] == 600 && r[kTol] == 60; }));
    // a tolerance of 0 and a set-point past the line's 2048 pixels go nowhere
    const struct { int reg, value; } bad[] = {{1, 0}, {0, 2049}, {1, 65535}};
    for (const auto &b : bad) {
        EXPECT_EQ(modbus_write_register(c.ctx_, b.reg, b.value), -1) << b.reg << " " << b.value;
        EXPECT_EQ(errno, EMBXILVAL) << b.reg << " " << b.value;
    }
    EXPECT_EQ(modbus_write_register(c.ctx_, 2, 1), -1);
    EXPECT_EQ(errno, EMBXILADD);
    EXPECT_EQ(modbus_write_register(c.ctx_, 1, 2048), 1);
    EXPECT_EQ(SimRequests(sv.sim, 1), 2);
}

TEST(ServeModbus, EightClientsAndBadOnesBeside) {
    Served sv;
    ASSERT_TRUE(sv.Start({"--fast"}));
    {
        Client first(sv.port);
        ASSERT_TRUE(first.Connect(10.0)) << sv.ctl.err;
    }
    std::atomic<int> good{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < 8; ++i)
        clients.emplace_back([&] {
            Client c(sv.port);
            std::vector<uint16_t> r;
            if (!c.Connect(5.0)) return;
            for (int k = 0; k < 100; ++k)
                if (c.Read(r) && r[kVer] == 1) ++good;
        });
    // unit 0xFF, function 4: transaction 1, protocol 0, length, then the PDU
    const struct {
        std::string request, reply;
    } raw[] = {
        // register 65535
        {Bytes({0, 1, 0, 0, 0, 6, 0xFF, 4, 0xFF, 0xFF, 0, 1}),
         Bytes({0, 1, 0, 0, 0, 3, 0xFF, 0x84, 2})},
        // no register, and more than a reply can hold
        {Bytes({0, 2, 0, 0, 0, 6, 0xFF, 4, 0, 0, 0, 0}), Bytes({0, 2, 0, 0, 0, 3, 0xFF, 0x84, 3})},
        {Bytes({0, 3, 0, 0, 0, 6, 0xFF, 4, 0, 0, 0, 126}),
         Bytes({0, 3, 0, 0, 0, 3, 0xFF, 0x84, 3})},
        // write-and-read and coils are not served
        {Bytes({0, 4, 0, 0, 0, 6, 0xFF, 5, 0, 0, 0xFF, 0}),
         Bytes({0, 4, 0, 0, 0, 3, 0xFF, 0x85, 1})},
        {Bytes({0, 5, 0, 0, 0, 2, 0xFF, 0x17}), Bytes({0, 5, 0, 0, 0, 3, 0xFF, 0x97, 1})},
        // a short PDU
        {Bytes({0, 6, 0, 0, 0, 4, 0xFF, 4, 0, 0}), Bytes({0, 6, 0, 0, 0, 3, 0xFF, 0x84, 3})},
        // not Modbus at all, and half a header: the connection is closed
        {"GET / HTTP/1.0\r\n\r\n", ""},
        {Bytes({0, 7, 0, 0, 0}), ""},
    };
    for (const auto &x : raw)
        EXPECT_EQ(Exchange(sv.port, x.request, 2.0), x.reply) << x.request.size();
    for (auto &t : clients) t.join();
    EXPECT_EQ(good.load(), 800);
    Client after(sv.port);
    std::vector<uint16_t> r;
    ASSERT_TRUE(after.Connect(5.0));
    EXPECT_TRUE(after.Read(r));
}

TEST(ServeConfig, FileOptionsTheCommandLineWinsBadLinesExit2) {
    const std::string dir = testfs::TempDir("ridar-serve");
    const std::string bad1 = dir + "/bad1.conf", bad2 = dir + "/bad2.conf", good = dir + "/g.conf";
    const std::string bad3 = dir + "/bad3.conf";
    std::ofstream(bad1) << "# gauge 1\nprot = /dev/ttyUSB0\n";
    std::ofstream(bad2) << "[serve]\nmodbus 127.0.0.1:1502\n";
    std::ofstream(bad3) << "[serve]\n\nmqtt = mqtt://[::1" << std::string(1, '\0') << "junk]\n";
    const struct {
        std::string file, err;
    } cases[] = {
        {bad1, "kvex-ctl: " + bad1 + ":2: unknown key \"prot\"\n"},
        {bad2, "kvex-ctl: " + bad2 + ":2: not KEY = VALUE: modbus 127.0.0.1:1502\n"},
        {bad3, "kvex-ctl: " + bad3 + ":3: a NUL byte in the line\n"},
    };
    for (const auto &c : cases) {
        CtlResult r = RunCtl({"serve", "--config", c.file});
        EXPECT_EQ(r.rc, 2) << c.file;
        EXPECT_EQ(Unstamped(r.err), c.err);
    }
    EXPECT_EQ(Unstamped(RunCtl({"serve", "--modbus", "localhost", "--simulate"}).err),
              "kvex-ctl: --modbus localhost: give HOST:PORT, e.g. 127.0.0.1:1502 or [::1]:1502\n");

    SimProcess sim;
    ASSERT_TRUE(sim.Start({}));
    const int inFile = FreePort(), given = FreePort();
    std::ofstream(good) << "port = " << sim.Device() << "\nmodbus = \"127.0.0.1:" << inFile
                        << "\"\nallow-writes = false\n";
    CtlChild c;
    ASSERT_TRUE(
        c.Start({"serve", "--config", good, "--modbus", "127.0.0.1:" + std::to_string(given)}));
    Client m(given);
    ASSERT_TRUE(m.Connect(10.0)) << c.err;
    EXPECT_FALSE(PortOpen(inFile));
    c.Signal(SIGTERM);
    ASSERT_TRUE(c.Wait(10.0));
    EXPECT_EQ(c.rc, 0) << c.err;
    EXPECT_FALSE(PortOpen(given));
}

TEST(ServeMqtt, MeasurementsToTheBrokerOfflineOnSigterm) {
    Broker broker;
    ASSERT_TRUE(broker.Start());
    Subscriber sub(broker.Port(), "g1/#", "test-serve");
    ASSERT_TRUE(sub.Connected());
    const int taken = FreePort();
    Served sv;
    ASSERT_TRUE(sv.Start({"--fast"}, {"--mqtt", broker.Url(), "--topic", "g1"}));
    ASSERT_TRUE(sub.WaitCount("g1/measurement", 20, 10.0)) << sv.ctl.err;
    auto msgs = sub.Messages("g1/measurement");
    for (size_t i = 0; i < 20; ++i)
        EXPECT_NE(msgs[i].find("\"seq\":" + std::to_string(i + 1) + ","), std::string::npos);
    sv.ctl.Signal(SIGTERM);
    ASSERT_TRUE(sv.ctl.Wait(10.0));
    EXPECT_EQ(sv.ctl.rc, 0) << sv.ctl.err;
    EXPECT_TRUE(sub.WaitCount("g1/status", 2, 3.0));
    EXPECT_EQ(sub.Last("g1/status"), "offline");
    EXPECT_FALSE(PortOpen(sv.port));

    // an address someone else holds
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(taken));
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ASSERT_EQ(listen(s, 1), 0);
    CtlResult r = RunCtl({"serve", "--modbus", "127.0.0.1:" + std::to_string(taken), "--simulate"});
    close(s);
    EXPECT_EQ(r.rc, 5);
    EXPECT_EQ(Unstamped(r.err), "kvex-ctl: Modbus TCP on 127.0.0.1:" + std::to_string(taken) +
                                    ": Address already in use\n");
}

// The template unit as installed, its program this build's kvex-ctl.
TEST(ServeUnit, SystemdVerifiesTheTemplateQuietly) {
    std::ifstream in(std::string(KVEX_SOURCE_DIR) + "/ctl/systemd/kvex-ctl@.service");
    std::string unit((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t at = unit.find("@KVEX_CTL@");
    ASSERT_NE(at, std::string::npos);
    unit.replace(at, 10, KVEX_CTL_PATH);
    for (const char *hardening :
         {"NoNewPrivileges=yes", "ProtectSystem=strict", "ProtectHome=yes", "PrivateTmp=yes",
          "Restart=on-failure", "SupplementaryGroups=dialout"})
        EXPECT_NE(unit.find(std::string("\n") + hardening + "\n"), std::string::npos) << hardening;
    const std::string path = testfs::TempDir("ridar-unit") + "/kvex-ctl@gauge1.service";
    std::ofstream(path) << unit;
    ChildProcess v;
    ASSERT_TRUE(v.Start("/usr/bin/systemd-analyze", {"verify", path}))
        << "systemd-analyze is missing (Debian package systemd)";
    ASSERT_TRUE(v.Wait(60.0));
    EXPECT_EQ(v.rc, 0) << v.err;
    EXPECT_EQ(v.out + v.err, "");
}

}   // namespace
