#include "tests/support/pipewire_session.h"

#include "tests/support/wait_until.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <algorithm>
#include <csignal>
#include <sys/prctl.h>

namespace vistrale::test {
namespace {

constexpr int READY_TIMEOUT_MS = 15000;
constexpr int TERMINATE_WAIT_MS = 1500;

// Children die with the test process, even when it crashes.
void dieWithParent()
{
    prctl(PR_SET_PDEATHSIG, SIGTERM);
}

} // namespace

PipeWireSession::PipeWireSession(QString address)
    : busAddress(std::move(address))
{
}

PipeWireSession::~PipeWireSession()
{
    for (QProcess* client : clients)
        stop(client);
    clients.clear();
    stopDaemon();
    if (bus)
        stop(bus);
    bus = nullptr;
}

void PipeWireSession::stop(QProcess* process)
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

QProcessEnvironment PipeWireSession::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString dir = home.path();
    env.insert("HOME", dir);
    env.insert("XDG_RUNTIME_DIR", dir);
    env.insert("PIPEWIRE_RUNTIME_DIR", dir);
    env.insert("XDG_CONFIG_HOME", dir + "/.config");
    env.insert("XDG_STATE_HOME", dir + "/.local/state");
    env.insert("XDG_DATA_HOME", dir + "/.local/share");
    env.remove("PIPEWIRE_REMOTE");
    env.remove("PIPEWIRE_NODE");
    if (!busAddress.isEmpty())
        env.insert("DBUS_SESSION_BUS_ADDRESS", busAddress);
    return env;
}

QProcess* PipeWireSession::launch(const QString& program, const QStringList& arguments)
{
    auto* process = new QProcess;
    process->setProgram(program);
    process->setArguments(arguments);
    process->setProcessEnvironment(environment());
    process->setChildProcessModifier(dieWithParent);
    // Output goes to a log in the runtime folder (a pipe nobody reads would fill up).
    static int serial = 0;
    const QString log = home.filePath(QString("%1-%2.log").arg(QFileInfo(program).fileName()).arg(++serial));
    process->setStandardOutputFile(log);
    process->setStandardErrorFile(log, QIODevice::Append);
    process->start();
    if (!process->waitForStarted(READY_TIMEOUT_MS)) {
        delete process;
        return nullptr;
    }
    return process;
}

bool PipeWireSession::start(QString* error)
{
    QString ignored;
    if (!error)
        error = &ignored;
    if (!home.isValid()) {
        *error = "cannot create a runtime folder: " + home.errorString();
        return false;
    }
    QFile::setPermissions(home.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    for (const char* sub : {".config", ".local/state", ".local/share"})
        QDir(home.path()).mkpath(sub);
    if (busAddress.isEmpty() && !startBus(error))
        return false;
    return startDaemon(error);
}

bool PipeWireSession::startBus(QString* error)
{
    if (QStandardPaths::findExecutable("dbus-daemon").isEmpty()) {
        *error = "dbus-daemon not installed";
        return false;
    }
    // The address is read from the bus's own output, so it is not sent to a log.
    bus = new QProcess;
    bus->setProgram("dbus-daemon");
    bus->setArguments({"--session", "--nofork", "--print-address", "--address=unix:path=" + home.filePath("bus")});
    bus->setProcessEnvironment(environment());
    bus->setChildProcessModifier(dieWithParent);
    bus->setStandardErrorFile(home.filePath("dbus-daemon.log"));
    bus->start();
    if (!bus->waitForStarted(READY_TIMEOUT_MS)) {
        *error = "dbus-daemon did not start";
        return false;
    }
    QElapsedTimer timer;
    timer.start();
    while (!bus->canReadLine() && bus->state() == QProcess::Running && timer.elapsed() < READY_TIMEOUT_MS)
        bus->waitForReadyRead(100);
    busAddress = QString::fromUtf8(bus->readLine()).trimmed();
    if (busAddress.isEmpty()) {
        *error = "dbus-daemon printed no address";
        return false;
    }
    return true;
}

bool PipeWireSession::startDaemon(QString* error)
{
    QString ignored;
    if (!error)
        error = &ignored;
    for (const char* program : {"pipewire", "wireplumber", "pw-cli"}) {
        if (QStandardPaths::findExecutable(program).isEmpty()) {
            *error = QString("%1 not installed").arg(program);
            return false;
        }
    }
    // A socket left by a daemon that was killed would read as ready.
    QFile::remove(socketPath());
    daemon = launch("pipewire", {});
    if (!daemon) {
        *error = "pipewire did not start";
        return false;
    }
    if (!waitUntil([this] { return QFileInfo::exists(socketPath()) || daemon->state() != QProcess::Running; },
            READY_TIMEOUT_MS)
        || daemon->state() != QProcess::Running) {
        *error = "pipewire made no socket (see " + home.path() + ")";
        return false;
    }
    sessionManager = launch("wireplumber", {});
    if (!sessionManager) {
        *error = "wireplumber did not start";
        return false;
    }
    return waitForSessionManager(error);
}

bool PipeWireSession::waitForSessionManager(QString* error)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < READY_TIMEOUT_MS) {
        if (sessionManager->state() != QProcess::Running) {
            *error = QString("wireplumber exited with status %1 (see %2)")
                         .arg(sessionManager->exitCode())
                         .arg(home.path());
            return false;
        }
        QString clients;
        if (run("pw-cli", {"ls", "Client"}, &clients, 5000) == 0 && clients.contains("\"WirePlumber\""))
            return true;
        waitUntil([] { return false; }, 50);
    }
    *error = "wireplumber did not join the session";
    return false;
}

void PipeWireSession::stopDaemon()
{
    if (sessionManager)
        stop(sessionManager);
    sessionManager = nullptr;
    if (daemon)
        stop(daemon);
    daemon = nullptr;
}

QProcess* PipeWireSession::startClient(const QString& program, const QStringList& arguments)
{
    QProcess* client = launch(program, arguments);
    if (client)
        clients.push_back(client);
    return client;
}

void PipeWireSession::stopClient(QProcess* client)
{
    const auto found = std::find(clients.begin(), clients.end(), client);
    if (found == clients.end())
        return;
    clients.erase(found);
    stop(client);
}

int PipeWireSession::run(const QString& program, const QStringList& arguments, QString* standardOutput, int timeoutMs)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setProcessEnvironment(environment());
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

bool PipeWireSession::hasNode(const QString& nodeName)
{
    QString nodes;
    return run("pw-cli", {"ls", "Node"}, &nodes, 5000) == 0
        && nodes.contains(QString("node.name = \"%1\"").arg(nodeName));
}

} // namespace vistrale::test
