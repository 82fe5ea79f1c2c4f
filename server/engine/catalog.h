// The Sybase system tables kept in every database file, and the engine's reads and writes of
// them. Every DDL statement goes through here so the catalog stays true.
#pragma once

#include "engine/sqltypes.h"

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sampleserver::catalog {

struct ColumnMeta {
  std::string name;
  int colid = 0;
  TypeDesc type;
  bool nullable = false;
  bool identity = false;
  int64_t cdefault = 0;     // default object id
  int64_t domain = 0;       // rule object id
  std::string defaultText;  // #temp tables only: the default's expression text
  // Computed columns: SQLite computes them (generated columns); `computedSql` is the
  // translated expression, needed only while the table is created.
  bool computed = false;
  bool materialized = false;
  std::string computedSql;
};

struct IndexMeta {
  std::string name;
  int indid = 0;
  int status = 0;
  int status2 = 0;
  std::vector<int> keys;  // colids in key order
};

// A table or view (or a session's #temp table) as the executor sees it.
struct TableMeta {
  std::string database;  // Sybase database name ("tempdb" for #temp tables)
  std::string schema;    // SQLite schema name holding it ("main", "pubs2", "temp")
  std::string name;
  std::string sqlName;  // the SQLite table when it differs from name (a trigger's inserted)
  int64_t id = 0;
  int uid = 1;
  std::string type = "U";  // U, S or V
  std::vector<ColumnMeta> columns;
  std::vector<IndexMeta> indexes;
  // #temp tables only (the others keep them in sysobjects): check constraints, name and text.
  std::vector<std::pair<std::string, std::string>> checks;

  const ColumnMeta* Find(const std::string& column) const;
  bool HasIdentity() const;
};

// Status bits of sysindexes and syscolumns, as Sybase sets them.
constexpr int kIndexUnique = 0x2;
constexpr int kIndexClustered = 0x10;
constexpr int kIndexPrimaryKey = 0x800;
constexpr int kIndex2Constraint = 0x2;
constexpr int kColumnNullable = 0x08;
constexpr int kColumnIdentity = 0x80;

// Creates the system tables, the SQL Anywhere catalog views and their shipped rows in `schema`
// (a database file being initialised). `master` adds sysdatabases and syslogins.
void CreateCatalog(sqlite3* db, const std::string& schema, bool master);
// Adds to an existing database (the file attached as `schema`) the system tables it lacks.
void UpgradeCatalog(sqlite3* db, const std::string& schema, bool master);

// Looks up a user object (table, view, system table) by exact name; none when absent.
std::optional<TableMeta> LoadTable(sqlite3* db, const std::string& schema,
                                   const std::string& database, const std::string& name);
// Object id and type of any object by exact name (type trimmed), none when absent.
struct ObjectRef {
  int64_t id = 0;
  std::string type;
  std::string name;
};
std::optional<ObjectRef> FindObject(sqlite3* db, const std::string& schema,
                                    const std::string& name);

// A fresh object id for a new object in this database.
int64_t NextObjectId(sqlite3* db, const std::string& schema);

// sysobjects row; returns the id given.
void AddObject(sqlite3* db, const std::string& schema, int64_t id, const std::string& name,
               const std::string& type, int sysstat, int sysstat2 = 0, int64_t deltrig = 0);
// syscolumns rows for a table or view.
void AddColumns(sqlite3* db, const std::string& schema, int64_t id,
                const std::vector<ColumnMeta>& columns);
// sysindexes row and its sysindexkeys rows.
void AddIndex(sqlite3* db, const std::string& schema, int64_t tableId, const IndexMeta& index);
// A foreign key as sysreferences keeps it: key columns by colid, in key order.
struct ReferenceMeta {
  int64_t constraintId = 0;  // its sysobjects row (type RI)
  int64_t tableId = 0;       // the referencing table
  int64_t refTableId = 0;    // the referenced table
  int64_t dbid = 0;          // both tables' database
  std::vector<int> keys;
  std::vector<int> refKeys;
};
// sysreferences row (at most 16 keys).
void AddReference(sqlite3* db, const std::string& schema, const ReferenceMeta& r);
// Every foreign key of the database.
std::vector<ReferenceMeta> LoadReferences(sqlite3* db, const std::string& schema);

// syscomments rows: the text cut in 255-byte pieces; `number` is a procedure group member's.
void StoreText(sqlite3* db, const std::string& schema, int64_t id, const std::string& text,
               int number = 0);
// Removes every catalog row of the object (columns, indexes, text).
void DropObject(sqlite3* db, const std::string& schema, int64_t id);
int NextIndexId(sqlite3* db, const std::string& schema, int64_t tableId, bool clustered);

// A user-defined type (systypes row with usertype >= 100) by name.
struct UserType {
  TypeDesc type;
  bool allowNulls = false;
  int64_t domain = 0;
  int64_t tdefault = 0;
};
std::optional<UserType> FindUserType(sqlite3* db, const std::string& schema,
                                     const std::string& name);

// Current date/time in storage form.
std::string NowText();

}  // namespace sampleserver::catalog
