// Where documents come from and what goes wrong on the way: LibreOffice conversions
// (run as a stand-in program), PDFs that cannot be shown, online documents downloaded
// from a local server.
#include "documents/clipboard_link_opener.h"
#include "documents/document_window_controller.h"
#include "documents/office_conversion.h"
#include "documents/pdf_page_view.h"
#include "platform/fake/fake_services.h"
#include "tests/support/local_http_server.h"
#include "tests/support/test_documents.h"
#include "tests/support/wait_until.h"

#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>

using namespace vistrale;
using namespace vistrale::test;

namespace {

class DocumentSources : public ::testing::Test {
protected:
    QString file(const QString& name) const { return dir.filePath(name); }
    // A stand-in "soffice" made of this shell body, in a folder of its own.
    QString fakeOffice(const QString& body)
    {
        EXPECT_TRUE(writeFile(file("bin/soffice"), ("#!/bin/sh\n" + body + "\n").toUtf8(), true));
        return file("bin");
    }
    // Runs one conversion to its end: the PDF and the problem.
    std::pair<QString, QString> convert(const QString& searchPath, int timeoutMs = 10000)
    {
        std::optional<std::pair<QString, QString>> result;
        OfficeConversion conversion(
            file("notes.odt"), {searchPath, timeoutMs, file("out")}, [&](const QString& pdf, const QString& problem) {
                result = {pdf, problem};
            });
        conversion.start();
        EXPECT_TRUE(waitUntil([&] { return result.has_value(); }, 15000));
        return result.value_or(std::pair<QString, QString>{});
    }

    QTemporaryDir dir;
};

} // namespace

TEST_F(DocumentSources, OfficeConversionReportsMissingHangingCrashingAndWorkingLibreOffice)
{
    ASSERT_TRUE(writeFile(file("notes.odt"), "not really odt"));
    ASSERT_TRUE(writeTestPdf(file("made.pdf"), {612, 792}));

    // No LibreOffice on the search path: the message says what to install.
    QDir().mkpath(file("empty"));
    EXPECT_EQ(convert(file("empty")), std::make_pair(QString(), OfficeConversion::missingOfficeMessage()));
    EXPECT_TRUE(OfficeConversion::missingOfficeMessage().contains("libreoffice-writer-nogui"));

    // Hangs: killed at the time-out, the helper it started as well.
    const QString childPid = file("child.pid");
    auto [pdf, problem] = convert(fakeOffice("sleep 60 & echo $! > " + childPid + "\nwait"), 500);
    EXPECT_TRUE(pdf.isEmpty());
    EXPECT_TRUE(problem.contains("too long")) << problem.toStdString();
    const pid_t child = readFile(childPid).trimmed().toInt();
    ASSERT_GT(child, 0);
    EXPECT_TRUE(waitUntil([&] { return ::kill(child, 0) != 0; }, 3000)) << "soffice's child outlived the time-out";

    // Crashes, or ends well without a PDF.
    for (const QString& body : {QString("kill -SEGV $$"), QString("exit 0")}) {
        std::tie(pdf, problem) = convert(fakeOffice(body));
        EXPECT_TRUE(pdf.isEmpty()) << body.toStdString();
        EXPECT_TRUE(problem.contains("could not convert")) << body.toStdString();
    }

    // Works: a private profile, the PDF in the output folder under the file's name.
    const QString arguments = file("arguments");
    std::tie(pdf, problem) = convert(fakeOffice("echo \"$@\" > " + arguments
        + "\nwhile [ \"$1\" != --outdir ]; do shift; done\ncp " + file("made.pdf") + " \"$2/notes.pdf\""));
    EXPECT_TRUE(problem.isEmpty()) << problem.toStdString();
    EXPECT_TRUE(pdf.startsWith(file("out") + "/") && pdf.endsWith("/notes.pdf")) << pdf.toStdString();
    const QString line = QString::fromUtf8(readFile(arguments));
    EXPECT_TRUE(line.contains("--headless") && line.contains("--convert-to pdf")) << line.toStdString();
    EXPECT_TRUE(line.contains("-env:UserInstallation=file:///")) << line.toStdString();
}

TEST_F(DocumentSources, DocumentWindowShowsPdfsPageByPageAndSaysWhatItCannotShow)
{
    ASSERT_TRUE(writeTestPdf(file("deck.pdf"), {792, 612}, 3));
    ASSERT_TRUE(QFile::copy(file("deck.pdf"), file("renamed.docx")));
    ASSERT_TRUE(writeFile(file("corrupt.pdf"), "%PDF-1.4\n garbage that is no PDF at all"));
    ASSERT_TRUE(writeFile(file("empty.pdf"), ""));
    ASSERT_TRUE(writeFile(file("notes.xyz"), "plain text"));
    // Made by LibreOffice with an open password.
    ASSERT_TRUE(QFile::copy(VISTRALE_SOURCE_DIR "/tests/integration/data/locked.pdf", file("locked.pdf")));
    ASSERT_TRUE(writeFile(file("letter.docx"), "not a docx"));
    QDir().mkpath(file("empty"));

    DocumentViewerOptions options;
    options.screen = {1440, 900};
    options.office.searchPath = file("empty");
    using Content = DocumentWindowController::Content;
    struct Case {
        QString name;
        Content content;
        QSize size;
    };
    const Case cases[] = {
        {"deck.pdf", Content::Pdf, {776, 600}},
        // The contents decide, not the name; the size still follows the name's kind.
        {"renamed.docx", Content::Pdf, {776, 600}},
        {"corrupt.pdf", Content::Message, {464, 600}},
        {"locked.pdf", Content::Message, {464, 600}},
        {"empty.pdf", Content::Message, {464, 600}},
        {"missing.pdf", Content::Message, {464, 600}},
        {"notes.xyz", Content::Message, {1067, 600}},
        {"letter.docx", Content::Message, {464, 600}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        auto* window = new DocumentWindowController(QUrl::fromLocalFile(file(c.name)), options);
        QPointer<DocumentWindowController> alive(window);
        EXPECT_EQ(window->windowTitle(), "vistrale-document-viewer");
        EXPECT_EQ(window->size(), c.size);
        if (c.name == "letter.docx")
            EXPECT_TRUE(waitUntil([&] { return window->content() == Content::Message; }, 5000));
        EXPECT_EQ(window->content(), c.content) << window->message().toStdString();
        if (c.content == Content::Message)
            EXPECT_FALSE(window->message().isEmpty());
        if (c.name == "letter.docx")
            EXPECT_EQ(window->message(), OfficeConversion::missingOfficeMessage());
        if (c.name == "locked.pdf")
            EXPECT_TRUE(window->message().contains("password")) << window->message().toStdString();
        if (c.content == Content::Pdf) {
            PdfPageView* view = window->pdfView();
            EXPECT_TRUE(waitUntil([&] { return view->pageShown(); }, 5000));
            const QImage shown = view->grab().toImage();
            const QColor centre = shown.pixelColor(shown.width() / 4, shown.height() / 4);
            EXPECT_TRUE(centre.green() > 120 && centre.red() < 60) << centre.name().toStdString();
            QKeyEvent next(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier);
            QCoreApplication::sendEvent(view, &next);
            QCoreApplication::sendEvent(view, &next);
            QCoreApplication::sendEvent(view, &next);
            EXPECT_EQ(view->currentPage(), 2);
            EXPECT_TRUE(waitUntil([&] { return view->pageShown(); }, 5000));
        }
        window->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(alive.isNull()) << "the window is released when closed";
    }
}

TEST_F(DocumentSources, ClipboardLinksDownloadOnlineDocumentsWithinTheLimitAndAlertOtherwise)
{
    ASSERT_TRUE(writeTestPdf(file("export.pdf"), {612, 792}));
    const QByteArray pdf = readFile(file("export.pdf"));
    LocalHttpServer server(pdf, "application/pdf");
    LinkDeployment deployment;
    deployment.serviceAddress = server.address("/");

    FakeDialogs dialogs;
    std::vector<QUrl> shown;
    ClipboardLinkOpener opener(
        dialogs, file("own"), [&](const QUrl& url) { shown.push_back(url); }, deployment);

    opener.openText("https://anywhere.example/document/d/doc_1/edit");
    EXPECT_TRUE(waitUntil([&] { return !shown.empty(); }, 5000));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], QUrl::fromLocalFile(file("own/slides.pdf")));
    EXPECT_EQ(server.requested, QStringList{"/document/d/doc_1/export?format=pdf"});
    EXPECT_EQ(QFileInfo(file("own/slides.pdf")).size(), pdf.size());

    // Larger than the limit: nothing opens and the last good file stays.
    deployment.downloadLimit = pdf.size() - 1;
    ClipboardLinkOpener limited(
        dialogs, file("own"), [&](const QUrl& url) { shown.push_back(url); }, deployment);
    limited.openText("/document/d/doc_2/");
    EXPECT_TRUE(waitUntil([&] { return !limited.downloading(); }, 5000));
    EXPECT_EQ(shown.size(), 1u);
    EXPECT_EQ(QFileInfo(file("own/slides.pdf")).size(), pdf.size());

    // Alerts, exactly as written; no text at all does nothing.
    opener.openText("https://anywhere.example/spreadsheet/d/abc/");
    opener.openText(QString(5 * 1024 * 1024, 'x'));
    opener.openText(std::nullopt);
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[0].message, "Vistrale");
    EXPECT_EQ(dialogs.shown[0].informative, "Vistrale does not preview Google Spreadsheets");
    EXPECT_EQ(dialogs.shown[1].message, "Show Document");
    EXPECT_EQ(dialogs.shown[1].informative, "Could not find a link in the clipboard");
    EXPECT_EQ(dialogs.shown[1].defaultButton, "Close");
}
