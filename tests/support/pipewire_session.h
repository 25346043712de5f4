#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <vector>

class QProcess;

namespace vistrale::test {

// A private PipeWire session for one test or benchmark: a session bus (or the one
// given), a fresh runtime folder (mode 0700) and HOME, the `pipewire` daemon and the
// `wireplumber` session manager. Works as root and with no DISPLAY. Everything it
// starts is stopped by process id (SIGTERM, then SIGKILL) when it is destroyed, and
// dies with the test process if that crashes. Main thread.
//
// The in-process camera reaches it through socketPath() (PipeWireCamera's remote);
// child programs through environment().
class PipeWireSession {
public:
    // `busAddress`: a session bus to use instead of starting one.
    explicit PipeWireSession(QString busAddress = {});
    ~PipeWireSession();
    PipeWireSession(const PipeWireSession&) = delete;
    PipeWireSession& operator=(const PipeWireSession&) = delete;

    // Starts the bus, the daemon and the session manager, and waits until the
    // session manager has joined; false with the reason.
    bool start(QString* error);
    // Stops the daemon and the session manager (the bus stays), and starts them again.
    void stopDaemon();
    bool startDaemon(QString* error);

    QString runtimeDir() const { return home.path(); }
    // The daemon's socket, an absolute path.
    QString socketPath() const { return home.filePath("pipewire-0"); }
    QString sessionBusAddress() const { return busAddress; }
    // The system environment with this session's runtime folder, HOME and bus.
    QProcessEnvironment environment() const;

    // Starts a client program in this session; its process (owned by the session,
    // stopped with it), or nullptr when it cannot start. Its output goes to a log file
    // in the runtime folder.
    QProcess* startClient(const QString& program, const QStringList& arguments);
    // Stops one client started here, by process id (SIGTERM, then SIGKILL).
    void stopClient(QProcess* client);
    // Runs a program to completion in this session: its exit status, or -1 when it
    // did not start or finish within timeoutMs.
    int run(
        const QString& program, const QStringList& arguments, QString* standardOutput = nullptr, int timeoutMs = 10000);
    // Whether `pw-cli ls Node` lists a node with this node.name.
    bool hasNode(const QString& nodeName);

private:
    bool waitForSessionManager(QString* error);

    QTemporaryDir home;
    QString busAddress;
    QProcess* bus = nullptr;
    QProcess* daemon = nullptr;
    QProcess* sessionManager = nullptr;
    std::vector<QProcess*> clients;
};

} // namespace vistrale::test
