#include "shortcuts/ShortcutDialog.h"
#include "platform/fake/FakeGlobalKeys.h"
#include "shortcuts/ShortcutRecorderView.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

// X keycodes of a US keyboard for the keys the tests press.
constexpr quint32 keycodeD = 40, keycodeK = 45, keycodeS = 39, keycodeKeypad1 = 87, keycodeF5 = 71, keycodeShift = 50;

FakeGlobalKeys& keyboard() {
    static FakeGlobalKeys keys;
    static const bool filled = [] {
        keys.keyboard.insert({keycodeD, 0}, 'd');
        keys.keyboard.insert({keycodeD, 1}, 'D');
        keys.keyboard.insert({keycodeK, 0}, 'k');
        keys.keyboard.insert({keycodeS, 0}, 's');
        keys.keyboard.insert({keycodeKeypad1, 0}, 0xff9c); // KP_End
        keys.keyboard.insert({keycodeKeypad1, 1}, 0xffb1); // KP_1
        keys.keyboard.insert({keycodeF5, 0}, 0xffc2);
        keys.keyboard.insert({keycodeShift, 0}, 0xffe1);
        return true;
    }();
    Q_UNUSED(filled);
    return keys;
}

QKeyEvent keyEvent(QEvent::Type type, int key, Qt::KeyboardModifiers modifiers, quint32 keycode,
                   const QString& text = {}) {
    return QKeyEvent(type, key, modifiers, keycode, 0, 0, text);
}

void press(QWidget* target, int key, Qt::KeyboardModifiers modifiers, quint32 keycode) {
    QKeyEvent event = keyEvent(QEvent::KeyPress, key, modifiers, keycode);
    QApplication::sendEvent(target, &event);
}

// Runs the steps against the modal dialog once it is up.
void whenModal(std::function<void(QWidget*)> steps) {
    auto* timer = new QTimer();
    QObject::connect(timer, &QTimer::timeout, [timer, steps] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            steps(modal);
        }
    });
    timer->start(5);
}

} // namespace

TEST(ShortcutRecorder, TurnsKeyEventsIntoShortcuts) {
    const struct {
        const char* name;
        int key;
        Qt::KeyboardModifiers modifiers;
        quint32 keycode;
        std::optional<Shortcut> expected;
    } cases[] = {
        {"super+shift+D", Qt::Key_D, Qt::MetaModifier | Qt::ShiftModifier, keycodeD,
         Shortcut{2, 0x300, QStringLiteral("D")}},
        {"ctrl+alt+K", Qt::Key_K, Qt::ControlModifier | Qt::AltModifier, keycodeK,
         Shortcut{40, 0x1800, QStringLiteral("K")}},
        {"shift+D alone", Qt::Key_D, Qt::ShiftModifier, keycodeD, std::nullopt},
        {"keypad 1 with NumLock off", Qt::Key_End, Qt::MetaModifier | Qt::KeypadModifier, keycodeKeypad1,
         Shortcut{83, 0x100, QStringLiteral("1")}},
        {"F5 alone", Qt::Key_F5, Qt::NoModifier, keycodeF5, Shortcut{96, 0, QStringLiteral("F5")}},
        {"a key with no position code", Qt::Key_unknown, Qt::MetaModifier, 250, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(
            ShortcutRecorderView::shortcutFor(keyEvent(QEvent::KeyPress, c.key, c.modifiers, c.keycode), keyboard()),
            c.expected);
    }
}

TEST(ShortcutRecorder, ShowsPlaceholderHeldModifiersAndTheRecording) {
    QWidget window;
    auto* recorder = new ShortcutRecorderView(keyboard(), &window);
    recorder->resize(260, 36);
    auto* other = new QPushButton(QStringLiteral("other"), &window);
    other->move(0, 50);
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    other->setFocus();
    EXPECT_EQ(recorder->text(), QStringLiteral("Click to record"));

    QTest::mouseClick(recorder, Qt::LeftButton);
    ASSERT_TRUE(recorder->hasFocus());
    EXPECT_EQ(recorder->text(), QStringLiteral("Press keys\u2026"));

    press(recorder, Qt::Key_Shift, Qt::NoModifier, keycodeShift);
    press(recorder, Qt::Key_Super_L, Qt::ShiftModifier, 133);
    EXPECT_EQ(recorder->text(), QStringLiteral("Super+Shift+\u2026"));

    // Rejected: stays as it was and goes on to the window.
    press(recorder, Qt::Key_D, Qt::ShiftModifier, keycodeD);
    EXPECT_FALSE(recorder->shortcut);

    press(recorder, Qt::Key_D, Qt::MetaModifier | Qt::ShiftModifier, keycodeD);
    ASSERT_TRUE(recorder->shortcut);
    EXPECT_EQ(*recorder->shortcut, (Shortcut{2, 0x300, QStringLiteral("D")}));
    EXPECT_EQ(recorder->liveFlags, Qt::KeyboardModifiers());
    EXPECT_EQ(recorder->text(), QStringLiteral("Super+Shift+D"));

    QKeyEvent up = keyEvent(QEvent::KeyRelease, Qt::Key_Shift, Qt::ShiftModifier | Qt::MetaModifier, keycodeShift);
    QApplication::sendEvent(recorder, &up);
    EXPECT_EQ(recorder->text(), QStringLiteral("Super+\u2026"));
    other->setFocus();
    EXPECT_EQ(recorder->text(), QStringLiteral("Super+Shift+D"));
}

TEST(ShortcutDialog, ReturnsWhatTheUserChose) {
    const Shortcut current{2, 0x300, QStringLiteral("D")};
    const Shortcut def{1, 0x300, QStringLiteral("S")};
    const Shortcut recorded{40, 0x1800, QStringLiteral("K")};
    const struct {
        const char* name;
        bool record;
        const char* button; // object name, or nullptr for Escape
        ShortcutDialog::Result::Kind kind;
        Shortcut shortcut;
    } cases[] = {
        {"save without recording keeps the current one", false, "save", ShortcutDialog::Result::save, current},
        {"save a recording", true, "save", ShortcutDialog::Result::save, recorded},
        {"reset", true, "reset", ShortcutDialog::Result::reset, {}},
        {"cancel", true, "cancel", ShortcutDialog::Result::cancel, {}},
        {"escape", true, nullptr, ShortcutDialog::Result::cancel, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QString message, informative;
        whenModal([&](QWidget* dialog) {
            message = dialog->findChild<QLabel*>(QStringLiteral("message"))->text();
            informative = dialog->findChild<QLabel*>(QStringLiteral("informative"))->text();
            auto* recorder = dialog->findChild<ShortcutRecorderView*>();
            if (c.record)
                press(recorder, Qt::Key_K, Qt::ControlModifier | Qt::AltModifier, keycodeK);
            if (c.button)
                dialog->findChild<QPushButton*>(QString::fromLatin1(c.button))->click();
            else
                QTest::keyClick(dialog, Qt::Key_Escape);
        });
        const ShortcutDialog::Result result = ShortcutDialog::run(QStringLiteral("Capture"), current, def, keyboard());
        EXPECT_EQ(result.kind, c.kind);
        if (c.kind == ShortcutDialog::Result::save) {
            EXPECT_EQ(result.shortcut, c.shortcut);
        }
        EXPECT_EQ(message, QStringLiteral("Shortcut for \u201c"
                                          "Capture\u201d"));
        EXPECT_EQ(informative, QStringLiteral("Click the box and press the new key combination (needs Super, Ctrl or "
                                              "Alt, or a function key).\nDefault: Super+Shift+S"));
    }
}

TEST(ShortcutDialog, RefusesACombinationOfOurOwnNamingTheAction) {
    const Shortcut current{2, 0x300, QStringLiteral("D")};
    const Shortcut basket{1, 0x300, QStringLiteral("S")};
    // The titles the menu gives, long enough to wrap.
    const QString capture = QStringLiteral("Capture  \u00b7  tap = window, hold = drag a piece");
    const QString basketTitle = QStringLiteral("Basket  \u00b7  tap = screenshots, hold = latest");
    QString clash;
    whenModal([&](QWidget* dialog) {
        auto* recorder = dialog->findChild<ShortcutRecorderView*>();
        // The basket's Super+Shift+S: refused, the recorder back at the current combination.
        press(recorder, Qt::Key_S, Qt::MetaModifier | Qt::ShiftModifier, keycodeS);
        clash = dialog->findChild<QLabel*>(QStringLiteral("clash"))->text();
        EXPECT_EQ(recorder->shortcut, current);
        // The refusal takes room of its own: every line stays whole inside the dialog, however the lines wrap.
        QApplication::processEvents();
        for (const QLabel* label : dialog->findChildren<QLabel*>()) {
            SCOPED_TRACE(label->objectName().toStdString());
            EXPECT_TRUE(!label->isVisible() || (label->height() >= label->heightForWidth(label->width()) &&
                                                dialog->rect().contains(label->geometry())));
        }
        dialog->findChild<QPushButton*>(QStringLiteral("save"))->click();
    });
    const ShortcutDialog::Result result =
        ShortcutDialog::run(capture, current, current, keyboard(), {{basketTitle, basket}});
    EXPECT_EQ(clash, QStringLiteral("Super+Shift+S is already the shortcut for \u201c") + basketTitle +
                         QStringLiteral("\u201d."));
    EXPECT_EQ(result.kind, ShortcutDialog::Result::save);
    EXPECT_EQ(result.shortcut, current) << "not the basket's combination";
}
