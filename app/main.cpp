#include "app/app_delegate.h"
#include "app/command_line.h"
#include "app/diagnostics_service.h"
#include "app/instance_service.h"
#include "app/quit_signals.h"
#include "app/settings/settings.h"
#include "camera/camera_activation.h"
#include "documents/document_window_controller.h"
#include "platform/loader/platform_loader.h"
#include "platform/log.h"

#include <QApplication>
#include <QRegularExpression>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#ifndef VISTRALE_VERSION
#define VISTRALE_VERSION ""
#endif

using namespace vistrale;

namespace {

int printed(const CommandLine& answer)
{
    std::fputs(answer.output.toLocal8Bit().constData(), stdout);
    std::fputs(answer.errorOutput.toLocal8Bit().constData(), stderr);
    return *answer.exitStatus;
}

} // namespace

namespace {

// Set once the event loop has returned and main ends the process itself.
std::atomic<bool> mainEnding{false};

} // namespace

int main(int argc, char* argv[])
{
    // --help and --version answer before the application connects to a display.
    QStringList rawArguments;
    for (int i = 0; i < argc; ++i)
        rawArguments.append(QString::fromLocal8Bit(argv[i]));
    const CommandLine early = parseCommandLine(rawArguments, QStringLiteral(VISTRALE_VERSION));
    // Qt's own options are single-dash words (-platform, -display); with none of them
    // an unknown option is refused here too.
    static const QRegularExpression qtOption(QStringLiteral("^-[a-z]{2,}$"));
    if (early.exitStatus && (early.errorOutput.isEmpty() || rawArguments.indexOf(qtOption, 1) < 0))
        return printed(early);

    // Web pages in document windows: Chromium's sandbox refuses to run as root, and
    // its views need contexts shared from the start.
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);

    QApplication application(argc, argv);
    QApplication::setApplicationName("Vistrale");
    QApplication::setOrganizationName("Vistrale");
    QApplication::setApplicationVersion(VISTRALE_VERSION);
    // Read again without the options Qt itself took (-platform, -display ...).
    const CommandLine commandLine = parseCommandLine(QApplication::arguments(), QStringLiteral(VISTRALE_VERSION));
    if (commandLine.exitStatus)
        return printed(commandLine);
    const QStringList& files = commandLine.files;
    // A tray application: hiding or closing windows never ends it; "Quit" does.
    QApplication::setQuitOnLastWindowClosed(false);

    // A second start hands its files over before it loads anything: loading would
    // publish a second camera and open connections to the display.
    if (InstanceService::anotherInstanceRuns()) {
        if (InstanceService::handOver(files)) {
            logLine("Vistrale is already running");
            return 0;
        }
        logLine("Vistrale is already running but does not answer");
        return 1;
    }

    QuitSignals quitSignals;
    LoadedPlatform loaded = loadPlatform();
    if (!loaded.problem.isEmpty())
        logLine("desktop services unavailable, windows cannot be shared: ", loaded.problem);
    // Where "Activate Vistrale Camera" will find its helper: an installed Vistrale's own.
    logLine("camera set-up helper", defaultCameraSetupPaths().helper);
    std::unique_ptr<Settings> settings = Settings::standard();
    logLine("settings ", settings->fileName());

    AppDelegate delegate(loaded.platform, *settings, QApplication::applicationVersion());
    InstanceService service(delegate);
    bool busMissing = false;
    if (!service.registerOnBus(&busMissing)) {
        if (busMissing) {
            logLine("no session bus: a second start cannot hand its files to this one");
        } else if (InstanceService::handOver(files)) {
            logLine("Vistrale is already running");
            return 0;
        } else {
            logLine("Vistrale is already running but does not answer");
            return 1;
        }
    }

    const std::unique_ptr<DiagnosticsService> diagnostics = DiagnosticsService::fromEnvironment(delegate);
    if (diagnostics && !diagnostics->registerOnBus())
        logLine("diagnostics not offered: session bus unreachable");

    for (const QString& file : files)
        delegate.openFile(file);
    delegate.applicationDidFinishLaunching();
    // Qt ends the process with exit(1) when the X server goes away. Running the static
    // destructors then, while Qt WebEngine's threads and our own still run, crashes:
    // such an exit ends the process at once instead (registered last, it runs first).
    std::atexit([] {
        if (mainEnding.load())
            return;
        std::fflush(nullptr);
        _exit(1);
    });
    const int status = application.exec();
    mainEnding = true;
    // Document windows belong only to themselves. Their web pages must go before Qt
    // WebEngine's profiles, which go with the application.
    for (QWidget* window : QApplication::topLevelWidgets())
        if (dynamic_cast<DocumentWindowController*>(window))
            delete window;
    return status;
}
