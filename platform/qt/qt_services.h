#pragma once

#include "platform/clipboard.h"
#include "platform/notifications.h"
#include "platform/permissions.h"
#include "platform/screens.h"
#include "platform/sounds.h"

#include <QObject>

namespace vistrale {

// Displays as Qt sees them; the primary screen first. Frames are converted to the
// core's bottom-left convention against the primary screen's bottom edge.
class QtScreens : public Screens {
public:
    QtScreens();
    ~QtScreens() override;
    QList<ScreenInfo> screens() const override;
    void setChangeHandler(std::function<void()> handler) override;

private:
    void watch();
    std::function<void()> onChange;
    QObject context;
};

// The bundled sound effects (":/sounds/NAME.wav") through QSoundEffect; silent where
// there is no audio device.
class QtSounds : public Sounds {
public:
    std::unique_ptr<Sound> load(const QString& name) override;
};

class QtAudioDevices : public AudioDevices {
public:
    QString defaultInputName() override;
};

// The desktop's clipboard through QClipboard.
class QtClipboard : public Clipboard {
public:
    void setImage(const QImage& image) override;
    QImage image() const override;
    std::optional<QString> text() const override;
};

// Screen recording needs no permission on X11.
class GrantedPermissions : public Permissions {
public:
    bool screenCaptureAllowed() override { return true; }
};

} // namespace vistrale
