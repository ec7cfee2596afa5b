#include "library/NameBox.h"

#include "ui/Brand.h"
#include "ui/UI.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace {

QPointer<NameBox>& slot() {
    static QPointer<NameBox> box;
    return box;
}

} // namespace

NameBox::NameBox(const QString& title, const QString& text, const QString& placeholder, const QString& button)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("NameBox"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(14, 12, 14, 12);
    column->setSpacing(8);
    auto* heading = new QLabel(title, this);
    heading->setFont(UI::font(12, QFont::DemiBold));
    heading->setStyleSheet(QStringLiteral("color: white;"));
    field = new QLineEdit(text, this);
    field->setPlaceholderText(placeholder);
    field->setMinimumWidth(220);
    field->setStyleSheet(QStringLiteral("QLineEdit { background: rgba(255,255,255,20); color: white; border: 1px "
                                        "solid rgba(255,255,255,40); border-radius: 6px; padding: 4px 6px; }"));
    commitButton = new QPushButton(button, this);
    commitButton->setDefault(true);
    commitButton->setStyleSheet(QStringLiteral("QPushButton { background: rgba(255,255,255,30); color: white; border: "
                                               "none; border-radius: 6px; padding: 4px 14px; }"));
    column->addWidget(heading);
    column->addWidget(field);
    column->addWidget(commitButton, 0, Qt::AlignRight);
    connect(commitButton, &QPushButton::clicked, this, &NameBox::commit);
    connect(field, &QLineEdit::returnPressed, this, &NameBox::commit);
    adjustSize();
}

QString NameBox::cleanName(const QString& typed) {
    QString name = typed.trimmed();
    for (QChar& c : name)
        if (c == u'/' || c == u':' || c == u'\\')
            c = u'-';
    return name;
}

void NameBox::commit() {
    const QString text = field->text();
    auto done = std::move(onCommit);
    close();
    if (done)
        done(text);
}

void NameBox::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool NameBox::event(QEvent* event) {
    // A press elsewhere takes the focus away: the box goes without an answer.
    if (event->type() == QEvent::WindowDeactivate && isVisible())
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    return QWidget::event(event);
}

void NameBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
    painter.fillPath(path, Brand::background());
    painter.setPen(QColor(255, 255, 255, 40));
    painter.drawPath(path);
}

NameBox* NameBox::current() {
    return slot();
}

std::optional<QString> NameBox::ask(const QString& title, const QString& placeholder, const QString& button,
                                    QWidget* over) {
    if (NameBox* open = slot())
        open->close();
    auto* box = new NameBox(title, QString(), placeholder, button);
    slot() = box;
    std::optional<QString> answer;
    QEventLoop loop;
    box->onCommit = [&answer](const QString& text) { answer = text; };
    connect(box, &QObject::destroyed, &loop, &QEventLoop::quit);
    const QRect area = over ? over->geometry() : QGuiApplication::primaryScreen()->availableGeometry();
    box->move(area.center() - QPoint(box->width() / 2, box->height() / 2));
    box->show();
    box->activateWindow();
    box->field->setFocus();
    loop.exec();
    return answer;
}

void NameBox::showRename(const QString& suggestion, QPoint near, std::function<void(const QString&)> onCommit) {
    if (NameBox* open = slot())
        open->close();
    auto* box = new NameBox(QStringLiteral("Rename"), suggestion, QString(), QStringLiteral("Rename"));
    slot() = box;
    box->onCommit = [onCommit = std::move(onCommit)](const QString& text) {
        const QString name = cleanName(text);
        if (!name.isEmpty() && onCommit)
            onCommit(name);
    };
    box->move(near.x() - box->width() / 2, near.y() - box->height());
    box->show();
    box->raise();
    box->activateWindow();
    box->field->setFocus();
    box->field->selectAll();
}
