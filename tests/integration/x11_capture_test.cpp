#include "platform/x11/x11_capture.h"
#include "tests/integration/x11_client_window.h"
#include "tests/integration/x11_desktop_test.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QThread>
#include <atomic>
#include <mutex>
#include <thread>

using namespace vistrale;
using namespace vistrale::test;

namespace {

// What a stream delivered, filled on the capture thread and read on the main thread.
class Collected {
public:
    CaptureService::FrameSink frames()
    {
        return [this](FrameRef frame) {
            std::lock_guard<std::mutex> guard(lock);
            ++count;
            last = std::move(frame);
            onMainThread |= std::this_thread::get_id() == mainThread;
        };
    }
    CaptureService::ErrorSink errors()
    {
        return [this](const QString& text) {
            std::lock_guard<std::mutex> guard(lock);
            ++errorCount;
            lastError = text;
            onMainThread |= std::this_thread::get_id() == mainThread;
        };
    }
    int frameCount() { return read(count); }
    int errorsSeen() { return read(errorCount); }
    FrameRef latest() { return read(last); }
    QString error() { return read(lastError); }
    bool deliveredOnMainThread() { return read(onMainThread); }

    // Waits until more than `seen` frames arrived.
    bool waitBeyond(int seen, int timeoutMs = 10000)
    {
        return waitUntil([&] { return frameCount() > seen; }, timeoutMs);
    }

private:
    template <typename T> T read(const T& field)
    {
        std::lock_guard<std::mutex> guard(lock);
        return field;
    }

    std::mutex lock;
    int count = 0;
    int errorCount = 0;
    FrameRef last;
    QString lastError;
    bool onMainThread = false;
    const std::thread::id mainThread = std::this_thread::get_id();
};

// Lets time pass while the main thread keeps handling events.
void pause(int ms)
{
    QElapsedTimer timer;
    timer.start();
    waitUntil([&] { return timer.elapsed() >= ms; }, ms + 1000);
}

// Open file descriptors and attached System V shared-memory segments of this process.
int openDescriptors()
{
    return static_cast<int>(QDir("/proc/self/fd").entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size());
}

int sharedSegments()
{
    QFile maps("/proc/self/maps");
    if (!maps.open(QIODevice::ReadOnly))
        return -1;
    return static_cast<int>(maps.readAll().count("SYSV"));
}

bool samePixels(const QImage& a, const QImage& b)
{
    return a.convertToFormat(QImage::Format_ARGB32) == b.convertToFormat(QImage::Format_ARGB32);
}

const quint32 MAGENTA = 0xFF00FF;

int pixelsOfColour(const QImage& image, const QRect& area, QRgb colour)
{
    int found = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if ((image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF))
                ++found;
        }
    }
    return found;
}

class X11CaptureTest : public X11DesktopTest {
protected:
    CaptureService& capture() { return *backends->capture; }

    void SetUp() override
    {
        X11DesktopTest::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(backends->capture) << "Xvfb offers Composite and Damage, so a capture service is expected";
    }

    // The window's frame size as the window list reports it.
    QSize frameSize(quint32 window)
    {
        const std::optional<QRectF> bounds = backends->windowServer->windowBounds(window);
        return bounds ? bounds->size().toSize() : QSize();
    }

    std::unique_ptr<CaptureStream> watch(quint32 window, Collected& collected)
    {
        return capture().startWindow(window, frameSize(window), collected.frames(), collected.errors());
    }
    std::unique_ptr<CaptureStream> watchDisplay(Collected& collected)
    {
        return capture().startDisplay(1, QSize(1920, 1080), collected.frames(), collected.errors());
    }
    // A window's frame in X coordinates (top-left origin).
    QRect xRect(quint32 window)
    {
        const QRectF bounds = backends->windowServer->windowBounds(window).value_or(QRectF());
        return QRect(static_cast<int>(bounds.x()), 1080 - static_cast<int>(bounds.y() + bounds.height()),
            static_cast<int>(bounds.width()), static_cast<int>(bounds.height()));
    }
    // An override-redirect window of this process in a colour nothing else shows.
    std::unique_ptr<ClientWindow> ownWindow(const QRect& rect)
    {
        auto own = std::make_unique<ClientWindow>(desktop.display(), rect, "own window", true);
        xcb_change_window_attributes(own->c, own->id, XCB_CW_BACK_PIXEL, &MAGENTA);
        return own;
    }
    // Waits until the screen itself shows the own window whole.
    bool screenShows(const QRect& ownRect)
    {
        return waitUntil(
            [&] {
                const QImage screen = backends->windowServer->imageDisplay(1);
                return !screen.isNull()
                    && pixelsOfColour(screen, ownRect, MAGENTA) == ownRect.width() * ownRect.height();
            },
            5000);
    }

    // Starts a client and waits until the window manager shows it, so that framing and
    // focus repaints are over before a stream starts.
    quint32 startSettled(const QString& program, const QStringList& arguments = {}, const QString& match = {})
    {
        const quint32 window = startWindow(program, arguments, match);
        if (window)
            pause(1000);
        return window;
    }
};

} // namespace

// Changing and static windows.

TEST_F(X11CaptureTest, StaticLogoDeliversOneFrameOfTheFrameSizeWithThePixelsOfTheWindow)
{
    const quint32 logo = startSettled("xlogo");
    ASSERT_NE(logo, 0u);
    Collected collected;
    std::unique_ptr<CaptureStream> stream = watch(logo, collected);
    ASSERT_TRUE(stream);
    ASSERT_TRUE(collected.waitBeyond(0));
    const FrameRef frame = collected.latest();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->image.size(), frameSize(logo));
    EXPECT_EQ(frame->image.format(), QImage::Format_ARGB32_Premultiplied);
    const QImage still = backends->windowServer->imageWindow(logo);
    ASSERT_FALSE(still.isNull());
    EXPECT_TRUE(samePixels(frame->image, still));
    EXPECT_EQ(qAlpha(frame->image.pixel(frame->image.width() / 2, frame->image.height() / 2)), 255);
    pause(2000);
    EXPECT_EQ(collected.frameCount(), 1);
}

TEST_F(X11CaptureTest, AWindowOrDisplayThatDoesNotExistGivesNoStream)
{
    Collected collected;
    EXPECT_FALSE(capture().startWindow(0x7ffffff, QSize(100, 100), collected.frames(), collected.errors()));
    EXPECT_FALSE(capture().startWindow(-1, QSize(100, 100), collected.frames(), collected.errors()));
    EXPECT_FALSE(capture().startDisplay(7, QSize(1920, 1080), collected.frames(), collected.errors()));
    EXPECT_FALSE(capture().startDisplay(0, QSize(1920, 1080), collected.frames(), collected.errors()));
}

// Windows that change shape or state.

TEST_F(X11CaptureTest, ResizedWindowDeliversFramesOfItsNewSize)
{
    const quint32 logo = startSettled("xlogo");
    ASSERT_NE(logo, 0u);
    Collected collected;
    std::unique_ptr<CaptureStream> stream = watch(logo, collected);
    ASSERT_TRUE(stream);
    ASSERT_TRUE(collected.waitBeyond(0));
    const QSize before = collected.latest()->image.size();
    ASSERT_EQ(desktop.run("xdotool", {"windowsize", "--sync", QString::number(logo), "333", "222"}), 0);
    ASSERT_TRUE(waitUntil([&] { return frameSize(logo) != before; }, 5000));
    const QSize after = frameSize(logo);
    stream->reconfigure(after);
    EXPECT_TRUE(waitUntil([&] { return collected.latest()->image.size() == after; }, 5000))
        << "last frame " << collected.latest()->image.width() << "x" << collected.latest()->image.height();
    const QImage still = backends->windowServer->imageWindow(logo);
    pause(300);
    EXPECT_TRUE(samePixels(collected.latest()->image, still));
}

TEST_F(X11CaptureTest, ClockTickingEverySecondDeliversAboutOneFrameASecondAndNothingWhileMinimised)
{
    const quint32 clock = startSettled("xclock", {"-update", "1"});
    ASSERT_NE(clock, 0u);
    Collected collected;
    std::unique_ptr<CaptureStream> stream = watch(clock, collected);
    ASSERT_TRUE(stream);
    ASSERT_TRUE(collected.waitBeyond(0));
    const int first = collected.frameCount();
    pause(4000);
    const int during = collected.frameCount() - first;
    // One tick a second, with room for the odd extra repaint.
    EXPECT_GE(during, 2);
    EXPECT_LE(during, 12);
    EXPECT_FALSE(collected.deliveredOnMainThread());

    ASSERT_EQ(desktop.run("xdotool", {"windowminimize", "--sync", QString::number(clock)}), 0);
    pause(500);
    const int hidden = collected.frameCount();
    pause(2500);
    EXPECT_EQ(collected.frameCount(), hidden);
    desktop.run("xdotool", {"windowmap", QString::number(clock)});
    desktop.run("xdotool", {"windowactivate", QString::number(clock)});
    EXPECT_TRUE(collected.waitBeyond(hidden, 5000));
    EXPECT_EQ(collected.errorsSeen(), 0);
}

TEST_F(X11CaptureTest, AKilledOrWithdrawnWindowIsReportedOnceAsGoneAndDeliversNoMore)
{
    for (bool killed : {true, false}) {
        SCOPED_TRACE(killed ? "killed" : "withdrawn");
        const qint64 pid = desktop.startClient("xclock", {"-update", "1"});
        ASSERT_GT(pid, 0);
        const quint32 clock = desktop.waitForWindow("xclock").value_or(0);
        ASSERT_NE(clock, 0u);
        pause(1000);
        Collected collected;
        std::unique_ptr<CaptureStream> stream = watch(clock, collected);
        ASSERT_TRUE(stream);
        ASSERT_TRUE(collected.waitBeyond(0));
        if (killed)
            desktop.stopClient(pid);
        else // Unmapping the client itself withdraws it: the window manager lets it go for good.
            ASSERT_EQ(desktop.run("xdotool", {"windowunmap", QString::number(clock)}), 0);
        ASSERT_TRUE(waitUntil([&] { return collected.errorsSeen() > 0; }, 5000));
        const int atEnd = collected.frameCount();
        pause(1500);
        EXPECT_EQ(collected.errorsSeen(), 1);
        EXPECT_EQ(collected.error(), "window gone");
        EXPECT_EQ(collected.frameCount(), atEnd);
        EXPECT_FALSE(collected.deliveredOnMainThread());
        stream->stop();
        EXPECT_EQ(collected.errorsSeen(), 1);
        desktop.stopClient(pid);
    }
}

// Stopping and buffers.

TEST_F(X11CaptureTest, ABusyStreamNeverWritesAHeldFrameAndStoppingOrDestroyingItEndsItsFrames)
{
    const quint32 term = startSettled("xterm", {"-e", "od", "/dev/urandom"}, "XTerm");
    ASSERT_NE(term, 0u);
    for (bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "destroyed" : "stopped");
        Collected collected;
        std::unique_ptr<CaptureStream> stream = watch(term, collected);
        ASSERT_TRUE(stream);
        ASSERT_TRUE(collected.waitBeyond(2));
        if (!destroy) {
            // A frame a consumer holds is never written by later frames.
            const FrameRef held = collected.latest();
            ASSERT_TRUE(held);
            const QImage copy = held->image.copy();
            // Enough frames for the pool to come round several times.
            ASSERT_TRUE(collected.waitBeyond(collected.frameCount() + 15, 15000));
            EXPECT_TRUE(samePixels(held->image, copy));
            // The later frames did show something else, so a written buffer would have shown.
            EXPECT_FALSE(samePixels(collected.latest()->image, copy));
        }
        if (destroy)
            stream.reset();
        else
            stream->stop();
        const int ended = collected.frameCount();
        pause(1000);
        EXPECT_EQ(collected.frameCount(), ended);
        EXPECT_EQ(collected.errorsSeen(), 0);
        // A second stop and the destructor after it are harmless.
        if (stream)
            stream->stop();
        stream.reset();
        EXPECT_EQ(collected.frameCount(), ended);
    }
}

TEST_F(X11CaptureTest, StoppedStreamsLeaveNoDescriptorOrSharedMemoryBehind)
{
    const quint32 clock = startSettled("xclock", {"-update", "1"});
    ASSERT_NE(clock, 0u);
    // One stream first, so that anything made once per process exists already.
    {
        Collected warm;
        std::unique_ptr<CaptureStream> stream = watch(clock, warm);
        ASSERT_TRUE(stream);
        ASSERT_TRUE(warm.waitBeyond(0));
    }
    const int descriptors = openDescriptors();
    const int segments = sharedSegments();
    for (int i = 0; i < 5; ++i) {
        Collected window, display;
        std::unique_ptr<CaptureStream> a = watch(clock, window);
        std::unique_ptr<CaptureStream> b = watchDisplay(display);
        ASSERT_TRUE(a);
        ASSERT_TRUE(b);
        ASSERT_TRUE(window.waitBeyond(0));
        ASSERT_TRUE(display.waitBeyond(0));
        // Both streams hold a connection, a wake-up descriptor and a segment now.
        EXPECT_GE(openDescriptors(), descriptors + 4);
        EXPECT_GE(sharedSegments(), segments + 2);
        a->stop();
        b.reset();
    }
    EXPECT_EQ(openDescriptors(), descriptors);
    EXPECT_EQ(sharedSegments(), segments);
}

// The whole display.

TEST_F(X11CaptureTest, DisplayStreamShowsWhatLiesBeneathThisProcesssWindows)
{
    const quint32 logo = startSettled("xlogo");
    ASSERT_NE(logo, 0u);
    Collected collected;
    std::unique_ptr<CaptureStream> stream = watchDisplay(collected);
    ASSERT_TRUE(stream);
    ASSERT_TRUE(collected.waitBeyond(0));
    const QImage before = collected.latest()->image.copy();
    EXPECT_EQ(before.size(), QSize(1920, 1080));

    // A window of this process over the logo, which the screen does show.
    const QRect ownRect = QRect(xRect(logo).topLeft() + QPoint(10, 10), QSize(60, 40));
    std::unique_ptr<ClientWindow> own = ownWindow(ownRect);
    const int seen = collected.frameCount();
    own->map();
    ASSERT_TRUE(screenShows(ownRect));
    ASSERT_TRUE(collected.waitBeyond(seen, 5000));
    pause(300);
    const QImage after = collected.latest()->image;
    EXPECT_EQ(pixelsOfColour(after, ownRect, MAGENTA), 0);
    EXPECT_TRUE(samePixels(after.copy(ownRect), before.copy(ownRect)));
    EXPECT_EQ(collected.errorsSeen(), 0);
}

TEST_F(X11CaptureTest, DisplayStreamFollowsAWindowThatChangesBeneathThisProcesssWindow)
{
    const quint32 clock = startSettled("xclock", {"-update", "1"});
    ASSERT_NE(clock, 0u);
    // Covers the whole clock, frame included, so none of its ticks reaches the screen.
    const QRect clockRect = xRect(clock);
    ASSERT_FALSE(clockRect.isEmpty());
    const QRect ownRect = clockRect.adjusted(-5, -5, 5, 5) & QRect(0, 0, 1920, 1080);
    std::unique_ptr<ClientWindow> own = ownWindow(ownRect);
    own->map();
    ASSERT_TRUE(screenShows(ownRect));

    Collected collected;
    std::unique_ptr<CaptureStream> stream = watchDisplay(collected);
    ASSERT_TRUE(stream);
    ASSERT_TRUE(collected.waitBeyond(0));
    const QImage first = collected.latest()->image.copy();
    const int seen = collected.frameCount();
    pause(3500);
    // The clock ticks about once a second beneath the window.
    EXPECT_GE(collected.frameCount() - seen, 2);
    const QImage later = collected.latest()->image;
    EXPECT_EQ(pixelsOfColour(later, ownRect, MAGENTA), 0);
    EXPECT_FALSE(samePixels(later.copy(clockRect), first.copy(clockRect)));
}

TEST_F(X11CaptureTest, DisplayStreamShowsThePublishedWallpaperBeneathThisProcesssWindowOnTheBareDesktop)
{
    // A green wallpaper published the way desktop setters do, and the root showing it.
    const QRect ownRect(1700, 900, 80, 60);
    std::unique_ptr<ClientWindow> owned = ownWindow(ownRect);
    ClientWindow& own = *owned;
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(own.c)).data;
    const xcb_pixmap_t wallpaper = xcb_generate_id(own.c);
    xcb_create_pixmap(own.c, screen->root_depth, wallpaper, screen->root, 1920, 1080);
    const xcb_gcontext_t gc = xcb_generate_id(own.c);
    const quint32 green = 0x00C000;
    xcb_create_gc(own.c, gc, wallpaper, XCB_GC_FOREGROUND, &green);
    const xcb_rectangle_t all{0, 0, 1920, 1080};
    xcb_poly_fill_rectangle(own.c, wallpaper, gc, 1, &all);
    xcb_change_window_attributes(own.c, screen->root, XCB_CW_BACK_PIXMAP, &wallpaper);
    xcb_clear_area(own.c, 0, screen->root, 0, 0, 0, 0);
    xcb_change_property(
        own.c, XCB_PROP_MODE_REPLACE, screen->root, own.atom("_XROOTPMAP_ID"), XCB_ATOM_PIXMAP, 32, 1, &wallpaper);
    own.map();
    ASSERT_TRUE(screenShows(ownRect));

    Collected collected;
    std::unique_ptr<CaptureStream> stream = watchDisplay(collected);
    ASSERT_TRUE(stream);
    ASSERT_TRUE(collected.waitBeyond(0));
    EXPECT_EQ(pixelsOfColour(collected.latest()->image, ownRect, green), 80 * 60);
    stream.reset();
    xcb_free_gc(own.c, gc);
    xcb_free_pixmap(own.c, wallpaper);
}
