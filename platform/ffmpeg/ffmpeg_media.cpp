#include "platform/ffmpeg/ffmpeg_media.h"

#include "platform/ffmpeg/ffmpeg_merge.h"
#include "platform/ffmpeg/ffmpeg_overlay_export.h"
#include "platform/ffmpeg/ffmpeg_video_writer.h"
#include "platform/pulse/pulse_microphone.h"

namespace vistrale {

std::unique_ptr<VideoWriter> FfmpegMedia::createVideoWriter(
    const VideoWriterSettings& settings, VideoWriter::Failure failed, QString* error)
{
    return FfmpegVideoWriter::open(settings, std::move(failed), error);
}

std::unique_ptr<MicrophoneRecorder> FfmpegMedia::startMicrophone(
    const QString& path, MicrophoneRecorder::Failure failed, MicrophoneRecorder::Finished finished, QString* error)
{
    return PulseMicrophoneRecorder::start(path, std::move(failed), std::move(finished), error);
}

bool FfmpegMedia::merge(const MergeRequest& request, QString* error)
{
    return mergeMovie(request, error);
}

bool FfmpegMedia::exportWithOverlays(const OverlayExportRequest& request, ExportControl& control, QString* error)
{
    return exportMovieWithOverlays(request, control, error);
}

} // namespace vistrale
