#pragma once

#include "platform/frame.h"

namespace vistrale {

// One captured frame; empty until the first one arrives.
struct CapturedFrame {
    FrameRef surface;
    bool isEmpty() const { return !surface; }
};

} // namespace vistrale
