#pragma once

#include "platform/screens.h"

#include <QList>
#include <QRectF>

namespace vistrale {

// What the layout of one shared window in the output depends on.
struct LayoutInput {
    // The screens in the system's order (global points, bottom-left origin).
    QList<ScreenInfo> screens;
    double camWidth = 0;
    double camHeight = 0;
    bool smartScaling = false;
    // The window is marked to fill the whole output.
    bool fillsOutput = false;
};

struct FrameLayout {
    // The window's frame in the output (points, bottom-left origin).
    QRectF frame;
    // Output points per window point: frame width ÷ window width (0 for an empty window).
    double pointerScale = 0;
};

// Places a window (its global frame) in the output: its screen is fitted into the
// output (letterboxed or pillarboxed, centred) and the window lands where it stands on
// that screen. Smart scaling lets a window the fit would shrink grow back towards its
// real size, as far as the output allows, kept inside the output.
FrameLayout layoutFrame(const LayoutInput& input, const QRectF& window);

} // namespace vistrale
