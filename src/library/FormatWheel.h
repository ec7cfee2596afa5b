#pragma once
// The drag-to-convert wheel: while picture files are dragged anywhere with the wheel key held, a ring of
// formats shows under the pointer, and dropping on a segment converts or compresses every dragged file.
// Watches drags by polling the pointer 25 times a second; all of its state lives on the main thread.

#include "library/WheelView.h"

#include <QList>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSet>
#include <QString>
#include <QUrl>
#include <optional>

class Defaults;
class DragProbe;
class QTimer;
class WheelPanel;

class FormatWheel : public QObject {
    Q_OBJECT
public:
    struct ModifierChoice {
        QString title;
        int flag;
    };

    // The one wheel of the program, on the standard settings. It watches nothing until given a probe.
    static FormatWheel& shared();
    FormatWheel(DragProbe* probe, Defaults& defaults, QObject* parent = nullptr);
    ~FormatWheel() override;

    // The drags to watch; the program hands in the desktop's before start(). Null watches nothing.
    void setProbe(DragProbe* probe);

    // Begins the poll. A drag already under way never shows the wheel.
    void start();
    bool isWatching() const { return timer != nullptr; }

    // A drag of these files out of the basket is about to begin (called before the drag runs). Its
    // pictures show on the wheel once the wheel key is held, without asking the drag's owner for them.
    void libraryDragBegan(const QList<QUrl>& urls);

    // The lower-case extensions that count as pictures.
    static const QSet<QString>& imageExts();
    // The keys the user may choose to summon the wheel, as flags compatible with the stored
    // "wheelModifier" (absent or 0 means shift).
    static const QList<ModifierChoice>& modifierChoices();
    // The stored wheel key as modifier flags; unset, 0, negative or naming no key: Shift.
    static quint32 modifier(const Defaults& defaults);
    static quint32 modifier();
    // The wheel key's name as the menu shows it: "Shift", "Alt", "Ctrl" or "Super".
    static QString modifierSymbol(const Defaults& defaults);
    static QString modifierSymbol();

    // Where a 340-pixel wheel centred on the point goes, kept inside the visible area where it fits.
    static QPoint origin(QPoint at, QRect visible);

    // One look at the pointer and the drag; the poll runs it every 40 ms.
    void tick();
    // Converts (or compresses) the files, or the shown files when there are none, off the main thread,
    // then tells the basket and shows the outcome at the pointer.
    void perform(const WheelView::Option& option, const QList<QUrl>& files);

    bool isVisible() const { return visible; }
    // The window, once first shown.
    WheelPanel* panel() const { return window; }
    WheelView* view() const;
    // The files of the wheel now shown.
    QList<QUrl> shownFiles() const { return urls; }

    static constexpr int intervalMs = 40;
    static constexpr int hideDelayMs = 350;
    static constexpr double toastSeconds = 2.2;

private:
    void show(const QList<QUrl>& files, QPoint at);
    void makePanel();
    void hideNow();
    void hideAfterDrop();
    bool held(quint32 modifiers) const;

    DragProbe* probe;
    Defaults& defaults;
    QTimer* timer = nullptr;
    qint64 handledChangeCount = -1;
    qint64 releasedChangeCount = -1; // when the button last came up
    bool wasButtonDown = false;
    WheelPanel* window = nullptr;
    QList<QUrl> urls;
    bool hidePending = false;
    bool nudgeDue = false; // the wheel went away under a drag: the next look nudges the pointer
    qint64 hideAt = 0;
    std::optional<QList<QUrl>> libraryDrag;
    // The basket's drag stays ours until the button comes up: the owner change it makes is not a new drag.
    QList<QUrl> libraryFiles;
    bool visible = false;
};
