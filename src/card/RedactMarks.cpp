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
    const QString key = from.toLocalFile();
    if (!store().contains(key) || from == to)
        return;
    store().insert(to.toLocalFile(), store().take(key));
}

} // namespace RedactMarks
