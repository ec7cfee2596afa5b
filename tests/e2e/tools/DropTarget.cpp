// A window for the end-to-end tests that accepts file drops and prints what it was given:
//   pictolarium_drop_target X Y W H
// prints "ready" once shown, then for every drop one "url <url>" line per dropped URL, followed by
// "dropped <action>" (copy, move or link).

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QWidget>

#include <cstdio>

namespace {

void say(const QString& line) {
    std::fputs(line.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

class DropTarget : public QWidget {
public:
    DropTarget() {
        setWindowTitle(QStringLiteral("drop-target"));
        setAcceptDrops(true);
        QPalette p = palette();
        p.setColor(QPalette::Window, QColor(60, 140, 90));
        setPalette(p);
        setAutoFillBackground(true);
    }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override {
        if (event->mimeData()->hasUrls() && (event->possibleActions() & Qt::CopyAction)) {
            event->setDropAction(Qt::CopyAction);
            event->accept();
        }
    }
    void dragMoveEvent(QDragMoveEvent* event) override {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    }
    void dropEvent(QDropEvent* event) override {
        for (const QUrl& url : event->mimeData()->urls())
            say(QStringLiteral("url ") + url.toString());
        event->setDropAction(Qt::CopyAction);
        event->accept();
        const Qt::DropActions offered = event->possibleActions();
        say(QStringLiteral("dropped copy offered%1%2%3")
                .arg(offered & Qt::CopyAction ? QStringLiteral(" copy") : QString())
                .arg(offered & Qt::MoveAction ? QStringLiteral(" move") : QString())
                .arg(offered & Qt::LinkAction ? QStringLiteral(" link") : QString()));
    }
    void showEvent(QShowEvent* event) override {
        QWidget::showEvent(event);
        say(QStringLiteral("ready"));
    }
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    DropTarget window;
    const QStringList args = QApplication::arguments();
    if (args.size() >= 5)
        window.setGeometry(args.at(1).toInt(), args.at(2).toInt(), args.at(3).toInt(), args.at(4).toInt());
    else
        window.setGeometry(700, 100, 300, 200);
    window.show();
    return QApplication::exec();
}
