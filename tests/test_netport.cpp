// kvex-ctl on a sensor behind ser2net on 127.0.0.1: RFC 2217 and raw TCP,
// refusals, and a server that goes away as a pulled adapter.
#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

#include "tests/support/clock.h"
#include "tests/support/ctl.h"
#include "tests/support/files.h"
#include "tests/support/sim.h"

namespace {

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> out;
    size_t from = 0, nl;
    while ((nl = text.find('\n', from)) != std::string::npos) {
        out.push_back(text.substr(from, nl - from));
        from = nl + 1;
    }
    return out;
}

TEST(NetPort, Rfc2217AndRawTcpCarryEveryByte) {
    // words of 255 and 65535 put 0xFF on the wire, Telnet's escape
    const std::string set = testfs::TempDir("ridar-net") + "/ff.dat";
    std::ofstream(set) << "500\n0\n512\n0\n0\n1\n1\n2048\n512\n100\n0\n1\n12800\n65535\n255\n0\n";
    const struct {
        const char *accepter, *scheme;
    } cases[] = {{"telnet(rfc2217),tcp", "rfc2217"}, {"tcp", "tcp"}};
    for (const auto &c : cases) {
        SimProcess sim;
        ASSERT_TRUE(sim.Start({"--noise", "0"}));
        Ser2net server;
        ASSERT_TRUE(server.Start(c.accepter, sim.Device()))
            << "ser2net is missing (Debian package ser2net)";
        const std::string port = server.Url(c.scheme);
        CtlResult r = RunCtl({"--port", port, "identify"});
        EXPECT_EQ(r.rc, 0) << c.scheme << r.err;
        EXPECT_NE(r.out.find("firmware text:    K-VEX-XC-SIM Firmware V2.52\n"), std::string::npos)
            << r.out;
        r = RunCtl({"--port", port, "send", set, "--to", "ram", "--verify"});
        EXPECT_EQ(r.rc, 0) << c.scheme << r.out << r.err;
        r = RunCtl({"--port", port, "watch", "--count", "5"});
        EXPECT_EQ(r.rc, 0) << c.scheme << r.err;
        const auto rows = Lines(r.out);
        ASSERT_EQ(rows.size(), 6u) << r.out;
        // 600 px * 12800 / 1024 + 65535 - 30000 = 43035 um
        EXPECT_NE(rows[5].find(",5,400,600,600,43035,2,512,100"), std::string::npos) << rows[5];
        server.Stop();
    }
}

TEST(NetPort, RefusalsSayWhyAndExit3) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({}));
    Ser2net raw;
    ASSERT_TRUE(raw.Start("tcp", sim.Device())) << "ser2net is missing (Debian package ser2net)";
    const std::string closed = "rfc2217://127.0.0.1:" + std::to_string(FreePort());
    const struct {
        std::string port, err;
    } cases[] = {
        {raw.Url("rfc2217"), "kvex-ctl: Cannot open port: " + raw.Url("rfc2217") +
                                 ": the server does not take RFC 2217 (COM-PORT-OPTION refused or "
                                 "not answered); for a raw TCP port give tcp://\n"},
        {closed,
         "kvex-ctl: Cannot open port: " + closed + ": cannot connect (Connection refused)\n"},
        {"tcp://127.0.0.1", "kvex-ctl: Cannot open port: tcp://127.0.0.1: give rfc2217://HOST:PORT "
                            "or tcp://HOST:PORT\n"},
        {"tcp://127.0.0.1:65536", "kvex-ctl: Cannot open port: tcp://127.0.0.1:65536: give "
                                  "rfc2217://HOST:PORT or tcp://HOST:PORT\n"},
    };
    for (const auto &c : cases) {
        const double t0 = Now();
        CtlResult r = RunCtl({"--port", c.port, "identify"});
        EXPECT_EQ(r.rc, 3) << c.port;
        EXPECT_EQ(Unstamped(r.err), c.err);
        EXPECT_LT(Now() - t0, 8.0) << c.port;   // a silent server is given up on
    }
}

TEST(NetPort, ServerGoneIsAPulledAdapterNothingLost) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--noise", "0"}));
    Ser2net server;
    ASSERT_TRUE(server.Start("telnet(rfc2217),tcp", sim.Device())) << "ser2net is missing";
    CtlChild c;
    ASSERT_TRUE(c.Start({"--port", server.Url("rfc2217"), "watch", "--count", "40"}));
    ASSERT_TRUE(c.WaitFor("Z,5,", 10.0)) << c.err;
    server.Stop();
    usleep(1500000);
    ASSERT_TRUE(server.Start("telnet(rfc2217),tcp", sim.Device()));
    ASSERT_TRUE(c.Wait(20.0)) << c.err;
    EXPECT_EQ(c.rc, 0) << c.err;
    const auto rows = Lines(c.out);
    ASSERT_EQ(rows.size(), 41u);
    for (size_t i = 1; i < rows.size(); ++i)
        EXPECT_NE(rows[i].find("Z," + std::to_string(i) + ","), std::string::npos) << rows[i];
    EXPECT_NE(
        c.err.find("RS-232 port lost! - waiting for " + server.Url("rfc2217") + " to come back"),
        std::string::npos)
        << c.err;
    EXPECT_NE(c.err.find("is back after"), std::string::npos) << c.err;
}

}   // namespace
