#pragma once

#include "platform/frame.h"

#include <QWidget>
#include <mutex>

namespace vistrale {

// The share window shown as a real window ("Show Vistrale Share"): the output picture
// at its full size.
class ShareWindowView : public QWidget {
public:
    explicit ShareWindowView(QSize size);
    // Any thread.
    void showFrame(FrameRef frame);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::mutex lock;
    FrameRef frame;
    bool repaintQueued = false;
};

} // namespace vistrale
