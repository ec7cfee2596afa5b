#include "library/OwnAreaWatch.h"

#include "platform/FocusPointerWatch.h"

OwnAreaWatch::OwnAreaWatch(std::unique_ptr<PointerWatch> watch, std::function<QRect()> area)
    : inner(watch ? std::move(watch) : std::make_unique<FocusPointerWatch>()), ownArea(std::move(area)) {
    connect(inner.get(), &PointerWatch::pressed, this, [this](PointerPress press) {
        if (press.positionKnown && ownArea && ownArea().contains(press.position))
            press.ownWindow = true;
        emit pressed(press);
    });
}
