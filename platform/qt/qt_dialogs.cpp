#include "platform/qt/qt_dialogs.h"

#include "platform/log.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace vistrale {
namespace {

void trace(const AlertSpec& alert, const std::optional<QString>& field)
{
    if (qEnvironmentVariableIntValue("VISTRALE_TRACE_DIALOGS") != 1)
        return;
    QJsonArray buttons{alert.defaultButton};
    if (alert.secondButton)
        buttons.append(*alert.secondButton);
    QJsonObject object{{"message", alert.message}, {"informative", alert.informative}, {"buttons", buttons}};
    if (field)
        object.insert("field", *field);
    logLine("alert ", QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
}

// The alert box with its buttons; answers the default button.
QPushButton* prepare(QMessageBox& box, const AlertSpec& alert)
{
    box.setIcon(alert.warning ? QMessageBox::Warning : QMessageBox::Information);
    box.setWindowTitle(alert.message);
    box.setText(alert.message);
    box.setInformativeText(alert.informative);
    QPushButton* accept = box.addButton(alert.defaultButton, QMessageBox::AcceptRole);
    if (alert.secondButton)
        box.addButton(*alert.secondButton, QMessageBox::RejectRole);
    box.setDefaultButton(accept);
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    return accept;
}

} // namespace

void QtDialogs::activateApplication()
{
    // A tray application has no window of its own in front; each alert raises and
    // activates itself when it is shown.
    if (QWidget* window = QApplication::activeWindow()) {
        window->raise();
        window->activateWindow();
    }
}

bool QtDialogs::runAlert(const AlertSpec& alert)
{
    QMessageBox box;
    QPushButton* accept = prepare(box, alert);
    trace(alert, std::nullopt);
    box.show();
    box.raise();
    box.activateWindow();
    box.exec();
    return box.clickedButton() == accept;
}

std::optional<QString> QtDialogs::runTextAlert(const AlertSpec& alert, const QString& initial)
{
    // The message, the informative text, a 320 × 24 field and the buttons, top down.
    QDialog dialog;
    dialog.setWindowTitle(alert.message);
    dialog.setWindowFlag(Qt::WindowStaysOnTopHint);
    auto* layout = new QVBoxLayout(&dialog);
    auto* message = new QLabel(alert.message, &dialog);
    QFont bold = message->font();
    bold.setBold(true);
    message->setFont(bold);
    layout->addWidget(message);
    layout->addWidget(new QLabel(alert.informative, &dialog));
    auto* field = new QLineEdit(initial, &dialog);
    field->setObjectName("alertTextField");
    field->setFixedSize(320, 24);
    layout->addWidget(field);
    auto* buttons = new QDialogButtonBox(&dialog);
    QPushButton* accept = buttons->addButton(alert.defaultButton, QDialogButtonBox::AcceptRole);
    accept->setDefault(true);
    if (alert.secondButton)
        buttons->addButton(*alert.secondButton, QDialogButtonBox::RejectRole);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    trace(alert, initial);
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
    field->setFocus();
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return field->text();
}

} // namespace vistrale
