#include "tests/support/child_process.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <csignal>
#include <sys/prctl.h>

namespace vistrale::test {
namespace {

constexpr int START_TIMEOUT_MS = 15000;
constexpr int TERMINATE_WAIT_MS = 1500;

} // namespace

void dieWithParent()
{
    prctl(PR_SET_PDEATHSIG, SIGTERM);
}

QProcess* startLogged(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment,
    const QString& logDir, bool readOutput)
{
    auto* process = new QProcess;
    process->setProgram(program);
    process->setArguments(arguments);
    process->setProcessEnvironment(environment);
    process->setChildProcessModifier(dieWithParent);
    static int serial = 0;
    const QString log = QDir(logDir).filePath(QString("%1-%2.log").arg(QFileInfo(program).fileName()).arg(++serial));
    process->setStandardErrorFile(log);
    if (!readOutput)
        process->setStandardOutputFile(log, QIODevice::Append);
    process->start();
    if (!process->waitForStarted(START_TIMEOUT_MS)) {
        delete process;
        return nullptr;
    }
    return process;
}

void stopProcess(QProcess* process)
{
    if (process->state() != QProcess::NotRunning) {
        const auto pid = static_cast<pid_t>(process->processId());
        ::kill(pid, SIGTERM);
        if (!process->waitForFinished(TERMINATE_WAIT_MS)) {
            ::kill(pid, SIGKILL);
            process->waitForFinished(TERMINATE_WAIT_MS);
        }
    }
    delete process;
}

int runProgram(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment,
    QString* standardOutput, int timeoutMs)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setProcessEnvironment(environment);
    process.setChildProcessModifier(dieWithParent);
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted(timeoutMs))
        return -1;
    if (!process.waitForFinished(timeoutMs)) {
        ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
        process.waitForFinished(TERMINATE_WAIT_MS);
        return -1;
    }
    if (standardOutput)
        *standardOutput = QString::fromUtf8(process.readAllStandardOutput());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QString firstLine(QProcess* process, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!process->canReadLine() && process->state() == QProcess::Running && timer.elapsed() < timeoutMs)
        process->waitForReadyRead(100);
    return QString::fromUtf8(process->readLine()).trimmed();
}

QProcess* startSessionBus(const QString& socketPath, const QProcessEnvironment& environment, const QString& logDir,
    QString* address, QString* error)
{
    if (QStandardPaths::findExecutable("dbus-daemon").isEmpty()) {
        *error = "dbus-daemon not installed";
        return nullptr;
    }
    // The address is read from the bus's own output.
    QProcess* bus = startLogged("dbus-daemon",
        {"--session", "--nofork", "--print-address", "--address=unix:path=" + socketPath}, environment, logDir, true);
    if (!bus) {
        *error = "dbus-daemon did not start";
        return nullptr;
    }
    *address = firstLine(bus, START_TIMEOUT_MS);
    if (address->isEmpty()) {
        *error = "dbus-daemon printed no address";
        stopProcess(bus);
        return nullptr;
    }
    return bus;
}

} // namespace vistrale::test
