#include "app/settings/settings_keys.h"
#include "preview/window_drag_view.h"
#include "tests/preview/controller_harness.h"
#include "tests/support/test_files.h"
#include "tests/support/wait_until.h"
#include "webcam/backdrops.h"
#include "webcam/documents_directory.h"
#include "webcam/video_player_looped.h"

#include <QBuffer>
#include <QDir>
#include <QDragEnterEvent>
#include <QFile>
#include <QMimeData>
#include <QUrl>
#include <gtest/gtest.h>

using namespace vistrale;
using namespace vistrale::test;

namespace {

// A controller on the fakes whose data folder lies in a temporary folder.
class BackdropsTest : public ::testing::Test {
protected:
    BackdropsTest()
        : previousDataHome(qgetenv("XDG_DATA_HOME"))
    {
        qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
        h = std::make_unique<CaptureHarness>();
        folder = documentsDirectory();
        h->vc->backdrops()->setDocumentHandler([this](const QString& path) { documents << path; });
    }
    ~BackdropsTest() override { qputenv("XDG_DATA_HOME", previousDataHome); }

    QString write(const QString& name, const QByteArray& content)
    {
        EXPECT_TRUE(writeFile(source.filePath(name), content));
        return source.filePath(name);
    }
    QString writePicture(const QString& name, QColor colour)
    {
        QImage picture(64, 36, QImage::Format_RGB32);
        picture.fill(colour);
        const QString path = source.filePath(name);
        EXPECT_TRUE(picture.save(path, "PNG"));
        return path;
    }
    QRgb backdropPixel() const { return h->vc->desktopView->contents().pixel(10, 10); }
    std::optional<QString> stored() const { return h->settings->text(keys::BACKGROUND); }
    // Lets the deferred choice and the first video picture arrive.
    void settle()
    {
        waitUntil([] { return false; }, 100);
    }
    void restart()
    {
        h->vc.reset();
        h->vc = std::make_unique<VistraleViewController>(h->platform, *h->settings, nullptr);
        h->vc->view();
    }

    QTemporaryDir dataHome;
    QTemporaryDir source;
    std::unique_ptr<CaptureHarness> h;
    QString folder;
    QByteArray previousDataHome;
    QStringList documents;
};

} // namespace

TEST_F(BackdropsTest, DroppedFilesGoWhereTheirExtensionSays)
{
    struct Case {
        QString name;
        QByteArray content;
        bool document;
        QString copy; // the file it becomes in the data folder
        bool video;
    };
    const QByteArray video = "fake-video\n#ff0000\n#00ff00\n";
    const std::vector<Case> cases{
        {"Slides.PDF", "%PDF-1.4", true, {}, false},
        {"notes.Docx", "text", true, {}, false},
        {"clip.mov", video, false, "background.mov", true},
        {"clip.MP4", video, false, "background.mp4", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        documents.clear();
        const std::optional<QString> before = stored();
        h->vc->droppedFile(write(c.name, c.content), QPointF(100, 100));
        settle();
        if (c.document) {
            EXPECT_EQ(documents, QStringList{source.filePath(c.name)});
            EXPECT_EQ(stored(), before);
            continue;
        }
        const QString copy = QDir(folder).filePath(c.copy);
        EXPECT_TRUE(QFile::exists(copy));
        EXPECT_EQ(stored(), QUrl::fromLocalFile(copy).toString());
        EXPECT_EQ(h->fake.videoFiles->opened.last(), copy);
        EXPECT_TRUE(waitUntil([&] { return !h->vc->videoDesktopView->isHidden(); }, 2000));
        EXPECT_TRUE(h->vc->desktopView->isHidden());
    }

    // A picture afterwards stops the video and shows the picture.
    h->vc->droppedFile(writePicture("photo.JPG", Qt::yellow), QPointF(100, 100));
    settle();
    EXPECT_EQ(h->vc->backdrops()->videoPlayerLooped(), nullptr);
    EXPECT_EQ(*h->fake.videoFiles->openFiles, 0);
    EXPECT_TRUE(h->vc->videoDesktopView->isHidden());
    EXPECT_FALSE(h->vc->desktopView->isHidden());
    EXPECT_EQ(backdropPixel(), QColor(Qt::yellow).rgb());
    EXPECT_EQ(h->vc->desktopView->contents().size(), QSize(1920, 1080));
    EXPECT_EQ(stored(), QUrl::fromLocalFile(QDir(folder).filePath("background.png")).toString());
}

TEST_F(BackdropsTest, ThePreviewTakesDroppedPicturesVideosAndDocumentsOnly)
{
    const auto drag = [&](const QString& path) {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(path)});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(h->vc->preview(), &enter);
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(h->vc->preview(), &drop);
        settle();
        return enter.isAccepted();
    };
    EXPECT_FALSE(drag(writePicture("picture.exe", Qt::darkRed)));
    EXPECT_NE(backdropPixel(), QColor(Qt::darkRed).rgb());
    EXPECT_TRUE(drag(writePicture("Dropped.PNG", Qt::darkBlue)));
    EXPECT_EQ(backdropPixel(), QColor(Qt::darkBlue).rgb());
}

TEST_F(BackdropsTest, TheLoopedVideoStartsOverAtItsEnd)
{
    h->vc->droppedFile(write("loop.mp4", "fake-video\n#ff0000\n#0000ff\n"), QPointF(1, 1));
    settle();
    ASSERT_NE(h->vc->backdrops()->videoPlayerLooped(), nullptr);
    QSet<QRgb> seen;
    EXPECT_TRUE(waitUntil(
        [&] {
            seen.insert(h->vc->videoDesktopView->contents().pixel(5, 5));
            return h->vc->backdrops()->videoPlayerLooped()->loops() >= 3;
        },
        3000));
    EXPECT_TRUE(seen.contains(QColor(Qt::red).rgb()));
    EXPECT_TRUE(seen.contains(QColor(Qt::blue).rgb()));
}

TEST_F(BackdropsTest, UnusableFilesLeaveTheBackdropAsItWas)
{
    h->vc->droppedFile(writePicture("good.png", Qt::green), QPointF(1, 1));
    settle();
    const std::optional<QString> good = stored();
    const QByteArray copy = readFile(QDir(folder).filePath("background.png"));
    ASSERT_EQ(backdropPixel(), QColor(Qt::green).rgb());

    // A picture 60000 pixels wide, claimed in a few bytes: refused before decoding.
    QImage header(60000, 1, QImage::Format_Mono);
    header.fill(0);
    const QString bomb = source.filePath("bomb.png");
    header.save(bomb, "PNG");

    for (const QString& path : {write("broken.png", "not a picture"), write("broken.mov", "not a video"), bomb}) {
        SCOPED_TRACE(path.toStdString());
        h->vc->droppedFile(path, QPointF(1, 1));
        h->vc->setBackgroundImage(QUrl::fromLocalFile(path).toString());
        settle();
        EXPECT_EQ(backdropPixel(), QColor(Qt::green).rgb());
        EXPECT_FALSE(h->vc->desktopView->isHidden());
        EXPECT_EQ(stored(), good);
        EXPECT_EQ(readFile(QDir(folder).filePath("background.png")), copy);
    }
    h->vc->setBackgroundImage("data:image/png;base64,bm90IGEgcGljdHVyZQ==");
    EXPECT_EQ(backdropPixel(), QColor(Qt::green).rgb());
}

TEST_F(BackdropsTest, TheChoiceSurvivesARestart)
{
    // A picture from the background page, as a data URL.
    QImage picture(8, 8, QImage::Format_RGB32);
    picture.fill(Qt::magenta);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    h->vc->setBackground("data:image/png;base64," + QString::fromLatin1(png.toBase64()));
    settle();
    EXPECT_EQ(stored(), QUrl::fromLocalFile(QDir(folder).filePath("background.png")).toString());
    restart();
    EXPECT_EQ(backdropPixel(), QColor(Qt::magenta).rgb());

    // A built-in picture.
    h->vc->showMonterey();
    settle();
    EXPECT_EQ(stored(), QString("monterey.jpg"));
    const QImage monterey = h->vc->desktopView->contents();
    restart();
    EXPECT_EQ(h->vc->desktopView->contents().pixel(960, 100), monterey.pixel(960, 100));

    // A video plays again after a restart.
    h->vc->droppedFile(write("loop.mov", "fake-video\n#00ffff\n"), QPointF(1, 1));
    settle();
    restart();
    EXPECT_NE(h->vc->backdrops()->videoPlayerLooped(), nullptr);
    EXPECT_TRUE(waitUntil([&] { return !h->vc->videoDesktopView->isHidden(); }, 2000));
    EXPECT_EQ(h->vc->videoDesktopView->contents().pixel(1, 1), QColor(Qt::cyan).rgb());
}

TEST_F(BackdropsTest, TheOpenPanelOffersPicturesAndCopiesTheChoice)
{
    h->fake.dialogs->openPath = writePicture("chosen.jpeg", Qt::darkRed);
    h->vc->showBackgroundOpenPanel();
    settle();
    ASSERT_EQ(h->fake.dialogs->openPanels.size(), 1u);
    EXPECT_EQ(h->fake.dialogs->openPanels[0].title, QString("Choose an image | Vistrale"));
    EXPECT_EQ(h->fake.dialogs->openPanels[0].allowedTypes, (QStringList{"heif", "heic", "png", "jpg", "jpeg"}));
    EXPECT_EQ(backdropPixel(), QColor(Qt::darkRed).rgb());
    EXPECT_EQ(stored(), QUrl::fromLocalFile(QDir(folder).filePath("background.png")).toString());
}
