#pragma once

#include "platform/frame.h"

#include <QPoint>
#include <QString>
#include <vector>

namespace vistrale {

// A diagnostic trace of the output frames for latency measurements: with
// VISTRALE_TRACE_OUTPUT_PIXELS="x,y;x,y;..." (pixel positions in the output picture,
// top-left origin) every output frame writes one line "output frame <host time> x,y=#rrggbb
// ...". Off by default; when off it costs one test per frame. Compositor thread.
class OutputPixelTrace {
public:
    static constexpr const char* VARIABLE = "VISTRALE_TRACE_OUTPUT_PIXELS";

    // Reads the points from the environment; a value that does not parse turns the
    // trace off with a log line.
    static OutputPixelTrace fromEnvironment();
    // The points of a value as above; none, with a log line, when any part is malformed.
    static std::vector<QPoint> parse(const QString& value);

    OutputPixelTrace() = default;
    explicit OutputPixelTrace(std::vector<QPoint> points);

    bool active() const { return !points.empty(); }
    // The line for one frame; points outside the picture read "none".
    QString line(const FrameBuffer& frame) const;
    // Logs the line of one frame when the trace is on.
    void frame(const FrameBuffer& frame) const;

private:
    std::vector<QPoint> points;
};

} // namespace vistrale
