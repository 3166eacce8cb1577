#pragma once

#include <QString>

namespace Provision {

// The schema text of the system database.
QString SchemaSql();

// Creates (or completes) the system database "zolo.mdb" in `dir` with every
// table. Existing rows are kept. Returns false with a reason in `error`.
bool CreateDatabase(const QString& dir, QString* error);

}  // namespace Provision
