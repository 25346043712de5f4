// The controller's document operations: document windows come from documents/, and
// are shared through the same step as picked windows.

#include "documents/clipboard_link_opener.h"
#include "documents/document_types.h"
#include "platform/clipboard.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "platform/screens.h"
#include "preview/vistrale_view_controller.h"
#include "webcam/backdrops.h"
#include "webcam/documents_directory.h"

#include <QCoreApplication>
#include <QKeySequence>
#include <QPointer>
#include <QShortcut>

namespace vistrale {

void VistraleViewController::setUpDocuments()
{
    clipboardOpener = std::make_unique<ClipboardLinkOpener>(
        *platform.dialogs, documentsDirectory(), [this](const QUrl& url) { showDocument(url); });
    backdropsController->setDocumentHandler([this](const QString& path) { showDocument(QUrl::fromLocalFile(path)); });
    // Ctrl+V while the preview is the active window.
    auto* paste = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_V), contentView, nullptr, nullptr, Qt::WindowShortcut);
    connect(paste, &QShortcut::activated, this, [this] { openClipboardLink(); });
}

DocumentViewerOptions VistraleViewController::documentOptions() const
{
    DocumentViewerOptions options;
    const QList<ScreenInfo> present = platform.screens->screens();
    if (!present.isEmpty())
        options.screen = present.first().frame.size();
    options.ownWindows = platform.ownWindows.get();
    options.office = officeOptions;
    return options;
}

void VistraleViewController::showDocument(const QUrl& url)
{
    logLine("showDocument", printableText(url.toString()));
    auto* window = new DocumentWindowController(url, documentOptions());
    const qint64 number = static_cast<qint64>(window->winId());
    std::weak_ptr<bool> token = alive;
    QPointer<DocumentWindowController> open(window);
    platform.clock->after(1.0, [this, token, open, number] {
        if (token.expired() || !open)
            return;
        shareDocumentWindow(number);
    });
}

void VistraleViewController::shareDocumentWindow(qint64 windowNumber)
{
    if (!hasScreenPermission) {
        showPermissionDialog();
        return;
    }
    const std::optional<QRectF> frame = platform.windowServer->windowBounds(windowNumber);
    if (!frame) {
        logLine("document window not found", windowNumber);
        return;
    }
    Window window;
    window.frame = *frame;
    window.applicationName = "Vistrale";
    window.pid = static_cast<qint32>(QCoreApplication::applicationPid());
    window.windowName = QString(DocumentWindowController::TITLE);
    window.windowNumber = windowNumber;
    addWindow(window, false, false, false);
}

void VistraleViewController::openClipboardLink()
{
    if (dialogShown)
        return;
    logLine("readPasteboard");
    dialogShown = true;
    clipboardOpener->openText(platform.clipboard->text());
    dialogShown = false;
}

void VistraleViewController::showDocumentPicker()
{
    dialogShown = true;
    const std::optional<QString> path = platform.dialogs->runOpenPanel(
        OpenPanelSpec{tr("Choose an image | Vistrale"), QString(), viewerExtensions()});
    dialogShown = false;
    if (path)
        showDocument(QUrl::fromLocalFile(*path));
}

} // namespace vistrale
