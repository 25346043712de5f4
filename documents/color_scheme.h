#pragma once

#include <QColor>

namespace vistrale {

// Whether the desktop prefers dark windows: the settings portal's
// org.freedesktop.appearance "color-scheme" (1 = dark, 2 = light) when a session bus
// answers within a short wait, else the application palette's window lightness. Main
// thread.
bool desktopPrefersDark();

// A page window's background: black on a dark desktop, white otherwise.
inline QColor pageBackground(bool dark)
{
    return dark ? QColor(Qt::black) : QColor(Qt::white);
}

} // namespace vistrale
