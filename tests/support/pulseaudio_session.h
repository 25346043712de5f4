#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <vector>

class QProcess;

namespace vistrale::test {

// A private PulseAudio server for one test or benchmark: a fresh runtime folder, the
// `pulseaudio` daemon with no default modules, a socket of its own that anyone may
// use, and one null sink "Test-Sink" whose monitor is the default input (a tone played
// into the sink is what a recorder of the default input hears). Works as root and
// with no session bus. Everything it starts is stopped by process id (SIGTERM, then
// SIGKILL) when it is destroyed, and dies with the test process. Main thread.
//
// In-process clients reach it through serverAddress() (PULSE_SERVER); child programs
// through environment().
class PulseAudioSession {
public:
    PulseAudioSession();
    ~PulseAudioSession();
    PulseAudioSession(const PulseAudioSession&) = delete;
    PulseAudioSession& operator=(const PulseAudioSession&) = delete;

    // Starts the daemon and waits until it answers; false with the reason.
    bool start(QString* error);
    // Stops the daemon (the server goes away under its clients).
    void stopDaemon();

    // "unix:" and the socket's path.
    QString serverAddress() const;
    // The system environment with this server, runtime folder and HOME.
    QProcessEnvironment environment() const;

    // Plays a sine tone of `hertz` into the sink for `seconds`, in the background.
    // False when paplay cannot start.
    bool playTone(double hertz, double seconds);
    // Plays a sound file into the sink, in the background, with the player's buffer
    // (a short one keeps the sink in real time; a long one survives a busy machine).
    // False when paplay cannot start.
    bool playFile(const QString& path, int latencyMs = 20);
    // Runs a program to completion with this server: its exit status, or -1 when it
    // did not start or finish within timeoutMs.
    int run(
        const QString& program, const QStringList& arguments, QString* standardOutput = nullptr, int timeoutMs = 10000);

private:
    QTemporaryDir home;
    QProcess* daemon = nullptr;
    std::vector<QProcess*> clients;
};

} // namespace vistrale::test
