// Byte-level behaviour of the packet reader, the request parsers and the column encodings.
#include "tds/packet.h"
#include "tds/requests.h"
#include "tds/tokens.h"
#include "tds/wire.h"

#include <gtest/gtest.h>

namespace sampleserver::tds {
namespace {

using B = std::vector<uint8_t>;

B Packet(uint8_t type, uint8_t status, const B& body) {
  B p(8 + body.size());
  p[0] = type;
  p[1] = status;
  p[2] = static_cast<uint8_t>((body.size() + 8) >> 8);
  p[3] = static_cast<uint8_t>(body.size() + 8);
  std::copy(body.begin(), body.end(), p.begin() + 8);
  return p;
}

TEST(TdsPacketAssembler, ReassemblesAcrossPacketsAndArbitraryReads) {
  B stream = Packet(0x0F, 0, {1, 2, 3});
  B second = Packet(0x0F, 1, {4, 5});
  stream.insert(stream.end(), second.begin(), second.end());
  B third = Packet(0x0F, 1, {9});
  stream.insert(stream.end(), third.begin(), third.end());
  PacketAssembler a;
  for (uint8_t byte : stream) a.Feed(&byte, 1);  // one byte per read
  ASSERT_TRUE(a.HasMessage());
  Message m = a.Pop();
  EXPECT_EQ(m.type, 0x0F);
  EXPECT_EQ(m.payload, (B{1, 2, 3, 4, 5}));
  ASSERT_TRUE(a.HasMessage());
  EXPECT_EQ(a.Pop().payload, (B{9}));
  EXPECT_FALSE(a.HasMessage());
  EXPECT_FALSE(a.MidMessage());
}

TEST(TdsPacketAssembler, AttentionStandsAloneAndDropsAnAbandonedMessage) {
  PacketAssembler a;
  B half = Packet(0x0F, 0, {1, 2});
  a.Feed(half.data(), half.size());
  B attn = Packet(0x06, 1, {});
  a.Feed(attn.data(), attn.size());
  B next = Packet(0x0F, 1, {7});
  a.Feed(next.data(), next.size());
  EXPECT_EQ(a.TakeAttentions(), 1);
  ASSERT_TRUE(a.HasMessage());
  EXPECT_EQ(a.Pop().payload, (B{7}));
  EXPECT_EQ(a.TakeAttentions(), 0);
}

TEST(TdsPacketAssembler, RejectsImpossibleHeadersAndOversizedMessages) {
  PacketAssembler a;
  B bad = {0x0F, 1, 0, 7, 0, 0, 0, 0};
  EXPECT_THROW(a.Feed(bad.data(), bad.size()), ProtocolError);
  PacketAssembler small(10);
  B p1 = Packet(0x0F, 0, B(8, 1));
  small.Feed(p1.data(), p1.size());
  B p2 = Packet(0x0F, 1, B(8, 1));
  EXPECT_THROW(small.Feed(p2.data(), p2.size()), ProtocolError);
}

TEST(TdsAppendPackets, SplitsAtThePacketSizeAndMarksOnlyTheLast) {
  B payload(1200);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i);
  B out;
  AppendPackets(0x04, payload.data(), payload.size(), 512, true, out);
  ASSERT_EQ(out.size(), 1200u + 3 * 8);
  EXPECT_EQ(out[1], 0);
  EXPECT_EQ((out[2] << 8) | out[3], 512);
  EXPECT_EQ(out[512 + 1], 0);
  EXPECT_EQ(out[1024 + 1], 1);
  EXPECT_EQ((out[1024 + 2] << 8) | out[1024 + 3], 1200 - 2 * 504 + 8);
  PacketAssembler a;
  a.Feed(out.data(), out.size());
  ASSERT_TRUE(a.HasMessage());
  EXPECT_EQ(a.Pop().payload, payload);
  B partial;
  AppendPackets(0x04, payload.data(), 504, 512, false, partial);
  EXPECT_EQ(partial[1], 0);  // more of the reply follows
}

B LoginRecordBytes() {
  B rec(568, 0);
  auto put = [&](size_t off, size_t width, const std::string& s) {
    std::copy(s.begin(), s.end(), rec.begin() + static_cast<long>(off));
    rec[off + width] = static_cast<uint8_t>(s.size());
  };
  put(0, 30, "myhost");
  put(31, 30, "joe");
  put(62, 30, "secret");
  put(140, 30, "myapp");
  put(480, 30, "us_english");
  put(557, 6, "4096");
  rec[130] = 1;  // bulk copy not allowed
  B caps = {0xE2, 0x06, 0x00, 0x01, 0x01, 0xAA, 0x02, 0x01, 0x55};
  rec.insert(rec.end(), caps.begin(), caps.end());
  return rec;
}

TEST(TdsLogin, ParsesTheFieldsTheServerUses) {
  LoginRecord l = ParseLogin(LoginRecordBytes());
  EXPECT_EQ(l.host, "myhost");
  EXPECT_EQ(l.user, "joe");
  EXPECT_EQ(l.password, "secret");
  EXPECT_EQ(l.application, "myapp");
  EXPECT_EQ(l.language, "us_english");
  EXPECT_EQ(l.packetSize, 4096);
  EXPECT_TRUE(l.packetSizeRequested);
  EXPECT_FALSE(l.bulkCopy);
  EXPECT_EQ(l.requestCaps, (B{0xAA}));
  EXPECT_EQ(l.responseCaps, (B{0x55}));
}

TEST(TdsLogin, ClampsLengthsAndSizesAndRejectsShortRecords) {
  B rec = LoginRecordBytes();
  rec[31 + 30] = 200;  // a length past the field's width
  std::copy_n("99999", 5, rec.begin() + 557);
  rec[557 + 6] = 5;
  LoginRecord l = ParseLogin(rec);
  EXPECT_EQ(l.user.size(), 30u);
  EXPECT_EQ(l.packetSize, 65535);
  std::copy_n("12x", 3, rec.begin() + 557);
  rec[557 + 6] = 3;
  EXPECT_EQ(ParseLogin(rec).packetSize, 512);
  EXPECT_THROW(ParseLogin(B(300, 0)), ProtocolError);
}

TEST(TdsRequests, ParsesCursorOptionAndLanguageTokensOfOneMessage) {
  B msg = {
      0x86, 0x0A, 0x00, 0x02, 'c',  '1',  0x01, 0x00, 0x02, 0x00, 's',  'x',  0x00,  // CURDECLARE
      0x83, 0x0E, 0x00, 0,    0,    0,    0,    0x02, 'c',  '1',  0x01, 0x00, 0x20,
      10,   0,    0,    0,                                               // CURINFO rows
      0x84, 0x08, 0x00, 0,    0,    0,    0,    0x02, 'c',  '1',  0x00,  // CUROPEN
      0x80, 0x05, 0x00, 0x07, 0,    0,    0,    0x01,                    // CURCLOSE
      0xA6, 0x07, 0x00, 0x01, 0x02, 0x04, 0x00, 0x80, 0x00, 0x00,        // OPTIONCMD
      0x21, 0x03, 0x00, 0x00, 0x00, 0x00, 'g',  'o'};                    // LANGUAGE
  std::vector<Request> r = ParseRequests(msg);
  ASSERT_EQ(r.size(), 6u);
  auto& d = std::get<CurDeclareReq>(r[0]);
  EXPECT_EQ(d.name, "c1");
  EXPECT_EQ(d.statement, "sx");
  auto& info = std::get<CurInfoReq>(r[1]);
  EXPECT_EQ(info.name, "c1");
  EXPECT_EQ(info.command, 1);
  EXPECT_EQ(info.rows, 10);
  EXPECT_EQ(std::get<CurOpenReq>(r[2]).name, "c1");
  auto& close = std::get<CurCloseReq>(r[3]);
  EXPECT_EQ(close.id, 7);
  EXPECT_EQ(close.option, 1);
  auto& opt = std::get<OptionReq>(r[4]);
  EXPECT_EQ(opt.option, 2);
  EXPECT_EQ(opt.arg, (B{0x00, 0x80, 0x00, 0x00}));
  EXPECT_EQ(std::get<LanguageReq>(r[5]).text, "go");
}

TEST(TdsRequests, StopsAtTokensItCannotDecodeAndThrowsOnOverruns) {
  // Parameters after an RPC belong to it: a truncated description is an overrun.
  EXPECT_THROW(ParseRequests({0xE6, 0x05, 0x00, 0x04, 'p', 'r', 'o', 'c', 0xEC, 0xFF}),
               ProtocolError);
  std::vector<Request> r = ParseRequests({0x34, 0x00, 0x21});
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(std::get<UnknownReq>(r[0]).token, 0x34);
  EXPECT_THROW(ParseRequests({0x21, 0x10, 0, 0, 0, 0, 'x'}), ProtocolError);
  EXPECT_THROW(ParseRequests({0x86, 0x03, 0x00, 0x05, 'a'}), ProtocolError);
  EXPECT_THROW(ParseRequests({0x83, 0x02}), ProtocolError);
  EXPECT_THROW(ParseRequests({0x21, 0, 0, 0, 0}),
               ProtocolError);  // LANGUAGE without its status byte
}

ColumnInfo Column(SqlType type, int32_t length, bool nullable, uint8_t precision = 0,
                  uint8_t scale = 0) {
  ColumnInfo c;
  c.type = type;
  c.length = length;
  c.nullable = nullable;
  c.precision = precision;
  c.scale = scale;
  return c;
}

B RowBytes(const ColumnInfo& c, const Value& v) {
  ByteWriter w;
  WriteRow(w, {c}, {FormatOf(c)}, {v});
  return B(w.Buffer().begin() + 1, w.Buffer().end());  // without the ROW token byte
}

NumericValue Numeric(bool negative, std::string digits, uint8_t scale) {
  NumericValue n;
  n.negative = negative;
  n.digits = std::move(digits);
  n.scale = scale;
  return n;
}

TEST(TdsEncoding, NumericUsesBytesPerPrecisionAndRescales) {
  ColumnInfo c = Column(SqlType::Numeric, 6, true, 10, 2);
  EXPECT_EQ(RowBytes(c, Numeric(false, "1234", 2)), (B{0x06, 0x00, 0x00, 0x00, 0x00, 0x04, 0xD2}));
  EXPECT_EQ(RowBytes(c, Numeric(true, "1", 2)), (B{0x06, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01}));
  EXPECT_EQ(RowBytes(c, Numeric(false, "12345", 3)),
            (B{0x06, 0x00, 0x00, 0x00, 0x00, 0x04, 0xD3}));  // 12.345 -> 12.35
  EXPECT_EQ(RowBytes(c, int64_t{12}), (B{0x06, 0x00, 0x00, 0x00, 0x00, 0x04, 0xB0}));
  EXPECT_EQ(RowBytes(c, Numeric(false, "123456789012", 2)), (B{0x00}));  // beyond precision 10
  EXPECT_EQ(RowBytes(c, std::monostate{}), (B{0x00}));
  EXPECT_EQ(NumericBytes(1), 2);
  EXPECT_EQ(NumericBytes(38), 17);
}

TEST(TdsEncoding, EmptyValuesAreNotNull) {
  EXPECT_EQ(RowBytes(Column(SqlType::VarChar, 10, true), std::string()), (B{0x01, ' '}));
  EXPECT_EQ(RowBytes(Column(SqlType::VarBinary, 10, true), Bytes{}), (B{0x01, 0x00}));
  EXPECT_EQ(RowBytes(Column(SqlType::VarChar, 300, true), std::string()), (B{0x01, 0, 0, 0, ' '}));
  B text = RowBytes(Column(SqlType::Text, 0x7FFFFFFF, true), std::string());
  ASSERT_EQ(text.size(), 1u + 16 + 8 + 4);
  EXPECT_EQ(text[0], 16);
  EXPECT_EQ(RowBytes(Column(SqlType::Text, 0x7FFFFFFF, true), std::monostate{}), (B{0x00}));
  EXPECT_EQ(RowBytes(Column(SqlType::VarChar, 300, true), std::monostate{}), (B{0, 0, 0, 0}));
}

TEST(TdsEncoding, NullableFixedTypesUseTheirLengthPrefixedForms) {
  EXPECT_EQ(FormatOf(Column(SqlType::Int, 4, true)).type, 0x26);
  EXPECT_EQ(FormatOf(Column(SqlType::Int, 4, false)).type, 0x38);
  EXPECT_EQ(FormatOf(Column(SqlType::SmallDateTime, 4, true)).type, 0x6F);
  EXPECT_EQ(FormatOf(Column(SqlType::Bit, 1, true)).type, 0x32);
  EXPECT_EQ(FormatOf(Column(SqlType::VarChar, 256, true)).type, 0xAF);
  EXPECT_EQ(FormatOf(Column(SqlType::Binary, 255, true)).type, 0x2D);
  EXPECT_EQ(RowBytes(Column(SqlType::SmallInt, 2, true), int64_t{-2}), (B{0x02, 0xFE, 0xFF}));
  EXPECT_EQ(RowBytes(Column(SqlType::SmallInt, 2, false), int64_t{-2}), (B{0xFE, 0xFF}));
  EXPECT_EQ(RowBytes(Column(SqlType::Money, 8, false), MoneyValue{0x100000002}),
            (B{1, 0, 0, 0, 2, 0, 0, 0}));
  EXPECT_EQ(RowBytes(Column(SqlType::SmallDateTime, 4, false), DateTimeValue{2, 18000 * 61}),
            (B{2, 0, 61, 0}));
  ColumnInfo c = Column(SqlType::Int, 4, true);
  c.identity = true;
  c.updatable = true;
  EXPECT_EQ(StatusOf(c), 0x20 | 0x40 | 0x10);
}

TEST(TdsEncoding, WideDescriptionsSwitchToRowFmt2) {
  std::vector<ColumnInfo> columns(300, Column(SqlType::Int, 4, true));
  for (size_t i = 0; i < columns.size(); ++i)
    columns[i].name = std::string(250, 'a') + std::to_string(i);
  ByteWriter w;
  WriteRowFormat(w, columns);
  EXPECT_EQ(w.Buffer()[0], kTokRowFmt2);
  ByteReader r(w.Buffer());
  r.U8();
  EXPECT_EQ(r.U32(), w.Size() - 5);
  EXPECT_EQ(r.U16(), 300);
  ByteWriter narrow;
  WriteRowFormat(narrow, {Column(SqlType::Int, 4, true)});
  EXPECT_EQ(narrow.Buffer()[0], kTokRowFmt);
}

// A compute format the client could grow past 65535 bytes is refused rather than its length
// wrapped.
TEST(TdsEncoding, OverlongComputeFormatIsRefusedNotWrapped) {
  ComputeFormat compute;
  ColumnInfo text = Column(SqlType::Text, 32768, true);
  text.table = std::string(255, 't');  // text type info carries its table's name
  compute.columns.assign(255, ComputeColumn{kComputeMax, 1, text});
  ByteWriter w;
  EXPECT_THROW(WriteComputeFormat(w, compute), TokenTooLong);
  compute.columns.resize(200);
  ByteWriter fits;
  WriteComputeFormat(fits, compute);
  EXPECT_EQ(fits.Buffer()[0], kTokAltName);
}

}  // namespace
}  // namespace sampleserver::tds
