#pragma once

#include "platform/video_file.h"

namespace vistrale {

// Video files read with FFmpeg (libavformat, libavcodec), converted and scaled with
// libyuv for 4:2:0 pictures and with libswscale for every other pixel format.
class FFmpegVideoFiles : public VideoFiles {
public:
    std::unique_ptr<VideoFile> open(const QString& path, QSize size, QString& error) override;
};

} // namespace vistrale
