#include "app/preview_window.h"
#include "app/recording_display.h"
#include "app/settings/settings_keys.h"
#include "overlays/highlight_window_controller.h"
#include "platform/notification_center.h"
#include "recording/recording_controller.h"
#include "tests/app/app_harness.h"
#include "tests/preview/controller_harness.h"

#include <QMenu>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace vistrale;
using vistrale::test::AppHarness;

// "Start Recording..." through the menu, the tray icon and the preview while recording,
// a click on the icon that stops, "Saving..." and the normal icon again.
TEST(RecordingDisplay, TheTrayIconAndThePreviewShowTheRecordingAndAClickStopsIt)
{
    QTemporaryDir cache;
    qputenv("XDG_CACHE_HOME", cache.path().toUtf8());
    AppHarness app;
    app.settings->setBool(keys::ALREADY_SHOWN, true);
    app.launch();
    app.fake.audio->inputName = "Headset";
    RecordingDisplay& display = *app.delegate->recordingDisplay();
    QSystemTrayIcon& tray = *app.delegate->statusItem();

    // Nothing shared: "Warning" (Yes), then "Recording Options" ("Audio").
    app.fake.dialogs->answers = {true};
    app.fake.dialogs->choices = {0};
    app.item(RECORD_TAG)->trigger();
    ASSERT_TRUE(app.delegate->vc()->recording());
    EXPECT_EQ(app.fake.dialogs->shown[0].message, "Warning");
    EXPECT_TRUE(app.delegate->isRecording);
    EXPECT_EQ(display.look(), RecordingDisplay::Look::Recording);
    EXPECT_EQ(tray.toolTip(), "■ 00:00 (mic)");
    EXPECT_EQ(tray.contextMenu(), nullptr);
    app.fake.clock->advance(2);
    EXPECT_EQ(tray.toolTip(), "■ 00:02 (mic)");
    EXPECT_EQ(app.delegate->window()->statusText(), "■ 00:02 (mic)");

    // A click on the icon stops: no question, the menu back, "Saving...".
    const std::size_t asked = app.fake.dialogs->shown.size();
    emit tray.activated(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(app.delegate->vc()->recording());
    EXPECT_EQ(app.fake.dialogs->shown.size(), asked);
    EXPECT_EQ(display.look(), RecordingDisplay::Look::Saving);
    EXPECT_EQ(tray.toolTip(), "Saving...");
    EXPECT_EQ(tray.contextMenu(), app.delegate->mainMenu());

    // Once both files are complete and merged: the normal icon, then the save panel
    // (cancelled and discarded here).
    app.fake.media->writers.back()->complete(true);
    app.fake.media->microphones.back()->finished(true);
    app.fake.clock->runPending();
    app.delegate->vc()->recorder()->videoRecorder().waitForMerges();
    app.fake.clock->runPending();
    EXPECT_EQ(display.look(), RecordingDisplay::Look::Normal);
    EXPECT_EQ(tray.toolTip(), "Vistrale");
    EXPECT_EQ(app.delegate->window()->statusText(), "");
    EXPECT_EQ(app.fake.dialogs->savePanels.size(), 1u);
    EXPECT_EQ(app.fake.dialogs->shown.back().message, "Are you sure?");
    qunsetenv("XDG_CACHE_HOME");
}

// A shared window's border is red while recording, and so is the border of a window
// shared during the recording; with a window shared, no "Warning" is asked.
TEST(RecordingDisplay, SharedWindowsBordersAreRedWhileRecording)
{
    QTemporaryDir cache;
    qputenv("XDG_CACHE_HOME", cache.path().toUtf8());
    AppHarness app;
    app.settings->setBool(keys::ALREADY_SHOWN, true);
    app.launch();
    VistraleViewController& vc = *app.delegate->vc();
    auto share = [&](qint64 number, QRectF frame) {
        app.fake.windowServer->windows.append(test::makeWindow(number, frame));
        app.fake.pointerKeys->location = frame.center();
        NotificationCenter::defaultCenter().post("keyboard", {{"label", "keyboard"}});
        app.fake.clock->advance(0.5);
    };
    share(test::WINDOW, QRectF(100, 100, 400, 300));
    ASSERT_TRUE(vc.highlightView(test::WINDOW));

    app.fake.dialogs->choices = {1};
    app.item(RECORD_TAG)->trigger();
    ASSERT_TRUE(vc.recording());
    EXPECT_EQ(app.fake.dialogs->shown.size(), 1u) << "only Recording Options";
    EXPECT_TRUE(vc.highlightView(test::WINDOW)->isRecording);
    share(test::WINDOW + 1, QRectF(700, 300, 400, 300));
    ASSERT_TRUE(vc.highlightView(test::WINDOW + 1));
    EXPECT_TRUE(vc.highlightView(test::WINDOW + 1)->isRecording);

    app.item(RECORD_TAG)->trigger();
    EXPECT_FALSE(vc.recording());
    EXPECT_FALSE(vc.highlightView(test::WINDOW)->isRecording);
    EXPECT_FALSE(vc.highlightView(test::WINDOW + 1)->isRecording);
    qunsetenv("XDG_CACHE_HOME");
}
