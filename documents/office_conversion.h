#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QProcess;
class QTemporaryDir;
class QTimer;

namespace vistrale {

// Converts an office or text file to PDF with LibreOffice in headless mode: one
// soffice process per file, run with an argument vector and a private profile (so
// a running LibreOffice of the user is neither used nor disturbed), killed after a
// time-out. The PDF lands in Vistrale's cache folder. Main thread; the result is
// reported once, on the main thread, unless the conversion is destroyed first.
class OfficeConversion : public QObject {
public:
    struct Options {
        // Where soffice is looked for; empty means PATH.
        QString searchPath;
        int timeoutMs = 60000;
        // Where the PDF goes; empty means the cache folder's "documents".
        QString outputDirectory;
    };
    // The PDF's path, or empty with a reason the user can read.
    using Done = std::function<void(const QString& pdfPath, const QString& problem)>;

    OfficeConversion(QString sourcePath, Options options, Done done);
    ~OfficeConversion() override;

    // The soffice program found for these options; empty when LibreOffice is missing.
    static QString findOffice(const QString& searchPath);
    // The message for a desktop without LibreOffice.
    static QString missingOfficeMessage();

    // Starts; reports at once when LibreOffice is missing or cannot start.
    void start();

private:
    void finish(const QString& pdfPath, const QString& problem);
    void processEnded(int exitCode, bool crashed);
    // Kills soffice and whatever it started (they run in a process group of their own).
    void killGroup();

    QString source;
    Options options;
    Done done;
    std::unique_ptr<QProcess> process;
    std::unique_ptr<QTemporaryDir> profile;
    QTimer* timer = nullptr;
    QString outputDir;
    bool timedOut = false;
};

} // namespace vistrale
