#include "shortcuts/ShortcutDialog.h"

#include "shortcuts/ShortcutRecorderView.h"
#include "ui/Brand.h"
#include "ui/KeyRoute.h"
#include "ui/UI.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace ShortcutDialog {

namespace {

enum Response { saveResponse = 1000, resetResponse = 1001, cancelResponse = 1002 };

QString rgba(const QColor& c) {
    return QStringLiteral("rgba(%1,%2,%3,%4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alpha());
}

QDialog* makeWindow(const QString& message, const QString& informative, QVBoxLayout*& content) {
    auto* dialog = new QDialog();
    dialog->setAttribute(Qt::WA_DeleteOnClose, false);
    dialog->setWindowTitle(message);
    dialog->setStyleSheet(styleSheet());
    dialog->setModal(true);

    auto* layout = new QVBoxLayout(dialog);
    // A window keeps its height when the wrapped lines in it need more (the refusal line showing up): the dialog
    // takes the size its content asks for, every time that changes.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->setContentsMargins(24, 20, 24, 18);
    layout->setSpacing(10);
    auto* heading = new QLabel(message, dialog);
    heading->setObjectName(QStringLiteral("message"));
    heading->setFont(UI::font(15, QFont::DemiBold));
    heading->setWordWrap(true);
    layout->addWidget(heading);
    auto* detail = new QLabel(informative, dialog);
    detail->setObjectName(QStringLiteral("informative"));
    detail->setFont(UI::font(12));
    detail->setWordWrap(true);
    detail->setMinimumWidth(420);
    layout->addWidget(detail);
    content = layout;
    return dialog;
}

QPushButton* addButton(QDialog* dialog, QHBoxLayout* row, const QString& title, int response) {
    auto* button = new QPushButton(title, dialog);
    button->setFont(UI::font(13, QFont::Medium));
    button->setCursor(Qt::PointingHandCursor);
    QObject::connect(button, &QPushButton::clicked, dialog, [dialog, response] { dialog->done(response); });
    row->addWidget(button);
    return button;
}

int runModally(QDialog* dialog) {
    KeyRoute::standDialog(dialog);
    dialog->show();
    KeyRoute::takeKeys(dialog);
    // Hidden, it hands the keyboard back to whoever had it when it showed.
    const int response = dialog->exec();
    dialog->hide();
    return response;
}

} // namespace

QString styleSheet() {
    return QStringLiteral("QDialog { background: %1; }"
                          "QLabel { color: %2; }"
                          "QLabel#informative { color: %3; }"
                          "QPushButton { color: %2; background: %4; border: 1px solid %5; border-radius: 8px;"
                          " padding: 6px 16px; }"
                          "QPushButton:hover { border-color: %6; }"
                          "QPushButton:default { color: %7; background: %6; border-color: %8; }"
                          "QPushButton:focus { outline: none; border: 2px solid %6; }")
        .arg(Brand::background().name(), Brand::text().name(), Brand::muted().name(), Brand::surface().name(),
             rgba(Brand::lineStrong()), Brand::green().name(), Brand::onGreen().name(), Brand::greenDeep().name());
}

Result run(const QString& title, const Shortcut& current, const Shortcut& def, const GlobalKeys& keys,
           const Taken& ours) {
    QVBoxLayout* layout = nullptr;
    std::unique_ptr<QDialog> dialog(makeWindow(
        QStringLiteral("Shortcut for \u201c") + title + QStringLiteral("\u201d"),
        QStringLiteral("Click the box and press the new key combination (needs Super, Ctrl or Alt, or a function "
                       "key).\nDefault: ") +
            def.display(),
        layout));

    auto* recorder = new ShortcutRecorderView(keys, dialog.get());
    recorder->setObjectName(QStringLiteral("recorder"));
    recorder->setFixedSize(260, 36);
    recorder->shortcut = current;
    layout->addSpacing(4);
    layout->addWidget(recorder, 0, Qt::AlignHCenter);
    // Where a combination one of our own actions has is refused.
    auto* clash = new QLabel(dialog.get());
    clash->setObjectName(QStringLiteral("clash"));
    clash->setFont(UI::font(12));
    clash->setWordWrap(true);
    clash->setAlignment(Qt::AlignHCenter);
    clash->setStyleSheet(QStringLiteral("color: #ff8a80;"));
    clash->hide();
    layout->addWidget(clash);
    layout->addSpacing(8);

    auto* row = new QHBoxLayout();
    row->setSpacing(8);
    row->addStretch(1);
    // The first button is the default one and sits on the right.
    QPushButton* cancel = addButton(dialog.get(), row, QStringLiteral("Cancel"), cancelResponse);
    QPushButton* reset = addButton(dialog.get(), row, QStringLiteral("Reset to Default"), resetResponse);
    QPushButton* save = addButton(dialog.get(), row, QStringLiteral("Save"), saveResponse);
    cancel->setObjectName(QStringLiteral("cancel"));
    reset->setObjectName(QStringLiteral("reset"));
    save->setObjectName(QStringLiteral("save"));
    save->setDefault(true);
    // A click on a button must not take the focus (and the keyboard) from the recorder; Tab still
    // reaches the buttons.
    for (QPushButton* button : {cancel, reset, save})
        button->setFocusPolicy(Qt::TabFocus);
    QWidget::setTabOrder(recorder, cancel);
    QWidget::setTabOrder(cancel, reset);
    QWidget::setTabOrder(reset, save);
    layout->addLayout(row);
    recorder->setFocus(Qt::OtherFocusReason);
    QObject::connect(recorder, &ShortcutRecorderView::recorded, dialog.get(), [recorder, clash, ours, current] {
        for (const auto& [other, combination] : ours) {
            if (recorder->shortcut != combination)
                continue;
            clash->setText(combination.display() + QStringLiteral(" is already the shortcut for \u201c") + other +
                           QStringLiteral("\u201d."));
            clash->show();
            recorder->shortcut = current;
            recorder->update();
            return;
        }
        clash->hide();
    });

    const int response = runModally(dialog.get());
    Result result;
    if (response == saveResponse && recorder->shortcut)
        result = {Result::save, *recorder->shortcut};
    else if (response == resetResponse)
        result.kind = Result::reset;
    return result;
}

void alert(const QString& message, const QString& informative) {
    QVBoxLayout* layout = nullptr;
    std::unique_ptr<QDialog> dialog(makeWindow(message, informative, layout));
    auto* row = new QHBoxLayout();
    row->addStretch(1);
    QPushButton* ok = addButton(dialog.get(), row, QStringLiteral("OK"), QDialog::Accepted);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    ok->setMinimumWidth(80);
    layout->addSpacing(6);
    layout->addLayout(row);
    runModally(dialog.get());
}

} // namespace ShortcutDialog
