#include "tds/tokens.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace sampleserver::tds {

namespace {

bool IsTextType(SqlType t) {
  return t == SqlType::Char || t == SqlType::VarChar || t == SqlType::Text;
}

WireFormat Fixed(uint8_t type, uint32_t size) {
  return {type, WireFormat::Fixed, size, 0, 0, false};
}
WireFormat Len1(uint8_t type, uint32_t size) { return {type, WireFormat::Len1, size, 0, 0, false}; }

// Values arrive in the engine's representation; a column may still get a neighbouring kind (an
// integer for a float column, say), so every writer converts what it can and never throws.
int64_t AsInt(const Value& v) {
  if (auto p = std::get_if<int64_t>(&v)) return *p;
  if (auto p = std::get_if<double>(&v)) {
    if (!(std::fabs(*p) < 9.2e18)) return 0;
    return static_cast<int64_t>(*p);
  }
  if (auto p = std::get_if<MoneyValue>(&v)) return p->units / 10000;
  if (auto p = std::get_if<NumericValue>(&v)) {
    int64_t n = 0;
    size_t intDigits = p->digits.size() > p->scale ? p->digits.size() - p->scale : 0;
    if (intDigits > 18) return 0;
    for (size_t i = 0; i < intDigits; ++i) n = n * 10 + (p->digits[i] - '0');
    return p->negative ? -n : n;
  }
  if (auto p = std::get_if<std::string>(&v)) {
    char* end = nullptr;
    long long n = std::strtoll(p->c_str(), &end, 10);
    return n;
  }
  return 0;
}

double AsDouble(const Value& v) {
  if (auto p = std::get_if<double>(&v)) return *p;
  if (auto p = std::get_if<int64_t>(&v)) return static_cast<double>(*p);
  if (auto p = std::get_if<MoneyValue>(&v)) return static_cast<double>(p->units) / 10000.0;
  if (auto p = std::get_if<NumericValue>(&v)) {
    double d = 0;
    for (char c : p->digits)
      if (c >= '0' && c <= '9') d = d * 10 + (c - '0');
    d /= std::pow(10.0, p->scale);
    return p->negative ? -d : d;
  }
  if (auto p = std::get_if<std::string>(&v)) return std::strtod(p->c_str(), nullptr);
  return 0;
}

int64_t AsMoneyUnits(const Value& v) {
  if (auto p = std::get_if<MoneyValue>(&v)) return p->units;
  if (auto p = std::get_if<int64_t>(&v)) {
    if (*p > 922337203685477 || *p < -922337203685477) return 0;
    return *p * 10000;
  }
  double d = AsDouble(v) * 10000.0;
  if (!(std::fabs(d) < 9.2e18)) return 0;
  return std::llround(d);
}

std::string AsText(const Value& v) {
  if (auto p = std::get_if<std::string>(&v)) return *p;
  if (auto p = std::get_if<Bytes>(&v)) return std::string(p->begin(), p->end());
  if (auto p = std::get_if<int64_t>(&v)) return std::to_string(*p);
  if (auto p = std::get_if<double>(&v)) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", *p);
    return buf;
  }
  if (auto p = std::get_if<NumericValue>(&v)) {
    std::string d = p->digits;
    if (p->scale > 0) {
      if (d.size() <= p->scale) d.insert(0, p->scale - d.size() + 1, '0');
      d.insert(d.size() - p->scale, ".");
    }
    return p->negative ? "-" + d : d;
  }
  if (auto p = std::get_if<MoneyValue>(&v)) {
    NumericValue n;
    n.negative = p->units < 0;
    uint64_t u = n.negative ? 0 - static_cast<uint64_t>(p->units) : static_cast<uint64_t>(p->units);
    n.digits = std::to_string(u);
    n.scale = 4;
    return AsText(Value{n});
  }
  return {};
}

Bytes AsBytes(const Value& v) {
  if (auto p = std::get_if<Bytes>(&v)) return *p;
  std::string s = AsText(v);
  return Bytes(s.begin(), s.end());
}

bool IsUnicharUserType(int32_t usertype) { return usertype == 34 || usertype == 35; }

// UTF-8 to UTF-16LE; a malformed byte becomes U+FFFD.
Bytes Utf16le(std::string_view s) {
  Bytes out;
  out.reserve(s.size() * 2);
  auto unit = [&](uint32_t u) {
    out.push_back(static_cast<uint8_t>(u));
    out.push_back(static_cast<uint8_t>(u >> 8));
  };
  for (size_t i = 0; i < s.size();) {
    auto c = static_cast<uint8_t>(s[i]);
    int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
    uint32_t cp = extra == 0 ? c : extra == 1 ? c & 0x1Fu : extra == 2 ? c & 0x0Fu : c & 0x07u;
    bool ok = extra >= 0 && i + static_cast<size_t>(extra) < s.size();
    for (int k = 1; ok && k <= extra; ++k) {
      auto cc = static_cast<uint8_t>(s[i + static_cast<size_t>(k)]);
      if ((cc & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (cc & 0x3Fu);
    }
    if (!ok || cp > 0x10FFFF) {
      unit(0xFFFD);
      ++i;
      continue;
    }
    i += static_cast<size_t>(extra) + 1;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      unit(0xD800 + (cp >> 10));
      unit(0xDC00 + (cp & 0x3FF));
    } else {
      unit(cp);
    }
  }
  return out;
}

// Cuts UTF-8 text to at most `max` bytes without splitting a character.
void ClampText(std::string& s, size_t max) {
  if (s.size() <= max) return;
  size_t n = max;
  while (n > 0 && (static_cast<uint8_t>(s[n]) & 0xC0) == 0x80) --n;
  s.resize(n);
}

void WriteLE(ByteWriter& w, uint64_t v, size_t n) {
  for (size_t i = 0; i < n; ++i) w.U8(static_cast<uint8_t>(v >> (8 * i)));
}

void WriteFixed(ByteWriter& w, const WireFormat& f, SqlType type, const Value& v) {
  switch (type) {
    case SqlType::Float: {
      double d = AsDouble(v);
      uint64_t bits;
      std::memcpy(&bits, &d, 8);
      WriteLE(w, bits, 8);
      return;
    }
    case SqlType::Real: {
      float d = static_cast<float>(AsDouble(v));
      uint32_t bits;
      std::memcpy(&bits, &d, 4);
      WriteLE(w, bits, 4);
      return;
    }
    case SqlType::Money: {
      uint64_t u = static_cast<uint64_t>(AsMoneyUnits(v));
      w.U32(static_cast<uint32_t>(u >> 32));
      w.U32(static_cast<uint32_t>(u));
      return;
    }
    case SqlType::SmallMoney: {
      int64_t u = std::clamp<int64_t>(AsMoneyUnits(v), INT32_MIN, INT32_MAX);
      w.I32(static_cast<int32_t>(u));
      return;
    }
    case SqlType::DateTime: {
      DateTimeValue d;
      if (auto p = std::get_if<DateTimeValue>(&v)) d = *p;
      w.I32(d.days);
      w.U32(std::min<uint32_t>(d.ticks, 25919999));
      return;
    }
    case SqlType::SmallDateTime: {
      DateTimeValue d;
      if (auto p = std::get_if<DateTimeValue>(&v)) d = *p;
      uint32_t minutes =
          static_cast<uint32_t>(std::lround(std::min<uint32_t>(d.ticks, 25919999) / 18000.0));
      uint16_t days = static_cast<uint16_t>(std::clamp<int32_t>(d.days, 0, 65535));
      if (minutes >= 1440) minutes = 1439;
      w.U16(days);
      w.U16(static_cast<uint16_t>(minutes));
      return;
    }
    case SqlType::Bit: w.U8(AsInt(v) != 0 ? 1 : 0); return;
    case SqlType::Date: {
      DateTimeValue d;
      if (auto p = std::get_if<DateTimeValue>(&v)) d = *p;
      w.I32(d.days);
      return;
    }
    case SqlType::Time: {
      DateTimeValue d;
      if (auto p = std::get_if<DateTimeValue>(&v)) d = *p;
      w.U32(std::min<uint32_t>(d.ticks, 25919999));
      return;
    }
    case SqlType::UnsignedBigInt:
      // Beyond 2^63-1 the engine holds the value as an exact numeric.
      if (auto n = std::get_if<NumericValue>(&v); n && !n->negative && n->scale == 0) {
        WriteLE(w, std::strtoull(n->digits.c_str(), nullptr, 10), 8);
        return;
      }
      WriteLE(w, static_cast<uint64_t>(AsInt(v)), f.size);
      return;
    default: WriteLE(w, static_cast<uint64_t>(AsInt(v)), f.size); return;
  }
}

// Decimal digits to a big-endian magnitude of `n` bytes; false when the value does not fit.
bool DigitsToBytes(const std::string& digits, size_t n, uint8_t* out) {
  std::memset(out, 0, n);
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    unsigned carry = static_cast<unsigned>(c - '0');
    for (size_t i = n; i-- > 0;) {
      unsigned x = out[i] * 10u + carry;
      out[i] = static_cast<uint8_t>(x);
      carry = x >> 8;
    }
    if (carry) return false;
  }
  return true;
}

NumericValue AsNumeric(const Value& v) {
  if (auto p = std::get_if<NumericValue>(&v)) return *p;
  NumericValue n;
  if (auto p = std::get_if<int64_t>(&v)) {
    n.negative = *p < 0;
    n.digits =
        std::to_string(n.negative ? 0 - static_cast<uint64_t>(*p) : static_cast<uint64_t>(*p));
    return n;
  }
  if (auto p = std::get_if<MoneyValue>(&v)) {
    n.negative = p->units < 0;
    n.digits = std::to_string(n.negative ? 0 - static_cast<uint64_t>(p->units)
                                         : static_cast<uint64_t>(p->units));
    n.scale = 4;
    return n;
  }
  double d = AsDouble(v);
  if (!std::isfinite(d)) return n;
  char buf[400];
  std::snprintf(buf, sizeof buf, "%.10f", std::fabs(d));
  std::string s = buf;
  size_t dot = s.find('.');
  n.negative = d < 0;
  n.scale = static_cast<uint8_t>(s.size() - dot - 1);
  n.digits = s.substr(0, dot) + s.substr(dot + 1);
  return n;
}

void WriteNumeric(ByteWriter& w, const WireFormat& f, const Value& v) {
  NumericValue n = AsNumeric(v);
  std::string d = n.digits.empty() ? "0" : n.digits;
  if (n.scale < f.scale) {
    d.append(f.scale - n.scale, '0');
  } else if (n.scale > f.scale) {
    size_t drop = n.scale - f.scale;
    bool roundUp = false;
    if (drop >= d.size()) {
      roundUp = drop == d.size() && d[0] >= '5';
      d = "0";
    } else {
      roundUp = d[d.size() - drop] >= '5';
      d.resize(d.size() - drop);
    }
    if (roundUp) {
      size_t i = d.size();
      while (i > 0 && d[i - 1] == '9') d[--i] = '0';
      if (i == 0)
        d.insert(0, "1");
      else
        ++d[i - 1];
    }
  }
  size_t first = d.find_first_not_of('0');
  d = first == std::string::npos ? "0" : d.substr(first);
  uint8_t bytes = NumericBytes(f.precision);
  uint8_t mag[17];
  if (d.size() > f.precision || !DigitsToBytes(d, bytes - 1u, mag)) {
    w.U8(0);  // does not fit the declared precision: NULL rather than a wrong number
    return;
  }
  w.U8(bytes);
  w.U8(n.negative && d != "0" ? 1 : 0);
  w.Raw(mag, bytes - 1u);
}

}  // namespace

uint8_t NumericBytes(uint8_t precision) {
  static const uint8_t kBytes[39] = {2,  2,  2,  3,  3,  4,  4,  4,  5,  5,  6,  6,  6,
                                     7,  7,  8,  8,  9,  9,  9,  10, 10, 11, 11, 11, 12,
                                     12, 13, 13, 14, 14, 14, 15, 15, 16, 16, 16, 17, 17};
  return kBytes[std::min<uint8_t>(precision, 38)];
}

WireFormat FormatOf(const ColumnInfo& c) {
  bool n = c.nullable;
  uint32_t len = static_cast<uint32_t>(std::max<int32_t>(c.length, 1));
  // unichar and univarchar travel as UTF-16 in a long binary marked by the usertype; unitext
  // goes out as text, since clients that do not ask for unitext (FreeTDS) cannot read it.
  if (IsUnicharUserType(c.usertype) && (c.type == SqlType::Char || c.type == SqlType::VarChar))
    return {0xE1, WireFormat::Long4, std::min<uint32_t>(len, 0x3FFFFFFF) * 2, 0, 0, false};
  switch (c.type) {
    case SqlType::TinyInt: return n ? Len1(0x26, 1) : Fixed(0x30, 1);
    case SqlType::SmallInt: return n ? Len1(0x26, 2) : Fixed(0x34, 2);
    case SqlType::Int: return n ? Len1(0x26, 4) : Fixed(0x38, 4);
    case SqlType::BigInt: return n ? Len1(0x26, 8) : Fixed(0xBF, 8);
    case SqlType::Bit: return Fixed(0x32, 1);  // bit is never NULL in Sybase
    case SqlType::Float: return n ? Len1(0x6D, 8) : Fixed(0x3E, 8);
    case SqlType::Real: return n ? Len1(0x6D, 4) : Fixed(0x3B, 4);
    case SqlType::Money: return n ? Len1(0x6E, 8) : Fixed(0x3C, 8);
    case SqlType::SmallMoney: return n ? Len1(0x6E, 4) : Fixed(0x7A, 4);
    case SqlType::DateTime: return n ? Len1(0x6F, 8) : Fixed(0x3D, 8);
    case SqlType::SmallDateTime: return n ? Len1(0x6F, 4) : Fixed(0x3A, 4);
    case SqlType::Numeric:
    case SqlType::Decimal: {
      WireFormat f{static_cast<uint8_t>(c.type == SqlType::Numeric ? 0x6C : 0x6A),
                   WireFormat::Numeric,
                   0,
                   0,
                   0,
                   false};
      f.precision = std::clamp<uint8_t>(c.precision, 1, 38);
      f.scale = std::min(c.scale, f.precision);
      f.size = NumericBytes(f.precision);
      return f;
    }
    case SqlType::Char:
    case SqlType::VarChar: {
      WireFormat f = len <= 255 ? Len1(c.type == SqlType::Char ? 0x2F : 0x27, len)
                                : WireFormat{0xAF, WireFormat::Long4, len, 0, 0, false};
      f.character = true;
      return f;
    }
    case SqlType::Binary:
    case SqlType::VarBinary:
      return len <= 255 ? Len1(c.type == SqlType::Binary ? 0x2D : 0x25, len)
                        : WireFormat{0xE1, WireFormat::Long4, len, 0, 0, false};
    case SqlType::Text: return {0x23, WireFormat::Blob, len, 0, 0, true};
    case SqlType::Image: return {0x22, WireFormat::Blob, len, 0, 0, false};
    case SqlType::UnsignedSmallInt: return n ? Len1(0x44, 2) : Fixed(0x41, 2);
    case SqlType::UnsignedInt: return n ? Len1(0x44, 4) : Fixed(0x42, 4);
    case SqlType::UnsignedBigInt: return n ? Len1(0x44, 8) : Fixed(0x43, 8);
    case SqlType::Date: return n ? Len1(0x7B, 4) : Fixed(0x31, 4);
    case SqlType::Time: return n ? Len1(0x93, 4) : Fixed(0x33, 4);
  }
  return Fixed(0x38, 4);
}

uint8_t StatusOf(const ColumnInfo& c) {
  uint8_t s = 0;
  if (c.nullable && c.type != SqlType::Bit) s |= 0x20;
  if (c.identity) s |= 0x40;
  if (c.updatable) s |= 0x10;
  if (c.timestamp) s |= 0x04;
  return s;
}

ServerMessage TokenTooLongMessage(std::string_view what, const TokenTooLong& e) {
  ServerMessage m;
  m.number = kMsgTokenTooLong;
  m.severity = 16;
  m.text = "The " + std::string(what) + " is too long (" + std::to_string(e.Bytes()) +
           " bytes). Maximum length is 65535.";
  return m;
}

void WriteLoginAck(ByteWriter& w, bool ok, std::string_view product, const uint8_t version[4]) {
  if (product.size() > 255) product = product.substr(0, 255);
  w.U8(kTokLoginAck);
  w.U16(static_cast<uint16_t>(10 + product.size()));
  w.U8(ok ? 5 : 6);
  const uint8_t tds[4] = {5, 0, 0, 0};
  w.Raw(tds, 4);
  w.BVarChar(product);
  w.Raw(version, 4);
}

void WriteEnvChange(ByteWriter& w, uint8_t type, std::string_view newValue,
                    std::string_view oldValue) {
  w.U8(kTokEnvChange);
  size_t at = w.LengthU16();
  w.U8(type);
  w.BVarChar(newValue);
  w.BVarChar(oldValue);
  w.PatchU16(at);
}

void WriteCapability(ByteWriter& w, const std::vector<uint8_t>& request,
                     const std::vector<uint8_t>& response) {
  w.U8(kTokCapability);
  size_t at = w.LengthU16();
  w.U8(1);
  w.U8(static_cast<uint8_t>(request.size()));
  w.Raw(request.data(), request.size());
  w.U8(2);
  w.U8(static_cast<uint8_t>(response.size()));
  w.Raw(response.data(), response.size());
  w.PatchU16(at);
}

void WriteDone(ByteWriter& w, uint8_t token, uint16_t status, int32_t count) {
  w.U8(token);
  w.U16(status);
  w.U16(0);
  w.I32(count);
}

void WriteEed(ByteWriter& w, const ServerMessage& m, std::string_view sqlstate) {
  w.U8(kTokEed);
  size_t at = w.LengthU16();
  w.I32(m.number);
  w.U8(m.state);
  w.U8(m.severity);
  w.BVarChar(sqlstate);
  w.U8(0);   // no parameters follow
  w.U16(0);  // transaction state
  std::string_view text = m.text;
  if (text.size() > 60000) text = text.substr(0, 60000);
  w.USVarChar(text);
  w.BVarChar(m.server);
  w.BVarChar(m.procedure);
  w.U16(static_cast<uint16_t>(std::clamp<int32_t>(m.line, 0, 65535)));
  w.PatchU16(at);
}

void WriteTypeInfo(ByteWriter& w, const ColumnInfo& c, const WireFormat& f) {
  w.U8(f.type);
  switch (f.shape) {
    case WireFormat::Fixed: break;
    case WireFormat::Len1: w.U8(static_cast<uint8_t>(f.size)); break;
    case WireFormat::Long4: w.U32(f.size); break;
    case WireFormat::Numeric:
      w.U8(static_cast<uint8_t>(f.size));
      w.U8(f.precision);
      w.U8(f.scale);
      break;
    case WireFormat::Blob:
      w.U32(f.size);
      w.USVarChar(c.table);
      break;
  }
}

void WriteRowFormat(ByteWriter& w, const std::vector<ColumnInfo>& columns) {
  size_t count = std::min<size_t>(columns.size(), 65535);
  ByteWriter body;
  body.U16(static_cast<uint16_t>(count));
  for (size_t i = 0; i < count; ++i) {
    const ColumnInfo& c = columns[i];
    body.BVarChar(c.name);
    body.U8(StatusOf(c));
    body.I32(c.usertype);
    WriteTypeInfo(body, c, FormatOf(c));
    body.U8(0);  // locale
  }
  if (body.Size() <= 0xFFFF) {
    w.U8(kTokRowFmt);
    w.U16(static_cast<uint16_t>(body.Size()));
    w.Raw(body.Buffer().data(), body.Size());
    return;
  }
  // Too wide for ROWFMT's 16-bit length.
  w.U8(kTokRowFmt2);
  size_t at = w.LengthU32();
  w.U16(static_cast<uint16_t>(count));
  for (size_t i = 0; i < count; ++i) {
    const ColumnInfo& c = columns[i];
    w.BVarChar(c.name);
    w.BVarChar("");  // catalog
    w.BVarChar("");  // schema
    w.BVarChar(c.table);
    w.BVarChar(c.name);
    w.U32(StatusOf(c));
    w.I32(c.usertype);
    WriteTypeInfo(w, c, FormatOf(c));
    w.U8(0);
  }
  w.PatchU32(at);
}

void WriteBrowseInfo(ByteWriter& w, const std::vector<ColumnInfo>& columns,
                     const std::vector<BrowseColumn>& origins) {
  const size_t count = std::min<size_t>({columns.size(), origins.size(), 255});
  std::vector<std::string> tables;
  for (size_t i = 0; i < count; ++i)
    if (!origins[i].table.empty() &&
        std::find(tables.begin(), tables.end(), origins[i].table) == tables.end() &&
        tables.size() < 255)
      tables.push_back(origins[i].table);
  if (tables.empty()) return;
  ByteWriter names;
  for (const auto& t : tables) names.BVarChar(t.substr(0, 255));
  w.U8(kTokTabName);
  w.FramedU16(names);

  constexpr uint8_t kExpression = 0x04, kRenamed = 0x20;
  ByteWriter info;
  for (size_t i = 0; i < count; ++i) {
    const BrowseColumn& o = origins[i];
    auto at = std::find(tables.begin(), tables.end(), o.table);
    const bool fromTable = !o.table.empty() && at != tables.end();
    const bool renamed = fromTable && o.column != columns[i].name;
    info.U8(static_cast<uint8_t>(i + 1));
    info.U8(fromTable ? static_cast<uint8_t>(at - tables.begin() + 1) : 0);
    info.U8(static_cast<uint8_t>((fromTable ? 0 : kExpression) | (renamed ? kRenamed : 0)));
    if (renamed) info.BVarChar(o.column.substr(0, 255));
  }
  w.U8(kTokColInfo);
  w.FramedU16(info);
}

namespace {
// ROW and ALTROW share the encoding of their values.
// `pointers`: the text pointers of a row's text and image values, where it has them.
void WriteRowData(ByteWriter& w, const std::vector<ColumnInfo>& columns,
                  const std::vector<WireFormat>& formats, const std::vector<Value>& values,
                  const std::vector<Bytes>* pointers = nullptr);
}  // namespace

void WriteComputeFormat(ByteWriter& w, const ComputeFormat& format) {
  size_t count = std::min<size_t>(format.columns.size(), 255);
  w.U8(kTokAltName);
  w.U16(static_cast<uint16_t>(2 + count));
  w.U16(format.id);
  for (size_t i = 0; i < count; ++i) w.BVarChar("");

  ByteWriter body;
  body.U16(format.id);
  body.U8(static_cast<uint8_t>(count));
  for (size_t i = 0; i < count; ++i) {
    const ComputeColumn& c = format.columns[i];
    body.U8(c.op);
    body.U8(static_cast<uint8_t>(std::min<uint16_t>(c.column, 255)));
    body.I32(c.info.usertype);
    WriteTypeInfo(body, c.info, FormatOf(c.info));
    body.U8(0);  // locale
  }
  size_t by = std::min<size_t>(format.by.size(), 255);
  body.U8(static_cast<uint8_t>(by));
  for (size_t i = 0; i < by; ++i)
    body.U8(static_cast<uint8_t>(std::min<uint16_t>(format.by[i], 255)));
  w.U8(kTokAltFmt);
  w.FramedU16(body);
}

void WriteComputeRow(ByteWriter& w, uint16_t id, const std::vector<ColumnInfo>& columns,
                     const std::vector<WireFormat>& formats, const std::vector<Value>& values) {
  w.U8(kTokAltRow);
  w.U16(id);
  WriteRowData(w, columns, formats, values);
}

void WriteRow(ByteWriter& w, const std::vector<ColumnInfo>& columns,
              const std::vector<WireFormat>& formats, const std::vector<Value>& values,
              const std::vector<Bytes>* pointers) {
  w.U8(kTokRow);
  WriteRowData(w, columns, formats, values, pointers);
}

namespace {
void WriteRowData(ByteWriter& w, const std::vector<ColumnInfo>& columns,
                  const std::vector<WireFormat>& formats, const std::vector<Value>& values,
                  const std::vector<Bytes>* pointers) {
  static const Value kNull;
  size_t count = std::min(columns.size(), formats.size());
  for (size_t i = 0; i < count; ++i) {
    const ColumnInfo& c = columns[i];
    const WireFormat& f = formats[i];
    const Value& v = i < values.size() ? values[i] : kNull;
    bool null = IsNull(v);
    switch (f.shape) {
      case WireFormat::Fixed: WriteFixed(w, f, c.type, v); break;
      case WireFormat::Numeric:
        if (null)
          w.U8(0);
        else
          WriteNumeric(w, f, v);
        break;
      case WireFormat::Len1:
        if (null) {
          w.U8(0);
        } else if (f.character) {
          std::string s = AsText(v);
          ClampText(s, f.size);
          if (s.empty()) s = " ";  // zero length would read as NULL
          w.BVarChar(s);
        } else if (IsTextType(c.type) || c.type == SqlType::Binary ||
                   c.type == SqlType::VarBinary) {
          Bytes b = AsBytes(v);
          if (b.size() > f.size) b.resize(f.size);
          if (b.empty()) b.push_back(0);
          w.U8(static_cast<uint8_t>(b.size()));
          w.Raw(b.data(), b.size());
        } else {
          w.U8(static_cast<uint8_t>(f.size));
          WriteFixed(w, Fixed(f.type, f.size), c.type, v);
        }
        break;
      case WireFormat::Long4: {
        if (null) {
          w.U32(0);
          break;
        }
        Bytes b;
        if (f.type == 0xE1 && IsUnicharUserType(c.usertype)) {
          b = Utf16le(AsText(v));
          if (b.size() > f.size) b.resize(f.size & ~1u);
          if (b.empty()) b = {' ', 0};  // zero length would read as NULL
        } else if (f.character) {
          std::string s = AsText(v);
          ClampText(s, f.size);
          if (s.empty()) s = " ";
          b.assign(s.begin(), s.end());
        } else {
          b = AsBytes(v);
          if (b.size() > f.size) b.resize(f.size);
          if (b.empty()) b.push_back(0);
        }
        w.U32(static_cast<uint32_t>(b.size()));
        w.Raw(b.data(), b.size());
        break;
      }
      case WireFormat::Blob: {
        if (null) {
          w.U8(0);
          break;
        }
        Bytes b = AsBytes(v);
        if (b.size() > f.size) b.resize(f.size);
        // A value read from a table has its row's pointer, which writetext takes back. Other
        // values get one no row has, so that ct_data_info still has a descriptor to give.
        static const uint8_t kPointer[16] = {0x54, 0x58, 0x54, 0x50, 0x54, 0x52, 0, 0,
                                             0,    0,    0,    0,    0,    0,    0, 0};
        static const uint8_t kStamp[8] = {0, 0, 0, 0, 0, 0, 0, 1};
        w.U8(16);
        if (pointers && i < pointers->size() && (*pointers)[i].size() == 16)
          w.Raw((*pointers)[i].data(), 16);
        else
          w.Raw(kPointer, 16);
        w.Raw(kStamp, 8);
        w.U32(static_cast<uint32_t>(b.size()));
        w.Raw(b.data(), b.size());
        break;
      }
    }
  }
}
}  // namespace

void WriteReturnStatus(ByteWriter& w, int32_t status) {
  w.U8(kTokReturnStatus);
  w.I32(status);
}

void WriteCurInfo(ByteWriter& w, int32_t id, uint8_t command, uint16_t status,
                  std::optional<int32_t> rows) {
  w.U8(kTokCurInfoReply);
  size_t at = w.LengthU16();
  w.I32(id);
  if (id == 0) w.BVarChar("");
  w.U8(command);
  w.U16(status);
  if (rows) w.I32(*rows);
  w.PatchU16(at);
}

void WriteOptionInfo(ByteWriter& w, uint8_t option, const std::vector<uint8_t>& value) {
  w.U8(kTokOptionCmdReply);
  size_t at = w.LengthU16();
  w.U8(4);  // INFO
  w.U8(option);
  size_t n = value.size() == 1 || value.size() == 4 ? value.size() : 0;
  w.U8(static_cast<uint8_t>(n));
  w.Raw(value.data(), n);
  w.PatchU16(at);
}

}  // namespace sampleserver::tds
