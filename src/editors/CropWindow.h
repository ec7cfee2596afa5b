#pragma once
// The crop editor: a rectangle or a lasso outline on the picture; Return or Done writes the piece as
// "<name> crop.png" beside the file and hands it back with the message "Cropped".

#include "editors/EditorWindow.h"

#include <QUrl>

class CropCanvas;

class CropWindow : public EditorWindow {
    Q_OBJECT
public:
    CropWindow(const Shot& shot, std::function<void(const QUrl&, const QString&)> onDone);

    void pickRect();
    void pickLasso();
    // Writes the selection; without a usable one it only closes.
    void finish() override;

    CropCanvas* canvas = nullptr;
    std::function<void(const QUrl&, const QString&)> onDone;
    GhostButton* rectButton = nullptr;
    GhostButton* lassoButton = nullptr;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void pick(int mode);
};
