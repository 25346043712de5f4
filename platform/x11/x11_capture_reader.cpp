#include "platform/x11/x11_capture_reader.h"

#include "platform/log.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>

namespace vistrale::x11 {
namespace {

struct FreeMalloc {
    void operator()(void* p) const { free(p); }
};

} // namespace

CaptureReader::CaptureReader(xcb_connection_t* connection, bool shmPresent)
    : c(connection)
    , shmUsable(shmPresent)
{
}

CaptureReader::~CaptureReader()
{
    releaseSegment();
}

void CaptureReader::releaseSegment()
{
    if (segment) {
        xcb_shm_detach(c, segment);
        xcb_flush(c);
        segment = 0;
    }
    if (address) {
        shmdt(address);
        address = nullptr;
    }
    capacity = 0;
}

bool CaptureReader::ensureSegment(size_t bytes)
{
    if (address && capacity >= bytes)
        return true;
    releaseSegment();
    const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (id < 0) {
        logLine("MIT-SHM segment refused, capturing through the socket: ", QString::fromLocal8Bit(strerror(errno)));
        shmUsable = false;
        return false;
    }
    address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        address = nullptr;
        shmctl(id, IPC_RMID, nullptr);
        logLine("MIT-SHM segment cannot be mapped, capturing through the socket: ",
            QString::fromLocal8Bit(strerror(errno)));
        shmUsable = false;
        return false;
    }
    segment = xcb_generate_id(c);
    xcb_generic_error_t* error = xcb_request_check(c, xcb_shm_attach_checked(c, segment, static_cast<quint32>(id), 0));
    // Marked for removal at once: it lives until both sides detach and never outlives us.
    shmctl(id, IPC_RMID, nullptr);
    if (error) {
        free(error);
        segment = 0;
        releaseSegment();
        logLine("MIT-SHM attach refused by the X server, capturing through the socket");
        shmUsable = false;
        return false;
    }
    capacity = bytes;
    return true;
}

bool CaptureReader::formatSupported(quint8 depth) const
{
    const xcb_setup_t* setup = xcb_get_setup(c);
    if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST)
        return false;
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it)) {
        if (it.data->depth == depth)
            return it.data->bits_per_pixel == 32;
    }
    return false;
}

void CaptureReader::copyOpaque(const quint8* data, const QSize& size, QImage* target, QPoint at) const
{
    const size_t stride = static_cast<size_t>(size.width()) * 4;
    // Windows carry no meaningful alpha (depth 24 leaves garbage there): opaque.
    for (int y = 0; y < size.height(); ++y) {
        const auto* src = reinterpret_cast<const quint32*>(data + stride * static_cast<size_t>(y));
        auto* dst = reinterpret_cast<quint32*>(target->scanLine(at.y() + y)) + at.x();
        for (int i = 0; i < size.width(); ++i)
            dst[i] = src[i] | 0xFF000000u;
    }
}

ReadResult CaptureReader::read(xcb_drawable_t drawable, const QRect& area, QImage* target, QPoint at)
{
    if (area.isEmpty() || !QRect(QPoint(0, 0), target->size()).contains(QRect(at, area.size()))
        || target->format() != QImage::Format_ARGB32_Premultiplied)
        return ReadResult::Refused;
    const size_t bytes = static_cast<size_t>(area.width()) * static_cast<size_t>(area.height()) * 4;
    if (shmUsable && ensureSegment(bytes)) {
        xcb_generic_error_t* error = nullptr;
        std::unique_ptr<xcb_shm_get_image_reply_t, FreeMalloc> reply(xcb_shm_get_image_reply(c,
            xcb_shm_get_image(c, drawable, static_cast<qint16>(area.x()), static_cast<qint16>(area.y()),
                static_cast<quint16>(area.width()), static_cast<quint16>(area.height()), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP,
                segment, 0),
            &error));
        if (reply) {
            if (!formatSupported(reply->depth) || reply->size < bytes)
                return ReadResult::Unsupported;
            copyOpaque(static_cast<const quint8*>(address), area.size(), target, at);
            return ReadResult::Done;
        }
        if (error) {
            // The same request through the socket would be refused alike.
            free(error);
            return ReadResult::Refused;
        }
    }
    xcb_generic_error_t* error = nullptr;
    std::unique_ptr<xcb_get_image_reply_t, FreeMalloc> reply(xcb_get_image_reply(c,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, static_cast<qint16>(area.x()),
            static_cast<qint16>(area.y()), static_cast<quint16>(area.width()), static_cast<quint16>(area.height()),
            ~0u),
        &error));
    free(error);
    if (!reply)
        return ReadResult::Refused;
    if (!formatSupported(reply->depth) || static_cast<size_t>(xcb_get_image_data_length(reply.get())) < bytes)
        return ReadResult::Unsupported;
    copyOpaque(xcb_get_image_data(reply.get()), area.size(), target, at);
    return ReadResult::Done;
}

void CaptureReader::copyClipped(const quint8* data, const Piece& piece, QImage* target) const
{
    const QRect placed(piece.at, piece.area.size());
    const size_t stride = static_cast<size_t>(piece.area.width()) * 4;
    for (const QRect& r : piece.clip& placed) {
        for (int y = r.top(); y <= r.bottom(); ++y) {
            const auto* src = reinterpret_cast<const quint32*>(data + stride * static_cast<size_t>(y - placed.top()))
                + (r.left() - placed.left());
            auto* dst = reinterpret_cast<quint32*>(target->scanLine(y)) + r.left();
            for (int i = 0; i < r.width(); ++i)
                dst[i] = src[i] | 0xFF000000u;
        }
    }
}

int CaptureReader::readBatch(const std::vector<Piece>& pieces, QImage* target)
{
    const QRect bounds(QPoint(0, 0), target->size());
    std::vector<const Piece*> valid;
    std::vector<size_t> offsets;
    size_t total = 0;
    for (const Piece& piece : pieces) {
        if (piece.area.isEmpty() || !bounds.contains(QRect(piece.at, piece.area.size())))
            continue;
        valid.push_back(&piece);
        offsets.push_back(total);
        total += static_cast<size_t>(piece.area.width()) * static_cast<size_t>(piece.area.height()) * 4;
    }
    int refused = static_cast<int>(pieces.size() - valid.size());
    if (valid.empty())
        return refused;
    if (shmUsable && ensureSegment(total)) {
        std::vector<xcb_shm_get_image_cookie_t> cookies;
        for (size_t i = 0; i < valid.size(); ++i) {
            const QRect& a = valid[i]->area;
            cookies.push_back(xcb_shm_get_image(c, valid[i]->drawable, static_cast<qint16>(a.x()),
                static_cast<qint16>(a.y()), static_cast<quint16>(a.width()), static_cast<quint16>(a.height()), ~0u,
                XCB_IMAGE_FORMAT_Z_PIXMAP, segment, static_cast<quint32>(offsets[i])));
        }
        for (size_t i = 0; i < valid.size(); ++i) {
            xcb_generic_error_t* error = nullptr;
            std::unique_ptr<xcb_shm_get_image_reply_t, FreeMalloc> reply(
                xcb_shm_get_image_reply(c, cookies[i], &error));
            free(error);
            const size_t bytes
                = static_cast<size_t>(valid[i]->area.width()) * static_cast<size_t>(valid[i]->area.height()) * 4;
            if (!reply || !formatSupported(reply->depth) || reply->size < bytes) {
                ++refused;
                continue;
            }
            copyClipped(static_cast<const quint8*>(address) + offsets[i], *valid[i], target);
        }
        return refused;
    }
    std::vector<xcb_get_image_cookie_t> cookies;
    for (const Piece* piece : valid) {
        const QRect& a = piece->area;
        cookies.push_back(xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, piece->drawable, static_cast<qint16>(a.x()),
            static_cast<qint16>(a.y()), static_cast<quint16>(a.width()), static_cast<quint16>(a.height()), ~0u));
    }
    for (size_t i = 0; i < valid.size(); ++i) {
        xcb_generic_error_t* error = nullptr;
        std::unique_ptr<xcb_get_image_reply_t, FreeMalloc> reply(xcb_get_image_reply(c, cookies[i], &error));
        free(error);
        const size_t bytes
            = static_cast<size_t>(valid[i]->area.width()) * static_cast<size_t>(valid[i]->area.height()) * 4;
        if (!reply || !formatSupported(reply->depth)
            || static_cast<size_t>(xcb_get_image_data_length(reply.get())) < bytes) {
            ++refused;
            continue;
        }
        copyClipped(xcb_get_image_data(reply.get()), *valid[i], target);
    }
    return refused;
}

} // namespace vistrale::x11
