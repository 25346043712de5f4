#pragma once

#include <QSize>
#include <cstdint>

namespace vistrale {

// Pixel formats the camera offers to its readers.
enum class CameraPixelFormat { BGRx, BGRA, YUY2, I420, NV12 };

// One picture in memory: up to three planes with their strides.
struct CameraPlanes {
    uint8_t* data[3] = {nullptr, nullptr, nullptr};
    int stride[3] = {0, 0, 0};
};

// Bytes of one picture of `size` in `format`, planes packed without padding.
int cameraPictureBytes(CameraPixelFormat format, QSize size);
// Plane pointers and strides for a packed picture of `size` at `base`.
CameraPlanes cameraPackedPlanes(CameraPixelFormat format, QSize size, uint8_t* base);

// Writes a premultiplied-BGRA source picture into `out` (a picture of `outSize` in
// `format`), scaled when the sizes differ and flipped left to right when `mirrored`,
// in one pass over the destination where the format allows it. False when a size is
// empty or odd where the format needs even sizes.
bool writeCameraPicture(const uint8_t* bgra, int bgraStride, QSize inSize, CameraPixelFormat format,
    const CameraPlanes& out, QSize outSize, bool mirrored);

} // namespace vistrale
