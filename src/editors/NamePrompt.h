#pragma once
// A small modal dialog that asks for one name: the title as its message, a field, the given button and
// "Cancel". Shown over the active editor, else centred on the screen.

#include <QDialog>
#include <QString>

#include <optional>

class QLineEdit;

class NamePrompt : public QDialog {
    Q_OBJECT
public:
    NamePrompt(const QString& title, const QString& placeholder, const QString& button, QWidget* parent = nullptr);

    // The entered text trimmed of blanks and line breaks, or nothing when cancelled or empty.
    static std::optional<QString> ask(const QString& title, const QString& placeholder, const QString& button);
    // The text as ask() would return it after the dialog ended with `accepted`.
    static std::optional<QString> answer(bool accepted, const QString& text);

    QLineEdit* field = nullptr;
};
