// Parameters as a client could send them (PARAMFMT/PARAMFMT2 + PARAMS after DBRPC, DYNAMIC or
// LANGUAGE), decoded, re-encoded, and run against a real session: procedure calls, prepared
// statements and parameterised batches.
#include "engine/engine.h"
#include "tds/params.h"
#include "tds/requests.h"
#include "tds/rpc.h"
#include "tds/tokens.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace {

using namespace sampleserver;
using namespace sampleserver::tds;

// Writes everything as tokens, as the connection would, and checks what it can.
class TokenSink final : public ResultSink, public TokenOutput {
 public:
  void Columns(const std::vector<ColumnInfo>& columns) override {
    columns_ = columns;
    formats_.clear();
    for (const auto& c : columns) formats_.push_back(FormatOf(c));
    WriteRowFormat(out_, columns);
  }
  void Row(const std::vector<Value>& values) override {
    WriteRow(out_, columns_, formats_, values);
  }
  void Done(uint16_t status, int32_t count, bool) override {
    ++dones;
    WriteDone(out_, kTokDone, status, count);
  }
  void Message(const ServerMessage& m) override { WriteEed(out_, m, "ZZZZZ"); }
  void DatabaseChanged(const std::string&, const std::string&) override {}
  void ReturnStatus(int32_t status) override { WriteReturnStatus(out_, status); }
  void OutputParams(const std::vector<ColumnInfo>& params,
                    const std::vector<Value>& values) override {
    // What the server sends must read back as the same parameters.
    ByteWriter w;
    WriteOutputParams(w, params, values);
    ByteReader r(w.Buffer());
    std::vector<ParamValue> back = ReadParams(r);
    if (back.size() != params.size() || !r.AtEnd()) __builtin_trap();
    for (size_t i = 0; i < back.size(); ++i)
      if (back[i].name != params[i].name.substr(0, 255) || !back[i].output) __builtin_trap();
  }
  // Bounds loops in procedures and batches.
  bool Cancelled() const override { return ++polls_ > 2000; }
  ByteWriter& Begin() override { return out_; }
  void End() override {}

  int dones = 0;

 private:
  ByteWriter out_;
  std::vector<ColumnInfo> columns_;
  std::vector<WireFormat> formats_;
  mutable int polls_ = 0;
};

// Long character and binary values travel as longchar and longbinary, which read back as varchar
// and varbinary.
SqlType Family(SqlType t) {
  if (t == SqlType::Char) return SqlType::VarChar;
  if (t == SqlType::Binary) return SqlType::VarBinary;
  return t;
}

struct World {
  std::unique_ptr<Engine> engine;
  std::unique_ptr<Session> session;
};

World& TheWorld() {
  static World w = [] {
    World w;
    w.engine = Engine::Create({});
    LoginRequest login;
    login.user = "sa";
    ServerMessage failure;
    w.session = w.engine->Login(login, &failure);
    TokenSink sink;
    w.session->Execute(
        "create procedure fz_all @i int = null output, @s smallint = 0, @b bigint = 0 output,\n"
        " @f float = 0 output, @m money = 0 output, @d datetime = null output, @n numeric(12,3) = "
        "0 output,\n"
        " @c char(10) = '' output, @v varchar(300) = null output, @x varbinary(20) = null output,\n"
        " @t text = null, @bit bit = 0 output as\n"
        "select @i = @i + 1, @f = @f * 2, @n = @n + 1, @c = upper(@c), @v = @v + 'x', @x = @x + "
        "0x01\n"
        "if @bit = 1 exec fz_all @i, @s\n"
        "return @s",
        sink);
    w.session->Execute("create table fz_t (a int null, b varchar(40) null, c text null)", sink);
    return w;
  }();
  return w;
}

// Statements a prepare may carry; the parameters come from the input.
const char* const kStatements[] = {
    "select ?",
    "select ?, ? + 1, convert(varchar(20), ?)",
    "insert fz_t values (?, ?, ?)",
    "update fz_t set b = ? where a = ?",
    "delete fz_t where a > ?",
    "select count(*) from fz_t where b like ? or a = ?",
    "create proc x as select ? where ? is null",
    "select '?' + ?, ?",
};
const char* const kProcedures[] = {"fz_all", "master..fz_all", "sp_help",
                                   "sp_who", "no_such_proc",   "@x"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  World& world = TheWorld();
  Session& session = *world.session;
  uint8_t mode = data[0];
  uint8_t pick = data[1];
  std::vector<uint8_t> tail(data + 2, data + size);

  // The input after two bytes is the parameter block; the request token in front of it is ours.
  std::vector<uint8_t> message;
  auto put16 = [&](size_t n) {
    message.push_back(static_cast<uint8_t>(n));
    message.push_back(static_cast<uint8_t>(n >> 8));
  };
  switch (mode % 4) {
    case 0: {  // DBRPC
      std::string name = kProcedures[pick % std::size(kProcedures)];
      message.push_back(kTokDbRpc);
      put16(1 + name.size() + 2);
      message.push_back(static_cast<uint8_t>(name.size()));
      message.insert(message.end(), name.begin(), name.end());
      put16(2);
      break;
    }
    case 1: {  // DYNAMIC prepare, then execute
      std::string text = kStatements[pick % std::size(kStatements)];
      std::string id = "d" + std::to_string(pick % 3);
      message.push_back(kTokDynamic);
      put16(2 + 1 + id.size() + 2 + text.size());
      message.push_back(kDynPrepare);
      message.push_back(0);
      message.push_back(static_cast<uint8_t>(id.size()));
      message.insert(message.end(), id.begin(), id.end());
      put16(text.size());
      message.insert(message.end(), text.begin(), text.end());
      message.push_back(kTokDynamic);
      put16(2 + 1 + id.size() + 2);
      message.push_back(kDynExecute);
      message.push_back(1);
      message.push_back(static_cast<uint8_t>(id.size()));
      message.insert(message.end(), id.begin(), id.end());
      put16(0);
      break;
    }
    case 2: {  // LANGUAGE with parameters
      std::string text = pick % 2 ? "select @P1, @P2" : "insert fz_t (a, b) values (@P1, @P2)";
      message.push_back(kTokLanguage);
      uint32_t len = static_cast<uint32_t>(1 + text.size());
      for (int i = 0; i < 4; ++i) message.push_back(static_cast<uint8_t>(len >> (8 * i)));
      message.push_back(1);
      message.insert(message.end(), text.begin(), text.end());
      break;
    }
    default:  // the bytes as a whole message
      break;
  }
  message.insert(message.end(), tail.begin(), tail.end());

  std::vector<Request> requests;
  try {
    requests = ParseRequests(message);
  } catch (const ProtocolError&) {
    return 0;
  }
  for (const Request& r : requests) {
    // Decoded parameters encode and decode again to the same shape.
    const std::vector<ParamValue>* params = nullptr;
    if (auto rpc = std::get_if<RpcReq>(&r)) params = &rpc->params;
    if (auto dyn = std::get_if<DynamicReq>(&r)) params = &dyn->params;
    if (auto lang = std::get_if<LanguageReq>(&r)) params = &lang->params;
    if (params && !params->empty()) {
      std::vector<ColumnInfo> cols;
      std::vector<Value> values;
      for (const auto& p : *params) {
        cols.push_back(p.type);
        cols.back().name = p.name;
        values.push_back(p.value);
      }
      ByteWriter w;
      WriteOutputParams(w, cols, values);
      ByteReader back(w.Buffer());
      std::vector<ParamValue> again = ReadParams(back);
      if (again.size() != params->size()) __builtin_trap();
      for (size_t i = 0; i < again.size(); ++i)
        if (Family(again[i].type.type) != Family((*params)[i].type.type)) __builtin_trap();
    }

    TokenSink sink;
    if (auto rpc = std::get_if<RpcReq>(&r)) {
      HandleRpc(session, *rpc, sink);
      if (sink.dones == 0) __builtin_trap();
    } else if (auto dyn = std::get_if<DynamicReq>(&r)) {
      HandleDynamic(session, *dyn, sink, sink);
      // An execute of an empty statement ends with the reply's final DONE alone.
      bool execute = dyn->type == kDynExecute || dyn->type == kDynExecImmediate;
      if (sink.dones == 0 && !execute) __builtin_trap();
    } else if (auto lang = std::get_if<LanguageReq>(&r); lang && lang->hasParams) {
      session.ExecuteWithParams(lang->text, lang->params, sink);
    }
  }
  return 0;
}
