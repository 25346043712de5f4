// The controller's backdrop operations: they hand over to Backdrops, which owns the
// backdrop's state, files, downloads and video player.

#include "app/settings/settings.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "preview/vistrale_view_controller.h"
#include "preview/window_drag_view.h"
#include "webcam/backdrops.h"
#include "webcam/documents_directory.h"
#include "webcam/webcam_overlay.h"

namespace vistrale {

void VistraleViewController::setUpBackdrops()
{
    backdropsController = std::make_unique<Backdrops>(settings, *platform.dialogs, *platform.videoFiles,
        Backdrops::Views{desktopView, videoDesktopView}, realRect.size().toSize(), documentsDirectory());
    backdropsController->setShowPreview([this] {
        if (!contentView || !contentView->window()) {
            logLine("showPreview window not found");
            return;
        }
        showWindow();
    });
    backdropsController->restoreBackground(defaultImage);
    captureVideoPreview->setDragHoverHandler([this](std::optional<QPointF> position) {
        const QSizeF size = captureVideoPreview->size();
        if (!webcamOverlay || size.isEmpty())
            return;
        webcamOverlay->dragHint(position ? std::optional<QPointF>(QPointF(position->x() * camWidth / size.width(),
                                    (size.height() - position->y()) * camHeight / size.height()))
                                         : std::nullopt);
    });
    captureVideoPreview->setDropHandler([this](const QString& path, QPointF position) {
        // Preview points (top-left origin) to output points (bottom-left origin).
        const QSizeF size = captureVideoPreview->size();
        if (size.isEmpty())
            return;
        droppedFile(path,
            QPointF(
                position.x() * camWidth / size.width(), (size.height() - position.y()) * camHeight / size.height()));
    });
}

void VistraleViewController::setBackground(const QString& urlString)
{
    backdropsController->setBackground(urlString);
}

void VistraleViewController::setBackgroundImage(const QString& urlString)
{
    backdropsController->setBackgroundImage(urlString);
}

void VistraleViewController::setBackgroundVideo(const QString& urlString)
{
    backdropsController->setBackgroundVideo(urlString);
}

void VistraleViewController::fetchBackground(const std::optional<QString>& urlString, bool video)
{
    backdropsController->fetchBackground(urlString, video);
}

QImage VistraleViewController::backgroundImage() const
{
    return backdropsController->backgroundImage();
}

void VistraleViewController::handleDroppedFile(const QString& path)
{
    backdropsController->handleDroppedFile(path);
}

void VistraleViewController::droppedFile(const QString& path, QPointF outputPoint)
{
    // Onto the webcam (or anywhere while it fills the output) a file becomes the
    // avatar; elsewhere it goes to the backdrop or the documents.
    if (webcamOverlay
        && (webcamOverlay->webcamFullScreen
            || (webcamOverlay->isVisible() && webcamOverlay->view()->frame().contains(outputPoint)))) {
        setAvatarImage(path);
        return;
    }
    handleDroppedFile(path);
}

void VistraleViewController::showBigSur()
{
    backdropsController->showBigSur();
}

void VistraleViewController::showMonterey()
{
    backdropsController->showMonterey();
}

void VistraleViewController::showCatalina()
{
    backdropsController->showCatalina();
}

void VistraleViewController::showMojave()
{
    backdropsController->showMojave();
}

void VistraleViewController::showBackgroundOpenPanel()
{
    backdropsController->showBackgroundOpenPanel();
}

} // namespace vistrale
