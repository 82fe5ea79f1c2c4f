#include "engine/builtins.h"

#include "engine/exact.h"
#include "engine/messages.h"
#include "engine/values.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>

namespace sampleserver {
namespace {

// Longest string a function builds (replicate, space, str): Sybase's limit for these results.
constexpr size_t kMaxResult = 16384;
constexpr const char* kErrorPrefix = "SYBMSG|";

// Per-connection state shared by the registered functions.
struct FunctionState {
  const BuiltinSettings* settings = nullptr;
  BuiltinSettings defaults;
  std::mt19937_64 random{std::random_device{}()};

  const BuiltinSettings& Settings() const { return settings ? *settings : defaults; }
};

FunctionState& State(sqlite3_context* ctx) {
  return *static_cast<FunctionState*>(sqlite3_user_data(ctx));
}

void Fail(sqlite3_context* ctx, const ServerMessage& m) {
  std::string text = EncodeFunctionError(m);
  sqlite3_result_error(ctx, text.c_str(), static_cast<int>(text.size()));
}

void Fail(sqlite3_context* ctx, int number, std::vector<std::string> args = {}) {
  Fail(ctx, MakeMessage(number, std::move(args)));
}

bool AnyNull(int argc, sqlite3_value** argv) {
  for (int i = 0; i < argc; ++i)
    if (sqlite3_value_type(argv[i]) == SQLITE_NULL) return true;
  return false;
}

std::string Text(sqlite3_value* v) {
  const unsigned char* t = sqlite3_value_text(v);
  if (t == nullptr) return std::string();
  return std::string(reinterpret_cast<const char*>(t), static_cast<size_t>(sqlite3_value_bytes(v)));
}

// Sybase functions give NULL rather than an empty string.
void ResultText(sqlite3_context* ctx, const std::string& s) {
  if (s.empty()) {
    sqlite3_result_null(ctx);
    return;
  }
  sqlite3_result_text64(ctx, s.data(), s.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

bool IsInteger(sqlite3_value* v) { return sqlite3_value_numeric_type(v) == SQLITE_INTEGER; }

// UTF-8 helpers: strings are sequences of characters, not bytes. The views point into `s`.
std::vector<std::string_view> Chars(std::string_view s) {
  std::vector<std::string_view> out;
  for (size_t i = 0; i < s.size();) {
    size_t len = 1;
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0xF0)
      len = 4;
    else if (c >= 0xE0)
      len = 3;
    else if (c >= 0xC0)
      len = 2;
    len = std::min(len, s.size() - i);
    out.push_back(s.substr(i, len));
    i += len;
  }
  return out;
}

std::vector<std::string_view> Chars(std::string&&) = delete;  // the views would dangle

std::string Join(const std::vector<std::string_view>& chars, size_t from, size_t count) {
  std::string out;
  for (size_t i = from; i < chars.size() && i < from + count; ++i) out += chars[i];
  return out;
}

// The datetime an argument holds: storage text or any string Sybase accepts.
std::optional<DateTimeValue> DateArg(sqlite3_context* ctx, sqlite3_value* v) {
  if (sqlite3_value_type(v) != SQLITE_TEXT) {
    Fail(ctx, 257, {TypeNameUpper(NaturalType(RawFromStorage(v))), "DATETIME"});
    return std::nullopt;
  }
  std::string s = Text(v);
  auto d = DateTimeFromStorage(s);
  if (!d) d = ParseDateTime(s, State(ctx).Settings().dateFormat);
  if (!d) {
    if (s.size() > 64) s.resize(64);
    Fail(ctx, 249, {"implicit", "VARCHAR", s, "DATETIME"});
  }
  return d;
}

std::optional<DatePart> PartArg(sqlite3_context* ctx, sqlite3_value* v) {
  std::string s = Text(v);
  auto p = ParseDatePart(s);
  if (!p) {
    if (s.size() > 30) s.resize(30);
    Fail(ctx, 155, {s, "datepart"});
  }
  return p;
}

void ResultDate(sqlite3_context* ctx, DateTimeValue v) {
  std::string s = DateTimeToStorage(v);
  sqlite3_result_text64(ctx, s.data(), s.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

// ---- date functions ----

void FnDateAdd(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  auto part = PartArg(ctx, argv[0]);
  if (!part) return;
  auto d = DateArg(ctx, argv[2]);
  if (!d) return;
  double n = sqlite3_value_double(argv[1]);
  if (!std::isfinite(n) || std::fabs(n) > 9e15) return Fail(ctx, 517, {"datetime"});
  auto r = DateAdd(*part, static_cast<int64_t>(n), *d);
  if (!r) return Fail(ctx, 517, {"datetime"});
  ResultDate(ctx, *r);
}

void FnDateDiff(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  auto part = PartArg(ctx, argv[0]);
  if (!part) return;
  auto a = DateArg(ctx, argv[1]);
  if (!a) return;
  auto b = DateArg(ctx, argv[2]);
  if (!b) return;
  int64_t r = DateDiff(*part, *a, *b);
  if (r > INT32_MAX || r < INT32_MIN) return Fail(ctx, 535);
  sqlite3_result_int64(ctx, r);
}

void FnDatePart(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  auto part = PartArg(ctx, argv[0]);
  if (!part) return;
  auto d = DateArg(ctx, argv[1]);
  if (!d) return;
  sqlite3_result_int64(ctx, DatePartValue(*part, *d, State(ctx).Settings().datefirst));
}

void FnDateName(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  auto part = PartArg(ctx, argv[0]);
  if (!part) return;
  auto d = DateArg(ctx, argv[1]);
  if (!d) return;
  ResultText(ctx, DateName(*part, *d, State(ctx).Settings().datefirst));
}

void FnGetDate(sqlite3_context* ctx, int, sqlite3_value**) { ResultDate(ctx, CurrentDateTime()); }

// ---- convert ----

// A type name, optionally with the scale of an exact source after a colon ("numeric:4"): the
// exact storage form does not keep the scale, and conversions to text show it.
std::optional<SqlType> TypeArg(sqlite3_value* v, uint8_t* scale = nullptr) {
  if (sqlite3_value_type(v) == SQLITE_NULL) return std::nullopt;
  std::string name = Text(v);
  size_t colon = name.find(':');
  if (colon != std::string::npos) {
    if (scale)
      *scale = static_cast<uint8_t>(std::clamp(std::atoi(name.c_str() + colon + 1), 0, 38));
    name.resize(colon);
  }
  return ParseTypeName(name);
}

std::optional<int64_t> OptInt(sqlite3_value* v) {
  if (sqlite3_value_type(v) == SQLITE_NULL) return std::nullopt;
  return sqlite3_value_int64(v);
}

void FnConvert(sqlite3_context* ctx, int, sqlite3_value** argv) {
  auto dst = TypeArg(argv[2]);
  if (!dst) {
    std::string name = Text(argv[2]);
    if (name.size() > 30) name.resize(30);
    return Fail(ctx, 2715, {name});
  }
  Value raw = RawFromStorage(argv[0]);
  if (IsNull(raw)) return sqlite3_result_null(ctx);
  auto len = OptInt(argv[3]), prec = OptInt(argv[4]), scale = OptInt(argv[5]),
       style = OptInt(argv[6]);
  std::optional<int32_t> length;
  if (len) length = static_cast<int32_t>(std::clamp<int64_t>(*len, 1, 0x7FFFFFFF));
  std::optional<uint8_t> p, s;
  if (prec) p = static_cast<uint8_t>(std::clamp<int64_t>(*prec, 1, 38));
  if (scale) s = static_cast<uint8_t>(std::clamp<int64_t>(*scale, 0, 38));
  TypeSpec to = MakeType(*dst, length, p, s);
  ConvertOptions o;
  o.style = style ? static_cast<int>(*style) : -1;
  uint8_t fromScale = 0;
  o.from = TypeArg(argv[1], &fromScale);
  o.dateFormat = State(ctx).Settings().dateFormat;
  if (auto b = std::get_if<Bytes>(&raw); b && o.from && IsExactNumericType(*o.from)) {
    if (auto n = exact::Decode(*b)) {
      if (n->scale < fromScale) *n = RescaleNumeric(*n, 38, fromScale);
      raw = *n;
    }
  }
  try {
    Value r = Convert(raw, to, o);
    // Char results keep their padding here: convert(char(5), 'a') is 'a    '.
    if (auto str = std::get_if<std::string>(&r))
      return (void)sqlite3_result_text64(ctx, str->data(), str->size(), SQLITE_TRANSIENT,
                                         SQLITE_UTF8);
    if (auto b = std::get_if<Bytes>(&r))
      return (void)sqlite3_result_blob64(ctx, b->data(), b->size(), SQLITE_TRANSIENT);
    ResultStorage(ctx, r, to.type);
  } catch (const SqlError& e) {
    Fail(ctx, e.message());
  }
}

void FnFit(sqlite3_context* ctx, int, sqlite3_value** argv) {
  Value raw = RawFromStorage(argv[0]);
  auto dst = TypeArg(argv[1]);
  auto len = OptInt(argv[2]);
  if (IsNull(raw) || !dst || !len) return sqlite3_result_value(ctx, argv[0]);
  TypeSpec to = MakeType(*dst, static_cast<int32_t>(std::clamp<int64_t>(*len, 1, 65536)));
  // A number kept in a character column is fitted as its text.
  if (IsCharType(*dst) && !std::holds_alternative<std::string>(raw) &&
      !std::holds_alternative<Bytes>(raw))
    raw = Text(argv[0]);
  try {
    const std::string name = Text(argv[1]);
    Value r = FitToColumn(raw, to, sqlite3_value_int64(argv[3]) != 0,
                          State(ctx).Settings().stringRtruncation,
                          name == "unichar" || name == "univarchar");
    if (auto str = std::get_if<std::string>(&r))
      return (void)sqlite3_result_text64(ctx, str->data(), str->size(), SQLITE_TRANSIENT,
                                         SQLITE_UTF8);
    if (auto b = std::get_if<Bytes>(&r))
      return (void)sqlite3_result_blob64(ctx, b->data(), b->size(), SQLITE_TRANSIENT);
    sqlite3_result_value(ctx, argv[0]);
  } catch (const SqlError& e) {
    Fail(ctx, e.message());
  }
}

void FnFormat(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  Value raw = RawFromStorage(argv[0]);
  if (IsNull(raw)) return sqlite3_result_null(ctx);
  SqlType from = TypeArg(argv[1]).value_or(NaturalType(raw));
  uint8_t scale = 0;
  if (argc > 2 && sqlite3_value_type(argv[2]) != SQLITE_NULL)
    scale = static_cast<uint8_t>(std::clamp<int64_t>(sqlite3_value_int64(argv[2]), 0, 38));
  std::string s = FormatValue(raw, from, -1, scale);
  sqlite3_result_text64(ctx, s.data(), s.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

// ---- general ----

void FnIsNull(sqlite3_context* ctx, int, sqlite3_value** argv) {
  sqlite3_result_value(ctx, sqlite3_value_type(argv[0]) != SQLITE_NULL ? argv[0] : argv[1]);
}

void FnHexToInt(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  std::string s = Text(argv[0]);
  std::string_view t = s;
  while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
  while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
  if (t.size() >= 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) t.remove_prefix(2);
  if (t.empty()) return sqlite3_result_null(ctx);
  uint64_t v = 0;
  size_t significant = 0;
  for (char c : t) {
    int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
            : (c >= 'a' && c <= 'f')                    ? c - 'a' + 10
            : (c >= 'A' && c <= 'F')                    ? c - 'A' + 10
                                                        : -1;
    if (d < 0) return sqlite3_result_null(ctx);
    if (significant > 0 || d != 0) ++significant;
    if (significant > 8) return Fail(ctx, 3606);
    v = v * 16 + static_cast<uint64_t>(d);
  }
  // Eight digits are a 32-bit pattern: FFFFFFFF is -1.
  sqlite3_result_int64(ctx, static_cast<int32_t>(static_cast<uint32_t>(v)));
}

void FnIntToHex(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  uint32_t v = static_cast<uint32_t>(sqlite3_value_int64(argv[0]));
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08X", v);
  sqlite3_result_text(ctx, buf, -1, SQLITE_TRANSIENT);
}

void FnStrToBin(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  auto b = HexToBytes(Text(argv[0]));
  if (!b) return sqlite3_result_null(ctx);
  sqlite3_result_blob64(ctx, b->data(), b->size(), SQLITE_TRANSIENT);
}

void FnBinToStr(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  const auto* p = static_cast<const uint8_t*>(sqlite3_value_blob(argv[0]));
  int n = sqlite3_value_bytes(argv[0]);
  ResultText(ctx, BytesToHex(p ? Bytes(p, p + n) : Bytes()));
}

// ---- strings ----

void FnRight(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  int64_t n = sqlite3_value_int64(argv[1]);
  if (n < 0) return sqlite3_result_null(ctx);
  std::string charsText = Text(argv[0]);
  auto chars = Chars(charsText);
  size_t count = std::min<uint64_t>(static_cast<uint64_t>(n), chars.size());
  ResultText(ctx, Join(chars, chars.size() - count, count));
}

void FnLeft(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  int64_t n = sqlite3_value_int64(argv[1]);
  if (n < 0) return sqlite3_result_null(ctx);
  std::string charsText = Text(argv[0]);
  auto chars = Chars(charsText);
  ResultText(ctx, Join(chars, 0, std::min<uint64_t>(static_cast<uint64_t>(n), chars.size())));
}

void FnSubstring(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  int64_t start = sqlite3_value_int64(argv[1]);
  int64_t len = argc > 2 ? sqlite3_value_int64(argv[2]) : INT32_MAX;
  if (len < 0) return sqlite3_result_null(ctx);
  // A start before the first character still counts its length from there.
  int64_t end = start > INT64_MAX - len ? INT64_MAX : start + len;  // exclusive, 1-based
  if (start < 1) start = 1;
  if (sqlite3_value_type(argv[0]) == SQLITE_BLOB) {
    const auto* p = static_cast<const uint8_t*>(sqlite3_value_blob(argv[0]));
    int64_t n = sqlite3_value_bytes(argv[0]);
    if (p == nullptr || start > n || end <= start) return sqlite3_result_null(ctx);
    int64_t stop = std::min(end - 1, n);
    return sqlite3_result_blob64(ctx, p + start - 1, static_cast<sqlite3_uint64>(stop - start + 1),
                                 SQLITE_TRANSIENT);
  }
  std::string charsText = Text(argv[0]);
  auto chars = Chars(charsText);
  int64_t n = static_cast<int64_t>(chars.size());
  if (start > n || end <= start) return sqlite3_result_null(ctx);
  int64_t stop = std::min(end - 1, n);
  ResultText(ctx,
             Join(chars, static_cast<size_t>(start - 1), static_cast<size_t>(stop - start + 1)));
}

void FnStuff(sqlite3_context* ctx, int, sqlite3_value** argv) {
  for (int i = 0; i < 3; ++i)
    if (sqlite3_value_type(argv[i]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  std::string charsText = Text(argv[0]);
  auto chars = Chars(charsText);
  int64_t start = sqlite3_value_int64(argv[1]);
  int64_t len = sqlite3_value_int64(argv[2]);
  int64_t n = static_cast<int64_t>(chars.size());
  if (start < 1 || start > n || len < 0) return sqlite3_result_null(ctx);
  std::string insert;
  if (sqlite3_value_type(argv[3]) != SQLITE_NULL) {
    insert = Text(argv[3]);
    if (insert.empty()) insert = " ";  // an empty string is a single blank in Sybase
  }
  int64_t cut = std::min(len, n - start + 1);
  std::string out = Join(chars, 0, static_cast<size_t>(start - 1)) + insert +
                    Join(chars, static_cast<size_t>(start - 1 + cut), chars.size());
  ResultText(ctx, out);
}

void FnReplicate(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  std::string s = Text(argv[0]);
  int64_t n = sqlite3_value_int64(argv[1]);
  if (n <= 0 || s.empty()) return sqlite3_result_null(ctx);
  std::string out;
  for (int64_t i = 0; i < n && out.size() + s.size() <= kMaxResult; ++i) out += s;
  if (out.empty()) out = s.substr(0, kMaxResult);
  ResultText(ctx, out);
}

void FnSpace(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  int64_t n = sqlite3_value_int64(argv[0]);
  if (n <= 0) return sqlite3_result_null(ctx);
  ResultText(ctx, std::string(static_cast<size_t>(std::min<int64_t>(n, kMaxResult)), ' '));
}

void FnCharLength(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  if (sqlite3_value_type(argv[0]) == SQLITE_BLOB)
    return sqlite3_result_int64(ctx, sqlite3_value_bytes(argv[0]));
  std::string text = Text(argv[0]);
  sqlite3_result_int64(ctx, static_cast<int64_t>(Chars(text).size()));
}

void FnDataLength(sqlite3_context* ctx, int, sqlite3_value** argv) {
  switch (sqlite3_value_type(argv[0])) {
    case SQLITE_NULL: return sqlite3_result_null(ctx);
    case SQLITE_INTEGER: {
      int64_t v = sqlite3_value_int64(argv[0]);
      return sqlite3_result_int64(ctx, v > INT32_MAX || v < INT32_MIN ? 8 : 4);
    }
    case SQLITE_FLOAT: return sqlite3_result_int64(ctx, 8);
    default: return sqlite3_result_int64(ctx, sqlite3_value_bytes(argv[0]));
  }
}

void FnUpper(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  std::string s = Text(argv[0]);
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  ResultText(ctx, s);
}

void FnLower(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  std::string s = Text(argv[0]);
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  ResultText(ctx, s);
}

void FnLtrim(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  std::string s = Text(argv[0]);
  size_t p = s.find_first_not_of(' ');
  ResultText(ctx, p == std::string::npos ? std::string() : s.substr(p));
}

void FnRtrim(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  std::string s = Text(argv[0]);
  size_t p = s.find_last_not_of(' ');
  ResultText(ctx, p == std::string::npos ? std::string() : s.substr(0, p + 1));
}

void FnReverse(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  if (sqlite3_value_type(argv[0]) == SQLITE_BLOB) {
    const auto* p = static_cast<const uint8_t*>(sqlite3_value_blob(argv[0]));
    Bytes b(p, p + sqlite3_value_bytes(argv[0]));
    std::reverse(b.begin(), b.end());
    return sqlite3_result_blob64(ctx, b.data(), b.size(), SQLITE_TRANSIENT);
  }
  std::string charsText = Text(argv[0]);
  auto chars = Chars(charsText);
  std::reverse(chars.begin(), chars.end());
  ResultText(ctx, Join(chars, 0, chars.size()));
}

void FnReplace(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL)
    return sqlite3_result_null(ctx);
  std::string s = Text(argv[0]), from = Text(argv[1]);
  // A NULL replacement removes the matches.
  std::string to = sqlite3_value_type(argv[2]) == SQLITE_NULL ? std::string() : Text(argv[2]);
  if (from.empty()) return ResultText(ctx, s);
  std::string out;
  size_t pos = 0;
  for (size_t hit; (hit = s.find(from, pos)) != std::string::npos; pos = hit + from.size()) {
    out.append(s, pos, hit - pos);
    out += to;
    if (out.size() > kMaxResult * 64) break;
  }
  out.append(s, std::min(pos, s.size()));
  ResultText(ctx, out);
}

void FnCharIndex(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  std::string needle = Text(argv[0]);
  std::string hayText = Text(argv[1]);
  auto hay = Chars(hayText);
  int64_t start = argc > 2 ? std::max<int64_t>(1, sqlite3_value_int64(argv[2])) : 1;
  if (needle.empty()) return sqlite3_result_int64(ctx, 0);
  std::string joined;
  std::vector<size_t> offsets;  // byte offset of each character
  for (auto c : hay) {
    offsets.push_back(joined.size());
    joined += c;
  }
  if (start > static_cast<int64_t>(hay.size())) return sqlite3_result_int64(ctx, 0);
  size_t hit = joined.find(needle, offsets[static_cast<size_t>(start - 1)]);
  if (hit == std::string::npos) return sqlite3_result_int64(ctx, 0);
  auto it = std::lower_bound(offsets.begin(), offsets.end(), hit);
  sqlite3_result_int64(ctx, static_cast<int64_t>(it - offsets.begin()) + 1);
}

// Sybase's like pattern: % any run, _ one character, [abc], [a-z], [^abc].
bool LikeMatch(const std::vector<std::string_view>& p, size_t pi,
               const std::vector<std::string_view>& s, size_t si, int depth) {
  if (depth > 1000) return false;
  while (pi < p.size()) {
    if (p[pi] == "%") {
      while (pi < p.size() && p[pi] == "%") ++pi;
      if (pi == p.size()) return true;
      for (size_t k = si; k <= s.size(); ++k)
        if (LikeMatch(p, pi, s, k, depth + 1)) return true;
      return false;
    }
    if (si >= s.size()) return false;
    if (p[pi] == "_") {
      ++pi;
      ++si;
      continue;
    }
    if (p[pi] == "[") {
      size_t close = pi + 1;
      while (close < p.size() && p[close] != "]") ++close;
      if (close < p.size()) {
        bool negate = close > pi + 1 && p[pi + 1] == "^";
        bool found = false;
        for (size_t k = pi + 1 + (negate ? 1 : 0); k < close; ++k) {
          if (k + 2 < close && p[k + 1] == "-") {
            if (p[k] <= s[si] && s[si] <= p[k + 2]) found = true;
            k += 2;
          } else if (p[k] == s[si]) {
            found = true;
          }
        }
        if (found == negate) return false;
        pi = close + 1;
        ++si;
        continue;
      }
    }
    if (p[pi] != s[si]) return false;
    ++pi;
    ++si;
  }
  return si == s.size();
}

void FnPatIndex(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  std::string patText = Text(argv[0]), strText = Text(argv[1]);
  if (patText.size() > 4096 || strText.size() > 65536) return sqlite3_result_int64(ctx, 0);
  auto pat = Chars(patText);
  auto s = Chars(strText);
  bool anchored = pat.empty() || pat[0] != "%";
  size_t pi = 0;
  while (pi < pat.size() && pat[pi] == "%") ++pi;
  std::vector<std::string_view> rest(pat.begin() + static_cast<std::ptrdiff_t>(pi), pat.end());
  if (rest.empty()) return sqlite3_result_int64(ctx, s.empty() ? 0 : 1);
  for (size_t i = 0; i < s.size(); ++i) {
    if (LikeMatch(rest, 0, s, i, 0)) return sqlite3_result_int64(ctx, static_cast<int64_t>(i) + 1);
    if (anchored) break;
  }
  sqlite3_result_int64(ctx, 0);
}

void FnAscii(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  std::string s = Text(argv[0]);
  if (s.empty()) return sqlite3_result_null(ctx);
  sqlite3_result_int64(ctx, static_cast<unsigned char>(s[0]));
}

void FnChar(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  int64_t n = sqlite3_value_int64(argv[0]);
  if (n < 0 || n > 255) return sqlite3_result_null(ctx);
  std::string s;
  // Codes above 127 are taken as Latin-1 and sent as UTF-8, the server's character set.
  if (n < 128) {
    s += static_cast<char>(n);
  } else {
    s += static_cast<char>(0xC0 | (n >> 6));
    s += static_cast<char>(0x80 | (n & 0x3F));
  }
  sqlite3_result_text64(ctx, s.data(), s.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

std::string Soundex(const std::string& s) {
  static constexpr char kCodes[] = "01230120022455012623010202";
  std::string out;
  char last = 0;
  for (char ch : s) {
    if (!std::isalpha(static_cast<unsigned char>(ch))) continue;
    char u = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    char code = kCodes[u - 'A'];
    if (out.empty()) {
      out += u;
      last = code;
      continue;
    }
    if (code != '0' && code != last) out += code;
    // H and W do not separate equal codes; vowels do.
    if (u != 'H' && u != 'W') last = code;
    if (out.size() == 4) break;
  }
  if (out.empty()) return "0000";
  out.append(4 - out.size(), '0');
  return out;
}

void FnSoundex(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  ResultText(ctx, Soundex(Text(argv[0])));
}

void FnDifference(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  std::string a = Soundex(Text(argv[0])), b = Soundex(Text(argv[1]));
  int same = 0;
  for (size_t i = 0; i < 4; ++i) same += a[i] == b[i];
  sqlite3_result_int64(ctx, same);
}

// Rounds the decimal text of x to n decimals (n may be negative), half away from zero.
double RoundDecimal(double x, int64_t n) {
  if (!std::isfinite(x) || n > 300) return x;
  if (n < -308) return 0;
  std::string txt = FormatFloat(x);
  if (txt.find('e') != std::string::npos) {
    double f = std::pow(10.0, static_cast<double>(n));
    return std::round(x * f) / f;
  }
  if (n >= 0) {
    auto num = ParseNumeric(txt, 38, static_cast<uint8_t>(std::min<int64_t>(n, 38)));
    return num ? NumericToDouble(*num) : x;
  }
  double f = std::pow(10.0, static_cast<double>(-n));
  return std::round(x / f) * f;
}

void FnRound(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  int64_t n = argc > 1 ? sqlite3_value_int64(argv[1]) : 0;
  if (IsInteger(argv[0])) {
    int64_t v = sqlite3_value_int64(argv[0]);
    if (n >= 0) return sqlite3_result_int64(ctx, v);
    if (n < -18) return sqlite3_result_int64(ctx, 0);
    int64_t f = 1;
    for (int64_t i = 0; i < -n; ++i) f *= 10;
    int64_t q = v / f, r = v % f;
    if (r * 2 >= f) ++q;
    if (r * 2 <= -f) --q;
    if (q > INT64_MAX / f || q < INT64_MIN / f) return Fail(ctx, 3606);
    return sqlite3_result_int64(ctx, q * f);
  }
  sqlite3_result_double(ctx, RoundDecimal(sqlite3_value_double(argv[0]), n));
}

void FnStr(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  int64_t length =
      argc > 1 && sqlite3_value_type(argv[1]) != SQLITE_NULL ? sqlite3_value_int64(argv[1]) : 10;
  int64_t decimals =
      argc > 2 && sqlite3_value_type(argv[2]) != SQLITE_NULL ? sqlite3_value_int64(argv[2]) : 0;
  if (length <= 0 || length > 1024 || decimals < 0) return sqlite3_result_null(ctx);
  decimals = std::min<int64_t>(decimals, 16);
  double x = sqlite3_value_double(argv[0]);
  std::string s;
  // Fewer decimals when the number would not fit otherwise; stars when even the integer part
  // does not.
  for (int64_t d = decimals; d >= 0; --d) {
    double r = RoundDecimal(x, d);
    char buf[400];
    std::snprintf(buf, sizeof buf, "%.*f", static_cast<int>(d), r);
    s = buf;
    if (static_cast<int64_t>(s.size()) <= length) break;
  }
  if (static_cast<int64_t>(s.size()) > length)
    s = std::string(static_cast<size_t>(length), '*');
  else
    s.insert(0, static_cast<size_t>(length) - s.size(), ' ');
  ResultText(ctx, s);
}

// ---- numbers ----

using UnaryMath = double (*)(double);

template <UnaryMath F>
void FnMath(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  double r = F(sqlite3_value_double(argv[0]));
  if (!std::isfinite(r)) return Fail(ctx, 3622);
  sqlite3_result_double(ctx, r);
}

double Cot(double x) { return 1.0 / std::tan(x); }
double Degrees(double x) { return x * 180.0 / M_PI; }
double Radians(double x) { return x * M_PI / 180.0; }
double Square(double x) { return x * x; }
double Sqrt(double x) { return std::sqrt(x); }
double Exp(double x) { return std::exp(x); }
double Ln(double x) { return std::log(x); }
double Log10(double x) { return std::log10(x); }
double Sin(double x) { return std::sin(x); }
double Cos(double x) { return std::cos(x); }
double Tan(double x) { return std::tan(x); }
double Asin(double x) { return std::asin(x); }
double Acos(double x) { return std::acos(x); }
double Atan(double x) { return std::atan(x); }

void FnAbs(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  if (IsInteger(argv[0])) {
    int64_t v = sqlite3_value_int64(argv[0]);
    if (v == INT64_MIN) return Fail(ctx, 3606);
    return sqlite3_result_int64(ctx, v < 0 ? -v : v);
  }
  sqlite3_result_double(ctx, std::fabs(sqlite3_value_double(argv[0])));
}

void FnSign(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  if (IsInteger(argv[0])) {
    int64_t v = sqlite3_value_int64(argv[0]);
    return sqlite3_result_int64(ctx, v > 0 ? 1 : v < 0 ? -1 : 0);
  }
  double d = sqlite3_value_double(argv[0]);
  sqlite3_result_double(ctx, d > 0 ? 1.0 : d < 0 ? -1.0 : 0.0);
}

void FnCeiling(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  if (IsInteger(argv[0])) return sqlite3_result_int64(ctx, sqlite3_value_int64(argv[0]));
  sqlite3_result_double(ctx, std::ceil(sqlite3_value_double(argv[0])));
}

void FnFloor(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  if (IsInteger(argv[0])) return sqlite3_result_int64(ctx, sqlite3_value_int64(argv[0]));
  sqlite3_result_double(ctx, std::floor(sqlite3_value_double(argv[0])));
}

void FnPower(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  double r = std::pow(sqlite3_value_double(argv[0]), sqlite3_value_double(argv[1]));
  if (IsInteger(argv[0]) && IsInteger(argv[1]) && sqlite3_value_int64(argv[1]) >= 0) {
    // An integer raised to an integer stays an integer.
    if (!(std::fabs(r) < 9.2e18)) return Fail(ctx, 3606);
    return sqlite3_result_int64(ctx, static_cast<int64_t>(std::llround(r)));
  }
  if (!std::isfinite(r)) return Fail(ctx, 3622);
  sqlite3_result_double(ctx, r);
}

void FnPi(sqlite3_context* ctx, int, sqlite3_value**) { sqlite3_result_double(ctx, M_PI); }

void FnAtn2(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  sqlite3_result_double(ctx,
                        std::atan2(sqlite3_value_double(argv[0]), sqlite3_value_double(argv[1])));
}

void FnRand(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  FunctionState& st = State(ctx);
  if (argc > 0 && sqlite3_value_type(argv[0]) != SQLITE_NULL)
    st.random.seed(static_cast<uint64_t>(sqlite3_value_int64(argv[0])));
  std::uniform_real_distribution<double> dist(0.0, 1.0);
  sqlite3_result_double(ctx, dist(st.random));
}

// syb_intrange(x, lo, hi): x when it is an integer within lo..hi, else Msg 3606.
void FnIntRange(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  if (!IsInteger(argv[0])) return Fail(ctx, 3606);
  int64_t v = sqlite3_value_int64(argv[0]);
  if (v < sqlite3_value_int64(argv[1]) || v > sqlite3_value_int64(argv[2])) return Fail(ctx, 3606);
  sqlite3_result_int64(ctx, v);
}

// syb_ubig(x): an arithmetic result (integer, float or the exact form) as an unsigned bigint in
// its storage form, truncated toward zero; Msg 3606 outside 0 .. 2^64-1.
void FnUnsignedBigInt(sqlite3_context* ctx, int, sqlite3_value** argv) {
  Value v = RawFromStorage(argv[0]);
  if (IsNull(v)) return sqlite3_result_null(ctx);
  if (auto b = std::get_if<Bytes>(&v)) {
    auto n = exact::Decode(*b);
    if (!n) return Fail(ctx, 3606);
    v = *n;
  }
  try {
    ConvertOptions o;
    o.from = NaturalType(v);
    ResultStorage(ctx, Convert(v, MakeType(SqlType::UnsignedBigInt), o), SqlType::UnsignedBigInt);
  } catch (const SqlError&) {
    Fail(ctx, 3606);
  }
}

void FnDivide(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  if (IsInteger(argv[0]) && IsInteger(argv[1])) {
    int64_t a = sqlite3_value_int64(argv[0]), b = sqlite3_value_int64(argv[1]);
    if (b == 0) return Fail(ctx, 3607);
    if (a == INT64_MIN && b == -1) return Fail(ctx, 3606);
    return sqlite3_result_int64(ctx, a / b);
  }
  double b = sqlite3_value_double(argv[1]);
  if (b == 0) return Fail(ctx, 3607);
  double r = sqlite3_value_double(argv[0]) / b;
  if (!std::isfinite(r)) return Fail(ctx, 3606);
  sqlite3_result_double(ctx, r);
}

void FnModulo(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  if (IsInteger(argv[0]) && IsInteger(argv[1])) {
    int64_t a = sqlite3_value_int64(argv[0]), b = sqlite3_value_int64(argv[1]);
    if (b == 0) return Fail(ctx, 3607);
    if (b == -1) return sqlite3_result_int64(ctx, 0);
    return sqlite3_result_int64(ctx, a % b);
  }
  double b = sqlite3_value_double(argv[1]);
  if (b == 0) return Fail(ctx, 3607);
  sqlite3_result_double(ctx, std::fmod(sqlite3_value_double(argv[0]), b));
}

using Fn = void (*)(sqlite3_context*, int, sqlite3_value**);

struct FunctionDef {
  const char* sybase;  // the Transact-SQL name
  const char* sqlite;  // the registered name
  int nargMin, nargMax;
  Fn fn;
  bool deterministic = true;
};

const FunctionDef kFunctions[] = {
    {"dateadd", "dateadd", 3, 3, FnDateAdd},
    {"datediff", "datediff", 3, 3, FnDateDiff},
    {"datepart", "datepart", 2, 2, FnDatePart},
    {"datename", "datename", 2, 2, FnDateName},
    {"getdate", "getdate", 0, 0, FnGetDate, false},
    {"convert", "syb_convert", 7, 7, FnConvert},
    {"syb_fit", "syb_fit", 4, 4, FnFit},
    {"format", "syb_format", 2, 3, FnFormat},
    {"isnull", "syb_isnull", 2, 2, FnIsNull},
    {"hextoint", "hextoint", 1, 1, FnHexToInt},
    {"inttohex", "inttohex", 1, 1, FnIntToHex},
    {"strtobin", "strtobin", 1, 1, FnStrToBin},
    {"bintostr", "bintostr", 1, 1, FnBinToStr},
    {"right", "syb_right", 2, 2, FnRight},
    {"left", "syb_left", 2, 2, FnLeft},
    {"substring", "syb_substring", 2, 3, FnSubstring},
    {"stuff", "stuff", 4, 4, FnStuff},
    {"replicate", "replicate", 2, 2, FnReplicate},
    {"space", "space", 1, 1, FnSpace},
    {"char_length", "char_length", 1, 1, FnCharLength},
    {"len", "len", 1, 1, FnCharLength},
    {"datalength", "datalength", 1, 1, FnDataLength},
    {"upper", "syb_upper", 1, 1, FnUpper},
    {"lower", "syb_lower", 1, 1, FnLower},
    {"ltrim", "syb_ltrim", 1, 1, FnLtrim},
    {"rtrim", "syb_rtrim", 1, 1, FnRtrim},
    {"reverse", "reverse", 1, 1, FnReverse},
    {"str_replace", "str_replace", 3, 3, FnReplace},
    {"replace", "syb_replace", 3, 3, FnReplace},
    {"charindex", "charindex", 2, 3, FnCharIndex},
    {"patindex", "patindex", 2, 2, FnPatIndex},
    {"ascii", "ascii", 1, 1, FnAscii},
    {"char", "syb_char", 1, 1, FnChar},
    {"soundex", "syb_soundex", 1, 1, FnSoundex},
    {"difference", "difference", 2, 2, FnDifference},
    {"str", "str", 1, 3, FnStr},
    {"round", "syb_round", 1, 2, FnRound},
    {"abs", "syb_abs", 1, 1, FnAbs},
    {"sign", "syb_sign", 1, 1, FnSign},
    {"ceiling", "syb_ceiling", 1, 1, FnCeiling},
    {"floor", "syb_floor", 1, 1, FnFloor},
    {"power", "syb_power", 2, 2, FnPower},
    {"sqrt", "syb_sqrt", 1, 1, FnMath<Sqrt>},
    {"exp", "syb_exp", 1, 1, FnMath<Exp>},
    {"log", "syb_log", 1, 1, FnMath<Ln>},
    {"log10", "syb_log10", 1, 1, FnMath<Log10>},
    {"pi", "syb_pi", 0, 0, FnPi},
    {"sin", "syb_sin", 1, 1, FnMath<Sin>},
    {"cos", "syb_cos", 1, 1, FnMath<Cos>},
    {"tan", "syb_tan", 1, 1, FnMath<Tan>},
    {"asin", "syb_asin", 1, 1, FnMath<Asin>},
    {"acos", "syb_acos", 1, 1, FnMath<Acos>},
    {"atan", "syb_atan", 1, 1, FnMath<Atan>},
    {"atn2", "atn2", 2, 2, FnAtn2},
    {"cot", "cot", 1, 1, FnMath<Cot>},
    {"degrees", "syb_degrees", 1, 1, FnMath<Degrees>},
    {"radians", "syb_radians", 1, 1, FnMath<Radians>},
    {"square", "square", 1, 1, FnMath<Square>},
    {"rand", "rand", 0, 1, FnRand, false},
    {"divide", "syb_divide", 2, 2, FnDivide},
    {"intrange", "syb_intrange", 3, 3, FnIntRange},
    {"ubig", "syb_ubig", 1, 1, FnUnsignedBigInt},
    {"modulo", "syb_modulo", 2, 2, FnModulo},
};

void DestroyState(void* p) { delete static_cast<FunctionState*>(p); }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

}  // namespace

bool RegisterBuiltins(sqlite3* db, const BuiltinSettings* settings) {
  RegisterSybCollation(db);
  exact::RegisterFunctions(db);
  // One state per connection, owned by SQLite: the destructor runs when the last function
  // using it is dropped (the state is attached to the first registration and shared by the
  // others through the user-data pointer).
  auto owned = std::make_unique<FunctionState>();
  owned->settings = settings;
  FunctionState* state = owned.get();
  bool ok = true;
  bool stateOwnedBySqlite = false;
  for (const FunctionDef& f : kFunctions) {
    int flags = SQLITE_UTF8 | (f.deterministic ? SQLITE_DETERMINISTIC : 0);
    for (int n = f.nargMin; n <= f.nargMax; ++n) {
      // The destructor is attached to a single registration that lives as long as the
      // connection (getdate/0 arguments); the others share the pointer.
      bool owner = !stateOwnedBySqlite;
      int rc = sqlite3_create_function_v2(db, f.sqlite, n, flags, state, f.fn, nullptr, nullptr,
                                          owner ? DestroyState : nullptr);
      if (owner) {
        // SQLite calls the destructor even when the registration fails.
        owned.release();
        stateOwnedBySqlite = true;
        if (rc != SQLITE_OK) return false;
      }
      if (rc != SQLITE_OK) ok = false;
    }
  }
  return ok;
}

bool IsBuiltin(std::string_view name, std::string* sqliteName) {
  for (const FunctionDef& f : kFunctions) {
    // divide/modulo/format are helpers for the executor, not Transact-SQL functions.
    if (std::strcmp(f.sybase, "divide") == 0 || std::strcmp(f.sybase, "modulo") == 0 ||
        std::strcmp(f.sybase, "format") == 0 || std::strcmp(f.sybase, "intrange") == 0 ||
        std::strcmp(f.sybase, "ubig") == 0)
      continue;
    if (EqualsNoCase(name, f.sybase)) {
      if (sqliteName) *sqliteName = f.sqlite;
      return true;
    }
  }
  return false;
}

std::string EncodeFunctionError(const ServerMessage& m) {
  return std::string(kErrorPrefix) + std::to_string(m.number) + "|" + std::to_string(m.severity) +
         "|" + std::to_string(m.state) + "|" + m.text;
}

std::optional<ServerMessage> DecodeFunctionError(std::string_view text) {
  size_t at = text.find(kErrorPrefix);
  if (at == std::string_view::npos) return std::nullopt;
  text.remove_prefix(at + std::strlen(kErrorPrefix));
  int fields[3] = {0, 0, 0};
  for (int& f : fields) {
    size_t bar = text.find('|');
    if (bar == std::string_view::npos || bar == 0 || bar > 10) return std::nullopt;
    long v = 0;
    for (char c : text.substr(0, bar)) {
      if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
      v = v * 10 + (c - '0');
    }
    f = static_cast<int>(v);
    text.remove_prefix(bar + 1);
  }
  ServerMessage m;
  m.number = fields[0];
  m.severity = static_cast<uint8_t>(fields[1]);
  m.state = static_cast<uint8_t>(fields[2]);
  m.text = std::string(text);
  return m;
}

}  // namespace sampleserver
