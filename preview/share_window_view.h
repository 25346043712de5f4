#pragma once

#include "platform/frame.h"

#include <QWidget>
#include <atomic>
#include <mutex>

namespace vistrale {

// The share window shown as a real window ("Show Vistrale Share"): the output picture
// at its full size, without a window-manager frame, so that its bounds on the desktop
// are the picture's own.
class ShareWindowView : public QWidget {
public:
    explicit ShareWindowView(QSize size);
    // Any thread.
    void showFrame(FrameRef frame);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    std::mutex lock;
    FrameRef frame;
    bool repaintQueued = false;
    // Whether the window is on screen; set on the main thread, read by showFrame.
    std::atomic<bool> onScreen{false};
};

} // namespace vistrale
