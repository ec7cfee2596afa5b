#include "card/ToolbarPrefs.h"

#include "platform/Defaults.h"

#include <algorithm>

namespace ToolbarPrefs {

namespace {

// The stored list of strings, or nothing when the key is absent or holds something else. Entries that are
// not strings are skipped: one bad entry should not cost the user the rest of the list.
std::optional<QStringList> storedStrings(const Defaults& defaults, const QString& key) {
    const std::optional<QVariantList> stored = defaults.array(key);
    if (!stored)
        return std::nullopt;
    QStringList ids;
    for (const QVariant& value : *stored) {
        if (value.metaType().id() == QMetaType::QString)
            ids.append(value.toString());
    }
    return ids;
}

QVariantList toArray(const QStringList& ids) {
    QVariantList list;
    list.reserve(ids.size());
    for (const QString& id : ids)
        list.append(id);
    return list;
}

// Share moves to just before the basket, where it sits in the catalogue.
void shareStep(Defaults& defaults) {
    defaults.set(shareStepKey, true);
    if (!storedStrings(defaults, orderKey))
        return;
    QStringList ids = order(defaults);
    ids.removeAll(QStringLiteral("share"));
    const qsizetype library = ids.indexOf(QStringLiteral("library"));
    ids.insert(library < 0 ? ids.size() : library, QStringLiteral("share"));
    storeOrder(defaults, ids);
}

// Resize and rotate became tools of their own: shown, and right after crop.
void resizeRotateStep(Defaults& defaults) {
    defaults.set(resizeRotateStepKey, true);
    QSet<QString> ids = hidden(defaults);
    ids.remove(QStringLiteral("resize"));
    ids.remove(QStringLiteral("rotate"));
    storeHidden(defaults, ids);
    if (!storedStrings(defaults, orderKey))
        return;
    QStringList list = order(defaults);
    list.removeAll(QStringLiteral("resize"));
    list.removeAll(QStringLiteral("rotate"));
    const qsizetype crop = list.indexOf(QStringLiteral("crop"));
    const qsizetype at = crop < 0 ? 0 : crop + 1;
    list.insert(at, QStringLiteral("rotate"));
    list.insert(at, QStringLiteral("resize"));
    storeOrder(defaults, list);
}

void orderResetStep(Defaults& defaults) {
    defaults.remove(orderKey);
    defaults.set(orderResetStepKey, true);
}

} // namespace

const QList<Entry>& all() {
    static const QList<Entry> catalogue{
        {QStringLiteral("annotate"), QStringLiteral("pencil.and.outline"), QStringLiteral("Annotate")},
        {QStringLiteral("crop"), QStringLiteral("crop"), QStringLiteral("Crop")},
        {QStringLiteral("resize"), QStringLiteral("arrow.up.left.and.down.right.magnifyingglass"),
         QStringLiteral("Resize")},
        {QStringLiteral("rotate"), QStringLiteral("rotate.right"), QStringLiteral("Rotate & flip")},
        {QStringLiteral("text"), QStringLiteral("text.viewfinder"), QStringLiteral("Copy text")},
        {QStringLiteral("pin"), QStringLiteral("pin"), QStringLiteral("Pin as sticky note")},
        {QStringLiteral("translate"), QStringLiteral("character.bubble"),
         QStringLiteral("Translate & summarize (beta)")},
        {QStringLiteral("redact"), QStringLiteral("eye.slash"), QStringLiteral("Redact sensitive data")},
        {QStringLiteral("cutout"), QStringLiteral("person.and.background.dotted"), QStringLiteral("Remove background")},
        {QStringLiteral("scroll"), QStringLiteral("arrow.down.to.line"), QStringLiteral("Capture full page")},
        {QStringLiteral("rename"), QStringLiteral("character.cursor.ibeam"), QStringLiteral("Rename")},
        {QStringLiteral("compress"), QStringLiteral("arrow.down.right.and.arrow.up.left"), QStringLiteral("Compress")},
        {QStringLiteral("share"), QStringLiteral("square.and.arrow.up"), QStringLiteral("Share")},
        {QStringLiteral("library"), QStringLiteral("square.grid.2x2"), QStringLiteral("Library")},
    };
    return catalogue;
}

const QSet<QString>& defaultHidden() {
    static const QSet<QString> none;
    return none;
}

std::optional<Entry> entry(const QString& id) {
    for (const Entry& row : all()) {
        if (row.id == id)
            return row;
    }
    return std::nullopt;
}

QStringList order(const Defaults& defaults) {
    QStringList result;
    result.reserve(all().size());
    for (const QString& id : storedStrings(defaults, orderKey).value_or(QStringList{})) {
        if (entry(id) && !result.contains(id))
            result.append(id);
    }
    for (const Entry& row : all()) {
        if (!result.contains(row.id))
            result.append(row.id);
    }
    return result;
}

QStringList order() {
    return order(Defaults::standard());
}

QSet<QString> hidden(const Defaults& defaults) {
    const std::optional<QStringList> stored = storedStrings(defaults, hiddenKey);
    if (!stored)
        return defaultHidden();
    return QSet<QString>(stored->begin(), stored->end());
}

QSet<QString> hidden() {
    return hidden(Defaults::standard());
}

bool storeHidden(Defaults& defaults, const QSet<QString>& ids) {
    QStringList sorted(ids.begin(), ids.end());
    std::sort(sorted.begin(), sorted.end());
    return defaults.set(hiddenKey, toArray(sorted));
}

bool storeOrder(Defaults& defaults, const QStringList& ids) {
    return defaults.set(orderKey, toArray(ids));
}

void adoptNewDefaultOrderOnce(Defaults& defaults) {
    if (!defaults.boolValue(shareStepKey))
        shareStep(defaults);
    if (!defaults.boolValue(resizeRotateStepKey))
        resizeRotateStep(defaults);
    if (!defaults.boolValue(orderResetStepKey))
        orderResetStep(defaults);
}

void adoptNewDefaultOrderOnce() {
    adoptNewDefaultOrderOnce(Defaults::standard());
}

} // namespace ToolbarPrefs
