// Sybase's pure built-in functions registered on a SQLite connection, working on the storage
// representation (see values.h). The executor rewrites calls to the registered names
// (IsBuiltin) and reads function errors back as Sybase messages (DecodeFunctionError).
#pragma once

#include "datetime.h"
#include "types.h"

#include <optional>
#include <string>
#include <string_view>

struct sqlite3;

namespace sampleserver {

// Session settings the functions read at call time (datepart(dw) and datename(dw) follow
// datefirst; convert() and the date functions parse strings with dateformat). The session owns
// it and must keep it alive as long as the connection; it may change it at any time.
struct BuiltinSettings {
  int datefirst = 7;  // 1 = Monday ... 7 = Sunday
  DateFormat dateFormat = DateFormat::Mdy;
  bool stringRtruncation = false;  // set string_rtruncation: refuse cut strings
};

// Registers every function below and the collation SYB, once per connection (the functions'
// shared state is released when the connection closes). `settings` may be null (defaults).
// Returns false when SQLite refused a registration.
//
// Names (the SQLite name when it differs from the Sybase one is in brackets):
//   dateadd(part, n, d) datediff(part, d1, d2) datename(part, d) datepart(part, d) getdate()
//     part is the part name as text ('dd', 'month'...); d is datetime storage text or any
//     string Sybase parses; dateadd and getdate return storage text.
//   [syb_convert](value, srctype, dsttype, length, precision, scale, style)
//     srctype: the declared type name of value ('datetime', 'money', 'int', 'varchar'...) or
//     NULL to infer from the storage class; dsttype: a base type name; length/precision/scale/
//     style: NULL when not given. Returns the storage representation of the converted value
//     (datetime as storage text, money as REAL, char(n) padded...). For convert(varchar, d, 101)
//     the executor passes srctype 'datetime'.
//   [syb_fit](value, dsttype, length, fixed) a value as a column of dsttype(length) stores it
//     (FitToColumn; fixed for NOT NULL char/binary), refusing cut strings under
//     string_rtruncation.
//   [syb_format](value, srctype, scale) the text the server would send for a stored value when a
//     character result is needed (datetime default style, money 2 decimals, numeric with scale).
//   hextoint(s) inttohex(n) strtobin(hex) bintostr(bytes) str_replace(s, from, to)
//   stuff(s, start, len, r)
//   replicate(s, n) char_length(s) datalength(x) len(s) str(x[, length[, decimals]]) space(n)
//   reverse(s) charindex(needle, s[, start]) patindex(pat, s) ascii(s) difference(a, b)
//   atn2(y, x) cot(x) square(x) rand([seed])
//   Sybase names SQLite already uses (as functions or keywords), registered with the syb_
//   prefix: [syb_isnull](a, b) [syb_right](s, n) [syb_left](s, n) [syb_replace](s, from, to)
//   [syb_substring](s, start, len) [syb_upper] [syb_lower] [syb_ltrim] [syb_rtrim] [syb_char](n)
//   [syb_round](x, n) [syb_abs] [syb_sign] [syb_soundex] [syb_ceiling] [syb_floor]
//   [syb_power](x, y) [syb_sqrt] [syb_exp] [syb_log] (natural) [syb_log10] [syb_pi]()
//   [syb_sin] [syb_cos] [syb_tan] [syb_asin] [syb_acos] [syb_atan] [syb_degrees] [syb_radians]
//   [syb_divide](a, b) [syb_modulo](a, b) integer / and % with Sybase's divide-by-zero error
//   (SQLite gives NULL); float division by zero errors too.
bool RegisterBuiltins(sqlite3* db, const BuiltinSettings* settings = nullptr);

// Whether `name` (any case) is one of the functions above; `sqliteName` receives the registered
// name to call ("syb_substring" for substring). Aggregates are not listed: SQLite's sum, min,
// max and count behave as Sybase's; avg differs (Sybase's avg of an integer column is an
// integer, truncated): the executor wraps it, e.g. cast(avg(x) as integer) for integer x.
bool IsBuiltin(std::string_view name, std::string* sqliteName);

// A function fails with sqlite3_result_error(ctx, EncodeFunctionError(message)); after a
// failed step the executor gets the Sybase message back from sqlite3_errmsg's text. None when the
// text was not produced by a built-in (a plain SQLite error).
std::string EncodeFunctionError(const ServerMessage& message);
std::optional<ServerMessage> DecodeFunctionError(std::string_view sqliteMessage);

}  // namespace sampleserver
