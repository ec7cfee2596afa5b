#pragma once
// The annotate editor: the canvas between a bar of drawing tools and a bar of fill, colour, size,
// signature, backdrop, undo and Done. It reopens a stored edit of the picture with its shapes still
// editable, writes the annotated picture (beside the file, or a reopened PNG in place), stores the shapes
// and hands the result back; "Add a backdrop" does the same and then hands over to the backdrop editor.

#include "editors/AnnotateCanvas.h"
#include "editors/AnnotateStyle.h"
#include "editors/EditStore.h"
#include "editors/EditorWindow.h"

#include <QPointer>
#include <QUrl>
#include <map>

#include <QColorDialog>
class PresetMenu;
class QMenu;

class AnnotateWindow : public EditorWindow {
    Q_OBJECT
public:
    using Tool = AnnotateCanvas::Tool;

    // `stored`: the file's stored edit as read beforehand (EditStore::load) off the thread that answers the
    // user; without it the edit is read here. `drawable`: what drawable() made of the same shot and `stored`
    // beforehand; without it the canvas makes it here.
    AnnotateWindow(const Shot& shot, std::function<void(const QUrl&, const QImage&)> onDone,
                   AnnotateCanvas::WordBoxes wordBoxes = {}, const std::optional<EditStore::Edit>* stored = nullptr,
                   QImage drawable = {});

    // The picture the window will edit (the stored edit's base when it fits the shown picture, else the shown
    // picture) in the form its canvas draws with. Slow for a large picture: for a worker.
    static QImage drawable(const QImage& shown, const std::optional<EditStore::Edit>& stored);
    ~AnnotateWindow() override;

    AnnotateCanvas* canvas = nullptr;
    std::function<void(const QUrl&, const QImage&)> onDone;
    std::map<Tool, GhostButton*> toolButtons;
    GhostButton* colorButton = nullptr;
    GhostButton* fillButton = nullptr;
    GhostButton* sizeButton = nullptr;
    GhostButton* signatureButton = nullptr;
    // "Add a backdrop": true when the backdrop editor is on its way, which closes this window once it is up;
    // otherwise this window closes at once.
    std::function<bool()> onBackdrop;
    // The stored edit this window reopened; fixed at construction.
    std::optional<QString> editID;
    QList<QString> signatureURLs;

    // The sizes of the size menu, in thickness units.
    struct Size {
        QString name;
        double value;
    };
    static const QList<Size>& sizes();
    static QList<QColor> paletteColors();

    void pickTool(Tool tool);
    void toggleFill();
    void setColor(const QColor& color);
    void updateFillButton();
    void pickSize(int index);
    void backdropTapped();
    void finish() override;

    // Style presets: the colour as a palette index, the thickness and the fill flag, captured and applied.
    PresetMenu* presetMenu = nullptr;
    AnnotateStyle currentStyle() const;
    void applyStyle(const AnnotateStyle& style);
    void showPresets(QWidget* sender);

    // The menus are built anew at every opening; tests inspect them without showing them.
    QMenu* colorMenu();
    QMenu* sizeMenu();
    QMenu* signatureMenu();
    void showColors();
    void showSizes();
    void showSignatures();
    // The colour dialog, opened on the canvas colour; changes apply live.
    QColorDialog* openColorPanel();
    QColorDialog* colorPanel() const { return panel; }

    void placeSavedSignature(int index);
    void newSignature();
    void importSignature();
    void removeSignature(int index);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Renders the picture here, then writes it and stores the shapes on a worker; `then` runs once they are
    // written. A failure is shown and the window stays.
    void commit(std::function<void()> then);
    void openBackdrop();
    void showActiveTool();
    void popUnder(QMenu* menu, QWidget* button);
    void colorPanelClosed();

    QPointer<QColorDialog> panel;
};
