#pragma once
// The borderless field in which a text annotation is typed on the canvas. Return starts a new
// line; Ctrl+Return and Escape end the typing (Escape keeps what was typed); Tab does nothing, so the keys stay
// in the field while it is open.

#include <QPlainTextEdit>

#include <functional>

class AnnotateTextField : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit AnnotateTextField(QWidget* parent);

    std::function<void()> onCommit;
    // Font size in view pixels; the field draws and measures its text with Inter Medium at it.
    void setTextSize(double size);
    double textSize() const { return size; }
    void setTextColor(const QColor& color);
    // Resizes to the text: as wide as the widest line plus 18 (up to the canvas's right edge, at least
    // 60), one line height per line, and tall enough that every line shows; the left and top edges stay.
    void fit();

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    double size = 28;
};
