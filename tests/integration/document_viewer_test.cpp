// Documents in Vistrale on a virtual desktop: a PDF handed over at launch, an office
// file handed over by a second start, a link pasted into the preview; each opens in a
// window of its own that shows up in the output picture, read back over the session
// bus, and leaves it when closed.
#include "tests/integration/vistrale_desktop_test.h"
#include "tests/support/local_http_server.h"
#include "tests/support/test_documents.h"

#include <QStandardPaths>
#include <gtest/gtest.h>

using namespace vistrale::test;

namespace {

class DocumentViewer : public VistraleDesktopTest {
protected:
    void start(const QStringList& arguments = {})
    {
        app->setEnvironment("QTWEBENGINE_DISABLE_SANDBOX", "1");
        ASSERT_NO_FATAL_FAILURE(startWith({"already-shown=true", "soundoff=true"}, arguments));
    }
    // Share of the output's pixels (sampled) close to this colour.
    double outputShare(QColor colour)
    {
        const QImage picture = app->outputPicture();
        return picture.isNull() ? 0 : share(picture, picture.rect(), near(colour, 40), 8);
    }
    bool outputShows(QColor colour, double atLeast)
    {
        return waitUntil([&] { return outputShare(colour) >= atLeast; }, 15000);
    }
};

const QColor GREEN(0, 160, 0);

} // namespace

TEST_F(DocumentViewer, PdfFromTheCommandLineIsSharedAndLeavesTheOutputWhenClosed)
{
    const QString pdf = desktop.homeDir() + "/deck.pdf";
    ASSERT_TRUE(writeTestPdf(pdf, {792, 612}, 2, GREEN));
    start({pdf});
    EXPECT_TRUE(app->waitForLine("showDocument file://" + pdf)) << app->output().toStdString();
    EXPECT_TRUE(app->waitForLine("isPDFLandscape=792 612 1.29"));
    const std::optional<quint32> window = desktop.waitForWindow("vistrale-document-viewer");
    ASSERT_TRUE(window.has_value());
    // 720 high on a 1080 screen, 932 wide for a 792 x 612 page.
    const std::optional<QRect> geometry = app->windowGeometry(*window);
    ASSERT_TRUE(geometry.has_value());
    EXPECT_EQ(geometry->size(), QSize(932, 720));

    EXPECT_TRUE(waitUntil([&] { return sharedCount() == 1; }, 8000)) << app->output().toStdString();
    EXPECT_TRUE(outputShows(GREEN, 0.2)) << "the page is not in the output";

    // Closed as a pager or the close button closes it: through the window manager.
    ASSERT_TRUE(desktop.askToClose(*window));
    EXPECT_TRUE(app->waitForLine("releasing window"));
    EXPECT_TRUE(waitUntil([&] { return sharedCount() == 0; }, 8000));
    EXPECT_TRUE(waitUntil([&] { return outputShare(GREEN) < 0.02; }, 8000)) << "the page stays in the output";
}

TEST_F(DocumentViewer, OfficeFileFromASecondStartIsConvertedOrTheMissingPackageNamed)
{
    start();
    const QString odt = desktop.homeDir() + "/notes.odt";
    ASSERT_TRUE(QFile::copy(VISTRALE_SOURCE_DIR "/tests/integration/data/notes.odt", odt));
    QString out;
    ASSERT_EQ(app->runSecondStart({odt}, &out), 0) << out.toStdString();
    if (QStandardPaths::findExecutable("soffice").isEmpty()) {
        EXPECT_TRUE(app->waitForLine("LibreOffice not found, cannot convert")) << app->output().toStdString();
        return;
    }
    EXPECT_TRUE(app->waitForLine("document conversion " + odt));
    EXPECT_TRUE(app->waitForLine("document converted", 90000)) << app->output().toStdString();
    // A white letter page in the output once LibreOffice is done.
    EXPECT_TRUE(waitUntil([&] { return sharedCount() == 1; }, 8000)) << app->output().toStdString();
    EXPECT_TRUE(outputShows(Qt::white, 0.1)) << app->output().toStdString();
    EXPECT_FALSE(app->output().contains("document conversion failed"));
    EXPECT_EQ(app->quit(), 0) << "ends cleanly with a document open";
}

TEST_F(DocumentViewer, LinkPastedIntoThePreviewOpensThePageInASharedWindow)
{
    LocalHttpServer server("<html><body style='margin:0;background:#c000c0'><h1>Page</h1></body></html>", "text/html");
    start();
    const QString link = desktop.homeDir() + "/link.txt";
    ASSERT_TRUE(writeFile(link, server.address("/slides").toUtf8()));
    ASSERT_GT(desktop.startClient("xclip", {"-quiet", "-selection", "clipboard", "-i", link}), 0);
    const std::optional<quint32> preview = app->previewWindow();
    ASSERT_TRUE(preview.has_value());
    QThread::msleep(300);
    desktop.run("xdotool", {"windowactivate", "--sync", QString::number(*preview), "key", "ctrl+v"});

    EXPECT_TRUE(app->waitForLine("readPasteboard")) << app->output().toStdString();
    EXPECT_TRUE(waitUntil([&] { return server.requested.contains("/slides"); }, 15000)) << app->output().toStdString();
    EXPECT_TRUE(waitUntil([&] { return sharedCount() == 1; }, 8000)) << app->output().toStdString();
    EXPECT_TRUE(outputShows(QColor(0xc0, 0, 0xc0), 0.2)) << "the page is not in the output";
    // The session's end finds a web page open: Vistrale still ends cleanly.
    EXPECT_EQ(app->quit(), 0) << app->errorOutput().toStdString();
}
