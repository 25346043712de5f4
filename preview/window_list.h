#pragma once

#include "platform/window_server.h"

#include <QList>
#include <QPointF>
#include <QSet>
#include <optional>

namespace vistrale {

// Queries over the desktop's window list, front to back as the window server reports
// it. They decide which windows can be picked; none of them changes anything.

// The picture-worthy windows: everything the server lists, without the
// "LanguageTool for Desktop" application's windows.
QList<Window> copyWindowList(WindowServer& server, bool onScreenOnly);

// Whether a window belongs to this application and must not be picked: its owner is
// "Vistrale" (any case) or this process, unless it is the document viewer.
bool isOwnWindow(const Window& window, qint64 ownPid);

// The frontmost pickable window containing the point; without one, and unless
// `noDesktopFallback`, the bare desktop when it contains the point.
std::optional<Window> windowUnderPoint(WindowServer& server, QPointF point, bool noDesktopFallback, qint64 ownPid);

// The shared windows as they stand now, back to front, and the numbers of the
// frontmost pickable window whose hit region (`hitRegions`, else its frame) contains
// the point and of the frontmost whose frame does (0 when none).
struct SharedWindowInfos {
    QList<Window> entries;
    qint64 regionHit = 0;
    qint64 frameHit = 0;
};
SharedWindowInfos sharedWindowInfos(WindowServer& server, QPointF point, const QSet<qint64>& shared,
    const std::function<std::optional<QRectF>(const Window&)>& hitRegion, qint64 ownPid);

} // namespace vistrale
