#pragma once
// Mouse-button presses anywhere on the screen, including in other applications' windows, for
// windows that close themselves when the user clicks elsewhere.

#include <QObject>
#include <QPoint>

#include <memory>

struct PointerPress {
    // Where the pointer was, in screen coordinates (device-independent pixels). Meaningless when
    // !positionKnown.
    QPoint position;
    // The press landed in one of this application's own windows.
    bool ownWindow = false;
    // False when the backend only learnt that the user turned to another application (the
    // fallback's loss of focus), not where the press was.
    bool positionKnown = true;
};

class PointerWatch : public QObject {
    Q_OBJECT
public:
    // The X11 backend (raw button events of every device, from a private connection) when the
    // application runs on an X display that has XInput 2.2; otherwise a watch that sees presses in
    // this application's windows and reports the application losing focus as a press elsewhere.
    // Never returns null.
    static std::unique_ptr<PointerWatch> create();

    ~PointerWatch() override;

    // True when presses in other applications are reported with their position.
    virtual bool seesOtherApplications() const = 0;

signals:
    // Left, right and other buttons; wheel steps are not presses and are not reported.
    void pressed(const PointerPress& press);

protected:
    explicit PointerWatch(QObject* parent = nullptr);
};
