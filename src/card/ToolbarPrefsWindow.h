#pragma once
// The "Customize Toolbar" window: the user ticks card tools on and off and drags them into a new order.
// Changes are stored at once and apply to the next card.

#include <QSet>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>

class ClickAway;
class Defaults;
class PointerWatch;
class QKeyEvent;
class QListView;
class QMimeData;
class QPushButton;
class ToolRows;

class ToolbarPrefsWindow : public QWidget {
    Q_OBJECT
public:
    // The type under which a dragged row carries its index, as a decimal string.
    static const QString dragType;

    explicit ToolbarPrefsWindow(Defaults& defaults, QWidget* parent = nullptr);
    ~ToolbarPrefsWindow() override;

    // Where windows made from now on see clicks elsewhere on the screen; the program sets it once at start.
    // Without it, only clicks in our own windows and the loss of focus close the window.
    static void setPointerWatch(std::function<std::unique_ptr<PointerWatch>()> make);

    // The one window of the program on the standard settings, made on first use and kept for the
    // process. Closing it only hides it.
    static ToolbarPrefsWindow& shared();

    // Shows the shared window. Note that this hides QWidget::show(): use present() on an instance.
    static void show();

    // Reloads the rows from the settings, centres the window and brings it to the front with focus.
    void present();
    void reload();

    // The rows as shown, top to bottom, and the ids whose box is unticked.
    const QStringList& shownOrder() const { return order; }
    const QSet<QString>& hiddenIds() const { return hidden; }
    QListView* tableView() const { return table; }
    QPushButton* resetButton() const { return reset; }

    // A click anywhere on a row flips whether that tool is shown; a row past the end does nothing.
    void rowClicked(int row);

    // The drag payload of a row, or null for a row past the end.
    QMimeData* dragData(int row) const;

    // Moves the dragged row so that it lands above row `row` (row == count: at the end) and stores the
    // order. Refuses, writing nothing, a payload it cannot read.
    bool acceptDrop(const QMimeData* data, int row);

    // Forgets the stored order and hidden set: every tool shown, in catalogue order.
    void resetTapped();

protected:
    // Escape closes (hides) it, as a click elsewhere does, and so does turning to another program by the keyboard
    // (Alt+Tab), which no click tells of.
    void keyPressEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;

private:
    void lostKey();
    Defaults& defaults;
    QStringList order;
    QSet<QString> hidden;
    QListView* table = nullptr;
    QPushButton* reset = nullptr;
    ToolRows* rows = nullptr;
    std::unique_ptr<ClickAway> clickAway;
    static std::function<std::unique_ptr<PointerWatch>()>& pointerWatchMaker();
};
