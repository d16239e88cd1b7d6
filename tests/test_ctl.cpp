// kvex-ctl end to end: the program as a user runs it, against kvex-sim on a
// pseudo-terminal, a scripted sensor, and a real mosquitto broker.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ctl/ctl.h"
#include "tests/support/support.h"
#include "proto/proto.h"
#include "recorder/recorder.h"

using testfs::ReadFile;

namespace {

using testfs::WriteFile;

std::string TempPath(const std::string &name) { return testfs::TempDir("ridar-ctl") + "/" + name; }

std::vector<std::string> SplitLines(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string l;
    while (std::getline(in, l)) out.push_back(l);
    return out;
}

// the simulator's factory set, as its documentation gives it
const char kFactoryFile[] =
    "  500\n    0\n  512\n    0\n    0\n    1\n    1\n 2048\n  512\n  100\n    0\n    1\n12800\n30000\n    0\n    0\n";

// ---------------------------------------------------------------- usage and bad input

TEST(CtlUsage, BadCommandLinesSayOneLineAndExit2) {
    // clang-format off
    const std::vector<std::vector<std::string>> cases = {
        {}, {"frobnicate"}, {"get", "--from", "flash", "--port", "/dev/null"}, {"send"},
        {"diff", "ram"}, {"record", "-o", "x.dat", "--increment", "1"}, {"watch", "--format", "xml"},
        {"watch", "--qos", "2"}, {"get", "--port", "/dev/null", "--simulate"},
        {"record", "--samples", "70000", "--increment", "0", "-o", "x"}, {"get"},
        {"record", "--samples", "0", "--increment", "0", "-o", "x", "--simulate"},
    };
    // clang-format on
    for (const auto &args : cases) {
        std::string joined;
        for (auto &a : args) joined += a + " ";
        CtlResult r = RunCtl(args);
        EXPECT_EQ(r.rc, 2) << joined << r.err;
        EXPECT_EQ(r.out, "") << joined;
        EXPECT_EQ(Unstamped(r.err).rfind("kvex-ctl: ", 0), 0u) << joined << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << joined << r.err;
    }
}

TEST(CtlUsage, HelpOnEverySubcommandNamesTheExitCodes) {
    for (const char *sub : {"identify", "get", "send", "diff", "watch", "record"}) {
        CtlResult r = RunCtl({sub, "--help"});
        EXPECT_EQ(r.rc, 0) << sub;
        if (std::string(sub) == "watch" || std::string(sub) == "record")
            EXPECT_NE(r.out.find("KVEX_MQTT_PASSWORD"), std::string::npos) << sub;
        else EXPECT_NE(r.out.find("3 sensor or line failure"), std::string::npos) << sub << r.out;
    }
    CtlResult r = RunCtl({"--help"});
    EXPECT_EQ(r.rc, 0);
    EXPECT_NE(r.out.find("5 broker failure"), std::string::npos);
    EXPECT_EQ(RunCtl({"--version"}).out, "kvex-ctl (K-VEX-XC-Ridar) 2.52\n");
}

TEST(CtlUsage, BadFilesExit4BeforeTheSensorIsTouched) {
    const std::string bad = TempPath("bad.dat"), shortf = TempPath("short.dat"),
                      good = TempPath("good.dat");
    WriteFile(bad, "500\n0\n512\nabc\n");
    WriteFile(shortf, "1 2 3\n");
    WriteFile(good, kFactoryFile);
    struct Case {
        std::vector<std::string> args;
        const char *says;
    } cases[] = {
        {{"send", TempPath("missing.dat"), "--simulate"}, "No such file"},
        {{"send", bad, "--simulate"}, "bad.dat:4: \"abc\" is not an unsigned decimal number"},
        {{"send", shortf, "--to", "eeprom", "--simulate"}, "fewer than 16"},
        {{"diff", good, bad}, "bad.dat:4: \"abc\" is not an unsigned decimal number"},
        {{"diff", TempPath("none.dat"), good}, "No such file"},
        {{"get", "-o", "/nonexistent-dir/x.dat", "--simulate"}, "/nonexistent-dir/x.dat"},
    };
    for (const auto &c : cases) {
        CtlResult r = RunCtl(c.args);
        EXPECT_EQ(r.rc, 4) << c.args[0] << " " << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
}

TEST(CtlUsage, NoSensorExit3WithTheWindowsTexts) {
    const std::string missing = TempPath("ttyNONE");
    struct Case {
        std::vector<std::string> args;
        const char *says;
    } cases[] = {
        {{"identify", "--port", missing}, "Cannot open port"},
        {{"identify", "--port", "/dev/null"}, "not a serial line"},
        {{"get", "--simulate", "--silent"}, "Timeout-RS-232..."},
        {{"identify", "--simulate", "--bad-sync", "0x0055"}, "read error - not sync byte 0xAA!"},
        {{"identify", "--simulate", "--hw-header", "7"}, "Error reading HARDWARE-info!"},
        {{"get", "--simulate", "--no-answer", "2"}, "Timeout-RS-232..."},
    };
    for (const auto &c : cases) {
        auto t0 = Clock::now();
        CtlResult r = RunCtl(c.args);
        EXPECT_EQ(r.rc, 3) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_LT(Since(t0), 5.0);
    }
}

// ---------------------------------------------------------------- identify

TEST(CtlIdentify, TextAndJson) {
    CtlResult r = RunCtl({"identify", "--simulate", "--ccdtype", "104", "--softversion", "249",
                          "--ccdmaxpixel", "1536", "--ccdvirtpixel", "3072", "--pcbtype", "1"});
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_NE(r.out.find("sensor type:      104\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("pixels:           1536 (virtual 3072)\n"), std::string::npos);
    EXPECT_NE(r.out.find("board type:       1\n"), std::string::npos);
    EXPECT_NE(r.out.find("firmware version: 249\n"), std::string::npos);
    EXPECT_NE(r.out.find("firmware text:    K-VEX-XC-SIM Firmware V2.49\n"), std::string::npos)
        << r.out;
    // the sensor's Latin-1 micro sign reaches the terminal as UTF-8
    EXPECT_NE(r.out.find("Working-Range: 97,5mm, Resolution: 63.5\xC2\xB5m"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("series:           accepted\n"), std::string::npos);
    // a pseudo-terminal refuses low latency and has no adapter timer
    EXPECT_NE(
        r.out.find(
            "latency:          low-latency mode refused by the driver; no USB adapter latency timer\n"),
        std::string::npos)
        << r.out;

    r = RunCtl({"identify", "--json", "--simulate", "--pcbtype", "0"});
    ASSERT_EQ(r.rc, 0) << r.err;
    std::regex want(
        R"(\{"device":"/dev/pts/[0-9]+","ccdtype":2,"pixels":1024,"virtualPixels":2048,)"
        R"("boardType":0,"firmwareVersion":252,"firmware":"K-VEX-XC-SIM Firmware V2.52",)"
        R"("description":"","range":"","accepted":true,"lowLatency":false,"latencyTimerMs":null,)"
        R"("link":\{"frames":2,"timeouts":0,"resyncs":0,"bytesDropped":0\}\}\n)");
    EXPECT_TRUE(std::regex_match(r.out, want)) << r.out;
}

// The adapter's latency timer as its driver shows it (a fake sysfs here).
TEST(CtlIdentify, NamesTheAdapterLatencyTimer) {
    char dirTemplate[] = "/tmp/ctl-sysfs-XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    const std::string dir = dirTemplate;
    // clang-format off
    struct Case {
        const char *timer;
        std::string line, json;
    } cases[] = {
        {"16\n", "latency:          low-latency mode refused by the driver; USB adapter latency timer 16 ms - every "
                 "reply may wait that long; lower it to 1 ms (README, Troubleshooting)\n",
         "\"latencyTimerMs\":16,"},
        {"1\n", "latency:          low-latency mode refused by the driver; USB adapter latency timer 1 ms\n",
         "\"latencyTimerMs\":1,"},
    };
    // clang-format on
    SimProcess sim;
    ASSERT_TRUE(sim.Start({}));
    // the driver's directory is named after the tty, whatever pts number it got
    const std::string dev = sim.Device();
    const std::string tty = dev.substr(dev.rfind('/') + 1);
    ASSERT_FALSE(tty.empty()) << dev;
    ASSERT_EQ(mkdir((dir + "/" + tty).c_str(), 0755), 0);
    for (const Case &c : cases) {
        std::ofstream(dir + "/" + tty + "/latency_timer") << c.timer;
        setenv("RIDAR_USB_SERIAL_SYSFS", dir.c_str(), 1);
        CtlResult r = RunCtl({"identify", "--port", dev});
        EXPECT_EQ(r.rc, 0) << r.err;
        EXPECT_NE(r.out.find(c.line), std::string::npos) << r.out;
        r = RunCtl({"identify", "--json", "--port", dev});
        EXPECT_NE(r.out.find(c.json), std::string::npos) << r.out;
        unsetenv("RIDAR_USB_SERIAL_SYSFS");
    }
    std::system(("rm -rf '" + dir + "'").c_str());
}

TEST(CtlIdentify, RefusedSeriesReadNothingWriteNothing) {
    struct Case {
        const char *firmware;
        const char *message;
    } cases[] = {
        {"K-VEX-XD V1", "K-VEX-XD-series hardware detected!\nUSE K-VEX-XD-Ridar Software!"},
        {"K-VEX-XG-XC 3", "K-VEX-XJ-XC-series hardware detected!\nUSE K-VEX-XJ-XC-Ridar Software!"},
        {"K-VEX-XH-XD", "K-VEX-XJ-XD-series hardware detected!\nUSE K-VEX-XJ-XD-Ridar Software!"},
        {"K-VEX-XF 9", "K-VEX-XF-series hardware detected!\nUSE K-VEX-XF-Ridar Software!"},
    };
    const std::string file = TempPath("refused.dat");
    WriteFile(file, kFactoryFile);
    for (const auto &c : cases) {
        SimProcess sim;
        ASSERT_TRUE(sim.Start({"--firmware", c.firmware}));
        CtlResult id = RunCtl({"identify", "--port", sim.Device()});
        EXPECT_EQ(id.rc, 3);
        EXPECT_NE(id.out.find("series:           refused"), std::string::npos) << id.out;
        EXPECT_NE(id.err.find(c.message), std::string::npos) << id.err;
        EXPECT_EQ(RunCtl({"get", "--port", sim.Device()}).rc, 3);
        EXPECT_EQ(RunCtl({"send", file, "--to", "eeprom", "--port", sim.Device()}).rc, 3);
        EXPECT_EQ(RunCtl({"watch", "--count", "1", "--port", sim.Device()}).rc, 3);
        for (int order : {1, 2, 3, 4, 8})
            EXPECT_EQ(SimRequests(sim, order), 0) << c.firmware << " order " << order;
    }
}

// ---------------------------------------------------------------- get, send, diff

TEST(CtlParams, GetWritesTheWindowsFileAndTheWindowsReadIt) {
    CtlResult r = RunCtl({"get", "--simulate"});
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out, kFactoryFile);

    const std::string f = TempPath("get.dat");
    r = RunCtl({"get", "--from", "eeprom", "-o", f, "--simulate", "--ccdvirtpixel", "1024"});
    ASSERT_EQ(r.rc, 0) << r.err;
    uint16_t words[PNUM];
    ASSERT_EQ(ReadParaFile(f.c_str(), words), 0);
    EXPECT_EQ(words[7], 1024);   // eEnd: the whole line of this sensor
    EXPECT_EQ(words[12], 12800);
}

TEST(CtlParams, RoundTripVerifyAndDiff) {
    SimProcess sim;
    const std::string eeprom = TempPath("sim-eeprom.dat");
    remove(eeprom.c_str());
    ASSERT_TRUE(sim.Start({"--eeprom", eeprom}));
    const std::string a = TempPath("a.dat"), b = TempPath("b.dat");
    ASSERT_EQ(RunCtl({"get", "-o", a, "--port", sim.Device()}).rc, 0);

    // a file the windows wrote, one word changed, goes into RAM and back
    uint16_t words[PNUM];
    ASSERT_EQ(ReadParaFile(a.c_str(), words), 0);
    words[2] = 600;   // vThd
    words[15] = 3;    // trigMode on firmware 252
    ASSERT_EQ(WriteParaFile(b.c_str(), words), 0);
    CtlResult r = RunCtl({"send", b, "--verify", "--port", sim.Device()});
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(SimRequests(sim, 1), 1);

    r = RunCtl({"diff", a, "ram", "--port", sim.Device()});
    EXPECT_EQ(r.rc, 1) << r.err;
    EXPECT_EQ(r.out, " 2 vThd         512   600\n15 trigMode       0     3\n");
    r = RunCtl({"diff", "ram", b, "--port", sim.Device()});
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out, "");
    // RAM changed, EEPROM not
    r = RunCtl({"diff", "eeprom", "ram", "--port", sim.Device()});
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(SplitLines(r.out).size(), 2u) << r.out;

    // to EEPROM: it survives the sensor's restart
    r = RunCtl({"send", b, "--to", "eeprom", "--verify", "--port", sim.Device()});
    EXPECT_EQ(r.rc, 0) << r.err;
    sim.Stop();
    r = RunCtl({"diff", "eeprom", b, "--simulate", "--eeprom", eeprom});
    EXPECT_EQ(r.rc, 0) << r.out << r.err;
    // two files only: word 15 cannot be named by a firmware
    r = RunCtl({"diff", a, b});
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.out, " 2 vThd         512   600\n15 deltaTol/trigMode     0     3\n");
}

TEST(CtlParams, SendPutsTheFileOnTheWireAndVerifyListsWhatTheSensorHolds) {
    ScriptedSensor sensor;
    const std::string f = TempPath("wire.dat");
    WriteFile(f, "1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n12\n65535\n60000\n1024\n43981\n");
    // the sensor keeps a different slope than it was sent
    sensor.SetParams({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 1024, 60000, 1024, 43981});
    CtlResult r = RunCtl({"send", f, "--to", "eeprom", "--verify", "--port", sensor.Device()});
    EXPECT_EQ(r.rc, 1) << r.err;
    EXPECT_EQ(r.out, "12 slope      65535  1024\n");
    EXPECT_NE(r.err.find("1 word(s) differ"), std::string::npos) << r.err;
    // echo, hardware, firmware, then the store with the file's words, then the read-back
    auto req = sensor.Requests();
    ASSERT_EQ(req.size(), 5u);
    EXPECT_EQ(req[3],
              std::string("\x00\x55\x00\x03"
                          "\x00\x01\x00\x02\x00\x03\x00\x04\x00\x05\x00\x06\x00\x07\x00\x08"
                          "\x00\x09\x00\x0A\x00\x0B\x00\x0C\xFF\xFF\xEA\x60\x04\x00\xAB\xCD",
                          36));
    EXPECT_EQ(req[4].substr(0, 4), std::string("\x00\x55\x00\x04", 4));
    EXPECT_EQ(req[0].substr(0, 4), std::string("\x00\x55\x00\x05", 4));
    EXPECT_EQ(req[1].substr(0, 4), std::string("\x00\x55\x00\x0A", 4));
    EXPECT_EQ(req[2].substr(0, 4), std::string("\x00\x55\x00\x07", 4));
}

// A number no parameter word can hold is refused with the file, its line
// and its text before any sensor is touched; the edges go out as they are.
TEST(CtlParams, WordsOutsideTheRangeAreRefusedBeforeTheSensorIsTouched) {
    const std::string f = TempPath("range.dat");
    for (int pos = 0; pos < 16; ++pos) {
        for (const char *bad : kNoParamWords) {
            WriteFile(f, ParamFileWith(pos, bad));
            CtlResult r = RunCtl({"send", f, "--to", "ram", "--verify", "--simulate"});
            EXPECT_EQ(r.rc, 4) << bad << " at " << pos;
            EXPECT_EQ(Unstamped(r.err), "kvex-ctl: " + f + ":" + std::to_string(pos + 1) + ": " +
                                            bad + " is not a parameter word (0..65535)\n");
            EXPECT_EQ(r.out, "");
        }
    }
    SimProcess sim;
    ASSERT_TRUE(sim.Start({}));
    for (const char *bad : kNoParamWords) {
        WriteFile(f, ParamFileWith(5, bad));
        EXPECT_EQ(RunCtl({"send", f, "--to", "eeprom", "--port", sim.Device()}).rc, 4) << bad;
        CtlResult r = RunCtl({"diff", "ram", f, "--port", sim.Device()});
        EXPECT_EQ(r.rc, 4) << bad;
        EXPECT_EQ(Unstamped(r.err),
                  "kvex-ctl: " + f + ":6: " + bad + " is not a parameter word (0..65535)\n");
    }
    // not even the echo went out, and both memories hold the factory set
    EXPECT_EQ(SimRequests(sim, 5), 0);
    EXPECT_EQ(SimRequests(sim, 1) + SimRequests(sim, 3), 0);
    EXPECT_EQ(RunCtl({"get", "--port", sim.Device()}).out, kFactoryFile);
    EXPECT_EQ(RunCtl({"get", "--from", "eeprom", "--port", sim.Device()}).out, kFactoryFile);

    const struct {
        const char *file, *payload;
    } edges[] = {
        {"0\n65535\n0\n65535\n0\n65535\n0\n65535\n0\n65535\n0\n65535\n0\n65535\n0\n65535\n",
         "\x00\x00\xFF\xFF\x00\x00\xFF\xFF\x00\x00\xFF\xFF\x00\x00\xFF\xFF"
         "\x00\x00\xFF\xFF\x00\x00\xFF\xFF\x00\x00\xFF\xFF\x00\x00\xFF\xFF"},
        {"65535 0 65535 0 65535 0 65535 0 65535 0 65535 0 65535 0 65535 0",
         "\xFF\xFF\x00\x00\xFF\xFF\x00\x00\xFF\xFF\x00\x00\xFF\xFF\x00\x00"
         "\xFF\xFF\x00\x00\xFF\xFF\x00\x00\xFF\xFF\x00\x00\xFF\xFF\x00\x00"},
    };
    for (const auto &e : edges) {
        ScriptedSensor sensor;
        WriteFile(f, e.file);
        CtlResult r = RunCtl({"send", f, "--port", sensor.Device()});
        EXPECT_EQ(r.rc, 0) << r.err;
        const auto req = sensor.Requests();
        ASSERT_EQ(req.size(), 4u);
        EXPECT_EQ(req[3], std::string("\x00\x55\x00\x01", 4) + std::string(e.payload, 32));
    }
}

// ---------------------------------------------------------------- watch

TEST(CtlWatch, CsvAndJsonLines) {
    CtlResult r = RunCtl({"watch", "--count", "5", "--simulate", "--noise", "0", "--fast"});
    ASSERT_EQ(r.rc, 0) << r.err;
    auto lines = SplitLines(r.out);
    ASSERT_EQ(lines.size(), 6u) << r.out;
    EXPECT_EQ(lines[0], "time,seq,Ledge,Redge,Mvalue,umValue,edcnt,tVal,tol,valueMm,inTolerance");
    const std::regex stamp(
        R"(20[0-9]{2}-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:[0-6][0-9]\.[0-9]{3}Z)");
    for (int i = 1; i <= 5; ++i) {
        // eMode 1: the right edge; 600 pixels at 12.5 um a pixel, no offset
        std::smatch m;
        ASSERT_TRUE(std::regex_match(
            lines[i], m,
            std::regex("(.*)," + std::to_string(i) + ",400,600,600,7500,2,512,100,7.500,1")))
            << lines[i];
        EXPECT_TRUE(std::regex_match(m[1].str(), stamp)) << lines[i];
    }
    r = RunCtl({"watch", "--count", "3", "--format", "jsonl", "--simulate", "--noise", "0",
                "--object", "100", "300", "--fast"});
    ASSERT_EQ(r.rc, 0) << r.err;
    lines = SplitLines(r.out);
    ASSERT_EQ(lines.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(std::regex_match(
            lines[i], std::regex(R"(\{"time":"[-0-9T:.]+Z","seq":)" + std::to_string(i + 1) +
                                 R"(,"Ledge":100,"Redge":300,"Mvalue":300,"umValue":3750,)"
                                 R"("edcnt":2,"tVal":512,"tol":100,"valueMm":3.750,)"
                                 R"("inTolerance":false\})")))
            << lines[i];
}

TEST(CtlWatch, SigintAndSigtermEndCleanly) {
    for (int sig : {SIGINT, SIGTERM}) {
        CtlChild c;
        ASSERT_TRUE(c.Start({"watch", "--simulate", "--noise", "0"}));
        ASSERT_TRUE(c.WaitFor(",3,", 10.0)) << c.err;
        c.Signal(sig);
        ASSERT_TRUE(c.Wait(5.0));
        EXPECT_EQ(c.rc, 0) << c.err;
        // every line complete
        ASSERT_EQ(c.out.back(), '\n');
        auto lines = SplitLines(c.out);
        ASSERT_GE(lines.size(), 4u);
        for (size_t i = 1; i < lines.size(); ++i)
            EXPECT_TRUE(std::regex_match(
                lines[i],
                std::regex(".*," + std::to_string(i) + ",400,600,600,7500,2,512,100,7.500,1")))
                << lines[i];
    }
}

TEST(CtlWatch, TimingLineSpeedWaitsWithoutBurningACore) {
    const double cpu0 = ChildrenCpuSeconds();
    CtlChild c;
    ASSERT_TRUE(c.Start({"watch", "--count", "40", "--simulate"}));
    auto t0 = Clock::now();
    ASSERT_TRUE(c.Wait(20.0));
    double took = Since(t0);
    EXPECT_EQ(c.rc, 0);
    EXPECT_EQ(SplitLines(c.out).size(), 41u);
    // two 36-byte frames at 19200 baud: about 37 ms a measurement
    EXPECT_GT(took, 40 * 0.035);
    // kvex-ctl and its simulator together
    const double cpu = ChildrenCpuSeconds() - cpu0;
    EXPECT_LT(cpu, 0.25 * took) << "children cpu " << cpu << " s in " << took << " s";
}

TEST(CtlWatch, ASilentSensorIsAskedAgain) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--noise", "0"}));
    CtlChild c;
    ASSERT_TRUE(c.Start({"watch", "--count", "20", "--port", sim.Device()}));
    ASSERT_TRUE(c.WaitFor(",5,", 10.0)) << c.err;
    ASSERT_TRUE(SimDo(sim, "silent on"));
    c.Wait(2.5);
    ASSERT_TRUE(SimDo(sim, "silent off"));
    ASSERT_TRUE(c.Wait(15.0)) << c.err;
    EXPECT_EQ(c.rc, 0);
    auto lines = SplitLines(c.out);
    EXPECT_EQ(lines.size(), 21u);
    EXPECT_NE(c.err.find("Timeout RS232-Line! - asking again"), std::string::npos) << c.err;
    EXPECT_NE(c.err.find("the sensor answers again after"), std::string::npos) << c.err;
}

// The adapter is pulled: the device path goes away with the simulator's
// line and comes back pointing at a new one.
TEST(CtlWatch, PulledAdapterWaitsAndGoesOn) {
    DeviceLink link;
    SimProcess sim1;
    ASSERT_TRUE(sim1.Start({"--noise", "0"}));
    ASSERT_TRUE(link.PointAt(sim1.Device()));
    CtlChild c;
    ASSERT_TRUE(c.Start({"watch", "--count", "40", "--format", "jsonl", "--port", link.Path()}));
    ASSERT_TRUE(c.WaitFor("\"seq\":5,", 10.0)) << c.err;
    ASSERT_TRUE(SimDo(sim1, "close-after 10"));
    ASSERT_NE(sim1.Output(5.0, "line closed").find("line closed"), std::string::npos);
    link.Pull();
    c.Wait(1.5);
    EXPECT_EQ(c.rc, -1) << "ended on a pulled adapter: " << c.err;
    const size_t before = SplitLines(c.out).size();
    SimProcess sim2;
    ASSERT_TRUE(sim2.Start({"--noise", "0", "--fast", "--object", "400", "700"}));
    ASSERT_TRUE(link.PointAt(sim2.Device()));
    ASSERT_TRUE(c.Wait(15.0)) << c.err;
    EXPECT_EQ(c.rc, 0) << c.err;
    auto lines = SplitLines(c.out);
    ASSERT_EQ(lines.size(), 40u);
    EXPECT_LT(before, 40u);
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_NE(lines[i].find("\"seq\":" + std::to_string(i + 1) + ","), std::string::npos)
            << lines[i];
    EXPECT_NE(lines.back().find("\"Redge\":700"), std::string::npos) << lines.back();
    EXPECT_NE(c.err.find("RS-232 port lost!"), std::string::npos) << c.err;
    EXPECT_NE(c.err.find("is back after"), std::string::npos) << c.err;
}

// ---------------------------------------------------------------- record

class CtlRecord : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(StartRidarForTest()); }
};

// The same scene recorded by the windows and by kvex-ctl: the same file,
// but for the date and time.
TEST_F(CtlRecord, SameFileAsTheWindows) {
    const std::vector<std::string> scene = {
        "--noise",       "0",   "--object",       "300", "650", "--ccdtype", "104",
        "--softversion", "249", "--ccdvirtpixel", "3072"};
    SimProcess sim;
    std::vector<std::string> simArgs = scene;
    simArgs.push_back("--exit-on-eof");
    ASSERT_TRUE(sim.Start(simArgs));
    Connect(sim.Device());
    ASSERT_EQ(std::string(szVersion).rfind("K-VEX-XC-SIM", 0), 0u) << szStatus;
    const std::string gui = TempPath("gui.dat"), cli = TempPath("cli.dat");
    remove(gui.c_str());
    snprintf(rec_fname, sizeof rec_fname, "%s", gui.c_str());
    SetCtrlVal(pRecord, RECORD_NUMsample, 3u);
    SetCtrlVal(pRecord, RECORD_NUMinctime, 0u);
    rt_UserClick(pRecord, RECORD_CBTNStartRecord);
    CloseCom(com);

    std::vector<std::string> args = {"record", "--samples", "3", "--increment",
                                     "0",      "-o",        cli, "--simulate"};
    args.insert(args.end(), scene.begin(), scene.end());
    auto t0 = Clock::now();
    CtlResult r = RunCtl(args);
    const double took = Since(t0);
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_NE(r.err.find("DATA-RECORDER COMPLETED SUCCESSFULLY"), std::string::npos);
    // one request a second: the third sample about two seconds in
    EXPECT_GT(took, 1.9);
    EXPECT_LT(took, 5.0);

    const std::string a = ReadFile(gui), b = ReadFile(cli);
    auto afterTime = [](const std::string &s) { return s.substr(s.find("\r\nTime-Increment")); };
    ASSERT_EQ(std::count(a.begin(), a.end(), '\n'), 10) << a;
    EXPECT_EQ(afterTime(b), afterTime(a));
    EXPECT_TRUE(std::regex_search(
        b,
        std::regex(
            "^Date:\t[01][0-9]-[0-3][0-9]-20[0-9]{2}\r\nTime:\t[0-2][0-9]:[0-5][0-9]:[0-5][0-9]\r\n")));
    // scale 512 on this sensor: the slope reads as the factory 12.5
    EXPECT_NE(b.find("Slope-Value [\xB5m/pixel]:\t12.5000\r\n"), std::string::npos) << b;
    EXPECT_NE(b.find("\r\n300\t650\t650\t2\t8125\r\n"), std::string::npos) << b;
}

TEST_F(CtlRecord, ExistingFileNeedsForceAndAStopKeepsCompleteLines) {
    const std::string f = TempPath("keep.dat");
    WriteFile(f, "precious");
    CtlResult r = RunCtl({"record", "--samples", "2", "--increment", "0", "-o", f, "--simulate"});
    EXPECT_EQ(r.rc, 4);
    EXPECT_EQ(ReadFile(f), "precious");

    CtlChild c;
    ASSERT_TRUE(c.Start({"record", "--samples", "100", "--increment", "0", "-o", f, "--force",
                         "--simulate", "--noise", "0"}));
    auto t0 = Clock::now();
    auto lineCount = [&] {
        const std::string t = ReadFile(f);
        return std::count(t.begin(), t.end(), '\n');
    };
    while (lineCount() < 9 && Since(t0) < 10) c.Wait(0.1);
    ASSERT_GE(lineCount(), 9) << c.err;
    c.Signal(SIGTERM);
    ASSERT_TRUE(c.Wait(5.0));
    EXPECT_EQ(c.rc, 0);
    EXPECT_NE(c.err.find("DATA-RECORDER INTERRUPTED!"), std::string::npos) << c.err;
    std::string text = ReadFile(f);
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    auto lines = SplitLines(text);
    ASSERT_GE(lines.size(), 9u);
    for (size_t i = 7; i < lines.size(); ++i) EXPECT_EQ(lines[i], "400\t600\t600\t2\t7500\r");
}

// ---------------------------------------------------------------- broker

TEST(CtlMqtt, UnreachableBrokerExit5) {
    CtlResult r = RunCtl({"watch", "--count", "1", "--mqtt", "mqtt://127.0.0.1:1", "--simulate"});
    EXPECT_EQ(r.rc, 5) << r.err;
    EXPECT_NE(r.err.find("broker mqtt://127.0.0.1:1"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    r = RunCtl({"watch", "--count", "1", "--mqtt", "http://x", "--simulate"});
    EXPECT_EQ(r.rc, 2) << r.err;
}

TEST(CtlMqtt, Qos1EverySequenceNumberInOrderAndRetainedState) {
    Broker broker;
    ASSERT_TRUE(broker.Start());
    Subscriber sub(broker.Port(), "line7/#", "test-qos1");
    ASSERT_TRUE(sub.Connected());
    CtlResult r = RunCtl({"watch", "--count", "300", "--format", "jsonl", "--mqtt", broker.Url(),
                          "--topic", "line7", "--qos", "1", "--simulate", "--fast"});
    ASSERT_EQ(r.rc, 0) << r.err;
    ASSERT_TRUE(sub.WaitCount("line7/measurement", 300, 10.0));
    auto msgs = sub.Messages("line7/measurement");
    ASSERT_EQ(msgs.size(), 300u);
    for (size_t i = 0; i < msgs.size(); ++i)
        ASSERT_NE(msgs[i].find("\"seq\":" + std::to_string(i + 1) + ","), std::string::npos)
            << i << msgs[i];
    // the same messages as on stdout
    auto lines = SplitLines(r.out);
    ASSERT_EQ(lines.size(), 300u);
    EXPECT_EQ(msgs[0], lines[0]);
    EXPECT_EQ(msgs[299], lines[299]);
    ASSERT_TRUE(sub.WaitCount("line7/status", 2, 3.0));
    EXPECT_EQ(sub.Messages("line7/status").front(), "online");
    EXPECT_EQ(sub.Last("line7/status"), "offline");
    EXPECT_NE(sub.Last("line7/identity").find("\"firmware\":\"K-VEX-XC-SIM Firmware V2.52\""),
              std::string::npos);

    // retained: a late subscriber gets the identity and the status at once
    Subscriber late(broker.Port(), "line7/+", "test-late");
    ASSERT_TRUE(late.Connected());
    ASSERT_TRUE(late.WaitCount("line7/status", 1, 3.0));
    EXPECT_EQ(late.Last("line7/status"), "offline");
    EXPECT_TRUE(late.WaitCount("line7/identity", 1, 3.0));
    EXPECT_TRUE(late.Messages("line7/measurement").empty());
}

TEST(CtlMqtt, BrokerAwayFiveSecondsNothingLost) {
    Broker broker;
    ASSERT_TRUE(broker.Start());
    auto sub = std::make_unique<Subscriber>(broker.Port(), "plant/#", "test-restart");
    ASSERT_TRUE(sub->Connected());
    CtlChild c;
    ASSERT_TRUE(c.Start({"watch", "--count", "400", "--format", "jsonl", "--mqtt", broker.Url(),
                         "--topic", "plant", "--qos", "1", "--simulate"}));
    ASSERT_TRUE(c.WaitFor("\"seq\":40,", 10.0)) << c.err;
    broker.Stop();
    std::this_thread::sleep_for(std::chrono::seconds(5));
    ASSERT_TRUE(broker.Start());
    ASSERT_TRUE(c.Wait(30.0)) << c.err << c.out.size();
    EXPECT_EQ(c.rc, 0) << c.err;
    EXPECT_NE(c.err.find("broker away"), std::string::npos) << c.err;
    EXPECT_NE(c.err.find("broker back after"), std::string::npos) << c.err;
    ASSERT_TRUE(sub->WaitCount("plant/measurement", 400, 15.0))
        << sub->Messages("plant/measurement").size() << " " << c.err
        << sub->Messages("plant/measurement")[200];
    // QoS 1 may bring a message twice; each sequence number once after the duplicates go, in order
    std::vector<long> seqs;
    for (const auto &m : sub->Messages("plant/measurement")) {
        long s = std::stol(m.substr(m.find("\"seq\":") + 6));
        if (seqs.empty() || s > seqs.back()) {
            EXPECT_EQ(s, seqs.empty() ? 1 : seqs.back() + 1) << "a measurement lost";
            seqs.push_back(s);
        } else {
            EXPECT_TRUE(std::binary_search(seqs.begin(), seqs.end(), s))
                << "seq " << s << " came after " << seqs.back() << " and not before it";
        }
    }
    ASSERT_EQ(seqs.size(), 400u);
    for (size_t i = 0; i < seqs.size(); ++i) EXPECT_EQ(seqs[i], static_cast<long>(i + 1));
}

TEST(CtlMqtt, FullQueueDropsTheOldestAndSaysSo) {
    Broker broker;
    ASSERT_TRUE(broker.Start());
    auto sub = std::make_unique<Subscriber>(broker.Port(), "q/#", "test-queue");
    ASSERT_TRUE(sub->Connected());
    CtlChild c;
    ASSERT_TRUE(c.Start({"watch", "--count", "150", "--format", "jsonl", "--mqtt", broker.Url(),
                         "--topic", "q", "--queue", "10", "--simulate"}));
    ASSERT_TRUE(c.WaitFor("\"seq\":20,", 10.0)) << c.err;
    broker.Stop();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    ASSERT_TRUE(broker.Start());
    ASSERT_TRUE(c.Wait(30.0)) << c.err;
    // measurements lost on the way to the broker
    EXPECT_EQ(c.rc, 5) << c.err;
    // stdout has them all; the broker all but the dropped ones
    EXPECT_EQ(SplitLines(c.out).size(), 150u);
    std::smatch m;
    ASSERT_TRUE(
        std::regex_search(c.err, m, std::regex("([0-9]+) measurement\\(s\\) dropped in all")))
        << c.err;
    EXPECT_NE(c.err.find("dropped while the broker was away"), std::string::npos) << c.err;
    const long dropped = std::stol(m[1].str());
    EXPECT_GT(dropped, 20);
    ASSERT_TRUE(sub->WaitCount("q/measurement", 150 - static_cast<size_t>(dropped), 10.0));
    std::set<long> got;
    for (const auto &msg : sub->Messages("q/measurement"))
        got.insert(std::stol(msg.substr(msg.find("\"seq\":") + 6)));
    EXPECT_EQ(static_cast<long>(got.size()), 150 - dropped);
    EXPECT_EQ(*got.rbegin(), 150);
    bool statusSaysIt = false;
    for (const auto &st : sub->Messages("q/status"))
        if (st.rfind("online dropped=", 0) == 0) statusSaysIt = true;
    EXPECT_TRUE(statusSaysIt);
    EXPECT_EQ(sub->Last("q/status"), "offline");
}

TEST(CtlMqtt, LastWillWhenKilled) {
    Broker broker;
    ASSERT_TRUE(broker.Start());
    Subscriber sub(broker.Port(), "kvex/status", "test-will");
    ASSERT_TRUE(sub.Connected());
    CtlChild c;
    ASSERT_TRUE(c.Start({"watch", "--mqtt", broker.Url(), "--simulate", "--fast"}));
    ASSERT_TRUE(sub.WaitCount("kvex/status", 1, 10.0));
    EXPECT_EQ(sub.Last("kvex/status"), "online");
    c.Signal(SIGKILL);
    c.Wait(5.0);
    ASSERT_TRUE(sub.WaitCount("kvex/status", 2, 10.0));
    EXPECT_EQ(sub.Last("kvex/status"), "offline");

    // SIGTERM: a clean end says offline itself
    CtlChild t;
    ASSERT_TRUE(t.Start({"watch", "--mqtt", broker.Url(), "--simulate"}));
    ASSERT_TRUE(sub.WaitCount("kvex/status", 3, 10.0));
    EXPECT_EQ(sub.Last("kvex/status"), "online");
    t.Signal(SIGTERM);
    ASSERT_TRUE(t.Wait(5.0));
    EXPECT_EQ(t.rc, 0) << t.err;
    ASSERT_TRUE(sub.WaitCount("kvex/status", 4, 5.0));
    EXPECT_EQ(sub.Last("kvex/status"), "offline");
}

// A broker that lets in only its user: kvex-ctl logs in with the user and
// password from its environment or from a credentials file; a wrong one is
// refused with the broker's reason.
TEST(CtlMqtt, LogsInWithUserAndPassword) {
    Broker broker;
    broker.RequireLogin("plant-7", "s3cret pass");
    ASSERT_TRUE(broker.Start());
    Subscriber sub(broker.Port(), "login/#", "test-login", "plant-7", "s3cret pass");
    ASSERT_TRUE(sub.Connected());
    const std::string file = TempPath("login.txt");
    WriteFile(file, "plant-7:s3cret pass\n");
    ASSERT_EQ(chmod(file.c_str(), 0600), 0);   // a secret others may read is refused
    const std::vector<std::string> watch = {"watch",  "--count",    "5",     "--format", "jsonl",
                                            "--mqtt", broker.Url(), "--qos", "1"};
    auto run = [&](const std::string &topic, const std::vector<std::string> &extra) {
        std::vector<std::string> args = watch;
        args.insert(args.end(), {"--topic", topic});
        args.insert(args.end(), extra.begin(), extra.end());
        args.insert(args.end(), {"--simulate", "--fast"});
        return RunCtl(args);
    };
    setenv("KVEX_MQTT_USER", "plant-7", 1);
    setenv("KVEX_MQTT_PASSWORD", "s3cret pass", 1);
    CtlResult r = run("login/env", {});
    EXPECT_EQ(r.rc, 0) << r.err;
    setenv("KVEX_MQTT_PASSWORD", "wrong", 1);
    CtlResult wrong = run("login/wrong", {});
    unsetenv("KVEX_MQTT_USER");
    unsetenv("KVEX_MQTT_PASSWORD");
    r = run("login/file", {"--mqtt-credentials", file});
    EXPECT_EQ(r.rc, 0) << r.err;
    for (const char *topic : {"login/env/measurement", "login/file/measurement"}) {
        ASSERT_TRUE(sub.WaitCount(topic, 5, 10.0)) << topic;
        const auto msgs = sub.Messages(topic);
        ASSERT_EQ(msgs.size(), 5u) << topic;
        for (size_t i = 0; i < msgs.size(); ++i)
            EXPECT_NE(msgs[i].find("\"seq\":" + std::to_string(i + 1) + ","), std::string::npos)
                << topic << " " << msgs[i];
    }
    EXPECT_EQ(wrong.rc, 5) << wrong.err;
    EXPECT_NE(wrong.err.find("kvex-ctl: broker " + broker.Url() +
                             ": login refused: not authorised; check the user and password\n"),
              std::string::npos)
        << wrong.err;
    EXPECT_TRUE(sub.Messages("login/wrong/measurement").empty());
}

TEST(CtlMqtt, CredentialsFromAFileNeverTheCommandLine) {
    const std::string bad = TempPath("cred.txt");
    WriteFile(bad, "no colon here\n");
    chmod(bad.c_str(), 0600);
    CtlResult r = RunCtl({"watch", "--count", "1", "--mqtt", "mqtt://127.0.0.1:1",
                          "--mqtt-credentials", bad, "--simulate"});
    EXPECT_EQ(r.rc, 4) << r.err;
    EXPECT_NE(r.err.find("user:password"), std::string::npos);
    r = RunCtl(
        {"watch", "--count", "1", "--mqtt", "mqtt://127.0.0.1:1", "--password", "x", "--simulate"});
    EXPECT_EQ(r.rc, 2);
}

}   // namespace

namespace {

// A long logging run with the broker restarted once and the adapter pulled
// once; nothing may be lost. Runs only when KVEX_CTL_SOAK_SECONDS is set.
TEST(CtlSoak, BrokerRestartAndPulledAdapterLoseNothing) {
    const char *env = getenv("KVEX_CTL_SOAK_SECONDS");
    if (!env) GTEST_SKIP() << "set KVEX_CTL_SOAK_SECONDS to run";
    const double total = std::max(30.0, atof(env));
    DeviceLink link;
    Broker broker;
    ASSERT_TRUE(broker.Start());
    Subscriber sub(broker.Port(), "soak/#", "test-soak");
    ASSERT_TRUE(sub.Connected());
    SimProcess sim1, sim2;
    ASSERT_TRUE(sim1.Start({"--motion", "50", "7"}));
    ASSERT_TRUE(link.PointAt(sim1.Device()));
    const double cpu0 = ChildrenCpuSeconds();
    auto t0 = Clock::now();
    CtlChild c;
    ASSERT_TRUE(c.Start({"watch", "--format", "jsonl", "--mqtt", broker.Url(), "--topic", "soak",
                         "--qos", "1", "--port", link.Path()}));
    auto until = [&](double s) {
        while (Since(t0) < s && c.rc < 0) c.Wait(0.2);
    };
    until(total / 3);
    broker.Stop();
    const double brokerDown = Since(t0);
    until(brokerDown + 5);
    ASSERT_TRUE(broker.Start());
    until(2 * total / 3);
    ASSERT_TRUE(SimDo(sim1, "close-after 1"));
    link.Pull();
    const double pulled = Since(t0);
    until(pulled + 3);
    ASSERT_TRUE(sim2.Start({"--motion", "50", "7"}));
    ASSERT_TRUE(link.PointAt(sim2.Device()));
    until(total);
    c.Signal(SIGTERM);
    ASSERT_TRUE(c.Wait(10.0));
    const double took = Since(t0);
    EXPECT_EQ(c.rc, 0) << c.err;
    auto lines = SplitLines(c.out);
    for (size_t i = 0; i < lines.size(); ++i)
        ASSERT_NE(lines[i].find("\"seq\":" + std::to_string(i + 1) + ","), std::string::npos)
            << lines[i];
    ASSERT_TRUE(sub.WaitCount("soak/measurement", lines.size(), 20.0));
    std::set<long> seen;
    long last = 0, outOfOrder = 0, duplicates = 0;
    for (const auto &m : sub.Messages("soak/measurement")) {
        long s = std::stol(m.substr(m.find("\"seq\":") + 6));
        if (!seen.insert(s).second) ++duplicates;
        else if (s < last) ++outOfOrder;
        last = std::max(last, s);
    }
    EXPECT_EQ(seen.size(), lines.size());
    EXPECT_EQ(outOfOrder, 0);
    EXPECT_EQ(sub.Last("soak/status"), "offline");
    EXPECT_EQ(c.err.find("dropped"), std::string::npos) << c.err;
    const double cpu = ChildrenCpuSeconds() - cpu0;
    std::printf(
        "soak: %.0f s, %zu measurements (%.1f/s) on stdout, %zu unique at the broker (%ld duplicates, "
        "%ld out of order); broker down at %.0f s for 5 s, adapter pulled at %.0f s for 3 s; "
        "kvex-ctl %.2f s CPU (%.2f%%)\n",
        took, lines.size(), lines.size() / took, seen.size(), duplicates, outOfOrder, brokerDown,
        pulled, cpu, 100.0 * cpu / took);
    std::printf("soak: kvex-ctl said:\n%s", c.err.c_str());
}

}   // namespace

// The broker address and the credentials line, parsed without a broker.
TEST(CtlMqttText, UrlAcceptsHostAndPortOnly) {
    struct Case {
        const char *url;
        bool ok;
        const char *host;
        int port;
        bool tls;
    };
    const Case cases[] = {
        {"mqtt://localhost", true, "localhost", 1883, false},
        {"mqtt://broker.local:8883/", true, "broker.local", 8883, false},
        {"mqtt://10.0.0.2:1", true, "10.0.0.2", 1, false},
        {"mqtt://h:65535", true, "h", 65535, false},
        {"mqtts://broker.plant", true, "broker.plant", 8883, true},
        {"mqtts://broker.plant:1883/", true, "broker.plant", 1883, true},
        {"mqtt://[::1]:1883", true, "::1", 1883, false},
        {"mqtts://[fe80::2:3]", true, "fe80::2:3", 8883, true},
        {"mqtt://[::1]", true, "::1", 1883, false},
        {"mqtt://::1:1883", false, "", 0, false},
        {"mqtt://[::1]1883", false, "", 0, false},
        {"mqtt://[::1:1883", false, "", 0, false},
        {"mqtt://[not:v6]:1883", false, "", 0, false},
        {"mqtt://[fe80::1%eth0]:1883", false, "", 0, false},
        {"mqtt://[]:1883", false, "", 0, false},
        {"mqtt://h:65536", false, "", 0, false},
        {"mqtt://h:0", false, "", 0, false},
        {"mqtt://h:", false, "", 0, false},
        {"mqtt://h:018830", false, "", 0, false},
        {"mqtt://h:-1", false, "", 0, false},
        {"mqtt://user@h", false, "", 0, false},
        {"mqtt://h/topic", false, "", 0, false},
        {"mqtt://h b", false, "", 0, false},
        {"mqtt://", false, "", 0, false},
        {"mqtts://", false, "", 0, false},
        {"mqtt://:1883", false, "", 0, false},
        {"tcp://h", false, "", 0, false},
        {"MQTT://h", false, "", 0, false},
        {"ssl://h", false, "", 0, false},
        {"", false, "", 0, false},
    };
    for (const Case &c : cases) {
        ctl::BrokerUrl u;
        EXPECT_EQ(ctl::ParseUrl(c.url, u), c.ok) << c.url;
        if (c.ok) {
            EXPECT_EQ(u.host, c.host) << c.url;
            EXPECT_EQ(u.port, c.port) << c.url;
            EXPECT_EQ(u.tls, c.tls) << c.url;
        }
    }
    // the resolver stops at a NUL: what follows it must not pass unseen
    using namespace std::string_literals;
    const std::string withNul[] = {"mqtt://[::\0\0[1]"s, "mqtt://[::1\0]:1883"s,
                                   "mqtt://h\0ost:1883"s};
    for (const std::string &url : withNul) {
        ctl::BrokerUrl u;
        EXPECT_FALSE(ctl::ParseUrl(url, u)) << url.size();
    }
}

TEST(CtlMqttText, CredentialsOneLineUserColonPassword) {
    struct Case {
        const char *text;
        bool ok;
        const char *user;
        const char *pass;
    };
    const Case cases[] = {
        {"operator:s3cret\n", true, "operator", "s3cret"},
        {"operator:s3:cr:et\r\n", true, "operator", "s3:cr:et"},
        {"u:", true, "u", ""},
        {":p", true, "", "p"},
        {"nocolon\n", false, "", ""},
        {"u:p\nsecond:line\n", false, "", ""},
        {"", false, "", ""},
    };
    for (const Case &c : cases) {
        std::string user, pass;
        EXPECT_EQ(ctl::ParseCredentials(c.text, user, pass), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(user, c.user) << c.text;
            EXPECT_EQ(pass, c.pass) << c.text;
        }
    }
}

// ---------------------------------------------------------------- stray bytes, one owner

// Stray bytes before the replies of one order: only true samples, the set
// unchanged, the set-point sent back the true one (each row shows it).
TEST(CtlStray, OnlyTrueSamplesAndTheTrueSet) {
    for (const char *k : {"1", "3", "40"}) {
        SCOPED_TRACE(std::string("stray ") + k);
        const std::vector<std::string> stray = {"--noise", "0", "--fast", "--stray", k};
        auto sim = [&](const char *order) {
            std::vector<std::string> a = {"--simulate"};
            a.insert(a.end(), stray.begin(), stray.end());
            a.insert(a.end(), {"--fault-order", order});
            return a;
        };
        std::vector<std::string> args = {"watch", "--count", "10"};
        for (const std::string &a : sim("8")) args.push_back(a);
        CtlResult r = RunCtl(args);
        ASSERT_EQ(r.rc, 0) << r.err;
        auto lines = SplitLines(r.out);
        ASSERT_EQ(lines.size(), 11u) << r.out;
        for (int i = 1; i <= 10; ++i)
            EXPECT_TRUE(std::regex_match(
                lines[static_cast<size_t>(i)],
                std::regex(".*," + std::to_string(i) + ",400,600,600,7500,2,512,100,7.500,1")))
                << lines[static_cast<size_t>(i)];
        const std::string health =
            "resyncs 10 (bytes dropped " + std::to_string(10 * atoi(k)) + ")";
        EXPECT_NE(r.err.find(health), std::string::npos) << r.err;

        args = {"get"};
        for (const std::string &a : sim("2")) args.push_back(a);
        r = RunCtl(args);
        EXPECT_EQ(r.rc, 0) << r.err;
        EXPECT_EQ(r.out, kFactoryFile);

        const std::string f = TempPath("stray.dat");
        WriteFile(f, "500\n0\n600\n0\n0\n1\n1\n2048\n512\n100\n0\n1\n12800\n30000\n0\n0\n");
        args = {"send", f, "--verify"};
        for (const std::string &a : sim("2")) args.push_back(a);
        r = RunCtl(args);
        EXPECT_EQ(r.rc, 0) << r.err;
        EXPECT_NE(r.err.find("verify: RAM holds the set of"), std::string::npos) << r.err;

        const std::string rec = TempPath("stray-rec.dat");
        remove(rec.c_str());
        args = {"record", "--samples", "2", "--increment", "0", "-o", rec};
        for (const std::string &a : sim("8")) args.push_back(a);
        r = RunCtl(args);
        EXPECT_EQ(r.rc, 0) << r.err;
        const std::string text = ReadFile(rec);
        EXPECT_EQ(text.substr(text.find("E-LEFT")),
                  "E-LEFT\tE-RIGHT\tM-VALUE\tEDGES\tM-VAL[um]\r\n400\t600\t600\t2\t7500\r\n"
                  "400\t600\t600\t2\t7500\r\n");
    }
}

TEST(CtlOwner, ASecondProgramOnABusyPortIsRefused) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--noise", "0"}));
    // each program gives the port back whole: an exclusive mode left on the
    // line (the simulator keeps it open) would refuse every later user but root
    auto exclusive = [&] {
        const int fd = open(sim.Device().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return -errno;
        int on = -1;
        ioctl(fd, TIOCGEXCL, &on);
        close(fd);
        return on;
    };
    CtlChild first;
    ASSERT_TRUE(first.Start({"watch", "--count", "60", "--port", sim.Device()}));
    ASSERT_TRUE(first.WaitFor(",3,", 10.0)) << first.err;

    CtlResult r = RunCtl({"identify", "--port", sim.Device()});
    EXPECT_EQ(r.rc, 3);
    EXPECT_NE(r.err.find("port busy - in use by kvex-ctl (pid " + std::to_string(first.pid)),
              std::string::npos)
        << r.err;

    // the windows are refused too, and say why in the link-health tooltip
    ASSERT_TRUE(StartRidarForTest());
    EXPECT_EQ(OpenComConfig(1, sim.Device().c_str(), 19200, 0, 8, 1, 4096, 4096), -7);
    EXPECT_NE(rt_OpenFault().find("port busy - in use by kvex-ctl"), std::string::npos)
        << rt_OpenFault();

    ASSERT_TRUE(first.Wait(20.0)) << first.err;
    EXPECT_EQ(first.rc, 0);
    EXPECT_EQ(exclusive(), 0);
    auto lines = SplitLines(first.out);
    ASSERT_EQ(lines.size(), 61u);
    for (size_t i = 1; i < lines.size(); ++i)
        EXPECT_TRUE(std::regex_match(lines[i], std::regex(".*," + std::to_string(i) +
                                                          ",400,600,600,7500,2,512,100,7.500,1")))
            << lines[i];

    // and the other way round: the windows hold it, kvex-ctl is refused
    ASSERT_EQ(OpenComConfig(1, sim.Device().c_str(), 19200, 0, 8, 1, 4096, 4096), 0);
    r = RunCtl({"get", "--port", sim.Device()});
    EXPECT_EQ(r.rc, 3);
    EXPECT_NE(r.err.find("port busy - in use by test_ctl"), std::string::npos) << r.err;
    CloseCom(1);
    EXPECT_EQ(exclusive(), 0);
}

// The permission case runs kvex-ctl as nobody when the tests run as root,
// else as the user on a port closed even to its owner.
TEST(CtlOwner, EachReasonForAFailedOpen) {
    const bool root = geteuid() == 0;
    PtyPeer peer;
    ASSERT_EQ(chmod(peer.Device().c_str(), root ? 0600 : 0000), 0);
    // a copy of kvex-ctl that an unprivileged user may run
    char dir[] = "/tmp/ridar-nobody-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    ASSERT_EQ(chmod(dir, 0755), 0);
    const std::string ctl = std::string(dir) + "/kvex-ctl";
    WriteFile(ctl, ReadFile(KVEX_CTL_PATH));
    ASSERT_EQ(chmod(ctl.c_str(), 0755), 0);
    ASSERT_TRUE(!root || access("/usr/bin/setpriv", X_OK) == 0) << "needs setpriv (util-linux)";
    std::vector<std::string> denied;
    if (root) denied = {"--reuid=65534", "--regid=65534", "--clear-groups", ctl};
    denied.insert(denied.end(), {"identify", "--port", peer.Device()});
    struct Case {
        std::string program;
        std::vector<std::string> args;
        std::string says;
    } cases[] = {
        {KVEX_CTL_PATH,
         {"identify", "--port", "/dev/ttyNoSuchPort"},
         "/dev/ttyNoSuchPort: no such device"},
        {KVEX_CTL_PATH, {"identify", "--port", "/dev/null"}, "/dev/null: not a serial line"},
        {root ? "/usr/bin/setpriv" : ctl, denied,
         peer.Device() + ": permission denied - add the user to the group that owns the port "
                         "(usually dialout"},
    };
    for (const Case &c : cases) {
        ChildProcess p;
        ASSERT_TRUE(p.Start(c.program, c.args));
        ASSERT_TRUE(p.Wait(30.0));
        EXPECT_EQ(p.rc, 3) << p.err;
        EXPECT_NE(p.err.find("Cannot open port: " + c.says), std::string::npos) << p.err;
    }
    unlink(ctl.c_str());
    rmdir(dir);
}

// The ports of a machine as sysfs shows them (a fake root here): real ports
// only, each with its stable name.
TEST(CtlPorts, DevicesWithTheirByIdNames) {
    const std::string root = testfs::TempDir("ridar-devroot");
    auto dir = [&](const std::string &d) { std::system(("mkdir -p '" + root + d + "'").c_str()); };
    for (const char *tty : {"ttyUSB0", "ttyS0", "ttyS1", "ttyACM3"})
        dir(std::string("/sys/class/tty/") + tty + "/device");
    dir("/sys/class/tty/console");                          // no device behind it
    WriteFile(root + "/sys/class/tty/ttyS0/type", "0\n");   // a placeholder without a UART
    WriteFile(root + "/sys/class/tty/ttyS1/type", "4\n");
    dir("/dev/serial/by-id");
    ASSERT_EQ(
        symlink("../../ttyUSB0", (root + "/dev/serial/by-id/usb-FTDI_FT232R-if00-port0").c_str()),
        0);
    CtlResult r = RunCtl({"ports"}, 30.0, {"RIDAR_DEV_ROOT=" + root});
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(
        r.out,
        "/dev/ttyACM3\n/dev/ttyS1\n/dev/ttyUSB0  /dev/serial/by-id/usb-FTDI_FT232R-if00-port0\n");
}
