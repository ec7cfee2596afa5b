// A window for the end-to-end tests that drags files out like a file manager does:
//   pictolarium_drag_source X Y W H FILE...
// shows a window at the given place; pressing the left button in it and moving starts a copy drag of the
// files as "text/uri-list".

#include <QApplication>
#include <QDrag>
#include <QFileInfo>
#include <QMimeData>
#include <QMouseEvent>
#include <QWidget>

#include <cstdio>

namespace {

class DragSource : public QWidget {
public:
    explicit DragSource(QList<QUrl> files) : urls(std::move(files)) {
        setWindowTitle(QStringLiteral("drag-source"));
        QPalette p = palette();
        p.setColor(QPalette::Window, QColor(150, 90, 60));
        setPalette(p);
        setAutoFillBackground(true);
    }

protected:
    void mousePressEvent(QMouseEvent* event) override { pressedAt = event->position().toPoint(); }
    void mouseMoveEvent(QMouseEvent* event) override {
        if (!(event->buttons() & Qt::LeftButton) || (event->position().toPoint() - pressedAt).manhattanLength() < 4)
            return;
        auto* drag = new QDrag(this);
        auto* data = new QMimeData;
        data->setUrls(urls);
        drag->setMimeData(data);
        drag->exec(Qt::CopyAction);
    }

private:
    QList<QUrl> urls;
    QPoint pressedAt;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() < 6) {
        std::fputs("usage: pictolarium_drag_source X Y W H FILE...\n", stderr);
        return 2;
    }
    QList<QUrl> files;
    for (qsizetype i = 5; i < args.size(); ++i)
        files.append(QUrl::fromLocalFile(QFileInfo(args.at(i)).absoluteFilePath()));
    DragSource window(files);
    window.setGeometry(args.at(1).toInt(), args.at(2).toInt(), args.at(3).toInt(), args.at(4).toInt());
    window.show();
    return QApplication::exec();
}
