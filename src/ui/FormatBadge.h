#pragma once
// The small monospaced format label under a picture ("PNG"); clickable when given an action.

#include <QWidget>

#include <functional>

class QLabel;

class FormatBadge : public QWidget {
    Q_OBJECT
public:
    explicit FormatBadge(QWidget* parent = nullptr);

    QLabel* label = nullptr;
    // When set, a press calls it and goes no further, and the pointer becomes a hand.
    std::function<void()> onClick;

    QString text() const { return content; }
    // An empty text hides the badge.
    void setText(const QString& text);

    // The label's width plus 6 on each side, 18 high.
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;

private:
    QString content;
};
