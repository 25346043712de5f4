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

TEST(QtRecordedKey, ReadsControlOptionKFromAnXcbKeyEvent)
{
    const RecordedKey key
        = expectKey(recordedKeyFromQt(Qt::Key_K, Qt::ControlModifier | Qt::AltModifier, 'k', X_CONTROL | X_ALT));
    EXPECT_EQ(key.keyCode, 40u);
    EXPECT_EQ(key.charactersIgnoringModifiers, QStringLiteral("k"));
    EXPECT_EQ(key.modifierFlags, EVENT_CONTROL | EVENT_OPTION);
}

TEST(QtRecordedKey, ReadsSuperAsCommandAndFKeysAsFunctionKeys)
{
    const RecordedKey key = expectKey(recordedKeyFromQt(Qt::Key_F1, Qt::MetaModifier, 0xffbe, X_SUPER));
    EXPECT_EQ(key.keyCode, 122u);
    EXPECT_EQ(key.charactersIgnoringModifiers, QString(QChar(0xF704)));
    EXPECT_EQ(key.modifierFlags, EVENT_COMMAND | EVENT_FUNCTION);
}

TEST(QtRecordedKey, ReadsTheShiftedSixAsTheSixKey)
{
    const RecordedKey key = expectKey(recordedKeyFromQt(Qt::Key_AsciiCircum, Qt::ShiftModifier, '^', 1));
    EXPECT_EQ(key.keyCode, 22u);
    EXPECT_EQ(key.charactersIgnoringModifiers, QStringLiteral("^"));
    EXPECT_EQ(key.modifierFlags, EVENT_SHIFT);
}

TEST(QtRecordedKey, ReadsReturnAndKeypadEnterAsTheirMacKeys)
{
    EXPECT_EQ(expectKey(recordedKeyFromQt(Qt::Key_Return, {}, 0xff0d, 0)).keyCode, 36u);
    EXPECT_EQ(expectKey(recordedKeyFromQt(Qt::Key_Enter, Qt::KeypadModifier, 0xff8d, 0)).keyCode, 76u);
}

TEST(QtRecordedKey, ReadsCapsLockFromTheXState)
{
    const RecordedKey key = expectKey(recordedKeyFromQt(Qt::Key_K, Qt::MetaModifier, 'k', X_SUPER | X_LOCK));
    EXPECT_EQ(key.modifierFlags, EVENT_COMMAND | EVENT_CAPS_LOCK);
}

TEST(QtRecordedKey, DropsModifierKeysAndKeysTheTableDoesNotKnow)
{
    EXPECT_FALSE(recordedKeyFromQt(Qt::Key_Shift, Qt::ShiftModifier, 0xffe1, 0));
    EXPECT_FALSE(recordedKeyFromQt(Qt::Key_Meta, Qt::MetaModifier, 0xffeb, 0));
    EXPECT_FALSE(recordedKeyFromQt(Qt::Key_VolumeUp, {}, 0x1008ff13, 0));
    EXPECT_FALSE(recordedKeyFromQt(Qt::Key_VolumeUp, {}, 0, 0));
}

TEST(QtRecordedKey, WorksOutTheKeysymFromTheQtKeyWhereThereIsNone)
{
    RecordedKey key = expectKey(recordedKeyFromQt(Qt::Key_K, Qt::ControlModifier | Qt::AltModifier, 0, 0));
    EXPECT_EQ(key.keyCode, 40u);
    EXPECT_EQ(key.charactersIgnoringModifiers, QStringLiteral("k"));
    key = expectKey(recordedKeyFromQt(Qt::Key_K, Qt::ShiftModifier, 0, 0));
    EXPECT_EQ(key.charactersIgnoringModifiers, QStringLiteral("K"));
    key = expectKey(recordedKeyFromQt(Qt::Key_F2, Qt::MetaModifier, 0, 0));
    EXPECT_EQ(key.keyCode, 120u);
    EXPECT_EQ(key.modifierFlags, EVENT_COMMAND | EVENT_FUNCTION);
    EXPECT_EQ(expectKey(recordedKeyFromQt(Qt::Key_Enter, Qt::KeypadModifier, 0, 0)).keyCode, 76u);
    EXPECT_EQ(expectKey(recordedKeyFromQt(Qt::Key_5, Qt::KeypadModifier, 0, 0)).keyCode, 87u);
    EXPECT_EQ(expectKey(recordedKeyFromQt(Qt::Key_5, {}, 0, 0)).keyCode, 23u);
    EXPECT_EQ(expectKey(recordedKeyFromQt(Qt::Key_Up, {}, 0, 0)).keyCode, 126u);
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

TEST(QtKeyRecorder, RecordsControlOptionKAndSavesItWithTheMouse)
{
    QtDialogs dialogs;
    QString shown;
    whenOpen([&shown](RunningRecorder& r) {
        r.type(r.button("Save"), Qt::Key_K, Qt::ControlModifier | Qt::AltModifier, 'k', X_CONTROL | X_ALT);
        shown = r.label()->text();
        r.button("Save")->click();
    });
    const auto recorded = recordShortcut(dialogs, QStringLiteral("Super+F1"));
    EXPECT_EQ(shown, QStringLiteral("Ctrl+Alt+K"));
    ASSERT_TRUE(recorded);
    EXPECT_EQ(*recorded, *shortcutFromKeyEvent(40, "k", EVENT_CONTROL | EVENT_OPTION));
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

TEST(QtKeyRecorder, CancelAnswersNothingAfterAKey)
{
    QtDialogs dialogs;
    whenOpen([](RunningRecorder& r) {
        r.type(r.dialog(), Qt::Key_K, Qt::ControlModifier | Qt::AltModifier, 'k', X_CONTROL | X_ALT);
        r.button("Cancel")->click();
    });
    EXPECT_FALSE(recordShortcut(dialogs, QStringLiteral("Super+F1")));
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
