// A frameless, partly see-through window for capture tests: a 10-pixel faint shadow all round, then
// an opaque red left half and a fully clear right half.

#include <QApplication>
#include <QPainter>
#include <QWidget>

namespace {

class ClearWindow : public QWidget {
public:
    ClearWindow() : QWidget(nullptr, Qt::FramelessWindowHint) {
        setAttribute(Qt::WA_TranslucentBackground);
        setWindowTitle(QStringLiteral("Clear Window"));
        resize(300, 200);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.fillRect(rect(), QColor(0, 0, 0, 60));
        const QRect inner = rect().adjusted(10, 10, -10, -10);
        p.fillRect(QRect(inner.left(), inner.top(), inner.width() / 2, inner.height()), QColor(255, 0, 0));
        p.fillRect(
            QRect(inner.left() + inner.width() / 2, inner.top(), inner.width() - inner.width() / 2, inner.height()),
            Qt::transparent);
    }
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ClearWindow window;
    window.move(200, 150);
    window.show();
    return app.exec();
}
