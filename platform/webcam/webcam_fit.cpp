#include "platform/webcam/webcam_fit.h"

#include <algorithm>
#include <cmath>
#include <libyuv/planar_functions.h>
#include <libyuv/scale_argb.h>

namespace vistrale {

QSize aspectFillSize(QSize picture, QSize box)
{
    if (picture.isEmpty() || box.isEmpty())
        return {};
    const double k = std::max(double(box.width()) / picture.width(), double(box.height()) / picture.height());
    return QSize(
        std::max(1, int(std::lround(picture.width() * k))), std::max(1, int(std::lround(picture.height() * k))));
}

void WebcamPictureConverter::fitTo(QSize next)
{
    std::lock_guard guard(lock);
    box = next;
}

std::shared_ptr<FrameBuffer> WebcamPictureConverter::convert(
    WebcamPixelFormat format, QSize size, const WebcamPlanes& in, WebcamPictureFault& fault)
{
    QSize target = size;
    {
        std::lock_guard guard(lock);
        const QSize fill = aspectFillSize(size, box);
        if (!fill.isEmpty() && fill.width() <= size.width() && fill.height() <= size.height())
            target = fill;
    }
    std::shared_ptr<FrameBuffer> frame = pool.take(target);
    fault = convertWebcamPictureTo(
        format, size, in, target, scratch, frame->image.bits(), static_cast<int>(frame->image.bytesPerLine()));
    if (fault != WebcamPictureFault::None)
        return nullptr;
    return frame;
}

FrameRef WebcamFrameFitter::fit(const FrameRef& frame, QSize box, bool mirrored)
{
    if (!frame || frame->image.isNull())
        return frame;
    const QImage& source = frame->image;
    // Never larger than the output can show.
    QSize size = aspectFillSize(source.size(), box.boundedTo(QSize(8192, 8192)));
    if (size.isEmpty())
        size = source.size();
    if (size == source.size() && !mirrored)
        return frame;

    std::shared_ptr<FrameBuffer> scaled;
    if (size != source.size()) {
        scaled = (mirrored ? scratch : pool).take(size);
        libyuv::ARGBScale(source.constBits(), static_cast<int>(source.bytesPerLine()), source.width(), source.height(),
            scaled->image.bits(), static_cast<int>(scaled->image.bytesPerLine()), size.width(), size.height(),
            libyuv::kFilterBilinear);
        makeOpaque(scaled->image.bits(), static_cast<int>(scaled->image.bytesPerLine()), size);
    }
    std::shared_ptr<FrameBuffer> result = scaled;
    if (mirrored) {
        const QImage& from = scaled ? scaled->image : source;
        result = pool.take(size);
        libyuv::ARGBMirror(from.constBits(), static_cast<int>(from.bytesPerLine()), result->image.bits(),
            static_cast<int>(result->image.bytesPerLine()), size.width(), size.height());
        if (from.format() != QImage::Format_RGB32)
            makeOpaque(result->image.bits(), static_cast<int>(result->image.bytesPerLine()), size);
    }
    result->hostTime = frame->hostTime;
    return result;
}

} // namespace vistrale
