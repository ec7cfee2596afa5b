#pragma once
// What the redact tool painted over, kept per redacted file for the review: the unredacted file and the
// boxes in its unit square (origin bottom left, y upwards, in order of creation). In memory only, for the
// program's run; touched on the main thread only.

#include <QHash>
#include <QRectF>
#include <QString>
#include <QUrl>

#include <optional>
#include <vector>

namespace RedactMarks {

struct State {
    QUrl original;
    std::vector<QRectF> boxes;
};

// Keyed by the redacted file's path.
QHash<QString, State>& store();
std::optional<State> find(const QUrl& file);
// A renamed redacted file keeps its record, and records rendered from a renamed unredacted file follow it.
void moved(const QUrl& from, const QUrl& to);

} // namespace RedactMarks
