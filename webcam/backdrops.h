#pragma once

#include <QImage>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class QNetworkAccessManager;
class QTemporaryFile;

namespace vistrale {

class Dialogs;
class SceneLayer;
class Settings;
class VideoFiles;
class VideoPlayerLooped;

// The output's backdrop: a still picture in `desktopView` or a muted looping video in
// `videoDesktopView`, exactly one of them visible. Choices come from built-in
// pictures, an open panel, dropped files and addresses; local copies and downloads live
// in the data folder, the choice persists in "background". Bad input (a file that is
// no picture or no playable video, a failed download) gets one log line and leaves the
// current backdrop as it is. Main thread only, except setBackground.
class Backdrops : public QObject {
public:
    struct Views {
        std::shared_ptr<SceneLayer> desktopView;
        std::shared_ptr<SceneLayer> videoDesktopView;
    };
    // `folder` is the data folder the copies go to.
    Backdrops(
        Settings& settings, Dialogs& dialogs, VideoFiles& videoFiles, Views views, QSize outputSize, QString folder);
    ~Backdrops() override;

    // Called whenever a backdrop was applied: the preview is shown.
    void setShowPreview(std::function<void()> handler) { showPreview = std::move(handler); }
    // Where documents dropped on the preview go (the document viewer). Without one they
    // are logged.
    void setDocumentHandler(std::function<void(const QString& path)> handler) { openDocument = std::move(handler); }

    // Any thread: applies the backdrop later on the main thread; a "mov" or "mp4" path
    // extension (any case) makes it a video, anything else a picture.
    void setBackground(const QString& urlString);
    // A picture: a bundled name ("bigsur.png"), a file URL or path, a "data:image/" URL or
    // a remote address (downloaded first).
    void setBackgroundImage(const QString& urlString);
    // A video: a file URL or path, or a remote address (downloaded first).
    void setBackgroundVideo(const QString& urlString);
    // Stores a local choice, or downloads a remote one and then applies the local copy.
    // Without a URL the stored "background" is applied again.
    void fetchBackground(const std::optional<QString>& urlString, bool video);
    // The picture to show first: the stored background when it is a picture, else
    // "ventura-blue".
    QImage backgroundImage() const;
    // At start-up: shows `first` (the stored picture, see backgroundImage) and starts a
    // stored video.
    void restoreBackground(const QImage& first);
    // A file dropped on the preview outside the webcam: documents go to the document
    // viewer; pictures and videos are copied to the data folder and become the backdrop.
    void handleDroppedFile(const QString& path);
    // The built-in choices.
    void showBigSur();
    void showMonterey();
    void showCatalina();
    void showMojave();
    // Asks for a picture file and makes a copy of it the backdrop.
    void showBackgroundOpenPanel();
    // A new output size: the picture is scaled again, a video restarts at that size.
    void setOutputSize(QSize size);

    // Video downloads underway; the current player (null while a picture shows).
    bool isVideoDownload = false;
    VideoPlayerLooped* videoPlayerLooped() const { return player.get(); }
    bool downloading() const { return download != nullptr; }
    // Largest download accepted, in bytes.
    qint64 maxImageDownload = 50LL * 1024 * 1024;
    qint64 maxVideoDownload = 200LL * 1024 * 1024;

private:
    void showBuiltIn(const QString& name, const QString& fileName);
    void showPicture(const QImage& picture);
    void stopVideo();
    bool startVideo(const QString& path);
    void startDownload(const QString& urlString, bool video);
    void downloadFinished(QNetworkReply* reply, bool video);
    void cancelDownload();
    // Replaces `name` in the data folder by `source` (copied, or moved when `move`); the
    // old file is removed first. The new file's path, or nothing (with a log line).
    std::optional<QString> install(const QString& source, const QString& name, bool move);
    // Whether the file plays; why not goes to `problem` when one is given, else to the log.
    bool isPlayableVideo(const QString& path, QString* problem = nullptr);
    QString filePath(const QString& name) const;

    Settings& settings;
    Dialogs& dialogs;
    VideoFiles& videoFiles;
    Views views;
    QSize outputSize;
    QString folder;
    std::function<void()> showPreview;
    std::function<void(const QString&)> openDocument;
    std::unique_ptr<VideoPlayerLooped> player;
    QString playingPath;
    std::unique_ptr<QNetworkAccessManager> network;
    QPointer<QNetworkReply> download;
    std::unique_ptr<QTemporaryFile> downloadFile;
    // The picture as chosen, before scaling to the output.
    QImage chosenPicture;
};

// The extension of a path or URL, lower-cased ("PDF" → "pdf").
QString backdropExtension(const QString& pathOrUrl);
// Files the document viewer shows rather than the backdrop.
bool isDocumentExtension(const QString& extension);

} // namespace vistrale
