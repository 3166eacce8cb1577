#pragma once

#include <QString>

namespace Provision {

// The schema text of the system database.
QString SchemaSql();

// Creates (or completes) the system database "zolo.mdb" in `dir` with every
// table. Existing rows are kept. A new file is built under a temporary name
// and renamed into place, so "zolo.mdb" is either absent or complete.
// Returns false with a reason in `error`.
bool CreateDatabase(const QString& dir, QString* error);

// Creates "zolo.mdb" in `dir` as CreateDatabase does, but only when there is
// none: an existing file is left untouched, whatever it holds. `created`
// says whether a new one was made.
bool CreateMissingDatabase(const QString& dir, bool* created, QString* error);

}  // namespace Provision
