#include "preview/shaped_copy.h"

#include <QPainter>
#include <algorithm>
#include <cstring>

namespace vistrale {
namespace {

// x · a + y · (255 − a), per 8-bit channel, divided by 255 with rounding.
inline uint32_t interpolate(uint32_t x, uint32_t a, uint32_t y)
{
    const uint32_t b = 255 - a;
    uint32_t low = (x & 0xff00ffu) * a + (y & 0xff00ffu) * b;
    low = ((low + ((low >> 8) & 0xff00ffu) + 0x800080u) >> 8) & 0xff00ffu;
    uint32_t high = ((x >> 8) & 0xff00ffu) * a + ((y >> 8) & 0xff00ffu) * b;
    high = (high + ((high >> 8) & 0xff00ffu) + 0x800080u) & 0xff00ff00u;
    return high | low;
}

} // namespace

bool ShapedCopy::suits(const QImage& picture, const QImage& target)
{
    return picture.format() == QImage::Format_RGB32 && target.format() == QImage::Format_ARGB32_Premultiplied;
}

const ShapedCopy::Coverage& ShapedCopy::coverageOf(const QPainterPath& shape, QSize targetSize)
{
    ++generation;
    for (Coverage& coverage : coverages) {
        if (coverage.targetSize == targetSize && coverage.shape == shape) {
            coverage.lastUsed = generation;
            return coverage;
        }
    }
    // Shapes not drawn for a while (a webcam resized, a window gone) are let go.
    std::erase_if(coverages, [this](const Coverage& coverage) { return coverage.lastUsed + 64 < generation; });

    Coverage coverage;
    coverage.shape = shape;
    coverage.targetSize = targetSize;
    coverage.lastUsed = generation;
    coverage.area = shape.boundingRect().toAlignedRect().intersected(QRect(QPoint(0, 0), targetSize));
    coverage.rows.resize(std::max(0, coverage.area.height()));
    if (!coverage.area.isEmpty()) {
        // The same antialiased coverage the raster engine gives a clip path.
        QImage mask(coverage.area.size(), QImage::Format_Alpha8);
        mask.fill(0);
        QPainter painter(&mask);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.translate(-coverage.area.topLeft());
        painter.fillPath(shape, Qt::black);
        painter.end();
        for (int y = 0; y < mask.height(); ++y) {
            const uchar* alpha = mask.constScanLine(y);
            const int width = mask.width();
            Row& row = coverage.rows[y];
            // The first run of full coverage; for the convex shapes drawn here it is
            // the only one, and anything else covered is blended pixel by pixel.
            int begin = 0;
            while (begin < width && alpha[begin] != 255)
                ++begin;
            int end = begin;
            while (end < width && alpha[end] == 255)
                ++end;
            row.fullBegin = coverage.area.x() + begin;
            row.fullEnd = coverage.area.x() + end;
            row.edgeBegin = int(coverage.edges.size());
            for (int x = 0; x < width; ++x)
                if (alpha[x] != 0 && (x < begin || x >= end))
                    coverage.edges.push_back(Edge{coverage.area.x() + x, alpha[x]});
            row.edgeEnd = int(coverage.edges.size());
        }
    }
    coverages.push_back(std::move(coverage));
    return coverages.back();
}

void ShapedCopy::draw(QImage& target, const QPainterPath& shape, const QImage& picture, const QRect& source,
    QPoint at, const QRegion& clip)
{
    const QRect sourceInPicture = source.intersected(picture.rect());
    if (sourceInPicture.isEmpty())
        return;
    const Coverage& coverage = coverageOf(shape, target.size());
    // Where the picture lands in the target; its pixel (x, y) comes from
    // (x + offset.x, y + offset.y) of the picture.
    const QPoint offset = source.topLeft() - at;
    const QRect placedArea = sourceInPicture.translated(-offset).intersected(coverage.area);
    if (placedArea.isEmpty())
        return;
    uchar* targetBits = target.bits();
    const qsizetype targetStride = target.bytesPerLine();
    for (const QRect& part : clip) {
        const QRect rect = part.intersected(placedArea);
        if (rect.isEmpty())
            continue;
        for (int y = rect.top(); y <= rect.bottom(); ++y) {
            const Row& row = coverage.rows[y - coverage.area.y()];
            auto* out = reinterpret_cast<uint32_t*>(targetBits + y * targetStride);
            const auto* in = reinterpret_cast<const uint32_t*>(picture.constScanLine(y + offset.y()));
            const int dx = offset.x();
            const int begin = std::max(row.fullBegin, rect.left());
            const int end = std::min(row.fullEnd, rect.right() + 1);
            if (begin < end)
                std::memcpy(out + begin, in + begin + dx, size_t(end - begin) * sizeof(uint32_t));
            for (int i = row.edgeBegin; i < row.edgeEnd; ++i) {
                const Edge& edge = coverage.edges[i];
                if (edge.x >= rect.left() && edge.x <= rect.right())
                    out[edge.x] = interpolate(in[edge.x + dx] | 0xff000000u, edge.alpha, out[edge.x]);
            }
        }
    }
}

} // namespace vistrale
