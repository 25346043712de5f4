#pragma once

#include <QImage>
#include <QString>

namespace vistrale {

// Pictures of our own that the webcam shows instead of a camera. Drawn once on first
// use. Main thread.

// "camera-permission": a crossed-out camera and a line saying why nothing shows.
QImage cameraPermissionPicture();
// The same look for a camera that is busy, gone or missing, with `text` below.
QImage cameraProblemPicture(const QString& text);
// "default-avatar": a plain silhouette, the avatar until the user picks one.
QImage defaultAvatarPicture();

// A picture file read safely: at most `maxMegabytes` of decoded pixels, so that a
// small file cannot claim gigabytes. Null, with `why` filled, when it does not load.
QImage readPictureFile(const QString& path, QString* why, int maxMegabytes = 256);

} // namespace vistrale
