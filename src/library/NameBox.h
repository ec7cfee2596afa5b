#pragma once
// A small dark box with a title, a line of text and one button: asks for a width, or a new
// name beside a tile. Return or the button commits; Escape or a press elsewhere closes it.

#include <QPoint>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

class QLineEdit;
class QPushButton;

class NameBox : public QWidget {
    Q_OBJECT
public:
    NameBox(const QString& title, const QString& text, const QString& placeholder, const QString& button);

    // Waits for an answer; nothing when closed without one.
    static std::optional<QString> ask(const QString& title, const QString& placeholder, const QString& button,
                                      QWidget* over);
    // The rename box, centred on near.x with its bottom at near.y; one at a time; onCommit gets a name that is not
    // blank, with
    // "/", ":" and "\" made "-".
    static void showRename(const QString& suggestion, QPoint near, std::function<void(const QString&)> onCommit);
    static NameBox* current();
    // The committed text as a name: trimmed, separators made "-"; empty when blank.
    static QString cleanName(const QString& typed);

    QLineEdit* field = nullptr;
    QPushButton* commitButton = nullptr;
    std::function<void(const QString&)> onCommit;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;

private:
    void commit();
};
