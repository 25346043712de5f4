#pragma once

#include "platform/media.h"

namespace vistrale {

// The recorder's media on this system: movies with FFmpeg (libx264), the microphone
// through PulseAudio.
class FfmpegMedia : public Media {
public:
    std::unique_ptr<VideoWriter> createVideoWriter(
        const VideoWriterSettings& settings, VideoWriter::Failure failed, QString* error) override;
    std::unique_ptr<MicrophoneRecorder> startMicrophone(const QString& path, MicrophoneRecorder::Failure failed,
        MicrophoneRecorder::Finished finished, QString* error) override;
    bool merge(const MergeRequest& request, QString* error) override;
    bool exportWithOverlays(const OverlayExportRequest& request, ExportControl& control, QString* error) override;
};

} // namespace vistrale
