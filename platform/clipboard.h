#pragma once

#include <QImage>
#include <QString>
#include <optional>

namespace vistrale {

// The desktop's clipboard. Main thread only.
class Clipboard {
public:
    virtual ~Clipboard() = default;
    // Replaces whatever the clipboard holds with this one picture.
    virtual void setImage(const QImage& image) = 0;
    virtual QImage image() const = 0;
    // The clipboard's plain text; none when it holds no text.
    virtual std::optional<QString> text() const = 0;
};

} // namespace vistrale
