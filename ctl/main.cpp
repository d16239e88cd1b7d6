// kvex-ctl entry: the command line and the connection to the sensor.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ctl/ctl.h"
#include "ctl/modbus.h"
#include "ctl/mqtt.h"

namespace ctl {

int Connect(Sensor &s, const Options &o) {
    std::string device = o.port;
    if (o.simulate) {
        device = StartSimulator(o.simArgs);
        if (device.empty()) {
            Complain("the sensor simulator kvex-sim could not be started");
            return kExitSensor;
        }
    }
    if (device.empty()) {
        Complain("no sensor: give --port DEVICE or --simulate");
        return kExitUsage;
    }
    int rc = OpenAndIdentify(s, device);
    if (rc != kExitOk) Complain(s.status);
    return rc;
}

}   // namespace ctl

namespace {

const char kExitCodes[] =
    "Exit codes: 0 success, 1 a difference found (diff, send --verify), 2 usage,\n"
    "3 sensor or line failure (also a refused series), 4 file failure, 5 broker failure\n"
    "(also a Modbus TCP address that cannot be taken).";

const char kModbusHelp[] =
    "Modbus TCP (register map 1): input registers, function 4, 32-bit values high word first:\n"
    "0-1 measured value in um (signed), 2 measured value in pixels, 3 left edge, 4 right edge,\n"
    "5 number of edges, 6 status (bit 0 sensor answering, 1 within set-point +- tolerance,\n"
    "2 last request timed out, 3 line lost), 7-8 sequence number, 9 age of the measurement in\n"
    "ms (at most 65535), 10 set-point, 11 tolerance (pixels), 12 map version. With\n"
    "--allow-writes, holding registers 0 (set-point) and 1 (tolerance) write the sensor's RAM.";

}   // namespace

int main(int argc, char **argv) {
    using namespace ctl;
    setvbuf(stdout, nullptr, _IOLBF, 0);
    InstallSignals();

    // everything after --simulate belongs to the simulator
    Options o;
    int ownArgs = argc;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--simulate") == 0) {
            o.simulate = true;
            ownArgs = i;
            for (int k = i + 1; k < argc; ++k) o.simArgs.push_back(argv[k]);
            break;
        }
    }

    CLI::App app{
        "kvex-ctl: a K-VEX-XC line sensor from the command line (19200 8N1, as kvex-ridar)",
        "kvex-ctl"};
    app.footer(
        std::string("--simulate [SIMULATOR OPTIONS] (last on the line) starts kvex-sim on a\n"
                    "pseudo-terminal and uses it; the options after it go to the simulator.\n\n") +
        kExitCodes);
    app.set_version_flag("--version", "kvex-ctl (K-VEX-XC-Ridar) " RIDAR_VERSION);
    app.add_option("--port", o.port, "serial device of the sensor, e.g. /dev/serial/by-id/...");
    app.require_subcommand(1);
    app.fallthrough();   // --port may follow the subcommand

    bool json = false;
    auto *identify =
        app.add_subcommand("identify", "echo check, hardware and firmware information");
    identify->add_flag("--json", json, "one JSON object");
    identify->footer(kExitCodes);

    auto *ports = app.add_subcommand(
        "ports", "the serial devices of this machine, with their /dev/serial/by-id names");
    ports->footer("Use the by-id name with --port: it stays the same when adapters are\n"
                  "plugged in another order.");

    std::string from = "ram", to = "ram", out, file, diffA, diffB;
    auto *get =
        app.add_subcommand("get", "the parameter set, as the parameter file the windows write");
    get->add_option("--from", from, "ram or eeprom")
        ->check(CLI::IsMember({"ram", "eeprom"}))
        ->capture_default_str();
    get->add_option("-o,--output", out, "file (default: standard output)");
    get->footer(kExitCodes);

    bool verify = false;
    auto *send = app.add_subcommand("send", "write a parameter file into the sensor");
    send->add_option("FILE", file, "parameter file")->required();
    send->add_option("--to", to, "ram or eeprom")
        ->check(CLI::IsMember({"ram", "eeprom"}))
        ->capture_default_str();
    send->add_flag("--verify", verify,
                   "read the set back from the same place; exit 1 listing each differing word");
    send->footer(kExitCodes);

    auto *diff =
        app.add_subcommand("diff", "compare two parameter sets: ram, eeprom or a file each");
    diff->add_option("A", diffA, "ram, eeprom or FILE")->required();
    diff->add_option("B", diffB, "ram, eeprom or FILE")->required();
    diff->footer(
        std::string("One line per differing word: index, name, value in A, value in B.\n") +
        kExitCodes);

    WatchOptions wo;
    std::string format = "csv";
    MqttOptions mw, mr;
    auto *watch =
        app.add_subcommand("watch", "run mode: one line per measurement on standard output");
    watch
        ->add_option("--count", wo.count,
                     "stop after N measurements (default: until SIGINT/SIGTERM)")
        ->check(CLI::NonNegativeNumber);
    watch->add_option("--format", format, "csv or jsonl")
        ->check(CLI::IsMember({"csv", "jsonl"}))
        ->capture_default_str();
    AddMqttOptions(watch, mw);

    RecordOptions ro;
    auto *record =
        app.add_subcommand("record", "the recorder run: the recorder file the windows write");
    record->add_option("--samples", ro.samples, "number of samples")
        ->required()
        ->check(CLI::Range(1, 65535));
    record->add_option("--increment", ro.increment, "seconds at least between samples")
        ->required()
        ->check(CLI::Range(0, 65535));
    record->add_option("-o,--output", ro.file, "recorder file")->required();
    record->add_flag("--force", ro.force, "overwrite an existing file");
    AddMqttOptions(record, mr);

    ServeOptions so;
    MqttOptions ms;
    std::string configFile;
    auto *serve = app.add_subcommand(
        "serve", "the sensor as a plant service: run mode without end, Modbus TCP and MQTT");
    serve->add_option("--modbus", so.modbus, "serve Modbus TCP clients on HOST:PORT; off: none")
        ->capture_default_str();
    serve->add_flag("--allow-writes", so.allowWrites,
                    "clients may write the set-point and tolerance into the sensor's RAM");
    serve->add_option("--config", configFile,
                      "KEY = VALUE lines for the options (port, modbus, mqtt, topic, ...); "
                      "the command line wins");
    AddMqttOptions(serve, ms);
    serve->footer(std::string(kMqttHelp) + "\n\n" + kModbusHelp + "\n\n" + kExitCodes);

    try {
        app.parse(ownArgs, argv);
    } catch (const CLI::CallForHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        std::string what = e.what();
        Complain(what + " (see kvex-ctl --help)");
        return kExitUsage;
    }
    if (*serve && !configFile.empty()) {
        // the file's options are parsed as if given after the command line's
        std::string text, err;
        if (!ReadSmallFile(configFile, text, err)) {
            Complain(err);
            return kExitFile;
        }
        auto kind = [&](const std::string &key) {
            if (key.empty() || key == "config" || key == "help") return ConfigKey::Unknown;
            CLI::Option *opt = serve->get_option_no_throw("--" + key);
            if (!opt) opt = app.get_option_no_throw("--" + key);
            if (!opt) return ConfigKey::Unknown;
            if (opt->count() > 0) return ConfigKey::Given;
            return opt->get_expected_max() == 0 ? ConfigKey::Flag : ConfigKey::Value;
        };
        std::vector<std::string> args(argv + 1, argv + ownArgs);
        if (!ConfigArgs(configFile, text, kind, args, err)) {
            Complain(err);
            return kExitUsage;
        }
        std::reverse(args.begin(), args.end());   // as CLI11 takes them
        try {
            app.clear();
            app.parse(args);
        } catch (const CLI::ParseError &e) {
            Complain(configFile + ": " + e.what());
            return kExitUsage;
        }
    }
    if (so.modbus == "off") so.modbus.clear();
    std::string host, service;
    if (*serve && !so.modbus.empty() && !lines::SplitHostPort(so.modbus, host, service)) {
        Complain("--modbus " + so.modbus + ": give HOST:PORT, e.g. 127.0.0.1:1502 or [::1]:1502");
        return kExitUsage;
    }
    if (!o.port.empty() && o.simulate) {
        Complain("--port and --simulate exclude each other");
        return kExitUsage;
    }

    Sensor s;
    int rc;
    if (*ports) {
        rc = CmdPorts();
    } else if (*diff) {
        rc = CmdDiff(s, o, diffA, diffB);
    } else {
        // a file that cannot be read or holds a wrong set is found before
        // the sensor is touched
        proto::Words sendWords{};
        if (*send && LoadParamFile(file, sendWords) != kExitOk) {
            StopSimulator();
            return kExitFile;
        }
        // so is a broker option or a recorder file that cannot be
        int early = *watch    ? CheckMqttOptions(mw)
                    : *record ? CheckMqttOptions(mr)
                    : *serve  ? CheckMqttOptions(ms)
                              : kExitOk;
        if (*record && early == kExitOk) early = CheckRecordOutput(ro);
        if (early != kExitOk) {
            StopSimulator();
            return early;
        }
        rc = Connect(s, o);
        if (*identify && s.haveModel && (rc == kExitOk || s.series < 0)) rc = CmdIdentify(s, json);
        else if (rc != kExitOk) {
        } else if (*get) rc = CmdGet(s, from == "eeprom", out);
        else if (*send) rc = CmdSend(s, file, sendWords, to == "eeprom", verify);
        else if (*watch) {
            wo.jsonl = format == "jsonl";
            rc = CmdWatch(s, wo, mw);
        } else if (*record) rc = CmdRecord(s, ro, mr);
        else if (*serve) rc = CmdServe(s, so, ms);
    }
    s.line.Close();
    StopSimulator();
    return rc;
}
