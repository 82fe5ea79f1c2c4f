// Reply tokens and the wire encoding of every column type.
#pragma once

#include "engine/sink.h"
#include "engine/types.h"
#include "tds/wire.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sampleserver::tds {

enum ReplyToken : uint8_t {
  kTokRowFmt2 = 0x61,
  kTokTabName = 0xA4,
  kTokColInfo = 0xA5,
  kTokAltName = 0xA7,
  kTokAltFmt = 0xA8,
  kTokAltRow = 0xD3,
  kTokReturnStatus = 0x79,
  kTokCurInfoReply = 0x83,
  kTokOptionCmdReply = 0xA6,
  kTokLoginAck = 0xAD,
  kTokRow = 0xD1,
  kTokCapability = 0xE2,
  kTokEnvChange = 0xE3,
  kTokEed = 0xE5,
  kTokRowFmt = 0xEE,
  kTokDone = 0xFD,
  kTokDoneProc = 0xFE,
  kTokDoneInProc = 0xFF,
};

// This server's number for a reply token too long to frame.
constexpr int32_t kMsgTokenTooLong = 16005;

// The error sent in place of a token that does not fit its length; `what` names its content.
ServerMessage TokenTooLongMessage(std::string_view what, const TokenTooLong& e);

enum EnvChangeType : uint8_t {
  kEnvDatabase = 1,
  kEnvLanguage = 2,
  kEnvCharset = 3,
  kEnvPacketSize = 4
};

// How a column travels: its type code and the shape of its type info and row data.
struct WireFormat {
  enum Shape { Fixed, Len1, Long4, Numeric, Blob };
  uint8_t type = 0;
  Shape shape = Fixed;
  uint32_t size = 0;  // fixed byte size, or the declared maximum of a variable column
  uint8_t precision = 0;
  uint8_t scale = 0;
  bool character = false;  // text-like data (an empty value goes out as one blank)
};

WireFormat FormatOf(const ColumnInfo& column);
// ROWFMT status byte: nullable 0x20, identity 0x40, updatable 0x10, timestamp 0x04.
uint8_t StatusOf(const ColumnInfo& column);
// Bytes a numeric of this precision takes on the wire, sign byte included.
uint8_t NumericBytes(uint8_t precision);

void WriteLoginAck(ByteWriter& w, bool ok, std::string_view product, const uint8_t version[4]);
void WriteEnvChange(ByteWriter& w, uint8_t type, std::string_view newValue,
                    std::string_view oldValue);
void WriteCapability(ByteWriter& w, const std::vector<uint8_t>& request,
                     const std::vector<uint8_t>& response);
void WriteDone(ByteWriter& w, uint8_t token, uint16_t status, int32_t count);
void WriteEed(ByteWriter& w, const ServerMessage& m, std::string_view sqlstate);
// The type info that follows the type code in ROWFMT and PARAMFMT.
void WriteTypeInfo(ByteWriter& w, const ColumnInfo& column, const WireFormat& format);
// ROWFMT, or ROWFMT2 when the description does not fit ROWFMT's 16-bit length.
void WriteRowFormat(ByteWriter& w, const std::vector<ColumnInfo>& columns);
// A select for browse: TABNAME (the tables read) then COLINFO (each column's table and real
// name). Nothing when no column comes from a table.
void WriteBrowseInfo(ByteWriter& w, const std::vector<ColumnInfo>& columns,
                     const std::vector<BrowseColumn>& origins);
// One ROW; values beyond the description are ignored, missing ones are NULL, and no value exceeds
// its column's declared length. `pointers`, when given, holds the text pointers of text and image
// values (16 bytes; empty where the value has none).
void WriteRow(ByteWriter& w, const std::vector<ColumnInfo>& columns,
              const std::vector<WireFormat>& formats, const std::vector<Value>& values,
              const std::vector<Bytes>* pointers = nullptr);
// A compute clause's description: ALTNAME (its labels, left empty: clients name a compute column
// after its operator) then ALTFMT (operators, select-list columns, types, by list).
void WriteComputeFormat(ByteWriter& w, const ComputeFormat& format);
// One compute row (ALTROW) of the clause `id`, encoded as ROW encodes its values.
void WriteComputeRow(ByteWriter& w, uint16_t id, const std::vector<ColumnInfo>& columns,
                     const std::vector<WireFormat>& formats, const std::vector<Value>& values);
void WriteReturnStatus(ByteWriter& w, int32_t status);
void WriteCurInfo(ByteWriter& w, int32_t id, uint8_t command, uint16_t status,
                  std::optional<int32_t> rows = std::nullopt);
void WriteOptionInfo(ByteWriter& w, uint8_t option, const std::vector<uint8_t>& value);

}  // namespace sampleserver::tds
