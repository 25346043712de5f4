#include "documents/clipboard_link_opener.h"

#include "platform/dialogs.h"
#include "platform/log.h"

#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>

namespace vistrale {

ClipboardLinkOpener::ClipboardLinkOpener(
    Dialogs& dialogs, QString folder, ShowDocument showDocument, LinkDeployment deployment)
    : dialogs(dialogs)
    , folder(std::move(folder))
    , showDocument(std::move(showDocument))
    , deployment(std::move(deployment))
{
}

ClipboardLinkOpener::~ClipboardLinkOpener()
{
    if (reply)
        reply->abort();
}

void ClipboardLinkOpener::openText(const std::optional<QString>& text)
{
    if (!text)
        return;
    if (text->size() > deployment.clipboardTextLimit)
        logLine("clipboard text too long for a link", text->size());
    const ClipboardLink link = classifyClipboardText(*text, deployment);
    if (const auto* show = std::get_if<clipboard_link::Show>(&link)) {
        showDocument(show->url);
    } else if (const auto* pdf = std::get_if<clipboard_link::DownloadPdf>(&link)) {
        download(pdf->url);
    } else if (std::holds_alternative<clipboard_link::Spreadsheet>(link)) {
        informationAlert(
            dialogs, QObject::tr("Vistrale"), QObject::tr("Vistrale does not preview Google Spreadsheets"));
    } else {
        informationAlert(dialogs, QObject::tr("Show Document"), QObject::tr("Could not find a link in the clipboard"));
    }
}

void ClipboardLinkOpener::download(const QUrl& url)
{
    if (reply) {
        logLine("online document: a download is running, ignored", printableText(url.toString()));
        return;
    }
    if (folder.isEmpty() || !QDir().mkpath(folder)) {
        logLine("online document: no folder to save it in");
        return;
    }
    target = std::make_unique<QSaveFile>(folder + "/slides.pdf");
    if (!target->open(QIODevice::WriteOnly)) {
        logLine("online document: cannot write", printableText(target->fileName()));
        target.reset();
        return;
    }
    if (!network)
        network = std::make_unique<QNetworkAccessManager>();
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(60000);
    refused.clear();
    logLine("online document: downloading", printableText(url.toString()));
    reply = network->get(request);
    const qint64 limit = deployment.downloadLimit;
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, limit] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > limit) {
            refused = QStringLiteral("larger than %1 bytes").arg(limit);
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::readyRead, this, [this, limit] {
        const QByteArray chunk = reply->readAll();
        if (target->size() + chunk.size() > limit) {
            refused = QStringLiteral("larger than %1 bytes").arg(limit);
            reply->abort();
            return;
        }
        target->write(chunk);
    });
    connect(reply, &QNetworkReply::finished, this, [this] { downloadFinished(); });
}

void ClipboardLinkOpener::downloadFinished()
{
    QNetworkReply* done = reply.data();
    reply.clear();
    done->deleteLater();
    std::unique_ptr<QSaveFile> file = std::move(target);
    if (!refused.isEmpty() || done->error() != QNetworkReply::NoError) {
        logLine("online document: download failed", printableText(refused.isEmpty() ? done->errorString() : refused));
        file->cancelWriting();
        return;
    }
    const QByteArray rest = done->readAll();
    if (file->size() + rest.size() > deployment.downloadLimit) {
        logLine(
            "online document: download failed", QStringLiteral("larger than %1 bytes").arg(deployment.downloadLimit));
        file->cancelWriting();
        return;
    }
    file->write(rest);
    if (!file->commit()) {
        logLine("online document: cannot write", printableText(file->fileName()));
        return;
    }
    showDocument(QUrl::fromLocalFile(file->fileName()));
}

} // namespace vistrale
