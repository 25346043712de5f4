#include "platform/fake/fake_video_files.h"

#include <QColor>
#include <QFile>
#include <vector>

namespace vistrale {
namespace {

class FakeVideoFile : public VideoFile {
public:
    FakeVideoFile(std::vector<QColor> colours, double rate, QSize size, std::shared_ptr<std::atomic<int>> open)
        : colours(std::move(colours))
        , rate(rate)
        , size(size)
        , open(std::move(open))
    {
        ++*this->open;
    }
    ~FakeVideoFile() override { --*open; }

    double frameRate() const override { return rate; }
    QSize pictureSize() const override { return size; }
    bool readPicture(QImage& into) override
    {
        if (next >= colours.size())
            return false;
        if (into.size() != size || into.format() != QImage::Format_RGB32 || !into.isDetached())
            into = QImage(size, QImage::Format_RGB32);
        into.fill(colours[next++]);
        return true;
    }
    bool rewind() override
    {
        next = 0;
        return true;
    }

private:
    std::vector<QColor> colours;
    double rate;
    QSize size;
    std::shared_ptr<std::atomic<int>> open;
    std::size_t next = 0;
};

} // namespace

std::unique_ptr<VideoFile> FakeVideoFiles::open(const QString& path, QSize size, QString& error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return nullptr;
    }
    const QList<QByteArray> lines = file.read(4096).split('\n');
    std::vector<QColor> colours;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QColor colour(QString::fromLatin1(lines[i].trimmed()));
        if (colour.isValid())
            colours.push_back(colour);
    }
    if (lines.value(0).trimmed() != "fake-video" || colours.empty()) {
        error = QStringLiteral("no video stream");
        return nullptr;
    }
    opened.append(path);
    return std::make_unique<FakeVideoFile>(std::move(colours), frameRate, size, openFiles);
}

} // namespace vistrale
