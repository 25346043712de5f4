#pragma once

#include <QString>
#include <optional>

namespace vistrale {

// An informational alert: a message, an informative text, a default button and an
// optional second button.
struct AlertSpec {
    QString message;
    QString informative;
    QString defaultButton;
    std::optional<QString> secondButton;
    bool warning = false;
};

// Modal dialogs. Main thread only; every call blocks until the user answers.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Brings the application in front of other applications.
    virtual void activateApplication() = 0;
    // Runs the alert; true only when the default button ended it.
    virtual bool runAlert(const AlertSpec& alert) = 0;
    // An alert with a one-line text field holding `initial`; the field's text when the
    // default button ended it, nothing otherwise.
    virtual std::optional<QString> runTextAlert(const AlertSpec& alert, const QString& initial) = 0;
};

// The confirmation dialog: activates the application, then runs the alert. The answer
// is true only for the default button.
bool confirmationDialog(Dialogs& dialogs, const QString& message, const QString& informative,
                        const QString& defaultButton,
                        const std::optional<QString>& secondButton = std::nullopt);

// The information alert: the confirmation dialog with the single button "Close".
void informationAlert(Dialogs& dialogs, const QString& message, const QString& informative);

} // namespace vistrale
