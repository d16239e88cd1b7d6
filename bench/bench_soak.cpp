// Soak: run mode against kvex-sim --fast for a long time while the sensor
// misbehaves at random (silence, late, short, extra or garbage answers,
// wrong sync, falling silent, the adapter pulled out and put back) and the
// operator stops and restarts. Prints frames, time-outs, restarts of the
// loop, reconnects and the resident memory at the start and the end.
//
//   bench_soak [--minutes M] [--seed S]      (default 10 minutes)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include "tests/support/program.h"
#include "tests/support/sim.h"
#include "rt/rt_testing.h"
#include "app/app.h"
#include "link/frame.h"
#include "params/vars.h"

namespace {

long RssKb() {
    FILE *f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, "VmRSS:", 6) == 0) kb = std::atol(line + 6);
    std::fclose(f);
    return kb;
}

std::mt19937 rng;
std::unique_ptr<SimProcess> sim;
std::string linkPath;
bool done = false;
long faultsApplied = 0, operatorStops = 0, unplugs = 0;

int Rand(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

bool StartSim() {
    auto s = std::make_unique<SimProcess>();
    if (!s->Start({"--fast", "--seed", std::to_string(Rand(1, 1000000)), "--noise", "2"}))
        return false;
    std::string tmp = linkPath + ".new";
    unlink(tmp.c_str());
    if (symlink(s->Device().c_str(), tmp.c_str()) != 0 ||
        rename(tmp.c_str(), linkPath.c_str()) != 0)
        return false;
    sim = std::move(s);
    return true;
}

// Something happens every 0.5 to 4 s.
void Misbehave() {
    if (done) return;
    if (sim) {
        sim->Output();   // keep its output pipe drained
        static const char *const kFaults[] = {
            "faults-off", "faults-off", "faults-off", "silent on",   "late 1400",
            "late 1600",  "short 20",   "extra 5",    "garbage 0.2", "bad-sync 0x00AB"};
        const int pick = Rand(0, 21);
        if (pick < 10) {
            sim->Command(kFaults[pick]);
            ++faultsApplied;
        } else if (pick < 13) {
            sim->Command("silent-after " + std::to_string(Rand(0, 200)));
            ++faultsApplied;
        } else if (pick < 17) {
            if (stop_flag == STOP_RUNNING) {
                ++operatorStops;
                rt_UserClick(pHandle, PANEL_BTNStop);
            }
        } else if (pick == 17) {
            sim->Command("close-after " + std::to_string(Rand(1, 30)));
            ++unplugs;
        }
    }
    rt_After(Rand(500, 4000) / 1000.0, Misbehave);
}

}   // namespace

int main(int argc, char **argv) {
    double minutes = 10;
    unsigned seed = static_cast<unsigned>(time(nullptr));
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--minutes") && i + 1 < argc) minutes = std::atof(argv[++i]);
        else if (!std::strcmp(argv[i], "--seed") && i + 1 < argc)
            seed = static_cast<unsigned>(std::atol(argv[++i]));
    }
    rng.seed(seed);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (!StartRidarForTest()) {
        std::fprintf(stderr, "soak: the program did not start\n");
        return 1;
    }
    char dir[] = "/tmp/ridar-soak-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    linkPath = std::string(dir) + "/ttyKVEX0";
    if (!StartSim()) {
        std::fprintf(stderr, "soak: kvex-sim did not start\n");
        return 1;
    }
    rt_SetPortTable({linkPath});
    com = 1;
    InitRS232(com);
    InitGUI();

    const long rss0 = RssKb();
    const double t0 = Now(), cpu0 = CpuSeconds(), end = t0 + minutes * 60.0;
    long runs = 0, timeouts = 0, reconnects = 0, frames = 0;
    double longestRun = 0, nextReport = t0 + 60;
    const long framesAtStart = rt_LinkStats().framesNotified;
    std::printf("soak: %.1f min, seed %u, RSS at start %ld kB\n", minutes, seed, rss0);
    std::fflush(stdout);
    rt_After(1.0, Misbehave);

    while (Now() < end) {
        if (rt_PortLost(com)) {
            // the adapter comes back; the operator picks the port again
            rt_After(0.02, [] { QuitUserInterface(0); });
            RunUserInterface();
            if (!StartSim()) {
                std::fprintf(stderr, "soak: kvex-sim did not start again\n");
                return 1;
            }
            rt_UserOpenRing(pHandle, PANEL_DropDCom);
            rt_UserSetVal(pHandle, PANEL_DropDCom, 1);
            ++reconnects;
            continue;
        }
        ++runs;
        const double r0 = Now();
        rt_UserClick(pHandle, PANEL_BTNRun);
        const double took = Now() - r0;
        if (took > longestRun) longestRun = took;
        if (StatusLine() == "Timeout RS232-Line!") ++timeouts;
        // a moment of the idle event loop between runs
        rt_After(0.05, [] { QuitUserInterface(0); });
        RunUserInterface();
        if (Now() >= nextReport) {
            nextReport += 60;
            std::printf(
                "soak: %5.1f min  runs %ld  frames %ld  time-outs %ld  reconnects %ld  RSS %ld kB\n",
                (Now() - t0) / 60.0, runs, rt_LinkStats().framesNotified - framesAtStart, timeouts,
                reconnects, RssKb());
            std::fflush(stdout);
        }
    }
    done = true;
    frames = rt_LinkStats().framesNotified - framesAtStart;
    const long rss1 = RssKb();
    const double elapsed = Now() - t0, cpu = CpuSeconds() - cpu0;
    std::printf("soak: done after %.1f min\n", elapsed / 60.0);
    std::printf("  frames            %ld (%.0f/s)\n", frames, frames / elapsed);
    std::printf("  runs of the loop  %ld (restarts %ld), longest %.1f s\n", runs,
                runs > 0 ? runs - 1 : 0, longestRun);
    std::printf("  time-outs         %ld\n", timeouts);
    std::printf("  operator stops    %ld\n", operatorStops);
    std::printf("  faults applied    %ld, adapter pulled %ld, reconnects %ld\n", faultsApplied,
                unplugs, reconnects);
    std::printf("  CPU               %.1f s (%.0f %% of one core)\n", cpu, 100.0 * cpu / elapsed);
    std::printf("  RSS               %ld kB at start, %ld kB at end (%+ld kB)\n", rss0, rss1,
                rss1 - rss0);
    CloseCom(com);
    sim.reset();
    unlink(linkPath.c_str());
    rmdir(dir);
    return 0;
}
