#include "documents/web_pages.h"

#include "documents/color_scheme.h"
#include "documents/page_messages.h"
#include "overlays/cursor_window_controller.h"
#include "platform/log.h"

namespace vistrale {

WebPages::WebPages(Services services)
    : services(std::move(services))
{
}

WebPages::~WebPages()
{
    // A recording waiting for its editor is saved all the same.
    if (transcriptPage)
        transcriptPage->close();
    for (const QPointer<WebViewWindowController>& page : {helpPage, backgroundPage, transcriptPage})
        delete page.data();
}

QPointer<WebViewWindowController> WebPages::open(const QString& page, const QString& title, bool closable)
{
    WebViewWindowController::Options options;
    options.pagesFolder = services.pagesFolder;
    options.cacheFolder = services.cacheFolder;
    options.dark = services.prefersDark ? services.prefersDark() : desktopPrefersDark();
    options.closable = closable;
    return new WebViewWindowController(page, this, title, services.systemActions, options);
}

void WebPages::showHelpPage()
{
    if (helpPage)
        helpPage->showWindow();
    else
        helpPage = open(QStringLiteral("welcome"), QStringLiteral("Vistrale Help"), true);
    if (services.activateApplication)
        services.activateApplication();
}

void WebPages::showBackgroundPicker()
{
    if (backgroundPage)
        backgroundPage->showWindow();
    else
        backgroundPage = open(QStringLiteral("backgrounds"), QStringLiteral("Vistrale Backgrounds"), true);
    if (services.activateApplication)
        services.activateApplication();
}

void WebPages::shortcutChanged(const QString& shortcutText)
{
    if (helpPage)
        helpPage->setVersion(shortcutText);
}

void WebPages::showTranscriptEditor(const QString& subRip, const QString& audioPath, TranscriptSession session)
{
    if (transcriptPage)
        transcriptPage->close();
    transcript = std::make_unique<TranscriptSession>(std::move(session));
    transcriptPage = open(QStringLiteral("transcript"), QStringLiteral("Vistrae - Edit Closed Captions"), false);
    transcriptPage->vtt = captionExchangeText(subRip);
    transcriptPage->audioString = audioPath.isEmpty() ? QString() : QUrl::fromLocalFile(audioPath).toString();
    if (services.activateApplication)
        services.activateApplication();
}

void WebPages::saveTranscript(const QString& vtt)
{
    if (!transcript || !transcriptPage)
        return;
    if (vtt.size() > MAX_TRANSCRIPT_CHARACTERS) {
        logLine("edited captions too long, not kept:", static_cast<qint64>(vtt.size()));
        return;
    }
    if (transcript->store)
        transcript->store(vtt);
}

CursorWindowController* WebPages::remoteCursor(const QString& uuid) const
{
    const auto found = remoteCursors.find(uuid);
    return found == remoteCursors.end() ? nullptr : found->second.get();
}

QString WebPages::shortcutDisplayString()
{
    return services.shortcutText ? services.shortcutText() : QString();
}

void WebPages::moveRemotePointer(const QString& uuid, int x, int y)
{
    auto found = remoteCursors.find(uuid);
    if (found == remoteCursors.end()) {
        if (remoteCursors.size() >= MAX_REMOTE_POINTERS) {
            logLine("too many remote pointers, ignored", printableText(uuid, 64));
            return;
        }
        found = remoteCursors.emplace(uuid, std::make_unique<CursorWindowController>(services.ownWindows)).first;
    }
    const QSizeF screen = services.screenSize ? services.screenSize() : QSizeF();
    found->second->show(remotePointerLocation(x, y, screen), false);
}

void WebPages::hideRemotePointer(const QString& uuid)
{
    if (CursorWindowController* cursor = remoteCursor(uuid))
        cursor->hide();
}

void WebPages::pickImage(const QString& url)
{
    if (services.setBackgroundImage)
        services.setBackgroundImage(url);
}

void WebPages::pickVideo(const QString& url)
{
    if (services.setBackgroundVideo)
        services.setBackgroundVideo(url);
}

void WebPages::saveTranscript(const QString& vtt, WebViewWindowController& page)
{
    // Only the open editor stores captions.
    if (&page != transcriptPage.data())
        return;
    if (services.saveTranscript)
        services.saveTranscript(vtt);
    else
        saveTranscript(vtt);
}

void WebPages::pageClosed(WebViewWindowController& page)
{
    if (&page == transcriptPage.data()) {
        transcriptPage = nullptr;
        // Whatever closed the editor, the recording goes on to be saved.
        if (std::unique_ptr<TranscriptSession> session = std::move(transcript); session && session->finish)
            session->finish();
    }
    if (&page == helpPage.data())
        helpPage = nullptr;
    if (&page == backgroundPage.data())
        backgroundPage = nullptr;
    page.deleteLater();
}

} // namespace vistrale
