#pragma once
// The resize editor: a width and a height field with an aspect lock between them and a preview of the
// typed size. Done writes the picture at that size in the file's place (the old one goes to the Trash)
// and hands it back with the message "Resized".

#include "editors/EditorWindow.h"

#include <QUrl>

class QLineEdit;
class ResizeCanvas;

class ResizeWindow : public EditorWindow {
    Q_OBJECT
public:
    static constexpr qint64 largest = 16000;

    ResizeWindow(const Shot& shot, std::function<void(const QUrl&, const QString&)> onDone);

    void toggleLock();
    // Reads the field's digits into the target size; anything unreadable puts the current target back.
    void fieldEdited(QLineEdit* sender);
    // Writes the picture at the target size; with the picture's own size it only closes.
    void finish() override;
    void syncFields();

    ResizeCanvas* canvas = nullptr;
    std::function<void(const QUrl&, const QString&)> onDone;
    GhostButton* lockButton = nullptr;
    QLineEdit* wField = nullptr;
    QLineEdit* hField = nullptr;
    qint64 targetW = 0;
    qint64 targetH = 0;

private:
    QLineEdit* numberField();
};
