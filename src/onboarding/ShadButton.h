#pragma once
// The tour's rounded text button in three looks: primary (green), ghost (quiet until hovered) and
// the outlined secondary look when neither is set. It draws everything itself.

#include <QAbstractButton>

class ShadButton : public QAbstractButton {
    Q_OBJECT
public:
    // primary wins when both looks are asked for. The owner sizes the button.
    ShadButton(const QString& title, bool primary, bool ghost, QWidget* parent = nullptr);

    const bool primary;
    const bool ghost;
    bool hovering() const { return isHovering; }

    QSize sizeHint() const override { return size(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    bool isHovering = false;
};
