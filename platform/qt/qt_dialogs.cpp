#include "platform/qt/qt_dialogs.h"

#include "platform/log.h"
#include "platform/qt/qt_recorded_key.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace vistrale {
namespace {

bool tracing()
{
    return qEnvironmentVariableIntValue("VISTRALE_TRACE_DIALOGS") == 1;
}

void trace(const AlertSpec& alert, const std::optional<QString>& field, const std::optional<QString>& label = {})
{
    if (!tracing())
        return;
    QJsonArray buttons{alert.defaultButton};
    if (alert.secondButton)
        buttons.append(*alert.secondButton);
    for (const QString& more : alert.moreButtons)
        buttons.append(more);
    QJsonObject object{{"message", alert.message}, {"informative", alert.informative}, {"buttons", buttons}};
    if (field)
        object.insert("field", *field);
    if (label)
        object.insert("label", *label);
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

// Takes every key event of one window away from its widgets, so that no key reaches a
// button or the dialog's own Escape and Return handling, and hands the presses on.
// Installed on the application, it sees the events before any widget does.
class KeySwallower : public QObject {
public:
    KeySwallower(QWidget& window, std::function<void(const QKeyEvent&)> onPress)
        : window(window)
        , onPress(std::move(onPress))
    {
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::ShortcutOverride)
            return false;
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!widget || widget->window() != &window)
            return false;
        if (type == QEvent::ShortcutOverride) {
            event->accept(); // no shortcut or mnemonic fires: the key comes as a press
        } else if (type == QEvent::KeyPress) {
            onPress(static_cast<const QKeyEvent&>(*event));
        }
        return true;
    }

private:
    QWidget& window;
    std::function<void(const QKeyEvent&)> onPress;
};

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
    box.setWindowModality(Qt::ApplicationModal);
    box.show();
    box.raise();
    box.activateWindow();
    box.exec();
    return box.clickedButton() == accept;
}

namespace {

// An alert built as a dialog: the message in bold, the informative text, a widget of
// the caller's, then the buttons, top down.
class AccessoryAlert {
public:
    explicit AccessoryAlert(const AlertSpec& alert)
        : layout(new QVBoxLayout(&dialog))
        , spec(alert)
    {
        dialog.setWindowTitle(alert.message);
        dialog.setWindowFlag(Qt::WindowStaysOnTopHint);
        auto* message = new QLabel(alert.message, &dialog);
        QFont bold = message->font();
        bold.setBold(true);
        message->setFont(bold);
        layout->addWidget(message);
        layout->addWidget(new QLabel(alert.informative, &dialog));
    }

    QDialog& window() { return dialog; }

    void addAccessory(QWidget* widget, Qt::Alignment alignment = {})
    {
        widget->setParent(&dialog);
        layout->addWidget(widget, 0, alignment);
    }

    // Runs it modally; true when the default button ended it.
    bool run(QWidget* focus)
    {
        auto* buttons = new QDialogButtonBox(&dialog);
        QPushButton* accept = buttons->addButton(spec.defaultButton, QDialogButtonBox::AcceptRole);
        accept->setDefault(true);
        if (spec.secondButton)
            buttons->addButton(*spec.secondButton, QDialogButtonBox::RejectRole);
        QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
        QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
        layout->addWidget(buttons);
        // Modal from the start: exec() cannot make an already visible window modal.
        dialog.setWindowModality(Qt::ApplicationModal);
        dialog.show();
        dialog.raise();
        dialog.activateWindow();
        if (focus)
            focus->setFocus();
        return dialog.exec() == QDialog::Accepted;
    }

private:
    QDialog dialog;
    QVBoxLayout* layout;
    AlertSpec spec;
};

} // namespace

std::optional<QString> QtDialogs::runTextAlert(const AlertSpec& alert, const QString& initial)
{
    AccessoryAlert box(alert);
    auto* field = new QLineEdit(initial);
    field->setObjectName("alertTextField");
    field->setFixedSize(320, 24);
    box.addAccessory(field);
    trace(alert, initial);
    if (!box.run(field))
        return std::nullopt;
    return field->text();
}

std::optional<QString> QtDialogs::runSavePanel(const SavePanelSpec& panel)
{
    QFileDialog dialog;
    dialog.setWindowTitle(panel.title);
    dialog.setLabelText(QFileDialog::LookIn, panel.subtitle);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    // Replacing an existing file is what the caller does: no second question.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setDirectory(panel.directory);
    dialog.selectFile(panel.proposedName);
    dialog.setWindowFlag(Qt::WindowStaysOnTopHint);
    if (tracing())
        logLine("save panel ", panel.directory + "/" + panel.proposedName);
    dialog.setWindowModality(Qt::ApplicationModal);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}

std::optional<QString> QtDialogs::runOpenPanel(const OpenPanelSpec& panel)
{
    QFileDialog dialog;
    dialog.setWindowTitle(panel.title);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFilter(QDir::AllDirs | QDir::Files | QDir::NoDotAndDotDot);
    if (!panel.allowedTypes.isEmpty()) {
        QStringList patterns;
        for (const QString& type : panel.allowedTypes)
            patterns << "*." + type << "*." + type.toUpper();
        dialog.setNameFilter(patterns.join(' '));
    }
    if (QDir(panel.directory).exists())
        dialog.setDirectory(panel.directory);
    dialog.setSizeGripEnabled(true);
    dialog.setWindowFlag(Qt::WindowStaysOnTopHint);
    if (tracing())
        logLine("open panel", panel.directory);
    dialog.setWindowModality(Qt::ApplicationModal);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}

bool QtDialogs::runKeyRecorder(const AlertSpec& alert, const QString& initialLabel,
    std::function<std::optional<QString>(const RecordedKey& key)> onKey)
{
    AccessoryAlert box(alert);
    auto* label = new QLabel(initialLabel);
    label->setObjectName("recorderLabel");
    label->setFixedSize(320, 28);
    label->setAlignment(Qt::AlignCenter);
    QFont big = QApplication::font();
    big.setBold(true);
    big.setPixelSize(20);
    label->setFont(big);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    label->setFrameShape(QFrame::NoFrame);
    label->setFocusPolicy(Qt::NoFocus);
    box.addAccessory(label, Qt::AlignHCenter);

    KeySwallower swallower(box.window(), [&](const QKeyEvent& event) {
        const std::optional<RecordedKey> key
            = recordedKeyFromQt(event.key(), event.modifiers(), event.nativeVirtualKey(), event.nativeModifiers());
        if (!key)
            return;
        if (const std::optional<QString> text = onKey(*key)) {
            label->setText(*text);
            if (tracing())
                logLine("recorder key ", *text);
        }
    });
    qApp->installEventFilter(&swallower);
    trace(alert, std::nullopt, initialLabel);
    const bool saved = box.run(nullptr);
    qApp->removeEventFilter(&swallower);
    return saved;
}

int QtDialogs::runChoiceAlert(const AlertSpec& alert)
{
    QMessageBox box;
    AlertSpec first = alert;
    first.secondButton.reset();
    QList<QAbstractButton*> buttons{prepare(box, first)};
    QStringList others = alert.moreButtons;
    if (alert.secondButton)
        others.prepend(*alert.secondButton);
    for (const QString& text : others)
        buttons.append(box.addButton(text, QMessageBox::RejectRole));
    box.setEscapeButton(buttons.last());
    trace(alert, std::nullopt);
    box.setWindowModality(Qt::ApplicationModal);
    box.show();
    box.raise();
    box.activateWindow();
    box.exec();
    const qsizetype chosen = buttons.indexOf(box.clickedButton());
    return static_cast<int>(chosen < 0 ? buttons.size() - 1 : chosen);
}

} // namespace vistrale
