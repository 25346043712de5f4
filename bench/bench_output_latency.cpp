// Latency from a shared window's repaint to the first output frame that shows it, for
// 1 and 3 shared windows, in capture mode with the real shortcut.
//
// The benchmark is an X client of its own: it paints each of its windows a new solid
// colour at known times on the monotonic clock (the clock Vistrale stamps its output
// frames with) and waits for the server to have done it. Each colour encodes the
// change's number. Vistrale runs with VISTRALE_TRACE_OUTPUT_PIXELS set to the windows'
// centres, so every output frame logs its host time and the colour there; a change's
// latency is the time from its paint request to the first output frame that shows it
// or a later change of the same window. Two paces: every window repainting 30 times a
// second (continuously, like a video) and a few times a second at random moments.
#include "tests/support/vistrale_process.h"
#include "tests/support/wait_until.h"

#include <QApplication>
#include <QJsonObject>
#include <QRandomGenerator>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <thread>
#include <vector>
#include <xcb/xcb.h>
#include <xcb/xcb_icccm.h>

using namespace vistrale::test;

namespace {

constexpr int CODES = 512;
constexpr int TOLERANCE = 10;

void pause(int milliseconds)
{
    waitUntil([] { return false; }, milliseconds);
}

// Seconds on the monotonic clock, as Vistrale's Clock::now() reads it.
double now()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Change number to colour: 8 levels in each of red, green and blue.
quint32 colourOf(int change)
{
    const int code = change % CODES;
    const quint32 r = (code % 8) * 32 + 16, g = ((code / 8) % 8) * 32 + 16, b = (code / 64) * 32 + 16;
    return (r << 16) | (g << 8) | b;
}

// Colour back to the change number modulo CODES; -1 for a colour that is no code.
int codeOf(quint32 rgb)
{
    int levels[3];
    for (int i = 0; i < 3; ++i) {
        const int value = static_cast<int>((rgb >> (16 - 8 * i)) & 0xff);
        const int level = value / 32;
        if (std::abs(value - (level * 32 + 16)) > TOLERANCE)
            return -1;
        levels[i] = level;
    }
    return levels[0] + levels[1] * 8 + levels[2] * 64;
}

struct Change {
    int number;
    double sent;
    double done;
};

// The benchmark's own windows on the virtual desktop and their paints.
class Painter {
public:
    ~Painter()
    {
        if (c)
            xcb_disconnect(c);
    }

    bool open(const QString& display)
    {
        c = xcb_connect(display.toLocal8Bit().constData(), nullptr);
        if (xcb_connection_has_error(c))
            return false;
        screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        return true;
    }

    // A managed window with this title at this place, painted with change 0.
    void create(const QString& title, const QRect& geometry)
    {
        const xcb_window_t window = xcb_generate_id(c);
        const quint32 values[] = {colourOf(0), XCB_EVENT_MASK_EXPOSURE};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, static_cast<qint16>(geometry.x()),
            static_cast<qint16>(geometry.y()), static_cast<quint16>(geometry.width()),
            static_cast<quint16>(geometry.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
            XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
        const QByteArray name = title.toUtf8();
        xcb_icccm_set_wm_name(c, window, XCB_ATOM_STRING, 8, static_cast<quint32>(name.size()), name.constData());
        static const char windowClass[] = "latency\0Latency";
        xcb_icccm_set_wm_class(c, window, sizeof windowClass, windowClass);
        xcb_size_hints_t hints{};
        xcb_icccm_size_hints_set_position(&hints, 1, geometry.x(), geometry.y());
        xcb_icccm_size_hints_set_size(&hints, 1, geometry.width(), geometry.height());
        xcb_icccm_set_wm_normal_hints(c, window, &hints);
        xcb_map_window(c, window);
        const quint32 gcValues[] = {colourOf(0)};
        const xcb_gcontext_t gc = xcb_generate_id(c);
        xcb_create_gc(c, gc, window, XCB_GC_FOREGROUND, gcValues);
        xcb_flush(c);
        windows.push_back(Window{window, gc, geometry.size(), {}});
    }

    // The window's client area in root coordinates (top-left origin), once managed.
    std::optional<QRect> placeOf(std::size_t index)
    {
        const Window& window = windows[index];
        xcb_translate_coordinates_reply_t* reply
            = xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, window.id, screen->root, 0, 0), nullptr);
        if (!reply)
            return std::nullopt;
        const QRect place(reply->dst_x, reply->dst_y, window.size.width(), window.size.height());
        free(reply);
        return place;
    }

    // Paints every window `changes` times: each window every `period` seconds, the
    // windows evenly out of step, each moment moved by up to ±`jitter` seconds.
    void run(double period, double jitter, int changes)
    {
        struct Due {
            double at;
            std::size_t window;
            int number;
        };
        std::vector<Due> schedule;
        const double start = now() + 0.05;
        for (std::size_t w = 0; w < windows.size(); ++w)
            for (int k = 1; k <= changes; ++k) {
                const double offset = jitter > 0 ? QRandomGenerator::global()->bounded(2 * jitter) - jitter : 0;
                schedule.push_back(Due{start + (k + double(w) / windows.size()) * period + offset, w, k});
            }
        std::sort(schedule.begin(), schedule.end(), [](const Due& a, const Due& b) { return a.at < b.at; });
        // Per window the numbers must rise with time, whatever the jitter did.
        std::vector<int> next(windows.size(), 1);
        for (Due& due : schedule)
            due.number = next[due.window]++;
        for (const Due& due : schedule) {
            const double wait = due.at - now();
            if (wait > 0)
                std::this_thread::sleep_for(std::chrono::duration<double>(wait));
            paint(due.window, due.number);
            while (xcb_generic_event_t* event = xcb_poll_for_event(c))
                free(event);
        }
    }

    std::size_t count() const { return windows.size(); }
    const std::vector<Change>& changesOf(std::size_t index) const { return windows[index].changes; }

private:
    struct Window {
        xcb_window_t id;
        xcb_gcontext_t gc;
        QSize size;
        std::vector<Change> changes;
    };

    void paint(std::size_t index, int number)
    {
        Window& window = windows[index];
        const quint32 colour[] = {colourOf(number)};
        const xcb_rectangle_t all
            = {0, 0, static_cast<quint16>(window.size.width()), static_cast<quint16>(window.size.height())};
        const double sent = now();
        xcb_change_gc(c, window.gc, XCB_GC_FOREGROUND, colour);
        xcb_poly_fill_rectangle(c, window.id, window.gc, 1, &all);
        // A round trip: the server has painted once it answers.
        free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        window.changes.push_back(Change{number, sent, now()});
    }

    xcb_connection_t* c = nullptr;
    xcb_screen_t* screen = nullptr;
    std::vector<Window> windows;
};

struct TracedFrame {
    double time;
    std::vector<int> codes;
};

std::vector<TracedFrame> tracedFrames(const QString& output, std::size_t points)
{
    std::vector<TracedFrame> frames;
    for (const QString& line : output.split('\n')) {
        if (!line.startsWith("output frame "))
            continue;
        const QStringList parts = line.split(' ', Qt::SkipEmptyParts);
        if (parts.size() != static_cast<int>(points) + 3)
            continue;
        TracedFrame frame{parts[2].toDouble(), {}};
        for (std::size_t i = 0; i < points; ++i) {
            const QString value = parts[static_cast<int>(i) + 3].section('=', 1);
            bool ok = false;
            const quint32 rgb = value.startsWith('#') ? value.mid(1).toUInt(&ok, 16) : 0;
            frame.codes.push_back(ok ? codeOf(rgb) : -1);
        }
        frames.push_back(std::move(frame));
    }
    std::sort(frames.begin(), frames.end(), [](const auto& a, const auto& b) { return a.time < b.time; });
    return frames;
}

struct Result {
    std::vector<double> latencies;
    int shownThemselves = 0;
    int neverShown = 0;
    std::vector<double> roundTrips;
};

// For one window: which change each frame shows (the latest change of that code sent
// before the frame), then for each change the first frame showing it or a later one.
void matchWindow(
    const std::vector<Change>& changes, const std::vector<TracedFrame>& frames, std::size_t point, Result& result)
{
    std::vector<int> shown(frames.size(), -1);
    for (std::size_t f = 0; f < frames.size(); ++f) {
        const int code = frames[f].codes[point];
        if (code < 0)
            continue;
        const auto after = std::upper_bound(changes.begin(), changes.end(), frames[f].time,
            [](double time, const Change& change) { return time < change.sent; });
        const int latest = after == changes.begin() ? 0 : std::prev(after)->number;
        const int number = latest - (((latest - code) % CODES) + CODES) % CODES;
        shown[f] = number;
    }
    const double lastFrame = frames.empty() ? 0 : frames.back().time;
    for (const Change& change : changes) {
        result.roundTrips.push_back((change.done - change.sent) * 1000);
        // Changes at the very end may have had no chance to be drawn.
        if (change.sent > lastFrame - 0.3)
            continue;
        bool found = false;
        for (std::size_t f = 0; f < frames.size(); ++f) {
            if (frames[f].time < change.sent || shown[f] < change.number)
                continue;
            result.latencies.push_back((frames[f].time - change.sent) * 1000);
            result.shownThemselves += shown[f] == change.number;
            found = true;
            break;
        }
        result.neverShown += !found;
    }
}

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(fraction * values.size()))];
}

// One run on a fresh desktop; false, with a message, when the set-up fails.
bool measure(int windows, double period, double jitter, double seconds, const char* pace)
{
    VirtualDesktop desktop;
    QString error;
    if (!desktop.start(&error)) {
        std::fprintf(stderr, "bench_output_latency: %s\n", qPrintable(error));
        return false;
    }
    Painter painter;
    if (!painter.open(desktop.display())) {
        std::fprintf(stderr, "bench_output_latency: cannot open %s\n", qPrintable(desktop.display()));
        return false;
    }
    // Apart from each other and from the preview at the top right.
    std::vector<QRect> places;
    for (int i = 0; i < windows; ++i) {
        const QString title = QString("latency-%1").arg(i);
        painter.create(title, QRect(40 + i * 640, 400, 400, 300));
        if (!desktop.waitForWindow(title)) {
            std::fprintf(stderr, "bench_output_latency: no %s window\n", qPrintable(title));
            return false;
        }
    }
    pause(500);
    QStringList points;
    for (std::size_t i = 0; i < painter.count(); ++i) {
        const std::optional<QRect> place = painter.placeOf(i);
        if (!place)
            return false;
        places.push_back(*place);
        points << QString("%1,%2").arg(place->center().x()).arg(place->center().y());
    }

    VistraleProcess app(desktop);
    app.writeSettings({"already-shown=true", "soundoff=true", "image-mode=false"});
    qputenv("VISTRALE_TRACE_OUTPUT_PIXELS", points.join(';').toUtf8());
    const bool started = app.start(&error);
    qunsetenv("VISTRALE_TRACE_OUTPUT_PIXELS");
    if (!started) {
        std::fprintf(stderr, "bench_output_latency: %s\n", qPrintable(error));
        return false;
    }
    for (const QRect& place : places) {
        desktop.run("xdotool", {"mousemove", QString::number(place.center().x()), QString::number(place.center().y())});
        desktop.run("xdotool", {"key", "super+F1"});
        pause(800);
    }
    desktop.run("xdotool", {"mousemove", "5", "1075"});
    pause(1500);
    const int shared = app.statistics()["shared"].toInt(-1);
    if (shared != windows) {
        std::fprintf(stderr, "bench_output_latency: %d of %d windows shared\n", shared, windows);
        return false;
    }
    // Before measuring: the output must show each window's colour at its traced point.
    const QImage picture = app.outputPicture();
    for (const QRect& place : places)
        if (picture.isNull() || codeOf(picture.pixel(place.center()) & 0xffffff) != 0) {
            std::fprintf(stderr, "bench_output_latency: the output does not show the window at %d,%d\n",
                place.center().x(), place.center().y());
            return false;
        }

    const int changes = static_cast<int>(seconds / period);
    painter.run(period, jitter, changes);
    pause(500);

    const std::vector<TracedFrame> frames = tracedFrames(app.output(), places.size());
    Result result;
    for (std::size_t i = 0; i < places.size(); ++i)
        matchWindow(painter.changesOf(i), frames, i, result);
    const int counted = static_cast<int>(result.latencies.size());
    // The output's pace while the windows repaint, from the first change to the last.
    double first = 1e300, last = -1e300;
    for (std::size_t i = 0; i < places.size(); ++i)
        for (const Change& change : painter.changesOf(i)) {
            first = std::min(first, change.sent);
            last = std::max(last, change.sent);
        }
    const auto during = std::count_if(frames.begin(), frames.end(),
        [&](const TracedFrame& frame) { return frame.time >= first && frame.time <= last; });
    const double outputRate = last > first ? during / (last - first) : 0;
    std::printf("%d window(s), each repainting %s: latency median %.1f ms, 90th percentile %.1f ms (%d changes, "
                "%.0f %% shown themselves, %d never shown; paint round trip %.2f ms median; %.1f output frames/s)\n",
        windows, pace, percentile(result.latencies, 0.5), percentile(result.latencies, 0.9), counted,
        counted ? 100.0 * result.shownThemselves / counted : 0.0, result.neverShown, percentile(result.roundTrips, 0.5),
        outputRate);
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const double seconds = 10;
    bool ok = true;
    for (int windows : {1, 3}) {
        ok = measure(windows, 1.0 / 30, 0, seconds, "30 times a second") && ok;
        ok = measure(windows, 0.25, 0.1, seconds, "about 4 times a second at random moments") && ok;
    }
    return ok ? 0 : 1;
}
