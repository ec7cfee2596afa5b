#pragma once
// The rotate and flip editor: quarter turns and mirrors shown live; Done writes the turned picture in the
// file's place (the old one goes to the Trash) and hands it back with the message "Rotated".

#include "editors/EditorWindow.h"

#include "editors/Transform.h"

#include <QUrl>

#include <optional>

class RotateCanvas;

class RotateWindow : public EditorWindow {
    Q_OBJECT
public:
    RotateWindow(const Shot& shot, std::function<void(const QUrl&, const QString&)> onDone);

    void rotateLeft();
    void rotateRight();
    void flipHorizontally();
    void flipVertically();
    // Writes the turned picture on a worker, and closes once it is written; with nothing changed it only closes.
    void finish() override;

    RotateCanvas* canvas = nullptr;
    std::function<void(const QUrl&, const QString&)> onDone;
};
