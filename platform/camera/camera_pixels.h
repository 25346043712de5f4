#pragma once

#include "platform/camera/camera_buffer_damage.h"

#include <QSize>
#include <cstdint>

namespace vistrale {

// Pixel formats the camera offers to its readers.
enum class CameraPixelFormat { BGRx, BGRA, YUY2, I420, NV12 };

// How the YUV formats encode colour: BT.601 coefficients in limited range (Y 16 to
// 235, U and V 16 to 240), what the conversions below write. Outputs tag their
// formats with these, so that readers decode the colours that were meant.
enum class CameraYuvMatrix { BT601, BT709 };
enum class CameraYuvRange { Limited, Full };
inline constexpr CameraYuvMatrix CAMERA_YUV_MATRIX = CameraYuvMatrix::BT601;
inline constexpr CameraYuvRange CAMERA_YUV_RANGE = CameraYuvRange::Limited;

// One picture in memory: up to three planes with their strides.
struct CameraPlanes {
    uint8_t* data[3] = {nullptr, nullptr, nullptr};
    int stride[3] = {0, 0, 0};
};

// Bytes of one picture of `size` in `format`, planes packed without padding; 0 for
// a size the format cannot hold (empty, or odd where chroma is shared: YUY2 needs an
// even width, I420 and NV12 an even width and height).
int cameraPictureBytes(CameraPixelFormat format, QSize size);
// Plane pointers and strides for a packed picture of `size` at `base`; all empty
// for a size the format cannot hold.
CameraPlanes cameraPackedPlanes(CameraPixelFormat format, QSize size, uint8_t* base);

// Writes a premultiplied-BGRA source picture into `out` (a picture of `outSize` in
// `format`), scaled when the sizes differ and flipped left to right when `mirrored`,
// in one pass over the destination where the format allows it. False when a size is
// empty or odd where the format needs even sizes. Any thread; scratch memory for
// scaling and flipping is kept per thread, so steady frames do not allocate.
bool writeCameraPicture(const uint8_t* bgra, int bgraStride, QSize inSize, CameraPixelFormat format,
    const CameraPlanes& out, QSize outSize, bool mirrored);

// Writes only `rows` of a source picture of the destination's own `size` (widened to
// whole chroma rows where the format shares them), leaving the other rows of `out` as
// they are: the same bytes there as writeCameraPicture would give. True also when there
// is nothing to write; false for the sizes writeCameraPicture refuses.
bool writeCameraRows(const uint8_t* bgra, int bgraStride, QSize size, CameraPixelFormat format, const CameraPlanes& out,
    bool mirrored, CameraRows rows);

} // namespace vistrale
