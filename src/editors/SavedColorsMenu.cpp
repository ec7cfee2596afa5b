#include "editors/SavedColorsMenu.h"

#include "editors/CustomColors.h"
#include "platform/Defaults.h"

#include <QMenu>
#include <QPainter>
#include <QPixmap>

namespace {

QIcon swatch(const QColor& colour) {
    QPixmap pixmap(28, 28);
    pixmap.setDevicePixelRatio(2);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(colour);
    painter.setPen(QPen(QColor(255, 255, 255, 128), 1));
    painter.drawEllipse(QRectF(1, 1, 12, 12));
    return QIcon(pixmap);
}

} // namespace

SavedColorsMenu& SavedColorsMenu::shared() {
    static SavedColorsMenu menu;
    return menu;
}

void SavedColorsMenu::attach(QMenu* menu) {
    connect(menu, &QMenu::aboutToShow, this, [menu] { fill(menu, Defaults::standard()); });
}

void SavedColorsMenu::fill(QMenu* menu, Defaults& defaults) {
    menu->clear();
    const QList<QColor> colours = CustomColors::all(defaults);
    if (colours.isEmpty()) {
        QAction* none = menu->addAction(QStringLiteral("None yet. Use + in Annotate's colour menu"));
        none->setEnabled(false);
        return;
    }
    Defaults* store = &defaults;
    for (const QColor& colour : colours) {
        QAction* item =
            menu->addAction(swatch(colour), CustomColors::hex(colour) + QStringLiteral("  \u00B7  click to remove"));
        item->setData(colour);
        QObject::connect(item, &QAction::triggered, menu, [store, colour] { CustomColors::remove(colour, *store); });
    }
    menu->addSeparator();
    QAction* all = menu->addAction(QStringLiteral("Remove All"));
    QObject::connect(all, &QAction::triggered, menu, [store] { store->remove(QStringLiteral("picto.customColors")); });
}
