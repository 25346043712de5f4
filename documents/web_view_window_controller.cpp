#include "documents/web_view_window_controller.h"

#include "documents/color_scheme.h"
#include "documents/page_messages.h"
#include "platform/log.h"
#include "platform/system_actions.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QWidget>
#include <unistd.h>

namespace vistrale {
namespace {

bool leavesForTheBrowser(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https") || scheme == QLatin1String("mailto");
}

void openInBrowser(SystemActions& systemActions, const QUrl& url)
{
    if (!leavesForTheBrowser(url)) {
        logLine("link not opened", printableText(url.toString()));
        return;
    }
    systemActions.openUrl(url);
}

// One profile for every page: nothing of the pages is kept on disk. Chromium refuses
// its sandbox to the administrator, so pages run without it there (they are our own).
QWebEngineProfile* pagesProfile()
{
    if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    static QWebEngineProfile* profile = new QWebEngineProfile(QCoreApplication::instance());
    return profile;
}

// Defines window.webkit.messageHandlers.toggleMessageHandler.postMessage over the web
// channel; bodies posted before the channel is up wait for it. Bodies go through JSON,
// so only plain data reaches the application.
QString bridgeScript(bool dark)
{
    QFile channel(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
    QString source;
    if (channel.open(QIODevice::ReadOnly))
        source = QString::fromUtf8(channel.readAll());
    else
        logLine("web channel script missing");
    source += QStringLiteral(R"JS(
(function () {
  var pending = [], handler = null;
  window.vistraleTheme = '%1';
  function send(body) { if (handler) handler.postMessage(body); else pending.push(body); }
  window.webkit = { messageHandlers: { toggleMessageHandler: { postMessage: function (body) {
    var plain = null;
    try { plain = JSON.parse(JSON.stringify(body === undefined ? null : body)); } catch (e) { return; }
    send(plain);
  } } } };
  new QWebChannel(qt.webChannelTransport, function (channel) {
    handler = channel.objects.toggleMessageHandler;
    pending.forEach(function (body) { handler.postMessage(body); });
    pending = [];
  });
})();
)JS")
                  .arg(dark ? QStringLiteral("dark") : QStringLiteral("light"));
    return source;
}

} // namespace

// The receiving end of the bridge: one slot, the page's postMessage.
class PageBridge : public QObject {
    Q_OBJECT
public:
    explicit PageBridge(std::function<void(const QJsonValue&)> received, QObject* parent)
        : QObject(parent)
        , received(std::move(received))
    {
    }

public slots:
    void postMessage(const QJsonValue& body) { received(body); }

private:
    std::function<void(const QJsonValue&)> received;
};

// Opens the address of a window the page asked for (a target=_blank link) in the
// browser, then goes away.
class LinkCatcher : public QWebEnginePage {
public:
    LinkCatcher(QWebEngineProfile* profile, SystemActions& systemActions, QObject* parent)
        : QWebEnginePage(profile, parent)
        , systemActions(systemActions)
    {
    }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool) override
    {
        openInBrowser(systemActions, url);
        deleteLater();
        return false;
    }

private:
    SystemActions& systemActions;
};

// The page: its dialogs answer at once without showing anything, links the user
// activates go to the browser, and no navigation leaves the page's own file.
class LocalPage : public QWebEnginePage {
public:
    LocalPage(QWebEngineProfile* profile, SystemActions& systemActions, QObject* parent)
        : QWebEnginePage(profile, parent)
        , systemActions(systemActions)
    {
        connect(this, &QWebEnginePage::featurePermissionRequested, this, [this](const QUrl& origin, Feature feature) {
            const bool media
                = feature == MediaAudioCapture || feature == MediaVideoCapture || feature == MediaAudioVideoCapture;
            if (media)
                logLine("requestMediaCapture");
            setFeaturePermission(origin, feature, media ? PermissionGrantedByUser : PermissionDeniedByUser);
        });
    }

    QUrl home;
    // Files the user chose in the page's file chooser, oldest first.
    QStringList chosenFiles;
    // The user clicked or pressed a key in the page just now: the next link navigation is
    // theirs. Script navigations are reported as link clicks too, so without such an
    // input a link is not opened.
    void userActed() { userInput.start(); }

protected:
    void javaScriptAlert(const QUrl&, const QString& message) override { logLine("alert called", message); }
    bool javaScriptConfirm(const QUrl&, const QString& message) override
    {
        logLine("confirm called", message);
        return true;
    }
    bool javaScriptPrompt(const QUrl&, const QString& message, const QString&, QString* result) override
    {
        logLine("prompt called", message, "returning=vistrale");
        *result = QStringLiteral("vistrale");
        return true;
    }

    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override
    {
        const bool samePage = url.adjusted(QUrl::RemoveFragment) == home.adjusted(QUrl::RemoveFragment);
        if (type == NavigationTypeLinkClicked && !samePage) {
            if (takeUserInput())
                openInBrowser(systemActions, url);
            else
                logLine("navigation refused", printableText(url.toString()));
            return false;
        }
        if (samePage || (!isMainFrame && url.scheme() == QLatin1String("about")))
            return true;
        logLine("navigation refused", printableText(url.toString()));
        return false;
    }

    QStringList chooseFiles(FileSelectionMode mode, const QStringList& oldFiles, const QStringList& types) override
    {
        const QStringList chosen = QWebEnginePage::chooseFiles(mode, oldFiles, types);
        chosenFiles << chosen;
        return chosen;
    }

    // A target=_blank link: its address goes to the browser when the user asked for it.
    QWebEnginePage* createWindow(WebWindowType) override
    {
        if (!takeUserInput()) {
            logLine("new window refused");
            return nullptr;
        }
        return new LinkCatcher(profile(), systemActions, this);
    }

private:
    // True once after each user input within the last second.
    bool takeUserInput()
    {
        const bool byUser = userInput.isValid() && userInput.elapsed() < USER_LINK_MS;
        userInput.invalidate();
        return byUser;
    }

    static constexpr qint64 USER_LINK_MS = 1000;
    SystemActions& systemActions;
    QElapsedTimer userInput;
};

class PageWindow : public QWidget {
public:
    explicit PageWindow(WebViewWindowController& controller)
        : controller(controller)
    {
        // The page's widgets come and go with its renderer: their input is seen here.
        QCoreApplication::instance()->installEventFilter(this);
    }

    LocalPage* page = nullptr;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if (page && (type == QEvent::MouseButtonRelease || type == QEvent::KeyPress) && watched->isWidgetType()
            && static_cast<QWidget*>(watched)->window() == this)
            page->userActed();
        return false;
    }

protected:
    void closeEvent(QCloseEvent* event) override
    {
        controller.windowClosing();
        event->accept();
    }

private:
    WebViewWindowController& controller;
};

WebViewWindowController::WebViewWindowController(
    const QString& page, PageDelegate* delegate, const QString& title, SystemActions& systemActions, Options options)
    : pageName(page)
    , delegate(delegate)
    , systemActions(systemActions)
    , options(std::move(options))
    , pageWindow(std::make_unique<PageWindow>(*this))
{
    QWidget& window = *pageWindow;
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    if (!this->options.closable) {
        window.setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    } else {
        window.setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    }
    if (!title.isEmpty())
        window.setWindowTitle(title);
    window.resize(800, 800);
    window.setMinimumSize(800, 400);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        window.move(screen->availableGeometry().center() - QPoint(400, 400));
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, pageBackground(this->options.dark));
    window.setPalette(palette);
    window.setAutoFillBackground(true);

    view = new QWebEngineView(&window);
    auto* localPage = new LocalPage(pagesProfile(), systemActions, view);
    pageWindow->page = localPage;
    localPage->setBackgroundColor(pageBackground(this->options.dark));
    QWebEngineSettings* settings = localPage->settings();
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);

    auto* channel = new QWebChannel(localPage);
    channel->registerObject(QStringLiteral("toggleMessageHandler"),
        new PageBridge([this](const QJsonValue& body) { didReceiveScriptMessage(body); }, channel));
    localPage->setWebChannel(channel);
    QWebEngineScript bridge;
    bridge.setName(QStringLiteral("toggleMessageHandler"));
    bridge.setInjectionPoint(QWebEngineScript::DocumentCreation);
    bridge.setWorldId(QWebEngineScript::MainWorld);
    bridge.setRunsOnSubFrames(false);
    bridge.setSourceCode(bridgeScript(this->options.dark));
    localPage->scripts().insert(bridge);
    view->setPage(localPage);
    view->resize(800, 800);

    load(page);
    showWindow();
}

WebViewWindowController::~WebViewWindowController()
{
    closed = true;
    pageWindow->page = nullptr;
    delete view;
    view = nullptr;
}

void WebViewWindowController::load(const QString& page)
{
    const QString resource = options.pagesFolder + QLatin1Char('/') + page + QStringLiteral(".html");
    if (!QFile::exists(resource)) {
        logLine("page not found", printableText(resource));
        return;
    }
    QUrl url;
    if (page == QLatin1String("transcript")) {
        // The editor plays the recorded audio from the cache folder, so it runs from
        // there too.
        const QString copy = QDir(options.cacheFolder).filePath(QStringLiteral("transcript.html"));
        QDir().mkpath(options.cacheFolder);
        QFile::remove(copy);
        QFile::copy(resource, copy);
        url = QUrl::fromLocalFile(copy);
    } else if (resource.startsWith(QLatin1Char(':'))) {
        url = QUrl(QStringLiteral("qrc") + resource);
    } else {
        url = QUrl::fromLocalFile(QFileInfo(resource).absoluteFilePath());
    }
    loadedUrl = url;
    static_cast<LocalPage*>(view->page())->home = url;
    view->load(url);
}

QWidget* WebViewWindowController::window() const
{
    return pageWindow.get();
}

void WebViewWindowController::showWindow()
{
    pageWindow->show();
    pageWindow->raise();
    pageWindow->activateWindow();
}

void WebViewWindowController::close()
{
    pageWindow->close();
}

void WebViewWindowController::windowClosing()
{
    if (closed)
        return;
    closed = true;
    pageWindow->page = nullptr;
    if (view) {
        view->setParent(nullptr);
        view->deleteLater();
        view = nullptr;
    }
    if (delegate)
        delegate->pageClosed(*this);
}

void WebViewWindowController::evaluate(const QString& script)
{
    if (view)
        view->page()->runJavaScript(script);
}

void WebViewWindowController::setVersion(const QString& shortcutText)
{
    QString version = QCoreApplication::applicationVersion();
    if (version.isEmpty())
        version = QStringLiteral("1.0.0");
    evaluate(pageCall(QStringLiteral("setVersion"), {QStringLiteral("version ") + version, shortcutText}));
}

void WebViewWindowController::setProgress(double progress)
{
    evaluate(QStringLiteral("setProgress(%1)").arg(progress, 0, 'g', 6));
}

void WebViewWindowController::later(std::function<void()> work)
{
    QMetaObject::invokeMethod(
        this,
        [token = QPointer<WebViewWindowController>(this), work = std::move(work)] {
            if (token)
                work();
        },
        Qt::QueuedConnection);
}

void WebViewWindowController::didReceiveScriptMessage(const QJsonValue& body)
{
    const std::optional<PageRequest> request = pageRequest(body);
    if (!request || !delegate || closed)
        return;
    switch (request->kind) {
    case PageRequest::Version:
        setVersion(delegate->shortcutDisplayString());
        break;
    case PageRequest::LiveReady:
        logLine("calling setCamera", "Vistrale Camera");
        evaluate(pageCall(QStringLiteral("setCamera"), {QStringLiteral("Vistrale Camera")}));
        break;
    case PageRequest::FetchTranscript:
        evaluate(pageCall(QStringLiteral("init"), {audioString, vtt}));
        fetched = true;
        break;
    case PageRequest::MovePointer:
        later([this, r = *request] { delegate->moveRemotePointer(r.uuid, r.x, r.y); });
        break;
    case PageRequest::HidePointer:
        later([this, uuid = request->uuid] { delegate->hideRemotePointer(uuid); });
        break;
    case PageRequest::PickImage:
    case PageRequest::PickVideo: {
        const QString url = chosenFileAddress(request->url, static_cast<LocalPage*>(view->page())->chosenFiles);
        if (url.isEmpty())
            break;
        if (request->kind == PageRequest::PickImage)
            later([this, url] { delegate->pickImage(url); });
        else
            later([this, url] { delegate->pickVideo(url); });
        break;
    }
    case PageRequest::SaveTranscript:
        later([this, text = request->vtt] { delegate->saveTranscript(text, *this); });
        break;
    case PageRequest::Close:
        later([this] { close(); });
        break;
    }
}

} // namespace vistrale

#include "web_view_window_controller.moc"
