#pragma once
// The modal dialog in which the user picks the language translations go into by default:
// favourites first, then every other language of the list.

#include "text/Language.h"

#include <QDialog>

#include <optional>

class QComboBox;
class QPushButton;

class LanguageChooser : public QDialog {
    Q_OBJECT
public:
    // firstTime asks the question of a first translation; otherwise the dialog is the setting.
    explicit LanguageChooser(bool firstTime, QWidget* parent = nullptr);

    static QString message(bool firstTime);
    static QString informative();

    QComboBox* popup() const { return combo; }
    QPushButton* confirmButton() const { return confirm; }
    QPushButton* cancelButton() const { return cancel; }
    // The selected item's language; none for an item without one.
    std::optional<Language> selected() const;

private:
    QComboBox* combo = nullptr;
    QPushButton* confirm = nullptr;
    QPushButton* cancel = nullptr;
};
