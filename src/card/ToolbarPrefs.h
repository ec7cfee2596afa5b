#pragma once
// The catalogue of card tools, the user's order of them and the tools left out of the card's pill.

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

class Defaults;

namespace ToolbarPrefs {

// One tool: its id (the key every part of the program uses), the symbol on its button and its name.
struct Entry {
    QString id;
    QString symbol;
    QString title;
};

// The 14 tools in catalogue order, which is also the default order of the pill.
const QList<Entry>& all();

// The hidden set used when none is stored: empty.
const QSet<QString>& defaultHidden();

// The catalogue row of a tool id, or nothing.
std::optional<Entry> entry(const QString& id);

inline const QString orderKey = QStringLiteral("picto.toolOrder");
inline const QString hiddenKey = QStringLiteral("picto.toolHidden");
inline const QString shareStepKey = QStringLiteral("picto.toolShareSecondLastV6");
inline const QString resizeRotateStepKey = QStringLiteral("picto.toolResizeRotateV5");
inline const QString orderResetStepKey = QStringLiteral("picto.toolOrderV2");

// The effective order: the stored ids that name a tool, first occurrence only, then every tool the stored
// list lacks in catalogue order. Always a permutation of the catalogue. A stored value that is not a list
// of strings reads as no stored order.
QStringList order(const Defaults& defaults);
QStringList order();

// The stored hidden set, or defaultHidden() when none is stored or the stored value is not a list.
// Ids the catalogue lacks are kept, so they are written back unchanged.
QSet<QString> hidden(const Defaults& defaults);
QSet<QString> hidden();

// The stored hidden set as an array; its order carries no meaning (sorted so the file stays stable).
bool storeHidden(Defaults& defaults, const QSet<QString>& ids);
bool storeOrder(Defaults& defaults, const QStringList& ids);

// Brings stored lists up to date with changes of the default order. Each step runs once ever, guarded by
// its own flag; called at every launch before any card exists.
void adoptNewDefaultOrderOnce(Defaults& defaults);
void adoptNewDefaultOrderOnce();

} // namespace ToolbarPrefs
