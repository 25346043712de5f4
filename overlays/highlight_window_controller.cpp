#include "overlays/highlight_window_controller.h"

#include "overlays/pointer_geometry.h"
#include "platform/log.h"
#include "platform/notification_center.h"
#include "platform/window_server.h"
#include "preview/desktop_geometry.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QWidget>
#include <algorithm>
#include <functional>

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

    // While a region is drawn the window takes the pointer (an active grab: the drag
    // may leave the window) with the I-beam, and the ring shows the drawing tint. Points
    // go to the handler in the window's points, bottom-left origin.
    std::function<void(QEvent::Type, QPointF)> mouseHandler;
    void setDrawing(bool on)
    {
        if (drawing == on)
            return;
        drawing = on;
        setAttribute(Qt::WA_TransparentForMouseEvents, !on);
        if (on) {
            setCursor(Qt::IBeamCursor);
            grabMouse(Qt::IBeamCursor);
        } else {
            releaseMouse();
            unsetCursor();
        }
        update();
    }
    // The region box in the window's points (bottom-left origin); none removes it.
    void setBox(const std::optional<QRectF>& box, QColor boxColor)
    {
        this->box = box;
        this->boxColour = boxColor;
        setMask(shape());
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
        if (drawing) {
            // The drawing tint: without a compositing manager a translucent tint over the
            // whole window would hide it, so the ring carries it.
            QPen tint(QColor(255, 214, 10), HighlightWindowController::BORDER_WIDTH / 2);
            painter.setPen(tint);
            painter.drawRoundedRect(QRectF(rect()).adjusted(half, half, -half, -half), radius, radius);
        }
        if (box) {
            QColor fill = boxColour;
            fill.setAlphaF(0.1f);
            painter.setPen(QPen(boxColour, BOX_BORDER));
            painter.setBrush(fill);
            painter.drawRoundedRect(topLeftBox().adjusted(1, 1, -1, -1), BOX_RADIUS, BOX_RADIUS);
        }
    }

    void resizeEvent(QResizeEvent*) override { setMask(shape()); }

    void enterEvent(QEnterEvent*) override
    {
        if (drawing)
            logLine("entered");
    }
    void leaveEvent(QEvent*) override
    {
        if (drawing)
            logLine("exited");
    }
    void mousePressEvent(QMouseEvent* event) override { forward(QEvent::MouseButtonPress, event); }
    void mouseMoveEvent(QMouseEvent* event) override { forward(QEvent::MouseMove, event); }
    void mouseReleaseEvent(QMouseEvent* event) override { forward(QEvent::MouseButtonRelease, event); }

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

    static constexpr double BOX_BORDER = 2.0;
    static constexpr double BOX_RADIUS = 7.5;

    void forward(QEvent::Type type, QMouseEvent* event)
    {
        if (drawing && mouseHandler && event->button() != Qt::RightButton)
            mouseHandler(type, QPointF(event->position().x(), height() - event->position().y()));
    }

    QRectF topLeftBox() const
    {
        return box ? QRectF(box->x(), height() - box->y() - box->height(), box->width(), box->height()) : QRectF();
    }

    // The ring, and the box's outline while there is one.
    QRegion shape() const
    {
        QRegion region = ring();
        if (box && box->width() > 0 && box->height() > 0) {
            const QRect outer = topLeftBox().toAlignedRect();
            const int w = static_cast<int>(BOX_BORDER) + 1;
            region += QRegion(outer).subtracted(QRegion(outer.adjusted(w, w, -w, -w)));
        }
        return region;
    }

    double radius;
    QColor colour;
    bool drawing = false;
    std::optional<QRectF> box;
    QColor boxColour;
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

bool HighlightWindowController::toggleDrawing()
{
    logLine("toggleDrawing");
    if (drawingRectangle) {
        stopDrawing();
        return false;
    }
    if (roiBox || !border)
        return false;
    startDrawing();
    return true;
}

void HighlightWindowController::startDrawing()
{
    drawingRectangle = true;
    border->mouseHandler = [this](QEvent::Type type, QPointF point) {
        if (type == QEvent::MouseButtonPress)
            mouseDown(point);
        else if (type == QEvent::MouseMove)
            mouseDragged(point);
        else
            mouseUp();
    };
    border->setDrawing(true);
}

void HighlightWindowController::mouseDown(QPointF point)
{
    if (!drawingRectangle)
        return;
    firstPoint = point;
    currentPoint = point;
    updateBox();
}

void HighlightWindowController::mouseDragged(QPointF point)
{
    if (!drawingRectangle)
        return;
    currentPoint = point;
    updateBox();
}

void HighlightWindowController::mouseUp()
{
    if (drawingRectangle && roiBox)
        stopDrawing();
}

void HighlightWindowController::updateBox()
{
    const QRectF bounds = border ? QRectF(QPointF(0, 0), QSizeF(border->size())) : QRectF();
    roiBox = regionBoxFor(firstPoint, currentPoint, bounds);
    if (border)
        border->setBox(roiBox, normalBorderColor());
}

void HighlightWindowController::stopDrawing()
{
    logLine("stopDrawing");
    drawingRectangle = false;
    if (border) {
        border->setDrawing(false);
        border->mouseHandler = {};
    }
    if (!roiBox)
        return;
    if (!regionBoxLargeEnough(*roiBox)) {
        roiBox.reset();
        if (border)
            border->setBox(std::nullopt, normalBorderColor());
        return;
    }
    NotificationCenter::defaultCenter().post("roi", {{"n", windowNumber}});
}

std::optional<QRectF> HighlightWindowController::regionCrop() const
{
    if (drawingRectangle || !roiBox)
        return std::nullopt;
    return regionCropFor(*roiBox, frameOffset);
}

void HighlightWindowController::close()
{
    if (!border)
        return;
    if (drawingRectangle) {
        // The window went away mid-drawing: the pointer is let go, nothing is posted.
        drawingRectangle = false;
        border->setDrawing(false);
        border->mouseHandler = {};
    }
    border->close();
    delete border.data();
}

} // namespace vistrale
