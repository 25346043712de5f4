// The controller's page entry points: documents/web_pages.h keeps the page windows and
// answers their requests; the controller hands it the shortcut, the screen and the
// backdrop operations.
#include "app/settings/shortcut.h"
#include "documents/web_pages.h"
#include "platform/dialogs.h"
#include "platform/platform.h"
#include "preview/vistrale_view_controller.h"
#include "recording/recording_files.h"

namespace vistrale {

WebPages& VistraleViewController::pagesController()
{
    if (!pages) {
        WebPages::Services services{*platform.systemActions, *platform.ownWindows,
            [this] { return shortcutDisplayString(loadShortcut(settings)); },
            [this] { return QSizeF(screenWidth, screenHeight); },
            [this](const QString& url) { setBackgroundImage(url); },
            [this](const QString& url) { setBackgroundVideo(url); },
            [this](const QString& vtt) { saveTranscript(vtt); }, [this] { platform.dialogs->activateApplication(); },
            userCacheDirectory(), QStringLiteral(":/website"), {}};
        pages = std::make_unique<WebPages>(std::move(services));
    }
    return *pages;
}

void VistraleViewController::showHelpPage()
{
    pagesController().showHelpPage();
}

void VistraleViewController::showBackgroundPicker()
{
    pagesController().showBackgroundPicker();
}

void VistraleViewController::shortcutChanged(const QString& displayString)
{
    if (pages)
        pages->shortcutChanged(displayString);
}

void VistraleViewController::showTranscriptEditor(
    const QString& subRip, const QString& audioPath, TranscriptSession session)
{
    pagesController().showTranscriptEditor(subRip, audioPath, std::move(session));
}

void VistraleViewController::saveTranscript(const QString& vtt)
{
    if (pages)
        pages->saveTranscript(vtt);
}

} // namespace vistrale
