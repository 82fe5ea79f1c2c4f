#include "engine/timestamps.h"

#include "engine/builtins.h"
#include "engine/messages.h"
#include "engine/values.h"

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <cstring>

namespace sampleserver {
namespace {

std::atomic<uint64_t>& Counter() {
  static std::atomic<uint64_t> counter{
      static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count())};
  return counter;
}

Bytes ToBytes(uint64_t v) {
  Bytes b(8);
  for (int i = 7; i >= 0; --i, v >>= 8) b[static_cast<size_t>(i)] = static_cast<uint8_t>(v & 0xFF);
  return b;
}

void NextTs(sqlite3_context* ctx, int, sqlite3_value**) {
  Bytes b = NextTimestamp();
  sqlite3_result_blob(ctx, b.data(), static_cast<int>(b.size()), SQLITE_TRANSIENT);
}

Bytes Blob(sqlite3_value* v) {
  const auto* p = static_cast<const uint8_t*>(sqlite3_value_blob(v));
  return p ? Bytes(p, p + sqlite3_value_bytes(v)) : Bytes{};
}

// The client's value is compared as binary; a short one is padded with zeros as binary
// comparison does.
void TsEqual(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  Bytes row = Blob(argv[0]);
  Bytes given = Blob(argv[1]);
  row.resize(std::max(row.size(), given.size()));
  given.resize(row.size());
  if (row == given) {
    sqlite3_result_int(ctx, 1);
    return;
  }
  std::string text =
      EncodeFunctionError(MakeMessage(532, {FormatValue(Value{row}, SqlType::VarBinary)}));
  sqlite3_result_error(ctx, text.c_str(), static_cast<int>(text.size()));
}

}  // namespace

Bytes NextTimestamp() { return ToBytes(Counter().fetch_add(1) + 1); }
Bytes CurrentTimestamp() { return ToBytes(Counter().load()); }

void RegisterTimestampFunctions(sqlite3* db) {
  sqlite3_create_function_v2(db, "syb_next_ts", 0, SQLITE_UTF8, nullptr, NextTs, nullptr, nullptr,
                             nullptr);
  sqlite3_create_function_v2(db, "tsequal", 2, SQLITE_UTF8, nullptr, TsEqual, nullptr, nullptr,
                             nullptr);
}

}  // namespace sampleserver
