#include "card/RenamePanel.h"

#include "card/RenameFile.h"
#include "platform/Dispatch.h"
#include "platform/PointerWatch.h"
#include "ui/GhostButton.h"
#include "ui/KeyRoute.h"
#include "ui/Pill.h"
#include "ui/UI.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainterPath>
#include <QRegion>

namespace {

QPointer<RenamePanel>& shown() {
    static QPointer<RenamePanel> box;
    return box;
}

std::function<std::unique_ptr<PointerWatch>()>& pointerWatchMaker() {
    static std::function<std::unique_ptr<PointerWatch>()> make;
    return make;
}

} // namespace

RenamePanel::RenamePanel(const QString& suggestion)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("RenamePanel"));
    setWindowTitle(QStringLiteral("Rename"));
    setFixedSize(boxWidth, boxHeight);
    if (UI::composited()) {
        setAttribute(Qt::WA_TranslucentBackground);
    } else {
        QPainterPath round;
        round.addRoundedRect(QRectF(rect()), 14, 14);
        setMask(QRegion(round.toFillPolygon().toPolygon()));
    }
    auto* body = new Pill(rect(), this);

    field = new QLineEdit(suggestion, body);
    field->setGeometry(14, 13, 282, 20);
    field->setPlaceholderText(QStringLiteral("New name"));
    field->setFrame(false);
    field->setFont(UI::font(13));
    field->setAttribute(Qt::WA_MacShowFocusRect, false);
    QPalette colours = field->palette();
    colours.setColor(QPalette::Base, Qt::transparent);
    colours.setColor(QPalette::Text, Qt::white);
    colours.setColor(QPalette::PlaceholderText, QColor(255, 255, 255, 110));
    field->setPalette(colours);
    field->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; border: none; }"));
    field->installEventFilter(this);
    connect(field, &QLineEdit::returnPressed, this, &RenamePanel::commit);

    auto* button =
        new GhostButton(QStringLiteral("Rename"), QString(), QStringLiteral("Rename"), QSizeF(68, 28), 0, body);
    button->move(302, 9);
    button->setActive(true);
    connect(button, &QAbstractButton::clicked, this, &RenamePanel::commit);

    // A click into another program's window gives up, as the loss of the keyboard does: without a window manager
    // the box would keep the keyboard, and the line the user types into that program would rename the file.
    if (pointerWatchMaker())
        presses = pointerWatchMaker()();
    if (presses)
        connect(presses.get(), &PointerWatch::pressed, this, [this](const PointerPress& press) {
            if (!press.otherWindow || finished)
                return;
            KeyRoute::turnedAway(this);
            Dispatch::main([self = QPointer<RenamePanel>(this)] {
                if (self)
                    self->dismiss();
            });
        });
}

RenamePanel::~RenamePanel() = default;

void RenamePanel::setPointerWatch(std::function<std::unique_ptr<PointerWatch>()> make) {
    pointerWatchMaker() = std::move(make);
}

RenamePanel* RenamePanel::show(const QString& suggestion, QPoint near, std::function<void(const QString&)> commit,
                               std::function<void()> dismissed) {
    if (RenamePanel* old = shown()) {
        old->finished = true;
        old->close();
    }
    auto* box = new RenamePanel(suggestion);
    box->onCommit = std::move(commit);
    box->onDismiss = std::move(dismissed);
    box->move(near.x() - boxWidth / 2, near.y() - 12 - boxHeight);
    shown() = box;
    box->QWidget::show();
    box->field->selectAll();
    box->field->setFocus();
    box->makeActive();
    return box;
}

RenamePanel* RenamePanel::current() {
    return shown();
}

void RenamePanel::makeActive() {
    // Typing goes to the box alone: the card under the pointer lets go of its keys while the box shows.
    KeyRoute::takeKeys(this);
}

void RenamePanel::commit() {
    if (finished)
        return;
    const QString name = RenameFile::cleaned(field->text());
    if (name.isEmpty()) {
        // Nothing to rename to: the rename ends as if given up, so the card is let go.
        dismiss();
        return;
    }
    auto callback = std::exchange(onCommit, nullptr);
    onDismiss = nullptr;
    finish();
    if (callback)
        callback(name);
}

void RenamePanel::dismiss() {
    if (finished)
        return;
    auto callback = std::exchange(onDismiss, nullptr);
    onCommit = nullptr;
    finish();
    if (callback)
        callback();
}

void RenamePanel::finish() {
    finished = true;
    hide();
    close();
}

void RenamePanel::changeEvent(QEvent* event) {
    // Losing the keyboard to another window (a click elsewhere) gives up, once the box had it at all.
    if (event->type() == QEvent::ActivationChange) {
        if (isActiveWindow())
            wasActive = true;
        else if (wasActive && !finished)
            Dispatch::main([self = QPointer<RenamePanel>(this)] {
                if (self && !self->isActiveWindow())
                    self->dismiss();
            });
    }
    QWidget::changeEvent(event);
}

bool RenamePanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == field && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        dismiss();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
