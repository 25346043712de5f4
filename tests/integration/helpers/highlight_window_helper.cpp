// Shows one highlight border on a real X display for the integration tests, which run
// Qt offscreen themselves. Started with the shared window's number; reads commands on
// standard input, one a line, and answers each on standard output once it is done:
//   fit X Y W H   frames the window (global points, bottom-left origin): "fitted ID"
//   record 0|1    "recording 0|1"
//   quit
#include "overlays/highlight_window_controller.h"
#include "platform/x11/x11_platform.h"

#include <QApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <unistd.h>

using namespace vistrale;

namespace {

// Lets Qt send what it queued (geometry, map, paint) and the server act on it.
void settle()
{
    QEventLoop loop;
    QTimer::singleShot(150, &loop, &QEventLoop::quit);
    loop.exec();
}

void answer(const QByteArray& line)
{
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    bool numberOk = false;
    const qint64 windowNumber = argc > 1 ? QByteArray(argv[1]).toLongLong(&numberOk, 0) : 0;
    if (!numberOk || windowNumber <= 0) {
        std::fprintf(stderr, "usage: %s WINDOW-NUMBER\n", argv[0]);
        return 2;
    }
    QString error;
    std::optional<X11Backends> x11 = connectX11(&error);
    if (!x11) {
        std::fprintf(stderr, "no X server: %s\n", qPrintable(error));
        return 1;
    }
    HighlightWindowController controller(*x11->ownWindows, windowNumber, false, false);

    QByteArray pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[512];
        const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count <= 0) {
            app.quit();
            return;
        }
        pending.append(buffer, count);
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QList<QByteArray> words = pending.left(end).simplified().split(' ');
            pending.remove(0, end + 1);
            const QByteArray command = words.value(0);
            if (command == "fit" && words.size() == 5) {
                controller.fitToWindow(
                    QRectF(words[1].toDouble(), words[2].toDouble(), words[3].toDouble(), words[4].toDouble()));
                settle();
                answer("fitted " + QByteArray::number(static_cast<qulonglong>(controller.nativeId())));
            } else if (command == "record" && words.size() == 2) {
                controller.setRecording(words[1] == "1");
                settle();
                answer("recording " + words[1]);
            } else if (command == "quit") {
                app.quit();
                return;
            } else {
                answer("unknown");
            }
        }
    });
    return app.exec();
}
