#pragma once

#include "documents/office_conversion.h"

#include <QSizeF>
#include <QUrl>
#include <QWidget>
#include <memory>
#include <optional>

class QLabel;
class QPdfDocument;
class QStackedLayout;

namespace vistrale {

class OwnWindows;
class PdfPageView;
class WebDocumentView;

// What a document window needs from its surroundings.
struct DocumentViewerOptions {
    // The main screen's size (1920 x 1080 without one).
    QSizeF screen{1920, 1080};
    // Keeps the window's aspect while the user resizes it; may be null.
    OwnWindows* ownWindows = nullptr;
    OfficeConversion::Options office;
    // Larger PDFs are not opened.
    qint64 maxPdfBytes = 512LL * 1024 * 1024;
};

// One document in a window of Vistrale's own, titled "vistrale-document-viewer" so
// that the window picker takes it: a PDF drawn page by page, an office or text file
// once LibreOffice has made a PDF of it, or a web page. The window is sized by the
// first page's shape or the file's kind, shown centred at once, and deletes itself
// when closed. What cannot be shown is said in the window and in one log line.
// Main thread.
class DocumentWindowController : public QWidget {
public:
    static constexpr const char* TITLE = "vistrale-document-viewer";

    DocumentWindowController(const QUrl& url, const DocumentViewerOptions& options);
    ~DocumentWindowController() override;

    enum class Content { Pdf, Converting, Web, Message };
    Content content() const { return shown; }
    // The text shown instead of a document.
    QString message() const;
    PdfPageView* pdfView() const { return pageView; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // The first page's aspect when the file opens as a PDF.
    std::optional<double> openPdf(const QString& path);
    void showPdf();
    void startConversion(const QString& path);
    void showMessage(const QString& text);

    QUrl url;
    DocumentViewerOptions options;
    Content shown = Content::Message;
    QStackedLayout* stack;
    QLabel* messageLabel;
    std::unique_ptr<QPdfDocument> pdf;
    PdfPageView* pageView = nullptr;
    WebDocumentView* web = nullptr;
    std::unique_ptr<OfficeConversion> conversion;
};

} // namespace vistrale
