#pragma once

#include <QUrl>
#include <QWidget>

class QWebEngineView;
class QWebEngineProfile;

namespace vistrale {

// A remote web page in a document window: its own off-the-record profile, no script
// bridge, no access to local files, no downloads, no pop-up windows, no device or
// other permissions, and navigation only to http and https addresses. Main thread.
class WebDocumentView : public QWidget {
public:
    explicit WebDocumentView(const QUrl& url, QWidget* parent = nullptr);
    ~WebDocumentView() override;

    // The addresses a document window shows as a web page.
    static bool isWebAddress(const QUrl& url);

private:
    QWebEngineProfile* profile;
    QWebEngineView* web;
};

} // namespace vistrale
