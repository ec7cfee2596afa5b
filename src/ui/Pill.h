#pragma once
// The dark translucent rounded bar behind rows of tools, and the body of a toast.

#include <QWidget>

class Pill : public QWidget {
    Q_OBJECT
public:
    explicit Pill(const QRect& frame = {}, QWidget* parent = nullptr);

    // Half the shorter side, at most 18: a bar's ends are round, a large panel's corners are not.
    double cornerRadius() const { return radius; }

    // The tinted layer over the backdrop; children added later lie above it.
    QWidget* shade = nullptr;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    double radius = 0;
};
