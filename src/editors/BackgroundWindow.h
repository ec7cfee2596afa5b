#pragma once
// The backdrop editor: the picture previewed live on its backdrop, a fills menu, the shadow switch and
// presets; Done (or Return) writes "<name> styled.png" beside the file and hands back the file and picture.

#include "editors/BackdropStyle.h"
#include "editors/EditorWindow.h"

#include <QUrl>

class BackgroundCanvas;
class PresetMenu;
class QMenu;

class BackgroundWindow : public EditorWindow {
    Q_OBJECT
public:
    BackgroundWindow(const Shot& shot, std::function<void(const QUrl&, const QImage&)> onDone);

    // Every change of style goes through here: the preview renders only when the style really changed.
    void setStyle(const BackdropStyle& next);
    const BackdropStyle& style() const { return current; }

    void showFills(QWidget* sender);
    // The fills menu as showFills() pops it up; the caller owns it.
    QMenu* fillsMenu(QWidget* parent);
    void pickFill(int index);
    void pickCustom(const QString& hex);
    void toggleShadow();
    void showPresets(QWidget* sender);
    void refreshButtons();
    void finish() override;

    BackgroundCanvas* canvas = nullptr;
    std::function<void(const QUrl&, const QImage&)> onDone;
    GhostButton* fillButton = nullptr;
    GhostButton* shadowButton = nullptr;
    GhostButton* presetsButton = nullptr;
    PresetMenu* presetMenu = nullptr;

private:
    BackdropStyle current;
};
