#pragma once

#include <QJsonValue>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>

class QWebEngineView;
class QWidget;

namespace vistrale {

class PageWindow;
class SystemActions;
class WebViewWindowController;

// What a local page may ask of the application: the requests of the message table and
// nothing else. Main thread.
class PageDelegate {
public:
    virtual ~PageDelegate() = default;
    // "version": the display string of the stored shortcut.
    virtual QString shortcutDisplayString() = 0;
    // "m" / "h": a remote pointer in the page's 1024 × 1024 space (top-left origin).
    virtual void moveRemotePointer(const QString& uuid, int x, int y) = 0;
    virtual void hideRemotePointer(const QString& uuid) = 0;
    // "pick-image" / "pick-video": the address the page chose.
    virtual void pickImage(const QString& url) = 0;
    virtual void pickVideo(const QString& url) = 0;
    // "save-transcript": the edited captions in their exchange form.
    virtual void saveTranscript(const QString& vtt, WebViewWindowController& page) = 0;
    // The window closed, whatever closed it ("close", the window manager); the page is
    // gone already. The delegate may release the controller (deleteLater) from here.
    virtual void pageClosed(WebViewWindowController& page) = 0;
};

// One local page ("welcome", "backgrounds", "transcript") in a window of its own: the
// page's theme, the script bridge "toggleMessageHandler", the page's dialogs, media
// requests and links. The page may navigate only within its own file; a link the user
// activates opens in the default browser instead. Main thread only.
class WebViewWindowController : public QObject {
    Q_OBJECT
public:
    struct Options {
        // The resource folder of the pages (":/website"); "<page>.html" is loaded.
        QString pagesFolder = QStringLiteral(":/website");
        // Where "transcript.html" is copied before it is loaded (the user's cache
        // folder, which also holds the recorded audio it plays).
        QString cacheFolder;
        bool dark = false;
        // False: the window has no close button (the page closes it).
        bool closable = true;
    };
    // Builds the window, loads the page and shows the window at once. A page missing
    // from the resources leaves an empty themed window.
    WebViewWindowController(const QString& page, PageDelegate* delegate, const QString& title,
        SystemActions& systemActions, Options options);
    ~WebViewWindowController() override;

    // setVersion('version V','S'): V the application's version ("1.0.0" without one).
    void setVersion(const QString& shortcutText);
    // setProgress(P) while the edited captions are being stored.
    void setProgress(double progress);
    // Shows the window again and raises it.
    void showWindow();
    // Closes the window (with the clean-up); pageClosed follows.
    void close();

    // The caption editor's input: the audio's address and the escaped caption text.
    QString audioString;
    QString vtt;

    QString page() const { return pageName; }
    QWidget* window() const;
    QWebEngineView* webView() const { return view; }
    // The address loaded; empty when the page was missing.
    QUrl pageUrl() const { return loadedUrl; }
    bool isOpen() const { return view != nullptr; }
    // The caption editor's page has asked for its captions and been given them.
    bool transcriptFetched() const { return fetched; }

    // Evaluates script in the page; results and errors are ignored.
    void evaluate(const QString& script);

private:
    friend class PageWindow;
    void load(const QString& page);
    void didReceiveScriptMessage(const QJsonValue& body);
    // The window is closing: the page is dropped, the delegate hears of it once.
    void windowClosing();
    // Runs `work` on the main queue unless this controller is gone by then.
    void later(std::function<void()> work);

    QString pageName;
    PageDelegate* delegate;
    SystemActions& systemActions;
    Options options;
    std::unique_ptr<PageWindow> pageWindow;
    QWebEngineView* view = nullptr;
    QUrl loadedUrl;
    bool closed = false;
    bool fetched = false;
};

} // namespace vistrale
