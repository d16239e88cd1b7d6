// The windows on a sensor behind ser2net on 127.0.0.1: RFC 2217 and raw
// TCP carry identification, transfers with 0xFF on the wire, run mode and
// video; a server that goes away is a pulled adapter.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>

#include "tests/support/support.h"
#include "display/display.h"
#include "params/vars.h"

namespace {

const char kLost[] = "RS-232 port lost! - Reconnect, then choose the port again.";

// A set-point of 65535 and an average of 255 put 0xFF bytes, Telnet's
// escape, on the wire. The simulator's object 400..600 with noise off and
// slope 12800 give 600 px * 12800 / 1024 + 30000 - 30000 = 7500 um.
const std::vector<int> kSet = {500,   0,   512, 0, 0,     1,     1,   2048,
                               65535, 100, 0,   1, 12800, 30000, 255, 0};
const char kSetFile[] = "500\n0\n512\n0\n0\n1\n1\n2048\n65535\n100\n0\n1\n12800\n30000\n255\n0\n";

struct Accepter {
    const char *accepter, *scheme;
} const kAccepters[] = {{"telnet(rfc2217),tcp", "rfc2217"}, {"tcp", "tcp"}};

class NetWin : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(StartRidarForTest()); }
    void TearDown() override {
        CloseCom(com);
        rt_SetPortTable({});
    }
};

TEST_F(NetWin, EveryActionAsOnALocalPort) {
    for (const Accepter &a : kAccepters) {
        SCOPED_TRACE(a.scheme);
        const std::string eeprom = testfs::NewTempDir("ridar-netwin") + "/eeprom";
        SimProcess sim;
        ASSERT_TRUE(sim.Start({"--noise", "0", "--video-noise", "0", "--object", "400", "600",
                               "--fast", "--eeprom", eeprom}));
        Ser2net server;
        ASSERT_TRUE(server.Start(a.accepter, sim.Device()))
            << "ser2net is missing (Debian package ser2net)";
        const std::string url = server.Url(a.scheme);
        Connect(url);
        ASSERT_EQ(std::string(szVersion).rfind("K-VEX-XC-SIM", 0), 0u) << szStatus;
        EXPECT_EQ(rt_OpenFault(), "");
        // the ring shows the port by its name, like a device
        rt_UserOpenRing(pHandle, PANEL_DropDCom);
        const auto items = rt_GetListItems(pHandle, PANEL_DropDCom);
        ASSERT_FALSE(items.empty());
        EXPECT_EQ(items[0], "COM1  " + url);

        rt_UserClick(pHandle, PANEL_BTNGet);
        EXPECT_EQ(StatusLine(), "Parameter-frame received! - Line Ok!");
        EXPECT_EQ(slope, 12800);   // the simulator's factory set

        SetParamVars(kSet, 0);
        SetPanelValues();
        SelectTarget(RAM);
        rt_UserClick(pHandle, PANEL_BTNSend);
        EXPECT_EQ(StatusLine(), "Line Ok!");
        SelectTarget(EEPROM);
        rt_UserClick(pHandle, PANEL_BTNSend);
        EXPECT_EQ(StatusLine(), "Line Ok!");
        // the simulator's own file holds what came over the wire
        ASSERT_TRUE(PumpUntil([&] { return testfs::ReadFile(eeprom) == kSetFile; }, 3.0))
            << testfs::ReadFile(eeprom);

        // run mode: the simulator measures with the RAM set it was sent
        SelectTarget(RAM);
        umValue = 0;
        const long framesBefore = SimCounter(sim, "frames");
        rt_After(0.6, [] { rt_UserClick(pHandle, PANEL_BTNStop); });
        rt_UserClick(pHandle, PANEL_BTNRun);
        EXPECT_EQ(Ledge, 400);
        EXPECT_EQ(Redge, 600);
        EXPECT_EQ(umValue, 7500u);
        EXPECT_EQ(tVal, 65535);   // the set-point each frame reports
        EXPECT_GT(SimCounter(sim, "frames") - framesBefore, 5);

        // video: bright line, dark shadow from 400 to 600 (full scale 1024)
        rt_After(0.8, [] { rt_UserClick(pHandle, PANEL_BTNStop); });
        rt_UserClick(pHandle, PANEL_BTNVideo);
        EXPECT_GE(SimRequests(sim, 8), 2);
        EXPECT_EQ(adcbuf[0], 960);
        EXPECT_EQ(adcbuf[62], 64);
        EXPECT_NE(StatusLine(), "Timeout RS232-Line!");
        CloseCom(com);
        server.Stop();
    }
}

TEST_F(NetWin, ServerGoneIsAPulledAdapterAndThePortComesBack) {
    for (const Accepter &a : kAccepters) {
        SCOPED_TRACE(a.scheme);
        SimProcess sim;
        ASSERT_TRUE(sim.Start({"--fast", "--noise", "0", "--object", "300", "700"}));
        Ser2net server;
        ASSERT_TRUE(server.Start(a.accepter, sim.Device())) << "ser2net is missing";
        Connect(server.Url(a.scheme));
        ASSERT_EQ(std::string(szVersion).rfind("K-VEX-XC-SIM", 0), 0u) << szStatus;

        // the server ends in the middle of run mode
        rt_After(0.4, [&] { server.Stop(); });
        const double t0 = Now();
        rt_UserClick(pHandle, PANEL_BTNRun);
        const double took = Now() - t0;
        EXPECT_EQ(StatusLine(), "Timeout RS232-Line!");
        EXPECT_EQ(stop_flag, STOP_ASKED);
        EXPECT_LT(took, 0.4 + TIMEOUT + 2.0);
        EXPECT_EQ(rt_PortLost(com), 1);
        ASSERT_TRUE(IdleUntil([] { return StatusLine() == kLost; }, 1.0)) << StatusLine();

        // while it is gone, picking the port says it cannot open it, and why
        rt_UserOpenRing(pHandle, PANEL_DropDCom);
        rt_UserSetVal(pHandle, PANEL_DropDCom, 1);
        EXPECT_EQ(StatusLine(), "Cannot open port");
        EXPECT_NE(rt_OpenFault().find("cannot connect (Connection refused)"), std::string::npos)
            << rt_OpenFault();

        // started again: the next pick from the ring identifies and measures
        ASSERT_TRUE(server.Start(a.accepter, sim.Device()));
        rt_UserOpenRing(pHandle, PANEL_DropDCom);
        rt_UserSetVal(pHandle, PANEL_DropDCom, 1);
        EXPECT_EQ(rt_PortLost(com), 0);
        EXPECT_EQ(StatusLine(), szVersion);
        rt_After(0.5, [] { rt_UserClick(pHandle, PANEL_BTNStop); });
        rt_UserClick(pHandle, PANEL_BTNRun);
        EXPECT_EQ(Ledge, 300);
        EXPECT_EQ(Redge, 700);
        CloseCom(com);
        server.Stop();
    }
}

// A server that does not take RFC 2217, does not confirm the line or sets
// another one, or none at all: the status line as for a local port, the
// reason in the link-health field's tooltip.
TEST_F(NetWin, ARefusingServerSaysWhyInTheTooltip) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({}));
    Ser2net raw;
    ASSERT_TRUE(raw.Start("tcp", sim.Device())) << "ser2net is missing";
    const std::string closed = "rfc2217://127.0.0.1:" + std::to_string(FreePort());
    OwnRfc2217 refuses(OwnRfc2217::Mode::Refuse, ""), silent(OwnRfc2217::Mode::Silent, ""),
        slower(OwnRfc2217::Mode::Baud9600, "");
    const std::string noRfc2217 =
        ": the server does not take RFC 2217 (COM-PORT-OPTION refused or not answered); for a "
        "raw TCP port give tcp://";
    const struct {
        std::string port, why;
    } cases[] = {
        {raw.Url("rfc2217"), raw.Url("rfc2217") + noRfc2217},
        {refuses.Url(), refuses.Url() + noRfc2217},
        {silent.Url(),
         silent.Url() + ": the server did not confirm the baud rate (19200 8N1 asked)"},
        {slower.Url(), slower.Url() + ": the server set the baud rate to 9600, not 19200"},
        {closed, closed + ": cannot connect (Connection refused)"},
    };
    for (const auto &c : cases) {
        const long failures = rt_LinkStats().openFailures;
        OpenSensorLine(c.port);
        EXPECT_EQ(StatusLine(), "Cannot open port") << c.port;
        EXPECT_EQ(rt_LinkStats().openFailures, failures + 1);
        ShowLinkHealth();
        const std::string tip = rt_GetToolTip(pHandle, PANEL_TEXTLinkHealth);
        const std::string want = "\nCannot open port: " + c.why;
        ASSERT_GE(tip.size(), want.size()) << tip;
        EXPECT_EQ(tip.substr(tip.size() - want.size()), want);
    }
}

// A reply comes in several segments; a server with Nagle's algorithm on
// sends the rest only once the first is acknowledged, which a delayed ACK
// holds back: run mode then loses a tenth of its rate or more. Measured
// beside the local line, under the same load.
TEST_F(NetWin, TimingRunModeOverRfc2217KeepsThePaceOfTheLocalLine) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--noise", "0"}));
    Ser2net server;
    ASSERT_TRUE(server.Start("telnet(rfc2217),tcp", sim.Device())) << "ser2net is missing";
    auto rate = [&](const std::string &port) {
        Connect(port);
        EXPECT_EQ(std::string(szVersion).rfind("K-VEX-XC-SIM", 0), 0u) << szStatus;
        const long before = SimRequests(sim, 8);
        const double t0 = Now();
        rt_After(4.0, [] { rt_UserClick(pHandle, PANEL_BTNStop); });
        rt_UserClick(pHandle, PANEL_BTNRun);
        EXPECT_EQ(StatusLine(), "Line Ok!") << port;
        const double r = static_cast<double>(SimRequests(sim, 8) - before) / (Now() - t0);
        CloseCom(com);
        return r;
    };
    // ser2net lets go of the device while nobody is connected
    const double local = rate(sim.Device());
    const double net = rate(server.Url("rfc2217"));
    std::printf("run mode: %.2f exchanges/s on the device, %.2f over rfc2217://\n", local, net);
    EXPECT_GE(net, 0.92 * local);
}

}   // namespace
