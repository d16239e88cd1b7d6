// The simulated sensor as a child process: kvex-sim on a pseudo-terminal.
#include "rt/rt.h"
#include "fileio/fileio.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStringList>

#include <csignal>
#include <cstdlib>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

QProcess *g_sim = nullptr;
pid_t g_simPid = 0;

double Now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

QString SimProgram() { return QString::fromStdString(fileio::FindProgram("kvex-sim")); }

// Last resort when the process ends without Qt's teardown (exit()).
void KillAtExit() {
    if (g_simPid > 0) {
        kill(g_simPid, SIGTERM);
        for (int i = 0; i < 100; ++i) {
            if (waitpid(g_simPid, nullptr, WNOHANG) != 0) break;
            usleep(10000);
        }
        g_simPid = 0;
    }
}

void StopWithQt() { rt_StopSimulator(); }

}   // namespace

std::string rt_StartSimulator(const std::vector<std::string> &args) {
    rt_StopSimulator();
    if (!QCoreApplication::instance()) return {};
    QString program = SimProgram();
    if (program.isEmpty()) return {};

    static bool hooked = false;
    if (!hooked) {
        hooked = true;
        std::atexit(KillAtExit);
        qAddPostRoutine(StopWithQt);
    }

    auto *proc = new QProcess();
    QStringList qargs;
    for (const auto &a : args) qargs << QString::fromStdString(a);
    proc->setProgram(program);
    proc->setArguments(qargs);
    proc->setReadChannel(QProcess::StandardOutput);
    // the simulator's diagnostics belong with ours
    proc->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const pid_t parent = getpid();
    proc->setChildProcessModifier([parent] {
        // end with us, even when we are killed
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(1);
    });
    proc->start(QIODevice::ReadWrite);
    if (!proc->waitForStarted(5000)) {
        delete proc;
        return {};
    }
    g_sim = proc;
    g_simPid = static_cast<pid_t>(proc->processId());

    std::string device;
    const double deadline = Now() + 5.0;
    while (!proc->canReadLine()) {
        int ms = static_cast<int>((deadline - Now()) * 1000.0);
        if (ms <= 0 || proc->state() != QProcess::Running) break;
        proc->waitForReadyRead(ms);
    }
    if (proc->canReadLine()) device = proc->readLine(4096).trimmed().toStdString();
    if (device.empty()) {
        rt_StopSimulator();
        return {};
    }
    // later output is not ours to read, but must not fill the pipe
    QObject::connect(proc, &QProcess::readyReadStandardOutput, proc,
                     [proc] { proc->readAllStandardOutput(); });
    return device;
}

void rt_StopSimulator(void) {
    QProcess *proc = g_sim;
    g_sim = nullptr;
    if (!proc) return;
    QObject::disconnect(proc, nullptr, nullptr, nullptr);
    if (proc->state() != QProcess::NotRunning) {
        proc->terminate();
        if (!proc->waitForFinished(2000)) {
            proc->kill();
            proc->waitForFinished(2000);
        }
    }
    g_simPid = 0;
    delete proc;
}
