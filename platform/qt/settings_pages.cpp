#include "platform/qt/settings_pages.h"

#include <QObject>

namespace vistrale {

std::optional<SettingsPage> settingsPageFor(const QString& address)
{
    static const QString scheme = "x-apple.systempreferences:";
    if (!address.startsWith(scheme))
        return std::nullopt;
    const QString anchor = address.section('?', 1);

    if (anchor == "Privacy_ScreenCapture")
        return SettingsPage{{},
            QObject::tr("On an X11 desktop every application may record the screen; "
                        "there is no permission to grant.")};
    if (anchor == "Privacy_Camera")
        return SettingsPage{{{"gnome-control-center", {"privacy"}}},
            QObject::tr("Make sure your user may use the camera (the \"video\" group) and "
                        "that no other application holds it.")};
    if (anchor == "Privacy_Microphone" || address.contains("sound", Qt::CaseInsensitive))
        return SettingsPage{{{"pavucontrol", {"--tab=4"}}, {"gnome-control-center", {"sound"}}},
            QObject::tr("Choose the input device in your desktop's sound settings.")};
    if (anchor == "Privacy_SpeechRecognition")
        return SettingsPage{{}, QObject::tr("Speech recognition runs on this computer; no permission is needed.")};
    return SettingsPage{{{"gnome-control-center", {}}}, QObject::tr("Open your desktop's settings.")};
}

} // namespace vistrale
