#pragma once

#include <QImage>
#include <QRect>
#include <QSize>
#include <cstdint>
#include <memory>

namespace vistrale {

// A decoded video picture kept as its 4:2:0 planes (Y at full size, U and V at half
// width and height), with the colour matrix that turns it into RGB. A video backdrop
// hands these to the compositor, which converts them straight into the output frame:
// one pass over the pixels instead of a conversion and then a copy.
struct PlanarPicture {
    enum class Matrix { Bt601, Bt709, Bt601Full };

    QSize size;
    Matrix matrix = Matrix::Bt601;
    const uint8_t* planes[3] = {nullptr, nullptr, nullptr};
    int strides[3] = {0, 0, 0};
    // Keeps the planes' memory alive (a decoder's frame, or a buffer of our own).
    std::shared_ptr<const void> owner;
    // Tells pictures apart for redrawing only what changed; never 0, never reused.
    qint64 id = nextId();

    // Writes the pixels of `rect` (picture coordinates, inside `size`) as opaque RGB32
    // into the same place of `target`, a 32-bit image at least as large.
    void convertInto(QImage& target, const QRect& rect) const;
    // The whole picture as an RGB32 image.
    QImage toImage() const;

    static qint64 nextId();
};

using PlanarPictureRef = std::shared_ptr<const PlanarPicture>;

} // namespace vistrale
