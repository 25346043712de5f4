#include "platform/qt/qt_privileged_runner.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

namespace vistrale {
namespace {

// The error output kept from one run: enough for a reason shown to the user.
constexpr qint64 MAX_ERROR_OUTPUT = 4096;

void finishLater(std::function<void(const PrivilegedResult&)> done, PrivilegedResult result)
{
    QTimer::singleShot(0, [done = std::move(done), result = std::move(result)] { done(result); });
}

} // namespace

QtPrivilegedRunner::QtPrivilegedRunner(QString tool)
    : tool(std::move(tool))
{
}

void QtPrivilegedRunner::run(const QStringList& argv, std::function<void(const PrivilegedResult&)> done)
{
    // pkexec runs only absolute program paths; refusing others here gives a clearer reason.
    if (argv.isEmpty() || !QDir::isAbsolutePath(argv.first())) {
        finishLater(std::move(done), {false, -1, "the program to run as administrator has no absolute path"});
        return;
    }
    const QString program = tool;
    if (!QDir::isAbsolutePath(program) || !QFileInfo(program).isExecutable()) {
        finishLater(std::move(done), {false, -1, tool + " is not installed"});
        return;
    }

    auto* process = new QProcess;
    process->setProgram(program);
    process->setArguments(argv);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    auto finished = std::make_shared<bool>(false);
    auto finish = [process, finished, done](PrivilegedResult result) {
        if (*finished)
            return;
        *finished = true;
        result.errorText
            = (result.errorText + QString::fromUtf8(process->readAllStandardError().left(MAX_ERROR_OUTPUT))).trimmed();
        process->deleteLater();
        // QProcess may report a failed start from inside start(); the contract says
        // never from inside run().
        finishLater(done, std::move(result));
    };
    QObject::connect(
        process, &QProcess::finished, process, [process, finish](int exitCode, QProcess::ExitStatus status) {
            if (status == QProcess::CrashExit)
                finish({true, -1, process->program() + " crashed. "});
            else
                finish({true, exitCode, {}});
        });
    QObject::connect(process, &QProcess::errorOccurred, process, [process, finish](QProcess::ProcessError error) {
        // A crash also ends in finished(); only a failed start ends here.
        if (error == QProcess::FailedToStart)
            finish({false, -1, process->program() + " could not be started: " + process->errorString()});
    });
    process->start();
}

} // namespace vistrale
