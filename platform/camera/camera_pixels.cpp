#include "platform/camera/camera_pixels.h"

#include <libyuv/convert_from_argb.h>
#include <libyuv/planar_functions.h>
#include <libyuv/scale_argb.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace vistrale {

namespace {

// Rows mirrored at a time into the band before they are converted: one pair, so
// that chroma rows pair up and the band (15 KB at 1920 wide) stays in the first-level
// cache between the two steps. Larger bands measured no faster.
constexpr int MIRROR_BAND_ROWS = 2;

bool needsEvenWidth(CameraPixelFormat format)
{
    return format == CameraPixelFormat::YUY2 || format == CameraPixelFormat::I420 || format == CameraPixelFormat::NV12;
}

bool needsEvenHeight(CameraPixelFormat format)
{
    return format == CameraPixelFormat::I420 || format == CameraPixelFormat::NV12;
}

bool sizeFits(CameraPixelFormat format, QSize size)
{
    if (size.width() <= 0 || size.height() <= 0)
        return false;
    if (needsEvenWidth(format) && size.width() % 2 != 0)
        return false;
    if (needsEvenHeight(format) && size.height() % 2 != 0)
        return false;
    return true;
}

// Scratch memory of the calling thread, kept between frames so that a steady stream
// of pictures does not allocate. `Slot` keeps the scaled picture apart from the band.
enum class Slot { Scaled, Band };

uint8_t* scratch(Slot slot, size_t bytes)
{
    thread_local std::vector<uint8_t> scaled;
    thread_local std::vector<uint8_t> band;
    std::vector<uint8_t>& memory = slot == Slot::Scaled ? scaled : band;
    if (memory.size() < bytes)
        memory.resize(bytes);
    return memory.data();
}

// Converts `rows` rows of BGRA at `src` into the destination picture starting at row `y`.
void convertRows(
    const uint8_t* src, int srcStride, CameraPixelFormat format, const CameraPlanes& out, int width, int y, int rows)
{
    switch (format) {
    case CameraPixelFormat::BGRx:
    case CameraPixelFormat::BGRA:
        libyuv::ARGBCopy(src, srcStride, out.data[0] + y * out.stride[0], out.stride[0], width, rows);
        break;
    case CameraPixelFormat::YUY2:
        libyuv::ARGBToYUY2(src, srcStride, out.data[0] + y * out.stride[0], out.stride[0], width, rows);
        break;
    case CameraPixelFormat::I420:
        libyuv::ARGBToI420(src, srcStride, out.data[0] + y * out.stride[0], out.stride[0],
            out.data[1] + y / 2 * out.stride[1], out.stride[1], out.data[2] + y / 2 * out.stride[2], out.stride[2],
            width, rows);
        break;
    case CameraPixelFormat::NV12:
        libyuv::ARGBToNV12(src, srcStride, out.data[0] + y * out.stride[0], out.stride[0],
            out.data[1] + y / 2 * out.stride[1], out.stride[1], width, rows);
        break;
    }
}

// Converts rows [first, end) of a picture of the destination's size, flipping them in
// bands of rows so that the flipped rows are still in the cache when they are converted.
void convertPicture(const uint8_t* src, int srcStride, CameraPixelFormat format, const CameraPlanes& out, int width,
    int first, int end, bool mirrored)
{
    const uint8_t* from = src + static_cast<ptrdiff_t>(first) * srcStride;
    if (!mirrored) {
        convertRows(from, srcStride, format, out, width, first, end - first);
        return;
    }
    if (format == CameraPixelFormat::BGRx || format == CameraPixelFormat::BGRA) {
        libyuv::ARGBMirror(from, srcStride, out.data[0] + first * out.stride[0], out.stride[0], width, end - first);
        return;
    }
    const int bandStride = width * 4;
    uint8_t* band = scratch(Slot::Band, static_cast<size_t>(bandStride) * MIRROR_BAND_ROWS);
    for (int y = first; y < end; y += MIRROR_BAND_ROWS) {
        const int rows = std::min(MIRROR_BAND_ROWS, end - y);
        libyuv::ARGBMirror(src + static_cast<ptrdiff_t>(y) * srcStride, srcStride, band, bandStride, width, rows);
        convertRows(band, bandStride, format, out, width, y, rows);
    }
}

} // namespace

int cameraPictureBytes(CameraPixelFormat format, QSize size)
{
    if (!sizeFits(format, size))
        return 0;
    const int pixels = size.width() * size.height();
    switch (format) {
    case CameraPixelFormat::BGRx:
    case CameraPixelFormat::BGRA:
        return pixels * 4;
    case CameraPixelFormat::YUY2:
        return pixels * 2;
    case CameraPixelFormat::I420:
    case CameraPixelFormat::NV12:
        return pixels * 3 / 2;
    }
    return 0;
}

CameraPlanes cameraPackedPlanes(CameraPixelFormat format, QSize size, uint8_t* base)
{
    CameraPlanes planes;
    if (!base || !sizeFits(format, size))
        return planes;
    const int width = size.width();
    const int height = size.height();
    planes.data[0] = base;
    switch (format) {
    case CameraPixelFormat::BGRx:
    case CameraPixelFormat::BGRA:
        planes.stride[0] = width * 4;
        break;
    case CameraPixelFormat::YUY2:
        planes.stride[0] = width * 2;
        break;
    case CameraPixelFormat::I420:
        planes.stride[0] = width;
        planes.data[1] = base + width * height;
        planes.stride[1] = width / 2;
        planes.data[2] = planes.data[1] + width / 2 * (height / 2);
        planes.stride[2] = width / 2;
        break;
    case CameraPixelFormat::NV12:
        planes.stride[0] = width;
        planes.data[1] = base + width * height;
        planes.stride[1] = width;
        break;
    }
    return planes;
}

bool writeCameraPicture(const uint8_t* bgra, int bgraStride, QSize inSize, CameraPixelFormat format,
    const CameraPlanes& out, QSize outSize, bool mirrored)
{
    if (!bgra || inSize.width() <= 0 || inSize.height() <= 0 || bgraStride < inSize.width() * 4)
        return false;
    if (!sizeFits(format, outSize) || !out.data[0])
        return false;
    if (inSize == outSize) {
        convertPicture(bgra, bgraStride, format, out, outSize.width(), 0, outSize.height(), mirrored);
        return true;
    }
    const bool packedRgb = format == CameraPixelFormat::BGRx || format == CameraPixelFormat::BGRA;
    if (packedRgb && !mirrored) {
        // Scaled straight into the destination: nothing else to do to the pixels.
        libyuv::ARGBScale(bgra, bgraStride, inSize.width(), inSize.height(), out.data[0], out.stride[0],
            outSize.width(), outSize.height(), libyuv::kFilterBilinear);
        return true;
    }
    const int scaledStride = outSize.width() * 4;
    uint8_t* scaled = scratch(Slot::Scaled, static_cast<size_t>(scaledStride) * outSize.height());
    libyuv::ARGBScale(bgra, bgraStride, inSize.width(), inSize.height(), scaled, scaledStride, outSize.width(),
        outSize.height(), libyuv::kFilterBilinear);
    convertPicture(scaled, scaledStride, format, out, outSize.width(), 0, outSize.height(), mirrored);
    return true;
}

bool writeCameraRows(const uint8_t* bgra, int bgraStride, QSize size, CameraPixelFormat format, const CameraPlanes& out,
    bool mirrored, CameraRows rows)
{
    if (!bgra || bgraStride < size.width() * 4 || !sizeFits(format, size) || !out.data[0])
        return false;
    int first = std::max(0, rows.first);
    int end = std::min(size.height(), rows.end);
    // Rows that share chroma are converted together.
    if (needsEvenHeight(format)) {
        first -= first % 2;
        end += end % 2;
    }
    if (end > first)
        convertPicture(bgra, bgraStride, format, out, size.width(), first, end, mirrored);
    return true;
}

} // namespace vistrale
