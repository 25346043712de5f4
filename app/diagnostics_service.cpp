#include "app/diagnostics_service.h"

#include "app/app_delegate.h"
#include "app/scripted_dialogs.h"
#include "app/status_menu.h"
#include "captions/captions.h"
#include "documents/web_pages.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "preview/vistrale_view_controller.h"
#include "recording/recording_controller.h"

#include <QAction>
#include <QBuffer>
#include <QDBusConnection>
#include <QFile>
#include <QRegularExpression>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace vistrale {

bool plainPictureName(const QString& name)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_-][A-Za-z0-9._-]{0,95}\\.png$"));
    return plain.match(name).hasMatch();
}

std::unique_ptr<DiagnosticsService> DiagnosticsService::fromEnvironment(AppDelegate& delegate)
{
    const QString path = qEnvironmentVariable(VARIABLE);
    if (path.isEmpty())
        return nullptr;
    const int folder = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0) {
        logLine(
            "diagnostics folder not usable: ", printableText(path) + ": " + QString::fromLocal8Bit(strerror(errno)));
        return nullptr;
    }
    return std::unique_ptr<DiagnosticsService>(new DiagnosticsService(delegate, folder));
}

DiagnosticsService::DiagnosticsService(AppDelegate& delegate, int folder)
    : delegate(delegate)
    , folder(folder)
{
    // Scripts answer dialogs through AnswerDialog; the rest still reach the user.
    std::unique_ptr<Dialogs>& dialogs = delegate.services().dialogs;
    if (dialogs) {
        auto wrapped = std::make_unique<ScriptedDialogs>(std::move(dialogs));
        scripted = wrapped.get();
        dialogs = std::move(wrapped);
    }
}

DiagnosticsService::~DiagnosticsService()
{
    ::close(folder);
}

bool DiagnosticsService::registerOnBus()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.registerObject(OBJECT, this, QDBusConnection::ExportScriptableSlots);
}

bool DiagnosticsService::WriteOutputPicture(const QString& name)
{
    if (!plainPictureName(name)) {
        logLine("output picture needs a plain .png file name: ", printableText(name));
        return false;
    }
    VistraleViewController* vc = delegate.vc();
    const FrameRef frame = vc ? vc->lastCapturedFrame().surface : FrameRef();
    if (!frame) {
        logLine("no output picture yet");
        return false;
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!frame->image.save(&buffer, "PNG")) {
        logLine("cannot encode output picture ", name);
        return false;
    }
    const int file = ::openat(
        folder, QFile::encodeName(name).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    bool written = file >= 0;
    for (qsizetype at = 0; written && at < png.size();) {
        const ssize_t n = ::write(file, png.constData() + at, static_cast<size_t>(png.size() - at));
        if (n < 0 && errno == EINTR)
            continue;
        written = n > 0;
        at += n > 0 ? n : 0;
    }
    const int error = errno;
    if (file >= 0 && ::close(file) != 0)
        written = false;
    if (!written)
        logLine("cannot write output picture ", name + ": " + QString::fromLocal8Bit(strerror(error)));
    return written;
}

QString DiagnosticsService::Statistics()
{
    VistraleViewController* vc = delegate.vc();
    if (!vc)
        return "{}";
    return QString(
        R"({"framesDrawn":%1,"framesOut":%2,"lastDrawMilliseconds":%3,"lastDrawCpuMilliseconds":%4,"shared":%5,)"
        R"("framesDrawnInPart":%6})")
        .arg(vc->compositor().framesDrawn())
        .arg(vc->framesDelivered())
        .arg(vc->compositor().lastDrawMilliseconds(), 0, 'f', 3)
        .arg(vc->compositor().lastDrawCpuMilliseconds(), 0, 'f', 3)
        .arg(vc->sharedCount())
        .arg(vc->compositor().framesDrawnInPart());
}

bool DiagnosticsService::TriggerMenuItem(int tag)
{
    StatusMenu* menu = delegate.statusMenu();
    if (!menu)
        return false;
    menu->refresh();
    QAction* item = menu->itemWithTag(tag);
    if (!item)
        return false;
    item->trigger();
    return true;
}

bool DiagnosticsService::TriggerMenuItemTitled(const QString& title)
{
    StatusMenu* menu = delegate.statusMenu();
    if (!menu || title.isEmpty())
        return false;
    menu->refresh();
    QAction* item = menu->itemWithTitlePrefix(title);
    if (!item)
        return false;
    item->trigger();
    return true;
}

void DiagnosticsService::AnswerDialog(const QString& message, const QString& answer)
{
    if (scripted)
        scripted->answerNext(message, answer);
}

QString DiagnosticsService::RecordingStatistics()
{
    VistraleViewController* vc = delegate.vc();
    RecordingController* recorder = vc ? vc->recorder() : nullptr;
    if (!recorder)
        return "{}";
    const VideoWriterCounts counts = recorder->videoRecorder().counts();
    return QString(R"({"recording":%1,"saving":%2,"offered":%3,"written":%4,"dropped":%5})")
        .arg(QString(recorder->recording() ? "true" : "false"), QString(recorder->saving() ? "true" : "false"))
        .arg(counts.offered)
        .arg(counts.written)
        .arg(counts.dropped);
}

QString DiagnosticsService::CaptionText()
{
    VistraleViewController* vc = delegate.vc();
    return vc && vc->captions() ? vc->captions()->lastSpeechString() : QString();
}

bool DiagnosticsService::RunCaptionEditorScript(const QString& script)
{
    VistraleViewController* vc = delegate.vc();
    WebViewWindowController* editor = vc && vc->webPages() ? vc->webPages()->transcriptEditor() : nullptr;
    if (!editor || !editor->transcriptFetched())
        return false;
    editor->evaluate(script);
    return true;
}

} // namespace vistrale
