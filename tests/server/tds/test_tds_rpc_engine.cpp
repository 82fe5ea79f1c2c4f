// The engine's side of RPCs and prepared statements, and the parameter tokens on the wire.
#include "engine/sqltypes.h"
#include "engine/test_engine_support.h"
#include "tds/params.h"
#include "tds/requests.h"
#include "tds/rpc.h"

namespace sampleserver::testing {
namespace {

ParamValue Param(std::string name, const char* type, std::optional<int> len, Value v,
                 bool output = false) {
  ParamValue p;
  p.name = std::move(name);
  p.type = MakeColumnInfo("", *BuiltinType(type, len, std::nullopt), true);
  p.value = std::move(v);
  p.output = output;
  return p;
}

class RpcEngine : public Pubs2Test {
 protected:
  void SetUp() override {
    Pubs2Test::SetUp();
    auto r =
        Run(*s,
            "create procedure re_calc @a int, @b varchar(10) = 'd', @out varchar(30) output as\n"
            "select @out = @b + convert(varchar, @a)\nreturn @a * 2");
    ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  }
  void TearDown() override { Run(*s, "drop procedure re_calc"); }
};

TEST_F(RpcEngine, CallEndsWithStatusOutputsAndOneFinalDone) {
  RecordingSink sink;
  s->CallProcedure(
      "re_calc",
      {Param("@a", "int", {}, int64_t{21}), Param("@out", "varchar", 30, std::monostate{}, true)},
      sink);
  ASSERT_TRUE(sink.ErrorNumbers().empty()) << sink.messages[0].text;
  ASSERT_GE(sink.events.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(sink.events.end() - 3, sink.events.end()),
            (std::vector<std::string>{"status", "params", "done"}));
  EXPECT_EQ(sink.statuses, std::vector<int32_t>{42});
  ASSERT_EQ(sink.outputs.size(), 1u);
  ASSERT_EQ(sink.outputs[0].columns.size(), 1u);
  EXPECT_EQ(sink.outputs[0].columns[0].name, "@out");
  EXPECT_EQ(sink.outputs[0].columns[0].type, SqlType::VarChar);
  EXPECT_EQ(Text(sink.outputs[0].rows[0][0]), "d21");
  EXPECT_FALSE(sink.dones.back().inProc);

  // A qualified name reaches the same procedure; an unknown one fails with 2812 and no status.
  sink.Clear();
  s->CallProcedure("pubs2..re_calc",
                   {Param("", "int", {}, int64_t{1}), Param("", "char", 3, std::string("x")),
                    Param("", "varchar", 30, std::monostate{})},
                   sink);
  EXPECT_TRUE(sink.ErrorNumbers().empty());
  EXPECT_EQ(sink.statuses, std::vector<int32_t>{2});
  EXPECT_TRUE(sink.outputs.empty());  // nothing was asked back
  sink.Clear();
  s->CallProcedure("re_nothing", {}, sink);
  EXPECT_EQ(sink.ErrorNumbers(), std::vector<int>{2812});
  EXPECT_TRUE(sink.statuses.empty());
  ASSERT_EQ(sink.dones.size(), 1u);
  EXPECT_TRUE(sink.dones[0].status & kDoneError);
}

TEST_F(RpcEngine, LanguageExecAssignsReturnAndOutputVariables) {
  auto r = Run(
      *s, "declare @rc int, @o varchar(30)\nexec @rc = re_calc 4, 'z', @o output\nselect @rc, @o");
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  ASSERT_EQ(r.sets.size(), 1u);
  EXPECT_EQ(Text(r.sets[0].rows[0][0]), "8");
  EXPECT_EQ(Text(r.sets[0].rows[0][1]), "z4");
  ASSERT_EQ(r.outputs.size(), 1u);
  EXPECT_EQ(r.outputs[0].columns[0].name, "@out");
  EXPECT_EQ(Text(r.outputs[0].rows[0][0]), "z4");
  EXPECT_EQ(Run(*s, "exec @nope = re_calc 1, 'a', null").ErrorNumbers(), std::vector<int>{137});
}

TEST_F(RpcEngine, PreparedStatementsAreKeptByIdAndReplaced) {
  RecordingSink sink;
  PreparedInfo info;
  ASSERT_TRUE(s->Prepare(
      "p", "create proc p as select title_id, price from titles where price > ? and title <> '?'",
      &info, sink));
  EXPECT_EQ(info.params.size(), 1u);
  ASSERT_EQ(info.columns.size(), 2u);
  EXPECT_EQ(info.columns[1].name, "price");
  EXPECT_EQ(info.columns[1].type, SqlType::Money);
  s->ExecutePrepared("p", {Param("", "money", {}, MoneyValue{100000})}, sink);
  ASSERT_TRUE(sink.ErrorNumbers().empty()) << sink.messages[0].text;
  ASSERT_EQ(sink.sets.size(), 1u);
  size_t expensive = sink.sets[0].rows.size();
  EXPECT_GT(expensive, 0u);
  for (const auto& row : sink.sets[0].rows) EXPECT_GT(std::get<MoneyValue>(row[1]).units, 100000);

  // The same id prepared again runs the new statement.
  ASSERT_TRUE(s->Prepare("p", "select count(*) from titles where price > ?", &info, sink));
  sink.Clear();
  s->ExecutePrepared("p", {Param("", "int", {}, int64_t{10})}, sink);
  ASSERT_EQ(sink.sets.size(), 1u);
  EXPECT_EQ(Text(sink.sets[0].rows[0][0]), std::to_string(expensive));

  EXPECT_TRUE(s->Deallocate("p", sink));
  sink.Clear();
  EXPECT_FALSE(s->Deallocate("p", sink));
  EXPECT_EQ(sink.messages.size(), 1u);
  sink.Clear();
  s->ExecutePrepared("p", {}, sink);
  EXPECT_FALSE(sink.ErrorNumbers().empty());
  EXPECT_TRUE(sink.dones.back().status & kDoneError);
}

TEST_F(RpcEngine, LanguageParametersAreTheBatchsVariables) {
  RecordingSink sink;
  s->ExecuteWithParams(
      "select @P1 + 1, @name",
      {Param("", "int", {}, int64_t{41}), Param("@name", "char", 4, std::string("ab"))}, sink);
  ASSERT_TRUE(sink.ErrorNumbers().empty()) << sink.messages[0].text;
  ASSERT_EQ(sink.sets.size(), 1u);
  EXPECT_EQ(Text(sink.sets[0].rows[0][0]), "42");
  EXPECT_EQ(Text(sink.sets[0].rows[0][1]), "ab");  // not padded to the client's buffer size
}

TEST_F(RpcEngine, DynamicRequestsAnswerWithAcknowledgementsAndResults) {
  struct Out : tds::TokenOutput {
    tds::ByteWriter w;
    tds::ByteWriter& Begin() override { return w; }
    void End() override {}
  } out;
  RecordingSink sink;
  tds::DynamicReq prepare;
  prepare.type = tds::kDynPrepare;
  prepare.id = "q1";
  prepare.statement = "create proc q1 as select ? * 2";
  tds::HandleDynamic(*s, prepare, sink, out);
  EXPECT_TRUE(sink.ErrorNumbers().empty());
  ASSERT_EQ(sink.dones.size(), 1u);
  EXPECT_EQ(sink.dones[0].status, 0);
  // DYNAMIC ack for "q1", then the parameter and column descriptions.
  const std::vector<uint8_t>& b = out.w.Buffer();
  ASSERT_GT(b.size(), 8u);
  EXPECT_EQ((std::vector<uint8_t>(b.begin(), b.begin() + 7)),
            (std::vector<uint8_t>{0xE7, 0x05, 0x00, 0x20, 0x00, 0x02, 'q'}));
  EXPECT_EQ(b[8], 0xEC);

  tds::DynamicReq exec;
  exec.type = tds::kDynExecute;
  exec.id = "q1";
  exec.params = {Param("", "int", {}, int64_t{21})};
  sink.Clear();
  tds::HandleDynamic(*s, exec, sink, out);
  ASSERT_EQ(sink.sets.size(), 1u);
  EXPECT_EQ(Text(sink.sets[0].rows[0][0]), "42");

  // Executed at once: the statement is not kept.
  tds::DynamicReq now = exec;
  now.type = tds::kDynExecImmediate;
  now.id = "q2";
  now.statement = "create proc q2 as select ? + 1";
  sink.Clear();
  tds::HandleDynamic(*s, now, sink, out);
  ASSERT_EQ(sink.sets.size(), 1u);
  EXPECT_EQ(Text(sink.sets[0].rows[0][0]), "22");
  sink.Clear();
  EXPECT_FALSE(s->Deallocate("q2", sink));

  tds::DynamicReq unknown;
  unknown.type = 0x10;
  sink.Clear();
  tds::HandleDynamic(*s, unknown, sink, out);
  EXPECT_EQ(sink.ErrorNumbers().size(), 1u);
  ASSERT_EQ(sink.dones.size(), 1u);
  EXPECT_TRUE(sink.dones[0].status & kDoneError);
}

// ---- the tokens

using tds::ByteReader;
using tds::ByteWriter;

ColumnInfo Described(const char* name, const char* type, std::optional<int> a1 = {},
                     std::optional<int> a2 = {}) {
  return MakeColumnInfo(name, *BuiltinType(type, a1, a2), true);
}

TEST(TdsParams, OutputParametersReadBackAsTheyWereWritten) {
  std::vector<ColumnInfo> cols = {
      Described("@i", "int"),
      Described("@t", "tinyint"),
      Described("@b", "bigint"),
      Described("@f", "float"),
      Described("@r", "real"),
      Described("@m", "money"),
      Described("@sm", "smallmoney"),
      Described("@d", "datetime"),
      Described("@sd", "smalldatetime"),
      Described("@n", "numeric", 20, 4),
      Described("@c", "varchar", 300),
      Described("@v", "varbinary", 4),
      Described("@tx", "text"),
      Described("@im", "image"),
      Described("@bit", "bit"),
      Described("@null", "int"),
      Described("@nn", "numeric", 5, 0),
      Described("@nt", "text"),
  };
  NumericValue n;
  n.negative = true;
  n.digits = "123456789012345678";
  n.precision = 20;
  n.scale = 4;
  std::vector<Value> values = {int64_t{-7},
                               int64_t{255},
                               int64_t{-5000000000},
                               2.5,
                               -0.25,
                               MoneyValue{-123456789012},
                               MoneyValue{-50000},
                               DateTimeValue{-2, 300},
                               DateTimeValue{40000, 18000 * 61},
                               n,
                               std::string(300, 'q'),
                               Bytes{0, 1, 2},
                               std::string(70000, 't'),
                               Bytes(1000, 0xAB),
                               int64_t{1},
                               std::monostate{},
                               std::monostate{},
                               std::monostate{}};
  ByteWriter w;
  tds::WriteOutputParams(w, cols, values);
  ByteReader r(w.Buffer());
  std::vector<ParamValue> back = tds::ReadParams(r);
  EXPECT_TRUE(r.AtEnd());
  ASSERT_EQ(back.size(), cols.size());
  for (size_t i = 0; i < cols.size(); ++i) {
    EXPECT_EQ(back[i].name, cols[i].name);
    EXPECT_TRUE(back[i].output) << cols[i].name;
    EXPECT_EQ(back[i].type.type, cols[i].type) << cols[i].name;
    EXPECT_EQ(Text(back[i].value, cols[i].type), Text(values[i], cols[i].type)) << cols[i].name;
  }
  EXPECT_EQ(back[9].type.precision, 20);
  EXPECT_EQ(back[9].type.scale, 4);
  EXPECT_EQ(back[10].type.length, 300);
}

TEST(TdsParams, RequestsCarryTheirParametersAndMalformedOnesAreRefused) {
  // An RPC as FreeTDS sends it (see the protocol notes): @in = 77 and @out = 4, an output.
  std::vector<uint8_t> rpc = {
      0xE6, 0x09, 0x00, 0x06, 'm',  'y', 'p',  'r', 'o',  'c',  0x02, 0x00, 0xEC, 0x1B, 0x00,
      0x02, 0x00, 0x03, '@',  'i',  'n', 0x00, 0,   0,    0,    0,    0x26, 0x04, 0x00, 0x04,
      '@',  'o',  'u',  't',  0x01, 0,   0,    0,   0,    0x26, 0x04, 0x00, 0xD7, 0x04, 0x4D,
      0,    0,    0,    0x04, 0x04, 0,   0,    0,   0x21, 0x02, 0,    0,    0,    0x00, 'x'};
  std::vector<tds::Request> reqs = tds::ParseRequests(rpc);
  ASSERT_EQ(reqs.size(), 2u);  // the language command after the parameters is read too
  const auto& call = std::get<tds::RpcReq>(reqs[0]);
  EXPECT_EQ(call.name, "myproc");
  ASSERT_EQ(call.params.size(), 2u);
  EXPECT_EQ(call.params[0].name, "@in");
  EXPECT_FALSE(call.params[0].output);
  EXPECT_EQ(std::get<int64_t>(call.params[0].value), 77);
  EXPECT_TRUE(call.params[1].output);
  EXPECT_EQ(std::get<int64_t>(call.params[1].value), 4);
  EXPECT_EQ(std::get<tds::LanguageReq>(reqs[1]).text, "x");

  // A dynamic execute with a NULL char parameter.
  std::vector<uint8_t> dyn = {0xE7, 0x05, 0x00, 0x02, 0x01, 0x00, 0x00, 0x00,
                              0xEC, 0x0B, 0x00, 0x01, 0x00, 0x00, 0x00, 0,
                              0,    0,    0,    0x2F, 0x0A, 0x00, 0xD7, 0x00};
  reqs = tds::ParseRequests(dyn);
  ASSERT_EQ(reqs.size(), 1u);
  const auto& exec = std::get<tds::DynamicReq>(reqs[0]);
  EXPECT_EQ(exec.type, tds::kDynExecute);
  ASSERT_EQ(exec.params.size(), 1u);
  EXPECT_TRUE(IsNull(exec.params[0].value));
  EXPECT_EQ(exec.params[0].type.type, SqlType::Char);

  auto bad = [&](std::vector<uint8_t> tail) {
    std::vector<uint8_t> m = {0xE6, 0x04, 0x00, 0x01, 'p', 0x02, 0x00};
    for (uint8_t b : tail) m.push_back(b);
    return m;
  };
  // Values missing, an INTN of size 3, a type the server does not know, a short value.
  EXPECT_THROW(tds::ParseRequests(
                   bad({0xEC, 0x0B, 0x00, 0x01, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0x26, 0x04, 0x00})),
               tds::ProtocolError);
  EXPECT_THROW(tds::ParseRequests(bad({0xEC, 0x0B, 0x00, 0x01, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0x26,
                                       0x03, 0x00, 0xD7, 0x03, 1, 2, 3})),
               tds::ProtocolError);
  EXPECT_THROW(tds::ParseRequests(bad(
                   {0xEC, 0x0A, 0x00, 0x01, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0x99, 0x00, 0xD7, 0x00})),
               tds::ProtocolError);
  EXPECT_THROW(tds::ParseRequests(bad({0xEC, 0x0B, 0x00, 0x01, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0x26,
                                       0x04, 0x00, 0xD7, 0x04, 1, 2})),
               tds::ProtocolError);
}

}  // namespace
}  // namespace sampleserver::testing
