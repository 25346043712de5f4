#pragma once

#include <QList>
#include <QProcessEnvironment>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <optional>
#include <vector>

class QProcess;

namespace vistrale::test {

struct VirtualDesktopOptions {
    QSize size{1920, 1080};
    bool windowManager = true;
    bool trayHost = true;
    // Added to Xvfb's command line, e.g. {"-extension", "Composite"}.
    QStringList serverArguments = {};
};

// A private X desktop for one test or benchmark: a session bus, Xvfb on a free display,
// openbox with the tests' configuration and, optionally, trayer as the system-tray host,
// all in a fresh temporary HOME. Works with no DISPLAY set and as root. Everything it
// starts is stopped by process id when it is destroyed, and dies with the test process
// if that crashes. Main thread.
class VirtualDesktop {
public:
    explicit VirtualDesktop(VirtualDesktopOptions options = {});
    ~VirtualDesktop();
    VirtualDesktop(const VirtualDesktop&) = delete;
    VirtualDesktop& operator=(const VirtualDesktop&) = delete;

    // Starts every part and waits until each is ready; false with the reason.
    bool start(QString* error);

    QString display() const { return displayName; }
    QString sessionBusAddress() const { return busAddress; }
    QString homeDir() const { return home.path(); }
    QSize size() const { return options.size; }
    // The system environment with this desktop's DISPLAY, session bus, HOME and XDG
    // folders, and QT_QPA_PLATFORM=xcb.
    QProcessEnvironment environment() const;

    // Starts an X client on this desktop; its pid, or -1 when it cannot start.
    qint64 startClient(const QString& program, const QStringList& arguments);
    // Stops one client started here (SIGTERM, then SIGKILL).
    void stopClient(qint64 pid);
    // Runs a helper program (xdotool, xwininfo, xprop, import) to completion in this
    // desktop's environment: its exit status, or -1 when it did not start or finish.
    // A client window's frame, window manager decorations included, in X coordinates
    // (top-left origin), read with xwininfo and _NET_FRAME_EXTENTS.
    QRect frameOf(quint32 window);
    int run(
        const QString& program, const QStringList& arguments, QString* standardOutput = nullptr, int timeoutMs = 10000);
    // The client window id of the first mapped window whose WM_CLASS or title contains
    // `text`, waiting up to timeoutMs.
    std::optional<quint32> waitForWindow(const QString& text, int timeoutMs = 10000);
    // Asks the window manager to close a client window, as a task bar or the close
    // button does (_NET_CLOSE_WINDOW); false when the request cannot be sent.
    bool askToClose(quint32 window);
    // Replaces RandR's monitors so the screen shows as these side-by-side monitors (X11
    // coordinates, top left); the first becomes the main screen.
    bool splitIntoMonitors(const QList<QRect>& monitors);

private:
    QProcess* launch(const QString& program, const QStringList& arguments, bool client);
    bool startBus(QString* error);
    bool startServer(QString* error);
    bool startWindowManager(QString* error);
    bool startTrayHost(QString* error);
    bool waitForProperty(const char* atomName, int timeoutMs);
    bool waitForManagement(int timeoutMs);
    bool waitForSelectionOwner(const char* selection, int timeoutMs);
    std::optional<quint32> findWindow(const QString& text, QStringList* seen);

    VirtualDesktopOptions options;
    QTemporaryDir home;
    QString displayName;
    QString busAddress;
    // Daemons in start order; stopped in reverse after the clients.
    std::vector<QProcess*> daemons;
    std::vector<QProcess*> clients;
    // The fixture's own X connection for readiness checks (xcb_connection_t).
    void* x = nullptr;
};

} // namespace vistrale::test
