#include "documents/document_window_controller.h"

#include "documents/document_types.h"
#include "documents/pdf_page_view.h"
#include "documents/web_document_view.h"
#include "platform/log.h"
#include "platform/window_server.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QPdfDocument>
#include <QProgressBar>
#include <QScreen>
#include <QStackedLayout>
#include <QVBoxLayout>

namespace vistrale {
namespace {

QString pdfProblem(QPdfDocument::Error error)
{
    switch (error) {
    case QPdfDocument::Error::IncorrectPassword:
    case QPdfDocument::Error::UnsupportedSecurityScheme:
        return QObject::tr("This PDF is protected with a password and cannot be shown.");
    case QPdfDocument::Error::FileNotFound:
        return QObject::tr("The document cannot be read.");
    default:
        return QObject::tr("This file is not a PDF that can be shown.");
    }
}

bool startsLikePdf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(5) == "%PDF-";
}

} // namespace

DocumentWindowController::DocumentWindowController(const QUrl& url, const DocumentViewerOptions& options)
    : url(url)
    , options(options)
    , stack(new QStackedLayout)
    , messageLabel(new QLabel)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(TITLE);
    setAutoFillBackground(true);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, Qt::black);
    colours.setColor(QPalette::WindowText, Qt::white);
    setPalette(colours);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addLayout(stack);
    messageLabel->setAlignment(Qt::AlignCenter);
    messageLabel->setWordWrap(true);
    messageLabel->setMargin(24);
    stack->addWidget(messageLabel);

    // Kind and page shape.
    const QString path = url.isLocalFile() ? url.toLocalFile() : url.path();
    const bool isDocument = documentExtensions().contains(lastExtension(path));
    std::optional<double> aspect;
    if (url.isLocalFile())
        aspect = openPdf(path);
    const QSize size = documentWindowSize(aspect, isDocument, options.screen);
    resize(size);

    // Content.
    if (pdf) {
        showPdf();
    } else if (WebDocumentView::isWebAddress(url)) {
        web = new WebDocumentView(url);
        stack->addWidget(web);
        stack->setCurrentWidget(web);
        shown = Content::Web;
    } else if (!url.isLocalFile()) {
        logLine("showDocument: not a file or web address", printableText(url.toString()));
        showMessage(tr("Vistrale shows files and web pages (http, https) only."));
    } else if (!QFileInfo(path).isFile() || !QFileInfo(path).isReadable()) {
        logLine("showDocument: cannot read", printableText(path));
        showMessage(tr("The document cannot be read."));
    } else if (lastExtension(path) != "pdf" && !startsLikePdf(path) && isViewerFile(path)) {
        startConversion(path);
    } else if (messageLabel->text().isEmpty()) {
        logLine("showDocument: not a document Vistrale can show", printableText(path));
        showMessage(tr("Vistrale cannot show this kind of file."));
    }

    // Centred on the main screen, in front, with the keys.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(size.width() / 2, size.height() / 2));
    }
    show();
    if (options.ownWindows)
        options.ownWindows->setAspectRatio(winId(), size.width(), size.height());
    raise();
    activateWindow();
    if (pageView)
        pageView->setFocus();
}

DocumentWindowController::~DocumentWindowController()
{
    // The page view renders from the document: it goes first.
    delete pageView;
    pageView = nullptr;
}

std::optional<double> DocumentWindowController::openPdf(const QString& path)
{
    const QFileInfo info(path);
    const bool namedPdf = lastExtension(path) == "pdf";
    if (!info.isFile() || !(namedPdf || startsLikePdf(path)))
        return std::nullopt;
    if (info.size() > options.maxPdfBytes) {
        logLine("showDocument: PDF too large", info.size());
        showMessage(tr("This PDF is too large to be shown."));
        return std::nullopt;
    }
    auto document = std::make_unique<QPdfDocument>();
    const QPdfDocument::Error error = document->load(path);
    if (error != QPdfDocument::Error::None || document->pageCount() < 1) {
        logLine("showDocument: PDF not shown", printableText(path), static_cast<int>(error));
        showMessage(error == QPdfDocument::Error::None ? tr("This PDF has no pages.") : pdfProblem(error));
        return std::nullopt;
    }
    const QSizeF page = document->pagePointSize(0);
    if (page.width() <= 0 || page.height() <= 0) {
        logLine("showDocument: PDF page has no size", printableText(path));
        showMessage(tr("This file is not a PDF that can be shown."));
        return std::nullopt;
    }
    const double ratio = page.width() / page.height();
    logLine("isPDFLandscape=", page.width(), page.height(), ratio);
    pdf = std::move(document);
    return ratio;
}

void DocumentWindowController::showPdf()
{
    pageView = new PdfPageView(*pdf);
    stack->addWidget(pageView);
    stack->setCurrentWidget(pageView);
    shown = Content::Pdf;
}

void DocumentWindowController::startConversion(const QString& path)
{
    auto* progress = new QWidget;
    auto* column = new QVBoxLayout(progress);
    column->addStretch();
    auto* label = new QLabel(tr("Converting %1 with LibreOffice...").arg(QFileInfo(path).fileName()));
    label->setAlignment(Qt::AlignCenter);
    column->addWidget(label);
    auto* bar = new QProgressBar;
    // No figures come from LibreOffice: a busy bar while it runs.
    bar->setRange(0, 0);
    column->addWidget(bar);
    column->addStretch();
    column->setContentsMargins(48, 0, 48, 0);
    stack->addWidget(progress);
    stack->setCurrentWidget(progress);
    shown = Content::Converting;

    conversion = std::make_unique<OfficeConversion>(
        path, options.office, [this, progress](const QString& converted, const QString& problem) {
            stack->removeWidget(progress);
            progress->deleteLater();
            if (converted.isEmpty()) {
                showMessage(problem);
                return;
            }
            // The window keeps the size of the file's kind; the page fits inside.
            auto document = std::make_unique<QPdfDocument>();
            if (document->load(converted) != QPdfDocument::Error::None || document->pageCount() < 1) {
                logLine("showDocument: converted PDF not shown", printableText(converted));
                showMessage(tr("LibreOffice could not convert this document."));
                return;
            }
            pdf = std::move(document);
            showPdf();
            pageView->setFocus();
        });
    conversion->start();
}

void DocumentWindowController::showMessage(const QString& text)
{
    messageLabel->setText(text);
    stack->setCurrentWidget(messageLabel);
    shown = Content::Message;
}

QString DocumentWindowController::message() const
{
    return shown == Content::Message ? messageLabel->text() : QString();
}

void DocumentWindowController::closeEvent(QCloseEvent* event)
{
    logLine("doc view controller: window will close");
    logLine("releasing window");
    conversion.reset();
    event->accept();
}

} // namespace vistrale
