#include "platform/camera/camera_buffer_damage.h"

#include <algorithm>

namespace vistrale {

void CameraBufferDamage::frameArrived(quint64 sequence, const std::optional<QRect>& changed, QSize size, bool mirrored)
{
    const bool same = sequence != 0 && size == lastSize && mirrored == lastMirrored;
    CameraRows rows{0, size.height()};
    if (same && sequence == lastSequence) {
        rows = {};
    } else if (same && sequence == lastSequence + 1 && changed) {
        const QRect inside = changed->intersected(QRect(QPoint(0, 0), size));
        rows = inside.isEmpty() ? CameraRows{} : CameraRows{inside.top(), inside.bottom() + 1};
    }
    lastSequence = sequence;
    lastSize = size;
    lastMirrored = mirrored;
    if (rows.isEmpty())
        return;
    for (auto& [buffer, stale] : buffers)
        stale = stale.isEmpty() ? rows : CameraRows{std::min(stale.first, rows.first), std::max(stale.end, rows.end)};
}

CameraRows CameraBufferDamage::take(const void* buffer)
{
    const auto found = buffers.find(buffer);
    if (found == buffers.end()) {
        buffers.emplace(buffer, CameraRows{});
        return CameraRows{0, lastSize.height()};
    }
    return std::exchange(found->second, CameraRows{});
}

void CameraBufferDamage::reset()
{
    buffers.clear();
}

} // namespace vistrale
