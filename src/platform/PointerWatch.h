#pragma once
// Mouse-button presses anywhere on the screen, including in other applications' windows, for
// windows that close themselves when the user clicks elsewhere; and keys pressed anywhere, for a window
// that answers a few keys without the focus and lets go of them once the user types elsewhere.

#include <QObject>
#include <QPoint>

struct PointerPress {
    // Where the pointer was, in screen coordinates (device-independent pixels). Meaningless when
    // !positionKnown.
    QPoint position;
    // The press landed in one of this application's own windows.
    bool ownWindow = false;
    // False when the backend only learnt that the user turned to another application (the
    // fallback's loss of focus), not where the press was.
    bool positionKnown = true;
    // The press landed in another program's window (not the bare desktop), which the user turns to by it.
    bool otherWindow = false;
};

class PointerWatch : public QObject {
    Q_OBJECT
public:
    ~PointerWatch() override;

    // True when presses in other applications are reported with their position.
    virtual bool seesOtherApplications() const = 0;

signals:
    // Left, right and other buttons; wheel steps are not presses and are not reported.
    void pressed(const PointerPress& press);
    // A key pressed anywhere, whichever window it went to, named by the keysym of its first column (no
    // modifier); only where other applications are seen.
    void typed(quint32 keysym);

protected:
    explicit PointerWatch(QObject* parent = nullptr);
};
