#include "preview/window_list.h"

namespace vistrale {

QList<Window> copyWindowList(WindowServer& server, bool onScreenOnly)
{
    QList<Window> windows = server.windowList(onScreenOnly);
    windows.removeIf([](const Window& window) { return window.applicationName == "LanguageTool for Desktop"; });
    return windows;
}

bool isOwnWindow(const Window& window, qint64 ownPid)
{
    if (window.windowName == QString("vistrale-document-viewer"))
        return false;
    return window.applicationName.compare("Vistrale", Qt::CaseInsensitive) == 0 || (ownPid > 0 && window.pid == ownPid);
}

std::optional<Window> windowUnderPoint(WindowServer& server, QPointF point, bool noDesktopFallback, qint64 ownPid)
{
    for (const Window& window : copyWindowList(server, true))
        if (window.frame.contains(point) && !isOwnWindow(window, ownPid))
            return window;
    if (noDesktopFallback)
        return std::nullopt;
    std::optional<Window> desktop = server.desktopWindow();
    if (desktop && desktop->frame.contains(point))
        return desktop;
    return std::nullopt;
}

SharedWindowInfos sharedWindowInfos(WindowServer& server, QPointF point, const QSet<qint64>& shared,
    const std::function<std::optional<QRectF>(const Window&)>& hitRegion, qint64 ownPid)
{
    SharedWindowInfos infos;
    if (shared.isEmpty())
        return infos;
    QList<Window> kept = copyWindowList(server, true);
    kept.removeIf([ownPid](const Window& window) { return isOwnWindow(window, ownPid); });
    // Front to back: the first hits are the frontmost.
    for (const Window& window : kept) {
        const std::optional<QRectF> region = hitRegion ? hitRegion(window) : std::nullopt;
        if (infos.regionHit == 0 && region.value_or(window.frame).contains(point))
            infos.regionHit = window.windowNumber;
        if (infos.frameHit == 0 && window.frame.contains(point))
            infos.frameHit = window.windowNumber;
    }
    for (auto it = kept.crbegin(); it != kept.crend(); ++it)
        if (shared.contains(it->windowNumber))
            infos.entries.append(*it);
    return infos;
}

} // namespace vistrale
