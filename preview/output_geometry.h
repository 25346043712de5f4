#pragma once

#include "platform/screens.h"

#include <QList>
#include <QRectF>
#include <QSize>
#include <optional>

namespace vistrale {

// Width and height of the output picture, the share window and the camera format.
constexpr int OUTPUT_RESOLUTION[2] = {1920, 1080};

// A number rounded to the nearest whole number, halves away from zero.
double roundHalfAway(double value);

// The preview's size: one seventh of the output, each side truncated.
QRectF previewRectFor(double camWidth, double camHeight);

// Where the preview window opens: the stored frame, or the top right of the main
// display (8 points from the edges, 25 more for the top bar). Bottom-left origin.
QRectF previewWindowFrame(
    const std::optional<QRectF>& stored, const std::optional<ScreenInfo>& mainScreen, QSizeF size);

// The largest window or picture size any stored geometry may ask for.
inline constexpr double MAX_STORED_SIZE = 8192;

// A stored preview frame ("preview-frame") made safe to use: none (with a log line)
// when the text is not a rectangle, is empty, or lies off every screen; otherwise
// shrunk, keeping its aspect, to at most its screen and MAX_STORED_SIZE, and moved
// wholly onto that screen. With no screens known the output's size stands in.
std::optional<QRectF> storedPreviewFrame(const std::optional<QString>& text, const QList<ScreenInfo>& screens);

// The share window parked so that only a 32 × 32 corner of it overlaps the bottom
// right corner of the rightmost screen.
QRectF parkedShareWindowFrame(const QList<ScreenInfo>& screens, QSizeF size);

// The screen a window belongs to: the one it overlaps most (the first on ties).
std::optional<ScreenInfo> screenOfWindow(const QList<ScreenInfo>& screens, const QRectF& frame);

// True when the window lies wholly on its screen.
bool liesWhollyOnScreen(const QList<ScreenInfo>& screens, const QRectF& frame);

} // namespace vistrale
