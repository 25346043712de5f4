#pragma once

#include <QImage>
#include <QRect>
#include <QRegion>
#include <vector>
#include <xcb/xcb.h>

namespace vistrale::x11 {

// Why a read gave no pixels.
enum class ReadResult {
    Done,
    // The server refused the drawable (gone, unmapped, off-screen, bad size).
    Refused,
    // Pixels in a format other than 32 bits per pixel, LSB first.
    Unsupported,
};

// Reads pixels of a drawable straight into a caller's premultiplied BGRA picture with
// opaque alpha, through one MIT-SHM segment of its own (plain GetImage when SHM is
// missing or fails). Works on a raw xcb connection, so a capture thread can own one; the
// caller's picture is written in place, so pooled frame buffers are reused without a copy.
// One thread at a time.
class CaptureReader {
public:
    CaptureReader(xcb_connection_t* connection, bool shmPresent);
    ~CaptureReader();
    CaptureReader(const CaptureReader&) = delete;
    CaptureReader& operator=(const CaptureReader&) = delete;

    // Reads `area` of `drawable` into `target` at `at` (target must hold it).
    ReadResult read(xcb_drawable_t drawable, const QRect& area, QImage* target, QPoint at = {});
    bool usesSharedMemory() const { return shmUsable; }

    // One piece of a batch: `area` of `drawable`, landing in the target at `at`, of which
    // only `clip` (target coordinates) is written.
    struct Piece {
        xcb_drawable_t drawable;
        QRect area;
        QPoint at;
        QRegion clip;
    };
    // Reads every piece with all requests sent before any reply is awaited, so a busy
    // server costs one wait instead of one per piece. Pieces the server refuses are
    // left out; their number is returned.
    int readBatch(const std::vector<Piece>& pieces, QImage* target);

private:
    bool ensureSegment(size_t bytes);
    void releaseSegment();
    bool formatSupported(quint8 depth) const;
    void copyOpaque(const quint8* data, const QSize& size, QImage* target, QPoint at) const;
    void copyClipped(const quint8* data, const Piece& piece, QImage* target) const;

    xcb_connection_t* c;
    bool shmUsable;
    quint32 segment = 0;
    void* address = nullptr;
    size_t capacity = 0;
};

} // namespace vistrale::x11
