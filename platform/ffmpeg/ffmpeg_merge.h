#pragma once

#include "platform/media.h"

namespace vistrale {

// Copies a recorded video and its audio into one movie (see Media::merge). Packets are
// copied unchanged and interleaved by time; only an audio shorter than the video is
// decoded, repeated and encoded again, since copied AAC frames do not join cleanly.
bool mergeMovie(const MergeRequest& request, QString* error);

} // namespace vistrale
