#include "documents/web_document_view.h"

#include "platform/log.h"

#include <QVBoxLayout>
#include <QWebEngineDownloadRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace vistrale {
namespace {

// A page that stays on the web: no windows of its own, no other schemes.
class RemotePage : public QWebEnginePage {
public:
    RemotePage(QWebEngineProfile* profile, QObject* parent)
        : QWebEnginePage(profile, parent)
    {
        connect(this, &QWebEnginePage::featurePermissionRequested, this,
            [this](const QUrl& origin, QWebEnginePage::Feature feature) {
                setFeaturePermission(origin, feature, QWebEnginePage::PermissionDeniedByUser);
            });
    }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool) override
    {
        if (WebDocumentView::isWebAddress(url) || url.scheme() == "about" || url.scheme() == "data")
            return true;
        logLine("document page: navigation refused", printableText(url.toString()));
        return false;
    }
    QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }
};

} // namespace

bool WebDocumentView::isWebAddress(const QUrl& url)
{
    return url.isValid() && (url.scheme() == "http" || url.scheme() == "https") && !url.host().isEmpty();
}

WebDocumentView::WebDocumentView(const QUrl& url, QWidget* parent)
    : QWidget(parent)
    , profile(new QWebEngineProfile(this))
    , web(new QWebEngineView(this))
{
    QWebEngineSettings* settings = profile->settings();
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    settings->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
    settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    connect(profile, &QWebEngineProfile::downloadRequested, this, [](QWebEngineDownloadRequest* download) {
        logLine("document page: download refused", printableText(download->url().toString()));
        download->cancel();
    });
    auto* page = new RemotePage(profile, web);
    web->setPage(page);
    connect(page, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        if (!ok)
            logLine("document page did not load", printableText(web->url().toString()));
    });
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(web);
    page->setBackgroundColor(Qt::black);
    web->load(url);
}

WebDocumentView::~WebDocumentView()
{
    // The page must go before its profile.
    delete web;
}

} // namespace vistrale
