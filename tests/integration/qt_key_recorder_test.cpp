#include "app/shortcut_recorder.h"
#include "platform/keycodes.h"
#include "platform/qt/qt_dialogs.h"
#include "platform/qt/qt_recorded_key.h"
#include "tests/support/wait_until.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

using namespace vistrale;
using namespace vistrale::test;

namespace {

constexpr quint32 X_CONTROL = 1u << 2, X_ALT = 1u << 3, X_SUPER = 1u << 6, X_LOCK = 1u << 1;

RecordedKey expectKey(const std::optional<RecordedKey>& key)
{
    EXPECT_TRUE(key);
    return key.value_or(RecordedKey{});
}

// The recorder's dialog while it runs, and helpers to type into it as Qt would deliver
// the keys (the receiver is the focus widget, else the dialog).
struct RunningRecorder {
    QDialog* dialog() const
    {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QDialog*>(widget);
            if (dialog && dialog->isVisible() && dialog->findChild<QLabel*>("recorderLabel"))
                return dialog;
        }
        return nullptr;
    }
    QLabel* label() const { return dialog()->findChild<QLabel*>("recorderLabel"); }
    QPushButton* button(const QString& text) const
    {
        for (QPushButton* button : dialog()->findChildren<QPushButton*>())
            if (button->text() == text)
                return button;
        return nullptr;
    }
    void type(QWidget* receiver, int qtKey, Qt::KeyboardModifiers modifiers, quint32 keysym, quint32 state)
    {
        if (!receiver) {
            ADD_FAILURE() << "the recorder closed before key " << std::hex << keysym;
            return;
        }
        QKeyEvent press(QEvent::KeyPress, qtKey, modifiers, 0, keysym, state);
        QCoreApplication::sendEvent(receiver, &press);
        QKeyEvent release(QEvent::KeyRelease, qtKey, modifiers, 0, keysym, state);
        QCoreApplication::sendEvent(receiver, &release);
    }
};

// Runs `steps` once the recorder is up, then ends the recorder should the steps not have.
template <typename Steps> void whenOpen(Steps steps)
{
    QTimer::singleShot(0, [steps] {
        RunningRecorder recorder;
        if (!waitUntil([&] { return recorder.dialog() != nullptr; }, 3000)) {
            ADD_FAILURE() << "the recorder did not open";
            return;
        }
        steps(recorder);
        if (QDialog* dialog = recorder.dialog())
            dialog->reject(); // ends the dialog should the steps not have
    });
}

} // namespace

// --- Qt keys to recorded keys ------------------------------------------------------

TEST(QtRecordedKey, ReadsTheMacKeyItsCharactersAndItsFlagsFromAQtKeyEvent)
{
    const std::optional<QString> any;
    const std::optional<quint32> anyFlags;
    const struct {
        Qt::Key qtKey;
        Qt::KeyboardModifiers modifiers;
        quint32 keysym, state, keyCode;
        std::optional<QString> characters;
        std::optional<quint32> flags;
    } rows[] = {
        {Qt::Key_K, Qt::ControlModifier | Qt::AltModifier, 'k', X_CONTROL | X_ALT, 40, "k",
            EVENT_CONTROL | EVENT_OPTION},
        // Super is Command, F keys are function keys.
        {Qt::Key_F1, Qt::MetaModifier, 0xffbe, X_SUPER, 122, QString(QChar(0xF704)), EVENT_COMMAND | EVENT_FUNCTION},
        // The shifted six is the six key.
        {Qt::Key_AsciiCircum, Qt::ShiftModifier, '^', 1, 22, "^", EVENT_SHIFT},
        {Qt::Key_Return, {}, 0xff0d, 0, 36, any, anyFlags},
        {Qt::Key_Enter, Qt::KeypadModifier, 0xff8d, 0, 76, any, anyFlags},
        // Caps Lock from the X state.
        {Qt::Key_K, Qt::MetaModifier, 'k', X_SUPER | X_LOCK, 40, any, EVENT_COMMAND | EVENT_CAPS_LOCK},
        // No keysym: worked out from the Qt key.
        {Qt::Key_K, Qt::ControlModifier | Qt::AltModifier, 0, 0, 40, "k", anyFlags},
        {Qt::Key_K, Qt::ShiftModifier, 0, 0, 40, "K", anyFlags},
        {Qt::Key_F2, Qt::MetaModifier, 0, 0, 120, any, EVENT_COMMAND | EVENT_FUNCTION},
        {Qt::Key_Enter, Qt::KeypadModifier, 0, 0, 76, any, anyFlags},
        {Qt::Key_5, Qt::KeypadModifier, 0, 0, 87, any, anyFlags},
        {Qt::Key_5, {}, 0, 0, 23, any, anyFlags},
        {Qt::Key_Up, {}, 0, 0, 126, any, anyFlags},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "Qt key " << std::hex << row.qtKey << ", keysym " << row.keysym);
        const RecordedKey key = expectKey(recordedKeyFromQt(row.qtKey, row.modifiers, row.keysym, row.state));
        EXPECT_EQ(key.keyCode, row.keyCode);
        if (row.characters) {
            EXPECT_EQ(key.charactersIgnoringModifiers, *row.characters);
        }
        if (row.flags) {
            EXPECT_EQ(key.modifierFlags, *row.flags);
        }
    }
    // Modifier keys and keys the table does not know.
    EXPECT_FALSE(recordedKeyFromQt(Qt::Key_Shift, Qt::ShiftModifier, 0xffe1, 0));
    EXPECT_FALSE(recordedKeyFromQt(Qt::Key_Meta, Qt::MetaModifier, 0xffeb, 0));
    EXPECT_FALSE(recordedKeyFromQt(Qt::Key_VolumeUp, {}, 0x1008ff13, 0));
    EXPECT_FALSE(recordedKeyFromQt(Qt::Key_VolumeUp, {}, 0, 0));
}

// --- The recorder dialog -----------------------------------------------------------

TEST(QtKeyRecorder, ShowsTheDisplayStringInABoldCentredLabel)
{
    QtDialogs dialogs;
    bool checked = false;
    whenOpen([&checked](RunningRecorder& r) {
        QLabel* label = r.label();
        ASSERT_TRUE(label);
        EXPECT_EQ(label->text(), QStringLiteral("Super+F1"));
        EXPECT_EQ(label->size(), QSize(320, 28));
        EXPECT_EQ(label->alignment(), Qt::AlignCenter);
        EXPECT_TRUE(label->font().bold());
        EXPECT_EQ(label->font().pixelSize(), 20);
        EXPECT_EQ(label->textInteractionFlags(), Qt::NoTextInteraction);
        EXPECT_EQ(label->frameShape(), QFrame::NoFrame);
        EXPECT_TRUE(r.button("Save"));
        EXPECT_TRUE(r.button("Cancel"));
        checked = true;
    });
    EXPECT_FALSE(recordShortcut(dialogs, QStringLiteral("Super+F1")));
    EXPECT_TRUE(checked);
}

TEST(QtKeyRecorder, RecordsControlOptionKAndSavesItWithTheMouseOrCancelsIt)
{
    QtDialogs dialogs;
    for (const QString button : {"Save", "Cancel"}) {
        SCOPED_TRACE(button.toStdString());
        QString shown;
        whenOpen([&shown, button](RunningRecorder& r) {
            r.type(r.button("Save"), Qt::Key_K, Qt::ControlModifier | Qt::AltModifier, 'k', X_CONTROL | X_ALT);
            shown = r.label()->text();
            r.button(button)->click();
        });
        const auto recorded = recordShortcut(dialogs, QStringLiteral("Super+F1"));
        EXPECT_EQ(shown, QStringLiteral("Ctrl+Alt+K"));
        EXPECT_EQ(recorded.has_value(), button == "Save");
        if (recorded) {
            EXPECT_EQ(*recorded, *shortcutFromKeyEvent(40, "k", EVENT_CONTROL | EVENT_OPTION));
        }
    }
}

TEST(QtKeyRecorder, KeysNeverReachTheButtonsOrTheDialog)
{
    QtDialogs dialogs;
    bool stillOpen = false;
    QString shown;
    whenOpen([&](RunningRecorder& r) {
        QPushButton* save = r.button("Save");
        save->setFocus();
        // Escape would cancel; Return, Enter and Space would press the default button.
        r.type(r.dialog(), Qt::Key_Escape, {}, 0xff1b, 0);
        r.type(save, Qt::Key_Space, {}, ' ', 0);
        r.type(save, Qt::Key_Return, {}, 0xff0d, 0);
        r.type(save, Qt::Key_Enter, Qt::KeypadModifier, 0xff8d, 0);
        r.type(r.dialog(), Qt::Key_Return, {}, 0xff0d, 0);
        QCoreApplication::processEvents();
        stillOpen = r.dialog() != nullptr;
        if (!stillOpen)
            return;
        EXPECT_EQ(QApplication::activeModalWidget(), r.dialog());
        shown = r.label()->text();
        r.button("Cancel")->click();
    });
    EXPECT_FALSE(recordShortcut(dialogs, QStringLiteral("Super+F1")));
    EXPECT_TRUE(stillOpen);
    // Escape and Space made records, Return and Enter did not: Space is the last shown.
    EXPECT_EQ(shown, QStringLiteral(" "));
}

TEST(QtKeyRecorder, TracesTheAlertAndEachLabelChange)
{
    qputenv("VISTRALE_TRACE_DIALOGS", "1");
    QtDialogs dialogs;
    whenOpen([](RunningRecorder& r) {
        r.type(r.dialog(), Qt::Key_K, Qt::ControlModifier | Qt::AltModifier, 'k', X_CONTROL | X_ALT);
        r.type(r.dialog(), Qt::Key_Shift, Qt::ShiftModifier, 0xffe1, 0);
        r.type(r.dialog(), Qt::Key_F2, Qt::MetaModifier, 0xffbf, X_SUPER);
        r.button("Save")->click();
    });
    testing::internal::CaptureStdout();
    const auto recorded = recordShortcut(dialogs, QStringLiteral("Super+F1"));
    const QStringList lines
        = QString::fromStdString(testing::internal::GetCapturedStdout()).split('\n', Qt::SkipEmptyParts);
    qunsetenv("VISTRALE_TRACE_DIALOGS");

    ASSERT_EQ(lines.size(), 3) << lines.join('\n').toStdString();
    EXPECT_EQ(lines[0],
        QStringLiteral(R"(alert {"buttons":["Save","Cancel"],"informative":"Press a key combination you )"
                       R"(want to use, e.g. Super+F1","label":"Super+F1","message":"Keyboard Shortcut"})"));
    EXPECT_EQ(lines[1], QStringLiteral("recorder key Ctrl+Alt+K"));
    EXPECT_EQ(lines[2], QStringLiteral("recorder key Super+F2"));
    ASSERT_TRUE(recorded);
    EXPECT_EQ(recorded->keyCode, 120u);
}
