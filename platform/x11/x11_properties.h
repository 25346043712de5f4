#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>
#include <xcb/xcb.h>

namespace vistrale::x11 {

// A window property as the server sent it. Other clients write these, so every reader
// below checks type, format and length and says in the log what it refused.
struct Property {
    bool exists = false;
    xcb_atom_t type = XCB_ATOM_NONE;
    quint8 format = 0;
    // The value's bytes; for format 32, host-order 32-bit items.
    QByteArray data;

    quint32 itemCount() const { return format ? static_cast<quint32>(data.size()) / (format / 8) : 0; }
};

// Names a property and its window in log lines: "_NET_WM_PID of window 0x400001".
struct PropertyOrigin {
    const char* name;
    xcb_window_t window;
};

// Asks for at most `maxItems` 32-bit units of the property (longer values are cut).
xcb_get_property_cookie_t askProperty(
    xcb_connection_t* c, xcb_window_t window, xcb_atom_t property, quint32 maxItems = 1024);
// A missing property or window gives a Property with exists false.
Property readProperty(xcb_connection_t* c, xcb_get_property_cookie_t cookie);

// One CARDINAL; none (with a log line when the property exists) when it is malformed.
std::optional<quint32> readCardinal(const Property& p, PropertyOrigin origin);
// A list of 32-bit items of the given type (ATOM, WINDOW, CARDINAL); malformed gives none.
std::optional<QList<quint32>> readList(const Property& p, xcb_atom_t type, PropertyOrigin origin);
// A text property: UTF8_STRING as UTF-8, STRING as Latin-1, other 8-bit encodings
// (COMPOUND_TEXT) read as Latin-1; one trailing NUL is dropped.
std::optional<QString> readText(const Property& p, xcb_atom_t utf8String, PropertyOrigin origin);
// The NUL-separated strings of WM_CLASS-like properties (instance, class).
QList<QString> readStrings(const Property& p, PropertyOrigin origin);

} // namespace vistrale::x11
