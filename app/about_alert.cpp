#include "app/about_alert.h"

#include <QObject>

namespace vistrale {

AlertSpec aboutAlertSpec(const QString& version, const QString& shortcutDisplay)
{
    AlertSpec alert;
    alert.message = QObject::tr("Vistrale") + " " + "version " + (version.isEmpty() ? QString("1.0.0") : version);
    QString text = QObject::tr("Mouse over any window and press {{shorcut}} and it will appear in the preview "
                               "window\n\nPick «Vistrale» in your video app instead of your entire screen\n\nRecord "
                               "Vistrale with or without audio");
    alert.informative = text.replace("{{shorcut}}", shortcutDisplay);
    // The alert's second button ("Cancel") is hidden: only "OK" shows.
    alert.defaultButton = QObject::tr("OK");
    return alert;
}

} // namespace vistrale
