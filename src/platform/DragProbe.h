#pragma once
// What the format wheel needs to know about drags that other programs run: the pointer's left
// button and modifier keys, which drag is under way, and the files it carries.

#include <QList>
#include <QPoint>
#include <QUrl>
#include <QtGlobal>
#include <optional>

class DragProbe {
public:
    // Modifier keys, with the values the "wheelModifier" setting stores.
    enum Modifier : quint32 {
        shift = 0x20000,
        control = 0x40000,
        alt = 0x80000,
        super = 0x100000,
    };

    struct Pointer {
        bool buttonDown = false; // the left button
        quint32 modifiers = 0;   // Modifier flags held now
        QPoint position;         // screen coordinates
    };

    virtual ~DragProbe() = default;

    // One look at the pointer. Answers while another program holds a drag's grab. A display that
    // went away reads as no button and no modifiers.
    virtual Pointer pointer() = 0;

    // Grows by at least one whenever the drag selection changes hands, so a new drag brings a new
    // count. Starts at 0.
    virtual qint64 changeCount() = 0;

    // The local files of the drag under way. Nothing while the answer is still on its way (ask again
    // later); an empty list when the drag carries no file URLs or its owner did not answer in time.
    // URLs that are not absolute local file paths are left out.
    virtual std::optional<QList<QUrl>> fileURLs() = 0;

    // Milliseconds on a monotonic clock.
    virtual qint64 now() = 0;

    // Moves the pointer a pixel and back. A program running a drag looks for the window under the pointer
    // only when the pointer moves: after a window shows or hides under a still pointer, this makes it look
    // again, so that a drop goes to the window the user sees there.
    virtual void nudgePointer() = 0;
};
