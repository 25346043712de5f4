#include "camera/camera_activation.h"

#include "camera/camera_setup_status.h"
#include "camera/loopback_state.h"
#include "camera/trusted_program.h"
#include "platform/log.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QObject>
#include <QProcess>
#include <optional>

namespace vistrale {
namespace {

// Longest reason taken from a program's output into an alert.
constexpr int MAX_REASON = 300;
// modinfo answers in milliseconds; this only bounds a hung one.
constexpr int MODINFO_TIMEOUT_MS = 2000;

// The first line of a program's output, without control characters and cut short: the
// output is not ours and ends up in an alert.
QString firstLine(const QString& text)
{
    QString line = text.section(QLatin1Char('\n'), 0, 0).trimmed();
    line.removeIf([](QChar c) { return c.category() == QChar::Other_Control || c.category() == QChar::Other_Format; });
    if (line.size() > MAX_REASON)
        line = line.left(MAX_REASON) + QStringLiteral("…");
    return line;
}

QString withDetail(const QString& reason, const QString& output)
{
    const QString detail = firstLine(output);
    return detail.isEmpty() ? reason : reason + QStringLiteral(": ") + detail;
}

// What modinfo prints about v4l2loopback with `options` before the module's name;
// none when it fails, is missing or hangs.
std::optional<QByteArray> askModinfo(const QString& modinfo, QStringList options)
{
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    options.append(QStringLiteral("v4l2loopback"));
    process.start(modinfo, options);
    if (!process.waitForFinished(MODINFO_TIMEOUT_MS)) {
        process.kill();
        process.waitForFinished(MODINFO_TIMEOUT_MS);
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput().left(1024);
}

// The version of the module a modprobe would load now.
QString availableVersion(const QString& modinfo)
{
    const std::optional<QByteArray> version = askModinfo(modinfo, {QStringLiteral("-F"), QStringLiteral("version")});
    return version ? firstLine(QString::fromUtf8(*version)) : QString();
}

QString orUnknown(const QString& version)
{
    return version.isEmpty() ? QStringLiteral("unknown") : version;
}

} // namespace

bool loopbackModuleAvailable(const QString& modinfo)
{
    return askModinfo(modinfo, {QStringLiteral("-n")}).has_value();
}

CameraSetupPaths defaultCameraSetupPaths()
{
    const QString program = QLatin1String(CAMERA_SETUP_PROGRAM);
    const QString folder = QCoreApplication::applicationDirPath();
    QStringList candidates{folder + QStringLiteral("/../libexec/vistrale/") + program};
    // A developer's root-owned copy of the helper, for a build tree.
    const QString named = qEnvironmentVariable("VISTRALE_CAMERA_SETUP");
    if (!named.isEmpty() && QFileInfo(named).fileName() == program)
        candidates.append(named);
    candidates.append(folder + QLatin1Char('/') + program);
    CameraSetupPaths paths;
    paths.helper = candidates.last();
    for (const QString& candidate : candidates) {
        if (QFileInfo(candidate).isFile()) {
            paths.helper = QFileInfo(candidate).absoluteFilePath();
            break;
        }
    }
    return paths;
}

CameraActivation::CameraActivation(PrivilegedRunner& runner, Dialogs& dialogs, CameraSetupPaths paths)
    : runner(runner)
    , dialogs(dialogs)
    , paths(std::move(paths))
{
}

CameraActivation::~CameraActivation()
{
    *alive = false;
}

QString CameraActivation::helperPath() const
{
    // The helper plays the part of the extension shipped with the application: without
    // it the installation is damaged and there is nothing to submit.
    const QFileInfo helper(paths.helper);
    if (!helper.isAbsolute() || !helper.isFile() || !helper.isExecutable()) {
        logLine("Failed to find any system extensions");
        return {};
    }
    QString resolved;
    const QString problem = untrustedProgramReason(helper.absoluteFilePath(), paths.helperOwner, &resolved);
    if (!problem.isEmpty()) {
        logLine("camera set-up helper refused: ", problem);
        informationAlert(dialogs, QObject::tr("Error"),
            QObject::tr("The Vistrale camera cannot be set up from this copy of Vistrale: %1, so it is not safe to "
                        "run as administrator. Install Vistrale from its package to activate the camera.")
                .arg(problem));
        return {};
    }
    return resolved;
}

void CameraActivation::activation()
{
    if (running) {
        logLine("camera set-up already running");
        return;
    }
    const QString helper = helperPath();
    if (helper.isEmpty())
        return;
    activating = true;
    logReplacement();
    // Always made to load at boot as well: an installed camera is expected to be there
    // after a restart, as it is on systems where cameras are installed as extensions.
    submit({helper, QStringLiteral("activate"), QStringLiteral("--at-boot")});
}

void CameraActivation::deactivation()
{
    if (running) {
        logLine("camera set-up already running");
        return;
    }
    const QString helper = helperPath();
    if (helper.isEmpty())
        return;
    activating = false;
    logLine(helper);
    submit({helper, QStringLiteral("deactivate")});
}

void CameraActivation::logReplacement() const
{
    const LoopbackState state = readLoopbackState(paths.sysRoot.toStdString());
    if (!needsReplacing(state))
        return;
    const QString loaded = firstLine(QString::fromStdString(state.version));
    logLine("Replacing extension version " + orUnknown(loaded) + " with " + orUnknown(availableVersion(paths.modinfo)));
}

void CameraActivation::submit(const QStringList& argv)
{
    running = true;
    // pkexec shows its authentication dialog now (unless the user is already allowed).
    logLine("Extension needs user approval");
    std::weak_ptr<bool> guard = alive;
    runner.run(argv, [this, guard](const PrivilegedResult& result) {
        const auto living = guard.lock();
        if (!living || !*living)
            return;
        running = false;
        handle(result);
    });
}

void CameraActivation::handle(const PrivilegedResult& result)
{
    if (!result.started) {
        requestFailed(withDetail(QObject::tr("the administrator tool could not be run"), result.errorText));
        return;
    }
    switch (result.exitStatus) {
    case CAMERA_SETUP_DONE:
        requestFinished(REQUEST_COMPLETED);
        return;
    case CAMERA_SETUP_AFTER_REBOOT:
        requestFinished(REQUEST_WILL_COMPLETE_AFTER_REBOOT);
        return;
    case PRIVILEGE_DISMISSED:
        requestFailed(QObject::tr("the administrator authentication was dismissed"));
        return;
    case PRIVILEGE_REFUSED:
        requestFailed(withDetail(QObject::tr("not authorised to set up the camera"), result.errorText));
        return;
    case CAMERA_SETUP_FAILED: {
        // The helper's own line is written to be shown as the reason.
        const QString reason = firstLine(result.errorText);
        requestFailed(reason.isEmpty() ? QObject::tr("the camera set-up failed") : reason);
        return;
    }
    default:
        requestFailed(
            withDetail(QObject::tr("the camera set-up ended with status %1").arg(result.exitStatus), result.errorText));
        return;
    }
}

void CameraActivation::requestFinished(int result)
{
    logLine("Request finished with result: ", result);
    const bool completed = result == REQUEST_COMPLETED;
    if (activating) {
        informationAlert(dialogs, QObject::tr("Success"),
            completed ? QObject::tr("The Vistrale camera is activated")
                      : QObject::tr("Please reboot to finish activating the Vistrale camera"));
        activating = false;
    } else {
        informationAlert(dialogs, QObject::tr("Success"),
            completed ? QObject::tr("The Vistrale camera is deactivated")
                      : QObject::tr("Please Reboot to finish deactivating the Vistrale camera"));
    }
    if (finished)
        finished();
}

void CameraActivation::requestFailed(const QString& error)
{
    logLine("request failed: ", error);
    if (activating)
        informationAlert(dialogs, QObject::tr("Error"), QObject::tr("Failed to activate the Vistrale camera"));
    else
        informationAlert(
            dialogs, QObject::tr("Error"), QObject::tr("Failed to deactivate the Vistrale camera: ") + error);
}

} // namespace vistrale
