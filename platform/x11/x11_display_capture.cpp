#include "platform/x11/x11_display_capture.h"

#include "platform/log.h"

#include <QRegion>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <unistd.h>
#include <vector>
#include <xcb/composite.h>
#include <xcb/damage.h>
#include <xcb/randr.h>
#include <xcb/res.h>

namespace vistrale::x11 {
namespace {

template <class T> using Owned = std::unique_ptr<T, decltype(&free)>;
template <class T> Owned<T> own(T* reply)
{
    return Owned<T>(reply, &free);
}

constexpr quint32 MAX_CLIENTS = 1u << 16;

xcb_atom_t intern(xcb_connection_t* c, const char* name)
{
    auto reply
        = own(xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<quint16>(strlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// One child of the root, as the server stacks it.
struct TopLevel {
    xcb_window_t window = 0;
    // The outer rectangle, border included, in root coordinates.
    QRect rect;
    bool viewable = false;
    bool ours = false;
};

// Captures one monitor from the root, woken by XDamage on the root (which reports the
// repaints of everything on screen). This process's own windows are left out: where they
// stand, the named pixmaps of the windows beneath them are painted bottom to top over the
// wallpaper (_XROOTPMAP_ID, else black), so the picture shows what the desktop would show
// without them.
class DisplayCapture : public CaptureWorker {
public:
    DisplayCapture(xcb_connection_t* connection, xcb_window_t rootWindow, quint32 display,
        CaptureService::FrameSink frames, CaptureService::ErrorSink errors)
        : CaptureWorker(connection, std::move(frames), std::move(errors))
        , root(rootWindow)
        , displayId(display)
    {
    }

    bool setUp()
    {
        if (!initDamage()) {
            logLine("display capture needs the Damage extension");
            return false;
        }
        const xcb_query_extension_reply_t* randr = xcb_get_extension_data(c, &xcb_randr_id);
        hasRandr = randr && randr->present;
        if (hasRandr)
            free(xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr));
        const xcb_query_extension_reply_t* res = xcb_get_extension_data(c, &xcb_res_id);
        hasRes = res && res->present;
        if (hasRes)
            free(xcb_res_query_version_reply(c, xcb_res_query_version(c, 1, 2), nullptr));
        netClientList = intern(c, "_NET_CLIENT_LIST");
        netWmPid = intern(c, "_NET_WM_PID");
        rootPixmapAtom = intern(c, "_XROOTPMAP_ID");
        if (!findArea()) {
            logLine("no such display: ", static_cast<double>(displayId));
            return false;
        }
        xcb_generic_error_t* error = xcb_request_check(
            c, xcb_composite_redirect_subwindows_checked(c, root, XCB_COMPOSITE_REDIRECT_AUTOMATIC));
        if (error) {
            // Without named pixmaps this process's windows cannot be painted over.
            free(error);
            logLine("Composite redirection refused for the display capture");
            return false;
        }
        const quint32 events
            = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &events);
        damage = xcb_generate_id(c);
        error = xcb_request_check(c, xcb_damage_create_checked(c, damage, root, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY));
        if (error) {
            free(error);
            damage = 0;
            logLine("display capture cannot watch the root for damage");
            return false;
        }
        return true;
    }

protected:
    void handleEvent(const xcb_generic_event_t* event) override
    {
        const quint8 type = event->response_type & 0x7f;
        if (type == damageEventBase() + XCB_DAMAGE_NOTIFY) {
            dirty = true;
            return;
        }
        switch (type) {
        case XCB_CONFIGURE_NOTIFY:
            if (reinterpret_cast<const xcb_configure_notify_event_t*>(event)->window == root) {
                // RandR resized the screen: the monitor may have moved.
                areaStale = true;
            }
            stackStale = true;
            dirty = true;
            break;
        case XCB_MAP_NOTIFY:
        case XCB_UNMAP_NOTIFY:
        case XCB_CREATE_NOTIFY:
        case XCB_DESTROY_NOTIFY:
        case XCB_REPARENT_NOTIFY:
        case XCB_CIRCULATE_NOTIFY:
            stackStale = true;
            dirty = true;
            break;
        case XCB_PROPERTY_NOTIFY:
            if (reinterpret_cast<const xcb_property_notify_event_t*>(event)->atom == netClientList
                || reinterpret_cast<const xcb_property_notify_event_t*>(event)->atom == rootPixmapAtom)
                stackStale = true;
            break;
        default:
            break;
        }
    }

    bool wantsCapture() const override { return dirty && !failed(); }

    void capture() override
    {
        if (areaStale && !findArea()) {
            fail("display gone");
            return;
        }
        if (stackStale) {
            readStack();
            watchWindowsBeneath();
        }
        xcb_damage_subtract(c, damage, XCB_NONE, XCB_NONE);
        for (const auto& [window, beneath] : windowDamage)
            xcb_damage_subtract(c, beneath, XCB_NONE, XCB_NONE);
        std::shared_ptr<FrameBuffer> buffer = pool.acquire(area.size());
        if (buffer->image.isNull()) {
            fail("display too large to capture");
            return;
        }
        const ReadResult result = reader->read(root, area, &buffer->image);
        if (result != ReadResult::Done) {
            // The root cannot go away; the monitor may have changed under us.
            areaStale = true;
            if (++failures >= 10)
                fail("display cannot be read");
            return;
        }
        failures = 0;
        paintOverOwnWindows(&buffer->image);
        dirty = false;
        deliver(buffer);
    }

    void sizeRequested(QSize) override
    {
        areaStale = true;
        dirty = true;
    }

    void release() override
    {
        if (damage)
            xcb_damage_destroy(c, damage);
        damage = 0;
        for (const auto& [window, beneath] : windowDamage)
            xcb_damage_destroy(c, beneath);
        windowDamage.clear();
    }

private:
    // The monitor's rectangle on the root, RandR's primary monitor first.
    bool findArea()
    {
        areaStale = false;
        auto geometry = own(xcb_get_geometry_reply(c, xcb_get_geometry(c, root), nullptr));
        if (!geometry)
            return false;
        const QRect whole(0, 0, geometry->width, geometry->height);
        QList<QRect> monitors;
        if (hasRandr) {
            auto reply = own(xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, root, 1), nullptr));
            if (reply) {
                for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem;
                     xcb_randr_monitor_info_next(&it)) {
                    const QRect rect(it.data->x, it.data->y, it.data->width, it.data->height);
                    if (rect.isEmpty())
                        continue;
                    if (it.data->primary)
                        monitors.prepend(rect);
                    else
                        monitors.append(rect);
                }
            }
        }
        if (monitors.isEmpty())
            monitors.append(whole);
        if (displayId < 1 || displayId > static_cast<quint32>(monitors.size()))
            return false;
        const QRect found = monitors[static_cast<qsizetype>(displayId - 1)] & whole;
        if (found.isEmpty() || found.width() > MAX_CAPTURE_SIDE || found.height() > MAX_CAPTURE_SIDE)
            return false;
        area = found;
        return true;
    }

    qint32 resPid(xcb_res_query_client_ids_cookie_t cookie)
    {
        auto reply = own(xcb_res_query_client_ids_reply(c, cookie, nullptr));
        if (!reply)
            return 0;
        for (auto it = xcb_res_query_client_ids_ids_iterator(reply.get()); it.rem; xcb_res_client_id_value_next(&it)) {
            if ((it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID)
                && xcb_res_client_id_value_value_length(it.data) >= 1)
                return static_cast<qint32>(*xcb_res_client_id_value_value(it.data));
        }
        return 0;
    }

    // The root's children bottom to top, and which of them hold this process's windows:
    // made by this process's connections (X-Resource), or framing a client whose
    // _NET_WM_PID or creator is this process. Every request is sent before any reply.
    void readStack()
    {
        stackStale = false;
        stack.clear();
        const qint32 self = getpid();
        auto tree = own(xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr));
        if (!tree)
            return;
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        const int count = xcb_query_tree_children_length(tree.get());
        struct Asked {
            xcb_get_window_attributes_cookie_t attributes;
            xcb_get_geometry_cookie_t geometry;
            xcb_res_query_client_ids_cookie_t ids;
        };
        std::vector<Asked> asked(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) {
            asked[i].attributes = xcb_get_window_attributes(c, children[i]);
            asked[i].geometry = xcb_get_geometry(c, children[i]);
            if (hasRes) {
                xcb_res_client_id_spec_t wanted{children[i], XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
                asked[i].ids = xcb_res_query_client_ids(c, 1, &wanted);
            }
        }
        const auto listCookie = xcb_get_property(c, 0, root, netClientList, XCB_ATOM_WINDOW, 0, MAX_CLIENTS);
        const auto wallpaperCookie = xcb_get_property(c, 0, root, rootPixmapAtom, XCB_ATOM_PIXMAP, 0, 1);
        for (int i = 0; i < count; ++i) {
            auto attributes = own(xcb_get_window_attributes_reply(c, asked[i].attributes, nullptr));
            auto geometry = own(xcb_get_geometry_reply(c, asked[i].geometry, nullptr));
            const qint32 pid = hasRes ? resPid(asked[i].ids) : 0;
            if (!attributes || !geometry || attributes->_class != XCB_WINDOW_CLASS_INPUT_OUTPUT)
                continue;
            TopLevel top;
            top.window = children[i];
            top.rect = QRect(geometry->x, geometry->y, geometry->width + 2 * geometry->border_width,
                geometry->height + 2 * geometry->border_width);
            top.viewable = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
            top.ours = pid == self;
            stack.push_back(top);
        }

        // The wallpaper a desktop setter published, if any, is what the bare root shows.
        rootPixmap = 0;
        auto wallpaper = own(xcb_get_property_reply(c, wallpaperCookie, nullptr));
        if (wallpaper && wallpaper->format == 32 && xcb_get_property_value_length(wallpaper.get()) >= 4)
            rootPixmap = *static_cast<const xcb_pixmap_t*>(xcb_get_property_value(wallpaper.get()));

        // Managed clients of this process sit inside frames the window manager made.
        auto list = own(xcb_get_property_reply(c, listCookie, nullptr));
        if (!list || list->format != 32 || list->type != XCB_ATOM_WINDOW)
            return;
        const auto* clients = static_cast<const xcb_window_t*>(xcb_get_property_value(list.get()));
        const int clientCount = xcb_get_property_value_length(list.get()) / 4;
        std::vector<xcb_get_property_cookie_t> pids(static_cast<size_t>(clientCount));
        std::vector<xcb_res_query_client_ids_cookie_t> creators(static_cast<size_t>(clientCount));
        for (int i = 0; i < clientCount; ++i) {
            pids[i] = xcb_get_property(c, 0, clients[i], netWmPid, XCB_ATOM_CARDINAL, 0, 1);
            if (hasRes) {
                xcb_res_client_id_spec_t wanted{clients[i], XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
                creators[i] = xcb_res_query_client_ids(c, 1, &wanted);
            }
        }
        std::vector<xcb_window_t> ownClients;
        for (int i = 0; i < clientCount; ++i) {
            auto pid = own(xcb_get_property_reply(c, pids[i], nullptr));
            qint32 netPid = 0;
            if (pid && pid->format == 32 && xcb_get_property_value_length(pid.get()) >= 4)
                netPid = static_cast<qint32>(*static_cast<const quint32*>(xcb_get_property_value(pid.get())));
            const qint32 creator = hasRes ? resPid(creators[i]) : 0;
            if (netPid == self || creator == self)
                ownClients.push_back(clients[i]);
        }
        for (xcb_window_t client : ownClients) {
            xcb_window_t window = client;
            for (int depth = 0; depth < 16 && window; ++depth) {
                auto parent = own(xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr));
                if (!parent)
                    break;
                if (parent->parent == root) {
                    for (TopLevel& top : stack) {
                        if (top.window == window)
                            top.ours = true;
                    }
                    break;
                }
                window = parent->parent;
            }
        }
    }

    // Repaints hidden beneath this process's windows do not reach the root, so the
    // windows they cover are watched on their own. A damage object of a window destroyed
    // meanwhile is gone with it; destroying it again only returns an error we ignore.
    void watchWindowsBeneath()
    {
        QRegion covered;
        for (const TopLevel& top : stack) {
            if (top.viewable && top.ours)
                covered += top.rect & area;
        }
        std::map<xcb_window_t, xcb_damage_damage_t> kept;
        for (const TopLevel& top : stack) {
            if (!top.viewable || top.ours || !covered.intersects(top.rect))
                continue;
            auto it = windowDamage.find(top.window);
            if (it != windowDamage.end()) {
                kept.insert(*it);
                windowDamage.erase(it);
                continue;
            }
            const xcb_damage_damage_t beneath = xcb_generate_id(c);
            xcb_damage_create(c, beneath, top.window, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
            kept.emplace(top.window, beneath);
        }
        for (const auto& [window, beneath] : windowDamage)
            xcb_damage_destroy(c, beneath);
        windowDamage.swap(kept);
    }

    // Replaces what this process's windows show with what lies beneath them.
    void paintOverOwnWindows(QImage* image)
    {
        QRegion covered;
        for (const TopLevel& top : stack) {
            if (top.viewable && top.ours)
                covered += top.rect & area;
        }
        if (covered.isEmpty())
            return;
        // Another window stacked above one of ours shows on the root read as it is; only
        // what ours cover (and not a window above them) is painted again.
        QRegion above;
        QRegion repaint;
        for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
            if (!it->viewable)
                continue;
            if (it->ours)
                repaint += QRegion(it->rect & area) - above;
            above += it->rect & area;
        }
        for (const QRect& r : repaint) {
            const QRect local = r.translated(-area.topLeft());
            for (int y = local.top(); y <= local.bottom(); ++y) {
                auto* line = reinterpret_cast<quint32*>(image->scanLine(y));
                std::fill(line + local.left(), line + local.right() + 1, 0xFF000000u);
            }
        }
        // One read per window beneath, of the bounding box of what it shows there, with
        // every request sent before any reply is awaited.
        std::vector<xcb_pixmap_t> pixmaps;
        std::vector<CaptureReader::Piece> pieces;
        // The wallpaper first; where none is published (or it is smaller than the
        // screen) the bare root stays black.
        if (rootPixmap) {
            const QRect box = repaint.boundingRect();
            pieces.push_back({rootPixmap, box, box.topLeft() - area.topLeft(), repaint.translated(-area.topLeft())});
        }
        for (const TopLevel& top : stack) {
            if (!top.viewable || top.ours)
                continue;
            const QRegion shown = repaint & top.rect;
            if (shown.isEmpty())
                continue;
            // A window that cannot be named (gone meanwhile) makes its read fail, which
            // only leaves that piece black.
            const xcb_pixmap_t pixmap = xcb_generate_id(c);
            xcb_composite_name_window_pixmap(c, top.window, pixmap);
            pixmaps.push_back(pixmap);
            const QRect box = shown.boundingRect();
            pieces.push_back({pixmap, box.translated(-top.rect.topLeft()), box.topLeft() - area.topLeft(),
                shown.translated(-area.topLeft())});
        }
        reader->readBatch(pieces, image);
        for (xcb_pixmap_t pixmap : pixmaps)
            xcb_free_pixmap(c, pixmap);
    }

    xcb_window_t root;
    quint32 displayId;
    bool hasRandr = false;
    bool hasRes = false;
    xcb_atom_t netClientList = XCB_ATOM_NONE;
    xcb_atom_t netWmPid = XCB_ATOM_NONE;
    xcb_atom_t rootPixmapAtom = XCB_ATOM_NONE;
    xcb_pixmap_t rootPixmap = 0;
    xcb_damage_damage_t damage = 0;
    QRect area;
    std::vector<TopLevel> stack;
    // Damage objects on the windows beneath this process's windows.
    std::map<xcb_window_t, xcb_damage_damage_t> windowDamage;
    bool dirty = true;
    bool areaStale = false;
    bool stackStale = true;
    int failures = 0;
};

} // namespace

std::unique_ptr<CaptureWorker> makeDisplayCapture(
    const QString& displayName, quint32 displayId, CaptureService::FrameSink frames, CaptureService::ErrorSink errors)
{
    xcb_screen_t* screen = nullptr;
    xcb_connection_t* c = openCaptureConnection(displayName, &screen);
    if (!c)
        return nullptr;
    auto worker = std::make_unique<DisplayCapture>(c, screen->root, displayId, std::move(frames), std::move(errors));
    if (!worker->setUp())
        return nullptr;
    return worker;
}

} // namespace vistrale::x11
