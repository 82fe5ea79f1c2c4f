// The bulk row decoder and the packet reader's bulk pieces, on rows laid out byte by byte as
// FreeTDS's tds5_send_record lays them out.
#include "tds/bulk.h"
#include "tds/packet.h"
#include "tds/wire.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using namespace sampleserver;
using namespace sampleserver::tds;
using Bytes = std::vector<uint8_t>;

ColumnInfo Col(SqlType type, bool nullable, int32_t length = 4, uint8_t precision = 0,
               uint8_t scale = 0) {
  ColumnInfo c;
  c.type = type;
  c.nullable = nullable;
  c.length = length;
  c.precision = precision;
  c.scale = scale;
  return c;
}

Bytes Str(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A row as FreeTDS builds it: fixed bytes, then the variable columns with the offset table and,
// past 255 bytes, the adjust table; trailing NULL variable columns are left out.
Bytes EncodeRow(const Bytes& fixed, const std::vector<std::optional<Bytes>>& variable) {
  Bytes rec(2, 0);
  rec.insert(rec.end(), fixed.begin(), fixed.end());
  size_t start = rec.size();
  rec.resize(start + 2);
  std::vector<size_t> offsets{rec.size()};
  for (const auto& v : variable) {
    if (v) rec.insert(rec.end(), v->begin(), v->end());
    offsets.push_back(rec.size());
  }
  size_t n = variable.size();
  while (n && offsets[n] == offsets[n - 1]) --n;
  if (n == 0) {
    rec.resize(start);
  } else {
    size_t end = offsets[n];
    rec.push_back(static_cast<uint8_t>(n + 1));
    for (size_t page = end / 256; page > 0; --page) {
      uint8_t below = 1;
      for (size_t i = 0; i <= n; ++i)
        if (offsets[i] / 256 < page) ++below;
      rec.push_back(below);
    }
    for (size_t i = 0; i <= n; ++i) rec.push_back(static_cast<uint8_t>(offsets[n - i] & 0xFF));
    rec[start] = static_cast<uint8_t>(rec.size());
    rec[start + 1] = static_cast<uint8_t>(rec.size() >> 8);
    rec[0] = static_cast<uint8_t>(n);
  }
  Bytes out{static_cast<uint8_t>(rec.size()), static_cast<uint8_t>(rec.size() >> 8)};
  out.insert(out.end(), rec.begin(), rec.end());
  return out;
}

std::vector<std::vector<Value>> DecodeAll(const std::vector<ColumnInfo>& columns,
                                          const Bytes& bytes, size_t chunk) {
  BulkStream stream(columns);
  std::vector<std::vector<Value>> rows;
  for (size_t pos = 0; pos < bytes.size(); pos += chunk) {
    size_t n = std::min(chunk, bytes.size() - pos);
    stream.Feed(bytes.data() + pos, n, [&](std::vector<Value>& row) { rows.push_back(row); });
  }
  EXPECT_FALSE(stream.Pending());
  return rows;
}

std::string Text(const Value& v) {
  return std::holds_alternative<std::string>(v) ? std::get<std::string>(v) : "?";
}

TEST(BulkRows, DecodesTheRowFreeTdsSendsForAMixedTable) {
  // (id int, name varchar(20) null, n int null, amt numeric(10,2) null, code char(4),
  //  notes text null, ts datetime), as captured from FreeTDS on the wire.
  std::vector<ColumnInfo> columns = {
      Col(SqlType::Int, false),        Col(SqlType::VarChar, true, 20),
      Col(SqlType::Int, true),         Col(SqlType::Numeric, true, 6, 10, 2),
      Col(SqlType::Char, false, 4),    Col(SqlType::Text, true, 0x7FFFFFFF),
      Col(SqlType::DateTime, false, 8)};
  Bytes row = {0x37, 0x00, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00, 0x58, 0x59, 0x20, 0x20,
               0x68, 0xb1, 0x00, 0x00, 0x4c, 0x98, 0x75, 0x00, 0x37, 0x00, 0x61, 0x62,
               0x63, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x7d};
  row.insert(row.end(), 16, 0);
  Bytes tail = {0x05, 0x31, 0x21, 0x1b, 0x17, 0x14, 0x00, 0x00,
                0x23, 0xff, 0x21, 0x00, 0x09, 0x00, 0x00, 0x00};
  row.insert(row.end(), tail.begin(), tail.end());
  Bytes text = Str("some text");
  row.insert(row.end(), text.begin(), text.end());
  // The same row at every split into two pieces.
  for (size_t chunk : {row.size(), size_t{1}, size_t{7}, size_t{33}}) {
    auto rows = DecodeAll(columns, row, chunk);
    ASSERT_EQ(rows.size(), 1u) << chunk;
    const auto& r = rows[0];
    EXPECT_EQ(std::get<int64_t>(r[0]), 1);
    EXPECT_EQ(Text(r[1]), "abc");
    EXPECT_EQ(std::get<int64_t>(r[2]), 5);
    const auto& amt = std::get<NumericValue>(r[3]);
    EXPECT_EQ(amt.digits, "125");
    EXPECT_EQ(amt.scale, 2);
    EXPECT_FALSE(amt.negative);
    EXPECT_EQ(Text(r[4]), "XY  ");
    EXPECT_EQ(Text(r[5]), "some text");
    EXPECT_EQ(std::get<DateTimeValue>(r[6]).days, 45416);
    EXPECT_EQ(std::get<DateTimeValue>(r[6]).ticks, 7706700u);
  }
}

TEST(BulkRows, OffsetsPastOneAndTwoPagesUseTheAdjustTable) {
  std::vector<ColumnInfo> columns = {Col(SqlType::Int, false), Col(SqlType::VarChar, true, 255),
                                     Col(SqlType::VarChar, true, 255),
                                     Col(SqlType::VarChar, true, 255), Col(SqlType::Int, true)};
  Bytes id = {7, 0, 0, 0};
  Bytes stream;
  std::vector<std::vector<std::optional<Bytes>>> rows = {
      {Bytes(250, 'a'), Bytes(200, 'b'), std::nullopt, Bytes{9, 0, 0, 0}},
      {Bytes(255, 'a'), Bytes(255, 'b'), Bytes(255, 'c'), Bytes{1, 0, 0, 0}},
      {std::nullopt, Bytes(255, 'b'), Bytes(10, 'c'), std::nullopt},
      {Bytes(1, 'x'), std::nullopt, std::nullopt, std::nullopt},
      {std::nullopt, std::nullopt, std::nullopt, std::nullopt},
  };
  for (const auto& r : rows) {
    Bytes b = EncodeRow(id, r);
    stream.insert(stream.end(), b.begin(), b.end());
  }
  // The 250 + 200 byte row ends with one adjust byte: offsets from the second on lie past 255.
  Bytes first = EncodeRow(id, rows[0]);
  EXPECT_EQ(Bytes(first.end() - 7, first.end()), (Bytes{0x05, 0x02, 0xce, 0xca, 0xca, 0x02, 0x08}));
  auto got = DecodeAll(columns, stream, 100);
  ASSERT_EQ(got.size(), rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(std::get<int64_t>(got[i][0]), 7);
    for (size_t v = 0; v < 3; ++v) {
      if (rows[i][v]) {
        EXPECT_EQ(Text(got[i][v + 1]), std::string(rows[i][v]->begin(), rows[i][v]->end()));
      } else {
        EXPECT_TRUE(IsNull(got[i][v + 1]));
      }
    }
    EXPECT_EQ(IsNull(got[i][4]), !rows[i][3].has_value());
  }
  EXPECT_EQ(std::get<int64_t>(got[1][4]), 1);
}

TEST(BulkRows, BitsShareBytesAndFixedTypesDecodeExactly) {
  // Nine NOT NULL bits between other fixed columns: two bit bytes, each where its first bit falls.
  std::vector<ColumnInfo> columns;
  columns.push_back(Col(SqlType::Bit, false, 1));
  columns.push_back(Col(SqlType::SmallInt, false, 2));
  for (int i = 0; i < 8; ++i) columns.push_back(Col(SqlType::Bit, false, 1));
  columns.push_back(Col(SqlType::Money, false, 8));
  columns.push_back(Col(SqlType::SmallMoney, false, 4));
  columns.push_back(Col(SqlType::Real, false, 4));
  columns.push_back(Col(SqlType::SmallDateTime, false, 4));
  columns.push_back(Col(SqlType::Numeric, false, 4, 5, 1));
  columns.push_back(Col(SqlType::Binary, false, 3));
  columns.push_back(Col(SqlType::TinyInt, false, 1));
  columns.push_back(Col(SqlType::BigInt, false, 8));
  // bits 1..8 -> byte 0 (0x01 first bit, 0x02 second, ...): set 1st, 3rd, 8th; 9th starts a new
  // byte.
  Bytes fixed = {0x85, 0xfe, 0xff};                                // bit byte, smallint -2
  fixed.push_back(0x01);                                           // the ninth bit alone
  Bytes money = {0xff, 0xff, 0xff, 0xff, 0xc0, 0x1d, 0xfe, 0xff};  // high word, low word: -123456
  fixed.insert(fixed.end(), money.begin(), money.end());
  Bytes small = {0x40, 0xe2, 0x01, 0x00};  // 123456
  fixed.insert(fixed.end(), small.begin(), small.end());
  Bytes real = {0x00, 0x00, 0xc0, 0x3f};  // 1.5f
  fixed.insert(fixed.end(), real.begin(), real.end());
  Bytes sdt = {0x01, 0x00, 0x3c, 0x00};  // day 1, minute 60
  fixed.insert(fixed.end(), sdt.begin(), sdt.end());
  Bytes num = {0x01, 0x00, 0x30, 0x39};  // -1234.5 at scale 1: numeric(5) takes 4 bytes
  fixed.insert(fixed.end(), num.begin(), num.end());
  Bytes bin = {0xde, 0xad, 0x00};
  fixed.insert(fixed.end(), bin.begin(), bin.end());
  fixed.push_back(200);
  Bytes big = {0, 0, 0, 0, 0, 0, 0, 0x80};  // INT64_MIN
  fixed.insert(fixed.end(), big.begin(), big.end());
  auto rows = DecodeAll(columns, EncodeRow(fixed, {}), 5);
  ASSERT_EQ(rows.size(), 1u);
  const auto& r = rows[0];
  std::vector<int64_t> bits;
  for (size_t i : {0, 2, 3, 4, 5, 6, 7, 8, 9}) bits.push_back(std::get<int64_t>(r[i]));
  EXPECT_EQ(bits, (std::vector<int64_t>{1, 0, 1, 0, 0, 0, 0, 1, 1}));
  EXPECT_EQ(std::get<int64_t>(r[1]), -2);
  EXPECT_EQ(std::get<MoneyValue>(r[10]).units, -123456);
  EXPECT_EQ(std::get<MoneyValue>(r[11]).units, 123456);
  EXPECT_EQ(std::get<double>(r[12]), 1.5);
  EXPECT_EQ(std::get<DateTimeValue>(r[13]).days, 1);
  EXPECT_EQ(std::get<DateTimeValue>(r[13]).ticks, 60u * 18000u);
  EXPECT_TRUE(std::get<NumericValue>(r[14]).negative);
  EXPECT_EQ(std::get<NumericValue>(r[14]).digits, "12345");
  EXPECT_EQ(std::get<sampleserver::Bytes>(r[15]), (sampleserver::Bytes{0xde, 0xad, 0x00}));
  EXPECT_EQ(std::get<int64_t>(r[16]), 200);
  EXPECT_EQ(std::get<int64_t>(r[17]), INT64_MIN);
}

TEST(BulkRows, NullableColumnsOfFixedTypesTravelAsVariableOnes) {
  std::vector<ColumnInfo> columns = {Col(SqlType::Int, true),
                                     Col(SqlType::Float, true, 8),
                                     Col(SqlType::Money, true, 8),
                                     Col(SqlType::DateTime, true, 8),
                                     Col(SqlType::Char, true, 5),
                                     Col(SqlType::Bit, true, 1),
                                     Col(SqlType::Image, true, 0x7FFFFFFF)};
  // A nullable bit stays fixed: Sybase's bit is never NULL and the description says so.
  Bytes fixed = {0x01};
  Bytes d = {0, 0, 0, 0, 0, 0, 0xf0, 0x3f};  // 1.0
  Bytes m = {0, 0, 0, 0, 0x10, 0x27, 0, 0};  // 1.0000
  Bytes dt = {0, 0, 0, 0, 0, 0, 0, 0};
  Bytes row = EncodeRow(fixed, {Bytes{0x2a, 0, 0, 0}, d, m, dt, Str("ab"), Bytes(16, 0)});
  Bytes trailer = {0, 0, 0x22, 0xff, 0, 0, 3, 0, 0, 0, 'i', 'm', 'g'};
  row.insert(row.end(), trailer.begin(), trailer.end());
  // A NULL image still has its trailer, with a stale position and no data.
  Bytes nulls = EncodeRow(
      fixed, {std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt});
  Bytes empty = {0, 0, 0x22, 0xff, 0x30, 0, 0, 0, 0, 0};
  nulls.insert(nulls.end(), empty.begin(), empty.end());
  row.insert(row.end(), nulls.begin(), nulls.end());
  auto rows = DecodeAll(columns, row, 3);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(std::get<int64_t>(rows[0][0]), 42);
  EXPECT_EQ(std::get<double>(rows[0][1]), 1.0);
  EXPECT_EQ(std::get<MoneyValue>(rows[0][2]).units, 10000);
  EXPECT_EQ(std::get<DateTimeValue>(rows[0][3]).days, 0);
  EXPECT_EQ(Text(rows[0][4]), "ab");
  EXPECT_EQ(std::get<int64_t>(rows[0][5]), 1);
  EXPECT_EQ(std::get<sampleserver::Bytes>(rows[0][6]), (sampleserver::Bytes{'i', 'm', 'g'}));
  for (size_t i : {0, 1, 2, 3, 4, 6}) EXPECT_TRUE(IsNull(rows[1][i])) << i;
}

TEST(BulkRows, RowsThatContradictTheLayoutAreRejected) {
  std::vector<ColumnInfo> columns = {Col(SqlType::Int, false), Col(SqlType::VarChar, true, 20),
                                     Col(SqlType::Int, true), Col(SqlType::DateTime, false, 8)};
  Bytes fixed = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  Bytes good = EncodeRow(fixed, {Str("abc"), Bytes{1, 0, 0, 0}});
  EXPECT_EQ(DecodeAll(columns, good, good.size()).size(), 1u);
  auto rejects = [&](Bytes bad) {
    BulkStream s(columns);
    EXPECT_THROW(s.Feed(bad.data(), bad.size(), [](std::vector<Value>&) {}), ProtocolError);
  };
  Bytes b = good;
  b[2] = 3;  // more variable columns than the table has
  rejects(b);
  b = good;
  b[b.size() - 1] = 0x11;  // first offset not where the variable data starts
  rejects(b);
  b = good;
  b[b.size() - 4] = 9;  // count byte wrong
  rejects(b);
  b = good;
  b[b.size() - 2] = 0x20;  // offsets out of order
  rejects(b);
  b = good;
  b[2 + 2 + 4 + 4] = 0xff;  // datetime ticks past the end of the day
  b[2 + 2 + 4 + 7] = 0xff;
  rejects(b);
  Bytes shortRow = {4, 0, 0, 0, 1, 0};
  rejects(shortRow);
  // An int NULL-able column of an impossible length.
  Bytes odd = EncodeRow(fixed, {Str("abc"), Bytes{1, 0, 0}});
  rejects(odd);
}

TEST(BulkRows, BulkPacketsArriveAsPiecesAndARequestEndsAnUnfinishedMessage) {
  PacketAssembler in;
  Bytes wire;
  Bytes rows(1500, 0x11);
  AppendPackets(kPacketBulk, rows.data(), rows.size(), 512, true, wire);
  in.Feed(wire.data(), wire.size());
  size_t total = 0;
  int pieces = 0;
  bool last = false;
  while (in.HasMessage()) {
    Message m = in.Pop();
    EXPECT_EQ(m.type, kPacketBulk);
    total += m.payload.size();
    ++pieces;
    last = !m.partial;
    EXPECT_EQ(m.partial, total < rows.size());
  }
  EXPECT_EQ(total, rows.size());
  EXPECT_EQ(pieces, 3);
  EXPECT_TRUE(last);
  // An empty bulk message still arrives, as one final piece.
  wire.clear();
  AppendPackets(kPacketBulk, nullptr, 0, 512, true, wire);
  in.Feed(wire.data(), wire.size());
  ASSERT_TRUE(in.HasMessage());
  Message empty = in.Pop();
  EXPECT_FALSE(empty.partial);
  EXPECT_TRUE(empty.payload.empty());
  // A bulk message left without its last packet, then a normal request: the request stands alone.
  wire.clear();
  AppendPackets(kPacketBulk, rows.data(), 600, 512, false, wire);
  Bytes request = {0x21, 0x02, 0, 0, 0, 0, 'x'};
  AppendPackets(kPacketNormal, request.data(), request.size(), 512, true, wire);
  in.Feed(wire.data(), wire.size());
  std::vector<Message> got;
  while (in.HasMessage()) got.push_back(in.Pop());
  ASSERT_EQ(got.size(), 3u);
  EXPECT_TRUE(got[1].partial);
  EXPECT_EQ(got[2].type, kPacketNormal);
  EXPECT_EQ(got[2].payload, request);
}

TEST(BulkRows, OnlyInsertBulkStartsABulkCopy) {
  EXPECT_EQ(BulkCopy::Target("insert bulk pubs2..authors"), "pubs2..authors");
  EXPECT_EQ(BulkCopy::Target("  INSERT   Bulk\tt1 \n"), "t1");
  EXPECT_EQ(BulkCopy::Target("insert bulk"), std::nullopt);
  EXPECT_EQ(BulkCopy::Target("insert bulkx t"), std::nullopt);
  EXPECT_EQ(BulkCopy::Target("insert t values (1)"), std::nullopt);
  EXPECT_EQ(BulkCopy::Target("select 'insert bulk t'"), std::nullopt);
}

}  // namespace
