// SQLite handles for the engine: owned connections and statements, and the few helpers every
// part of the engine uses to run SQL and read single values.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace sampleserver::storage {

// A failure reported by SQLite; `code` is the extended result code.
class SqliteError : public std::runtime_error {
 public:
  SqliteError(int code, const std::string& what) : std::runtime_error(what), code_(code) {}
  int code() const { return code_; }

 private:
  int code_;
};

struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using DbHandle = std::unique_ptr<sqlite3, DbCloser>;

struct StmtFinalizer {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};

// One prepared statement. Bind parameters are 1-based as in SQLite.
class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql);
  Statement(Statement&&) = default;
  Statement& operator=(Statement&&) = default;

  Statement& Bind(int index, int64_t v);
  Statement& Bind(int index, double v);
  Statement& Bind(int index, std::string_view v);
  Statement& BindBlob(int index, const std::vector<uint8_t>& v);
  Statement& BindNull(int index);
  Statement& Bind(int index, const std::optional<std::string>& v);

  // Advances; true while a row is available.
  bool Step();
  void Reset();
  int ColumnCount() const { return sqlite3_column_count(stmt_.get()); }
  bool IsNull(int col) const { return sqlite3_column_type(stmt_.get(), col) == SQLITE_NULL; }
  int64_t Int(int col) const { return sqlite3_column_int64(stmt_.get(), col); }
  double Double(int col) const { return sqlite3_column_double(stmt_.get(), col); }
  std::string Text(int col) const;
  std::vector<uint8_t> Blob(int col) const;
  int Type(int col) const { return sqlite3_column_type(stmt_.get(), col); }
  std::string ColumnName(int col) const;
  sqlite3_stmt* get() const { return stmt_.get(); }

 private:
  sqlite3* db_;
  std::unique_ptr<sqlite3_stmt, StmtFinalizer> stmt_;
};

// Runs one or more statements without results.
void Exec(sqlite3* db, std::string_view sql);
// The first column of the first row, if any row and not NULL.
std::optional<int64_t> QueryInt(sqlite3* db, std::string_view sql);
std::optional<std::string> QueryText(sqlite3* db, std::string_view sql);

// "name" with embedded quotes doubled: a safe SQLite identifier.
std::string QuoteId(std::string_view name);
// 'text' with embedded quotes doubled: a safe SQLite string literal.
std::string QuoteText(std::string_view text);

// Opens (creating when asked) a database file with the engine's connection settings: WAL,
// a busy timeout, foreign keys off, the SYB collation and the engine's functions.
DbHandle Open(const std::string& path, bool create);

// Registers a binary collation that ignores trailing blanks under the name SYB, unless one is
// already registered (the value library's takes precedence).
void RegisterSybCollation(sqlite3* db);

}  // namespace sampleserver::storage
