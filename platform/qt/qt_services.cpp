#include "platform/qt/qt_services.h"

#include <QAudioDevice>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QMediaDevices>
#include <QMimeData>
#include <QScreen>
#include <QSoundEffect>
#include <QUrl>

namespace vistrale {

QtScreens::QtScreens()
{
    watch();
}

QtScreens::~QtScreens() = default;

QList<ScreenInfo> QtScreens::screens() const
{
    QList<ScreenInfo> result;
    QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary)
        return result;
    const QRect main = primary->geometry();
    const double bottom = main.y() + main.height();
    QList<QScreen*> ordered = QGuiApplication::screens();
    ordered.removeAll(primary);
    ordered.prepend(primary);
    quint32 number = 1;
    for (QScreen* screen : ordered) {
        const QRect g = screen->geometry();
        result.append(
            ScreenInfo{QRectF(g.x(), bottom - (g.y() + g.height()), g.width(), g.height()), screen->name(), number++});
    }
    return result;
}

void QtScreens::setChangeHandler(std::function<void()> handler)
{
    onChange = std::move(handler);
}

void QtScreens::watch()
{
    auto changed = [this] {
        if (onChange)
            onChange();
    };
    auto follow
        = [this, changed](QScreen* screen) { QObject::connect(screen, &QScreen::geometryChanged, &context, changed); };
    for (QScreen* screen : QGuiApplication::screens())
        follow(screen);
    QObject::connect(qGuiApp, &QGuiApplication::screenAdded, &context, [follow, changed](QScreen* screen) {
        follow(screen);
        changed();
    });
    QObject::connect(qGuiApp, &QGuiApplication::screenRemoved, &context, changed);
    QObject::connect(qGuiApp, &QGuiApplication::primaryScreenChanged, &context, changed);
}

namespace {

class QtSound : public Sound {
public:
    explicit QtSound(const QString& path) { effect.setSource(QUrl("qrc" + path)); }
    bool isPlaying() const override { return effect.isPlaying(); }
    void stop() override { effect.stop(); }
    void play() override
    {
        effect.stop();
        effect.play();
    }

private:
    QSoundEffect effect;
};

} // namespace

std::unique_ptr<Sound> QtSounds::load(const QString& name)
{
    const QString path = ":/sounds/" + name + ".wav";
    if (name.contains('/') || !QFile::exists(path))
        return nullptr;
    return std::make_unique<QtSound>(path);
}

void QtClipboard::setImage(const QImage& image)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setImage(image);
}

QImage QtClipboard::image() const
{
    return QGuiApplication::clipboard()->image();
}

std::optional<QString> QtClipboard::text() const
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (!data || !data->hasText())
        return std::nullopt;
    return data->text();
}

QString QtAudioDevices::defaultInputName()
{
    const QAudioDevice device = QMediaDevices::defaultAudioInput();
    return device.isNull() ? QString() : device.description();
}

} // namespace vistrale
