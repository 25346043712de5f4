#pragma once

#include "platform/frame.h"

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QRectF>
#include <memory>
#include <mutex>
#include <optional>

namespace vistrale {

class Clock;
class Scene;
class SceneLayer;

// The round magnifier in the output (`cursorMagnifier`): a 192-point circle showing a
// tenth of one shared window around the pointer. Its picture comes from that window's
// capture stream: `offerFrame` takes every stream's frames on the capture threads and
// keeps the newest frame of the magnified window only, shown on the main thread (at
// most one frame behind the stream). Main thread only, except `offerFrame`.
class MagnifierView {
public:
    MagnifierView(Scene& scene, Clock& clock);
    ~MagnifierView();
    MagnifierView(const MagnifierView&) = delete;
    MagnifierView& operator=(const MagnifierView&) = delete;

    const std::shared_ptr<SceneLayer>& layer() const { return view; }

    // Centres the magnifier on `point` (output coordinates) and shows the part of the
    // window's picture around the pointer `pointer` over the window frame `frame`
    // (global points).
    void update(QPointF point, const std::optional<QRectF>& frame, QPointF pointer);
    // The picture of the magnified window.
    void setPicture(const QImage& picture);
    // Which window's stream frames the magnifier takes from now on (0: none).
    void setWindow(qint64 windowNumber);
    void hide();
    bool isVisible() const;

    // Capture thread: a frame of a shared window's stream. Never blocks for long.
    void offerFrame(const FrameRef& frame, qint64 windowNumber);

    static constexpr double SIZE = 192;
    static QColor borderColor();

    // State, by the design's names.
    QPointF pos;
    bool hasFrame = false;

private:
    struct Feed {
        std::mutex lock;
        qint64 window = 0;
        FrameRef latest;
        bool posted = false;
    };

    Scene& scene;
    Clock& clock;
    std::shared_ptr<SceneLayer> view;
    std::shared_ptr<Feed> feed = std::make_shared<Feed>();
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
};

} // namespace vistrale
