#pragma once
// Sees every mouse-button press and key press on the X display, whichever client's window it lands in: raw
// events of the master devices, selected on the root window of a private connection.

#include "platform/PointerWatch.h"

#include <QByteArray>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <memory>

class QSocketNotifier;

class XInputPointerWatch final : public PointerWatch {
public:
    // A watch on its own connection to the display (the one of $DISPLAY when empty). Null when the
    // display cannot be opened, lacks XInput 2, or refuses the selection.
    static std::unique_ptr<XInputPointerWatch> open(const QByteArray& display = {});

    ~XInputPointerWatch() override;

    bool seesOtherApplications() const override { return true; }

private:
    XInputPointerWatch(xcb_connection_t* connection, quint32 root, quint8 opcode);

    void readEvents();
    // The position and owner of a press; nothing when the connection failed meanwhile.
    bool describe(PointerPress& press);
    // The ancestor of the window that is a child of the root: the frame the window manager put
    // around it, or the window itself when it is unmanaged.
    quint32 topLevelOf(quint32 window);

    xcb_connection_t* connection = nullptr;
    quint32 root = 0;
    quint8 opcode = 0;
    QSocketNotifier* notifier = nullptr;
    xcb_key_symbols_t* symbols = nullptr;
};
