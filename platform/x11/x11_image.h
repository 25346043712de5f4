#pragma once

#include "platform/x11/x11_connection.h"

#include <QImage>
#include <QRect>
#include <memory>

namespace vistrale::x11 {

// Reads pixels of a window or pixmap into premultiplied BGRA pictures with opaque
// alpha. Uses one MIT-SHM segment when the server offers it (a copy less through the
// socket) and plain GetImage otherwise or when SHM fails. Main thread.
class ImageReader {
public:
    explicit ImageReader(std::shared_ptr<Connection> connection);
    ~ImageReader();
    ImageReader(const ImageReader&) = delete;
    ImageReader& operator=(const ImageReader&) = delete;

    // `area` in the drawable's coordinates. A null image when the server refuses (the
    // window is unmapped or reaches off the screen, the drawable is gone) or when the
    // pixels are not 32 bits each.
    QImage read(xcb_drawable_t drawable, const QRect& area);

    // False once SHM was found unusable (or when the server lacks it).
    bool usesSharedMemory() const { return shmUsable; }

private:
    bool ensureSegment(size_t bytes);
    void releaseSegment();
    QImage readShared(xcb_drawable_t drawable, const QRect& area, bool* refused);
    QImage readPlain(xcb_drawable_t drawable, const QRect& area);
    QImage convert(const quint8* data, size_t length, quint8 depth, const QSize& size);

    std::shared_ptr<Connection> x;
    bool shmUsable = false;
    quint32 segment = 0; // the server's id of the attached segment
    int shmId = -1;
    void* address = nullptr;
    size_t capacity = 0;
};

} // namespace vistrale::x11
