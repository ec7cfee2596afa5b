#pragma once
// The modal dialog that changes the shortcut of one hot action, and the plain alert the hot
// actions show when a shortcut cannot be had.

#include "shortcuts/Shortcut.h"

#include <QList>
#include <QPair>
#include <QString>

class GlobalKeys;
class QWidget;

namespace ShortcutDialog {

struct Result {
    enum Kind { save, reset, cancel };
    Kind kind = cancel;
    Shortcut shortcut; // the recorded combination, for save
};

// Our other actions' shortcuts, by title: a combination one of them has is refused in the recorder.
using Taken = QList<QPair<QString, Shortcut>>;

// Runs the dialog for the action's title with its current and default shortcuts. keys reads the
// keyboard map for the recorder.
Result run(const QString& title, const Shortcut& current, const Shortcut& def, const GlobalKeys& keys,
           const Taken& ours = {});

// A modal message with one OK button, in the dialog's look.
void alert(const QString& message, const QString& informative);

// The style sheet both share.
QString styleSheet();

} // namespace ShortcutDialog
