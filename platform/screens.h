#pragma once

#include <QList>
#include <QRectF>
#include <QString>
#include <functional>

namespace vistrale {

// One display of the desktop. Frames are global points, origin at the bottom left of
// the main screen, y growing upwards.
struct ScreenInfo {
    QRectF frame;
    QString name;
    quint32 displayId = 0;
};

// The desktop's displays. Main thread only.
class Screens {
public:
    virtual ~Screens() = default;
    // The screens in the system's order; the first one is the main screen. Empty when
    // the desktop has no screen at all.
    virtual QList<ScreenInfo> screens() const = 0;
    // Called on the main thread after the displays changed (added, removed, resized).
    virtual void setChangeHandler(std::function<void()> handler) = 0;
};

} // namespace vistrale
