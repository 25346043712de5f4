#include "app/command_line.h"

#include <QCommandLineParser>

namespace vistrale {

namespace {

// The environment variables a user or a test may set, as the README explains them.
constexpr const char* ENVIRONMENT_HELP = R"(
Environment:
  VISTRALE_CAMERA=pipewire|v4l2|none  Publish the camera only through PipeWire or only
                                      through the v4l2loopback device (both by default).
  VISTRALE_WEBCAM=pipewire|v4l2|none  Where webcams come from (PipeWire when its daemon
                                      answers, else V4L2 devices).
  VISTRALE_CAMERA_SETUP=path          A root-owned camera set-up helper for a build tree.
  VISTRALE_SPEECH_MODELS=folder       Look for speech models there (one folder per
                                      language) instead of /usr/share/pocketsphinx/model.
  VISTRALE_PLATFORM=fake              Run without the X11 desktop services.
  VISTRALE_IMAGE_MODE=1               Compose the output in image mode.
  VISTRALE_TRACE_DIALOGS=1            Write every alert to standard output.
  VISTRALE_TRACE_OUTPUT_PIXELS=x,y;.. Log these output pixels for every frame.
  VISTRALE_DIAGNOSTICS_DIR=folder     Offer the tests' diagnostics on the session bus.

SIGTERM and SIGINT quit Vistrale as "Quit" does.
)";

} // namespace

CommandLine parseCommandLine(const QStringList& arguments, const QString& version)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Share chosen windows as a camera."));
    const QCommandLineOption help(
        {QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help and the environment variables."));
    const QCommandLineOption showVersion(
        {QStringLiteral("v"), QStringLiteral("version")}, QStringLiteral("Show Vistrale's version."));
    parser.addOption(help);
    parser.addOption(showVersion);
    parser.addPositionalArgument(
        QStringLiteral("files"), QStringLiteral("Documents to open."), QStringLiteral("[files...]"));

    CommandLine line;
    if (!parser.parse(arguments)) {
        line.exitStatus = 1;
        line.errorOutput = parser.errorText() + QStringLiteral("\nTry 'vistrale --help'.\n");
        return line;
    }
    if (parser.isSet(help)) {
        line.exitStatus = 0;
        // The parser names the program by its path; users type "vistrale".
        QString text = parser.helpText();
        const qsizetype usage = text.indexOf(QStringLiteral("Usage: "));
        const qsizetype end = usage < 0 ? -1 : text.indexOf(QLatin1Char(' '), usage + 7);
        if (end > 0)
            text.replace(usage + 7, end - usage - 7, QStringLiteral("vistrale"));
        line.output = text + QLatin1String(ENVIRONMENT_HELP);
        return line;
    }
    if (parser.isSet(showVersion)) {
        line.exitStatus = 0;
        line.output = QStringLiteral("vistrale %1\n").arg(version);
        return line;
    }
    line.files = parser.positionalArguments();
    return line;
}

} // namespace vistrale
