#include "editors/AnnotateTextField.h"

#include "ui/UI.h"

#include <QFontMetricsF>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTextDocument>

#include <algorithm>
#include <cmath>

AnnotateTextField::AnnotateTextField(QWidget* parent) : QPlainTextEdit(parent) {
    setFrameShape(QFrame::NoFrame);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setPlaceholderText(QStringLiteral("Text"));
    setTabChangesFocus(true);
    document()->setDocumentMargin(0);
    // The text stands where the committed shape will draw it: the border and the field's own inset would put
    // it two pixels left of that.
    setViewportMargins(2, 0, 0, 0);
    setContentsMargins(1, 1, 1, 1);
    setStyleSheet(
        QStringLiteral("QPlainTextEdit { background: transparent; border: 1px solid %1; border-radius: 2px; }")
            .arg(UI::accent().name()));
    connect(this, &QPlainTextEdit::textChanged, this, &AnnotateTextField::fit);
    // The field is as tall as its lines: scrolled, it would show the last line at its top and hide the others.
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (value != 0)
            verticalScrollBar()->setValue(0);
    });
}

void AnnotateTextField::setTextSize(double newSize) {
    size = newSize;
    QFont font = UI::font(size, QFont::Medium);
    setFont(font);
    fit();
}

void AnnotateTextField::setTextColor(const QColor& color) {
    QPalette p = palette();
    p.setColor(QPalette::Text, color);
    QColor faded = color;
    faded.setAlphaF(0.45f);
    p.setColor(QPalette::PlaceholderText, faded);
    setPalette(p);
}

void AnnotateTextField::fit() {
    const QStringList lines = toPlainText().split(QLatin1Char('\n'));
    const QFontMetricsF metrics(font());
    double widest = 0;
    for (const QString& line : lines)
        widest =
            std::max(widest, metrics.horizontalAdvance(line.isEmpty() && lines.size() == 1 ? placeholderText() : line));
    const int canvasWidth = parentWidget() ? parentWidget()->width() : 10000;
    const double width = std::max(std::min(widest + 18, double(canvasWidth - x() - 4)), 60.0);
    const double rows = double(std::max<qsizetype>(lines.size(), 1));
    // A line of the field is as high as the face says, a little more than the 1.2 sizes of a drawn line; the
    // frame and the margins around the text come on top.
    const QMargins around = contentsMargins();
    const double needed = rows * std::max(metrics.lineSpacing(), size * 1.2) + around.top() + around.bottom() +
                          2 * frameWidth() + 2 * document()->documentMargin();
    const double height = std::max(rows * size * 1.2 + 4, needed);
    resize(int(std::ceil(width)), int(std::ceil(height)));
    verticalScrollBar()->setValue(0);
}

bool AnnotateTextField::event(QEvent* event) {
    // Tab would move the focus out of the open field, and the next letters would pick tools.
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            event->accept();
            return true;
        }
    }
    return QPlainTextEdit::event(event);
}

void AnnotateTextField::keyPressEvent(QKeyEvent* event) {
    const bool isReturn = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (event->key() == Qt::Key_Escape || (isReturn && (event->modifiers() & Qt::ControlModifier))) {
        if (onCommit)
            onCommit();
        return;
    }
    if (isReturn) {
        insertPlainText(QStringLiteral("\n"));
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}
