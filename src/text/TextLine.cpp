#include "text/TextLine.h"

namespace TextVision {

Candidate::Candidate(QString text, std::vector<QRectF> unitBoxes)
    : text(std::move(text)), unitBoxes(std::move(unitBoxes)) {
    this->unitBoxes.resize(size_t(this->text.size()));
}

std::optional<QRectF> Candidate::boundingBox(qsizetype start, qsizetype length) const {
    if (start < 0 || length <= 0 || start > text.size() || length > text.size() - start)
        return std::nullopt;
    const qsizetype end = start + length;
    if (text.at(start).isLowSurrogate() || (end < text.size() && text.at(end).isLowSurrogate()))
        return std::nullopt;
    std::optional<QRectF> box;
    for (qsizetype i = start; i < end; ++i) {
        const QRectF& unit = unitBoxes[size_t(i)];
        if (unit.isEmpty())
            continue;
        box = box ? unionOf(*box, unit) : unit;
    }
    return box;
}

} // namespace TextVision
