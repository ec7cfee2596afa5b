#pragma once
// The small floating box in which a picture is given a new name: one line with the suggestion selected and
// a Rename button, above a point on the screen. It takes the keyboard while it shows; Return renames,
// Escape, a click elsewhere or an empty name give up. One box at a time.

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

class PointerWatch;
class QLineEdit;

class RenamePanel : public QWidget {
    Q_OBJECT
public:
    static constexpr int boxWidth = 380;
    static constexpr int boxHeight = 46;

    // Replaces the box on screen (whose callbacks are not called) with a new one centred 12 above `near`.
    // Exactly one of the callbacks runs once, unless another box replaces this one first.
    static RenamePanel* show(const QString& suggestion, QPoint near, std::function<void(const QString&)> onCommit,
                             std::function<void()> onDismiss = {});
    // The box on screen, if any.
    static RenamePanel* current();
    // Where boxes made from now on see clicks in other programs' windows, which give up the rename even where
    // no window manager takes the keyboard from the box; the program sets it once at start.
    static void setPointerWatch(std::function<std::unique_ptr<PointerWatch>()> make);

    QLineEdit* field = nullptr;
    std::function<void(const QString&)> onCommit;
    std::function<void()> onDismiss;

    // Return and the button: renames with the cleaned name, or gives up when none is left.
    void commit();
    // Escape and the loss of focus.
    void dismiss();

protected:
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit RenamePanel(const QString& suggestion);
    ~RenamePanel() override;
    void finish();
    void makeActive();

    bool finished = false;
    bool wasActive = false;
    std::unique_ptr<PointerWatch> presses;
};
