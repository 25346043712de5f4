// Milliseconds per output frame drawn by the compositor, for the foundation scene
// (backdrop and text overlay) and for the same scene with three shared windows.

#include "platform/fake/fake_clock.h"
#include "preview/compositor.h"
#include "preview/scene.h"
#include "preview/text_picture.h"
#include "preview/view_tags.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QTextStream>
#include <algorithm>
#include <vector>

using namespace vistrale;

namespace {

constexpr int DRAWS = 200;

// A picture with some detail, so that scaling does real work.
QImage testPicture(QSize size, QColor base)
{
    QImage picture(size, QImage::Format_ARGB32_Premultiplied);
    picture.fill(base);
    QPainter painter(&picture);
    for (int y = 0; y < size.height(); y += 40)
        painter.fillRect(0, y, size.width(), 12, base.darker(130));
    painter.setPen(Qt::white);
    QFont font;
    font.setPixelSize(28);
    painter.setFont(font);
    for (int y = 30; y < size.height(); y += 40)
        painter.drawText(20, y, QStringLiteral("The quick brown fox jumps over the lazy dog %1").arg(y));
    return picture;
}

std::shared_ptr<SceneLayer> addLayer(SceneLayer& parent, int tag, const QRectF& frame, const QImage& picture)
{
    auto layer = std::make_shared<SceneLayer>();
    layer->setTag(tag);
    layer->setFrame(frame);
    layer->setContents(picture);
    parent.addChild(layer);
    return layer;
}

double medianMilliseconds(Compositor& compositor, const DrawList& list)
{
    QImage target(list.outputSize, QImage::Format_ARGB32_Premultiplied);
    compositor.draw(list, target); // fills the picture caches
    std::vector<double> times;
    times.reserve(DRAWS);
    QElapsedTimer timer;
    for (int i = 0; i < DRAWS; ++i) {
        timer.start();
        compositor.draw(list, target);
        times.push_back(timer.nsecsElapsed() / 1.0e6);
    }
    std::nth_element(times.begin(), times.begin() + DRAWS / 2, times.end());
    return times[DRAWS / 2];
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    FakeClock clock;
    Scene scene(clock, QSize(1920, 1080));
    Compositor compositor(clock);

    addLayer(scene.root(), DESKTOP_TAG, QRectF(0, 0, 1920, 1080), testPicture(QSize(1920, 1080), QColor(40, 80, 160)));
    addLayer(scene.root(), TEXT_OVERLAY_TAG, QRectF(9, 9, 1920, 60),
        renderTextPicture(QStringLiteral("Vistrale: sharing three windows"), QSize(1920, 60), 40, Qt::white,
            Qt::AlignLeft | Qt::AlignVCenter));
    const DrawListRef foundation = scene.snapshot();

    auto windows = addLayer(scene.root(), WINDOWS_TAG, QRectF(0, 0, 1920, 1080), QImage());
    const QColor tints[] = {QColor(200, 60, 60), QColor(60, 160, 80), QColor(90, 90, 200)};
    for (int i = 0; i < 3; ++i) {
        auto window = addLayer(
            *windows, 0, QRectF(60 + i * 480, 120 + i * 180, 900, 560), testPicture(QSize(1280, 800), tints[i]));
        window->setZPosition(MIN_WINDOW_TAG + i);
        window->setCornerRadius(10);
        window->setMasksToBounds(true);
        window->setBorderWidth(2);
        window->setBorderColor(QColor(255, 255, 255, 200));
    }
    const DrawListRef withWindows = scene.snapshot();

    // Shared windows as they arrive from capture streams: shown at their own size with
    // their stacking shadows, and a new picture for every frame.
    auto live = addLayer(scene.root(), WINDOWS_TAG, QRectF(0, 0, 1920, 1080), QImage());
    windows->setHidden(true);
    std::vector<std::shared_ptr<SceneLayer>> liveWindows;
    for (int i = 0; i < 3; ++i) {
        auto window = addLayer(*live, 0, QRectF(60 + i * 600, 200 + i * 120, 640, 400), QImage());
        window->setZPosition(MIN_WINDOW_TAG + i);
        window->setCornerRadius(15);
        window->setMasksToBounds(true);
        window->setShadow(LayerShadow{QColor(0, 0, 0, 85), QPointF(0, 0), i == 2 ? 8.0 : 2.0});
        liveWindows.push_back(window);
    }
    std::vector<double> liveSamples;
    QImage target(1920, 1080, QImage::Format_ARGB32_Premultiplied);
    for (int n = 0; n < DRAWS; ++n) {
        for (int i = 0; i < 3; ++i)
            liveWindows[i]->setContents(testPicture(QSize(640, 400), tints[(i + n) % 3]));
        const DrawListRef list = scene.snapshot();
        QElapsedTimer timer;
        timer.start();
        compositor.draw(*list, target);
        liveSamples.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(liveSamples.begin(), liveSamples.end());

    QTextStream out(stdout);
    out << QStringLiteral("compositor, foundation scene (backdrop, text overlay): %1 ms per frame "
                          "(median of %2)\n")
               .arg(medianMilliseconds(compositor, *foundation), 0, 'f', 2)
               .arg(DRAWS);
    out << QStringLiteral("compositor, with three 1280x800 windows at 900x560, rounded, bordered: "
                          "%1 ms per frame "
                          "(median of %2)\n")
               .arg(medianMilliseconds(compositor, *withWindows), 0, 'f', 2)
               .arg(DRAWS);
    out << QStringLiteral("compositor, three live 640x400 windows at their size with shadows, new pictures each "
                          "frame: %1 ms per frame (median of %2)\n")
               .arg(liveSamples[liveSamples.size() / 2], 0, 'f', 2)
               .arg(DRAWS);
    return 0;
}
