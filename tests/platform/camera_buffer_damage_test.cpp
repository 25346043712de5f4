#include "platform/camera/camera_buffer_damage.h"
#include "platform/camera/camera_pixels.h"

#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <gtest/gtest.h>
#include <vector>

using namespace vistrale;

namespace {

constexpr QSize SIZE(96, 40);
constexpr int NO_BUFFER = -1;

// What happens to the output between two writes, and which buffer comes back free.
enum class Event { Changed, Repeated, Skipped, Unnumbered, MirrorSwitched, BuffersReplaced };
struct Step {
    Event event;
    int buffer;
};

std::vector<uint8_t> converted(const QImage& picture, CameraPixelFormat format, bool mirrored)
{
    std::vector<uint8_t> bytes(cameraPictureBytes(format, SIZE));
    writeCameraPicture(picture.constBits(), int(picture.bytesPerLine()), SIZE, format,
        cameraPackedPlanes(format, SIZE, bytes.data()), SIZE, mirrored);
    return bytes;
}

} // namespace

// Buffers come back out of order, some frames find none free, some are skipped or
// repeated: each buffer written with only its collected rows still holds exactly what
// a full conversion of the newest frame gives.
TEST(CameraBufferDamage, BuffersWrittenOnlyWhereTheyLagHoldTheSameBytesAsAFullConversion)
{
    const Step steps[] = {{Event::Changed, 0}, {Event::Changed, 1}, {Event::Changed, 2}, {Event::Changed, 3},
        {Event::Changed, 1}, {Event::Changed, NO_BUFFER}, {Event::Changed, 0}, {Event::Repeated, 3},
        {Event::Changed, NO_BUFFER}, {Event::Changed, NO_BUFFER}, {Event::Changed, 2}, {Event::Skipped, 1},
        {Event::Changed, 3}, {Event::Unnumbered, 0}, {Event::Changed, 2}, {Event::MirrorSwitched, 1},
        {Event::Changed, 0}, {Event::Changed, 3}, {Event::BuffersReplaced, 2}, {Event::Changed, 1},
        {Event::Repeated, 0}, {Event::Changed, 3}, {Event::Changed, 2}};

    for (const CameraPixelFormat format : {CameraPixelFormat::YUY2, CameraPixelFormat::NV12}) {
        QRandomGenerator random(7);
        QImage picture(SIZE, QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < SIZE.height(); ++y)
            for (int x = 0; x < SIZE.width(); ++x)
                picture.setPixel(x, y, random.generate() | 0xff000000);
        std::vector<std::vector<uint8_t>> buffers(4, std::vector<uint8_t>(cameraPictureBytes(format, SIZE), 0xaa));
        CameraBufferDamage damage;
        quint64 sequence = 0;
        bool mirrored = false;
        for (std::size_t index = 0; index < std::size(steps); ++index) {
            const Step& step = steps[index];
            // A new picture differs from the last inside one box, odd rows included.
            const QRect box(random.bounded(SIZE.width() - 8), random.bounded(SIZE.height() - 5), random.bounded(1, 9),
                random.bounded(1, 6));
            std::optional<QRect> changed = box;
            quint64 number = ++sequence;
            switch (step.event) {
            case Event::Changed:
                break;
            case Event::Repeated:
                number = --sequence;
                changed = QRect();
                break;
            case Event::Skipped:
                // A frame drawn that the camera never saw: its box changed too.
                QPainter(&picture).fillRect(box.translated(3, 2), QColor::fromRgb(random.generate()));
                number = ++sequence;
                break;
            case Event::Unnumbered:
                number = 0;
                break;
            case Event::MirrorSwitched:
                mirrored = !mirrored;
                break;
            case Event::BuffersReplaced:
                damage.reset();
                for (auto& buffer : buffers)
                    std::fill(buffer.begin(), buffer.end(), uint8_t(0x55));
                break;
            }
            if (step.event != Event::Repeated)
                QPainter(&picture).fillRect(box, QColor::fromRgb(random.generate()));
            damage.frameArrived(number, changed, SIZE, mirrored);
            if (step.buffer != NO_BUFFER) {
                std::vector<uint8_t>& buffer = buffers[step.buffer];
                ASSERT_TRUE(writeCameraRows(picture.constBits(), int(picture.bytesPerLine()), SIZE, format,
                    cameraPackedPlanes(format, SIZE, buffer.data()), mirrored, damage.take(buffer.data())));
                EXPECT_EQ(buffer, converted(picture, format, mirrored))
                    << "format " << int(format) << ", step " << index << ", buffer " << step.buffer;
            }
        }
    }
}
