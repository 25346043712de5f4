// The controller's screenshots: the current output picture saved as a PNG file the user
// chooses, or put on the clipboard.
#include "app/settings/settings.h"
#include "app/settings/settings_keys.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "preview/vistrale_view_controller.h"

#include <QDir>
#include <QFile>
#include <QUrl>

namespace vistrale {

bool writePNG(const QImage& image, const QString& path)
{
    if (image.isNull() || !image.save(path, "PNG")) {
        logLine(QString("QImage(%1x%2)").arg(image.width()).arg(image.height())
                + " Error Function 'writePNG(toURL:)' Line: 667 No tiff rep found for image writing to ",
            QUrl::fromLocalFile(path).toString());
        return false;
    }
    return true;
}

QImage VistraleViewController::imagePanel()
{
    // The share window is drawn whenever it changes: its newest frame is what it shows.
    const FrameRef frame = lastCapturedFrame().surface;
    return frame ? frame->image : QImage();
}

void VistraleViewController::screenshot(bool copy)
{
    if (!hasScreenPermission) {
        showPermissionDialog();
        return;
    }
    const QImage picture = imagePanel();
    if (picture.isNull())
        return;
    std::weak_ptr<bool> token = alive;
    platform.clock->after(0, [this, token, picture, copy] {
        if (token.expired())
            return;
        playSound(soundScreenshot.get());
        if (copy) {
            platform.clipboard->setImage(picture);
            return;
        }
        platform.dialogs->activateApplication();
        const std::optional<QString> path = platform.dialogs->runSavePanel(SavePanelSpec{
            tr("Vistrale"), tr("Save your screenshot as..."), QDir::homePath() + "/Downloads", "vistrale.png"});
        if (!path)
            return;
        QFile::remove(*path);
        writePNG(picture, *path);
        platform.systemActions->openUrl(QUrl::fromLocalFile(*path));
    });
}

} // namespace vistrale
