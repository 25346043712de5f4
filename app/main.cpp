#include "app/app_delegate.h"
#include "app/diagnostics_service.h"
#include "app/instance_service.h"
#include "app/quit_signals.h"
#include "app/settings/settings.h"
#include "platform/loader/platform_loader.h"
#include "platform/log.h"

#include <QApplication>
#include <QCommandLineParser>

#ifndef VISTRALE_VERSION
#define VISTRALE_VERSION ""
#endif

using namespace vistrale;

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName("Vistrale");
    QApplication::setOrganizationName("Vistrale");
    QApplication::setApplicationVersion(VISTRALE_VERSION);
    // A tray application: hiding or closing windows never ends it; "Quit" does.
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser parser;
    parser.setApplicationDescription("Share chosen windows as a camera.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument("files", "Documents to open.", "[files...]");
    parser.process(application);
    const QStringList files = parser.positionalArguments();

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
    return application.exec();
}
