#pragma once
// The window every picture editor derives from.

#include <QList>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>
#include <functional>
#include <optional>

class EditorWindow : public QWidget {
    Q_OBJECT
public:
    explicit EditorWindow(QWidget* parent = nullptr);
    ~EditorWindow() override;

    // Called once when the window closes for any reason, then cleared.
    std::function<void()> onClose;
    // While set during an editor's construction, the editor uses it as its canvas size.
    static std::optional<QSize> forcedCanvas;
    // The editors on screen.
    static QList<QPointer<EditorWindow>>& open();

    // Adds the window to open(), shows it with its canvas centred on the source, inside the available area of
    // the screen the source meets with reserveBelow pixels left free at the bottom, and makes it active.
    void present(const QRect& growingFrom, int reserveBelow);
    // The canvas on screen: the picture's view for the crop and annotate editors, the whole window otherwise.
    virtual QRect canvasFrame() const;
    // Leaves open(), calls onClose once and closes the window.
    void closeEditor();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void finish();
};
