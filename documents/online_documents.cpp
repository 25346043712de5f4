#include "documents/online_documents.h"

#include <QRegularExpression>

namespace vistrale {

const LinkDeployment& linkDeployment()
{
    static const LinkDeployment values;
    return values;
}

ClipboardLink classifyClipboardText(const QString& raw, const LinkDeployment& deployment)
{
    if (raw.size() > deployment.clipboardTextLimit)
        return clipboard_link::NoLink{};
    const QString text = raw.trimmed();
    static const QRegularExpression pattern(
        QStringLiteral("\\/(document|spreadsheet|presentation)\\/d\\/([0-9A-Za-z_-]+)\\/"));
    QRegularExpressionMatchIterator matches = pattern.globalMatch(text);
    if (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        if (!matches.hasNext()) {
            const QString kind = match.captured(1);
            const QString base = deployment.serviceAddress + kind + "/d/" + match.captured(2);
            if (kind == "presentation")
                return clipboard_link::Show{QUrl(base + "/present")};
            if (kind == "document")
                return clipboard_link::DownloadPdf{QUrl(base + "/export?format=pdf")};
            return clipboard_link::Spreadsheet{};
        }
    }

    // A URL is a text that parses strictly and has a scheme; text with blanks is prose.
    if (text.isEmpty() || text.contains(QRegularExpression(QStringLiteral("\\s"))))
        return clipboard_link::NoLink{};
    QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty())
        return clipboard_link::NoLink{};
    if (!url.host().isEmpty() && text.contains(deployment.videoWatchPath)) {
        QString host = url.host();
        host.replace(deployment.videoSite, deployment.alternativeViewer);
        // The viewer answers on its bare name.
        if (host.startsWith("www."))
            host.remove(0, 4);
        url.setHost(host);
        if (!url.isValid())
            return clipboard_link::NoLink{};
    }
    return clipboard_link::Show{url};
}

} // namespace vistrale
