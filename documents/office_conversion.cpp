#include "documents/office_conversion.h"

#include "platform/log.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <csignal>
#include <unistd.h>

namespace vistrale {

OfficeConversion::OfficeConversion(QString sourcePath, Options options, Done done)
    : source(std::move(sourcePath))
    , options(std::move(options))
    , done(std::move(done))
{
}

OfficeConversion::~OfficeConversion()
{
    done = nullptr;
    if (process && process->state() != QProcess::NotRunning) {
        killGroup();
        process->waitForFinished(2000);
    }
}

void OfficeConversion::killGroup()
{
    const qint64 pid = process ? process->processId() : 0;
    if (pid > 0)
        ::kill(-static_cast<pid_t>(pid), SIGKILL);
}

QString OfficeConversion::findOffice(const QString& searchPath)
{
    const QStringList paths = searchPath.isEmpty() ? QStringList() : searchPath.split(':', Qt::SkipEmptyParts);
    for (const char* name : {"soffice", "libreoffice"}) {
        const QString found = paths.isEmpty() && searchPath.isEmpty() ? QStandardPaths::findExecutable(name)
                                                                      : QStandardPaths::findExecutable(name, paths);
        if (!found.isEmpty())
            return found;
    }
    return {};
}

QString OfficeConversion::missingOfficeMessage()
{
    return QObject::tr("Office and text documents are shown after LibreOffice converts them to PDF. "
                       "Install LibreOffice (the Debian packages libreoffice-writer-nogui and "
                       "libreoffice-impress-nogui) and open the document again.");
}

void OfficeConversion::start()
{
    const QString office = findOffice(options.searchPath);
    if (office.isEmpty()) {
        logLine("LibreOffice not found, cannot convert", printableText(source));
        finish({}, missingOfficeMessage());
        return;
    }
    // One folder per source file, so that two documents of the same name do not meet.
    const QString base = options.outputDirectory.isEmpty()
        ? QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + "/documents"
        : options.outputDirectory;
    const QByteArray key
        = QCryptographicHash::hash(QFileInfo(source).absoluteFilePath().toUtf8(), QCryptographicHash::Sha1).toHex();
    outputDir = base + '/' + QString::fromLatin1(key.left(16));
    profile = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/vistrale-office-XXXXXX");
    if (!QDir().mkpath(outputDir) || !profile->isValid()) {
        logLine("document conversion: no folder for", printableText(outputDir));
        finish({}, QObject::tr("The document could not be converted: no folder to write it to."));
        return;
    }
    // A stale PDF of an earlier conversion must not pass for this one.
    QFile::remove(outputDir + '/' + QFileInfo(source).completeBaseName() + ".pdf");

    process = std::make_unique<QProcess>();
    process->setProgram(office);
    process->setArguments({"--headless", "--norestore", "--nologo", "--nodefault", "--nolockcheck",
        "-env:UserInstallation=" + QUrl::fromLocalFile(profile->path()).toString(), "--convert-to", "pdf", "--outdir",
        outputDir, QFileInfo(source).absoluteFilePath()});
    process->setProcessChannelMode(QProcess::MergedChannels);
    // soffice hands the work to a child of its own: a group of their own lets the
    // time-out end both.
    process->setChildProcessModifier([] { ::setsid(); });
    connect(process.get(), &QProcess::finished, this,
        [this](int exitCode, QProcess::ExitStatus status) { processEnded(exitCode, status == QProcess::CrashExit); });
    connect(process.get(), &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            logLine("document conversion: LibreOffice did not start", printableText(process->errorString()));
            finish({}, missingOfficeMessage());
        }
    });
    timer = new QTimer(this);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, [this] {
        timedOut = true;
        logLine("document conversion: LibreOffice timed out after ms", options.timeoutMs);
        killGroup();
    });
    timer->start(options.timeoutMs);
    logLine("document conversion", printableText(source));
    process->start();
}

void OfficeConversion::processEnded(int exitCode, bool crashed)
{
    timer->stop();
    const QString pdf = outputDir + '/' + QFileInfo(source).completeBaseName() + ".pdf";
    if (timedOut) {
        finish({}, QObject::tr("LibreOffice took too long to convert the document."));
        return;
    }
    if (crashed || exitCode != 0 || !QFileInfo(pdf).isFile() || QFileInfo(pdf).size() == 0) {
        const QString output = QString::fromLocal8Bit(process->readAll()).simplified();
        logLine("document conversion failed", crashed ? QStringLiteral("crashed") : QString::number(exitCode),
            printableText(output, 200));
        finish({}, QObject::tr("LibreOffice could not convert this document."));
        return;
    }
    logLine("document converted", printableText(pdf));
    finish(pdf, {});
}

void OfficeConversion::finish(const QString& pdfPath, const QString& problem)
{
    profile.reset();
    if (Done report = std::exchange(done, nullptr))
        QTimer::singleShot(0, this, [report, pdfPath, problem] { report(pdfPath, problem); });
}

} // namespace vistrale
