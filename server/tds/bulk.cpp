#include "tds/bulk.h"

#include "tds/wire.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace sampleserver::tds {

namespace {

// Sybase's number for a row cut short by the end of the client's message.
constexpr int32_t kMsgPrematureEnd = 4804;
// This server's own numbers: a row it cannot read, bulk data it did not ask for.
constexpr int32_t kMsgBadRow = 16003;
constexpr int32_t kMsgUnexpectedBulk = 16004;

// Wire types that carry their own length, which FreeTDS therefore always sends as variable.
bool HasLength(uint8_t type) {
  switch (type) {
    case 0x26:
    case 0x6D:
    case 0x6E:
    case 0x6F:
    case 0x7B:
    case 0x93:
    case 0x44:  // the "n" types
    case 0x27:
    case 0x25:
    case 0xAF:
    case 0xE1:
    case 0x23:
    case 0x22:
    case 0xBB:
    case 0xBC: return true;
    default: return false;
  }
}

uint64_t LE(const uint8_t* p, size_t n) {
  uint64_t v = 0;
  for (size_t i = n; i-- > 0;) v = v << 8 | p[i];
  return v;
}

int64_t SignedLE(const uint8_t* p, size_t n) {
  uint64_t v = LE(p, n);
  if (n < 8 && (v >> (8 * n - 1)) != 0) v |= ~uint64_t{0} << (8 * n);
  return static_cast<int64_t>(v);
}

double Float8(const uint8_t* p) {
  uint64_t bits = LE(p, 8);
  double d;
  std::memcpy(&d, &bits, 8);
  return d;
}

double Float4(const uint8_t* p) {
  uint32_t bits = static_cast<uint32_t>(LE(p, 4));
  float f;
  std::memcpy(&f, &bits, 4);
  return static_cast<double>(f);
}

// As in rows: the high 32 bits first, then the low 32 bits.
MoneyValue Money8(const uint8_t* p) {
  return MoneyValue{static_cast<int64_t>(LE(p, 4) << 32 | LE(p + 4, 4))};
}

constexpr int32_t kMinDays = -53690;   // 1753-01-01
constexpr int32_t kMaxDays = 2958463;  // 9999-12-31
constexpr uint32_t kTicksPerDay = 25920000;

DateTimeValue DateTime8(const uint8_t* p) {
  DateTimeValue d{static_cast<int32_t>(LE(p, 4)), static_cast<uint32_t>(LE(p + 4, 4))};
  if (d.days < kMinDays || d.days > kMaxDays || d.ticks >= kTicksPerDay)
    throw ProtocolError("datetime value out of range");
  return d;
}

DateTimeValue DateTime4(const uint8_t* p) {
  uint32_t minutes = static_cast<uint32_t>(LE(p + 2, 2));
  if (minutes >= 1440) throw ProtocolError("smalldatetime value out of range");
  return DateTimeValue{static_cast<int32_t>(LE(p, 2)), minutes * 18000u};
}

// Sign byte, then the magnitude big-endian.
NumericValue Numeric(const ColumnInfo& c, const uint8_t* p, size_t len) {
  if (len < 2 || len > 17) throw ProtocolError("bad numeric length");
  NumericValue n;
  n.negative = p[0] != 0;
  n.precision = std::clamp<uint8_t>(c.precision, 1, 38);
  n.scale = std::min(c.scale, n.precision);
  uint8_t mag[16];
  size_t m = len - 1;
  std::memcpy(mag, p + 1, m);
  std::string digits;
  for (;;) {
    bool zero = true;
    unsigned rem = 0;
    for (size_t i = 0; i < m; ++i) {
      unsigned x = rem << 8 | mag[i];
      mag[i] = static_cast<uint8_t>(x / 10);
      rem = x % 10;
      if (mag[i]) zero = false;
    }
    digits.push_back(static_cast<char>('0' + rem));
    if (zero) break;
  }
  std::reverse(digits.begin(), digits.end());
  if (digits.size() > n.precision) throw ProtocolError("numeric value exceeds its precision");
  n.digits = digits;
  if (digits == "0") n.negative = false;
  return n;
}

Value Text(const ColumnInfo& c, const uint8_t* p, size_t len) {
  if (c.type == SqlType::Binary || c.type == SqlType::VarBinary || c.type == SqlType::Image)
    return Bytes(p, p + len);
  return std::string(reinterpret_cast<const char*>(p), len);
}

// Beyond 2^63-1, an exact numeric: the engine's integers are signed.
Value Unsigned(const uint8_t* p, size_t n) {
  uint64_t v = LE(p, n);
  if (v <= static_cast<uint64_t>(INT64_MAX)) return static_cast<int64_t>(v);
  NumericValue big;
  big.digits = std::to_string(v);
  big.precision = 20;
  return big;
}

DateTimeValue Date4(const uint8_t* p) {
  DateTimeValue d{static_cast<int32_t>(LE(p, 4)), 0};
  if (d.days < kMinDays || d.days > kMaxDays) throw ProtocolError("date value out of range");
  return d;
}

DateTimeValue Time4(const uint8_t* p) {
  DateTimeValue d{0, static_cast<uint32_t>(LE(p, 4))};
  if (d.ticks >= kTicksPerDay) throw ProtocolError("time value out of range");
  return d;
}

}  // namespace

BulkRowDecoder::BulkRowDecoder(std::vector<ColumnInfo> columns) : columns_(std::move(columns)) {
  size_t pos = 2;
  int bitsLeft = 0;
  size_t bitByte = 0;
  for (const ColumnInfo& c : columns_) {
    Column col;
    col.format = FormatOf(c);
    // FreeTDS reads unichar and univarchar as text, and so sends them as text: a pointer
    // placeholder in the row, the characters (in the client's character set) after it.
    if ((c.usertype == 34 || c.usertype == 35) && col.format.type == 0xE1)
      col.format = WireFormat{0x23, WireFormat::Blob, col.format.size, 0, 0, true};
    col.blob = col.format.shape == WireFormat::Blob;
    col.fixed = !HasLength(col.format.type) && (StatusOf(c) & 0x20) == 0;
    if (!col.fixed) {
      col.variable = static_cast<int>(variableCount_++);
      if (col.blob) ++blobCount_;
    } else if (c.type == SqlType::Bit) {
      // Bits share bytes, eight to a byte, the byte placed where its first bit column falls.
      if (bitsLeft == 0) {
        bitByte = pos++;
        bitsLeft = 8;
      }
      col.offset = bitByte;
      col.bit = static_cast<uint8_t>(1u << (8 - bitsLeft));
      --bitsLeft;
    } else {
      col.offset = pos;
      pos += col.format.size;
    }
    layout_.push_back(col);
  }
  fixedEnd_ = pos;
}

Value BulkRowDecoder::Fixed(const ColumnInfo& c, const Column& col, const uint8_t* p) const {
  switch (c.type) {
    case SqlType::Bit: return int64_t{(*p & col.bit) != 0 ? 1 : 0};
    case SqlType::TinyInt: return static_cast<int64_t>(p[0]);
    case SqlType::SmallInt: return SignedLE(p, 2);
    case SqlType::Int: return SignedLE(p, 4);
    case SqlType::BigInt: return SignedLE(p, 8);
    case SqlType::Float: return Float8(p);
    case SqlType::Real: return Float4(p);
    case SqlType::Money: return Money8(p);
    case SqlType::SmallMoney: return MoneyValue{SignedLE(p, 4)};
    case SqlType::DateTime: return DateTime8(p);
    case SqlType::SmallDateTime: return DateTime4(p);
    case SqlType::Numeric:
    case SqlType::Decimal: return Numeric(c, p, col.format.size);
    case SqlType::UnsignedSmallInt:
    case SqlType::UnsignedInt:
    case SqlType::UnsignedBigInt: return Unsigned(p, col.format.size);
    case SqlType::Date: return Date4(p);
    case SqlType::Time: return Time4(p);
    default: return Text(c, p, col.format.size);
  }
}

Value BulkRowDecoder::Variable(const ColumnInfo& c, const uint8_t* p, size_t len) const {
  auto need = [&](std::initializer_list<size_t> sizes) {
    if (std::find(sizes.begin(), sizes.end(), len) == sizes.end())
      throw ProtocolError("bad length for column " + c.name);
  };
  switch (c.type) {
    case SqlType::Bit: need({1}); return int64_t{p[0] != 0 ? 1 : 0};
    case SqlType::TinyInt:
    case SqlType::SmallInt:
    case SqlType::Int:
    case SqlType::BigInt:
      need({1, 2, 4, 8});
      return len == 1 ? static_cast<int64_t>(p[0]) : SignedLE(p, len);
    case SqlType::Float:
    case SqlType::Real: need({4, 8}); return len == 8 ? Float8(p) : Float4(p);
    case SqlType::Money:
    case SqlType::SmallMoney:
      need({4, 8});
      return len == 8 ? Money8(p) : MoneyValue{SignedLE(p, 4)};
    case SqlType::DateTime:
    case SqlType::SmallDateTime: need({4, 8}); return len == 8 ? DateTime8(p) : DateTime4(p);
    case SqlType::Numeric:
    case SqlType::Decimal: return Numeric(c, p, len);
    case SqlType::UnsignedSmallInt:
    case SqlType::UnsignedInt:
    case SqlType::UnsignedBigInt: need({1, 2, 4, 8}); return Unsigned(p, len);
    case SqlType::Date: need({4}); return Date4(p);
    case SqlType::Time: need({4}); return Time4(p);
    default: return Text(c, p, len);
  }
}

size_t BulkRowDecoder::Decode(const uint8_t* data, size_t size, std::vector<Value>& row) const {
  if (size < 2) return 0;
  size_t rl = LE(data, 2);
  // Trailers of text and image columns follow the row image: first make sure all is here.
  size_t end = 2 + rl;
  struct Trailer {
    size_t at;
    size_t len;
  };
  Trailer trailers[64];
  std::vector<Trailer> more;
  for (size_t b = 0; b < blobCount_; ++b) {
    if (size < end + 10) return 0;
    const uint8_t* t = data + end;
    uint8_t type = t[2];
    if ((type != 0x23 && type != 0x22) || t[3] != 0xFF - b) throw ProtocolError("bad blob trailer");
    uint32_t len = static_cast<uint32_t>(LE(t + 6, 4));
    if (len > 0x7FFFFFFF) throw ProtocolError("bad blob length");
    Trailer tr{end + 10, len};
    if (b < 64)
      trailers[b] = tr;
    else
      more.push_back(tr);
    end += 10 + len;
    if (size < end) return 0;
  }
  if (size < end) return 0;

  const uint8_t* rec = data + 2;
  if (rl < fixedEnd_) throw ProtocolError("row shorter than its fixed columns");
  size_t present = rec[0];
  if (present > variableCount_) throw ProtocolError("more variable columns than the table has");

  // Offset table: the count byte at the end offset e, then e/256 adjust bytes, then the low
  // bytes of the present+1 offsets, last offset first.
  size_t offsets[257];
  if (present == 0) {
    if (rl != fixedEnd_) throw ProtocolError("row longer than its fixed columns");
  } else {
    size_t tail = present + 1;
    size_t e = 0;
    size_t adjust = 0;
    bool found = false;
    for (size_t a = 0; rl >= tail + a + 1; ++a) {
      size_t cand = rl - tail - a - 1;
      if ((cand >> 8) < a) break;
      if ((cand >> 8) == a && rec[cand] == tail) {
        e = cand;
        adjust = a;
        found = true;
        break;
      }
    }
    if (!found) throw ProtocolError("bad offset table");
    if (fixedEnd_ + 2 > e || LE(rec + fixedEnd_, 2) != rl)
      throw ProtocolError("bad row length field");
    for (size_t i = 0; i <= present; ++i) {
      size_t off = rec[rl - 1 - i];
      for (size_t page = 1; page <= adjust; ++page) {
        // Adjust bytes run from the highest page down to page 1.
        if (rec[e + 1 + (adjust - page)] <= i + 1) off += 256;
      }
      offsets[i] = off;
    }
    if (offsets[0] != fixedEnd_ + 2 || offsets[present] != e)
      throw ProtocolError("bad offset table");
    for (size_t i = 0; i < present; ++i)
      if (offsets[i + 1] < offsets[i]) throw ProtocolError("bad offset table");
  }

  row.resize(columns_.size());
  size_t blob = 0;
  for (size_t i = 0; i < columns_.size(); ++i) {
    const ColumnInfo& c = columns_[i];
    const Column& col = layout_[i];
    if (col.fixed) {
      row[i] = Fixed(c, col, rec + col.offset);
      continue;
    }
    size_t v = static_cast<size_t>(col.variable);
    size_t len = v < present ? offsets[v + 1] - offsets[v] : 0;
    if (col.blob) {
      const Trailer& tr = blob < 64 ? trailers[blob] : more[blob - 64];
      ++blob;
      // NULL shows in the offset table only: a NULL's trailer may carry a stale position.
      if (len == 0) {
        row[i] = std::monostate{};
      } else {
        if (len != 16) throw ProtocolError("bad text pointer placeholder");
        row[i] = Text(c, data + tr.at, tr.len);
      }
      continue;
    }
    if (len == 0) {
      // Zero length is NULL; a column that cannot be NULL was sent an empty value.
      if (!c.nullable && (c.type == SqlType::VarChar || c.type == SqlType::Char))
        row[i] = std::string();
      else if (!c.nullable && (c.type == SqlType::VarBinary || c.type == SqlType::Binary))
        row[i] = Bytes();
      else
        row[i] = std::monostate{};
      continue;
    }
    row[i] = Variable(c, rec + offsets[v], len);
  }
  return end;
}

void BulkStream::Feed(const uint8_t* data, size_t size,
                      const std::function<void(std::vector<Value>&)>& row) {
  const uint8_t* p = data;
  size_t n = size;
  if (Pending()) {
    buffer_.insert(buffer_.end(), data, data + size);
    p = buffer_.data() + pos_;
    n = buffer_.size() - pos_;
  }
  size_t used = 0;
  while (used < n) {
    size_t took = decoder_.Decode(p + used, n - used, values_);
    if (took == 0) break;
    used += took;
    row(values_);
  }
  if (p == data) {
    // Keep only the unfinished row.
    buffer_.assign(data + used, data + size);
    pos_ = 0;
  } else {
    pos_ += used;
    if (pos_ == buffer_.size()) {
      buffer_.clear();
      pos_ = 0;
    } else if (pos_ > (1u << 20)) {
      buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(pos_));
      pos_ = 0;
    }
  }
}

namespace {

size_t SkipBlanks(std::string_view text, size_t i) {
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  return i;
}

// The word `w` (lower case) at `i`, in any case and followed by a blank or the end; moves `i`
// past it and the blanks after.
bool Word(std::string_view text, size_t& i, std::string_view w) {
  if (text.size() - i < w.size()) return false;
  for (size_t k = 0; k < w.size(); ++k)
    if (std::tolower(static_cast<unsigned char>(text[i + k])) != w[k]) return false;
  size_t after = i + w.size();
  if (after < text.size() && !std::isspace(static_cast<unsigned char>(text[after]))) return false;
  i = SkipBlanks(text, after);
  return true;
}

}  // namespace

std::optional<std::string> BulkCopy::Target(std::string_view text) {
  size_t i = SkipBlanks(text, 0);
  if (!Word(text, i, "insert") || !Word(text, i, "bulk")) return std::nullopt;
  size_t end = text.size();
  while (end > i && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  if (end == i) return std::nullopt;
  return std::string(text.substr(i, end - i));
}

void BulkCopy::Begin(Session& session, std::string_view table, ResultSink& sink) {
  Abandon();
  insert_ = session.BeginBulkInsert(table, sink);
  if (insert_) stream_ = std::make_unique<BulkStream>(insert_->Columns());
  failed_ = orphan_ = false;
}

void BulkCopy::Piece(const Message& m, ResultSink& sink) {
  if (!insert_) {
    orphan_ = true;
  } else if (!failed_) {
    try {
      stream_->Feed(m.payload.data(), m.payload.size(),
                    [&](std::vector<Value>& row) { insert_->Add(row, sink); });
    } catch (const ProtocolError& e) {
      failed_ = true;
      ServerMessage msg;
      msg.number = kMsgBadRow;
      msg.severity = 16;
      msg.text = std::string("Bulk copy row could not be read: ") + e.what() + ".";
      insert_->Fail(msg);
    }
  }
  if (m.partial) return;
  if (orphan_) {
    ServerMessage msg;
    msg.number = kMsgUnexpectedBulk;
    msg.severity = 16;
    msg.text = "Bulk data arrived without an \"insert bulk\" command.";
    sink.Message(msg);
    sink.Done(kDoneError, 0, false);
    orphan_ = false;
    return;
  }
  if (!failed_ && stream_->Pending()) insert_->Fail(PrematureEnd());
  insert_->Commit(sink);
  insert_.reset();
  stream_.reset();
  failed_ = false;
}

bool BulkText::Is(std::string_view text) {
  size_t i = SkipBlanks(text, 0);
  return Word(text, i, "writetext") && Word(text, i, "bulk");
}

void BulkText::Begin(Session& session, std::string_view text, ResultSink& sink) {
  Abandon();
  write_ = session.BeginTextWrite(text, sink);
}

void BulkText::Piece(const Message& m, ResultSink& sink) {
  data_.insert(data_.end(), m.payload.begin(), m.payload.end());
  if (m.partial) return;
  std::unique_ptr<TextWrite> write = std::move(write_);
  std::vector<uint8_t> data = std::move(data_);
  data_.clear();
  uint64_t length = data.size() >= 4 ? LE(data.data(), 4) : 0;
  if (data.size() < 4 || data.size() - 4 < length) {
    sink.Message(BulkCopy::PrematureEnd());
    sink.Done(kDoneError, 0, false);
    return;
  }
  // Bytes beyond the announced length are not part of the value.
  write->Write(Bytes(data.begin() + 4, data.begin() + 4 + static_cast<std::ptrdiff_t>(length)),
               sink);
}

void BulkText::Abandon() {
  write_.reset();
  data_.clear();
}

ServerMessage BulkCopy::PrematureEnd() {
  ServerMessage msg;
  msg.number = kMsgPrematureEnd;
  msg.severity = 16;
  msg.text =
      "Premature end-of-message while reading current row from host. Host program may have "
      "terminated.";
  return msg;
}

bool BulkCopy::Abandon() {
  orphan_ = false;
  failed_ = false;
  if (!insert_) return false;
  insert_->Abort();
  insert_.reset();
  stream_.reset();
  return true;
}

}  // namespace sampleserver::tds
