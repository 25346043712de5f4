#pragma once

#include "tests/support/vistrale_process.h"
#include "tests/support/wait_until.h"

#include <QImage>
#include <QRect>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace vistrale::test {

// The built application on a fresh virtual desktop per test, driven with xdotool as a user
// would, and its output picture read back over the session bus.
class VistraleDesktopTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(desktop.start(&error)) << error.toStdString();
        app = std::make_unique<VistraleProcess>(desktop);
    }
    void TearDown() override { app.reset(); }

    // Writes the settings and starts the application with these arguments.
    void startWith(const QStringList& settings, const QStringList& arguments = {})
    {
        app->writeSettings(settings);
        QString error;
        ASSERT_TRUE(app->start(&error, arguments)) << error.toStdString();
    }
    void xdotool(const QStringList& arguments) { desktop.run("xdotool", arguments); }
    void moveTo(QPoint point) { xdotool({"mousemove", QString::number(point.x()), QString::number(point.y())}); }
    void pressShortcutOver(QPoint point)
    {
        moveTo(point);
        xdotool({"key", "super+F1"});
    }

    // Share of the pixels in a rectangle of a picture (top-left origin), sampled every
    // `step` pixels, that pass `test`.
    static double share(const QImage& picture, const QRect& rect, const std::function<bool(QColor)>& test, int step = 2)
    {
        int hits = 0, all = 0;
        for (int y = rect.top(); y <= rect.bottom(); y += step)
            for (int x = rect.left(); x <= rect.right(); x += step) {
                ++all;
                hits += picture.rect().contains(x, y) && test(picture.pixelColor(x, y));
            }
        return all ? double(hits) / all : 0;
    }
    // Within `tolerance` of a colour in every channel.
    static std::function<bool(QColor)> near(QColor colour, int tolerance = 50)
    {
        return [=](QColor c) {
            return std::abs(c.red() - colour.red()) < tolerance && std::abs(c.green() - colour.green()) < tolerance
                && std::abs(c.blue() - colour.blue()) < tolerance;
        };
    }
    // Waits until the output picture passes `test`.
    bool outputBecomes(const std::function<bool(const QImage&)>& test, int timeoutMs = 8000)
    {
        return waitUntil(
            [&] {
                const QImage picture = app->outputPicture();
                return !picture.isNull() && test(picture);
            },
            timeoutMs);
    }
    // Waits until a window's inside (title bar and edges left out) shows mostly this
    // colour in the output, or, with !present, hardly at all.
    bool outputShows(const QRect& frame, QColor colour, bool present)
    {
        const QRect inside = frame.adjusted(10, 40, -10, -10);
        return outputBecomes([&](const QImage& picture) {
            const double seen = share(picture, inside, near(colour), 5);
            return present ? seen >= 0.5 : seen < 0.02;
        });
    }
    int sharedCount() { return app->statistics()["shared"].toInt(-1); }

    VirtualDesktop desktop;
    std::unique_ptr<VistraleProcess> app;
};

} // namespace vistrale::test
