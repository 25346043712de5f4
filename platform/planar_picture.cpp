#include "platform/planar_picture.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <libyuv/convert_argb.h>

namespace vistrale {

qint64 PlanarPicture::nextId()
{
    // Negative, so that an id never equals a QImage's cache key.
    static std::atomic<qint64> last{0};
    return -(++last);
}

void PlanarPicture::convertInto(QImage& target, const QRect& wanted) const
{
    const QRect rect = wanted.intersected(QRect(QPoint(0, 0), size)).intersected(target.rect());
    if (rect.isEmpty() || target.depth() != 32)
        return;
    // The chroma planes have one sample for two rows and two columns: the conversion
    // starts at even coordinates. An odd edge is converted aside and copied.
    const int left = rect.x() & ~1, top = rect.y() & ~1;
    const int right = std::min(size.width(), (rect.right() + 2) & ~1);
    const int bottom = std::min(size.height(), (rect.bottom() + 2) & ~1);
    const QRect aligned(left, top, right - left, bottom - top);
    const auto convert = [this](const QRect& area, uint8_t* out, int outStride) {
        const uint8_t* y = planes[0] + qsizetype(area.y()) * strides[0] + area.x();
        const uint8_t* u = planes[1] + qsizetype(area.y() / 2) * strides[1] + area.x() / 2;
        const uint8_t* v = planes[2] + qsizetype(area.y() / 2) * strides[2] + area.x() / 2;
        const int w = area.width(), h = area.height();
        switch (matrix) {
        case Matrix::Bt601Full:
            libyuv::J420ToARGB(y, strides[0], u, strides[1], v, strides[2], out, outStride, w, h);
            break;
        case Matrix::Bt709:
            libyuv::H420ToARGB(y, strides[0], u, strides[1], v, strides[2], out, outStride, w, h);
            break;
        case Matrix::Bt601:
            libyuv::I420ToARGB(y, strides[0], u, strides[1], v, strides[2], out, outStride, w, h);
            break;
        }
    };
    const int targetStride = int(target.bytesPerLine());
    if (aligned == rect) {
        convert(rect, target.bits() + qsizetype(rect.y()) * targetStride + rect.x() * 4, targetStride);
        return;
    }
    QImage aside(aligned.size(), QImage::Format_RGB32);
    convert(aligned, aside.bits(), int(aside.bytesPerLine()));
    for (int row = rect.top(); row <= rect.bottom(); ++row)
        std::memcpy(target.scanLine(row) + rect.x() * 4,
            aside.constScanLine(row - aligned.y()) + (rect.x() - aligned.x()) * 4, size_t(rect.width()) * 4);
}

QImage PlanarPicture::toImage() const
{
    QImage image(size, QImage::Format_RGB32);
    if (!image.isNull())
        convertInto(image, image.rect());
    return image;
}

} // namespace vistrale
