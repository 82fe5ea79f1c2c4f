// What a client sends: the login record and the tokens of a normal (0x0F) message, parsed from a
// reassembled payload without a socket so that malformed input can be exercised directly.
#pragma once

#include "engine/engine.h"

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace sampleserver::tds {

struct LoginRecord {
  std::string host;
  std::string user;
  std::string password;
  std::string hostProcess;
  std::string application;
  std::string serverName;
  std::string library;
  std::string language;
  std::string charset;
  int packetSize = 512;  // clamped to 512..65535; 512 when the field is absent or not a number
  bool packetSizeRequested = false;  // the client named a size other than 512
  bool bulkCopy = true;              // the "dump/load disallowed" byte is clear
  bool secureLogin = false;
  std::vector<uint8_t> requestCaps;  // capability mask blocks as sent (may be empty)
  std::vector<uint8_t> responseCaps;
};

// Throws ProtocolError when the record is too short to hold the fields the server relies on.
LoginRecord ParseLogin(const std::vector<uint8_t>& payload);

enum Token : uint8_t {
  kTokCurClose = 0x80,
  kTokCurDelete = 0x81,
  kTokCurFetch = 0x82,
  kTokCurInfo = 0x83,
  kTokCurOpen = 0x84,
  kTokCurDeclare = 0x86,
  kTokLanguage = 0x21,
  kTokLogout = 0x71,
  kTokOptionCmd = 0xA6,
  kTokDbRpc = 0xE6,
  kTokDynamic = 0xE7,
  kTokParamFmt = 0xEC,
  kTokParams = 0xD7,
};

struct LanguageReq {
  std::string text;
  bool hasParams = false;
  std::vector<ParamValue> params;
};
struct OptionReq {
  uint8_t command = 0;  // 1 set, 2 default, 3 list
  uint8_t option = 0;
  std::vector<uint8_t> arg;
};
struct CurDeclareReq {
  std::string name;
  uint8_t options = 0;
  uint8_t status = 0;
  std::string statement;
};
struct CurInfoReq {
  int32_t id = 0;
  std::string name;
  uint8_t command = 0;
  uint16_t status = 0;
  std::optional<int32_t> rows;
};
struct CurOpenReq {
  int32_t id = 0;
  std::string name;
  uint8_t status = 0;
};
struct CurFetchReq {
  int32_t id = 0;
  std::string name;
  uint8_t type = 1;
};
struct CurCloseReq {
  int32_t id = 0;
  std::string name;
  uint8_t option = 0;  // 0x01: deallocate
};
struct LogoutReq {};
struct RpcReq {
  std::string name;
  std::vector<ParamValue> params;
};
struct DynamicReq {
  uint8_t type = 0;  // 0x01 prepare, 0x02 execute, 0x04 deallocate
  uint8_t status = 0;
  std::string id;
  std::string statement;
  std::vector<ParamValue> params;
};
struct UnknownReq {
  uint8_t token = 0;
};

using Request = std::variant<LanguageReq, OptionReq, CurDeclareReq, CurInfoReq, CurOpenReq,
                             CurFetchReq, CurCloseReq, LogoutReq, RpcReq, DynamicReq, UnknownReq>;

// Parses the tokens of a normal message. Parameters that follow a LANGUAGE, DBRPC or DYNAMIC
// token belong to it. Parsing stops after a token whose trailing data the server cannot decode
// (cursor parameters, unknown tokens): that token is the last entry. Throws ProtocolError on a
// token that runs past the end of the message.
std::vector<Request> ParseRequests(const std::vector<uint8_t>& payload);

}  // namespace sampleserver::tds
