#pragma once

#include "platform/frame.h"

#include <QImage>
#include <QWidget>
#include <functional>
#include <mutex>
#include <optional>

namespace vistrale {

// The output picture inside the preview window: the latest output frame, or the
// backdrop picture until the first frame exists.
class WindowDragView : public QWidget {
public:
    explicit WindowDragView(QWidget* parent = nullptr);

    // Any thread: keeps the frame and repaints on the main thread.
    void showFrame(FrameRef frame);
    FrameRef lastFrame() const;
    // Main thread: the picture shown while no frame exists.
    void setDefaultImage(const QImage& image);
    // Shown centred over the picture while screen capture is not permitted.
    void setNoPermissionText(const QString& text);
    // A left press released without moving: the point in the view and the modifiers.
    void setClickHandler(std::function<void(QPointF, Qt::KeyboardModifiers)> handler)
    {
        clickHandler = std::move(handler);
    }
    // A left press at a point of the view: true when something inside the picture takes
    // the drag (the webcam) instead of the window. The drag handler then hears every
    // move past the drag distance and the release (`released`); a press released
    // without moving is still a click.
    void setPressHandler(std::function<bool(QPointF)> handler) { pressHandler = std::move(handler); }
    void setDragHandler(std::function<void(QPointF position, bool released)> handler)
    {
        dragHandler = std::move(handler);
    }
    // Files dropped on the view: the first file's path and the drop point in the view.
    // Only files with an accepted extension (fileTypeIsOk) are taken.
    void setDropHandler(std::function<void(const QString& path, QPointF position)> handler);
    // A file being dragged over the view: its position on every move, none when it
    // leaves or is dropped.
    void setDragHoverHandler(std::function<void(std::optional<QPointF> position)> handler)
    {
        dragHoverHandler = std::move(handler);
    }
    // Right clicks open the application's menu here.
    void setContextMenuHandler(std::function<void(QPoint globalPosition)> handler);
    // The wheel: the vertical delta (positive away from the user).
    void setWheelHandler(std::function<void(double delta)> handler) { wheelHandler = std::move(handler); }
    // The pointer's shape over a point of the preview, asked as the pointer moves with
    // no button held.
    void setPointerShapeHandler(std::function<Qt::CursorShape(QPointF)> handler);
    // Key presses: the key and its text; true when the key was used.
    void setKeyHandler(std::function<bool(int key, const QString& text)> handler) { keyHandler = std::move(handler); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    // A press that moves further than a click drags the preview window along, unless
    // the press handler took it.
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;

private:
    mutable std::mutex lock;
    FrameRef frame;
    bool repaintQueued = false;
    // What the frames since the last repaint changed (picture pixels); all of it when
    // `changedWhole`.
    QRect changed;
    bool changedWhole = false;
    QImage defaultImage;
    QString noPermissionText;
    std::function<void(QPoint)> contextMenuHandler;
    std::optional<QPoint> pressPosition;
    std::function<void(QPointF, Qt::KeyboardModifiers)> clickHandler;
    std::function<bool(QPointF)> pressHandler;
    std::function<void(QPointF, bool)> dragHandler;
    // The press was taken by the picture; whether it has moved since.
    bool innerPress = false;
    bool innerDragged = false;
    std::function<void(double)> wheelHandler;
    std::function<Qt::CursorShape(QPointF)> pointerShapeHandler;
    std::function<bool(int, const QString&)> keyHandler;
    std::function<void(const QString&, QPointF)> dropHandler;
    std::function<void(std::optional<QPointF>)> dragHoverHandler;
};

// Whether a dragged file's name has an extension the preview takes (pictures, videos,
// documents), in any case.
bool fileTypeIsOk(const QString& path);

} // namespace vistrale
