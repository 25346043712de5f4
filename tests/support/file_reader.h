#pragma once

#include <QProcess>
#include <QString>

namespace vistrale::test {

// Another process (tail -f) that opens a file itself and holds it open until stopped or
// destroyed (killed by its id). Main thread.
class FileReader {
public:
    explicit FileReader(const QString& path)
    {
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start("tail", {"-f", path});
        started = process.waitForStarted(2000);
    }
    ~FileReader() { stop(); }
    void stop()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(2000);
        }
    }
    bool started = false;

private:
    QProcess process;
};

} // namespace vistrale::test
