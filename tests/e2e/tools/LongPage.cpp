// A window for the end-to-end tests that shows a long page to scroll through:
//   pictolarium_long_page PAGE.png X Y
// writes the page it shows to PAGE.png, shows it in a scroll area with its top-left corner at X, Y, prints
// "viewport W H" and "ready" once shown, and "scroll N" whenever the page moves (N: the page row at the
// top of the view).

#include "support/UniqueRowsPage.h"

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int pageWidth = 600;
constexpr int pageHeight = 4000;
constexpr int viewHeight = 400;

void say(const QString& line) {
    std::fputs(line.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Every pixel row differs from every other: 30 bands of colours drawn from the row and band numbers. A
// labelled box every 250 rows makes a screenshot easy to read.
QImage page() {
    QImage image = UniqueRowsPage::make(pageWidth, pageHeight, 20);
    QPainter painter(&image);
    QFont font = painter.font();
    font.setPixelSize(22);
    painter.setFont(font);
    for (int y = 0; y < pageHeight; y += 250) {
        const QRect box(40, y + 20, 200, 40);
        painter.fillRect(box, Qt::white);
        painter.setPen(Qt::black);
        painter.drawText(box, Qt::AlignCenter, QStringLiteral("Row %1").arg(y));
    }
    return image;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() < 4) {
        std::fputs("usage: pictolarium_long_page PAGE.png X Y\n", stderr);
        return 2;
    }
    const QImage picture = page();
    if (!picture.save(args.at(1))) {
        std::fputs("cannot write the page\n", stderr);
        return 1;
    }

    QScrollArea area;
    area.setWindowTitle(QStringLiteral("Long Page"));
    area.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    auto* label = new QLabel;
    label->setPixmap(QPixmap::fromImage(picture));
    label->setFixedSize(picture.size());
    area.setWidget(label);
    const int frame = 2 * area.frameWidth();
    area.resize(pageWidth + area.verticalScrollBar()->sizeHint().width() + frame, viewHeight + frame);
    area.move(args.at(2).toInt(), args.at(3).toInt());
    QObject::connect(area.verticalScrollBar(), &QScrollBar::valueChanged,
                     [](int value) { say(QStringLiteral("scroll %1").arg(value)); });
    area.show();
    QTimer::singleShot(300, &area, [&area] {
        say(QStringLiteral("viewport %1 %2").arg(area.viewport()->width()).arg(area.viewport()->height()));
        say(QStringLiteral("ready"));
    });
    return app.exec();
}
