#pragma once

#include "platform/platform.h"

#include <QString>

namespace vistrale {

// Picks the backends at start-up. The X11 desktop is used when an X server answers;
// VISTRALE_PLATFORM=fake forces the in-memory desktop (one screen, no windows) and
// VISTRALE_PLATFORM=x11 insists on X11. Qt provides the clock, dialogs, screens,
// sounds and audio devices in every case. Main thread, after the application object
// exists.
struct LoadedPlatform {
    Platform platform;
    // "x11" or "fake".
    QString desktop;
    // Why the X11 desktop is not used; empty when it is.
    QString problem;
};

LoadedPlatform loadPlatform();

} // namespace vistrale
