#pragma once

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QSize>
#include <memory>
#include <optional>

namespace vistrale {

class Scene;
class SceneLayer;

// The pointer drawn into the output (`cursorView`): the system pointer's image with its
// hot spot at the view's centre, a blue disc behind it while the highlight is on, and
// a ring with a smaller pointer while a button is pressed. It changes the scene only
// when something it shows changes. Main thread only.
class MyCursorImageView {
public:
    explicit MyCursorImageView(Scene& scene);
    ~MyCursorImageView();
    MyCursorImageView(const MyCursorImageView&) = delete;
    MyCursorImageView& operator=(const MyCursorImageView&) = delete;

    // The view in the share window's scene (added by the caller).
    const std::shared_ptr<SceneLayer>& layer() const { return view; }

    // The system pointer: a new image or hot spot replaces the shown one; the same one
    // again changes nothing. An image that cannot be shown (empty, larger than 256 on
    // a side, hot spot outside it) gets one log line and keeps the previous one.
    void setPointer(const QImage& image, QPointF hotSpot);
    // Output points per screen point for the pointer image.
    void setScale(double scale);
    // Shows the view centred on `point` (output coordinates).
    void update(QPointF point, bool highlight, bool click);
    // Fades the view out; true when it was visible.
    bool hide();

    static constexpr double SIZE = 64;
    static constexpr double FADE_SECONDS = 0.25;
    static constexpr double ZOOMED = 0.8;
    static QColor highlightColor();
    static QColor clickColor();

    // State, by the design's names.
    bool alreadyHidden = true;
    QPointF prevOffset;
    QSize prevSize;
    double cursorScale = 1.0;
    bool zoomed = false;

    const std::shared_ptr<SceneLayer> backLayer;
    const std::shared_ptr<SceneLayer> foreLayer;

private:
    void placeImage();

    Scene& scene;
    std::shared_ptr<SceneLayer> view;
    qint64 prevKey = 0;
    std::optional<qint64> refusedKey;
};

} // namespace vistrale
