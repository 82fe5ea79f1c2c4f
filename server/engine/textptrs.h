// Text pointers: what a client is given for a row's text or image value and hands back to
// writetext and readtext. The 16 bytes name the table, the column and the row themselves, so the
// server keeps no record of the pointers it handed out and any pointer can be checked at once.
#pragma once

#include "types.h"

#include <cstdint>
#include <optional>

struct sqlite3;

namespace sampleserver {

struct TextPointer {
  int64_t table = 0;  // sysobjects id (or a #temp table's id)
  int column = 0;     // colid
  int64_t row = 0;    // SQLite rowid
};

constexpr size_t kTextPointerSize = 16;

Bytes EncodeTextPointer(const TextPointer& p);
// None unless `b` is 16 bytes of a pointer EncodeTextPointer could have made.
std::optional<TextPointer> DecodeTextPointer(const Bytes& b);

// Registers on a connection:
//   syb_textptr(table, colid, rowid): the pointer, as varbinary(16)
//   syb_textptr_row(ptr, table, colid): the rowid the pointer names when it is one of this
//     table's column, else NULL
//   syb_lob(value, is_image): the value as a text or image column stores it: an empty string as
//     one blank, an empty binary as one zero byte
void RegisterTextPointerFunctions(sqlite3* db);

}  // namespace sampleserver
