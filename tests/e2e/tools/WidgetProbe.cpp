// A small program for the end-to-end tests: shows toasts, click-away windows and the shared
// widgets on demand, one command a line on standard input, and reports what happens on standard
// output. It links the real widgets; the application itself has no such switches.
//
//   toast X Y SECONDS TEXT...   show a toast above (X, Y)
//   hide                        take the toast off at once
//   target X Y W H              a plain window that reports presses ("target-pressed X Y")
//   clickaway X Y W H           a window closed by clicks elsewhere ("clickaway-closed")
//   other X Y W H               another window of this program
//   gallery X Y SCALE           every widget in every look, at the size setting SCALE
//   symbols X Y                 every symbol of the icon table, with its name
//   quit

#include "platform/Defaults.h"
#include "platform/PointerWatch.h"
#include "platform/x11/X11Platform.h"
#include "ui/ClickAway.h"
#include "ui/Divider.h"
#include "ui/FillImageView.h"
#include "ui/FormatBadge.h"
#include "ui/GhostButton.h"
#include "ui/Pill.h"
#include "ui/Symbols.h"
#include "ui/Toast.h"
#include "ui/UI.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEnterEvent>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QSocketNotifier>
#include <QTextStream>
#include <QVBoxLayout>

#include <cstdio>
#include <unistd.h>

namespace {

void say(const QString& line) {
    std::fputs(line.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

class Target : public QWidget {
public:
    explicit Target(const QString& title) {
        setWindowTitle(title);
        QPalette p = palette();
        p.setColor(QPalette::Window, QColor(70, 90, 140));
        setPalette(p);
        setAutoFillBackground(true);
    }

protected:
    void mousePressEvent(QMouseEvent* event) override {
        const QPoint at = event->globalPosition().toPoint();
        say(QStringLiteral("target-pressed %1 %2").arg(at.x()).arg(at.y()));
    }
};

class ClickAwayWindow : public QWidget {
public:
    explicit ClickAwayWindow(Platform& platform) {
        setWindowTitle(QStringLiteral("Probe ClickAway"));
        QPalette p = palette();
        p.setColor(QPalette::Window, QColor(140, 70, 70));
        setPalette(p);
        setAutoFillBackground(true);
        away = new ClickAway(this, platform.watchPointer());
        say(QStringLiteral("clickaway-watch %1").arg(away->monitor->seesOtherApplications() ? u"x11" : u"focus"));
    }
    ~ClickAwayWindow() override { delete away; }

protected:
    void closeEvent(QCloseEvent* event) override {
        say(QStringLiteral("clickaway-closed"));
        QWidget::closeEvent(event);
    }

private:
    ClickAway* away = nullptr;
};

QImage samplePicture() {
    QImage image(160, 90, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&image);
    QLinearGradient g(0, 0, 160, 90);
    g.setColorAt(0, QColor(250, 180, 60));
    g.setColorAt(1, QColor(60, 120, 220));
    p.fillRect(image.rect(), g);
    p.setPen(QPen(Qt::white, 4));
    p.drawEllipse(QPoint(80, 45), 30, 30);
    return image;
}

void hover(QWidget* w) {
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
    QApplication::sendEvent(w, &enter);
}

void press(QWidget* w) {
    QMouseEvent down(QEvent::MouseButtonPress, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(w, &down);
}

QWidget* gallery(double scale) {
    Defaults::standard().set(QStringLiteral("picto.sizeScale"), scale);
    auto* window = new QWidget;
    window->setWindowTitle(QStringLiteral("Probe Gallery"));
    QPalette p = window->palette();
    p.setColor(QPalette::Window, QColor(60, 66, 72));
    window->setPalette(p);
    window->setAutoFillBackground(true);
    auto* column = new QVBoxLayout(window);

    // One pill of buttons in every look, left to right:
    // idle, hover, pressed, active, active+pressed, disabled, unknown symbol (hover), tint,
    // tint active, text, text active, glass close, glass close hover, glass done.
    auto* pill = new Pill;
    auto* row = new QHBoxLayout(pill);
    row->setContentsMargins(8, 4, 8, 4);
    row->setSpacing(4);
    auto add = [&](GhostButton* b) {
        row->addWidget(b);
        return b;
    };
    const QSizeF tool(30, 28);
    add(new GhostButton(QStringLiteral("Crop"), QStringLiteral("crop"), {}, tool, 13));
    hover(add(new GhostButton(QStringLiteral("Pin"), QStringLiteral("pin"), {}, tool, 13)));
    press(add(new GhostButton(QStringLiteral("Trash"), QStringLiteral("trash"), {}, tool, 13)));
    add(new GhostButton(QStringLiteral("Lasso"), QStringLiteral("lasso"), {}, tool, 13))->setActive(true);
    auto* activePressed = add(new GhostButton(QStringLiteral("Box"), QStringLiteral("rectangle"), {}, tool, 13));
    activePressed->setActive(true);
    press(activePressed);
    add(new GhostButton(QStringLiteral("Undo"), QStringLiteral("arrow.uturn.backward"), {}, tool, 13))
        ->setEnabled(false);
    hover(add(new GhostButton(QStringLiteral("None"), QStringLiteral("no.such.symbol"), {}, tool, 13)));
    row->addWidget(new Divider(16, false));
    add(new GhostButton(QStringLiteral("Colour"), {}, {}, tool, 13))->setTint(QColor(230, 70, 60));
    auto* tintActive = add(new GhostButton(QStringLiteral("Colour"), {}, {}, tool, 13));
    tintActive->setTint(QColor(60, 140, 230));
    tintActive->setActive(true);
    row->addWidget(new Divider(16, false));
    add(new GhostButton(QStringLiteral("Shadow"), {}, QStringLiteral("Shadow"), QSizeF(66, 28), 13));
    add(new GhostButton(QStringLiteral("Rename"), {}, QStringLiteral("Rename"), QSizeF(68, 28), 13))->setActive(true);
    row->addWidget(new Divider(16, false));
    add(new GhostButton(QStringLiteral("Close"), QStringLiteral("xmark"), {}, tool, 12))
        ->setGlass(GhostButton::Glass::close);
    auto* closeHover = add(new GhostButton(QStringLiteral("Close"), QStringLiteral("xmark"), {}, tool, 12));
    closeHover->setGlass(GhostButton::Glass::close);
    hover(closeHover);
    add(new GhostButton(QStringLiteral("Done"), QStringLiteral("checkmark"), {}, tool, 14))
        ->setGlass(GhostButton::Glass::done);
    column->addWidget(pill, 0, Qt::AlignLeft);

    // Pictures, fitted and filled, and badges.
    auto* pictures = new QHBoxLayout;
    auto* fit = new FillImageView(QRect(0, 0, 100, 100));
    fit->setFixedSize(100, 100);
    fit->setImage(samplePicture());
    auto* fill = new FillImageView(QRect(0, 0, 100, 100));
    fill->setFixedSize(100, 100);
    fill->setScaling(FillImageView::Scaling::fill);
    fill->setImage(samplePicture());
    fill->cornerRadius = 14;
    auto* empty = new FillImageView(QRect(0, 0, 100, 100));
    empty->setFixedSize(100, 100);
    pictures->addWidget(fit);
    pictures->addWidget(fill);
    pictures->addWidget(empty);
    auto* badges = new QVBoxLayout;
    for (const char* format : {"PNG", "JPEG", "WebP", "HEIC"}) {
        auto* badge = new FormatBadge;
        badge->setText(QString::fromLatin1(format));
        badge->setFixedSize(badge->sizeHint());
        badges->addWidget(badge);
    }
    auto* across = new Divider(16, true);
    badges->addWidget(across);
    pictures->addLayout(badges);
    pictures->addStretch();
    column->addLayout(pictures);
    return window;
}

QWidget* symbolSheet() {
    auto* window = new QWidget;
    window->setWindowTitle(QStringLiteral("Probe Symbols"));
    QPalette p = window->palette();
    p.setColor(QPalette::Window, QColor(30, 32, 30));
    p.setColor(QPalette::WindowText, QColor(200, 200, 200));
    window->setPalette(p);
    window->setAutoFillBackground(true);
    auto* grid = new QGridLayout(window);
    grid->setHorizontalSpacing(14);
    grid->setVerticalSpacing(2);
    QFile table(QStringLiteral(":/symbols/symbols.txt"));
    table.open(QIODevice::ReadOnly | QIODevice::Text);
    int index = 0;
    while (!table.atEnd()) {
        const QString line = QString::fromUtf8(table.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QString name = line.section(QLatin1Char(' '), 0, 0);
        auto* picture = new QLabel;
        picture->setPixmap(QPixmap::fromImage(Symbols::image(name, 20, Qt::white)));
        auto* caption = new QLabel(name.left(28));
        caption->setFont(UI::font(10));
        const int row = index % 17, column = (index / 17) * 2;
        grid->addWidget(picture, row, column);
        grid->addWidget(caption, row, column + 1);
        ++index;
    }
    return window;
}

QRect rectArgs(const QStringList& words, int from) {
    return QRect(words.value(from).toInt(), words.value(from + 1).toInt(), words.value(from + 2).toInt(),
                 words.value(from + 3).toInt());
}

void command(const QString& line, Platform& platform) {
    const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return;
    const QString& verb = words.first();
    if (verb == u"toast") {
        const QString text = words.mid(4).join(QLatin1Char(' '));
        Toast::show(text, QPoint(words.value(1).toInt(), words.value(2).toInt()), words.value(3).toDouble());
        say(QStringLiteral("toast-shown"));
    } else if (verb == u"hide") {
        Toast::hide();
        say(QStringLiteral("toast-hidden"));
    } else if (verb == u"target" || verb == u"other") {
        auto* w = new Target(verb == u"target" ? QStringLiteral("Probe Target") : QStringLiteral("Probe Other"));
        w->setGeometry(rectArgs(words, 1));
        w->show();
        say(verb + QStringLiteral("-shown"));
    } else if (verb == u"clickaway") {
        auto* w = new ClickAwayWindow(platform);
        w->setGeometry(rectArgs(words, 1));
        w->show();
        say(QStringLiteral("clickaway-shown"));
    } else if (verb == u"gallery") {
        QWidget* w = gallery(words.value(3).toDouble());
        w->move(words.value(1).toInt(), words.value(2).toInt());
        w->show();
        say(QStringLiteral("gallery-shown"));
    } else if (verb == u"symbols") {
        QWidget* w = symbolSheet();
        w->move(words.value(1).toInt(), words.value(2).toInt());
        w->show();
        say(QStringLiteral("symbols-shown"));
    } else if (verb == u"quit") {
        QApplication::quit();
    }
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pictolarium Probe"));
    QApplication::setQuitOnLastWindowClosed(false);
    UI::registerFonts();
    X11Platform platform;
    UI::setCompositor(&platform.compositor());

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            QApplication::quit();
            return;
        }
        pending.append(buffer, n);
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(pending.left(end)).trimmed();
            pending.remove(0, end + 1);
            command(line, platform);
        }
    });
    say(QStringLiteral("ready"));
    return app.exec();
}
