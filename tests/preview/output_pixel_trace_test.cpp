#include "platform/fake/fake_clock.h"
#include "preview/compositor.h"
#include "preview/output_pixel_trace.h"

#include <QPainter>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>

using namespace vistrale;
using namespace std::chrono_literals;

namespace {

FrameBuffer frameOf(QSize size, double hostTime)
{
    FrameBuffer frame;
    frame.image = QImage(size, QImage::Format_ARGB32_Premultiplied);
    frame.image.fill(Qt::black);
    frame.hostTime = hostTime;
    return frame;
}

// Sets a variable for one scope and puts the old state back.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const QByteArray& value)
        : name(name)
        , had(qEnvironmentVariableIsSet(name))
        , old(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~ScopedVariable()
    {
        if (had)
            qputenv(name, old);
        else
            qunsetenv(name);
    }

private:
    const char* name;
    bool had;
    QByteArray old;
};

} // namespace

TEST(OutputPixelTrace, ReadsPointsSeparatedBySemicolonsAndTracesNothingForAnyMalformedPart)
{
    EXPECT_EQ(OutputPixelTrace::parse("10,20;30,40"), (std::vector<QPoint>{{10, 20}, {30, 40}}));
    EXPECT_EQ(OutputPixelTrace::parse(" 0, 1079 ;"), (std::vector<QPoint>{{0, 1079}}));
    EXPECT_TRUE(OutputPixelTrace::parse("").empty());
    for (const char* value : {"10;20,30", "a,b", "10,20,30", "-1,5", "10,20;x,1", "99999,1"}) {
        testing::internal::CaptureStdout();
        EXPECT_TRUE(OutputPixelTrace::parse(value).empty()) << value;
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
            std::string("VISTRALE_TRACE_OUTPUT_PIXELS not usable: ") + value + "\n");
    }
}

TEST(OutputPixelTrace, LineHoldsTheHostTimeAndTheColourAtEachPoint)
{
    FrameBuffer frame = frameOf(QSize(100, 50), 1234.5678901);
    {
        QPainter painter(&frame.image);
        painter.fillRect(0, 0, 10, 10, QColor(0x12, 0x34, 0x56));
        painter.fillRect(90, 40, 10, 10, Qt::white);
    }
    const OutputPixelTrace trace({{5, 5}, {95, 45}, {50, 25}, {100, 10}});
    EXPECT_TRUE(trace.active());
    EXPECT_EQ(trace.line(frame), "output frame 1234.567890 5,5=#123456 95,45=#ffffff 50,25=#000000 100,10=none");
    EXPECT_FALSE(OutputPixelTrace().active());
}

TEST(OutputPixelTrace, TheCompositorLogsEveryFrameItDrawsOnlyWhenAsked)
{
    FakeClock clock;
    clock.advance(42.25);
    auto drawOnce = [&clock](const QColor& colour) {
        Compositor compositor(clock);
        std::mutex lock;
        std::condition_variable arrived;
        int frames = 0;
        compositor.setFrameHandler([&](FrameRef) {
            std::lock_guard guard(lock);
            ++frames;
            arrived.notify_all();
        });
        auto list = std::make_shared<DrawList>();
        list->outputSize = QSize(1920, 1080);
        list->clearColor = colour;
        compositor.submit(list);
        std::unique_lock guard(lock);
        return arrived.wait_for(guard, 10s, [&] { return frames == 1; });
    };

    testing::internal::CaptureStdout();
    ASSERT_TRUE(drawOnce(Qt::red));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    ScopedVariable points(OutputPixelTrace::VARIABLE, "960,540;0,0");
    testing::internal::CaptureStdout();
    ASSERT_TRUE(drawOnce(QColor(0, 128, 255)));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
        "output frame " + QString::number(clock.now(), 'f', 6).toStdString() + " 960,540=#0080ff 0,0=#0080ff\n");
}
