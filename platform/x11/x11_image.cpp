#include "platform/x11/x11_image.h"

#include "platform/log.h"

#include <cstring>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>

namespace vistrale::x11 {
namespace {

// Bits per pixel the server uses for pictures of this depth; 0 when it lists none.
int bitsPerPixel(xcb_connection_t* c, quint8 depth)
{
    const xcb_setup_t* setup = xcb_get_setup(c);
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it)) {
        if (it.data->depth == depth)
            return it.data->bits_per_pixel;
    }
    return 0;
}

} // namespace

ImageReader::ImageReader(std::shared_ptr<Connection> connection)
    : x(std::move(connection))
    , shmUsable(x->extensions().shm)
{
}

ImageReader::~ImageReader()
{
    releaseSegment();
}

void ImageReader::releaseSegment()
{
    if (segment) {
        xcb_shm_detach(x->xcb(), segment);
        x->flush();
        segment = 0;
    }
    if (address) {
        shmdt(address);
        address = nullptr;
    }
    shmId = -1;
    capacity = 0;
}

bool ImageReader::ensureSegment(size_t bytes)
{
    if (address && capacity >= bytes)
        return true;
    releaseSegment();
    shmId = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (shmId < 0) {
        logLine(
            "MIT-SHM segment refused, reading pixels through the socket: ", QString::fromLocal8Bit(strerror(errno)));
        shmUsable = false;
        return false;
    }
    address = shmat(shmId, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        address = nullptr;
        shmctl(shmId, IPC_RMID, nullptr);
        logLine("MIT-SHM segment cannot be mapped, reading pixels through the socket: ",
            QString::fromLocal8Bit(strerror(errno)));
        shmUsable = false;
        return false;
    }
    segment = xcb_generate_id(x->xcb());
    xcb_generic_error_t* error
        = xcb_request_check(x->xcb(), xcb_shm_attach_checked(x->xcb(), segment, static_cast<quint32>(shmId), 0));
    // Marked for removal now: it lives until both sides detach, and never outlives us.
    shmctl(shmId, IPC_RMID, nullptr);
    if (error) {
        free(error);
        segment = 0;
        releaseSegment();
        logLine("MIT-SHM attach refused by the X server, reading pixels through the socket: ", x->displayName());
        shmUsable = false;
        return false;
    }
    capacity = bytes;
    return true;
}

QImage ImageReader::read(xcb_drawable_t drawable, const QRect& area)
{
    if (area.isEmpty())
        return {};
    if (shmUsable) {
        bool refused = false;
        QImage image = readShared(drawable, area, &refused);
        if (!image.isNull() || refused)
            return image;
    }
    return readPlain(drawable, area);
}

QImage ImageReader::readShared(xcb_drawable_t drawable, const QRect& area, bool* refused)
{
    const size_t bytes = static_cast<size_t>(area.width()) * static_cast<size_t>(area.height()) * 4;
    if (!ensureSegment(bytes))
        return {};
    xcb_generic_error_t* error = nullptr;
    Reply<xcb_shm_get_image_reply_t> reply(xcb_shm_get_image_reply(x->xcb(),
        xcb_shm_get_image(x->xcb(), drawable, static_cast<qint16>(area.x()), static_cast<qint16>(area.y()),
            static_cast<quint16>(area.width()), static_cast<quint16>(area.height()), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP,
            segment, 0),
        &error));
    if (!reply) {
        // The same request through the socket would be refused alike (unmapped,
        // off-screen, gone).
        *refused = error != nullptr;
        free(error);
        return {};
    }
    return convert(
        static_cast<const quint8*>(address), std::min<size_t>(reply->size, capacity), reply->depth, area.size());
}

QImage ImageReader::readPlain(xcb_drawable_t drawable, const QRect& area)
{
    xcb_generic_error_t* error = nullptr;
    Reply<xcb_get_image_reply_t> reply(xcb_get_image_reply(x->xcb(),
        xcb_get_image(x->xcb(), XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, static_cast<qint16>(area.x()),
            static_cast<qint16>(area.y()), static_cast<quint16>(area.width()), static_cast<quint16>(area.height()),
            ~0u),
        &error));
    free(error);
    if (!reply)
        return {};
    return convert(xcb_get_image_data(reply.get()), static_cast<size_t>(xcb_get_image_data_length(reply.get())),
        reply->depth, area.size());
}

QImage ImageReader::convert(const quint8* data, size_t length, quint8 depth, const QSize& size)
{
    const xcb_setup_t* setup = xcb_get_setup(x->xcb());
    if (bitsPerPixel(x->xcb(), depth) != 32 || setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) {
        logLine("window pixels in an unsupported format, depth: ", depth);
        return {};
    }
    const size_t stride = static_cast<size_t>(size.width()) * 4;
    if (length < stride * static_cast<size_t>(size.height())) {
        logLine("window pixels cut short, bytes: ", static_cast<double>(length));
        return {};
    }
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return {};
    // Windows carry no meaningful alpha (depth 24 leaves garbage there): opaque.
    for (int y = 0; y < size.height(); ++y) {
        const auto* src = reinterpret_cast<const quint32*>(data + stride * static_cast<size_t>(y));
        auto* dst = reinterpret_cast<quint32*>(image.scanLine(y));
        for (int i = 0; i < size.width(); ++i)
            dst[i] = src[i] | 0xFF000000u;
    }
    return image;
}

} // namespace vistrale::x11
