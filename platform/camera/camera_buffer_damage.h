#pragma once

#include <QRect>
#include <QSize>
#include <map>
#include <optional>

namespace vistrale {

// Rows of a picture, [first, end); empty when end <= first.
struct CameraRows {
    int first = 0;
    int end = 0;
    bool isEmpty() const { return end <= first; }
};

// Which rows of each of a camera's buffers no longer show the newest frame. Readers
// hand the buffers back in any order and the camera writes whichever comes free, so
// every buffer collects the rows changed by each frame since it was last written, and
// only those are converted again. Buffers are known by the address of their memory.
// Camera thread (or wherever the buffers are written, one thread at a time).
class CameraBufferDamage {
public:
    // The newest frame: number `sequence` (from 1; 0 when unnumbered) of `size`,
    // written mirrored or not, with `changed` the pixels that differ from the frame
    // numbered one before (nullopt when unknown). The frame after the last marks its
    // changed rows, the last frame again marks none, and anything else (a frame
    // skipped, unnumbered, another size, mirroring switched) marks every row.
    void frameArrived(quint64 sequence, const std::optional<QRect>& changed, QSize size, bool mirrored);
    // The rows `buffer` needs written to show the newest frame (every row for a buffer
    // not seen before); from now on they count as written.
    CameraRows take(const void* buffer);
    // Every buffer counts as unknown again (buffers replaced, format changed).
    void reset();

private:
    std::map<const void*, CameraRows> buffers;
    quint64 lastSequence = 0;
    QSize lastSize;
    bool lastMirrored = false;
};

} // namespace vistrale
