#pragma once

#include <QColor>
#include <QPointer>
#include <QRectF>
#include <optional>

class QWidget;

namespace vistrale {

class OwnWindows;
class HighlightBorderWindow;

// The border the desktop shows around one shared window: a frameless, click-through
// window of its own, 4 points outside the shared window and stacked just above it.
// Blue normally, red while recording. Main thread only.
class HighlightWindowController {
public:
    // `highlight` marks a window whose regions will be highlighted; `entireScreen` the
    // shared entire screen, framed exactly and with square corners.
    HighlightWindowController(OwnWindows& ownWindows, qint64 windowNumber, bool highlight, bool entireScreen);
    ~HighlightWindowController();
    HighlightWindowController(const HighlightWindowController&) = delete;
    HighlightWindowController& operator=(const HighlightWindowController&) = delete;

    // Frames the shared window (its frame in global points, bottom-left origin), shows
    // the border and stacks it just above the window again.
    void fitToWindow(const QRectF& frame);
    // Red while recording; the chosen colour (or the normal blue) otherwise.
    void setRecording(bool recording);
    // The border's colour from now on; a clear colour means the normal blue. While
    // recording the border stays red.
    void setBorderColor(const QColor& color);
    // Closes and destroys the border window; the controller does nothing after it.
    void close();

    // --- Region of interest ---
    // After a double press of the highlight key: starts drawing a region box (true);
    // while drawing, stops (false); with a box already drawn, does nothing (false).
    bool toggleDrawing();
    // The drag that draws the box, in the border window's points (bottom-left origin).
    // While drawing, the border window takes the pointer and passes it here.
    void mouseDown(QPointF point);
    void mouseDragged(QPointF point);
    void mouseUp();
    // The part of the window the box stands for, in the window's own points (bottom-left
    // origin); none while drawing or without a box.
    std::optional<QRectF> regionCrop() const;

    // The border window (null once closed) and its native id (0 once closed).
    QWidget* window() const;
    quintptr nativeId() const;
    // The colour the border paints now.
    QColor shownBorderColor() const;

    static QColor normalBorderColor();
    static QColor recordingBorderColor();
    static constexpr double BORDER_WIDTH = 4.0;
    static constexpr double CORNER_RADIUS = 15.0;

    // State, by the design's names.
    const qint64 windowNumber;
    const bool highlight;
    const bool entireScreen;
    std::optional<QColor> currentBorderColor;
    bool isRecording = false;
    // The border window's inset from the shared window's frame: negative reaches out.
    const double frameOffset;
    QRectF existingFrame;
    bool hidden = true;
    bool drawingRectangle = false;
    QPointF firstPoint;
    QPointF currentPoint;
    std::optional<QRectF> roiBox;

private:
    void applyBorderColor(const QColor& color);
    void startDrawing();
    void stopDrawing();
    void updateBox();

    OwnWindows& ownWindows;
    QPointer<HighlightBorderWindow> border;
};

} // namespace vistrale
