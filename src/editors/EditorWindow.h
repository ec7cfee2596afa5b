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

    // Shows the window with its canvas centred on the source, inside the screen's available
    // area with reserveBelow pixels left free at the bottom.
    void present(const QRect& growingFrom, int reserveBelow);
    virtual QRect canvasFrame() const;
    void closeEditor();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void finish();
};
