#pragma once

#include "platform/frame.h"

#include <QImage>
#include <cstdint>
#include <memory>

namespace vistrale::test {

// A BGRA picture that changes from frame to frame: a gradient that scrolls 4 pixels
// a frame and a white box that moves 16 pixels a frame; `noisy`: the box holds fresh
// noise each frame instead, which no encoder can squeeze.
inline QImage syntheticPicture(int index, QSize size = {1920, 1080}, bool noisy = false)
{
    std::uint32_t seed = 2654435761u * static_cast<std::uint32_t>(index + 1);
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    const int boxX = (index * 16) % std::max(1, size.width() - 200);
    for (int y = 0; y < size.height(); ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(image.scanLine(y));
        const bool boxRow = y >= size.height() / 3 && y < size.height() / 3 + 200;
        for (int x = 0; x < size.width(); ++x) {
            if (boxRow && x >= boxX && x < boxX + 200) {
                seed = seed * 1664525u + 1013904223u;
                row[x] = noisy ? (0xff000000u | seed >> 8) : 0xffffffffu;
                continue;
            }
            const std::uint32_t r = static_cast<std::uint32_t>(x / 4 + index) & 0xff;
            const std::uint32_t g = static_cast<std::uint32_t>(y / 4) & 0xff;
            row[x] = 0xff000000u | r << 16 | g << 8 | 0x80u;
        }
    }
    return image;
}

inline FrameRef syntheticFrame(int index, QSize size = {1920, 1080}, bool noisy = false)
{
    return std::make_shared<const FrameBuffer>(FrameBuffer{syntheticPicture(index, size, noisy), 0});
}

} // namespace vistrale::test
