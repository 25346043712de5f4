#pragma once

#include <QImage>
#include <QString>
#include <optional>

namespace vistrale {

// Largest backdrop picture accepted from a file, per side.
constexpr int MAX_BACKDROP_SIDE = 16384;

// The backdrop picture: a bundled picture of that name, or the picture file the value
// names (a path or a file URL); the bundled "ventura-blue" when there is no value or
// it does not load.
QImage loadDefaultImage(const std::optional<QString>& background);

// A bundled picture by name; null when there is none.
QImage bundledImage(const QString& name);

} // namespace vistrale
