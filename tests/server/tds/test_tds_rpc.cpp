// Procedures through FreeTDS's Client-Library against the real engine: RPCs with input, output
// and input-output parameters of every type, NULLs, return statuses, language execs and errors.
#include "tds_ctlib.h"

#include <cstring>

namespace tdstest {
namespace {

using Row = std::vector<std::optional<std::string>>;

// One ct_param: the value is given as text and converted to the native type by cs_convert, so
// what travels is the type's own encoding.
struct Param {
  std::string name;
  CS_INT type = CS_CHAR_TYPE;
  std::optional<std::string> text;  // nullopt: NULL
  bool output = false;
  CS_INT maxlength = 0;  // character and binary types
  CS_INT precision = 0;  // numeric
  CS_INT scale = 0;
};

// Keeps the converted values alive until ct_send has copied them.
struct ParamBuffers {
  std::vector<std::vector<char>> data;
};

void AddParams(CS_CONTEXT* ctx, CS_COMMAND* cmd, const std::vector<Param>& params,
               ParamBuffers& keep) {
  for (const Param& p : params) {
    CS_DATAFMT f{};
    std::strncpy(f.name, p.name.c_str(), sizeof f.name - 1);
    f.namelen = p.name.empty() ? 0 : static_cast<CS_INT>(p.name.size());
    f.datatype = p.type;
    f.status = p.output ? CS_RETURN : CS_INPUTVALUE;
    f.maxlength = p.maxlength;
    f.precision = p.precision;
    f.scale = p.scale;
    keep.data.emplace_back(std::max<size_t>(64, static_cast<size_t>(p.maxlength) + 1), 0);
    std::vector<char>& buf = keep.data.back();
    CS_INT len = 0;
    if (p.text) {
      if (p.type == CS_CHAR_TYPE || p.type == CS_VARCHAR_TYPE || p.type == CS_TEXT_TYPE ||
          p.type == CS_LONGCHAR_TYPE) {
        buf.assign(p.text->begin(), p.text->end());
        buf.push_back(0);
        len = static_cast<CS_INT>(p.text->size());
      } else {
        CS_DATAFMT src{};
        src.datatype = CS_CHAR_TYPE;
        src.maxlength = static_cast<CS_INT>(p.text->size());
        CS_DATAFMT dst{};
        dst.datatype = p.type == CS_VARBINARY_TYPE ? CS_BINARY_TYPE : p.type;
        dst.maxlength = static_cast<CS_INT>(buf.size());
        // Binary conversion fills the whole buffer: give it the value's own size.
        if (p.type == CS_BINARY_TYPE)
          dst.maxlength = p.maxlength ? p.maxlength : static_cast<CS_INT>(p.text->size() / 2);
        dst.precision = p.precision;
        dst.scale = p.scale;
        EXPECT_EQ(cs_convert(ctx, &src, const_cast<char*>(p.text->c_str()), &dst, buf.data(), &len),
                  CS_SUCCEED)
            << p.name;
      }
    }
    if (f.maxlength == 0) f.maxlength = len;
    EXPECT_EQ(ct_param(cmd, &f, p.text ? buf.data() : nullptr, p.text ? len : 0,
                       static_cast<CS_SMALLINT>(p.text ? 0 : -1)),
              CS_SUCCEED)
        << p.name;
  }
}

class TdsRpcTest : public RealServerTest {
 protected:
  // Runs SQL that must succeed.
  void Must(const std::string& sql) {
    Outcome o = client->Run(sql);
    ASSERT_EQ(std::count(o.types.begin(), o.types.end(), CS_CMD_FAIL), 0)
        << sql << ": " << (client->serverMsgs.empty() ? "" : client->serverMsgs.back().text);
  }

  Outcome Rpc(const std::string& proc, const std::vector<Param>& params) {
    CS_COMMAND* cmd = nullptr;
    Outcome out;
    if (ct_cmd_alloc(client->Connection(), &cmd) != CS_SUCCEED) return out;
    std::unique_ptr<CS_COMMAND, CS_RETCODE (*)(CS_COMMAND*)> guard(cmd, ct_cmd_drop);
    EXPECT_EQ(
        ct_command(cmd, CS_RPC_CMD, const_cast<char*>(proc.c_str()), CS_NULLTERM, CS_NO_RECOMPILE),
        CS_SUCCEED);
    ParamBuffers keep;
    AddParams(client->Context(), cmd, params, keep);
    if (ct_send(cmd) != CS_SUCCEED) return out;
    Client::Drain(cmd, out);
    return out;
  }

  // The rows of the result sets of one kind, in order.
  static std::vector<ResultSet> SetsOf(const Outcome& o, CS_INT type) {
    std::vector<ResultSet> out;
    size_t set = 0;
    for (CS_INT t : o.types) {
      if (t != CS_ROW_RESULT && t != CS_CURSOR_RESULT && t != CS_STATUS_RESULT &&
          t != CS_PARAM_RESULT)
        continue;
      if (t == type && set < o.sets.size()) out.push_back(o.sets[set]);
      ++set;
    }
    return out;
  }
  static std::string NameOf(const CS_DATAFMT& f) {
    return std::string(f.name, static_cast<size_t>(f.namelen));
  }
};

constexpr const char* kCalc =
    "create procedure rpc_calc @a int, @b varchar(20) = 'dflt', @sum int output, @echo varchar(40) "
    "= null output\n"
    "as\n"
    "select @sum = @a + isnull(@sum, 0)\n"
    "select @echo = @b + '/' + isnull(@echo, 'none')\n"
    "select @a as a, @b as b\n"
    "return 7\n";

TEST_F(TdsRpcTest, RpcReturnsStatusAndInputOutputParameters) {
  Must(kCalc);
  Outcome o = Rpc("rpc_calc", {{"@a", CS_INT_TYPE, "5"},
                               {"@b", CS_CHAR_TYPE, "xy", false, 20},
                               {"@sum", CS_INT_TYPE, "10", true},
                               {"@echo", CS_CHAR_TYPE, std::nullopt, true, 40}});
  EXPECT_EQ(o.end, CS_END_RESULTS);
  EXPECT_EQ(o.types, (std::vector<CS_INT>{CS_ROW_RESULT, CS_CMD_DONE, CS_STATUS_RESULT,
                                          CS_PARAM_RESULT, CS_CMD_SUCCEED, CS_CMD_DONE}));
  auto rows = SetsOf(o, CS_ROW_RESULT);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].rows, (std::vector<Row>{{"5", "xy"}}));
  auto status = SetsOf(o, CS_STATUS_RESULT);
  ASSERT_EQ(status.size(), 1u);
  EXPECT_EQ(status[0].rows, (std::vector<Row>{{"7"}}));
  auto params = SetsOf(o, CS_PARAM_RESULT);
  ASSERT_EQ(params.size(), 1u);
  ASSERT_EQ(params[0].formats.size(), 2u);  // outputs only, in the order given
  EXPECT_EQ(NameOf(params[0].formats[0]), "@sum");
  EXPECT_EQ(NameOf(params[0].formats[1]), "@echo");
  EXPECT_EQ(params[0].formats[0].datatype, CS_INT_TYPE);
  EXPECT_EQ(params[0].rows, (std::vector<Row>{{"15", "xy/none"}}));

  // Positional arguments, a default, and the session stays in step for the next command.
  o = Rpc("rpc_calc", {{"", CS_INT_TYPE, "1"},
                       {"", CS_CHAR_TYPE, "p", false, 5},
                       {"", CS_INT_TYPE, std::nullopt, true}});
  params = SetsOf(o, CS_PARAM_RESULT);
  ASSERT_EQ(params.size(), 1u);
  ASSERT_EQ(params[0].formats.size(), 1u);
  EXPECT_EQ(NameOf(params[0].formats[0]), "@sum");  // unnamed: the procedure's own name
  EXPECT_EQ(params[0].rows, (std::vector<Row>{{"1"}}));
  EXPECT_EQ(client->Run("select 42").sets.at(0).rows, (std::vector<Row>{{"42"}}));
}

TEST_F(TdsRpcTest, LanguageExecReportsStatusAndOutputsOfTheOutermostCallOnly) {
  Must(kCalc);
  Must(
      "create procedure rpc_outer @n int output as\n"
      "declare @e varchar(40)\n"
      "exec rpc_calc 1, 'in', @n output, @e output\n"
      "return @n\n");
  Outcome o = client->Run(
      "declare @s int, @e varchar(40), @rc int\n"
      "select @s = 2\n"
      "exec @rc = rpc_calc @a = 3, @sum = @s output, @echo = @e output\n"
      "select @s, @e, @rc\n");
  EXPECT_EQ(o.end, CS_END_RESULTS);
  EXPECT_EQ(o.types, (std::vector<CS_INT>{CS_CMD_SUCCEED, CS_CMD_DONE, CS_ROW_RESULT, CS_CMD_DONE,
                                          CS_STATUS_RESULT, CS_PARAM_RESULT, CS_CMD_SUCCEED,
                                          CS_CMD_DONE, CS_ROW_RESULT, CS_CMD_DONE}));
  auto status = SetsOf(o, CS_STATUS_RESULT);
  ASSERT_EQ(status.size(), 1u);
  EXPECT_EQ(status[0].rows, (std::vector<Row>{{"7"}}));
  auto params = SetsOf(o, CS_PARAM_RESULT);
  ASSERT_EQ(params.size(), 1u);
  EXPECT_EQ(params[0].rows, (std::vector<Row>{{"5", "dflt/none"}}));
  auto rows = SetsOf(o, CS_ROW_RESULT);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].rows, (std::vector<Row>{{"5", "dflt/none", "7"}}));  // the caller's variables

  // A procedure without a return value reports 0, whatever the procedures it called returned.
  Must("create procedure rpc_silent as exec rpc_calc 1, 'a', null");
  o = client->Run("exec rpc_silent");
  status = SetsOf(o, CS_STATUS_RESULT);
  ASSERT_EQ(status.size(), 1u);
  EXPECT_EQ(status[0].rows, (std::vector<Row>{{"0"}}));

  // The nested call's status and outputs stay inside the outer procedure.
  o = Rpc("rpc_outer", {{"@n", CS_INT_TYPE, "4", true}});
  status = SetsOf(o, CS_STATUS_RESULT);
  ASSERT_EQ(status.size(), 1u);
  EXPECT_EQ(status[0].rows, (std::vector<Row>{{"5"}}));
  params = SetsOf(o, CS_PARAM_RESULT);
  ASSERT_EQ(params.size(), 1u);
  EXPECT_EQ(params[0].rows, (std::vector<Row>{{"5"}}));
}

TEST_F(TdsRpcTest, EveryParameterTypeTravelsBothWaysAndNullsStayNull) {
  Must(
      "create procedure rpc_types @i int output, @si smallint output, @ti tinyint output,\n"
      " @bi bigint output, @f float output, @r real output, @m money output, @sm smallmoney "
      "output,\n"
      " @dt datetime output, @sdt smalldatetime output, @n numeric(12,3) output, @c char(6) "
      "output,\n"
      " @vc varchar(30) output, @b binary(3) output, @vb varbinary(10) output, @bit bit output\n"
      "as\n"
      "select @i = @i + 1, @si = @si + 1, @ti = @ti + 1, @bi = @bi + 1, @f = @f * 2, @r = @r * 2,\n"
      " @m = @m + $1, @sm = @sm + $1, @dt = dateadd(dd, 1, @dt), @sdt = dateadd(dd, 1, @sdt),\n"
      " @n = @n * 2, @c = upper(@c), @vc = @vc + '!', @b = @b, @vb = @vb + 0xff, @bit = 1 - @bit\n"
      "return 0\n");
  std::vector<Param> values = {
      {"@i", CS_INT_TYPE, "-2147483000", true},
      {"@si", CS_SMALLINT_TYPE, "-300", true},
      {"@ti", CS_TINYINT_TYPE, "254", true},
      {"@bi", CS_BIGINT_TYPE, "9000000000000", true},
      {"@f", CS_FLOAT_TYPE, "1.25", true},
      {"@r", CS_REAL_TYPE, "-0.5", true},
      {"@m", CS_MONEY_TYPE, "123456789.1234", true},
      {"@sm", CS_MONEY4_TYPE, "-12.5", true},
      {"@dt", CS_DATETIME_TYPE, "Dec 31 1999 11:59PM", true},
      {"@sdt", CS_DATETIME4_TYPE, "Feb 28 2000 10:30AM", true},
      {"@n", CS_NUMERIC_TYPE, "-1234.567", true, 0, 12, 3},
      {"@c", CS_CHAR_TYPE, "abc", true, 6},
      {"@vc", CS_CHAR_TYPE, "héllo", true, 30},
      {"@b", CS_BINARY_TYPE, "0a0b0c", true, 3},
      {"@vb", CS_BINARY_TYPE, "01", true},
      {"@bit", CS_BIT_TYPE, "1", true},
  };
  Outcome o = Rpc("rpc_types", values);
  ASSERT_EQ(o.end, CS_END_RESULTS)
      << (client->serverMsgs.empty() ? "" : client->serverMsgs.back().text);
  auto params = SetsOf(o, CS_PARAM_RESULT);
  ASSERT_EQ(params.size(), 1u);
  ASSERT_EQ(params[0].rows.size(), 1u);
  const Row& r = params[0].rows[0];
  ASSERT_EQ(r.size(), values.size());
  Row expected = {"-2147482999",
                  "-299",
                  "255",
                  "9000000000001",
                  "2.5",
                  "-1",
                  "123456790.1234",
                  "-11.5000",
                  "Jan  1 2000 11:59PM",
                  "Feb 29 2000 10:30AM",
                  "-2469.134",
                  "ABC",
                  "héllo!",
                  "0a0b0c",
                  "01ff",
                  "0"};
  for (size_t i = 0; i < r.size(); ++i) {
    ASSERT_TRUE(r[i].has_value()) << values[i].name;
    // Character data comes back blank-padded to its declared length.
    std::string got = *r[i];
    while (!got.empty() && got.back() == ' ') got.pop_back();
    EXPECT_EQ(got, *expected[i]) << values[i].name;
  }
  for (size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(NameOf(params[0].formats[i]), values[i].name);
  }

  // The same call with the values NULL: NULL in, NULL out. Bit cannot be NULL, and FreeTDS sends
  // bigint in its fixed-size form, which has no NULL (it asserts on one).
  for (auto& p : values)
    if (p.name != "@bi" && p.name != "@bit") p.text.reset();
  o = Rpc("rpc_types", values);
  ASSERT_EQ(o.end, CS_END_RESULTS);
  params = SetsOf(o, CS_PARAM_RESULT);
  ASSERT_EQ(params.size(), 1u);
  ASSERT_EQ(params[0].rows.size(), 1u);
  for (size_t i = 0; i < values.size(); ++i) {
    if (values[i].text) continue;
    EXPECT_FALSE(params[0].rows[0][i].has_value())
        << values[i].name << " = " << *params[0].rows[0][i];
  }
  EXPECT_EQ(params[0].rows[0][3], "9000000000001");
  EXPECT_EQ(params[0].rows[0][15], "0");
}

TEST_F(TdsRpcTest, FailuresEndTheCallWithAMessageAndTheErrorBit) {
  Must(kCalc);
  // Unknown procedure.
  Outcome o = Rpc("rpc_nothing", {{"@a", CS_INT_TYPE, "1"}});
  EXPECT_EQ(o.types, (std::vector<CS_INT>{CS_CMD_FAIL, CS_CMD_DONE}));
  ASSERT_FALSE(client->serverMsgs.empty());
  EXPECT_EQ(client->serverMsgs.back().number, 2812);
  EXPECT_NE(client->serverMsgs.back().text.find("rpc_nothing"), std::string::npos);
  // A required parameter left out.
  o = Rpc("rpc_calc", {{"@a", CS_INT_TYPE, "1"}});
  EXPECT_EQ(o.types, (std::vector<CS_INT>{CS_CMD_FAIL, CS_CMD_DONE}));
  EXPECT_EQ(client->serverMsgs.back().number, 201);
  EXPECT_NE(client->serverMsgs.back().text.find("@sum"), std::string::npos);
  // A value the parameter's type cannot take.
  size_t before = client->serverMsgs.size();
  o = Rpc("rpc_calc",
          {{"@a", CS_CHAR_TYPE, "not a number", false, 20}, {"@sum", CS_INT_TYPE, "1", true}});
  EXPECT_EQ(o.types, (std::vector<CS_INT>{CS_CMD_FAIL, CS_CMD_DONE}));
  ASSERT_GT(client->serverMsgs.size(), before);
  EXPECT_GT(client->serverMsgs.back().severity, 10);
  // Nesting beyond 16 levels stops with 217, and the session goes on.
  Must(
      "create procedure rpc_deep @n int as if @n > 0 begin select @n = @n - 1 exec rpc_deep @n "
      "end");
  o = Rpc("rpc_deep", {{"@n", CS_INT_TYPE, "15"}});
  EXPECT_EQ(std::count(o.types.begin(), o.types.end(), CS_CMD_FAIL), 0);
  before = client->serverMsgs.size();
  o = Rpc("rpc_deep", {{"@n", CS_INT_TYPE, "40"}});
  ASSERT_GT(client->serverMsgs.size(), before);
  EXPECT_EQ(client->serverMsgs[before].number, 217);
  EXPECT_EQ(client->Run("select @@nestlevel").sets.at(0).rows, (std::vector<Row>{{"0"}}));

  // A statement failing inside the procedure: the rest runs, the status is -6 and the call fails.
  Must("create table rpc_nn (a int not null)");
  Must("create procedure rpc_fail as insert rpc_nn values (null) select 2");
  o = Rpc("rpc_fail", {});
  EXPECT_EQ(o.types, (std::vector<CS_INT>{CS_ROW_RESULT, CS_CMD_DONE, CS_STATUS_RESULT, CS_CMD_FAIL,
                                          CS_CMD_DONE}));
  auto status = SetsOf(o, CS_STATUS_RESULT);
  ASSERT_EQ(status.size(), 1u);
  EXPECT_EQ(status[0].rows, (std::vector<Row>{{"-6"}}));
  // An explicit return value stands.
  Must("create procedure rpc_fail2 as insert rpc_nn values (null) return 3");
  o = Rpc("rpc_fail2", {});
  status = SetsOf(o, CS_STATUS_RESULT);
  ASSERT_EQ(status.size(), 1u);
  EXPECT_EQ(status[0].rows, (std::vector<Row>{{"3"}}));
}

TEST_F(TdsRpcTest, SystemProceduresAnswerRpcs) {
  Must(kCalc);
  Outcome o = Rpc("sp_helptext", {{"@objname", CS_CHAR_TYPE, "rpc_calc", false, 30}});
  EXPECT_EQ(o.end, CS_END_RESULTS);
  auto status = SetsOf(o, CS_STATUS_RESULT);
  ASSERT_EQ(status.size(), 1u);
  EXPECT_EQ(status[0].rows, (std::vector<Row>{{"0"}}));
  auto rows = SetsOf(o, CS_ROW_RESULT);
  ASSERT_EQ(rows.size(), 2u);
  std::string text;
  for (const auto& r : rows[1].rows) text += r[0].value_or("");
  EXPECT_NE(text.find("create procedure rpc_calc"), std::string::npos) << text;

  // sp_databases lists every database, named and sized.
  o = Rpc("sp_databases", {});
  rows = SetsOf(o, CS_ROW_RESULT);
  ASSERT_EQ(rows.size(), 1u);
  ASSERT_EQ(rows[0].formats.size(), 3u);
  EXPECT_EQ(NameOf(rows[0].formats[0]), "database_name");
  std::vector<std::string> names;
  for (const auto& r : rows[0].rows) {
    names.push_back(r[0].value_or(""));
    EXPECT_GT(std::stol(r[1].value_or("0")), 0) << names.back();
    EXPECT_FALSE(r[2].has_value());
  }
  EXPECT_EQ(names, (std::vector<std::string>{"master", "pubs2", "tempdb"}));
}

}  // namespace
}  // namespace tdstest
