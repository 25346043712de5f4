// The controller's output resolution: the share window, its backdrop, the preview and
// the output frames all follow a new size together.
#include "captions/captions.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "preview/desktop_geometry.h"
#include "preview/output_geometry.h"
#include "preview/share_window_view.h"
#include "preview/vistrale_view_controller.h"
#include "webcam/backdrops.h"
#include "webcam/webcam_overlay.h"

#include <QWidget>
#include <cmath>

namespace vistrale {

void VistraleViewController::changeResolution(double width, double height)
{
    if (!(width >= 16 && height >= 9 && width <= 7680 && height <= 4320)) {
        logLine("changeResolution refused ", QString("%1x%2").arg(width).arg(height));
        return;
    }
    logLine("changeResolution", width, height);
    camWidth = width;
    camHeight = height;
    previewRect = previewRectFor(camWidth, camHeight);
    realRect = QRectF(0, 0, camWidth, camHeight);
    // Recording and the camera take the output's size; keep it equal to the share window.
    outputSize = realRect.size();

    // The preview window: the new aspect and size, centred where it was, then at the
    // top right of its screen.
    if (contentView) {
        QWidget* window = contentView->window();
        if (window != contentView.data()) {
            platform.ownWindows->setAspectRatio(window->winId(), static_cast<int>(width), static_cast<int>(height));
            const QRectF before = frameFromQtGeometry(window->geometry());
            QRectF frame(QPointF(0, 0), previewRect.size());
            frame.moveCenter(before.center());
            const QList<ScreenInfo> present = platform.screens->screens();
            std::optional<ScreenInfo> screen = screenOfWindow(present, before);
            if (!screen && !present.isEmpty())
                screen = present.first();
            if (screen)
                frame.moveTopLeft(QPointF(
                    screen->frame.right() - frame.width() - 8, screen->frame.bottom() - frame.height() - 8 - 25));
            window->setGeometry(qtGeometryFromFrame(frame));
        }
        contentView->resize(previewRect.size().toSize());
    }

    // The share window and its backdrop views.
    scene->setOutputSize(realRect.size().toSize());
    if (shareWindow)
        shareWindow->setFixedSize(realRect.size().toSize());
    positionShareWindow();
    desktopView->setFrame(realRect);
    videoDesktopView->setFrame(realRect);
    if (backdropsController)
        backdropsController->setOutputSize(realRect.size().toSize());
    windowsView->setFrame(realRect);
    logoLayer->setFrame(QRectF(9, 9, camWidth, logoLayer->frame().height()));
    setOverlayText(overlayText);
    if (webcamOverlay)
        webcamOverlay->setOutputSize(realRect.size());
    if (captionsController)
        captionsController->setOutputWidth(camWidth);
}

} // namespace vistrale
