// Memory of a running help page: the resident size of this process and of Qt
// WebEngine's helper processes, before any page and with the help page loaded (median
// of five openings), and the time from "Help" until the page shows its version.
#include "documents/web_pages.h"
#include "platform/fake/fake_desktop.h"
#include "platform/fake/fake_services.h"
#include "tests/support/wait_until.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <algorithm>
#include <cstdio>
#include <unistd.h>

using namespace vistrale;
using vistrale::test::waitUntil;

namespace {

// Resident set of a process in MiB, from /proc; 0 when it cannot be read.
double residentMiB(qint64 pid)
{
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

// The resident size of every descendant of `pid` (WebEngine's zygote, renderer, utility
// processes).
double descendantsMiB(qint64 pid)
{
    double total = 0;
    const QStringList entries = QDir("/proc").entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool number = false;
        const qint64 child = entry.toLongLong(&number);
        if (!number)
            continue;
        QFile stat(QString("/proc/%1/stat").arg(child));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QString text = QString::fromLatin1(stat.readAll());
        const QStringList fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toLongLong() == pid)
            total += residentMiB(child) + descendantsMiB(child);
    }
    return total;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    FakeSystemActions systemActions;
    FakeOwnWindows ownWindows;
    QTemporaryDir cache;
    WebPages pages(
        {systemActions, ownWindows, [] { return QStringLiteral("Super+F1"); }, [] { return QSizeF(1920, 1080); }, {},
            {}, {}, {}, cache.path(), QStringLiteral(":/website"), [] { return false; }});

    const qint64 self = getpid();
    const double bare = residentMiB(self);
    std::vector<double> own, helpers, loadMs;
    for (int round = 0; round < 5; ++round) {
        QElapsedTimer clock;
        clock.start();
        pages.showHelpPage();
        WebViewWindowController* help = pages.help();
        bool shown = false;
        const bool loaded = waitUntil(
            [&] {
                help->webView()->page()->runJavaScript(
                    "document.getElementById('version')&&document.getElementById('version').textContent",
                    [&](const QVariant& text) { shown = text.toString().startsWith("version "); });
                return shown;
            },
            60000);
        if (!loaded) {
            std::fprintf(stderr, "bench_web_pages: the help page did not load\n");
            return 1;
        }
        loadMs.push_back(clock.nsecsElapsed() / 1e6);
        waitUntil([] { return false; }, 1000); // the page settles
        own.push_back(residentMiB(self));
        helpers.push_back(descendantsMiB(self));
        help->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    std::printf("RSS before any page: %.1f MiB (this process)\n", bare);
    std::printf("RSS with the help page open (median of 5): this process %.1f MiB + WebEngine helpers %.1f MiB = "
                "%.1f MiB\n",
        median(own), median(helpers), median(own) + median(helpers));
    std::printf("\"Help\" to the version shown: first %.0f ms, median of 5 %.0f ms\n", loadMs.front(), median(loadMs));
    return 0;
}
