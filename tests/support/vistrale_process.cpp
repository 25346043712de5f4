#include "tests/support/vistrale_process.h"

#include <QJsonDocument>

#include "tests/support/wait_until.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <csignal>
#include <sys/prctl.h>

namespace vistrale::test {
namespace {

void dieWithTest()
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
}

} // namespace

VistraleProcess::VistraleProcess(VirtualDesktop& desktop)
    : desktop(desktop)
    , logPath(QDir(desktop.homeDir()).filePath("vistrale-output.log"))
{
}

VistraleProcess::~VistraleProcess()
{
    stop();
}

QString VistraleProcess::settingsPath() const
{
    return QDir(desktop.homeDir()).filePath("Vistrale/Vistrale.ini");
}

void VistraleProcess::writeSettings(const QStringList& lines)
{
    QDir(desktop.homeDir()).mkpath("Vistrale");
    QFile file(settingsPath());
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(("[General]\n" + lines.join('\n') + "\n").toUtf8());
}

std::optional<QString> VistraleProcess::setting(const QString& key) const
{
    QSettings settings(settingsPath(), QSettings::IniFormat);
    if (!settings.contains(key))
        return std::nullopt;
    return settings.value(key).toString();
}

bool VistraleProcess::start(QString* error, const QStringList& arguments)
{
    process = std::make_unique<QProcess>();
    QProcessEnvironment environment = desktop.environment();
    environment.insert("VISTRALE_TRACE_DIALOGS", "1");
    QDir(desktop.homeDir()).mkpath("diagnostics");
    environment.insert("VISTRALE_DIAGNOSTICS_DIR", diagnosticsDir());
    environment.insert(extraEnvironment);
    process->setProcessEnvironment(environment);
    process->setProgram(program);
    process->setArguments(arguments);
    process->setStandardOutputFile(logPath, QIODevice::Append);
    process->setStandardErrorFile(logPath + ".err", QIODevice::Append);
    process->setChildProcessModifier(dieWithTest);
    process->start();
    if (!process->waitForStarted(10000)) {
        *error = "cannot start " + program;
        return false;
    }
    if (!waitUntil([this] { return previewWindow().has_value(); }, 15000)) {
        *error = "no preview window appeared; output: " + output();
        return false;
    }
    return true;
}

int VistraleProcess::runSecondStart(const QStringList& arguments, QString* out)
{
    QProcess second;
    QProcessEnvironment environment = desktop.environment();
    second.setProcessEnvironment(environment);
    second.setProcessChannelMode(QProcess::MergedChannels);
    second.setChildProcessModifier(dieWithTest);
    second.start(program, arguments);
    if (!second.waitForStarted(10000))
        return -1;
    const bool finished = waitUntil([&] { return second.state() == QProcess::NotRunning; }, 15000);
    *out = QString::fromUtf8(second.readAll());
    if (!finished) {
        second.kill();
        second.waitForFinished(2000);
        return -1;
    }
    return second.exitCode();
}

void VistraleProcess::stop()
{
    if (!process || process->state() == QProcess::NotRunning)
        return;
    process->terminate();
    if (!process->waitForFinished(3000)) {
        process->kill();
        process->waitForFinished(3000);
    }
}

int VistraleProcess::quit(int timeoutMs)
{
    if (!process || process->state() == QProcess::NotRunning)
        return -1;
    process->terminate();
    if (!process->waitForFinished(timeoutMs)) {
        stop();
        return -1;
    }
    return process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
}

QString VistraleProcess::errorOutput() const
{
    QFile file(logPath + ".err");
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

qint64 VistraleProcess::pid() const
{
    return process ? process->processId() : -1;
}

QString VistraleProcess::output() const
{
    QFile file(logPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

std::optional<QString> VistraleProcess::waitForLine(const QString& prefix, int timeoutMs)
{
    std::optional<QString> found;
    waitUntil(
        [&] {
            for (const QString& line : output().split('\n'))
                if (line.startsWith(prefix)) {
                    found = line;
                    return true;
                }
            return false;
        },
        timeoutMs);
    return found;
}

std::optional<quint32> VistraleProcess::previewWindow()
{
    QString out;
    if (desktop.run("xdotool", {"search", "--onlyvisible", "--name", "^Vistrale Preview$"}, &out, 3000) != 0)
        return std::nullopt;
    bool ok = false;
    const quint32 id = out.section('\n', 0, 0).trimmed().toUInt(&ok);
    return ok ? std::optional(id) : std::nullopt;
}

std::optional<QRect> VistraleProcess::windowGeometry(quint32 window)
{
    QString out;
    if (desktop.run("xwininfo", {"-id", QString::number(window)}, &out, 3000) != 0)
        return std::nullopt;
    auto number = [&](const char* label) {
        const QRegularExpression pattern(QString(label) + R"(:\s+(-?\d+))");
        return pattern.match(out).captured(1).toInt();
    };
    return QRect(number("Absolute upper-left X"), number("Absolute upper-left Y"), number("Width"), number("Height"));
}

bool VistraleProcess::isMapped(quint32 window)
{
    QString out;
    return desktop.run("xwininfo", {"-id", QString::number(window)}, &out, 3000) == 0
        && out.contains("Map State: IsViewable");
}

QString VistraleProcess::diagnosticsDir() const
{
    return QDir(desktop.homeDir()).filePath("diagnostics");
}

QString VistraleProcess::diagnostics(const QString& method, const QStringList& arguments, int timeoutMs)
{
    QString out;
    desktop.run("dbus-send",
        QStringList{"--session", "--print-reply", "--dest=com.quorvia.vistrale", "/Diagnostics",
            "com.quorvia.vistrale.Diagnostics." + method}
            + arguments,
        &out, timeoutMs);
    return out;
}

QImage VistraleProcess::outputPicture()
{
    const QString name = "output-picture.png";
    const QString path = QDir(diagnosticsDir()).filePath(name);
    QFile::remove(path);
    if (!diagnostics("WriteOutputPicture", {"string:" + name}, 5000).contains("boolean true"))
        return {};
    return QImage(path);
}

QJsonObject VistraleProcess::statistics()
{
    const QString out = diagnostics("Statistics");
    const int start = out.indexOf('{');
    const int end = out.lastIndexOf('}');
    if (start < 0 || end < start)
        return {};
    return QJsonDocument::fromJson(out.mid(start, end - start + 1).toUtf8()).object();
}

bool VistraleProcess::triggerMenuItem(int tag)
{
    return diagnostics("TriggerMenuItem", {"int32:" + QString::number(tag)}).contains("boolean true");
}

} // namespace vistrale::test
