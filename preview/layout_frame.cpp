#include "preview/layout_frame.h"

#include "preview/output_geometry.h"

#include <algorithm>

namespace vistrale {
namespace {

// Every growth step adds this much on the left and on the right.
constexpr double GROWTH_STEP = 16;
constexpr int MAX_GROWTH_STEPS = 100;

QRectF rounded(const QRectF& rect)
{
    return QRectF(
        roundHalfAway(rect.x()), roundHalfAway(rect.y()), roundHalfAway(rect.width()), roundHalfAway(rect.height()));
}

FrameLayout withScale(const QRectF& frame, const QRectF& window)
{
    return FrameLayout{frame, window.width() > 0 ? frame.width() / window.width() : 0.0};
}

} // namespace

FrameLayout layoutFrame(const LayoutInput& input, const QRectF& window)
{
    const double camWidth = input.camWidth;
    const double camHeight = input.camHeight;
    if (input.fillsOutput)
        return withScale(QRectF(0, 0, camWidth, camHeight), window);

    const auto screen = std::find_if(
        input.screens.begin(), input.screens.end(), [&](const ScreenInfo& s) { return s.frame.intersects(window); });
    if (screen == input.screens.end() || camWidth <= 0 || camHeight <= 0)
        return FrameLayout{};
    const double sw = screen->frame.width();
    const double sh = screen->frame.height();
    const double dx = window.x() - screen->frame.x();
    const double dy = window.y() - screen->frame.y();

    // The screen fills the output's width (bars above and below) or its height (bars at
    // the sides), whichever keeps all of it in view.
    double k, x0, y0;
    if (camWidth / camHeight <= sw / sh) {
        k = camWidth / sw;
        x0 = 0;
        y0 = (camHeight - sh * camWidth / sw) / 2;
    } else {
        k = camHeight / sh;
        x0 = (camWidth - sw * camHeight / sh) / 2;
        y0 = 0;
    }
    const QRectF fitted = rounded(QRectF(dx * k + x0, dy * k + y0, window.width() * k, window.height() * k));
    if (!input.smartScaling)
        return withScale(fitted, window);
    if (fitted.width() >= window.width() && fitted.height() >= window.height())
        return withScale(fitted, window);

    // Grow about the centre, keeping the window's aspect, while it stays within both
    // its real size and the output.
    const double vertical = GROWTH_STEP * window.height() / window.width();
    auto fits = [&](const QRectF& r) {
        return r.width() <= camWidth && r.height() <= camHeight && r.width() <= window.width()
            && r.height() <= window.height();
    };
    QRectF result = fitted;
    QRectF grown = fitted;
    for (int step = 0; step < MAX_GROWTH_STEPS; ++step) {
        grown.adjust(-GROWTH_STEP, -vertical, GROWTH_STEP, vertical);
        if (!fits(grown))
            break;
        result = grown;
    }
    // When not even one step fits, the fitted rectangle stays, but it never shows
    // bigger than the output or the window itself. A window wider than its screen
    // would otherwise spill past the output's edges and be cut off; scaling it down
    // about its centre keeps all of it in view (a deliberate step beyond plain
    // growth).
    if (!fits(result)) {
        const double scale = std::min({camWidth / result.width(), camHeight / result.height(),
            window.width() / result.width(), window.height() / result.height()});
        if (scale < 1) {
            const QPointF centre = result.center();
            result.setSize(result.size() * scale);
            result.moveCenter(centre);
        }
    }

    // Pushed back inside the output.
    result.moveLeft(std::min(std::max(result.x(), 0.0), camWidth - result.width()));
    result.moveTop(std::min(std::max(result.y(), 0.0), camHeight - result.height()));
    return withScale(rounded(result), window);
}

} // namespace vistrale
