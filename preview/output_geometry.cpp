#include "preview/output_geometry.h"

#include "app/settings/geometry_strings.h"
#include "platform/log.h"

#include <algorithm>
#include <cmath>

namespace vistrale {

double roundHalfAway(double value)
{
    return std::round(value);
}

QRectF previewRectFor(double camWidth, double camHeight)
{
    return QRectF(0, 0, std::trunc(camWidth / 7), std::trunc(camHeight / 7));
}

QRectF previewWindowFrame(const std::optional<QRectF>& stored, const std::optional<ScreenInfo>& mainScreen, QSizeF size)
{
    if (stored)
        return *stored;
    const QRectF display = mainScreen ? mainScreen->frame : QRectF(0, 0, OUTPUT_RESOLUTION[0], OUTPUT_RESOLUTION[1]);
    return QRectF(display.x() + display.width() - size.width() - 8,
        display.y() + display.height() - size.height() - 8 - 25, size.width(), size.height());
}

std::optional<QRectF> storedPreviewFrame(const std::optional<QString>& text, const QList<ScreenInfo>& screens)
{
    if (!text)
        return std::nullopt;
    const std::optional<QRectF> stored = parseRectString(*text);
    const QList<ScreenInfo> present = screens.isEmpty()
        ? QList<ScreenInfo>{ScreenInfo{QRectF(0, 0, OUTPUT_RESOLUTION[0], OUTPUT_RESOLUTION[1]), QString(), 0}}
        : screens;
    // Sizes beyond any screen are refused before any arithmetic on them can overflow.
    const bool sane = stored && stored->width() > 0 && stored->height() > 0 && stored->width() < 1e9
        && stored->height() < 1e9 && std::abs(stored->x()) < 1e9 && std::abs(stored->y()) < 1e9;
    const std::optional<ScreenInfo> screen = sane ? screenOfWindow(present, *stored) : std::nullopt;
    if (!screen) {
        logLine("preview-frame not usable: ", printableText(*text));
        return std::nullopt;
    }
    const QRectF area = screen->frame;
    const double scale = std::min({1.0, area.width() / stored->width(), area.height() / stored->height(),
        MAX_STORED_SIZE / stored->width(), MAX_STORED_SIZE / stored->height()});
    QRectF frame(stored->topLeft(), stored->size() * scale);
    frame.moveLeft(std::clamp(frame.x(), area.left(), area.right() - frame.width()));
    frame.moveTop(std::clamp(frame.y(), area.top(), area.bottom() - frame.height()));
    return frame;
}

QRectF parkedShareWindowFrame(const QList<ScreenInfo>& screens, QSizeF size)
{
    QRectF rightmost = screens.isEmpty() ? QRectF() : screens.first().frame;
    for (const ScreenInfo& screen : screens)
        if (screen.frame.right() > rightmost.right())
            rightmost = screen.frame;
    // The window's top-left point sits 32 points left of and above the corner.
    const QPointF topLeft(rightmost.x() + rightmost.width() - 32, rightmost.y() + 32);
    return QRectF(topLeft.x(), topLeft.y() - size.height(), size.width(), size.height());
}

std::optional<ScreenInfo> screenOfWindow(const QList<ScreenInfo>& screens, const QRectF& frame)
{
    std::optional<ScreenInfo> best;
    double bestArea = 0;
    for (const ScreenInfo& screen : screens) {
        const QRectF common = screen.frame.intersected(frame);
        const double area = common.width() * common.height();
        if (area > bestArea) {
            bestArea = area;
            best = screen;
        }
    }
    return best;
}

bool liesWhollyOnScreen(const QList<ScreenInfo>& screens, const QRectF& frame)
{
    const auto screen = screenOfWindow(screens, frame);
    return screen && screen->frame.intersected(frame) == frame;
}

} // namespace vistrale
