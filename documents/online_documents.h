#pragma once

#include <QString>
#include <QUrl>
#include <variant>

namespace vistrale {

// Deployment values of the clipboard link, in one place.
struct LinkDeployment {
    // The online document service, ending in a slash.
    QString serviceAddress = QStringLiteral("https://docs.google.com/");
    // Watch pages of this video site ("www.youtube.com/watch?v=...") open through the
    // alternative viewer: the site's name in the link is replaced by the viewer's.
    QString videoSite = QStringLiteral("youtube.com");
    QString videoWatchPath = QStringLiteral("youtube.com/watch");
    QString alternativeViewer = QStringLiteral("yewtu.be");
    // The most a downloaded PDF export may weigh.
    qint64 downloadLimit = 100LL * 1024 * 1024;
    // Longer clipboard texts are not searched for a link.
    qsizetype clipboardTextLimit = 64 * 1024;
};
const LinkDeployment& linkDeployment();

// What a clipboard text asks for.
namespace clipboard_link {
// Show this address (a web page, or a local file) in the document viewer.
struct Show {
    QUrl url;
};
// Download this PDF export and show the file.
struct DownloadPdf {
    QUrl url;
};
// The service's spreadsheets are not shown.
struct Spreadsheet { };
// Nothing usable in the text.
struct NoLink { };
} // namespace clipboard_link
using ClipboardLink = std::variant<clipboard_link::Show, clipboard_link::DownloadPdf, clipboard_link::Spreadsheet,
    clipboard_link::NoLink>;

// Reads a clipboard text: an online document (presentation, document or
// spreadsheet) found exactly once, else a whole-text URL (video watch pages
// rewritten to the alternative viewer), else nothing.
ClipboardLink classifyClipboardText(const QString& text, const LinkDeployment& deployment = linkDeployment());

} // namespace vistrale
