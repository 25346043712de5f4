#pragma once

#include <QImage>
#include <QString>
#include <optional>

class QIODevice;

namespace vistrale {

// Largest backdrop picture accepted from a file, per side and in pixels: a small file
// that claims a huge picture (a decompression bomb) is refused before it is decoded.
constexpr int MAX_BACKDROP_SIDE = 16384;
constexpr qint64 MAX_BACKDROP_PIXELS = 64LL * 1024 * 1024;

// The backdrop picture: a bundled picture of that name, or the picture file the value
// names (a path or a file URL); the bundled "ventura-blue" when there is no value or
// it does not load.
QImage loadDefaultImage(const std::optional<QString>& background);

// A bundled picture by name, with or without its extension ("bigsur", "bigsur.png");
// null when there is none.
QImage bundledImage(const QString& name);

// A picture file (a path or a file URL) or picture data, decoded within the limits
// above; null when it is not a usable picture. Why goes to `problem` when one is
// given, else into one log line naming `label`.
QImage readBackdropPicture(const QString& value, QString* problem = nullptr);
QImage readBackdropPicture(QIODevice& device, const QString& label, QString* problem = nullptr);

// The picture scaled to cover `size` and centred, the rest cut off (aspect fill), so
// that drawing it needs no more scaling. Opaque pictures come back as RGB32.
QImage aspectFilled(const QImage& picture, QSize size);

} // namespace vistrale
