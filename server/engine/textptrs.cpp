#include "engine/textptrs.h"

#include <sqlite3.h>

namespace sampleserver {
namespace {

// Bytes 0-5: table id; 6-7: colid; 8-15: rowid; all big-endian. A rowid is never 0 in a table, so
// a real pointer is never all zeros.
void Put(Bytes& b, size_t at, size_t n, uint64_t v) {
  for (size_t i = n; i-- > 0; v >>= 8) b[at + i] = static_cast<uint8_t>(v & 0xFF);
}

uint64_t Get(const Bytes& b, size_t at, size_t n) {
  uint64_t v = 0;
  for (size_t i = 0; i < n; ++i) v = v << 8 | b[at + i];
  return v;
}

Bytes Blob(sqlite3_value* v) {
  const auto* p = static_cast<const uint8_t*>(sqlite3_value_blob(v));
  return p ? Bytes(p, p + sqlite3_value_bytes(v)) : Bytes{};
}

void MakePointer(sqlite3_context* ctx, int, sqlite3_value** argv) {
  for (int i = 0; i < 3; ++i) {
    if (sqlite3_value_type(argv[i]) == SQLITE_NULL) {
      sqlite3_result_null(ctx);
      return;
    }
  }
  Bytes b = EncodeTextPointer(
      {sqlite3_value_int64(argv[0]), sqlite3_value_int(argv[1]), sqlite3_value_int64(argv[2])});
  sqlite3_result_blob(ctx, b.data(), static_cast<int>(b.size()), SQLITE_TRANSIENT);
}

void PointerRow(sqlite3_context* ctx, int, sqlite3_value** argv) {
  auto p =
      sqlite3_value_type(argv[0]) == SQLITE_BLOB ? DecodeTextPointer(Blob(argv[0])) : std::nullopt;
  if (!p || p->table != sqlite3_value_int64(argv[1]) || p->column != sqlite3_value_int(argv[2])) {
    sqlite3_result_null(ctx);
    return;
  }
  sqlite3_result_int64(ctx, p->row);
}

void LobValue(sqlite3_context* ctx, int, sqlite3_value** argv) {
  sqlite3_value* v = argv[0];
  if (sqlite3_value_type(v) != SQLITE_NULL && sqlite3_value_bytes(v) == 0) {
    if (sqlite3_value_int(argv[1]) != 0) {
      static const uint8_t kZero = 0;
      sqlite3_result_blob(ctx, &kZero, 1, SQLITE_STATIC);
    } else {
      sqlite3_result_text(ctx, " ", 1, SQLITE_STATIC);
    }
    return;
  }
  sqlite3_result_value(ctx, v);
}

}  // namespace

Bytes EncodeTextPointer(const TextPointer& p) {
  Bytes b(kTextPointerSize);
  Put(b, 0, 6, static_cast<uint64_t>(p.table));
  Put(b, 6, 2, static_cast<uint64_t>(p.column));
  Put(b, 8, 8, static_cast<uint64_t>(p.row));
  return b;
}

std::optional<TextPointer> DecodeTextPointer(const Bytes& b) {
  if (b.size() != kTextPointerSize) return std::nullopt;
  TextPointer p;
  p.table = static_cast<int64_t>(Get(b, 0, 6));
  p.column = static_cast<int>(Get(b, 6, 2));
  p.row = static_cast<int64_t>(Get(b, 8, 8));
  if (p.table <= 0 || p.column <= 0 || p.row <= 0) return std::nullopt;
  return p;
}

void RegisterTextPointerFunctions(sqlite3* db) {
  int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  sqlite3_create_function_v2(db, "syb_textptr", 3, flags, nullptr, MakePointer, nullptr, nullptr,
                             nullptr);
  sqlite3_create_function_v2(db, "syb_textptr_row", 3, flags, nullptr, PointerRow, nullptr, nullptr,
                             nullptr);
  sqlite3_create_function_v2(db, "syb_lob", 2, flags, nullptr, LobValue, nullptr, nullptr, nullptr);
}

}  // namespace sampleserver
