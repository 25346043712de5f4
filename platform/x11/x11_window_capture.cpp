#include "platform/x11/x11_window_capture.h"

#include "platform/log.h"

#include <cstdlib>
#include <memory>
#include <xcb/composite.h>
#include <xcb/damage.h>

namespace vistrale::x11 {
namespace {

template <class T> using Owned = std::unique_ptr<T, decltype(&free)>;
template <class T> Owned<T> own(T* reply)
{
    return Owned<T>(reply, &free);
}

QString hex(quint32 id)
{
    return "0x" + QString::number(id, 16);
}

// The child of the root that holds `window` (the window manager's frame, or the window
// itself when unmanaged); 0 when it does not exist. Bounded against a changing tree.
xcb_window_t topLevelOf(xcb_connection_t* c, xcb_window_t window)
{
    for (int depth = 0; depth < 16 && window; ++depth) {
        auto tree = own(xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr));
        if (!tree)
            return 0;
        if (tree->parent == tree->root || tree->parent == XCB_WINDOW_NONE)
            return window;
        window = tree->parent;
    }
    return 0;
}

// Captures the frame of one client window from its Composite named pixmap, woken by
// XDamage on the frame. Renames the pixmap when the frame is resized or mapped again.
class WindowCapture : public CaptureWorker {
public:
    WindowCapture(xcb_connection_t* connection, xcb_window_t rootWindow, xcb_window_t clientWindow,
        CaptureService::FrameSink frames, CaptureService::ErrorSink errors)
        : CaptureWorker(connection, std::move(frames), std::move(errors))
        , root(rootWindow)
        , client(clientWindow)
    {
    }

    // Finds the frame and starts watching it. False, with a log line, when it cannot.
    bool setUp()
    {
        if (!initDamage()) {
            logLine("capture needs the Damage extension on window ", hex(client));
            return false;
        }
        // Redirection belongs to the connection that asks for it, so each stream asks on
        // its own; automatic redirection by several clients is allowed.
        xcb_generic_error_t* error = xcb_request_check(
            c, xcb_composite_redirect_subwindows_checked(c, root, XCB_COMPOSITE_REDIRECT_AUTOMATIC));
        if (error) {
            free(error);
            logLine("Composite redirection refused for the capture of window ", hex(client));
            return false;
        }
        const xcb_window_t top = topLevelOf(c, client);
        if (!top) {
            logLine("capture finds no window ", hex(client));
            return false;
        }
        const quint32 events = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        if (top != client) {
            error = xcb_request_check(c, xcb_change_window_attributes_checked(c, client, XCB_CW_EVENT_MASK, &events));
            if (error) {
                free(error);
                logLine("capture finds no window ", hex(client));
                return false;
            }
        }
        if (!attach(top)) {
            logLine("capture finds no frame of window ", hex(client));
            return false;
        }
        return true;
    }

protected:
    void handleEvent(const xcb_generic_event_t* event) override
    {
        const quint8 type = event->response_type & 0x7f;
        if (type == 0) {
            const auto* e = reinterpret_cast<const xcb_generic_error_t*>(event);
            const bool ours = e->resource_id == frame || e->resource_id == client || e->resource_id == pixmap;
            if (ours && (e->error_code == XCB_WINDOW || e->error_code == XCB_DRAWABLE))
                fail("window gone");
            return;
        }
        if (type == damageEventBase() + XCB_DAMAGE_NOTIFY) {
            if (reinterpret_cast<const xcb_damage_notify_event_t*>(event)->damage == damage)
                dirty = true;
            return;
        }
        switch (type) {
        case XCB_CONFIGURE_NOTIFY: {
            const auto* e = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
            if (e->window == frame
                && (e->width != size.width() || e->height != size.height() || e->border_width != border)) {
                freePixmap();
                dirty = true;
            }
            break;
        }
        case XCB_MAP_NOTIFY:
            if (reinterpret_cast<const xcb_map_notify_event_t*>(event)->window == frame) {
                mapped = true;
                freePixmap();
                dirty = true;
            }
            break;
        case XCB_UNMAP_NOTIFY:
            // Minimised: no frames until it is mapped again.
            if (reinterpret_cast<const xcb_unmap_notify_event_t*>(event)->window == frame) {
                mapped = false;
                freePixmap();
            }
            break;
        case XCB_DESTROY_NOTIFY: {
            const auto* e = reinterpret_cast<const xcb_destroy_notify_event_t*>(event);
            if (e->window == client) {
                fail("window gone");
            } else if (e->window == frame) {
                // The window manager may have framed the client anew (a restart).
                frame = 0;
                damage = 0; // destroyed with its drawable
                freePixmap();
                const xcb_window_t top = topLevelOf(c, client);
                if (!top || top == client || !attach(top))
                    fail("window gone");
            }
            break;
        }
        case XCB_REPARENT_NOTIFY: {
            const auto* e = reinterpret_cast<const xcb_reparent_notify_event_t*>(event);
            // Withdrawn: the window manager handed the client back to the root for good.
            if (e->window == client && e->parent == root && frame != client)
                fail("window gone");
            break;
        }
        default:
            break;
        }
    }

    bool wantsCapture() const override { return dirty && mapped && !failed(); }

    void capture() override
    {
        if (!pixmap && !namePixmap()) {
            checkAlive();
            return;
        }
        // Subtract before reading: damage done during the read is reported again.
        xcb_damage_subtract(c, damage, XCB_NONE, XCB_NONE);
        std::shared_ptr<FrameBuffer> buffer = pool.acquire(size);
        if (buffer->image.isNull()) {
            fail("window too large to capture");
            return;
        }
        const ReadResult result = reader->read(pixmap, QRect(QPoint(border, border), size), &buffer->image);
        if (result == ReadResult::Done) {
            dirty = false;
            failures = 0;
            deliver(buffer);
            return;
        }
        if (result == ReadResult::Unsupported) {
            fail("window pixels in an unsupported format");
            return;
        }
        // The pixmap may be stale (resized meanwhile): name it again next time.
        freePixmap();
        checkAlive();
    }

    void sizeRequested(QSize) override
    {
        // The picture keeps the window's real size; a new expected size means the
        // window changed, so its pixmap is named afresh for the next frame.
        freePixmap();
        dirty = true;
    }

    void release() override
    {
        freePixmap();
        if (damage)
            xcb_damage_destroy(c, damage);
        damage = 0;
    }

private:
    // Watches `top` as the frame: its structure events, a damage object, its state.
    bool attach(xcb_window_t top)
    {
        const quint32 events = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_generic_error_t* error
            = xcb_request_check(c, xcb_change_window_attributes_checked(c, top, XCB_CW_EVENT_MASK, &events));
        if (error) {
            free(error);
            return false;
        }
        const xcb_damage_damage_t newDamage = xcb_generate_id(c);
        error = xcb_request_check(c, xcb_damage_create_checked(c, newDamage, top, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY));
        if (error) {
            free(error);
            return false;
        }
        auto attributes = own(xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, top), nullptr));
        if (!attributes) {
            xcb_damage_destroy(c, newDamage);
            return false;
        }
        frame = top;
        damage = newDamage;
        mapped = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        dirty = true;
        return true;
    }

    // Names the frame's pixmap and reads its size. False when the frame is unmapped,
    // gone, or of a size no picture can have.
    bool namePixmap()
    {
        freePixmap();
        auto geometry = own(xcb_get_geometry_reply(c, xcb_get_geometry(c, frame), nullptr));
        if (!geometry)
            return false;
        const QSize frameSize(geometry->width, geometry->height);
        if (frameSize.isEmpty() || frameSize.width() > MAX_CAPTURE_SIDE || frameSize.height() > MAX_CAPTURE_SIDE
            || geometry->border_width > MAX_CAPTURE_SIDE) {
            // Waits for a configure event with a usable size.
            dirty = false;
            return false;
        }
        const xcb_pixmap_t named = xcb_generate_id(c);
        xcb_generic_error_t* error = xcb_request_check(c, xcb_composite_name_window_pixmap_checked(c, frame, named));
        if (error) {
            free(error);
            return false;
        }
        pixmap = named;
        size = frameSize;
        border = geometry->border_width;
        return true;
    }

    void freePixmap()
    {
        if (pixmap)
            xcb_free_pixmap(c, pixmap);
        pixmap = 0;
    }

    // After a failed read: ends the stream when the window is gone, pauses it while
    // unmapped, and gives up after repeated failures of a mapped window.
    void checkAlive()
    {
        if (failed())
            return;
        auto clientAttributes = own(xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, client), nullptr));
        auto attributes = own(xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, frame), nullptr));
        if (!clientAttributes || !attributes) {
            fail("window gone");
            return;
        }
        if (attributes->map_state != XCB_MAP_STATE_VIEWABLE) {
            mapped = false;
            return;
        }
        if (++failures >= 10)
            fail("window cannot be read");
    }

    xcb_window_t root;
    xcb_window_t client;
    xcb_window_t frame = 0;
    xcb_damage_damage_t damage = 0;
    xcb_pixmap_t pixmap = 0;
    QSize size;
    int border = 0;
    bool mapped = false;
    bool dirty = true;
    int failures = 0;
};

} // namespace

std::unique_ptr<CaptureWorker> makeWindowCapture(
    const QString& displayName, xcb_window_t client, CaptureService::FrameSink frames, CaptureService::ErrorSink errors)
{
    xcb_screen_t* screen = nullptr;
    xcb_connection_t* c = openCaptureConnection(displayName, &screen);
    if (!c)
        return nullptr;
    auto worker = std::make_unique<WindowCapture>(c, screen->root, client, std::move(frames), std::move(errors));
    if (!worker->setUp())
        return nullptr;
    return worker;
}

} // namespace vistrale::x11
