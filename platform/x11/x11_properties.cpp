#include "platform/x11/x11_properties.h"

#include "platform/log.h"
#include "platform/x11/x11_connection.h"

#include <cstring>

namespace vistrale::x11 {
namespace {

void refuse(PropertyOrigin origin, const Property& p, const char* why)
{
    logLine("X11 property refused: ",
        QString("%1 of window 0x%2 %3 (type %4, format %5, %6 bytes)")
            .arg(origin.name)
            .arg(origin.window, 0, 16)
            .arg(why)
            .arg(p.type)
            .arg(p.format)
            .arg(p.data.size()));
}

} // namespace

xcb_get_property_cookie_t askProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property, quint32 maxItems)
{
    return xcb_get_property(c, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, maxItems);
}

Property readProperty(xcb_connection_t* c, xcb_get_property_cookie_t cookie)
{
    Property p;
    xcb_generic_error_t* error = nullptr;
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(c, cookie, &error));
    free(error); // a window that vanished meanwhile: nothing to read
    if (!reply || reply->type == XCB_ATOM_NONE)
        return p;
    p.exists = true;
    p.type = reply->type;
    p.format = reply->format;
    const int length = xcb_get_property_value_length(reply.get());
    if (length > 0)
        p.data = QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())), length);
    return p;
}

std::optional<quint32> readCardinal(const Property& p, PropertyOrigin origin)
{
    if (!p.exists)
        return std::nullopt;
    if (p.type != XCB_ATOM_CARDINAL || p.format != 32 || p.data.size() < 4) {
        refuse(origin, p, "is not a CARDINAL");
        return std::nullopt;
    }
    quint32 value = 0;
    std::memcpy(&value, p.data.constData(), 4);
    return value;
}

std::optional<QList<quint32>> readList(const Property& p, xcb_atom_t type, PropertyOrigin origin)
{
    if (!p.exists)
        return std::nullopt;
    if (p.type != type || p.format != 32 || p.data.size() % 4 != 0) {
        refuse(origin, p, "has the wrong type");
        return std::nullopt;
    }
    QList<quint32> items(p.data.size() / 4);
    std::memcpy(items.data(), p.data.constData(), static_cast<size_t>(p.data.size()));
    return items;
}

std::optional<QString> readText(const Property& p, xcb_atom_t utf8String, PropertyOrigin origin)
{
    if (!p.exists)
        return std::nullopt;
    if (p.format != 8) {
        refuse(origin, p, "is not text");
        return std::nullopt;
    }
    QByteArray bytes = p.data;
    if (bytes.endsWith('\0'))
        bytes.chop(1);
    if (p.type == utf8String)
        return QString::fromUtf8(bytes);
    return QString::fromLatin1(bytes);
}

QList<QString> readStrings(const Property& p, PropertyOrigin origin)
{
    QList<QString> result;
    if (!p.exists)
        return result;
    if (p.format != 8) {
        refuse(origin, p, "is not a list of strings");
        return result;
    }
    for (const QByteArray& part : p.data.split('\0'))
        result.append(QString::fromLatin1(part));
    if (p.data.endsWith('\0'))
        result.removeLast();
    return result;
}

} // namespace vistrale::x11
