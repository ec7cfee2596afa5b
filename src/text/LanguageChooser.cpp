#include "text/LanguageChooser.h"

#include "shortcuts/ShortcutDialog.h"
#include "text/TranslateModel.h"
#include "ui/UI.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

LanguageChooser::LanguageChooser(bool firstTime, QWidget* parent) : QDialog(parent) {
    setWindowTitle(message(firstTime));
    setStyleSheet(ShortcutDialog::styleSheet() +
                  QStringLiteral("QComboBox { color: #F1F4EC; background: #1A1D19; border: 1px solid "
                                 "rgba(255,255,255,36); border-radius: 6px; padding: 2px 8px; }"
                                 "QComboBox QAbstractItemView { color: #F1F4EC; background: #1A1D19; "
                                 "selection-background-color: #A6D26B; selection-color: #0B0D0A; }"));
    setModal(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 18);
    layout->setSpacing(10);
    auto* heading = new QLabel(message(firstTime), this);
    heading->setObjectName(QStringLiteral("message"));
    heading->setFont(UI::font(15, QFont::DemiBold));
    heading->setWordWrap(true);
    layout->addWidget(heading);
    auto* detail = new QLabel(informative(), this);
    detail->setObjectName(QStringLiteral("informative"));
    detail->setFont(UI::font(12));
    detail->setWordWrap(true);
    detail->setMinimumWidth(420);
    layout->addWidget(detail);

    combo = new QComboBox(this);
    combo->setFixedSize(240, 26);
    combo->setFont(UI::font(13));
    combo->setMaxVisibleItems(16);
    const QList<Language> favourites = TranslateModel::favouriteLanguages();
    for (const Language& language : favourites)
        combo->addItem(language.displayName(), language.identifier());
    combo->insertSeparator(combo->count());
    for (const Language& language : TranslateModel::languages())
        if (!favourites.contains(language))
            combo->addItem(language.displayName(), language.identifier());
    const Language wanted = TranslateModel::canonical(TranslateModel::defaultLanguage().value_or(favourites.value(0)));
    for (int i = 0; i < combo->count(); ++i) {
        const QVariant id = combo->itemData(i);
        if (id.isValid() && Language(id.toString()) == wanted) {
            combo->setCurrentIndex(i);
            break;
        }
    }
    layout->addWidget(combo);

    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    cancel = new QPushButton(QStringLiteral("Cancel"), this);
    confirm = new QPushButton(firstTime ? QStringLiteral("Use This Language") : QStringLiteral("Save"), this);
    for (QPushButton* button : {cancel, confirm}) {
        button->setFont(UI::font(13, QFont::Medium));
        button->setCursor(Qt::PointingHandCursor);
        buttons->addWidget(button);
    }
    confirm->setDefault(true);
    connect(confirm, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    layout->addSpacing(6);
    layout->addLayout(buttons);
}

QString LanguageChooser::message(bool firstTime) {
    return firstTime ? QStringLiteral("Which language should Pictolarium translate into?")
                     : QStringLiteral("Translation Language");
}

QString LanguageChooser::informative() {
    return QStringLiteral("This becomes your default. Change it any time under the panel icon \u2192 Translation "
                          "Language\u2026, or just for one screenshot with the dropdown in the translation popup.");
}

std::optional<Language> LanguageChooser::selected() const {
    const QVariant id = combo->currentData();
    if (combo->currentIndex() < 0 || !id.isValid())
        return std::nullopt;
    return Language(id.toString());
}
