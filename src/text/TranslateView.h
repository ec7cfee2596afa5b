#pragma once
// The content of the translate card, drawn from its model: the source and target languages, the
// translation or summary switch, the result (or the status while it is missing) and the copy
// buttons. It writes the user's target and mode back into the model.

#include "text/TranslateModel.h"

#include <QWidget>

#include <memory>

class QButtonGroup;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QToolButton;

class TranslateView : public QWidget {
    Q_OBJECT
public:
    explicit TranslateView(std::shared_ptr<TranslateModel> model, QWidget* parent = nullptr);

    TranslateModel& model() const { return *owned; }
    // The result of the current mode, or the status while that result is empty.
    QString shown() const;
    bool waiting() const;
    // Ctrl+C as the card's key grab hands it over (the card never takes the focus); true when taken.
    bool handleKey(int key, Qt::KeyboardModifiers modifiers);
    void copy();
    void copyOriginal();

    QLabel* sourceLabel() const { return source; }
    QComboBox* languagePicker() const { return picker; }
    QToolButton* modeButton(TranslateModel::Mode mode) const;
    QPlainTextEdit* resultText() const { return result; }
    QPushButton* copyButton() const { return copyShown; }
    QPushButton* copyOriginalButton() const { return copyInput; }
    QWidget* spinner() const { return spin; }
    // What was left untranslated, under the result.
    QLabel* noteLabel() const { return noteLine; }
    QLabel* badge() const { return beta; }

private:
    void refresh();
    void fillLanguages();

    std::shared_ptr<TranslateModel> owned;
    QLabel* source = nullptr;
    QComboBox* picker = nullptr;
    QButtonGroup* modes = nullptr;
    QPlainTextEdit* result = nullptr;
    QLabel* noteLine = nullptr;
    QPushButton* copyShown = nullptr;
    QPushButton* copyInput = nullptr;
    QWidget* spin = nullptr;
    QLabel* beta = nullptr;
    // Which text the result area holds: the mode, and whether it is the status line.
    int shownKind = -1;
};
