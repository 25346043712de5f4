#pragma once

#include "tests/support/virtual_desktop.h"

#include <QImage>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class QProcess;

namespace vistrale::test {

// The built application running on a virtual desktop, with alerts traced to its
// output. Stopped by process id when destroyed. Main thread.
class VistraleProcess {
public:
    explicit VistraleProcess(VirtualDesktop& desktop);
    ~VistraleProcess();

    // Writes settings lines ("key=value") for the first start.
    void writeSettings(const QStringList& lines);
    // The settings file as the application keeps it.
    QString settingsPath() const;
    // A value read back from the settings file; none when missing.
    std::optional<QString> setting(const QString& key) const;

    // An environment variable for the next start, on top of the desktop's.
    void setEnvironment(const QString& name, const QString& value) { extraEnvironment.insert(name, value); }
    // Runs this executable instead of the build's (an installed copy).
    void setProgram(const QString& path) { program = path; }
    // Starts the application and waits until its preview window is mapped.
    bool start(QString* error, const QStringList& arguments = {});
    // Runs another start with these arguments to completion; its exit status and output.
    int runSecondStart(const QStringList& arguments, QString* output);
    void stop();
    // Asks the application to quit (SIGTERM, as the session does at log-out) and waits
    // for its end: its exit status, or -1 when it crashed or did not end in time.
    int quit(int timeoutMs = 10000);

    qint64 pid() const;
    // Everything written to standard output so far.
    QString output() const;
    // Everything written to standard error so far.
    QString errorOutput() const;
    // Waits for an output line that starts with `prefix`; the whole line.
    std::optional<QString> waitForLine(const QString& prefix, int timeoutMs = 10000);

    // The preview window's X id and its geometry on screen (top-left origin).
    std::optional<quint32> previewWindow();
    std::optional<QRect> windowGeometry(quint32 window);
    bool isMapped(quint32 window);
    // The diagnostics folder the application writes pictures into.
    QString diagnosticsDir() const;
    // Calls a method of the application's diagnostics interface; dbus-send's reply.
    QString diagnostics(const QString& method, const QStringList& arguments = {}, int timeoutMs = 3000);
    // The output picture, fetched over the session bus.
    QImage outputPicture();
    // The output-frame figures (frames drawn and sent out, shared windows); empty
    // when the application does not answer.
    QJsonObject statistics();
    // Triggers a menu item by its tag, as a click would.
    bool triggerMenuItem(int tag);

private:
    VirtualDesktop& desktop;
    std::unique_ptr<QProcess> process;
    QString logPath;
    QString program = VISTRALE_BINARY;
    QProcessEnvironment extraEnvironment;
};

} // namespace vistrale::test
