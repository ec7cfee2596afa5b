#include "ui/SizeSliderView.h"

#include "platform/Defaults.h"
#include "ui/Brand.h"
#include "ui/UI.h"

#include <QLabel>
#include <QSlider>

#include <algorithm>
#include <cmath>

namespace {
// QSlider is integral: thousandths of the stored value.
constexpr int kSteps = 1000;
constexpr double kMin = 0.5;
constexpr double kMax = 1.2;
} // namespace

SizeSliderView::SizeSliderView(Defaults& store, QWidget* parent) : QWidget(parent), defaults(store) {
    const double stored = defaults.doubleValue(QStringLiteral("picto.sizeScale"));
    const double initial = stored == 0.0 ? 0.8 : std::clamp(stored, kMin, kMax);

    setFixedSize(250, 50);
    label = new QLabel(QStringLiteral("Card & editor size"), this);
    label->setFont(UI::font(13, QFont::Normal));
    label->setGeometry(14, 6, 150, 16);

    slider = new QSlider(Qt::Horizontal, this);
    slider->setRange(qRound(kMin * kSteps), qRound(kMax * kSteps));
    slider->setGeometry(14, 24, 222, 20);
    slider->setTracking(true);
    // In a menu a focused slider would keep the arrow keys from the menu after one drag.
    slider->setFocusPolicy(Qt::NoFocus);
    setValue(std::isnan(initial) ? 0.8 : initial);
    connect(slider, &QSlider::valueChanged, this, &SizeSliderView::changed);
}

double SizeSliderView::value() const { return slider->value() / double(kSteps); }

void SizeSliderView::setValue(double v) { slider->setValue(qRound(std::clamp(v, kMin, kMax) * kSteps)); }

void SizeSliderView::changed() { defaults.set(QStringLiteral("picto.sizeScale"), value()); }
