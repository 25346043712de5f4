#include "webcam/backdrops.h"

#include "app/settings/settings.h"
#include "app/settings/settings_keys.h"
#include "platform/dialogs.h"
#include "platform/log.h"
#include "platform/video_file.h"
#include "preview/backdrop.h"
#include "preview/scene.h"
#include "webcam/video_player_looped.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTemporaryFile>
#include <QUrl>

namespace vistrale {

namespace {

constexpr int DOWNLOAD_TIMEOUT_MS = 60 * 1000;
constexpr int MAX_REDIRECTS = 5;
// Largest "data:image/" address taken from the background page.
constexpr qsizetype MAX_DATA_URL = 64LL * 1024 * 1024;

bool isRemote(const QString& urlString)
{
    const QString scheme = QUrl(urlString).scheme().toLower();
    return scheme == "http" || scheme == "https";
}

// The local path a URL string names: a file URL or a plain absolute path.
std::optional<QString> localPath(const QString& urlString)
{
    if (urlString.startsWith("file://"))
        return QUrl(urlString).toLocalFile();
    if (urlString.startsWith('/'))
        return urlString;
    return std::nullopt;
}

QString fileUrl(const QString& path)
{
    return QUrl::fromLocalFile(path).toString();
}

// The picture in a "data:image/...;base64," address; null (logged) when it holds none.
QImage dataUrlPicture(const QString& urlString)
{
    if (urlString.size() > MAX_DATA_URL) {
        logLine("background data URL too large:", urlString.size());
        return {};
    }
    const qsizetype comma = urlString.indexOf(',');
    if (comma < 0 || !urlString.left(comma).endsWith(";base64")) {
        logLine("background data URL not supported:", printableText(urlString.left(64)));
        return {};
    }
    const auto decoded = QByteArray::fromBase64Encoding(urlString.mid(comma + 1).toLatin1());
    if (!decoded) {
        logLine("background data URL not readable");
        return {};
    }
    QBuffer buffer;
    buffer.setData(*decoded);
    buffer.open(QIODevice::ReadOnly);
    return readBackdropPicture(buffer, QStringLiteral("data URL"));
}

} // namespace

QString backdropExtension(const QString& pathOrUrl)
{
    const QString path = pathOrUrl.contains("://") ? QUrl(pathOrUrl).path() : pathOrUrl;
    return QFileInfo(path).suffix().toLower();
}

bool isDocumentExtension(const QString& extension)
{
    static const QStringList documents{"doc", "docx", "rtf", "txt", "odt", "pages", "pdf", "ppt", "pptx", "key"};
    return documents.contains(extension);
}

Backdrops::Backdrops(
    Settings& settings, Dialogs& dialogs, VideoFiles& videoFiles, Views views, QSize outputSize, QString folder)
    : settings(settings)
    , dialogs(dialogs)
    , videoFiles(videoFiles)
    , views(std::move(views))
    , outputSize(outputSize)
    , folder(std::move(folder))
{
}

Backdrops::~Backdrops()
{
    cancelDownload();
    player.reset();
}

QString Backdrops::filePath(const QString& name) const
{
    return QDir(folder).filePath(name);
}

void Backdrops::setBackground(const QString& urlString)
{
    QMetaObject::invokeMethod(
        this,
        [this, urlString] {
            const QString extension = backdropExtension(urlString);
            if (extension == "mov" || extension == "mp4")
                setBackgroundVideo(urlString);
            else
                setBackgroundImage(urlString);
        },
        Qt::QueuedConnection);
}

void Backdrops::setBackgroundImage(const QString& urlString)
{
    QImage picture;
    if (urlString.startsWith("data:image/")) {
        picture = dataUrlPicture(urlString);
        if (picture.isNull())
            return;
        cancelDownload();
        // The page's picture persists as our own copy.
        const QString target = filePath("background.png");
        QFile::remove(target);
        if (!picture.save(target, "PNG"))
            logLine("cannot write the background copy", printableText(target));
        showPicture(picture);
        settings.setText(keys::BACKGROUND, fileUrl(target));
        return;
    }
    if (isRemote(urlString)) {
        fetchBackground(urlString, false);
        return;
    }
    picture = bundledImage(urlString);
    if (picture.isNull()) {
        if (!localPath(urlString)) {
            logLine("background not supported:", printableText(urlString));
            return;
        }
        picture = readBackdropPicture(*localPath(urlString));
        if (picture.isNull())
            return;
    }
    cancelDownload();
    showPicture(picture);
    fetchBackground(urlString, false);
}

void Backdrops::setBackgroundVideo(const QString& urlString)
{
    if (isRemote(urlString)) {
        fetchBackground(urlString, true);
        return;
    }
    const std::optional<QString> path = localPath(urlString);
    if (!path) {
        logLine("background video not supported:", printableText(urlString));
        return;
    }
    if (!startVideo(*path))
        return;
    cancelDownload();
    fetchBackground(urlString, true);
}

void Backdrops::fetchBackground(const std::optional<QString>& urlString, bool video)
{
    if (!urlString) {
        if (const std::optional<QString> stored = settings.text(keys::BACKGROUND))
            setBackground(*stored);
        return;
    }
    if (isRemote(*urlString)) {
        startDownload(*urlString, video);
        return;
    }
    // A local choice is already shown or playing: only the setting is written.
    settings.setText(keys::BACKGROUND, *urlString);
}

QImage Backdrops::backgroundImage() const
{
    return loadDefaultImage(settings.text(keys::BACKGROUND));
}

void Backdrops::restoreBackground(const QImage& first)
{
    chosenPicture = first;
    views.desktopView->setContents(aspectFilled(chosenPicture, outputSize));
    const std::optional<QString> stored = settings.text(keys::BACKGROUND);
    if (!stored)
        return;
    const QString extension = backdropExtension(*stored);
    if ((extension == "mov" || extension == "mp4") && localPath(*stored))
        startVideo(*localPath(*stored));
}

void Backdrops::showPicture(const QImage& picture)
{
    chosenPicture = picture;
    views.desktopView->setContents(aspectFilled(picture, outputSize));
    views.desktopView->setHidden(false);
    stopVideo();
    if (showPreview)
        showPreview();
}

void Backdrops::stopVideo()
{
    player.reset();
    playingPath.clear();
    views.videoDesktopView->setHidden(true);
    views.videoDesktopView->setContents(QImage());
    views.videoDesktopView->setPlanarContents(nullptr);
}

bool Backdrops::startVideo(const QString& path)
{
    QString error;
    std::unique_ptr<VideoFile> file = videoFiles.open(path, outputSize, error);
    if (!file) {
        logLine("background video not playable:", printableText(path), printableText(error));
        return false;
    }
    player.reset();
    playingPath = path;
    // The picture stays until the video's first picture is there: no black flash.
    std::weak_ptr<SceneLayer> desktop = views.desktopView;
    std::weak_ptr<SceneLayer> video = views.videoDesktopView;
    player = std::make_unique<VideoPlayerLooped>(std::move(file), [desktop, video](const VideoPicture& picture) {
        const auto videoView = video.lock();
        if (!videoView)
            return;
        videoView->setContents(picture.image);
        videoView->setPlanarContents(picture.planar);
        if (videoView->isHidden()) {
            videoView->setHidden(false);
            if (const auto desktopView = desktop.lock())
                desktopView->setHidden(true);
        }
    });
    if (showPreview)
        showPreview();
    return true;
}

bool Backdrops::isPlayableVideo(const QString& path, QString* problem)
{
    QString error;
    if (videoFiles.open(path, outputSize, error))
        return true;
    if (problem)
        *problem = "not a playable video: " + error;
    else
        logLine("background video not playable:", printableText(path), printableText(error));
    return false;
}

void Backdrops::setOutputSize(QSize size)
{
    if (size == outputSize || size.isEmpty())
        return;
    outputSize = size;
    views.desktopView->setContents(aspectFilled(chosenPicture, outputSize));
    if (player && !playingPath.isEmpty()) {
        const QString path = playingPath;
        startVideo(path);
    }
}

std::optional<QString> Backdrops::install(const QString& source, const QString& name, bool move)
{
    const QString target = filePath(name);
    if (QFileInfo(source).canonicalFilePath() == QFileInfo(target).canonicalFilePath())
        return target;
    // The copy goes in beside the target first, so the old file stays whole until the
    // new one is complete.
    const QString partial = target + ".part";
    QFile::remove(partial);
    const bool done = move ? QFile::rename(source, partial) : QFile::copy(source, partial);
    if (!done) {
        logLine("cannot copy the background", printableText(source));
        QFile::remove(partial);
        return std::nullopt;
    }
    QFile::remove(target);
    if (!QFile::rename(partial, target)) {
        logLine("cannot copy the background", printableText(target));
        QFile::remove(partial);
        return std::nullopt;
    }
    return target;
}

void Backdrops::handleDroppedFile(const QString& path)
{
    const QString extension = backdropExtension(path);
    if (isDocumentExtension(extension)) {
        if (openDocument)
            openDocument(path);
        else
            logLine("open document", printableText(path));
        return;
    }
    const bool video = extension == "mp4" || extension == "mov";
    // Only a usable file replaces the current copy.
    if (video ? !isPlayableVideo(path) : readBackdropPicture(path).isNull())
        return;
    const QString name = extension == "mp4" ? "background.mp4"
        : extension == "mov"                ? "background.mov"
                                            : "background.png";
    if (const std::optional<QString> target = install(path, name, false))
        setBackground(fileUrl(*target));
}

void Backdrops::showBuiltIn(const QString& name, const QString& fileName)
{
    const QImage picture = bundledImage(name);
    if (picture.isNull())
        return;
    const QString target = filePath("background.png");
    QFile::remove(target);
    if (!picture.save(target, "PNG"))
        logLine("cannot write the background copy", printableText(target));
    setBackground(fileName);
}

void Backdrops::showBigSur()
{
    showBuiltIn("bigsur", "bigsur.png");
}

void Backdrops::showMonterey()
{
    showBuiltIn("monterey", "monterey.jpg");
}

void Backdrops::showCatalina()
{
    showBuiltIn("10-15-Day", "10-15-Day.jpg");
}

void Backdrops::showMojave()
{
    showBuiltIn("10-14-Day", "10-14-Day.jpg");
}

void Backdrops::showBackgroundOpenPanel()
{
    OpenPanelSpec panel;
    panel.title = tr("Choose an image | Vistrale");
    // Where Linux desktops keep their wallpapers.
    panel.directory = QStringLiteral("/usr/share/backgrounds");
    panel.allowedTypes = QStringList{"heif", "heic", "png", "jpg", "jpeg"};
    const std::optional<QString> chosen = dialogs.runOpenPanel(panel);
    if (!chosen || readBackdropPicture(*chosen).isNull())
        return;
    if (const std::optional<QString> target = install(*chosen, "background.png", false))
        setBackground(fileUrl(*target));
}

void Backdrops::startDownload(const QString& urlString, bool video)
{
    cancelDownload();
    const QUrl url(urlString);
    if (!url.isValid() || url.host().isEmpty()) {
        logLine("background download failed:", printableText(urlString), "invalid address");
        return;
    }
    downloadFile = std::make_unique<QTemporaryFile>(filePath("download-XXXXXX"));
    if (!downloadFile->open()) {
        logLine("background download failed:", printableText(urlString), downloadFile->errorString());
        downloadFile.reset();
        return;
    }
    if (!network)
        network = std::make_unique<QNetworkAccessManager>();
    isVideoDownload = video;
    QNetworkRequest request(url);
    request.setTransferTimeout(DOWNLOAD_TIMEOUT_MS);
    // Redirects are followed, never from https to http, and never in circles.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(MAX_REDIRECTS);
    QNetworkReply* reply = network->get(request);
    download = reply;
    const qint64 limit = video ? maxVideoDownload : maxImageDownload;
    connect(reply, &QNetworkReply::readyRead, this, [this, reply, limit] {
        if (reply != download)
            return;
        const QByteArray chunk = reply->readAll();
        if (downloadFile->size() + chunk.size() > limit) {
            reply->setProperty("refused", QStringLiteral("larger than %1 bytes").arg(limit));
            reply->abort();
            return;
        }
        if (downloadFile->write(chunk) != chunk.size()) {
            reply->setProperty("refused", downloadFile->errorString());
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::metaDataChanged, this, [reply, limit] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > limit) {
            reply->setProperty("refused", QStringLiteral("larger than %1 bytes").arg(limit));
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, video] { downloadFinished(reply, video); });
}

void Backdrops::downloadFinished(QNetworkReply* reply, bool video)
{
    reply->deleteLater();
    if (reply != download)
        return;
    download.clear();
    std::unique_ptr<QTemporaryFile> file = std::move(downloadFile);
    isVideoDownload = false;
    const QString address = printableText(reply->url().toString());
    const QString refused = reply->property("refused").toString();
    if (!refused.isEmpty() || reply->error() != QNetworkReply::NoError) {
        logLine(
            "background download failed:", address, printableText(refused.isEmpty() ? reply->errorString() : refused));
        return;
    }
    file->write(reply->readAll());
    file->flush();
    const QString path = file->fileName();
    // What arrived must be what it claims to be.
    QString problem;
    if (video ? !isPlayableVideo(path, &problem) : readBackdropPicture(path, &problem).isNull()) {
        logLine("background download failed:", address, printableText(problem));
        return;
    }
    file->setAutoRemove(false);
    file->close();
    const std::optional<QString> target = install(path, video ? "downloaded.mp4" : "downloaded.png", true);
    if (!target) {
        QFile::remove(path);
        return;
    }
    setBackground(fileUrl(*target));
}

void Backdrops::cancelDownload()
{
    if (QNetworkReply* reply = download.data()) {
        download.clear();
        reply->abort();
        reply->deleteLater();
    }
    downloadFile.reset();
    isVideoDownload = false;
}

} // namespace vistrale
