#pragma once

#include "platform/video_file.h"

#include <QStringList>
#include <atomic>

namespace vistrale {

// Video files for tests: a file whose first line is "fake-video" and whose other lines
// are colour names ("#ff0000") is a video with one plain picture per colour at
// `frameRate`; every other file fails to open.
class FakeVideoFiles : public VideoFiles {
public:
    std::unique_ptr<VideoFile> open(const QString& path, QSize size, QString& error) override;

    double frameRate = 30;
    // Paths opened successfully, in order. Main thread.
    QStringList opened;
    // Files open now (any thread).
    std::shared_ptr<std::atomic<int>> openFiles = std::make_shared<std::atomic<int>>(0);
};

} // namespace vistrale
