// kvex-ctl and the broker beyond plain loopback: TLS, a login, IPv6, the
// broker options refused before the sensor is touched, the sensor's state,
// lost measurements; and the run's messages (time stamps, record progress).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/support.h"

using testfs::ReadFile;
using testfs::WriteFile;

namespace {

int Run(const std::string &path, const std::vector<std::string> &args) {
    ChildProcess c;
    if (!c.Start(path, args) || !c.Wait(60)) return -1;
    if (c.rc != 0) ADD_FAILURE() << path << " failed: " << c.err;
    return c.rc;
}

// A CA, a broker and a client certificate signed by it, a second CA that
// signed nothing here, and the broker's password file: made once with
// openssl and mosquitto_passwd.
class Pki {
public:
    static const Pki &Get() {
        static Pki p;
        return p;
    }
    std::string dir, error;
    std::string File(const char *name) const { return dir + "/" + name; }

private:
    Pki() {
        for (const char *tool : {"/usr/bin/openssl", "/usr/bin/mosquitto_passwd"})
            if (access(tool, X_OK) != 0) error += std::string(tool) + " is missing; ";
        dir = testfs::TempDir("ridar-pki");
        if (!error.empty() || dir.empty()) return;
        // mosquitto reads its files as its own user
        chmod(dir.c_str(), 0755);
        const std::string ssl = "/usr/bin/openssl";
        auto key = [&](const char *name, const char *subject, const std::string &req) {
            return Run(ssl,
                       {"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                        "-keyout", File(name) + ".key", "-subj", subject, "-out", req});
        };
        auto sign = [&](const char *name, const char *ext) {
            WriteFile(File(name) + ".ext", ext);
            return Run(ssl, {"x509", "-req", "-in", File(name) + ".csr", "-CA", File("ca.crt"),
                             "-CAkey", File("ca.key"), "-CAcreateserial", "-days", "3", "-out",
                             File(name) + ".crt", "-extfile", File(name) + ".ext"});
        };
        int bad = 0;
        for (const char *ca : {"ca", "other"})
            bad |= Run(
                ssl, {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                      "-nodes", "-keyout", File(ca) + ".key", "-subj",
                      std::string("/CN=kvex test ") + ca, "-days", "3", "-out", File(ca) + ".crt"});
        bad |= key("server", "/CN=kvex test broker", File("server.csr"));
        bad |= sign("server", "subjectAltName=IP:127.0.0.1\nextendedKeyUsage=serverAuth\n");
        bad |= key("client", "/CN=kvex-ctl", File("client.csr"));
        bad |= sign("client", "extendedKeyUsage=clientAuth\n");
        bad |= Run(ssl, {"pkey", "-in", File("client.key"), "-aes-128-cbc", "-passout", "pass:kvex",
                         "-out", File("encrypted.key")});
        bad |= Run("/usr/bin/mosquitto_passwd", {"-b", "-c", File("passwd"), "gauge", "s3cret"});
        for (const char *f : {"ca.crt", "server.crt", "server.key", "passwd"})
            chmod(File(f).c_str(), 0644);
        chmod(File("client.key").c_str(), 0600);
        chmod(File("encrypted.key").c_str(), 0600);
        WriteFile(File("good.cred"), "gauge:s3cret\n");
        WriteFile(File("wrong.cred"), "gauge:guess\n");
        chmod(File("good.cred").c_str(), 0600);
        chmod(File("wrong.cred").c_str(), 0600);
        if (bad) error = "the test certificates could not be made";
    }
};

// A TLS listener on Port2() that wants a client certificate and a login,
// on 127.0.0.1 (the name in its certificate) and on 127.0.0.2 (not in it: no
// name lookup needed, which a fresh root may not have).
std::string TlsListener(const Pki &p) {
    std::string both;
    for (const char *at : {"127.0.0.1", "127.0.0.2"})
        both += std::string("listener {port2} ") + at + "\ncafile " + p.File("ca.crt") +
                "\ncertfile " + p.File("server.crt") + "\nkeyfile " + p.File("server.key") +
                "\nrequire_certificate true\nallow_anonymous false\npassword_file " +
                p.File("passwd") + "\n";
    return both;
}

TEST(CtlMqttTls, EachFailureOneLineExit5AndTheRightSetupPublishes) {
    const Pki &p = Pki::Get();
    ASSERT_EQ(p.error, "");
    Broker broker;
    ASSERT_TRUE(broker.Start(TlsListener(p)));
    Subscriber sub(broker.Port(), "tls/#", "test-tls");
    ASSERT_TRUE(sub.Connected());
    const std::string port = std::to_string(broker.Port2());
    const std::string ip = "mqtts://127.0.0.1:" + port, byName = "mqtts://127.0.0.2:" + port;
    struct Case {
        std::string url;
        std::vector<std::string> args;
        int rc;
        std::string says;   // the one line on stderr
        std::string key = "client.key";
    } cases[] = {
        {ip,
         {"--cafile", p.File("other.crt"), "--mqtt-credentials", p.File("good.cred")},
         5,
         "broker " + ip +
             ": the broker's certificate is not trusted: no CA of --cafile or --capath signed it, "
             "or it is out of date"},
        {byName,
         {"--cafile", p.File("ca.crt"), "--mqtt-credentials", p.File("good.cred")},
         5,
         "broker " + byName +
             ": the broker's certificate is not made out to 127.0.0.2 (hostname mismatch)"},
        {ip,
         {"--cafile", p.File("ca.crt"), "--mqtt-credentials", p.File("wrong.cred")},
         5,
         "broker " + ip + ": login refused: not authorised; check the user and password"},
        {ip,
         {"--cafile", p.File("ca.crt")},
         5,
         "broker " + ip +
             ": login refused: not authorised; no user given (KVEX_MQTT_USER and "
             "KVEX_MQTT_PASSWORD, or --mqtt-credentials)"},
        {"mqtt://127.0.0.1:" + port,
         {"--mqtt-credentials", p.File("good.cred")},
         5,
         "broker mqtt://127.0.0.1:" + port +
             ": the broker closed the connection (does it want mqtts://?)"},
        {ip,
         {"--cafile", p.File("ca.crt"), "--mqtt-credentials", p.File("good.cred")},
         5,
         "broker " + ip + ": TLS failed: Error: Unable to load client key file \"" +
             p.File("encrypted.key") + "\". (PEM, not encrypted: kvex-ctl asks for no passphrase)",
         "encrypted.key"},
        {ip, {"--cafile", p.File("ca.crt"), "--mqtt-credentials", p.File("good.cred")}, 0, ""},
    };
    for (auto &c : cases) {
        std::vector<std::string> args = {"watch",  "--count", "3",       "--format", "jsonl",
                                         "--mqtt", c.url,     "--topic", "tls"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        if (c.url.rfind("mqtts", 0) == 0)
            args.insert(args.end(),
                        {"--cert", p.File("client.crt"), "--key", p.File(c.key.c_str())});
        args.insert(args.end(), {"--simulate", "--fast", "--noise", "0"});
        CtlResult r = RunCtl(args);
        EXPECT_EQ(r.rc, c.rc) << c.url << " " << r.err;
        if (c.rc != 0) { EXPECT_EQ(Unstamped(r.err), "kvex-ctl: " + c.says + "\n") << c.url; }
    }
    // the last case went through: the three measurements as stdout has them
    ASSERT_TRUE(sub.WaitCount("tls/measurement", 3, 5.0));
    EXPECT_EQ(sub.Messages("tls/measurement").size(), 3u);
    EXPECT_EQ(sub.Last("tls/status"), "offline");
}

// Without our certificate the broker ends the handshake, and says why.
TEST(CtlMqttTls, ABrokerThatWantsOurCertificateSaysSo) {
    const Pki &p = Pki::Get();
    ASSERT_EQ(p.error, "");
    Broker broker;
    ASSERT_TRUE(broker.Start(TlsListener(p)));
    const std::string url = "mqtts://127.0.0.1:" + std::to_string(broker.Port2());
    CtlResult r = RunCtl({"watch", "--count", "1", "--mqtt", url, "--cafile", p.File("ca.crt"),
                          "--mqtt-credentials", p.File("good.cred"), "--simulate", "--fast"});
    EXPECT_EQ(r.rc, 5);
    EXPECT_TRUE(std::regex_match(
        Unstamped(r.err),
        std::regex("kvex-ctl: broker " + url +
                   ": the broker ended the TLS connection(: [a-z0-9 ]+)? \\(does it want a client "
                   "certificate, --cert and --key\\?\\)\n")))
        << r.err;
}

// No name service at all (a network namespace of our own, inside a user
// namespace unless root): nothing leaves the machine, and the name is unknown.
TEST(CtlMqttTls, UnknownHostOneLineExit5) {
    ASSERT_EQ(access("/usr/bin/unshare", X_OK), 0) << "unshare (util-linux) is missing";
    ChildProcess c;
    ASSERT_TRUE(c.Start("/usr/bin/unshare",
                        {geteuid() == 0 ? "-n" : "-rn", KVEX_CTL_PATH, "watch", "--count", "1",
                         "--mqtt", "mqtts://broker.invalid", "--simulate", "--fast"}));
    ASSERT_TRUE(c.Wait(30));
    ASSERT_NE(c.err.find("unshare: "), 0u)
        << "a network namespace (user namespaces when not root) is needed: " << c.err;
    EXPECT_EQ(c.rc, 5) << c.err;
    EXPECT_TRUE(std::regex_match(Unstamped(c.err),
                                 std::regex("kvex-ctl: broker mqtts://broker.invalid: unknown host "
                                            "broker.invalid \\([A-Za-z ]+\\)\n")))
        << c.err;
}

// Options that are wrong in themselves: refused before the sensor is
// touched (no such port here: a check that let them pass ends with 3).
TEST(CtlMqttOptions, RefusedBeforeTheSensorIsTouched) {
    const Pki &p = Pki::Get();
    ASSERT_EQ(p.error, "");
    const std::string dir = testfs::TempDir("ridar-ctl-mqtt");
    const std::string loose = dir + "/loose.cred", grp = dir + "/group.cred",
                      looseKey = dir + "/loose.key";
    WriteFile(loose, "u:p\n");
    WriteFile(grp, "u:p\n");
    WriteFile(looseKey, ReadFile(p.File("client.key")));
    chmod(loose.c_str(), 0644);
    chmod(grp.c_str(), 0640);
    chmod(looseKey.c_str(), 0604);
    const std::string plain = "mqtt://127.0.0.1:1", tls = "mqtts://127.0.0.1:1";
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> env;
        int rc;
        std::string says;   // "" for none: the options pass, the missing port ends it
    } cases[] = {
        {{"--mqtt-credentials", p.File("good.cred")}, {}, 2, "--mqtt-credentials needs --mqtt"},
        {{"--cafile", p.File("ca.crt")}, {}, 2, "--cafile needs --mqtt"},
        {{"--allow-plaintext-login"}, {}, 2, "--allow-plaintext-login needs --mqtt"},
        {{"--mqtt", plain, "--cafile", p.File("ca.crt")},
         {},
         2,
         "--cafile needs an mqtts:// broker"},
        {{"--mqtt", tls, "--cert", p.File("client.crt")}, {}, 2, "--cert and --key go together"},
        {{"--mqtt", "mqtt://[::1:1883"},
         {},
         2,
         "--mqtt mqtt://[::1:1883: expected mqtt://HOST[:PORT] or mqtts://HOST[:PORT], an IPv6 "
         "address in brackets"},
        {{"--mqtt", plain, "--topic", "a/#"},
         {},
         2,
         "--topic a/#: a topic with a wildcard (+ or #) cannot be published to"},
        {{"--mqtt", plain, "--topic", "a/+/b"},
         {},
         2,
         "--topic a/+/b: a topic with a wildcard (+ or #) cannot be published to"},
        {{"--mqtt", plain, "--topic", "/plant"},
         {},
         2,
         "--topic /plant: a leading / makes an empty first level"},
        {{"--mqtt", plain, "--topic", "plant//line7"},
         {},
         2,
         "--topic plant//line7: an empty level (//)"},
        {{"--mqtt", plain, "--topic", "plant/"}, {}, 2, "--topic plant/: an empty level (//)"},
        {{"--mqtt", plain, "--topic", ""}, {}, 2, "--topic : the topic prefix is empty"},
        {{"--mqtt", plain, "--topic", "$SYS/x"},
         {},
         2,
         "--topic $SYS/x: topics starting with $ belong to the broker"},
        {{"--mqtt", plain, "--topic", "caf\xE9"}, {}, 2, "--topic caf\xE9: not UTF-8 text"},
        {{"--mqtt", plain, "--mqtt-credentials", loose},
         {},
         4,
         loose + ": other users can read it (mode 0644), and it holds a secret; chmod 600 " +
             loose},
        {{"--mqtt", plain, "--mqtt-credentials", grp},
         {},
         4,
         grp + ": its group can read it (mode 0640), and it holds a secret; chmod 600 " + grp},
        {{"--mqtt", tls, "--cert", p.File("client.crt"), "--key", looseKey},
         {},
         4,
         looseKey + ": other users can read it (mode 0604), and it holds a secret; chmod 600 " +
             looseKey},
        {{"--mqtt", tls, "--cafile", dir + "/none.crt"},
         {},
         4,
         dir + "/none.crt: No such file or directory"},
        {{"--mqtt", tls, "--capath", p.File("ca.crt")},
         {},
         4,
         p.File("ca.crt") + ": Not a directory"},
        // a login in clear text leaves this machine only when asked to
        {{"--mqtt", "mqtt://192.0.2.7"},
         {"KVEX_MQTT_USER=gauge"},
         2,
         "--mqtt mqtt://192.0.2.7: the login would cross the network in clear text; use mqtts:// "
         "or give --allow-plaintext-login"},
        {{"--mqtt", "mqtt://plant-broker:1883", "--mqtt-credentials", p.File("good.cred")},
         {},
         2,
         "--mqtt mqtt://plant-broker:1883: the login would cross the network in clear text; use "
         "mqtts:// or give --allow-plaintext-login"},
        {{"--mqtt", "mqtt://192.0.2.7", "--allow-plaintext-login"},
         {"KVEX_MQTT_USER=gauge"},
         3,
         ""},
        {{"--mqtt", "mqtt://192.0.2.7"}, {}, 3, ""},
        {{"--mqtt", "mqtt://127.0.0.9:1"}, {"KVEX_MQTT_USER=gauge"}, 3, ""},
        {{"--mqtt", "mqtt://[::1]:1"}, {"KVEX_MQTT_USER=gauge"}, 3, ""},
        {{"--mqtt", "mqtt://LocalHost"}, {"KVEX_MQTT_USER=gauge"}, 3, ""},
    };
    for (const char *cmd : {"watch", "record"}) {
        for (const auto &c : cases) {
            std::vector<std::string> args = {cmd, "--port", dir + "/ttyNONE"};
            if (std::string(cmd) == "record")
                args.insert(args.end(), {"--samples", "1", "--increment", "0", "-o", dir + "/r.dat",
                                         "--force"});
            args.insert(args.end(), c.args.begin(), c.args.end());
            CtlResult r = RunCtl(args, 30.0, c.env);
            EXPECT_EQ(r.rc, c.rc) << cmd << " " << c.says << r.err;
            if (!c.says.empty()) { EXPECT_EQ(Unstamped(r.err), "kvex-ctl: " + c.says + "\n"); }
        }
    }
}

TEST(CtlMqtt, Ipv6LiteralBroker) {
    Broker broker;
    ASSERT_TRUE(broker.Start("listener {port2} ::1\nallow_anonymous true\n"));
    Subscriber sub(broker.Port(), "v6/measurement", "test-v6");
    ASSERT_TRUE(sub.Connected());
    CtlResult r = RunCtl({"watch", "--count", "3", "--mqtt",
                          "mqtt://[::1]:" + std::to_string(broker.Port2()) + "/", "--topic", "v6",
                          "--simulate", "--fast"});
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_TRUE(sub.WaitCount("v6/measurement", 3, 5.0));
}

// The broker goes and does not come back: what it never got is counted,
// and the run fails.
TEST(CtlMqtt, UndeliveredMeasurementsExit5) {
    Broker broker;
    ASSERT_TRUE(broker.Start());
    CtlChild c;
    ASSERT_TRUE(c.Start({"watch", "--count", "60", "--format", "jsonl", "--mqtt", broker.Url(),
                         "--simulate", "--noise", "0"}));
    ASSERT_TRUE(c.WaitFor("\"seq\":5,", 10.0)) << c.err;
    broker.Stop();
    const long shown = static_cast<long>(std::count(c.out.begin(), c.out.end(), '\n'));
    ASSERT_TRUE(c.Wait(30.0)) << c.err;
    EXPECT_EQ(c.rc, 5) << c.err;
    std::smatch m;
    const std::string err = Unstamped(c.err);
    ASSERT_TRUE(std::regex_search(
        err, m,
        std::regex("\nkvex-ctl: ([0-9]+) measurement\\(s\\) not delivered to the broker\n")))
        << c.err;
    // all of those that came after the broker went, a few more at most
    EXPECT_GE(std::stol(m[1].str()), 60 - shown - 1);
    EXPECT_LE(std::stol(m[1].str()), 60);
}

std::vector<std::string> States(Subscriber &sub) {
    std::vector<std::string> out;
    static const std::regex state(
        R"re(\{"state":"([a-z ]+)","since":"20[0-9]{2}-[0-9]{2}-[0-9]{2}T[0-9:]{8}\.[0-9]{3}Z"\})re");
    for (const std::string &m : sub.Messages("s/sensor")) {
        std::smatch sm;
        out.push_back(std::regex_match(m, sm, state) ? sm[1].str() : "bad: " + m);
    }
    return out;
}

// A silent sensor and a pulled adapter are on the broker, retained, while
// the program itself stays online.
TEST(CtlMqtt, SensorStateRetainedBesideTheStatus) {
    Broker broker;
    ASSERT_TRUE(broker.Start());
    Subscriber sub(broker.Port(), "s/#", "test-state");
    ASSERT_TRUE(sub.Connected());
    DeviceLink link;
    SimProcess sim1, sim2;
    ASSERT_TRUE(sim1.Start({"--noise", "0"}));
    ASSERT_TRUE(link.PointAt(sim1.Device()));
    CtlChild c;
    ASSERT_TRUE(c.Start({"watch", "--format", "jsonl", "--mqtt", broker.Url(), "--topic", "s",
                         "--port", link.Path()}));
    ASSERT_TRUE(c.WaitFor("\"seq\":3,", 10.0)) << c.err;
    ASSERT_TRUE(SimDo(sim1, "silent on"));
    ASSERT_TRUE(sub.WaitCount("s/sensor", 2, 5.0)) << c.err;
    EXPECT_EQ(sub.Last("s/status"), "online");
    ASSERT_TRUE(SimDo(sim1, "silent off"));
    ASSERT_TRUE(sub.WaitCount("s/sensor", 3, 5.0)) << c.err;
    ASSERT_TRUE(SimDo(sim1, "close-after 1"));
    link.Pull();
    ASSERT_TRUE(sub.WaitCount("s/sensor", 4, 5.0)) << c.err;
    ASSERT_TRUE(sim2.Start({"--noise", "0"}));
    ASSERT_TRUE(link.PointAt(sim2.Device()));
    ASSERT_TRUE(sub.WaitCount("s/sensor", 5, 10.0)) << c.err;
    c.Signal(SIGTERM);
    ASSERT_TRUE(c.Wait(5.0));
    EXPECT_EQ(c.rc, 0) << c.err;
    EXPECT_EQ(States(sub), (std::vector<std::string>{"answering", "silent", "answering",
                                                     "line lost", "answering"}));
    // a late subscriber sees the last state at once
    Subscriber late(broker.Port(), "s/sensor", "test-state-late");
    ASSERT_TRUE(late.Connected());
    ASSERT_TRUE(late.WaitCount("s/sensor", 1, 3.0));
    EXPECT_NE(late.Last("s/sensor").find("\"state\":\"answering\""), std::string::npos);
}

// The value in mm and the tolerance verdict (set-point 512 ± 100 pixels, a
// bound inside), on stdout and at the broker alike.
TEST(CtlMqtt, ValueInMmAndTheToleranceVerdict) {
    Broker broker;
    ASSERT_TRUE(broker.Start());
    struct Case {
        const char *edge, *mm;
        bool in;
    } cases[] = {{"410", "5.125", false},
                 {"412", "5.150", true},
                 {"612", "7.650", true},
                 {"614", "7.675", false}};
    for (const Case &c : cases) {
        Subscriber sub(broker.Port(), "t/measurement", std::string("test-tol-") + c.edge);
        ASSERT_TRUE(sub.Connected());
        CtlResult r =
            RunCtl({"watch", "--count", "1", "--format", "jsonl", "--mqtt", broker.Url(), "--topic",
                    "t", "--simulate", "--noise", "0", "--fast", "--object", "100", c.edge});
        ASSERT_EQ(r.rc, 0) << r.err;
        const std::string tail = std::string(",\"valueMm\":") + c.mm +
                                 ",\"inTolerance\":" + (c.in ? "true" : "false") + "}\n";
        ASSERT_GE(r.out.size(), tail.size());
        EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail) << r.out;
        ASSERT_TRUE(sub.WaitCount("t/measurement", 1, 5.0));
        EXPECT_EQ(sub.Last("t/measurement") + "\n", r.out);
    }
}

// ---------------------------------------------------------------- the run's messages

// stderr on a file whose device and inode JOURNAL_STREAM names is the
// journal: no time of our own before the line.
TEST(CtlMessages, TimeStampedUnlessStderrIsTheJournal) {
    const std::string dir = testfs::TempDir("ridar-ctl-mqtt"), errFile = dir + "/stderr";
    struct Case {
        bool journal, otherStream;
    } cases[] = {{false, false}, {true, false}, {true, true}};
    for (const Case &c : cases) {
        const int fd = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        struct stat st;
        ASSERT_EQ(fstat(fd, &st), 0);
        std::vector<std::string> env;
        if (c.journal)
            env.push_back("JOURNAL_STREAM=" + std::to_string(st.st_dev) + ":" +
                          std::to_string(st.st_ino + (c.otherStream ? 1 : 0)));
        else env.push_back("JOURNAL_STREAM=");
        const pid_t pid =
            SpawnChild(KVEX_CTL_PATH, {"send", dir + "/none.dat"}, kDevNull, kDevNull, fd, env);
        close(fd);
        ASSERT_GT(pid, 0);
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_EQ(WEXITSTATUS(status), 4);
        const std::string said = "kvex-ctl: " + dir + "/none.dat: No such file or directory\n";
        const std::string err = ReadFile(errFile);
        if (c.journal && !c.otherStream) {
            EXPECT_EQ(err, said);
        } else {
            EXPECT_EQ(Unstamped(err), said) << err;
        }
    }
}

// On a terminal record says what it does every few seconds; into a pipe
// or a log it does not.
TEST(CtlMessages, RecordProgressOnATerminal) {
    const std::string dir = testfs::TempDir("ridar-ctl-mqtt"), f = dir + "/p.dat";
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    const pid_t pid = SpawnChild(KVEX_CTL_PATH,
                                 {"record", "--samples", "7", "--increment", "0", "-o", f,
                                  "--force", "--simulate", "--noise", "0"},
                                 kDevNull, kDevNull, slave);
    close(slave);
    ASSERT_GT(pid, 0);
    std::string tty;
    char buf[512];
    for (ssize_t n; (n = read(master, buf, sizeof buf)) > 0;)
        tty.append(buf, static_cast<size_t>(n));
    close(master);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0) << tty;
    tty.erase(std::remove(tty.begin(), tty.end(), '\r'), tty.end());
    const std::string err = Unstamped(tty);
    EXPECT_NE(err.find("kvex-ctl: recording 7 sample(s) into " + f + ", one each 0 s at least\n"),
              std::string::npos)
        << err;
    // one request a second: about five samples after five seconds
    EXPECT_TRUE(std::regex_search(
        err, std::regex("\nkvex-ctl: [3-6] of 7 samples in " + f + " \\(last 7\\.500 mm\\)\n")))
        << err;

    CtlResult r = RunCtl({"record", "--samples", "2", "--increment", "0", "-o", f, "--force",
                          "--simulate", "--noise", "0"});
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.err.find("recording"), std::string::npos) << r.err;
}

// -o naming a directory is refused as one, --force or not; --force
// replaces only a file.
TEST(CtlMessages, RecordOutputThatIsNoFile) {
    const std::string dir = testfs::TempDir("ridar-ctl-mqtt"), sub = dir + "/out",
                      fifo = dir + "/fifo";
    ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    struct Case {
        std::string out;
        bool force;
        std::string says;
    } cases[] = {
        {sub, false, sub + ": Is a directory"},
        {sub, true, sub + ": Is a directory"},
        {fifo, false, fifo + ": File already exist - overwrite ? (give --force)"},
        {fifo, true, fifo + ": not a regular file; --force replaces only files"},
    };
    for (const Case &c : cases) {
        std::vector<std::string> args = {"record", "--samples", "1",   "--increment",
                                         "0",      "-o",        c.out, "--simulate"};
        if (c.force) args.insert(args.begin() + 1, "--force");
        CtlResult r = RunCtl(args);
        EXPECT_EQ(r.rc, 4) << c.out;
        EXPECT_EQ(Unstamped(r.err), "kvex-ctl: " + c.says + "\n");
    }
    struct stat st;
    EXPECT_TRUE(stat(sub.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
    EXPECT_TRUE(stat(fifo.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
}

}   // namespace
