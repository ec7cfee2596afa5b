#include "card/RedactMarks.h"

namespace RedactMarks {

QHash<QString, State>& store() {
    static QHash<QString, State> records;
    return records;
}

std::optional<State> find(const QUrl& file) {
    const auto it = store().constFind(file.toLocalFile());
    if (it == store().constEnd())
        return std::nullopt;
    return *it;
}

void moved(const QUrl& from, const QUrl& to) {
    if (from == to)
        return;
    const QString key = from.toLocalFile();
    if (store().contains(key))
        store().insert(to.toLocalFile(), store().take(key));
    // A renamed unredacted file stays the source its redacted copies are rendered from.
    for (State& state : store())
        if (state.original == from)
            state.original = to;
}

} // namespace RedactMarks
