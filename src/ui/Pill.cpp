#include "ui/Pill.h"

#include "ui/Brand.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace {

// There is no blur of what lies behind a window here: this dark grey, standing in for the platform's heads-up
// material, lets only a trace of it through, so that text on it reads over any page.
const QColor kMaterial(28, 29, 28, 246);

// The shade is clipped to the pill's rounded outline like every other child would be.
class Shade final : public QWidget {
public:
    explicit Shade(Pill* pill) : QWidget(pill), owner(pill) { setAttribute(Qt::WA_TransparentForMouseEvents); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor colour = Brand::surface();
        colour.setAlphaF(0.6f);
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), owner->cornerRadius(), owner->cornerRadius());
        painter.fillPath(path, colour);
        // A layer's border lies above its sublayers: drawn here, the shade cannot cover it.
        const double r = std::max(0.0, owner->cornerRadius() - 0.5);
        QPainterPath outline;
        outline.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), r, r);
        painter.setPen(QPen(Brand::lineStrong(), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(outline);
    }

private:
    Pill* owner;
};

} // namespace

Pill::Pill(const QRect& frame, QWidget* parent) : QWidget(parent) {
    shade = new Shade(this);
    setGeometry(frame);
    shade->setGeometry(rect());
    radius = std::max(0.0, std::min(frame.height() / 2.0, 18.0));
}

void Pill::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    shade->setGeometry(rect());
    radius = std::max(0.0, std::min(std::min(width(), height()) / 2.0, 18.0));
    update();
}

void Pill::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath body;
    body.addRoundedRect(QRectF(rect()), radius, radius);
    painter.fillPath(body, kMaterial);
}
