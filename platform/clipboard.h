#pragma once

#include <QImage>

namespace vistrale {

// The desktop's clipboard. Main thread only.
class Clipboard {
public:
    virtual ~Clipboard() = default;
    // Replaces whatever the clipboard holds with this one picture.
    virtual void setImage(const QImage& image) = 0;
    virtual QImage image() const = 0;
};

} // namespace vistrale
