// The webcam in the output through the fakes: placement, size steps, full size, the
// switch-on rule, persistence, failures and the avatar.
#include "app/settings/geometry_strings.h"
#include "app/settings/settings_keys.h"
#include "platform/fake/fake_services.h"
#include "platform/fake/fake_webcam.h"
#include "preview/view_tags.h"
#include "preview/window_drag_view.h"
#include "tests/preview/controller_harness.h"
#include "tests/support/test_files.h"
#include "webcam/webcam_overlay.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <gtest/gtest.h>

using namespace vistrale;
using namespace vistrale::test;

namespace {

const WebcamInfo FRONT{"front", "Front Camera"};
const WebcamInfo USB{"usb", "USB Camera"};

struct WebcamHarness : CaptureHarness {
    WebcamHarness()
        : CaptureHarness([&](FakePlatform& fake) {
            fake.webcams->addCamera(FRONT);
            fake.webcams->addCamera(USB);
        })
    {
    }
    WebcamOverlay& webcam() { return *vc->webcam(); }
    QRectF frame() { return webcam().view()->frame(); }
    // Lets animations end and posted work run.
    void settle() { fake.clock->advance(1.0); }
    FrameRef cameraFrame(QColor colour) { return makeFrame(QSize(1280, 720), colour); }
};

} // namespace

TEST(WebcamOverlay, SwitchedOnItShowsTheChosenCameraAtTheDefaultPlace)
{
    WebcamHarness h;
    EXPECT_TRUE(h.webcam().view()->isHidden());
    EXPECT_EQ(h.fake.webcams->starts(), 0) << "the webcam costs nothing while it is off";

    h.vc->camToggled();
    h.settle();
    EXPECT_FALSE(h.webcam().view()->isHidden());
    EXPECT_EQ(h.frame(), QRectF(951, 9, 960, 540));
    EXPECT_EQ(h.webcam().view()->tag(), WEBCAM_TAG);
    EXPECT_EQ(h.fake.webcams->running("front"), 1);
    ASSERT_EQ(h.webcam().cameraSources().size(), 3u);
    EXPECT_EQ(h.webcam().cameraSources()[0].id, AVATAR_CAMERA_ID);

    // Frames come scaled to the webcam's size, on the main thread.
    h.fake.webcams->pushFrame("front", h.cameraFrame(Qt::green));
    h.settle();
    EXPECT_EQ(h.webcam().pictureLayer()->contents().size(), QSize(960, 540));
    EXPECT_GT(QColor(h.webcam().pictureLayer()->contents().pixel(480, 270)).green(), 245);

    // The saved camera is used next time; switching off stops it.
    h.vc->pickCamera(402);
    EXPECT_EQ(h.fake.webcams->running("usb"), 1);
    EXPECT_EQ(h.settings->text(keys::CAMERA_ID), QString("usb"));
    h.vc->camToggled();
    EXPECT_EQ(h.fake.webcams->running("usb"), 0);
    EXPECT_TRUE(h.webcam().view()->isHidden());
}

TEST(WebcamOverlay, SizeStepsFullSizeAndBackToTheSamePlace)
{
    WebcamHarness h;
    h.vc->camToggled();
    h.settle();
    h.vc->webcamClicked(false); // 0 -> 1: keeps its centre
    EXPECT_EQ(h.frame().size(), QSizeF(640, 360));
    EXPECT_EQ(h.frame().center(), QRectF(951, 9, 960, 540).center());
    const QRectF before = h.frame();

    h.vc->toggleFullscreenWebcam();
    h.settle();
    EXPECT_EQ(h.frame(), QRectF(0, 0, 1920, 1080));
    EXPECT_EQ(h.webcam().view()->tag(), WEBCAM_TAG_BEHIND);
    EXPECT_EQ(h.webcam().pictureLayer()->borderWidth(), 0.0);
    // At full size a click in the output goes to the windows, not the webcam.
    EXPECT_FALSE(h.vc->clickInPreview(false, false, QPointF(960, 540)));

    h.vc->toggleFullscreenWebcam();
    h.settle();
    EXPECT_EQ(h.frame(), before);
    EXPECT_EQ(h.webcam().cameraSize, 1.0);
    EXPECT_EQ(h.webcam().view()->tag(), WEBCAM_TAG);

    // Clicks step 1 -> 2 -> full size; the wheel and keys step by 0.2.
    EXPECT_TRUE(h.vc->clickInPreview(false, false, h.frame().center()));
    EXPECT_EQ(h.webcam().cameraSize, 2.0);
    h.vc->stepCameraSize(true);
    EXPECT_NEAR(h.webcam().cameraSize, 1.8, 1e-9);
    h.vc->changeCameraSize(0);
    EXPECT_EQ(h.webcam().cameraSize, 2.0);
    EXPECT_TRUE(h.vc->clickInPreview(false, false, h.frame().center()));
    EXPECT_EQ(h.webcam().cameraSize, FULL_SIZE);
}

TEST(WebcamOverlay, TouchingASettingSwitchesItOnButColourAndMirrorDoNot)
{
    const std::vector<std::pair<const char*, std::function<void(VistraleViewController&)>>> switching = {
        {"shape", [](VistraleViewController& vc) { vc.setCameraShape(2); }},
        {"size", [](VistraleViewController& vc) { vc.changeCameraSize(0); }},
        {"border", [](VistraleViewController& vc) { vc.borderSliderChanged(4); }},
        {"radius", [](VistraleViewController& vc) { vc.radiusSliderChanged(30); }},
        {"full size", [](VistraleViewController& vc) { vc.toggleFullscreenWebcam(); }},
    };
    for (const auto& [name, touch] : switching) {
        WebcamHarness h;
        touch(*h.vc);
        EXPECT_TRUE(h.settings->boolValue(keys::CAMERA)) << name;
        EXPECT_FALSE(h.webcam().view()->isHidden()) << name;
    }
    WebcamHarness h;
    h.vc->changeColor(Qt::red);
    h.vc->toggleWebcamMirror();
    EXPECT_FALSE(h.settings->boolValue(keys::CAMERA));
    EXPECT_TRUE(h.settings->boolValue(keys::MIRROR_WEBCAM));
    EXPECT_EQ(h.webcam().pictureLayer()->borderColor(), QColor(Qt::red));
}

TEST(WebcamOverlay, ShapeSizeAndPlacePersistAcrossStarts)
{
    WebcamHarness h;
    h.vc->camToggled();
    h.vc->setCameraShape(static_cast<int>(CameraShape::round));
    h.vc->webcamClicked(false);
    h.vc->borderSliderChanged(6);
    h.settle();
    EXPECT_EQ(h.webcam().pictureLayer()->mask(), LayerMask::Ellipse);
    EXPECT_EQ(h.webcam().pictureLayer()->maskRect(), QRectF(140.0 / 640, 0, 360.0 / 640, 1));
    const QRectF place = h.frame();

    // The next start on the same store.
    h.vc.reset();
    h.vc = std::make_unique<VistraleViewController>(h.platform, *h.settings, nullptr);
    h.vc->view();
    EXPECT_EQ(h.webcam().webcamShape, CameraShape::round);
    EXPECT_EQ(h.webcam().cameraSize, 1.0);
    EXPECT_EQ(h.frame(), place);
    EXPECT_EQ(h.webcam().cameraBorderWidth, 6.0f);
    EXPECT_EQ(h.fake.webcams->running("front"), 1);
}

TEST(WebcamOverlay, DraggedInThePreviewItFollowsThePointerStaysHalfOnTheOutputAndKeepsItsPlace)
{
    WebcamHarness h;
    h.vc->camToggled();
    h.settle();
    QWidget* preview = h.vc->preview();
    const QSizeF scale(preview->width() / 1920.0, preview->height() / 1080.0);
    // Output points (bottom-left origin) as points of the preview (top-left origin).
    const auto at = [&](QPointF output) {
        return QPointF(output.x() * scale.width(), preview->height() - output.y() * scale.height());
    };
    const auto mouse = [&](QEvent::Type type, QPointF output, Qt::MouseButtons buttons) {
        const QPointF local = at(output);
        QMouseEvent event(type, local, preview->mapToGlobal(local), Qt::LeftButton, buttons, Qt::NoModifier);
        QCoreApplication::sendEvent(preview, &event);
    };
    const auto drag = [&](QPointF from, QPointF to) {
        mouse(QEvent::MouseButtonPress, from, Qt::LeftButton);
        mouse(QEvent::MouseMove, (from + to) / 2, Qt::LeftButton);
        mouse(QEvent::MouseMove, to, Qt::LeftButton);
        mouse(QEvent::MouseButtonRelease, to, Qt::NoButton);
    };
    const QRectF start = h.frame();
    // The pointer shows what a drag would do.
    const auto shapeOver = [&](QPointF output) {
        mouse(QEvent::MouseMove, output, Qt::NoButton);
        return preview->cursor().shape();
    };
    EXPECT_EQ(shapeOver(start.center()), Qt::OpenHandCursor);
    EXPECT_EQ(shapeOver(QPointF(start.right() - 5, start.center().y())), Qt::SizeHorCursor);
    // Its top right corner (output y grows upwards).
    EXPECT_EQ(shapeOver(QPointF(start.right() - 5, start.bottom() - 5)), Qt::SizeBDiagCursor);
    EXPECT_EQ(shapeOver(QPointF(100, 100)), Qt::ArrowCursor);

    drag(start.center(), start.center() - QPointF(600, -200));
    EXPECT_NEAR(h.frame().x(), start.x() - 600, 2.0);
    EXPECT_NEAR(h.frame().y(), start.y() + 200, 2.0);
    EXPECT_EQ(h.frame().size(), start.size()) << "a drag is no click: the size stays";

    // Far beyond the corner: half of it stays on the output.
    drag(h.frame().center(), QPointF(1900, 1070) + QPointF(2000, 2000));
    EXPECT_EQ(h.frame().topLeft(), QPointF(1920 - start.width() / 2, 1080 - start.height() / 2));
    EXPECT_EQ(h.settings->text(keys::CAMERA_OFFSET), pointString(h.frame().topLeft()));

    // A drag that starts beside the webcam leaves it alone.
    const QRectF placed = h.frame();
    drag(QPointF(100, 100), QPointF(300, 300));
    EXPECT_EQ(h.frame(), placed);

    // One that starts on its edge resizes it around its centre, in the wheel's steps.
    drag(start.center(), QPointF(960, 540));
    const QPointF centre = h.frame().center();
    const auto edge = [&] { return QPointF(h.frame().right() - 5, centre.y()); };
    drag(edge(), centre + (edge() - centre) * (2.0 / 3));
    EXPECT_NEAR(h.frame().height(), 1080 / 3.0, 1.0) << "ratio 2 × 3/2 = 3";
    EXPECT_NEAR(h.frame().center().x(), centre.x(), 1.0);
    EXPECT_NEAR(h.frame().center().y(), centre.y(), 1.0);
    EXPECT_EQ(h.settings->doubleValue(keys::CAMERA_SIZE), 1.0);
    drag(edge(), centre + (edge() - centre) * 3.0);
    EXPECT_NEAR(h.frame().height(), 1080 / 2.0, 1.0) << "grown to the largest step, never full size";
    drag(edge(), centre + QPointF(1, 0));
    EXPECT_NEAR(h.frame().height(), 1080 / 4.0, 1.0) << "shrunk to the smallest step, never away";
}

TEST(WebcamOverlay, ARefusedCameraShowsThePermissionPictureAndAClickExplains)
{
    WebcamHarness h;
    h.fake.webcams->failNextStart("front", WebcamFailure::Denied);
    h.vc->camToggled();
    h.settle();
    EXPECT_TRUE(h.webcam().isCameraDenied);
    EXPECT_FALSE(h.webcam().pictureLayer()->contents().isNull());
    h.fake.dialogs->answers.push_back(true);
    const double size = h.webcam().cameraSize;
    EXPECT_TRUE(h.vc->clickInPreview(false, false, h.frame().center()));
    ASSERT_FALSE(h.fake.dialogs->shown.empty());
    EXPECT_EQ(h.fake.dialogs->shown.back().informative, "Vistrale needs your permission to access your camera");
    EXPECT_EQ(h.webcam().cameraSize, size);
    ASSERT_FALSE(h.fake.systemActions->settingsPages.empty());
    EXPECT_TRUE(h.fake.systemActions->settingsPages.back().endsWith("Privacy_Camera"));

    // A camera unplugged while it shows leaves our own picture, not a frozen frame.
    WebcamHarness other;
    other.vc->camToggled();
    other.fake.webcams->pushFrame("front", other.cameraFrame(Qt::green));
    other.settle();
    other.fake.webcams->removeCamera("front");
    other.settle();
    const QImage shown = other.webcam().pictureLayer()->contents();
    ASSERT_FALSE(shown.isNull());
    EXPECT_LT(QColor(shown.pixel(5, 5)).green(), 200);
    EXPECT_EQ(other.webcam().cameraSources().size(), 2u) << "the list follows the unplugged camera";
}

TEST(WebcamOverlay, APictureBecomesTheAvatarAndOtherFilesAreRefused)
{
    WebcamHarness h;
    const QString notAPicture = h.dir.filePath("notes.png");
    ASSERT_TRUE(writeFile(notAPicture, "plain text, not a picture"));
    EXPECT_FALSE(h.vc->setAvatarImage(notAPicture));
    h.settle();
    ASSERT_FALSE(h.fake.dialogs->shown.empty());
    EXPECT_EQ(h.fake.dialogs->shown.back().informative, "Only images are supported for avatars");
    EXPECT_FALSE(h.settings->contains(keys::CAMERA_ID));

    const QString picture = h.dir.filePath("me.png");
    QImage red(64, 48, QImage::Format_RGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(picture));
    // Dropped onto the visible webcam, a picture becomes the avatar.
    h.vc->camToggled();
    h.vc->droppedFile(picture, h.frame().center());
    h.settle();
    EXPECT_EQ(h.settings->text(keys::CAMERA_ID), QString(AVATAR_CAMERA_ID));
    EXPECT_TRUE(h.settings->boolValue(keys::CAMERA));
    EXPECT_EQ(h.fake.webcams->running("front"), 0);
    EXPECT_EQ(QColor(h.webcam().pictureLayer()->contents().pixel(10, 10)), QColor(Qt::red));
}
