#pragma once

#include <QTimer>
#include <QWidget>
#include <functional>

class QLabel;

namespace vistrale {

class OwnWindows;

// The small always-on-top window that shows the preview: no title bar, resizable at
// the output's aspect, on every desktop. Closing it only hides it. When the user moves
// or resizes it, the new frame goes to the frame handler.
class PreviewWindow : public QWidget {
public:
    PreviewWindow(OwnWindows& ownWindows, QSize aspect, QSize minimum);

    // The window's reply to a close request: the handler hides the window.
    void setCloseHandler(std::function<void()> handler) { onClose = std::move(handler); }
    // Called after the user moved or resized the window (bottom-left frame).
    void setFrameChangedHandler(std::function<void(const QRectF&)> handler) { onFrameChanged = std::move(handler); }
    // Places the window at a frame in global points (bottom-left origin).
    void placeAt(const QRectF& frame);
    void setContent(QWidget* content);
    // A line of text over the bottom of the preview (the recording time); empty hides
    // it. It belongs to the window only, never to the output picture.
    void setStatusText(const QString& text);
    QString statusText() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void geometryChanged();
    void applyDesktopBehaviour();

    OwnWindows& ownWindows;
    QSize aspect;
    QWidget* content = nullptr;
    std::function<void()> onClose;
    std::function<void(const QRectF&)> onFrameChanged;
    // Moves caused by our own placement are not the user's.
    QRect placedGeometry;
    QTimer settle;
    QLabel* statusLabel = nullptr;
    void placeStatusLabel();
};

} // namespace vistrale
