#include "platform/dialogs.h"

#include <QObject>

namespace vistrale {

bool confirmationDialog(Dialogs& dialogs, const QString& message, const QString& informative,
    const QString& defaultButton, const std::optional<QString>& secondButton)
{
    dialogs.activateApplication();
    return dialogs.runAlert(AlertSpec{message, informative, defaultButton, secondButton});
}

void informationAlert(Dialogs& dialogs, const QString& message, const QString& informative)
{
    confirmationDialog(dialogs, message, informative, QObject::tr("Close"));
}

} // namespace vistrale
