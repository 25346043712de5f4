#include "overlays/highlight_window_controller.h"

#include "platform/window_server.h"
#include "preview/desktop_geometry.h"

#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QWidget>
#include <algorithm>

namespace vistrale {

// Paints the border ring. The window is shaped to the ring as well: without a
// compositing manager X shows the transparent inside as solid, and the shape keeps the
// shared window visible through it on any desktop.
class HighlightBorderWindow : public QWidget {
public:
    HighlightBorderWindow(double cornerRadius, QColor color)
        : QWidget(nullptr, borderWindowFlags())
        , radius(cornerRadius)
        , colour(color)
    {
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_DeleteOnClose, false);
        setWindowTitle(QStringLiteral("Vistrale Highlight"));
    }

    // Override-redirect: openbox (like any window manager) leaves such a window alone,
    // so it gets no decoration, no focus and no placement of its own, and it can be
    // restacked directly above the shared window's frame. A managed tool window would
    // be raised to the top of its layer instead, above every other window.
    static Qt::WindowFlags borderWindowFlags()
    {
        return Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus | Qt::X11BypassWindowManagerHint;
    }

    QColor color() const { return colour; }
    void setColor(const QColor& color)
    {
        if (colour == color)
            return;
        colour = color;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(rect(), Qt::transparent);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        const double half = HighlightWindowController::BORDER_WIDTH / 2;
        QPen pen(colour, HighlightWindowController::BORDER_WIDTH);
        pen.setJoinStyle(Qt::MiterJoin);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(half, half, -half, -half), radius, radius);
    }

    void resizeEvent(QResizeEvent*) override { setMask(ring()); }

private:
    QRegion rounded(const QRectF& box, double r) const
    {
        if (r <= 0)
            return QRegion(box.toAlignedRect());
        QPainterPath path;
        path.addRoundedRect(box, r, r);
        return QRegion(path.toFillPolygon().toPolygon());
    }

    QRegion ring() const
    {
        const double width = HighlightWindowController::BORDER_WIDTH;
        const QRectF outer(rect());
        const QRectF inner = outer.adjusted(width, width, -width, -width);
        if (inner.isEmpty())
            return QRegion(rect());
        const double half = width / 2;
        const double outerRadius = radius > 0 ? radius + half : 0;
        const double innerRadius = radius > 0 ? std::max(0.0, radius - half) : 0;
        return rounded(outer, outerRadius).subtracted(rounded(inner, innerRadius));
    }

    double radius;
    QColor colour;
};

QColor HighlightWindowController::normalBorderColor()
{
    QColor blue(0, 122, 255);
    blue.setAlphaF(0.8f);
    return blue;
}

QColor HighlightWindowController::recordingBorderColor()
{
    QColor red(255, 59, 48);
    red.setAlphaF(0.8f);
    return red;
}

HighlightWindowController::HighlightWindowController(
    OwnWindows& ownWindows, qint64 windowNumber, bool highlight, bool entireScreen)
    : windowNumber(windowNumber)
    , highlight(highlight)
    , entireScreen(entireScreen)
    , frameOffset(entireScreen ? 0.0 : -BORDER_WIDTH)
    , ownWindows(ownWindows)
    , border(new HighlightBorderWindow(entireScreen ? 0.0 : CORNER_RADIUS, normalBorderColor()))
{
    // Invisible until it first frames its window.
    border->setWindowOpacity(0);
    ownWindows.setClickThrough(border->winId());
}

HighlightWindowController::~HighlightWindowController()
{
    close();
}

QWidget* HighlightWindowController::window() const
{
    return border.data();
}

quintptr HighlightWindowController::nativeId() const
{
    return border ? border->winId() : 0;
}

QColor HighlightWindowController::shownBorderColor() const
{
    return border ? border->color() : QColor();
}

void HighlightWindowController::fitToWindow(const QRectF& frame)
{
    if (!border)
        return;
    hidden = false;
    if (frame != existingFrame) {
        existingFrame = frame;
        border->setGeometry(qtGeometryFromFrame(frame.adjusted(frameOffset, frameOffset, -frameOffset, -frameOffset)));
    }
    border->setWindowOpacity(1);
    if (!border->isVisible())
        border->show();
    // Every time: the shared window may have been raised since.
    ownWindows.orderAbove(border->winId(), windowNumber);
}

void HighlightWindowController::setRecording(bool recording)
{
    isRecording = recording;
    applyBorderColor(recording ? recordingBorderColor() : currentBorderColor.value_or(normalBorderColor()));
}

void HighlightWindowController::setBorderColor(const QColor& color)
{
    const QColor chosen = color.alpha() == 0 ? normalBorderColor() : color;
    currentBorderColor = chosen;
    if (!isRecording)
        applyBorderColor(chosen);
}

void HighlightWindowController::applyBorderColor(const QColor& color)
{
    if (border)
        border->setColor(color);
}

void HighlightWindowController::close()
{
    if (!border)
        return;
    border->close();
    delete border.data();
}

} // namespace vistrale
