#pragma once
// Carries the settings of the program's former incarnation over, once.

#include <QString>
#include <QVariantMap>
#include <optional>

class Defaults;

namespace Migration {

// The former program's settings domain and where its file lives.
QString formerDomain();
QString formerDirectory();

// Sets "migratedFromPictolite" first, so a migration that stops half-way is not retried, then
// copies every key of the former domain that the standard domain does not hold yet.
// Returns the number of keys copied.
int migrateFromPictolite(Defaults& standard, const std::optional<QVariantMap>& former);
int migrateFromPictolite(Defaults& standard);

} // namespace Migration
