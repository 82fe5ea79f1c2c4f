// The catalog-dependent built-ins (object_id, index_col, db_name, user_name, ...), registered on
// each session's connection; they read the session's state and the catalog through it.
#pragma once

#include <sqlite3.h>

namespace sampleserver {

class SessionImpl;

void RegisterCatalogFunctions(sqlite3* db, SessionImpl* session);

}  // namespace sampleserver
