#pragma once
// The "Card & editor size" slider of the panel menu; every move is stored at once.

#include <QWidget>

class Defaults;
class QLabel;
class QSlider;

class SizeSliderView : public QWidget {
    Q_OBJECT
public:
    explicit SizeSliderView(Defaults& defaults, QWidget* parent = nullptr);

    // The slider's value in the stored unit (0.5 to 1.2).
    double value() const;
    void setValue(double value);

    QSlider* slider = nullptr;

private:
    void changed();

    Defaults& defaults;
    QLabel* label = nullptr;
};
