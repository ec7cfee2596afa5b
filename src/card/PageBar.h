#pragma once
// The stepper under a PDF page on the card: previous page, "2 / 7", next page.

#include <QWidget>

#include <functional>

class GhostButton;
class QLabel;

class PageBar : public QWidget {
    Q_OBJECT
public:
    explicit PageBar(QWidget* parent = nullptr);

    // Called with -1 for back and +1 for forward.
    std::function<void(int)> onStep;
    GhostButton* prev = nullptr;
    GhostButton* next = nullptr;
    QLabel* label = nullptr;

    // The one-based page shown and the page count; a button that leads nowhere is disabled and dimmed.
    void set(int page, int count);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
};
