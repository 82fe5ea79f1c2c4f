// Arbitrary bulk rows: through the row decoder over a layout the input chooses, and as bulk
// messages through a real session into a table of every type.
#include "engine/engine.h"
#include "tds/bulk.h"
#include "tds/wire.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

using namespace sampleserver;

class CountingSink final : public ResultSink {
 public:
  void Columns(const std::vector<ColumnInfo>&) override {}
  void Row(const std::vector<Value>&) override {}
  void Done(uint16_t, int32_t, bool) override { ++dones; }
  void Message(const ServerMessage&) override {}
  void DatabaseChanged(const std::string&, const std::string&) override {}
  void ReturnStatus(int32_t) override {}
  bool Cancelled() const override { return false; }
  int dones = 0;
};

ColumnInfo Column(uint8_t pick) {
  static const SqlType kTypes[] = {SqlType::TinyInt,    SqlType::SmallInt,  SqlType::Int,
                                   SqlType::BigInt,     SqlType::Bit,       SqlType::Numeric,
                                   SqlType::Float,      SqlType::Real,      SqlType::Money,
                                   SqlType::SmallMoney, SqlType::DateTime,  SqlType::SmallDateTime,
                                   SqlType::Char,       SqlType::VarChar,   SqlType::Text,
                                   SqlType::Binary,     SqlType::VarBinary, SqlType::Image};
  ColumnInfo c;
  c.type = kTypes[pick % 18];
  c.nullable = (pick & 0x80) != 0;
  c.length = 4;
  if (c.type == SqlType::Numeric) c.precision = static_cast<uint8_t>(1 + pick % 38), c.scale = 2;
  if (c.type == SqlType::Char || c.type == SqlType::VarChar || c.type == SqlType::Binary ||
      c.type == SqlType::VarBinary)
    c.length = 1 + (pick >> 3) * 20;
  if (c.type == SqlType::Text || c.type == SqlType::Image) c.length = 0x7FFFFFFF;
  return c;
}

void Decoder(const uint8_t* data, size_t size) {
  if (size < 2) return;
  size_t n = data[0] % 24 + 1;
  if (size < 2 + n) return;
  std::vector<ColumnInfo> columns;
  for (size_t i = 0; i < n; ++i) columns.push_back(Column(data[2 + i]));
  size_t chunk = data[1] % 64 + 1;
  tds::BulkStream stream(columns);
  try {
    for (size_t pos = 2 + n; pos < size; pos += chunk) {
      size_t len = pos + chunk <= size ? chunk : size - pos;
      stream.Feed(data + pos, len, [&](std::vector<Value>& row) {
        if (row.size() != columns.size()) __builtin_trap();
      });
    }
  } catch (const tds::ProtocolError&) {
  }
}

struct SessionUnderTest {
  std::unique_ptr<Engine> engine;
  std::unique_ptr<Session> session;
};

SessionUnderTest& Shared() {
  static SessionUnderTest s = [] {
    SessionUnderTest t;
    t.engine = Engine::Create({});
    LoginRequest login;
    login.user = "sa";
    login.bulkCopy = true;
    ServerMessage failure;
    t.session = t.engine->Login(login, &failure);
    CountingSink sink;
    t.session->Execute(
        "create table fz (a int not null, b int null, c bit not null, d numeric(10,2) null, "
        "e varchar(300) null, f char(3) not null, g datetime null, h money null, i text null, "
        "j image null, k float not null, l smalldatetime null)",
        sink);
    return t;
  }();
  return s;
}

void ThroughSession(const uint8_t* data, size_t size) {
  SessionUnderTest& s = Shared();
  tds::BulkCopy copy;
  CountingSink sink;
  copy.Begin(*s.session, "fz", sink);
  if (sink.dones != 1 || !copy.Open()) __builtin_trap();
  size_t chunk = size > 0 ? data[0] % 200 + 1 : 1;
  for (size_t pos = 1; pos < size; pos += chunk) {
    size_t len = pos + chunk <= size ? chunk : size - pos;
    tds::Message m{tds::kPacketBulk, std::vector<uint8_t>(data + pos, data + pos + len),
                   pos + len < size};
    copy.Piece(m, sink);
  }
  if (size <= 1) copy.Piece(tds::Message{tds::kPacketBulk, {}, false}, sink);
  // One Done for "insert bulk" and one for the batch, whatever the rows were.
  if (sink.dones != 2 || copy.Open()) __builtin_trap();
  s.session->Execute("delete fz", sink);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  if (data[0] & 1)
    Decoder(data + 1, size - 1);
  else
    ThroughSession(data + 1, size - 1);
  return 0;
}
