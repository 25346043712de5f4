// The local pages on Qt WebEngine (offscreen): each page loads, speaks the message
// protocol through the injected bridge, and its requests reach the application.
#include "documents/web_pages.h"
#include "overlays/cursor_window_controller.h"
#include "platform/fake/fake_desktop.h"
#include "platform/fake/fake_services.h"
#include "tests/support/wait_until.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWidget>
#include <gtest/gtest.h>

using namespace vistrale;
using vistrale::test::waitUntil;

namespace {

constexpr int PAGE_WAIT_MS = 30000;

// The script's value, once the page answered; an invalid QVariant when it did not.
QVariant evaluated(WebViewWindowController& page, const QString& script)
{
    auto result = std::make_shared<std::optional<QVariant>>();
    page.webView()->page()->runJavaScript(script, [result](const QVariant& value) { *result = value; });
    waitUntil([&] { return result->has_value(); }, PAGE_WAIT_MS);
    return result->value_or(QVariant());
}

bool pageShows(WebViewWindowController& page, const QString& condition)
{
    return waitUntil([&] { return evaluated(page, "!!(" + condition + ")").toBool(); }, PAGE_WAIT_MS);
}

// A real click of the user, in the middle of the element.
void click(WebViewWindowController& page, const QString& selector)
{
    const QVariantList centre = evaluated(page,
        "(function(){var r=document.querySelector('" + selector
            + "').getBoundingClientRect();return [r.left+r.width/2,r.top+r.height/2];})()")
                                    .toList();
    ASSERT_EQ(centre.size(), 2) << selector.toStdString();
    QWidget* target = page.webView()->focusProxy();
    const QPointF point(centre[0].toDouble(), centre[1].toDouble());
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, point, target->mapToGlobal(point), Qt::LeftButton,
            type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &event);
    }
}

class WebPagesTest : public testing::Test {
protected:
    WebPagesTest()
    {
        pages = std::make_unique<WebPages>(WebPages::Services{systemActions, ownWindows, [this] { return shortcut; },
            [] { return QSizeF(1920, 1080); }, [this](const QString& url) { images << url; },
            [this](const QString& url) { videos << url; },
            [this](const QString& vtt) {
                storedVtt << vtt;
                pages->saveTranscript(vtt);
            },
            [] {}, cache.path(), QStringLiteral(":/website"), [this] { return dark; }});
    }

    ~WebPagesTest() override
    {
        pages.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    FakeSystemActions systemActions;
    FakeOwnWindows ownWindows;
    QTemporaryDir cache;
    QString shortcut = QStringLiteral("Super+F1");
    bool dark = false;
    QStringList images, videos, storedVtt;
    std::unique_ptr<WebPages> pages;
};

} // namespace

TEST_F(WebPagesTest, HelpShowsVersionAndShortcutAnswersDialogsAndSendsLinksToTheBrowser)
{
    pages->showHelpPage();
    WebViewWindowController* help = pages->help();
    ASSERT_TRUE(help);
    EXPECT_EQ(help->window()->windowTitle(), "Vistrale Help");
    EXPECT_EQ(help->window()->size(), QSize(800, 800));
    EXPECT_EQ(help->window()->minimumSize(), QSize(800, 400));
    const QString version = "version " + QCoreApplication::applicationVersion();
    ASSERT_TRUE(pageShows(*help,
        "document.getElementById('version').textContent=="
            + QString(version == "version " ? "'version 1.0.0'" : "'" + version + "'")
            + "&&document.getElementById('shortcut').textContent=='Super+F1'"));

    // A changed shortcut reaches the open page; asking twice shows the same window.
    pages->shortcutChanged("Ctrl+Alt+K'\\");
    EXPECT_TRUE(pageShows(*help, R"(document.getElementById('shortcut').textContent=="Ctrl+Alt+K'\\")"));
    pages->showHelpPage();
    EXPECT_EQ(pages->help(), help);

    EXPECT_EQ(evaluated(*help, "prompt('name?')").toString(), "vistrale");
    EXPECT_EQ(evaluated(*help, "confirm('sure?')").toBool(), true);

    // A link the user clicks opens in the browser; the page stays where it was; a
    // script cannot take the page away.
    const QUrl home = help->webView()->url();
    click(*help, "a");
    ASSERT_TRUE(waitUntil([&] { return !systemActions.opened.empty(); }, PAGE_WAIT_MS));
    EXPECT_EQ(systemActions.opened.front(), QUrl("https://vistrale.app/"));
    evaluated(*help, "location.href='https://example.com/'");
    evaluated(*help, "location.href='file:///etc/passwd'");
    EXPECT_TRUE(pageShows(*help, "document.getElementById('version')"));
    EXPECT_EQ(help->webView()->url(), home);
    EXPECT_EQ(systemActions.opened.size(), 1u) << systemActions.opened.back().toString().toStdString();

    help->window()->close();
    EXPECT_EQ(pages->help(), nullptr);
}

TEST_F(WebPagesTest, PagesTakeTheDesktopsDarkOrLightTheme)
{
    for (const bool isDark : {true, false}) {
        dark = isDark;
        pages->showBackgroundPicker();
        WebViewWindowController* picker = pages->backgroundPicker();
        ASSERT_TRUE(picker);
        EXPECT_EQ(picker->window()->palette().color(QPalette::Window), isDark ? QColor(Qt::black) : QColor(Qt::white));
        EXPECT_TRUE(pageShows(*picker,
            "getComputedStyle(document.body).backgroundColor=='"
                + QString(isDark ? "rgb(0, 0, 0)" : "rgb(255, 255, 255)") + "'"));
        picker->close();
        EXPECT_EQ(pages->backgroundPicker(), nullptr);
    }
}

TEST_F(WebPagesTest, BackgroundPickerAndRemotePointersReachTheApplication)
{
    pages->showBackgroundPicker();
    WebViewWindowController* picker = pages->backgroundPicker();
    ASSERT_TRUE(pageShows(*picker, "document.querySelectorAll('#gallery img').length==5"));
    EXPECT_TRUE(pageShows(*picker, "document.querySelector('#gallery img').naturalWidth>0"))
        << "the built-in backdrops show";
    click(*picker, "#gallery button");
    ASSERT_TRUE(waitUntil([&] { return !images.isEmpty(); }, PAGE_WAIT_MS));
    EXPECT_EQ(images, QStringList{"ventura-blue.png"});
    evaluated(*picker,
        "document.getElementById('url').value='https://example.com/loop.MP4?x=1';"
        "document.querySelector('#address button').click()");
    ASSERT_TRUE(waitUntil([&] { return !videos.isEmpty(); }, PAGE_WAIT_MS));
    EXPECT_EQ(videos, QStringList{"https://example.com/loop.MP4?x=1"});

    const QString post = "window.webkit.messageHandlers.toggleMessageHandler.postMessage(%1)";
    evaluated(*picker, post.arg("{message:'m',uuid:'peer',x:'512',y:0}"));
    evaluated(*picker, post.arg("{message:'pick-image',url:42}"));
    evaluated(*picker, post.arg("{message:'m',uuid:'peer',x:512,y:0}"));
    ASSERT_TRUE(waitUntil([&] { return pages->remoteCursor("peer") != nullptr; }, PAGE_WAIT_MS));
    EXPECT_EQ(pages->remoteCursor("peer")->currentLocation, QPointF(960, 1080));
    EXPECT_FALSE(pages->remoteCursor("peer")->alreadyHidden);
    evaluated(*picker, post.arg("{message:'h',uuid:'peer'}"));
    EXPECT_TRUE(waitUntil([&] { return pages->remoteCursor("peer")->alreadyHidden; }, PAGE_WAIT_MS));
    EXPECT_EQ(images.size(), 1) << "a malformed message does nothing";
}

TEST_F(WebPagesTest, CaptionEditorShowsEditsAndStoresCaptionsAndAnyCloseContinuesTheSave)
{
    const QString subRip = "1\n00:00:00,500 --> 00:00:01,750\nit's here\n\n2\n00:00:02,000 --> 00:00:03,000\nsecond";
    for (const bool byPage : {true, false}) {
        int finished = 0;
        QStringList stored;
        pages->showTranscriptEditor(subRip, cache.filePath("tmp-1.m4a"),
            {[&](const QString& captions) { stored << captions; }, [&] { ++finished; }});
        WebViewWindowController* editor = pages->transcriptEditor();
        ASSERT_TRUE(editor);
        EXPECT_EQ(editor->window()->windowTitle(), "Vistrae - Edit Closed Captions");
        EXPECT_EQ(editor->pageUrl(), QUrl::fromLocalFile(cache.filePath("transcript.html")));
        ASSERT_TRUE(pageShows(*editor, "document.querySelectorAll('.entry').length==2"));
        EXPECT_TRUE(pageShows(*editor,
            "document.querySelector('.entry textarea').value==\"it's here\"&&"
            "document.getElementById('audio').src=='"
                + QUrl::fromLocalFile(cache.filePath("tmp-1.m4a")).toString() + "'"));
        EXPECT_NE(evaluated(*editor, "document.getElementById('audio').canPlayType('audio/mp4; codecs=\"mp4a.40.2\"')")
                      .toString(),
            "")
            << "the recorded sound (AAC) can be played";
        if (byPage) {
            evaluated(*editor,
                "document.querySelector('.entry textarea').value=\"it's fixed\";"
                "document.querySelector('.entry .start').value='00:00:00,400';"
                "document.getElementById('save').click()");
            ASSERT_TRUE(waitUntil([&] { return !stored.isEmpty(); }, PAGE_WAIT_MS));
            // Entries "text___start___end" in milliseconds, joined by "###".
            EXPECT_EQ(stored, QStringList{"it's fixed___400___1750###second___2000___3000"});
            EXPECT_EQ(storedVtt, stored);
            editor->setProgress(0.5);
            EXPECT_TRUE(pageShows(*editor, "document.getElementById('progress').value==50"));
            evaluated(*editor, "document.getElementById('close').click()");
        } else {
            // Closed by the window manager: the recording is saved all the same.
            editor->window()->close();
        }
        ASSERT_TRUE(waitUntil([&] { return finished == 1; }, PAGE_WAIT_MS));
        EXPECT_EQ(pages->transcriptEditor(), nullptr);
    }
}
