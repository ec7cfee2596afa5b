#include "app/AppDelegate.h"

#include <QApplication>
#include <QMenu>

QMenu* AppDelegate::makeMenu() {
    auto* made = new QMenu();
    QAction* quit = made->addAction(QStringLiteral("Quit Pictolarium"));
    quit->setShortcut(QKeySequence(QStringLiteral("Ctrl+Q")));
    connect(quit, &QAction::triggered, qApp, &QApplication::quit);
    return made;
}
