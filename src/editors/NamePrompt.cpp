#include "editors/NamePrompt.h"

#include "editors/EditorWindow.h"
#include "ui/UI.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

NamePrompt::NamePrompt(const QString& title, const QString& placeholder, const QString& button, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(title);
    setWindowFlag(Qt::WindowStaysOnTopHint);
    setModal(true);
    auto* message = new QLabel(title);
    message->setFont(UI::font(13, QFont::DemiBold));
    field = new QLineEdit;
    field->setFixedSize(240, 24);
    field->setPlaceholderText(placeholder);
    auto* ok = new QPushButton(button);
    ok->setDefault(true);
    ok->setAutoDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"));
    cancel->setAutoDefault(false);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject); // Escape rejects too
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel);
    buttons->addWidget(ok);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(message);
    layout->addWidget(field);
    layout->addLayout(buttons);
    field->setFocus();
}

std::optional<QString> NamePrompt::answer(bool accepted, const QString& text) {
    if (!accepted)
        return std::nullopt;
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    return trimmed;
}

std::optional<QString> NamePrompt::ask(const QString& title, const QString& placeholder, const QString& button) {
    // Over the editor the user is working in, which stays on top: the prompt must not hide behind it.
    QWidget* owner = QApplication::activeWindow();
    if (!qobject_cast<EditorWindow*>(owner) && !EditorWindow::open().isEmpty())
        owner = EditorWindow::open().last();
    // The editor can close while the prompt waits (the basket's key closes it): the prompt, its child, goes with
    // it, so it lives on the heap and is only read while it is there.
    const QPointer<NamePrompt> prompt = new NamePrompt(title, placeholder, button, owner);
    if (!owner) {
        prompt->adjustSize();
        if (QScreen* screen = QGuiApplication::primaryScreen())
            prompt->move(screen->availableGeometry().center() - prompt->rect().center());
    }
    prompt->show();
    prompt->raise();
    prompt->activateWindow();
    const bool accepted = prompt->exec() == QDialog::Accepted;
    if (!prompt)
        return std::nullopt;
    const QString text = prompt->field->text();
    delete prompt.data();
    return answer(accepted, text);
}
