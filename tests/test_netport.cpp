// kvex-ctl on a sensor behind ser2net on 127.0.0.1: RFC 2217 and raw TCP,
// refusals, and a server that goes away as a pulled adapter; and behind an
// RFC 2217 server of the test's own for what ser2net will not do on demand.
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

// a parameter set whose words of 255 and 65535 put 0xFF, Telnet's escape, on the wire
const char kFfSet[] = "500\n0\n512\n0\n0\n1\n1\n2048\n512\n100\n0\n1\n12800\n65535\n255\n0\n";

TEST(NetPort, Rfc2217AndRawTcpCarryEveryByte) {
    const std::string set = testfs::TempDir("ridar-net") + "/ff.dat";
    std::ofstream(set) << kFfSet;
    // RFC 2217 sets the line itself; a raw port runs as the server is set
    const struct {
        const char *accepter, *scheme, *settings;
    } cases[] = {{"telnet(rfc2217),tcp", "rfc2217", "9600e71"}, {"tcp", "tcp", "19200n81"}};
    for (const auto &c : cases) {
        SimProcess sim;   // three stray bytes before every measurement
        ASSERT_TRUE(sim.Start({"--noise", "0", "--stray", "3", "--fault-order", "8"}));
        Ser2net server;
        ASSERT_TRUE(server.Start(c.accepter, sim.Device(), c.settings))
            << "ser2net is missing (Debian package ser2net)";
        const std::string port = server.Url(c.scheme);
        CtlResult r = RunCtl({"--port", port, "identify"});
        EXPECT_EQ(r.rc, 0) << c.scheme << r.err;
        EXPECT_NE(r.out.find("firmware text:    K-VEX-XC-SIM Firmware V2.52\n"), std::string::npos)
            << r.out;
        for (const char *to : {"eeprom", "ram"}) {
            r = RunCtl({"--port", port, "send", set, "--to", to, "--verify"});
            EXPECT_EQ(r.rc, 0) << c.scheme << to << r.out << r.err;
        }
        CtlChild watch;
        ASSERT_TRUE(watch.Start({"--port", port, "watch", "--count", "5"}));
        ASSERT_TRUE(watch.WaitFor("Z,1,", 10.0)) << watch.err;
        sim.Command("line");
        EXPECT_NE(sim.Output(5.0, "flow=").find("line 19200 8N1 flow=none\n"), std::string::npos)
            << c.scheme;
        ASSERT_TRUE(watch.Wait(10.0));
        EXPECT_EQ(watch.rc, 0) << c.scheme << watch.err;
        const auto rows = Lines(watch.out);
        ASSERT_EQ(rows.size(), 6u) << r.out;
        // 600 px * 12800 / 1024 + 65535 - 30000 = 43035 um
        for (size_t i = 1; i < rows.size(); ++i)
            EXPECT_NE(rows[i].find("," + std::to_string(i) + ",400,600,600,43035,2,512,100"),
                      std::string::npos)
                << rows[i];
        EXPECT_NE(watch.err.find("resyncs 5 (bytes dropped 15)"), std::string::npos) << watch.err;
        const std::string rec = testfs::TempDir("ridar-net") + "/rec.dat";
        r = RunCtl(
            {"--port", port, "record", "--samples", "2", "--increment", "0", "-o", rec, "--force"});
        EXPECT_EQ(r.rc, 0) << c.scheme << r.err;
        const std::string text = testfs::ReadFile(rec);
        EXPECT_EQ(text.substr(text.find("E-LEFT")),
                  "E-LEFT\tE-RIGHT\tM-VALUE\tEDGES\tM-VAL[um]\r\n400\t600\t600\t2\t43035\r\n"
                  "400\t600\t600\t2\t43035\r\n");
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

TEST(NetPort, OwnServerNotificationsSplitEscapesAndBadConfirmations) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--noise", "0"}));
    const std::string dir = testfs::TempDir("ridar-net"), set = dir + "/ff.dat";
    std::ofstream(set) << kFfSet;
    {
        OwnRfc2217 server(OwnRfc2217::Mode::Confirm, sim.Device());
        CtlResult r = RunCtl({"--port", server.Url(), "send", set, "--to", "ram", "--verify"});
        EXPECT_EQ(r.rc, 0) << r.out << r.err;
        r = RunCtl({"--port", server.Url(), "get", "--from", "ram"});
        EXPECT_EQ(r.rc, 0) << r.err;
        EXPECT_EQ(r.out,
                  "  500\n    0\n  512\n    0\n    0\n    1\n    1\n 2048\n  512\n  100\n    0\n"
                  "    1\n12800\n65535\n  255\n    0\n");
        r = RunCtl({"--port", server.Url(), "watch", "--count", "3"});
        const auto rows = Lines(r.out);
        ASSERT_EQ(rows.size(), 4u) << r.out << r.err;
        EXPECT_NE(rows[3].find(",3,400,600,600,43035,2,512,100"), std::string::npos) << rows[3];
    }
    const struct {
        OwnRfc2217::Mode mode;
        const char *why;
    } refusals[] = {
        {OwnRfc2217::Mode::Baud9600, ": the server set the baud rate to 9600, not 19200\n"},
        {OwnRfc2217::Mode::Silent,
         ": the server did not confirm the baud rate (19200 8N1 asked)\n"},
    };
    for (const auto &c : refusals) {
        OwnRfc2217 server(c.mode, sim.Device());
        const CtlResult r = RunCtl({"--port", server.Url(), "identify"});
        EXPECT_EQ(r.rc, 3);
        EXPECT_EQ(Unstamped(r.err), "kvex-ctl: Cannot open port: " + server.Url() + c.why);
    }
}

TEST(NetPort, ServerGoneIsAPulledAdapterNothingLost) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--noise", "0"}));
    Ser2net server;
    ASSERT_TRUE(server.Start("telnet(rfc2217),tcp", sim.Device())) << "ser2net is missing";
    Broker broker;
    ASSERT_TRUE(broker.Start()) << "mosquitto is missing";
    Subscriber sub(broker.Port(), "net/measurement", "test-net");
    ASSERT_TRUE(sub.Connected());
    CtlChild c;
    ASSERT_TRUE(c.Start({"--port", server.Url("rfc2217"), "watch", "--count", "40", "--mqtt",
                         broker.Url(), "--topic", "net"}));
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
    ASSERT_TRUE(sub.WaitCount("net/measurement", 40, 5.0));
    const auto got = sub.Messages("net/measurement");
    ASSERT_EQ(got.size(), 40u);
    for (size_t i = 0; i < got.size(); ++i)
        EXPECT_NE(got[i].find("\"seq\":" + std::to_string(i + 1) + ","), std::string::npos)
            << got[i];
}

}   // namespace
