#pragma once

#include "platform/frame.h"

#include <QSize>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace vistrale {

// Pixel formats webcams deliver that Vistrale reads.
enum class WebcamPixelFormat { BGRx, BGRA, YUY2, I420, NV12, MJPG };

// One delivered picture as the system handed it over: up to three planes, each with
// its row stride and the bytes actually filled. MJPG and the packed formats use
// plane 0 only; for MJPG the stride is ignored.
struct WebcamPlanes {
    const uint8_t* data[3] = {nullptr, nullptr, nullptr};
    int stride[3] = {0, 0, 0};
    size_t bytes[3] = {0, 0, 0};
};

// Why a picture was not converted.
enum class WebcamPictureFault {
    None,
    // Fewer bytes than the announced size needs (or a plane missing).
    Truncated,
    // A compressed picture of another size than negotiated.
    WrongSize,
    // A compressed picture that does not decode.
    Corrupt,
};

// "truncated", "wrong size" or "corrupt".
QString webcamPictureFaultText(WebcamPictureFault fault);

// Planes of a picture of `size` in `format` laid out one after another in one block
// of `bytes` at `base`, with `stride` for the first plane (0: the tightest). Chroma
// planes follow with their natural strides. A plane that does not fit into the block
// comes back empty, which the conversion rejects as truncated.
WebcamPlanes webcamPackedPlanes(WebcamPixelFormat format, QSize size, const uint8_t* base, size_t bytes, int stride);

// Converts one picture of `size` in `format` into opaque BGRA at `bgra` (`size`,
// `bgraStride` bytes a row). Never reads outside the planes' filled bytes; on a
// fault `bgra` may hold a partial picture. YUV is read as BT.601 in limited range,
// what webcams send. Any thread.
WebcamPictureFault convertWebcamPicture(
    WebcamPixelFormat format, QSize size, const WebcamPlanes& in, uint8_t* bgra, int bgraStride);

// As convertWebcamPicture, but the picture comes out at `target` (at most `size`),
// scaled bilinearly. YUV pictures are scaled before they are converted, on 1.5 bytes a
// pixel instead of 4, which costs about half; `scratch` holds the steps between and
// is reused from picture to picture. Any thread.
WebcamPictureFault convertWebcamPictureTo(WebcamPixelFormat format, QSize size, const WebcamPlanes& in, QSize target,
    std::vector<uint8_t>& scratch, uint8_t* bgra, int bgraStride);

// Sets every alpha of a BGRA picture to 255. libyuv's bilinear scaling can round an
// alpha of 255 down a little; webcam pictures are opaque, and a premultiplied colour
// above its alpha would blend wrongly.
void makeOpaque(uint8_t* bgra, int stride, QSize size);

// Pictures handed to the core, reused once nobody holds them any more, so that a
// steady stream does not allocate. One per stream, used on its capture thread.
class WebcamFramePool {
public:
    // A picture of `size` (premultiplied BGRA) that nobody else holds.
    std::shared_ptr<FrameBuffer> take(QSize size);

private:
    std::vector<std::shared_ptr<FrameBuffer>> frames;
};

} // namespace vistrale
