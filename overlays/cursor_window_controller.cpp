#include "overlays/cursor_window_controller.h"

#include "platform/window_server.h"
#include "preview/desktop_geometry.h"

#include <QPainter>
#include <QRegion>
#include <QWidget>

namespace vistrale {
namespace {

constexpr int RING_WIDTH = 6;

QColor ringColor()
{
    return QColor(0, 122, 255);
}

} // namespace

// The ring itself. The window is shaped to the ring: without a compositing manager X
// shows a translucent inside as solid, and the shape keeps what lies under the pointer
// visible on any desktop.
class CursorRingWindow : public QWidget {
public:
    CursorRingWindow()
        : QWidget(nullptr,
            Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus | Qt::X11BypassWindowManagerHint
                | Qt::WindowStaysOnTopHint)
    {
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setWindowTitle(QStringLiteral("Vistrale Pointer"));
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(rect(), Qt::transparent);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        QColor fill = ringColor();
        fill.setAlphaF(0.6f);
        painter.setBrush(fill);
        painter.setPen(QPen(ringColor(), 3.0));
        painter.drawEllipse(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5));
    }

    void resizeEvent(QResizeEvent*) override
    {
        const QRect outer = rect();
        const QRect inner = outer.adjusted(RING_WIDTH, RING_WIDTH, -RING_WIDTH, -RING_WIDTH);
        setMask(QRegion(outer, QRegion::Ellipse).subtracted(QRegion(inner, QRegion::Ellipse)));
    }
};

CursorWindowController::CursorWindowController(OwnWindows& ownWindows)
    : ownWindows(ownWindows)
    , ring(new CursorRingWindow())
{
    ring->setGeometry(qtGeometryFromFrame(QRectF(-SIZE * 4, -SIZE * 4, SIZE, SIZE)));
    ownWindows.setClickThrough(ring->winId());
}

CursorWindowController::~CursorWindowController()
{
    delete ring.data();
}

QWidget* CursorWindowController::window() const
{
    return ring.data();
}

void CursorWindowController::show(QPointF location, bool magnified)
{
    if (!ring)
        return;
    if (location != currentLocation || magnified != isMagnified || alreadyHidden) {
        QRectF frame(location.x() - SIZE / 2, location.y() - SIZE / 2, SIZE, SIZE);
        if (magnified)
            frame.adjust(-GROWTH, -GROWTH, GROWTH, GROWTH);
        isMagnified = magnified;
        ring->setGeometry(qtGeometryFromFrame(frame));
    }
    currentLocation = location;
    if (alreadyHidden) {
        alreadyHidden = false;
        ring->show();
        ring->raise();
    }
}

void CursorWindowController::hide()
{
    if (alreadyHidden || !ring)
        return;
    alreadyHidden = true;
    ring->hide();
}

} // namespace vistrale
