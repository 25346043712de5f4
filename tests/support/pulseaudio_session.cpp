#include "tests/support/pulseaudio_session.h"

#include "tests/support/child_process.h"
#include "tests/support/wait_until.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <cmath>

namespace vistrale::test {
namespace {

constexpr int READY_TIMEOUT_MS = 15000;
constexpr int TONE_RATE = 44100;

// A 16-bit mono WAV file of a sine tone.
bool writeTone(const QString& path, double hertz, double seconds)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const auto samples = static_cast<quint32>(seconds * TONE_RATE);
    QDataStream out(&file);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + samples * 2);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(1) << quint32(TONE_RATE) << quint32(TONE_RATE * 2) << quint16(2)
        << quint16(16);
    out.writeRawData("data", 4);
    out << quint32(samples * 2);
    for (quint32 i = 0; i < samples; ++i)
        out << qint16(12000 * std::sin(2 * M_PI * hertz * i / TONE_RATE));
    return out.status() == QDataStream::Ok;
}

} // namespace

PulseAudioSession::PulseAudioSession() = default;

PulseAudioSession::~PulseAudioSession()
{
    for (QProcess* client : clients)
        stopProcess(client);
    clients.clear();
    stopDaemon();
}

QString PulseAudioSession::serverAddress() const
{
    return "unix:" + home.filePath("native");
}

QProcessEnvironment PulseAudioSession::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.insert("XDG_RUNTIME_DIR", home.path());
    env.insert("XDG_CONFIG_HOME", home.filePath(".config"));
    env.insert("PULSE_RUNTIME_PATH", home.filePath("pulse"));
    env.insert("PULSE_STATE_PATH", home.filePath("pulse"));
    env.insert("PULSE_SERVER", serverAddress());
    return env;
}

bool PulseAudioSession::start(QString* error)
{
    for (const char* program : {"pulseaudio", "pactl", "paplay"}) {
        if (QStandardPaths::findExecutable(program).isEmpty()) {
            *error = QString("%1 not installed").arg(program);
            return false;
        }
    }
    if (!home.isValid()) {
        *error = "cannot create a runtime folder: " + home.errorString();
        return false;
    }
    QFile::setPermissions(home.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QDir(home.path()).mkpath(".config");
    QDir(home.path()).mkpath("pulse");
    QFile script(home.filePath("server.pa"));
    if (!script.open(QIODevice::WriteOnly)) {
        *error = "cannot write the server's script";
        return false;
    }
    script.write(QString("load-module module-native-protocol-unix auth-anonymous=1 socket=%1\n"
                         "load-module module-null-sink sink_name=test_sink "
                         "sink_properties=device.description=Test-Sink\n"
                         "set-default-sink test_sink\n"
                         "set-default-source test_sink.monitor\n")
                     .arg(home.filePath("native"))
                     .toUtf8());
    script.close();
    daemon = startLogged("pulseaudio",
        {"-n", "-F", script.fileName(), "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
            "--log-target=stderr"},
        environment(), home.path());
    if (!daemon) {
        *error = "pulseaudio did not start";
        return false;
    }
    const bool ready = waitUntil(
        [this] {
            return daemon->state() != QProcess::Running
                || (QFileInfo::exists(home.filePath("native")) && run("pactl", {"info"}, nullptr, 5000) == 0);
        },
        READY_TIMEOUT_MS);
    if (!ready || daemon->state() != QProcess::Running) {
        *error = "pulseaudio did not answer (see " + home.path() + ")";
        return false;
    }
    return true;
}

void PulseAudioSession::stopDaemon()
{
    if (daemon)
        stopProcess(daemon);
    daemon = nullptr;
}

bool PulseAudioSession::playTone(double hertz, double seconds)
{
    const QString path = home.filePath(QString("tone-%1.wav").arg(clients.size()));
    if (!writeTone(path, hertz, seconds))
        return false;
    // A player with the default two-second buffer makes the null sink render that far
    // ahead, and the monitor then starts late; a short buffer keeps it in real time.
    return playFile(path);
}

bool PulseAudioSession::playFile(const QString& path, int latencyMs)
{
    QProcess* player
        = startLogged("paplay", {QString("--latency-msec=%1").arg(latencyMs), path}, environment(), home.path());
    if (!player)
        return false;
    clients.push_back(player);
    return true;
}

int PulseAudioSession::run(const QString& program, const QStringList& arguments, QString* standardOutput, int timeoutMs)
{
    return runProgram(program, arguments, environment(), standardOutput, timeoutMs);
}

} // namespace vistrale::test
