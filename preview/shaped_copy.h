#pragma once

#include <QImage>
#include <QPainterPath>
#include <QRegion>
#include <cstdint>
#include <vector>

namespace vistrale {

// Copies an opaque picture into a frame through an antialiased shape (the webcam's
// circle, a rounded window): inside the shape each row is one plain copy, and only the
// pixels on the outline are blended. Qt's raster engine draws a picture clipped to a
// path span by span and hands the spans to its thread pool, which for a webcam drawn
// every frame costs several times more, most of it in waking threads.
//
// The outline's coverage is worked out once per shape and kept while the shape stays.
// Used on one thread at a time.
class ShapedCopy {
public:
    // Whether `picture` can be copied into `target` this way: an opaque 32-bit picture
    // into a premultiplied 32-bit frame.
    static bool suits(const QImage& picture, const QImage& target);

    // Copies the `source` part of `picture` with its top-left corner at `at` into
    // `target`, where it lies inside `shape` (target pixels) and inside `clip`.
    void draw(QImage& target, const QPainterPath& shape, const QImage& picture, const QRect& source, QPoint at,
        const QRegion& clip);

private:
    // For each row of `area`: the run of fully covered pixels [fullBegin, fullEnd) and
    // the partly covered ones, as indexes into `edges` [edgeBegin, edgeEnd).
    struct Row {
        int fullBegin = 0;
        int fullEnd = 0;
        int edgeBegin = 0;
        int edgeEnd = 0;
    };
    struct Edge {
        int x;
        uint32_t alpha;
    };
    struct Coverage {
        QPainterPath shape;
        QSize targetSize;
        QRect area;
        std::vector<Row> rows;
        std::vector<Edge> edges;
        quint64 lastUsed = 0;
    };

    const Coverage& coverageOf(const QPainterPath& shape, QSize targetSize);

    std::vector<Coverage> coverages;
    quint64 generation = 0;
};

} // namespace vistrale
