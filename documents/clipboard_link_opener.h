#pragma once

#include "documents/online_documents.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;
class QSaveFile;

namespace vistrale {

class Dialogs;

// Opens what a clipboard text links to: online presentations and other links in the
// document viewer, online documents as their PDF export (downloaded in the
// background, with a size limit, into Vistrale's own folder as "slides.pdf", then
// shown), and the alerts for spreadsheets and texts without a link. Main thread.
class ClipboardLinkOpener : public QObject {
public:
    using ShowDocument = std::function<void(const QUrl& url)>;
    ClipboardLinkOpener(
        Dialogs& dialogs, QString folder, ShowDocument showDocument, LinkDeployment deployment = linkDeployment());
    ~ClipboardLinkOpener() override;

    // The clipboard's text, none when it holds no text.
    void openText(const std::optional<QString>& text);
    bool downloading() const { return !reply.isNull(); }

private:
    void download(const QUrl& url);
    void downloadFinished();

    Dialogs& dialogs;
    QString folder;
    ShowDocument showDocument;
    LinkDeployment deployment;
    std::unique_ptr<QNetworkAccessManager> network;
    QPointer<QNetworkReply> reply;
    std::unique_ptr<QSaveFile> target;
    QString refused;
};

} // namespace vistrale
