// Vistrale itself on a virtual desktop: the built program, a real X server, openbox,
// the trayer tray host and a session bus, driven with xdotool like a user would.
#include "tests/integration/vistrale_desktop_test.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <gtest/gtest.h>

using namespace vistrale::test;

namespace {

class VistraleOnDesktop : public VistraleDesktopTest {
protected:
    // The tray icon's window: a window named "Vistrale" inside one of the tray host's.
    std::optional<QRect> dockedIcon()
    {
        QString hosts;
        desktop.run("xdotool", {"search", "--class", "trayer"}, &hosts);
        static const QRegularExpression icon(
            R"("Vistrale": \("vistrale" "Vistrale"\)\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+))");
        for (const QString& host : hosts.split('\n', Qt::SkipEmptyParts)) {
            QString tree;
            if (desktop.run("xwininfo", {"-tree", "-id", host.trimmed()}, &tree) != 0)
                continue;
            const QRegularExpressionMatch match = icon.match(tree);
            if (match.hasMatch())
                return QRect(match.captured(3).toInt(), match.captured(4).toInt(), match.captured(1).toInt(),
                    match.captured(2).toInt());
        }
        return std::nullopt;
    }

    // Opens the tray menu with a right click on the icon and picks the n-th item.
    void chooseMenuItem(int position)
    {
        std::optional<QRect> icon;
        ASSERT_TRUE(waitUntil([&] { return (icon = dockedIcon()).has_value(); }, 10000));
        const QPoint centre = icon->center();
        desktop.run("xdotool", {"mousemove", QString::number(centre.x()), QString::number(centre.y())});
        desktop.run("xdotool", {"click", "3"});
        ASSERT_TRUE(waitUntil([&] { return menuIsOpen(); }, 5000)) << "the tray menu did not open";
        for (int i = 0; i < position; ++i)
            desktop.run("xdotool", {"key", "Down"});
        desktop.run("xdotool", {"key", "Return"});
    }

    // A menu is an override-redirect window of the application, taller than the icon.
    bool menuIsOpen()
    {
        QString out;
        desktop.run("xdotool", {"search", "--onlyvisible", "--class", "vistrale"}, &out);
        for (const QString& id : out.split('\n', Qt::SkipEmptyParts)) {
            QString info;
            desktop.run("xwininfo", {"-id", id.trimmed()}, &info);
            static const QRegularExpression height(R"(Height:\s+(\d+))");
            if (info.contains("Override Redirect State: yes") && height.match(info).captured(1).toInt() > 100)
                return true;
        }
        return false;
    }
};

QJsonObject alertFromLine(const QString& line)
{
    return QJsonDocument::fromJson(line.mid(QString("alert ").size()).toUtf8()).object();
}

} // namespace

TEST_F(VistraleOnDesktop, DocksInTheTrayAndShowsTheAboutTextsFromItsMenu)
{
    startWith({"already-shown=true"});
    ASSERT_TRUE(waitUntil([&] { return dockedIcon().has_value(); }, 10000)) << "the tray icon did not dock";

    chooseMenuItem(1);
    const std::optional<QString> line = app->waitForLine("alert ");
    ASSERT_TRUE(line.has_value()) << app->output().toStdString();
    const QJsonObject alert = alertFromLine(*line);
    EXPECT_EQ(alert["message"].toString(), "Vistrale version 0.1.0");
    EXPECT_EQ(alert["informative"].toString(),
        "Mouse over any window and press Super+F1 and it will appear in the preview window\n\n"
        "Pick «Vistrale» in your video app instead of your entire screen\n\n"
        "Record Vistrale with or without audio");
    EXPECT_EQ(alert["buttons"].toArray(), QJsonArray{"OK"});

    // The alert is a real window on the desktop, and Return answers it.
    QString found;
    EXPECT_TRUE(waitUntil(
        [&] {
            return desktop.run("xdotool", {"search", "--onlyvisible", "--name", "^Vistrale version 0.1.0$"}, &found)
                == 0;
        },
        5000));
    desktop.run("xdotool", {"key", "Return"});
    EXPECT_TRUE(waitUntil(
        [&] {
            return desktop.run("xdotool", {"search", "--onlyvisible", "--name", "^Vistrale version 0.1.0$"}, &found)
                != 0;
        },
        5000));
}

TEST_F(VistraleOnDesktop, WelcomesTheFirstLaunchOnceASecondAfterStartUp)
{
    startWith({});
    const std::optional<QString> line = app->waitForLine("alert ", 10000);
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(alertFromLine(*line)["message"].toString(), "Vistrale version 0.1.0");
    EXPECT_EQ(app->setting("already-shown"), QString("true"));
}

TEST_F(VistraleOnDesktop, OpensThePreviewAtTheTopRightBringsItBackWhereItWasAndWritesWhereItIsDragged)
{
    startWith({"already-shown=true"});
    const std::optional<quint32> preview = app->previewWindow();
    ASSERT_TRUE(preview.has_value());
    std::optional<QRect> before;
    ASSERT_TRUE(waitUntil([&] { return (before = app->windowGeometry(*preview)) && before->x() > 0; }, 5000));
    EXPECT_EQ(*before, QRect(1920 - 274 - 8, 8 + 25, 274, 154));

    // The red close button at the preview's top-left corner hides the window.
    desktop.run("xdotool", {"mousemove", QString::number(before->x() + 12), QString::number(before->y() + 12)});
    desktop.run("xdotool", {"click", "1"});
    ASSERT_TRUE(waitUntil([&] { return !app->isMapped(*preview); }, 5000)) << "the preview did not hide";

    chooseMenuItem(2); // "Show Vistrale"
    ASSERT_TRUE(waitUntil([&] { return app->isMapped(*preview); }, 5000)) << "the preview did not come back";
    EXPECT_TRUE(waitUntil([&] { return app->windowGeometry(*preview) == before; }, 3000));
    const std::optional<QString> shown = app->setting("preview-frame");

    const QPoint grab = before->center();
    desktop.run("xdotool", {"mousemove", QString::number(grab.x()), QString::number(grab.y())});
    desktop.run("xdotool", {"mousedown", "1"});
    for (int step = 1; step <= 10; ++step)
        desktop.run(
            "xdotool", {"mousemove", QString::number(grab.x() - 40 * step), QString::number(grab.y() + 30 * step)});
    desktop.run("xdotool", {"mouseup", "1"});

    std::optional<QString> stored;
    ASSERT_TRUE(
        waitUntil([&] { return (stored = app->setting("preview-frame")).has_value() && stored != shown; }, 5000))
        << "preview-frame was not written";
    const std::optional<QRect> after = app->windowGeometry(*preview);
    ASSERT_TRUE(after.has_value());
    EXPECT_NE(after->topLeft(), before->topLeft());
    // Bottom-left origin in the settings: y counts from the bottom of the 1080-point screen.
    EXPECT_EQ(*stored, QString("{{%1, %2}, {274, 154}}").arg(after->x()).arg(1080 - after->y() - after->height()));
}

TEST_F(VistraleOnDesktop, OutputPictureShowsTheBackdropAndTheTextOverlay)
{
    startWith({"already-shown=true", "overlay-text=Hello from Vistrale"});
    QImage picture;
    ASSERT_TRUE(waitUntil([&] { return !(picture = app->outputPicture()).isNull(); }, 10000));
    EXPECT_EQ(picture.size(), QSize(1920, 1080));

    // The bundled backdrop is a blue gradient: blue dominates away from the text.
    const QColor middle = picture.pixelColor(960, 400);
    EXPECT_GT(middle.blue(), middle.red() + 40);
    EXPECT_GT(middle.blue(), middle.green());

    // White text in the strip 9 points above the bottom edge, starting 9 points in.
    int white = 0;
    for (int y = 1080 - 9 - 60; y < 1080 - 9; ++y)
        for (int x = 9; x < 700; ++x) {
            const QColor c = picture.pixelColor(x, y);
            if (c.red() > 235 && c.green() > 235 && c.blue() > 235)
                ++white;
        }
    EXPECT_GT(white, 800);
    int whiteElsewhere = 0;
    for (int y = 100; y < 900; y += 7)
        for (int x = 0; x < 1920; x += 7)
            if (picture.pixelColor(x, y).red() > 235)
                ++whiteElsewhere;
    EXPECT_EQ(whiteElsewhere, 0);
}

TEST_F(VistraleOnDesktop, OffersOnlyOpenFileOnTheBusAndASecondStartHandsItsFileOver)
{
    // A normal run: no diagnostics folder named.
    app->setEnvironment("VISTRALE_DIAGNOSTICS_DIR", "");
    startWith({"already-shown=true"});
    auto call = [&](const QString& object, const QString& member, const QStringList& arguments = {}) {
        QString out;
        desktop.run("dbus-send",
            QStringList{"--session", "--print-reply", "--dest=com.quorvia.vistrale", object, member} + arguments, &out,
            3000);
        return out;
    };
    const QString root = call("/", "org.freedesktop.DBus.Introspectable.Introspect");
    EXPECT_TRUE(root.contains("<node name=\"Application\"/>")) << root.toStdString();
    EXPECT_FALSE(root.contains("Diagnostics")) << root.toStdString();
    const QString methods = call("/Application", "org.freedesktop.DBus.Introspectable.Introspect");
    const qsizetype at = methods.indexOf("com.quorvia.vistrale.Application");
    const QString ours = methods.mid(at, methods.indexOf("</interface>", at) - at);
    EXPECT_EQ(ours.count("<method "), 1) << methods.toStdString();
    EXPECT_TRUE(ours.contains("<method name=\"OpenFile\">")) << methods.toStdString();

    // Only existing regular files are opened; the refusal is one safe line.
    for (const QString& path : {QString("/etc"), QString("relative.pdf"), desktop.homeDir() + "/missing\nforged line"})
        EXPECT_TRUE(call("/Application", "com.quorvia.vistrale.Application.OpenFile", {"string:" + path})
                        .contains("boolean false"))
            << path.toStdString();
    EXPECT_TRUE(
        app->waitForLine("open file refused, not an existing file: " + desktop.homeDir() + "/missing?forged line")
            .has_value())
        << app->output().toStdString();
    EXPECT_FALSE(app->output().contains("\nforged line"));

    const QString file = desktop.homeDir() + "/slides.pdf";
    QFile(file).open(QIODevice::WriteOnly);
    QString out;
    EXPECT_EQ(app->runSecondStart({file}, &out), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("Vistrale is already running")) << out.toStdString();
    // The second start handed over before it loaded the desktop services.
    EXPECT_FALSE(out.contains("settings ")) << out.toStdString();
    EXPECT_TRUE(app->waitForLine("open file " + file, 5000).has_value()) << app->output().toStdString();
}

TEST_F(VistraleOnDesktop, PublishesTheMirrorStateOnTheSessionBusAndAnswersTheCamerasRequest)
{
    // A session-bus listener of its own, as the camera side would be.
    QProcess monitor;
    monitor.setProcessEnvironment(desktop.environment());
    monitor.start("dbus-monitor", {"--session", "type='signal',interface='com.quorvia.vistrale'"});
    ASSERT_TRUE(monitor.waitForStarted(5000));
    QThread::msleep(300);
    startWith({"already-shown=true", "mirror=true"});

    auto seen = [&](const QString& text) {
        return waitUntil(
            [&] {
                monitor.waitForReadyRead(50);
                return QString::fromUtf8(monitor.peek(1 << 20)).count(text) > 0;
            },
            5000);
    };
    ASSERT_TRUE(seen("string \"mirror=true\"")) << QString::fromUtf8(monitor.peek(1 << 20)).toStdString();
    EXPECT_TRUE(QString::fromUtf8(monitor.peek(1 << 20)).contains("member=app"));

    // The camera asks again; the application answers with the stored state.
    const QString before = QString::fromUtf8(monitor.peek(1 << 20));
    EXPECT_EQ(desktop.run("dbus-send",
                  {"--session", "--type=signal", "/com/quorvia/vistrale", "com.quorvia.vistrale.plugin",
                      "string:mirrorstatus"}),
        0);
    EXPECT_TRUE(app->waitForLine("notification message=mirrorstatus", 5000).has_value()) << app->output().toStdString();
    EXPECT_TRUE(waitUntil(
        [&] {
            monitor.waitForReadyRead(50);
            return QString::fromUtf8(monitor.peek(1 << 20)).count("string \"mirror=true\"")
                > before.count("string \"mirror=true\"");
        },
        5000));
    monitor.kill();
    monitor.waitForFinished(2000);
}
