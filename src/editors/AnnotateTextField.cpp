#include "editors/AnnotateTextField.h"

#include "ui/UI.h"

#include <QFontMetricsF>
#include <QKeyEvent>
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
    const double height = double(std::max<qsizetype>(lines.size(), 1)) * size * 1.2 + 4;
    resize(int(std::ceil(width)), int(std::ceil(height)));
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
