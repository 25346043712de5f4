// The document window's size rule and the reading of clipboard texts.
#include "documents/document_types.h"
#include "documents/online_documents.h"

#include <gtest/gtest.h>

using namespace vistrale;

TEST(DocumentWindowSize, FollowsThePageShapeTheFileKindAndTheScreen)
{
    struct Case {
        const char* what;
        std::optional<double> aspect;
        QString file;
        QSizeF screen;
        QSize expected;
    };
    const QSizeF laptop(1440, 900);
    const Case cases[] = {
        {"landscape PDF", 792.0 / 612.0, "a.pdf", laptop, {776, 600}},
        {"portrait PDF", 612.0 / 792.0, "a.pdf", laptop, {464, 600}},
        {"square PDF counts as portrait", 1.0, "a.pdf", laptop, {464, 600}},
        {"keynote", std::nullopt, "talk.key", laptop, {1067, 600}},
        {"pptx", std::nullopt, "talk.PPTX", laptop, {1067, 600}},
        {"docx", std::nullopt, "letter.docx", laptop, {464, 600}},
        {"presentation on a portrait screen", std::nullopt, "talk.pptx", {1080, 1920}, {720, 405}},
        {"web page", std::nullopt, "https://example.org/", laptop, {1067, 600}},
    };
    for (const Case& c : cases) {
        const bool isDocument = documentExtensions().contains(lastExtension(c.file));
        EXPECT_EQ(documentWindowSize(c.aspect, isDocument, c.screen), c.expected) << c.what;
    }
}

TEST(ClipboardLink, ReadsOnlineDocumentsLinksAndPlainText)
{
    LinkDeployment deployment;
    deployment.serviceAddress = "https://docs.example/";
    deployment.videoSite = "videos.example";
    deployment.videoWatchPath = "videos.example/watch";
    deployment.alternativeViewer = "viewer.example";
    deployment.clipboardTextLimit = 1000;

    enum Kind { Show, Download, Spreadsheet, None };
    struct Case {
        QString text;
        Kind kind;
        QString url = {};
    };
    const Case cases[] = {
        {"https://docs.example/presentation/d/a_B-9/edit#slide=1", Show,
            "https://docs.example/presentation/d/a_B-9/present"},
        {"see https://docs.example/document/d/abc/edit", Download,
            "https://docs.example/document/d/abc/export?format=pdf"},
        {"https://docs.example/spreadsheets/x/spreadsheet/d/abc/", Spreadsheet},
        // Twice: not one online document.
        {"/document/d/abc/ and /document/d/def/", None},
        {"just words, no link", None},
        {"", None},
        {" https://example.org/page?q=1 ", Show, "https://example.org/page?q=1"},
        {"https://www.videos.example/watch?v=xyz", Show, "https://viewer.example/watch?v=xyz"},
        {"file:///home/me/slides.pdf", Show, "file:///home/me/slides.pdf"},
        {"https://example.org/" + QString(2000, 'a'), None},
    };
    for (const Case& c : cases) {
        const ClipboardLink link = classifyClipboardText(c.text, deployment);
        SCOPED_TRACE(c.text.left(80).toStdString());
        switch (c.kind) {
        case Show:
            ASSERT_TRUE(std::holds_alternative<clipboard_link::Show>(link));
            EXPECT_EQ(std::get<clipboard_link::Show>(link).url.toString(), c.url);
            break;
        case Download:
            ASSERT_TRUE(std::holds_alternative<clipboard_link::DownloadPdf>(link));
            EXPECT_EQ(std::get<clipboard_link::DownloadPdf>(link).url.toString(), c.url);
            break;
        case Spreadsheet:
            EXPECT_TRUE(std::holds_alternative<clipboard_link::Spreadsheet>(link));
            break;
        case None:
            EXPECT_TRUE(std::holds_alternative<clipboard_link::NoLink>(link));
            break;
        }
    }
}
