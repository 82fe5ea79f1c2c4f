#include "tds/requests.h"

#include "tds/params.h"
#include "tds/wire.h"

#include <algorithm>

namespace sampleserver::tds {

namespace {

// A fixed-width login field: `width` bytes of text followed by a one-byte length.
std::string Field(const std::vector<uint8_t>& p, size_t offset, size_t width) {
  if (offset + width >= p.size()) return {};
  size_t len = std::min<size_t>(p[offset + width], width);
  return std::string(reinterpret_cast<const char*>(p.data() + offset), len);
}

void ParseCapability(ByteReader r, LoginRecord& login) {
  while (r.Remaining() >= 2) {
    uint8_t type = r.U8();
    uint8_t len = r.U8();
    std::vector<uint8_t> mask = r.Bytes(len);
    if (type == 1) login.requestCaps = std::move(mask);
    if (type == 2) login.responseCaps = std::move(mask);
  }
}

}  // namespace

LoginRecord ParseLogin(const std::vector<uint8_t>& p) {
  constexpr size_t kFixed = 568;
  if (p.size() < 564) throw ProtocolError("login record too short");
  LoginRecord login;
  login.host = Field(p, 0, 30);
  login.user = Field(p, 31, 30);
  login.password = Field(p, 62, 30);
  login.hostProcess = Field(p, 93, 30);
  login.bulkCopy = p[130] == 0;
  login.application = Field(p, 140, 30);
  login.serverName = Field(p, 171, 30);
  login.library = Field(p, 462, 10);
  login.language = Field(p, 480, 30);
  login.secureLogin = p[512] != 0 || p[513] != 0;
  login.charset = Field(p, 525, 30);
  std::string size = Field(p, 557, 6);
  if (!size.empty() && size.size() <= 5 &&
      std::all_of(size.begin(), size.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    int n = std::stoi(size);
    if (n != 512 && n > 0) login.packetSizeRequested = true;
    login.packetSize = std::clamp(n, 512, 65535);
  }
  if (p.size() > kFixed + 3 && p[kFixed] == 0xE2) {
    ByteReader r(p.data() + kFixed + 1, p.size() - kFixed - 1);
    uint16_t len = r.U16();
    if (len <= r.Remaining()) ParseCapability(r.Sub(len), login);
  }
  return login;
}

namespace {

// Cursor tokens name the cursor only when the id is 0.
void IdOrName(ByteReader& r, int32_t& id, std::string& name) {
  id = r.I32();
  if (id == 0) name = r.BVarChar();
}

}  // namespace

std::vector<Request> ParseRequests(const std::vector<uint8_t>& payload) {
  std::vector<Request> out;
  ByteReader r(payload);
  while (!r.AtEnd()) {
    uint8_t token = r.U8();
    switch (token) {
      case kTokLanguage: {
        uint32_t len = r.U32();
        if (len < 1 || len > r.Remaining()) throw ProtocolError("bad LANGUAGE length");
        ByteReader t = r.Sub(len);
        LanguageReq req;
        req.hasParams = (t.U8() & 0x01) != 0;
        req.text = t.Str(t.Remaining());
        while (!req.text.empty() && req.text.back() == '\0') req.text.pop_back();  // padding
        if (req.hasParams) req.params = ReadParams(r);
        out.emplace_back(std::move(req));
        break;
      }
      case kTokOptionCmd: {
        ByteReader t = r.Sub(r.U16());
        OptionReq req;
        req.command = t.U8();
        req.option = t.U8();
        req.arg = t.Bytes(t.U8());
        out.emplace_back(std::move(req));
        break;
      }
      case kTokCurDeclare: {
        ByteReader t = r.Sub(r.U16());
        CurDeclareReq req;
        req.name = t.BVarChar();
        req.options = t.U8();
        req.status = t.U8();
        req.statement = t.USVarChar();
        // Update column names may follow; a read-only cursor needs none of them.
        out.emplace_back(std::move(req));
        break;
      }
      case kTokCurInfo: {
        ByteReader t = r.Sub(r.U16());
        CurInfoReq req;
        IdOrName(t, req.id, req.name);
        req.command = t.U8();
        req.status = t.U16();
        if (t.Remaining() >= 4) req.rows = t.I32();
        out.emplace_back(std::move(req));
        break;
      }
      case kTokCurOpen: {
        ByteReader t = r.Sub(r.U16());
        CurOpenReq req;
        IdOrName(t, req.id, req.name);
        req.status = t.U8();
        bool params = (req.status & 0x01) != 0;
        out.emplace_back(std::move(req));
        if (params) return out;  // parameters follow: not decoded
        break;
      }
      case kTokCurFetch: {
        ByteReader t = r.Sub(r.U16());
        CurFetchReq req;
        IdOrName(t, req.id, req.name);
        req.type = t.U8();
        out.emplace_back(std::move(req));
        break;
      }
      case kTokCurClose: {
        ByteReader t = r.Sub(r.U16());
        CurCloseReq req;
        req.id = t.I32();
        if (req.id == 0 && t.Remaining() > 1) req.name = t.BVarChar();
        req.option = t.U8();
        out.emplace_back(std::move(req));
        break;
      }
      case kTokLogout:
        if (!r.AtEnd()) r.U8();  // options
        out.emplace_back(LogoutReq{});
        return out;
      case kTokDbRpc: {
        ByteReader t = r.Sub(r.U16());
        RpcReq req;
        req.name = t.BVarChar();
        if (t.Remaining() >= 2) t.U16();  // options: 0x02 when parameters follow
        req.params = ReadParams(r);
        out.emplace_back(std::move(req));
        break;
      }
      case kTokDynamic: {
        ByteReader t = r.Sub(r.U16());
        DynamicReq req;
        req.type = t.U8();
        req.status = t.U8();
        req.id = t.BVarChar();
        if (t.Remaining() >= 2) req.statement = t.USVarChar();
        req.params = ReadParams(r);
        out.emplace_back(std::move(req));
        break;
      }
      default: out.emplace_back(UnknownReq{token}); return out;
    }
  }
  return out;
}

}  // namespace sampleserver::tds
