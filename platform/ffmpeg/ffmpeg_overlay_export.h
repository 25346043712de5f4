#pragma once

#include "platform/media.h"

namespace vistrale {

// Exports a movie again with pictures drawn over its video (see
// Media::exportWithOverlays): the video is decoded, the overlays are blended into its
// 4:2:0 pictures and it is encoded with libx264; the audio is copied packet for packet.
bool exportMovieWithOverlays(const OverlayExportRequest& request, ExportControl& control, QString* error);

} // namespace vistrale
