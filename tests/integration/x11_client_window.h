#pragma once

#include <QByteArray>
#include <QList>
#include <QRect>
#include <QString>
#include <cstdlib>
#include <cstring>
#include <xcb/shape.h>
#include <xcb/xcb.h>
#include <xcb/xcb_icccm.h>

namespace vistrale::test {

// A plain top-level window made the way Qt makes its own (WM_NAME, WM_CLASS and size
// hints, mapped on request), on a connection of its own: stands for one of the
// application's windows when the backends are tested without Qt on that display.
class ClientWindow {
public:
    ClientWindow(const QString& display, const QRect& rect, const QByteArray& title, bool overrideRedirect = false)
    {
        c = xcb_connect(display.toLocal8Bit().constData(), nullptr);
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        id = xcb_generate_id(c);
        const quint32 values[] = {screen->white_pixel, overrideRedirect ? 1u : 0u};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, id, screen->root, static_cast<qint16>(rect.x()),
            static_cast<qint16>(rect.y()), static_cast<quint16>(rect.width()), static_cast<quint16>(rect.height()), 0,
            XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        xcb_icccm_set_wm_name(c, id, XCB_ATOM_STRING, 8, static_cast<quint32>(title.size()), title.constData());
        const char wmClass[] = "ownwindow\0OwnWindow";
        xcb_icccm_set_wm_class(c, id, sizeof(wmClass), wmClass);
        // Qt always writes a position, a size and its size limits.
        xcb_size_hints_t hints{};
        xcb_icccm_size_hints_set_position(&hints, 0, rect.x(), rect.y());
        xcb_icccm_size_hints_set_size(&hints, 0, rect.width(), rect.height());
        xcb_icccm_size_hints_set_min_size(&hints, 160, 90);
        xcb_icccm_set_wm_normal_hints(c, id, &hints);
        sync();
    }
    ~ClientWindow()
    {
        xcb_destroy_window(c, id);
        xcb_flush(c);
        xcb_disconnect(c);
    }
    ClientWindow(const ClientWindow&) = delete;
    ClientWindow& operator=(const ClientWindow&) = delete;

    void map()
    {
        xcb_map_window(c, id);
        sync();
    }
    // Writes the size hints again without an aspect ratio, as Qt does when a window's
    // size limits change.
    void rewriteSizeHints()
    {
        xcb_size_hints_t hints{};
        xcb_icccm_size_hints_set_min_size(&hints, 160, 90);
        xcb_icccm_set_wm_normal_hints(c, id, &hints);
        sync();
    }
    void setProperty(xcb_atom_t property, xcb_atom_t type, quint8 format, const void* data, quint32 items)
    {
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, property, type, format, items, data);
        sync();
    }
    // Returns once the server has handled every request sent so far.
    void sync() { free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); }
    xcb_atom_t atom(const char* name)
    {
        xcb_intern_atom_reply_t* reply
            = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<quint16>(strlen(name)), name), nullptr);
        const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(reply);
        return result;
    }
    // The number of rectangles in the window's input region.
    int inputRectangles()
    {
        xcb_shape_get_rectangles_reply_t* reply
            = xcb_shape_get_rectangles_reply(c, xcb_shape_get_rectangles(c, id, XCB_SHAPE_SK_INPUT), nullptr);
        const int count = reply ? xcb_shape_get_rectangles_rectangles_length(reply) : -1;
        free(reply);
        return count;
    }

    xcb_connection_t* c = nullptr;
    xcb_window_t id = 0;
};

// The root's children, bottom to top.
inline QList<xcb_window_t> rootChildren(xcb_connection_t* c)
{
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
    if (!tree)
        return {};
    const xcb_window_t* children = xcb_query_tree_children(tree);
    QList<xcb_window_t> order(children, children + xcb_query_tree_children_length(tree));
    free(tree);
    return order;
}

// The top-level window holding a client window (the window manager's frame).
inline xcb_window_t topLevelOf(xcb_connection_t* c, xcb_window_t window)
{
    for (;;) {
        xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr);
        const xcb_window_t parent = tree ? tree->parent : 0;
        const bool top = tree && tree->parent == tree->root;
        free(tree);
        if (top || !parent)
            return window;
        window = parent;
    }
}

} // namespace vistrale::test
