#include "platform/webcam/webcam_pixels.h"

#include <libyuv/convert.h>
#include <libyuv/convert_argb.h>
#include <libyuv/planar_functions.h>
#include <libyuv/scale.h>
#include <libyuv/scale_argb.h>

#include <cstring>

namespace vistrale {
namespace {

// Whether a plane of `rows` rows of `rowBytes` each, `stride` apart, lies inside
// the plane's filled bytes.
bool planeFits(const uint8_t* data, int stride, size_t bytes, size_t rowBytes, int rows)
{
    if (!data || rows <= 0 || stride < 0 || static_cast<size_t>(stride) < rowBytes)
        return false;
    return static_cast<size_t>(stride) * static_cast<size_t>(rows - 1) + rowBytes <= bytes;
}

size_t halfUp(int value)
{
    return static_cast<size_t>((value + 1) / 2);
}

WebcamPictureFault copyOpaque(QSize size, const WebcamPlanes& in, uint8_t* bgra, int bgraStride)
{
    const size_t rowBytes = static_cast<size_t>(size.width()) * 4;
    if (!planeFits(in.data[0], in.stride[0], in.bytes[0], rowBytes, size.height()))
        return WebcamPictureFault::Truncated;
    for (int y = 0; y < size.height(); ++y) {
        const auto* from = reinterpret_cast<const uint32_t*>(in.data[0] + static_cast<size_t>(y) * in.stride[0]);
        auto* to = reinterpret_cast<uint32_t*>(bgra + static_cast<size_t>(y) * bgraStride);
        // The unused byte of BGRx (and any alpha a camera sends) becomes opaque.
        for (int x = 0; x < size.width(); ++x)
            to[x] = from[x] | 0xff000000u;
    }
    return WebcamPictureFault::None;
}

WebcamPictureFault decodeJpeg(QSize size, const WebcamPlanes& in, uint8_t* bgra, int bgraStride)
{
    if (!in.data[0] || in.bytes[0] < 4)
        return WebcamPictureFault::Truncated;
    int width = 0;
    int height = 0;
    if (libyuv::MJPGSize(in.data[0], in.bytes[0], &width, &height) != 0)
        return WebcamPictureFault::Corrupt;
    if (width != size.width() || height != size.height())
        return WebcamPictureFault::WrongSize;
    if (libyuv::MJPGToARGB(in.data[0], in.bytes[0], bgra, bgraStride, width, height, width, height) != 0)
        return WebcamPictureFault::Corrupt;
    return WebcamPictureFault::None;
}

} // namespace

QString webcamPictureFaultText(WebcamPictureFault fault)
{
    switch (fault) {
    case WebcamPictureFault::None:
        return QString();
    case WebcamPictureFault::Truncated:
        return QStringLiteral("truncated");
    case WebcamPictureFault::WrongSize:
        return QStringLiteral("wrong size");
    case WebcamPictureFault::Corrupt:
        break;
    }
    return QStringLiteral("corrupt");
}

WebcamPlanes webcamPackedPlanes(WebcamPixelFormat format, QSize size, const uint8_t* base, size_t bytes, int stride)
{
    WebcamPlanes planes;
    const int width = size.width();
    const int height = size.height();
    if (!base || width <= 0 || height <= 0)
        return planes;
    int tight = width;
    switch (format) {
    case WebcamPixelFormat::BGRx:
    case WebcamPixelFormat::BGRA:
        tight = width * 4;
        break;
    case WebcamPixelFormat::YUY2:
        tight = static_cast<int>(halfUp(width) * 4);
        break;
    case WebcamPixelFormat::I420:
    case WebcamPixelFormat::NV12:
    case WebcamPixelFormat::MJPG:
        break;
    }
    const int first = stride > 0 ? stride : tight;
    planes.data[0] = base;
    planes.stride[0] = first;
    planes.bytes[0] = bytes;
    if (format != WebcamPixelFormat::I420 && format != WebcamPixelFormat::NV12)
        return planes;

    // Chroma planes follow the luma plane; each gets the bytes left after its start.
    const int chromaStride = format == WebcamPixelFormat::I420 ? (first + 1) / 2 : first;
    const size_t chromaRows = halfUp(height);
    size_t offset = static_cast<size_t>(first) * static_cast<size_t>(height);
    planes.bytes[0] = std::min(bytes, offset);
    const int count = format == WebcamPixelFormat::I420 ? 3 : 2;
    for (int plane = 1; plane < count; ++plane) {
        if (offset >= bytes)
            break;
        planes.data[plane] = base + offset;
        planes.stride[plane] = chromaStride;
        const size_t size = static_cast<size_t>(chromaStride) * chromaRows;
        planes.bytes[plane] = std::min(bytes - offset, size);
        offset += size;
    }
    return planes;
}

WebcamPictureFault convertWebcamPicture(
    WebcamPixelFormat format, QSize size, const WebcamPlanes& in, uint8_t* bgra, int bgraStride)
{
    const int width = size.width();
    const int height = size.height();
    if (width <= 0 || height <= 0 || !bgra || bgraStride < width * 4)
        return WebcamPictureFault::WrongSize;
    const size_t chromaWidth = halfUp(width);
    const int chromaHeight = static_cast<int>(halfUp(height));
    switch (format) {
    case WebcamPixelFormat::BGRx:
    case WebcamPixelFormat::BGRA:
        return copyOpaque(size, in, bgra, bgraStride);
    case WebcamPixelFormat::YUY2:
        if (!planeFits(in.data[0], in.stride[0], in.bytes[0], chromaWidth * 4, height))
            return WebcamPictureFault::Truncated;
        libyuv::YUY2ToARGB(in.data[0], in.stride[0], bgra, bgraStride, width, height);
        return WebcamPictureFault::None;
    case WebcamPixelFormat::I420:
        if (!planeFits(in.data[0], in.stride[0], in.bytes[0], static_cast<size_t>(width), height)
            || !planeFits(in.data[1], in.stride[1], in.bytes[1], chromaWidth, chromaHeight)
            || !planeFits(in.data[2], in.stride[2], in.bytes[2], chromaWidth, chromaHeight))
            return WebcamPictureFault::Truncated;
        libyuv::I420ToARGB(in.data[0], in.stride[0], in.data[1], in.stride[1], in.data[2], in.stride[2], bgra,
            bgraStride, width, height);
        return WebcamPictureFault::None;
    case WebcamPixelFormat::NV12:
        if (!planeFits(in.data[0], in.stride[0], in.bytes[0], static_cast<size_t>(width), height)
            || !planeFits(in.data[1], in.stride[1], in.bytes[1], chromaWidth * 2, chromaHeight))
            return WebcamPictureFault::Truncated;
        libyuv::NV12ToARGB(in.data[0], in.stride[0], in.data[1], in.stride[1], bgra, bgraStride, width, height);
        return WebcamPictureFault::None;
    case WebcamPixelFormat::MJPG:
        return decodeJpeg(size, in, bgra, bgraStride);
    }
    return WebcamPictureFault::Corrupt;
}

WebcamPictureFault convertWebcamPictureTo(WebcamPixelFormat format, QSize size, const WebcamPlanes& in, QSize target,
    std::vector<uint8_t>& scratch, uint8_t* bgra, int bgraStride)
{
    if (target == size)
        return convertWebcamPicture(format, size, in, bgra, bgraStride);
    const int width = size.width();
    const int height = size.height();
    const int tw = target.width();
    const int th = target.height();
    if (width <= 0 || height <= 0 || tw <= 0 || th <= 0 || tw > width || th > height || !bgra || bgraStride < tw * 4)
        return WebcamPictureFault::WrongSize;
    const int cw = static_cast<int>(halfUp(width));
    const int ch = static_cast<int>(halfUp(height));
    const int tcw = static_cast<int>(halfUp(tw));
    const int tch = static_cast<int>(halfUp(th));
    const size_t source = static_cast<size_t>(width) * height + 2 * static_cast<size_t>(cw) * ch;
    const size_t scaled = static_cast<size_t>(tw) * th + 2 * static_cast<size_t>(tcw) * tch;

    if (format == WebcamPixelFormat::BGRx || format == WebcamPixelFormat::BGRA || format == WebcamPixelFormat::MJPG) {
        // Packed RGB and JPEG: converted whole, then scaled.
        scratch.resize(static_cast<size_t>(width) * height * 4);
        const WebcamPictureFault fault = convertWebcamPicture(format, size, in, scratch.data(), width * 4);
        if (fault == WebcamPictureFault::None) {
            libyuv::ARGBScale(
                scratch.data(), width * 4, width, height, bgra, bgraStride, tw, th, libyuv::kFilterBilinear);
            makeOpaque(bgra, bgraStride, target);
        }
        return fault;
    }

    // YUV: to I420 at the camera's size (unless it is I420 already), scaled, converted.
    scratch.resize(source + scaled);
    uint8_t* y = scratch.data();
    uint8_t* u = y + static_cast<size_t>(width) * height;
    uint8_t* v = u + static_cast<size_t>(cw) * ch;
    const uint8_t* planes[3] = {y, u, v};
    int strides[3] = {width, cw, cw};
    switch (format) {
    case WebcamPixelFormat::YUY2:
        if (!planeFits(in.data[0], in.stride[0], in.bytes[0], static_cast<size_t>(cw) * 4, height))
            return WebcamPictureFault::Truncated;
        libyuv::YUY2ToI420(in.data[0], in.stride[0], y, width, u, cw, v, cw, width, height);
        break;
    case WebcamPixelFormat::I420:
        if (!planeFits(in.data[0], in.stride[0], in.bytes[0], static_cast<size_t>(width), height)
            || !planeFits(in.data[1], in.stride[1], in.bytes[1], static_cast<size_t>(cw), ch)
            || !planeFits(in.data[2], in.stride[2], in.bytes[2], static_cast<size_t>(cw), ch))
            return WebcamPictureFault::Truncated;
        for (int i = 0; i < 3; ++i) {
            planes[i] = in.data[i];
            strides[i] = in.stride[i];
        }
        break;
    case WebcamPixelFormat::NV12:
        if (!planeFits(in.data[0], in.stride[0], in.bytes[0], static_cast<size_t>(width), height)
            || !planeFits(in.data[1], in.stride[1], in.bytes[1], static_cast<size_t>(cw) * 2, ch))
            return WebcamPictureFault::Truncated;
        libyuv::NV12ToI420(in.data[0], in.stride[0], in.data[1], in.stride[1], y, width, u, cw, v, cw, width, height);
        break;
    default:
        return WebcamPictureFault::Corrupt;
    }
    uint8_t* sy = scratch.data() + source;
    uint8_t* su = sy + static_cast<size_t>(tw) * th;
    uint8_t* sv = su + static_cast<size_t>(tcw) * tch;
    libyuv::I420Scale(planes[0], strides[0], planes[1], strides[1], planes[2], strides[2], width, height, sy, tw, su,
        tcw, sv, tcw, tw, th, libyuv::kFilterBilinear);
    libyuv::I420ToARGB(sy, tw, su, tcw, sv, tcw, bgra, bgraStride, tw, th);
    return WebcamPictureFault::None;
}

void makeOpaque(uint8_t* bgra, int stride, QSize size)
{
    for (int y = 0; y < size.height(); ++y) {
        auto* row = reinterpret_cast<uint32_t*>(bgra + static_cast<size_t>(y) * stride);
        for (int x = 0; x < size.width(); ++x)
            row[x] |= 0xff000000u;
    }
}

std::shared_ptr<FrameBuffer> WebcamFramePool::take(QSize size)
{
    for (std::shared_ptr<FrameBuffer>& frame : frames) {
        // Only this pool holds it, and nobody shares its pixels: safe to write. (A
        // picture still shown keeps a copy of the QImage, not of the FrameBuffer;
        // writing into it then would copy all its pixels first.)
        if (frame.use_count() == 1 && frame->image.size() == size && frame->image.isDetached()) {
            frame->hostTime = 0;
            return frame;
        }
    }
    auto frame = std::make_shared<FrameBuffer>();
    // Webcam pictures are opaque; saying so lets them be drawn as plain copies.
    frame->image = QImage(size, QImage::Format_RGB32);
    // A few pictures in flight are normal (one converting, one drawn, one queued);
    // beyond that, pictures the core keeps longer are not tracked.
    constexpr size_t KEPT = 4;
    if (frames.size() >= KEPT) {
        for (auto it = frames.begin(); it != frames.end(); ++it) {
            if (it->use_count() == 1 || (*it)->image.size() != size || !(*it)->image.isDetached()) {
                frames.erase(it);
                break;
            }
        }
    }
    if (frames.size() < KEPT)
        frames.push_back(frame);
    return frame;
}

} // namespace vistrale
