#pragma once
// The thin line between buttons of a bar, or across a vertical bar.

#include <QWidget>

class Divider : public QWidget {
    Q_OBJECT
public:
    // Not across: 1 wide and length × the chrome factor high; across: the other way round.
    Divider(double length, bool across, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
