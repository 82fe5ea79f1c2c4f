#include "tds/params.h"

#include "tds/tokens.h"

#include <algorithm>
#include <cstring>

namespace sampleserver::tds {

namespace {

// How a parameter's value is laid out, from its type code.
struct ParamShape {
  enum Kind { Fixed, Len1, Long4, Numeric, Blob } kind = Fixed;
  uint8_t code = 0;
  uint32_t size = 0;   // fixed size, or declared maximum
  bool utf16 = false;  // unichar or univarchar: UTF-16LE in a long binary
};

// UTF-16LE to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf8FromUtf16le(const Bytes& b) {
  std::string out;
  for (size_t i = 0; i + 1 < b.size(); i += 2) {
    uint32_t u = b[i] | static_cast<uint32_t>(b[i + 1]) << 8;
    if (u >= 0xD800 && u < 0xE000) {
      const uint32_t low = i + 3 < b.size() ? (b[i + 2] | static_cast<uint32_t>(b[i + 3]) << 8) : 0;
      if (u < 0xDC00 && low >= 0xDC00 && low < 0xE000) {
        u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      } else {
        u = 0xFFFD;
      }
    }
    if (u < 0x80) {
      out.push_back(static_cast<char>(u));
    } else if (u < 0x800) {
      out.push_back(static_cast<char>(0xC0 | u >> 6));
      out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
    } else if (u < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | u >> 12));
      out.push_back(static_cast<char>(0x80 | (u >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | u >> 18));
      out.push_back(static_cast<char>(0x80 | (u >> 12 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (u >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
    }
  }
  return out;
}

SqlType IntType(uint32_t size) {
  switch (size) {
    case 1: return SqlType::TinyInt;
    case 2: return SqlType::SmallInt;
    case 8: return SqlType::BigInt;
    default: return SqlType::Int;
  }
}

// Reads the type code and type info of one parameter into its description.
ParamShape ReadTypeInfo(ByteReader& r, ColumnInfo& c) {
  ParamShape s;
  s.code = r.U8();
  auto fixed = [&](SqlType t, uint32_t size) {
    c.type = t;
    c.length = static_cast<int32_t>(size);
    s.kind = ParamShape::Fixed;
    s.size = size;
  };
  auto sized = [&](std::initializer_list<uint32_t> allowed) {
    s.kind = ParamShape::Len1;
    s.size = r.U8();
    for (uint32_t a : allowed)
      if (a == s.size) return;
    throw ProtocolError("bad parameter size");
  };
  switch (s.code) {
    case 0x30: fixed(SqlType::TinyInt, 1); break;
    case 0x34: fixed(SqlType::SmallInt, 2); break;
    case 0x38: fixed(SqlType::Int, 4); break;
    case 0xBF: fixed(SqlType::BigInt, 8); break;
    case 0x32: fixed(SqlType::Bit, 1); break;
    case 0x3B: fixed(SqlType::Real, 4); break;
    case 0x3E: fixed(SqlType::Float, 8); break;
    case 0x3C: fixed(SqlType::Money, 8); break;
    case 0x7A: fixed(SqlType::SmallMoney, 4); break;
    case 0x3D: fixed(SqlType::DateTime, 8); break;
    case 0x3A: fixed(SqlType::SmallDateTime, 4); break;
    case 0x41: fixed(SqlType::UnsignedSmallInt, 2); break;
    case 0x42: fixed(SqlType::UnsignedInt, 4); break;
    case 0x43: fixed(SqlType::UnsignedBigInt, 8); break;
    case 0x31: fixed(SqlType::Date, 4); break;
    case 0x33: fixed(SqlType::Time, 4); break;
    case 0x44:
      sized({1, 2, 4, 8});
      c.type = s.size == 1   ? SqlType::TinyInt
               : s.size == 2 ? SqlType::UnsignedSmallInt
               : s.size == 4 ? SqlType::UnsignedInt
                             : SqlType::UnsignedBigInt;
      c.length = static_cast<int32_t>(s.size);
      break;
    case 0x7B:
    case 0x93:
      sized({4});
      c.type = s.code == 0x7B ? SqlType::Date : SqlType::Time;
      c.length = 4;
      break;
    case 0x26:
      sized({1, 2, 4, 8});
      c.type = IntType(s.size);
      c.length = static_cast<int32_t>(s.size);
      break;
    case 0x6D:
      sized({4, 8});
      c.type = s.size == 4 ? SqlType::Real : SqlType::Float;
      c.length = static_cast<int32_t>(s.size);
      break;
    case 0x6E:
      sized({4, 8});
      c.type = s.size == 4 ? SqlType::SmallMoney : SqlType::Money;
      c.length = static_cast<int32_t>(s.size);
      break;
    case 0x6F:
      sized({4, 8});
      c.type = s.size == 4 ? SqlType::SmallDateTime : SqlType::DateTime;
      c.length = static_cast<int32_t>(s.size);
      break;
    case 0x6C:
    case 0x6A: {
      s.kind = ParamShape::Numeric;
      s.size = r.U8();
      c.precision = r.U8();
      c.scale = r.U8();
      if (c.precision < 1 || c.precision > 77 || c.scale > c.precision || s.size > 33)
        throw ProtocolError("bad numeric parameter");
      c.type = s.code == 0x6C ? SqlType::Numeric : SqlType::Decimal;
      c.length = static_cast<int32_t>(s.size);
      break;
    }
    case 0x2F:
    case 0x27:
    case 0x2D:
    case 0x25:
      s.kind = ParamShape::Len1;
      s.size = r.U8();
      c.type = s.code == 0x2F   ? SqlType::Char
               : s.code == 0x27 ? SqlType::VarChar
               : s.code == 0x2D ? SqlType::Binary
                                : SqlType::VarBinary;
      c.length = static_cast<int32_t>(std::max<uint32_t>(s.size, 1));
      break;
    case 0xAF:
    case 0xE1:
      s.kind = ParamShape::Long4;
      s.size = r.U32();
      c.type = s.code == 0xAF ? SqlType::VarChar : SqlType::VarBinary;
      c.length = static_cast<int32_t>(std::clamp<uint32_t>(s.size, 1, 0x7FFFFFFF));
      break;
    case 0x23:
    case 0x22:
      s.kind = ParamShape::Blob;
      s.size = r.U32();
      r.USVarChar();  // table name
      c.type = s.code == 0x23 ? SqlType::Text : SqlType::Image;
      c.length = 0x7FFFFFFF;
      break;
    default: throw ProtocolError("unsupported parameter type " + std::to_string(s.code));
  }
  return s;
}

uint64_t ReadLE(ByteReader& r, size_t n) {
  uint64_t v = 0;
  for (size_t i = 0; i < n; ++i) v |= static_cast<uint64_t>(r.U8()) << (8 * i);
  return v;
}

int64_t SignExtend(uint64_t v, size_t n) {
  if (n >= 8) return static_cast<int64_t>(v);
  uint64_t sign = uint64_t{1} << (8 * n - 1);
  return static_cast<int64_t>((v ^ sign) - sign);
}

// A fixed-size value of `n` bytes of the given type.
Value ReadFixed(ByteReader& r, SqlType type, size_t n) {
  switch (type) {
    case SqlType::TinyInt:
    case SqlType::UnsignedSmallInt:
    case SqlType::UnsignedInt: return static_cast<int64_t>(ReadLE(r, n));  // unsigned
    case SqlType::UnsignedBigInt: {
      uint64_t v = ReadLE(r, n);
      // The engine's integers are signed 64-bit; larger unsigned values become exact numerics.
      if (v > static_cast<uint64_t>(INT64_MAX)) {
        NumericValue big;
        big.digits = std::to_string(v);
        big.precision = 20;
        return big;
      }
      return static_cast<int64_t>(v);
    }
    case SqlType::Date: {
      DateTimeValue d;
      d.days = r.I32();
      return d;
    }
    case SqlType::Time: {
      DateTimeValue d;
      d.ticks = r.U32();
      if (d.ticks >= 25920000) throw ProtocolError("bad time parameter");
      return d;
    }
    case SqlType::Bit: return static_cast<int64_t>(r.U8() != 0);
    case SqlType::Real: {
      uint32_t bits = static_cast<uint32_t>(ReadLE(r, 4));
      float f;
      std::memcpy(&f, &bits, 4);
      return static_cast<double>(f);
    }
    case SqlType::Float: {
      uint64_t bits = ReadLE(r, 8);
      double d;
      std::memcpy(&d, &bits, 8);
      return d;
    }
    case SqlType::Money: {
      uint64_t high = r.U32();
      uint64_t low = r.U32();
      return MoneyValue{static_cast<int64_t>((high << 32) | low)};
    }
    case SqlType::SmallMoney: return MoneyValue{static_cast<int64_t>(r.I32())};
    case SqlType::DateTime: {
      DateTimeValue d;
      d.days = r.I32();
      d.ticks = r.U32();
      if (d.ticks >= 25920000) throw ProtocolError("bad datetime parameter");
      return d;
    }
    case SqlType::SmallDateTime: {
      DateTimeValue d;
      d.days = r.U16();
      uint32_t minutes = r.U16();
      if (minutes >= 1440) throw ProtocolError("bad smalldatetime parameter");
      d.ticks = minutes * 18000u;
      return d;
    }
    default: return SignExtend(ReadLE(r, n), n);
  }
}

// A big-endian magnitude as decimal digits.
std::string MagnitudeDigits(std::vector<uint8_t> mag) {
  std::string digits;
  for (;;) {
    bool zero = true;
    unsigned rem = 0;
    for (uint8_t& b : mag) {
      unsigned x = (rem << 8) | b;
      b = static_cast<uint8_t>(x / 10);
      rem = x % 10;
      if (b) zero = false;
    }
    digits.insert(digits.begin(), static_cast<char>('0' + rem));
    if (zero) break;
  }
  size_t first = digits.find_first_not_of('0');
  return first == std::string::npos ? "0" : digits.substr(first);
}

Value ReadValue(ByteReader& r, const ParamShape& s, const ColumnInfo& c) {
  bool character = c.type == SqlType::Char || c.type == SqlType::VarChar || c.type == SqlType::Text;
  auto bytes = [&](size_t n) -> Value {
    if (character) return r.Str(n);
    return r.Bytes(n);
  };
  switch (s.kind) {
    case ParamShape::Fixed: return ReadFixed(r, c.type, s.size);
    case ParamShape::Len1: {
      uint8_t n = r.U8();
      if (n == 0) return std::monostate{};
      if (c.type == SqlType::Char || c.type == SqlType::VarChar || c.type == SqlType::Binary ||
          c.type == SqlType::VarBinary)
        return bytes(n);
      if (n != s.size) throw ProtocolError("parameter length differs from its format");
      return ReadFixed(r, c.type, n);
    }
    case ParamShape::Long4: {
      uint32_t n = r.U32();
      if (n == 0) return std::monostate{};
      if (s.utf16) return Utf8FromUtf16le(r.Bytes(n));
      return bytes(n);
    }
    case ParamShape::Numeric: {
      uint8_t n = r.U8();
      if (n == 0) return std::monostate{};
      if (n < 2) throw ProtocolError("bad numeric parameter");
      NumericValue v;
      v.negative = r.U8() != 0;
      v.digits = MagnitudeDigits(r.Bytes(n - 1u));
      v.precision = c.precision;
      v.scale = c.scale;
      if (v.digits == "0") v.negative = false;
      return v;
    }
    case ParamShape::Blob: {
      uint8_t pointer = r.U8();
      if (pointer == 0) return std::monostate{};
      r.Skip(pointer + 8u);  // text pointer and timestamp
      return bytes(r.U32());
    }
  }
  return std::monostate{};
}

}  // namespace

std::vector<ParamValue> ReadParams(ByteReader& r) {
  std::vector<ParamValue> params;
  if (r.AtEnd()) return params;
  ByteReader peek = r;
  uint8_t token = peek.U8();
  if (token != kTokParamFmtOut && token != kTokParamFmt2) return params;
  bool wide = token == kTokParamFmt2;
  ByteReader f = peek.Sub(wide ? peek.U32() : peek.U16());
  uint16_t count = f.U16();
  std::vector<ParamShape> shapes;
  for (uint16_t i = 0; i < count; ++i) {
    ParamValue p;
    p.type.nullable = true;
    p.name = f.BVarChar();
    uint32_t status = wide ? f.U32() : f.U8();
    p.output = (status & 0x01) != 0;
    p.type.usertype = f.I32();
    shapes.push_back(ReadTypeInfo(f, p.type));
    // unichar and univarchar come as the server sends them: UTF-16 in a long binary marked by
    // the usertype. They are text, not bytes.
    if (shapes.back().code == 0xE1 && (p.type.usertype == 34 || p.type.usertype == 35)) {
      shapes.back().utf16 = true;
      p.type.type = p.type.usertype == 34 ? SqlType::Char : SqlType::VarChar;
      p.type.length = std::max<int32_t>(p.type.length / 2, 1);
    }
    f.Skip(f.U8());  // locale
    p.type.name = p.name;
    params.push_back(std::move(p));
  }
  if (peek.AtEnd() || peek.U8() != kTokParamsOut) throw ProtocolError("parameter values missing");
  for (size_t i = 0; i < params.size(); ++i)
    params[i].value = ReadValue(peek, shapes[i], params[i].type);
  r = peek;
  return params;
}

void WriteParamFormat(ByteWriter& w, const std::vector<ColumnInfo>& params, bool output) {
  w.U8(kTokParamFmtOut);
  size_t at = w.LengthU16();
  w.U16(static_cast<uint16_t>(params.size()));
  for (const ColumnInfo& c : params) {
    w.BVarChar(c.name);
    w.U8(output ? 0x01 : 0x00);
    w.I32(c.usertype);
    WriteTypeInfo(w, c, FormatOf(c));
    w.U8(0);  // locale
  }
  w.PatchU16(at);
}

void WriteOutputParams(ByteWriter& w, const std::vector<ColumnInfo>& params,
                       const std::vector<Value>& values) {
  WriteParamFormat(w, params, true);
  std::vector<WireFormat> formats;
  for (const ColumnInfo& c : params) formats.push_back(FormatOf(c));
  // PARAMS carries its values exactly as a ROW does.
  size_t at = w.Size();
  WriteRow(w, params, formats, values);
  w.Buffer()[at] = kTokParamsOut;
}

}  // namespace sampleserver::tds
