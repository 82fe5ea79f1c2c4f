#include "engine/storage.h"

#include <algorithm>
#include <cstring>

namespace sampleserver::storage {

namespace {

[[noreturn]] void Fail(sqlite3* db, int rc) {
  std::string text = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  int code = db ? sqlite3_extended_errcode(db) : rc;
  throw SqliteError(code, text);
}

size_t TrimmedLength(const char* p, int n) {
  size_t len = n < 0 ? 0 : static_cast<size_t>(n);
  while (len > 0 && p[len - 1] == ' ') --len;
  return len;
}

int SybCompare(void*, int n1, const void* a, int n2, const void* b) {
  const char* pa = static_cast<const char*>(a);
  const char* pb = static_cast<const char*>(b);
  size_t la = TrimmedLength(pa, n1);
  size_t lb = TrimmedLength(pb, n2);
  int c = std::memcmp(pa, pb, std::min(la, lb));
  if (c != 0) return c;
  return la < lb ? -1 : (la > lb ? 1 : 0);
}

}  // namespace

Statement::Statement(sqlite3* db, std::string_view sql) : db_(db) {
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &raw, nullptr);
  stmt_.reset(raw);
  if (rc != SQLITE_OK) Fail(db, rc);
}

Statement& Statement::Bind(int index, int64_t v) {
  sqlite3_bind_int64(stmt_.get(), index, v);
  return *this;
}
Statement& Statement::Bind(int index, double v) {
  sqlite3_bind_double(stmt_.get(), index, v);
  return *this;
}
Statement& Statement::Bind(int index, std::string_view v) {
  sqlite3_bind_text64(stmt_.get(), index, v.data(), v.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  return *this;
}
Statement& Statement::BindBlob(int index, const std::vector<uint8_t>& v) {
  sqlite3_bind_blob64(stmt_.get(), index, v.data(), v.size(), SQLITE_TRANSIENT);
  return *this;
}
Statement& Statement::BindNull(int index) {
  sqlite3_bind_null(stmt_.get(), index);
  return *this;
}
Statement& Statement::Bind(int index, const std::optional<std::string>& v) {
  return v ? Bind(index, std::string_view(*v)) : BindNull(index);
}

bool Statement::Step() {
  int rc = sqlite3_step(stmt_.get());
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  Fail(db_, rc);
}

void Statement::Reset() {
  sqlite3_reset(stmt_.get());
  sqlite3_clear_bindings(stmt_.get());
}

std::string Statement::Text(int col) const {
  const unsigned char* p = sqlite3_column_text(stmt_.get(), col);
  int n = sqlite3_column_bytes(stmt_.get(), col);
  return p ? std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(n)) : std::string();
}

std::vector<uint8_t> Statement::Blob(int col) const {
  const void* p = sqlite3_column_blob(stmt_.get(), col);
  int n = sqlite3_column_bytes(stmt_.get(), col);
  if (!p || n <= 0) return {};
  const auto* b = static_cast<const uint8_t*>(p);
  return std::vector<uint8_t>(b, b + n);
}

std::string Statement::ColumnName(int col) const {
  const char* n = sqlite3_column_name(stmt_.get(), col);
  return n ? n : "";
}

void Exec(sqlite3* db, std::string_view sql) {
  std::string text(sql);
  char* err = nullptr;
  int rc = sqlite3_exec(db, text.c_str(), nullptr, nullptr, &err);
  if (rc != SQLITE_OK) {
    std::string msg = err ? err : sqlite3_errstr(rc);
    sqlite3_free(err);
    throw SqliteError(sqlite3_extended_errcode(db), msg);
  }
}

std::optional<int64_t> QueryInt(sqlite3* db, std::string_view sql) {
  Statement s(db, sql);
  if (!s.Step() || s.IsNull(0)) return std::nullopt;
  return s.Int(0);
}

std::optional<std::string> QueryText(sqlite3* db, std::string_view sql) {
  Statement s(db, sql);
  if (!s.Step() || s.IsNull(0)) return std::nullopt;
  return s.Text(0);
}

std::string QuoteId(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string QuoteText(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

void RegisterSybCollation(sqlite3* db) {
  sqlite3_create_collation_v2(db, "SYB", SQLITE_UTF8, nullptr, SybCompare, nullptr);
}

DbHandle Open(const std::string& path, bool create) {
  sqlite3* raw = nullptr;
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
  int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  DbHandle db(raw);
  if (rc != SQLITE_OK) Fail(raw, rc);
  sqlite3_extended_result_codes(raw, 1);
  sqlite3_busy_timeout(raw, 5000);
  Exec(raw, "PRAGMA foreign_keys=OFF");
  RegisterSybCollation(raw);
  return db;
}

}  // namespace sampleserver::storage
