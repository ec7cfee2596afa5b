#pragma once
// The text of the toast on screen; empty when none is shown.

#include "ui/Toast.h"

#include <QLabel>
#include <QString>
#include <QWidget>

inline QString toastText() {
    QWidget* toast = Toast::current();
    QLabel* label = toast ? toast->findChild<QLabel*>() : nullptr;
    return label ? label->text() : QString();
}
