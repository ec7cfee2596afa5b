#include "library/LibraryPanel.h"

#include "card/Thumbnail.h"
#include "imaging/ShotFiles.h"
#include "ui/Brand.h"
#include "ui/UI.h"

#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

LibraryPanel& LibraryPanel::shared() {
    static LibraryPanel* panel = new LibraryPanel();
    return *panel;
}

QString LibraryPanel::changed() { return ShotFiles::changed(); }

LibraryPanel::LibraryPanel() : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setWindowTitle(QStringLiteral("Pictolarium Basket"));
    setObjectName(QStringLiteral("LibraryPanel"));
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(QStringLiteral("Basket"), this);
    label->setFont(UI::font(15, QFont::DemiBold));
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Brand::background());
    pal.setColor(QPalette::WindowText, Brand::text());
    setPalette(pal);
    setAutoFillBackground(true);
    resize(560, 380);
}

void LibraryPanel::toggle(std::optional<QPoint> near) {
    Thumbnail::dismiss();
    if (isVisible() && isActiveWindow()) {
        hide();
        return;
    }
    if (isVisible()) {
        hide();
        return;
    }
    const QPoint point = near.value_or(QCursor::pos());
    QScreen* screen = QGuiApplication::screenAt(point);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        QRect frame = geometry();
        frame.moveCenter(screen->availableGeometry().center());
        setGeometry(frame);
    }
    show();
    raise();
    activateWindow();
}
