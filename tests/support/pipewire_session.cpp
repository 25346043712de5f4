#include "tests/support/pipewire_session.h"

#include "tests/support/child_process.h"
#include "tests/support/wait_until.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <algorithm>

namespace vistrale::test {
namespace {

constexpr int READY_TIMEOUT_MS = 15000;

} // namespace

PipeWireSession::PipeWireSession(QString address)
    : busAddress(std::move(address))
{
}

PipeWireSession::~PipeWireSession()
{
    for (QProcess* client : clients)
        stopProcess(client);
    clients.clear();
    stopDaemon();
    if (bus)
        stopProcess(bus);
    bus = nullptr;
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
    if (busAddress.isEmpty()) {
        bus = startSessionBus(home.filePath("bus"), environment(), home.path(), &busAddress, error);
        if (!bus)
            return false;
    }
    return startDaemon(error);
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
    daemon = startLogged("pipewire", {}, environment(), home.path());
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
    sessionManager = startLogged("wireplumber", {}, environment(), home.path());
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
        stopProcess(sessionManager);
    sessionManager = nullptr;
    if (daemon)
        stopProcess(daemon);
    daemon = nullptr;
}

QProcess* PipeWireSession::startClient(const QString& program, const QStringList& arguments)
{
    QProcess* client = startLogged(program, arguments, environment(), home.path());
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
    stopProcess(client);
}

int PipeWireSession::run(const QString& program, const QStringList& arguments, QString* standardOutput, int timeoutMs)
{
    return runProgram(program, arguments, environment(), standardOutput, timeoutMs);
}

bool PipeWireSession::hasNode(const QString& nodeName)
{
    QString nodes;
    return run("pw-cli", {"ls", "Node"}, &nodes, 5000) == 0
        && nodes.contains(QString("node.name = \"%1\"").arg(nodeName));
}

} // namespace vistrale::test
