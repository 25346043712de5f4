#pragma once

#include "platform/planar_picture.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <memory>

namespace vistrale {

// The pictures of one video file, in order, decoded and scaled to one fixed size with
// aspect fill (scaled to cover it, centred, the rest cut off). Sound is ignored.
// Made on any thread, then used by one thread at a time (the player's worker); the
// caller owns it.
class VideoFile {
public:
    virtual ~VideoFile() = default;
    // The rate the video is meant to play at, in pictures a second (> 0).
    virtual double frameRate() const = 0;
    // The size every picture has.
    virtual QSize pictureSize() const = 0;
    // Decodes the next picture into `into` as Format_RGB32 of pictureSize(). Its buffer is
    // reused when nothing else holds it, else a new one is made. False at the end of the
    // video, or on a decoding error (with one log line).
    virtual bool readPicture(QImage& into) = 0;
    // Whether the pictures can come as their 4:2:0 planes instead (most videos), to be
    // converted where they are drawn.
    virtual bool planarPictures() const { return false; }
    // The next picture as planes of pictureSize(); null at the end of the video or on a
    // decoding error (with one log line), as readPicture.
    virtual PlanarPictureRef readPlanarPicture() { return nullptr; }
    // Back to the first picture; false (with one log line) when the file cannot seek.
    virtual bool rewind() = 0;
};

// Opens video files.
class VideoFiles {
public:
    virtual ~VideoFiles() = default;
    // Opens `path` for pictures of `size`. Null, with the reason in `error`, when the file
    // cannot be read, has no video stream or its first picture cannot be decoded. Any
    // thread.
    virtual std::unique_ptr<VideoFile> open(const QString& path, QSize size, QString& error) = 0;
};

} // namespace vistrale
