// Turns the input's bytes into Transact-SQL batches from a small grammar (each byte picks a
// production) and runs them through a real session: statements of every kind, built-in
// functions, datatypes and literals at their edges. The engine must never throw, every batch
// must end with its Done, and results must encode as tokens. Loops are bounded by construction
// so that no input can hang.
#include "engine/engine.h"
#include "tds/tokens.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace sampleserver;
using namespace sampleserver::tds;

// Records the shape of the reply and writes rows as tokens, as the connection would.
class CheckingSink final : public ResultSink {
 public:
  void Columns(const std::vector<ColumnInfo>& columns) override {
    columns_ = columns;
    formats_.clear();
    for (const auto& c : columns) formats_.push_back(FormatOf(c));
    WriteRowFormat(out_, columns);
    last_ = Event::Other;
  }
  void Row(const std::vector<Value>& values) override {
    if (values.size() != columns_.size()) __builtin_trap();
    WriteRow(out_, columns_, formats_, values);
    last_ = Event::Other;
  }
  void Done(uint16_t status, int32_t count, bool inProc) override {
    if (status & kDoneMore) __builtin_trap();  // the protocol layer's bit, never the engine's
    last_ = inProc ? Event::Other : Event::Done;
    (void)count;
  }
  void Message(const ServerMessage&) override { last_ = Event::Other; }
  void DatabaseChanged(const std::string&, const std::string&) override { last_ = Event::Other; }
  void ReturnStatus(int32_t) override { last_ = Event::Other; }
  void ComputeFormats(const std::vector<ComputeFormat>& formats) override {
    for (const auto& f : formats) WriteComputeFormat(out_, f);
    last_ = Event::Other;
  }
  void ComputeRow(uint16_t, const std::vector<Value>&) override { last_ = Event::Other; }
  // A second guard against runaway loops, next to the grammar's own bounds.
  bool Cancelled() const override { return ++polls_ > 5000; }

  bool EndedWithDone() const { return last_ == Event::Done; }
  bool Silent() const { return last_ == Event::None; }
  void Reset() {
    out_ = ByteWriter();
    last_ = Event::None;
    polls_ = 0;
  }

 private:
  enum class Event { None, Done, Other };
  ByteWriter out_;
  std::vector<ColumnInfo> columns_;
  std::vector<WireFormat> formats_;
  Event last_ = Event::None;
  mutable int polls_ = 0;
};

// Reads choices from the input; an exhausted input always picks the first, shortest choice.
class Choices {
 public:
  Choices(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  size_t Pick(size_t n) { return pos_ < size_ ? data_[pos_++] % n : 0; }
  bool Flip() { return Pick(2) == 1; }
  bool AtEnd() const { return pos_ >= size_; }
  template <size_t N>
  const char* From(const char* const (&list)[N]) {
    return list[Pick(N)];
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// clang-format off
const char* const kIntegers[] = {
    "0", "1", "-1", "2", "10", "255", "256", "-32768", "32767", "32768", "65535", "2147483647",
    "-2147483648", "2147483648", "-2147483649", "4294967295", "9223372036854775807",
    "-9223372036854775808", "9223372036854775808", "18446744073709551615", "18446744073709551616"};
const char* const kApprox[] = {
    "1.5", "-0.5", "0.0", "123.456", "0.000001", "99999999999999999999999999999999999999",
    "999999999999999999999999999999999999999", ".5", "1e308", "-1.7e308", "1e-320", "2.5e10",
    "1E+2", "3.14159265358979", "12345678901234567890.123456789"};
const char* const kMoney[] = {"$1.25", "$-3.5", "$922337203685477.5807", "$-922337203685477.5808",
                              "$0", "$214748.3647"};
const char* const kStrings[] = {
    "''", "' '", "'abc'", "'a''b'", "N'x'", "N''", "'Jan 1 1900'", "'2026-12-09 12:34:56.789'",
    "'12:00'", "'9999-12-31 23:59:59.997'", "'1753-01-01'", "'17530101'", "'%a_'", "'[a-c]%'",
    "'123'", "'-12.5e3'", "'0x1f'", "'abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwxyz'",
    "'\xc3\xa9t\xc3\xa9'", "'yes'", "'1'", "'00:00:00.01'", "'mdy'", "'Feb 29 2000 11:59PM'"};
const char* const kBinaries[] = {"0x", "0x00", "0xff", "0x00ff", "0x414243", "0x0123456789abcdef",
                                 "0xffffffffffffffff"};
// clang-format on
const char* const kColumns[] = {"a", "b", "c", "d", "e", "f", "[a]", "t1.a", "x.b", "t2.k"};
const char* const kVariables[] = {"@i", "@s", "@d", "@n", "@i", "@s"};
const char* const kGlobals[] = {
    "@@error",     "@@rowcount",    "@@trancount",      "@@identity",     "@@spid",
    "@@version",   "@@servername",  "@@nestlevel",      "@@textsize",     "@@sqlstatus",
    "@@transtate", "@@tranchained", "@@datefirst",      "@@isolation",    "@@langid",
    "@@language",  "@@maxcharlen",  "@@ncharsize",      "@@char_convert", "@@client_csname",
    "@@dbts",      "@@procid",      "@@max_connections"};
const char* const kTypes[] = {
    "int",          "smallint",     "tinyint",      "bigint",        "ubigint",
    "uint",         "usmallint",    "bit",          "numeric(10,2)", "decimal(38,10)",
    "numeric(1,0)", "dec(5)",       "float",        "real",          "double precision",
    "float(4)",     "money",        "smallmoney",   "char(5)",       "varchar(20)",
    "varchar(255)", "nchar(4)",     "nvarchar(30)", "unichar(3)",    "univarchar(10)",
    "binary(4)",    "varbinary(8)", "datetime",     "smalldatetime", "date",
    "time",         "sysname",      "longsysname",  "character(2)",  "integer",
    "char",         "varchar(1)"};
const char* const kColumnTypes[] = {"text", "image", "unitext", "timestamp"};
const char* const kTables[] = {"t1", "t2", "[t1]", "dbo.t1", "#tmp", "v1", "sysobjects", "no_such"};
const char* const kCompare[] = {"=", "<>", "<", ">", "<=", ">=", "!=", "!<", "!>", "*=", "=*"};
const char* const kArith[] = {"+", "-", "*", "/", "%", "&", "|", "^", "+", "+"};
const char* const kDateParts[] = {
    "year",        "yy",   "quarter",       "month", "mm",   "dayofyear", "day",
    "dd",          "week", "weekday",       "dw",    "hour", "minute",    "second",
    "millisecond", "ms",   "calweekofyear", "bogus"};
const char* const kAggregates[] = {"count", "sum", "avg", "min", "max"};

// name and argument count of the built-in functions (ranges stretched: wrong counts are errors
// the engine must report, not trip over).
struct Function {
  const char* name;
  int minArgs;
  int maxArgs;
};
// clang-format off
const Function kFunctions[] = {
    {"abs", 1, 1}, {"acos", 1, 1}, {"ascii", 1, 1}, {"asin", 1, 1}, {"atan", 1, 1},
    {"atn2", 2, 2}, {"bintostr", 1, 1}, {"ceiling", 1, 1}, {"char", 1, 1},
    {"char_length", 1, 1}, {"charindex", 2, 3}, {"coalesce", 1, 4}, {"cos", 1, 1},
    {"cot", 1, 1}, {"datalength", 1, 1}, {"degrees", 1, 1}, {"difference", 2, 2},
    {"exp", 1, 1}, {"floor", 1, 1}, {"hextoint", 1, 1}, {"inttohex", 1, 1}, {"isnull", 2, 2},
    {"isdate", 1, 1}, {"isnumeric", 1, 1}, {"left", 2, 2}, {"len", 1, 1}, {"log", 1, 1},
    {"log10", 1, 1}, {"lower", 1, 1}, {"ltrim", 1, 1}, {"nullif", 2, 2}, {"patindex", 2, 2},
    {"pi", 0, 0}, {"power", 2, 2}, {"radians", 1, 1}, {"rand", 0, 1}, {"replace", 3, 3},
    {"replicate", 2, 2}, {"reverse", 1, 1}, {"right", 2, 2}, {"round", 2, 3}, {"rtrim", 1, 1},
    {"sign", 1, 1}, {"sin", 1, 1}, {"soundex", 1, 1}, {"space", 1, 1}, {"sqrt", 1, 1},
    {"square", 1, 1}, {"str", 1, 3}, {"str_replace", 3, 3}, {"strtobin", 1, 1},
    {"stuff", 4, 4}, {"substring", 2, 3}, {"tan", 1, 1}, {"trim", 1, 1}, {"upper", 1, 1},
    {"getdate", 0, 0}, {"db_name", 0, 1}, {"db_id", 0, 1}, {"user_name", 0, 1},
    {"user_id", 0, 1}, {"suser_name", 0, 1}, {"suser_id", 0, 1}, {"host_name", 0, 0},
    {"host_id", 0, 0}, {"app_name", 0, 0}, {"object_id", 1, 1}, {"object_name", 1, 2},
    {"col_name", 2, 2}, {"col_length", 2, 2}, {"index_col", 3, 3}, {"valid_name", 1, 1},
    {"valid_user", 1, 1}, {"show_role", 0, 0}, {"proc_role", 1, 1}, {"tempdb_id", 0, 0},
    {"is_sec_service_on", 1, 1}, {"textptr", 1, 1}, {"textvalid", 2, 2}, {"tsequal", 2, 2},
    {"datetime", 1, 2}, {"format", 2, 3}};
// clang-format on

class Generator {
 public:
  explicit Generator(Choices& c) : c_(c) {}

  std::string Literal() {
    switch (c_.Pick(7)) {
      case 0: return c_.From(kIntegers);
      case 1: return c_.From(kApprox);
      case 2: return c_.From(kMoney);
      case 3: return c_.From(kStrings);
      case 4: return c_.From(kBinaries);
      case 5: return "null";
      default: return c_.Flip() ? "-" + std::string(c_.From(kIntegers)) : c_.From(kIntegers);
    }
  }

  std::string Expr(int depth) {
    if (depth <= 0) return c_.Flip() ? Literal() : c_.From(kColumns);
    switch (c_.Pick(14)) {
      case 0: return Literal();
      case 1: return c_.From(kColumns);
      case 2: return c_.From(kVariables);
      case 3: return c_.From(kGlobals);
      case 4: return Expr(depth - 1) + " " + c_.From(kArith) + " " + Expr(depth - 1);
      case 5: return (c_.Flip() ? "-" : "~") + Expr(depth - 1);
      case 6: return "(" + Expr(depth - 1) + ")";
      case 7:
      case 8: return Call(depth - 1);
      case 9: {
        std::string s = "convert(" + std::string(c_.From(kTypes)) + ", " + Expr(depth - 1);
        if (c_.Flip()) s += ", " + std::to_string(c_.Pick(120));
        return s + ")";
      }
      case 10: {
        std::string part = c_.From(kDateParts);
        switch (c_.Pick(4)) {
          case 0: return "dateadd(" + part + ", " + Expr(depth - 1) + ", " + Expr(depth - 1) + ")";
          case 1: return "datediff(" + part + ", " + Expr(depth - 1) + ", " + Expr(depth - 1) + ")";
          case 2: return "datepart(" + part + ", " + Expr(depth - 1) + ")";
          default: return "datename(" + part + ", " + Expr(depth - 1) + ")";
        }
      }
      case 11:
        if (c_.Flip())
          return "case when " + Cond(depth - 1) + " then " + Expr(depth - 1) + " else " +
                 Expr(depth - 1) + " end";
        return "case " + Expr(depth - 1) + " when " + Expr(depth - 1) + " then " + Expr(depth - 1) +
               " end";
      case 12: return "(select " + Expr(depth - 1) + Where(depth - 1) + ")";
      default: return "(select max(a) from " + std::string(c_.From(kTables)) + ")";
    }
  }

  std::string Call(int depth) {
    const Function& f = kFunctions[c_.Pick(std::size(kFunctions))];
    int n = f.minArgs + static_cast<int>(c_.Pick(static_cast<size_t>(f.maxArgs - f.minArgs) + 1));
    if (c_.Pick(16) == 0) n = static_cast<int>(c_.Pick(5));  // a wrong count now and then
    std::string s = std::string(f.name) + "(";
    for (int i = 0; i < n; ++i) s += (i ? ", " : "") + Expr(depth);
    return s + ")";
  }

  std::string Cond(int depth) {
    if (depth <= 0) return Expr(0) + " = " + Expr(0);
    switch (c_.Pick(10)) {
      case 0: return Expr(depth - 1) + " is " + (c_.Flip() ? "not " : "") + "null";
      case 1: return Expr(depth - 1) + (c_.Flip() ? " not" : "") + " like " + c_.From(kStrings);
      case 2: return Expr(depth - 1) + " between " + Expr(depth - 1) + " and " + Expr(depth - 1);
      case 3: return Expr(depth - 1) + " in (" + Expr(depth - 1) + ", " + Expr(depth - 1) + ")";
      case 4:
        return "exists (select 1 from " + std::string(c_.From(kTables)) + Where(depth - 1) + ")";
      case 5: return "not " + Cond(depth - 1);
      case 6: return Cond(depth - 1) + (c_.Flip() ? " and " : " or ") + Cond(depth - 1);
      case 7: return "(" + Cond(depth - 1) + ")";
      case 8: return Expr(depth - 1) + " in (select a from " + c_.From(kTables) + ")";
      default: return Expr(depth - 1) + " " + c_.From(kCompare) + " " + Expr(depth - 1);
    }
  }

  std::string Where(int depth) { return c_.Flip() ? " where " + Cond(depth) : ""; }

  std::string SelectItem(int depth) {
    switch (c_.Pick(6)) {
      case 0: return "*";
      case 1: return "count(*)";
      case 2:
        return std::string(c_.From(kAggregates)) + "(" + (c_.Pick(4) == 0 ? "distinct " : "") +
               Expr(depth) + ")";
      case 3: return Expr(depth) + " as " + (c_.Flip() ? "x" : "[y z]");
      case 4: return "x = " + Expr(depth);
      default: return Expr(depth);
    }
  }

  std::string Select(int depth, bool allowTail = true) {
    std::string s = "select ";
    if (c_.Pick(5) == 0) s += "distinct ";
    if (c_.Pick(5) == 0) s += "top " + std::to_string(c_.Pick(4)) + " ";
    size_t items = 1 + c_.Pick(3);
    for (size_t i = 0; i < items; ++i) s += (i ? ", " : "") + SelectItem(depth);
    if (c_.Pick(6) == 0) s += " into #tmp";
    if (c_.Pick(8) != 0) {
      s += " from " + std::string(c_.From(kTables));
      switch (c_.Pick(6)) {
        case 0: s += " x, t2"; break;
        case 1: s += " x join t2 on x.a = t2.k"; break;
        case 2: s += " x left join t2 on " + Cond(depth); break;
        case 3: s += " x right outer join t1 y on x.a = y.a"; break;
        case 4: s += " x holdlock"; break;
        default: break;
      }
    }
    s += Where(depth);
    if (c_.Pick(4) == 0) {
      s += " group by " + Expr(depth);
      if (c_.Flip()) s += " having " + Cond(depth);
    }
    if (!allowTail) return s;
    if (c_.Pick(4) == 0)
      s += " union " + std::string(c_.Flip() ? "all " : "") + Select(depth, false);
    if (c_.Pick(3) == 0) {
      s += " order by " + std::string(c_.Flip() ? "1" : c_.From(kColumns));
      if (c_.Flip()) s += " desc";
    }
    if (c_.Pick(6) == 0) {
      s += " compute " + std::string(c_.From(kAggregates)) + "(" + c_.From(kColumns) + ")";
      if (c_.Flip()) s += " by " + std::string(c_.From(kColumns));
    }
    if (c_.Pick(10) == 0) s += " for browse";
    if (c_.Pick(12) == 0) s += " at isolation " + std::to_string(c_.Pick(4));
    return s;
  }

  std::string ColumnDef(char name) {
    std::string s(1, name);
    s += " ";
    s += c_.Pick(6) == 0 ? c_.From(kColumnTypes) : c_.From(kTypes);
    switch (c_.Pick(7)) {
      case 0: s += " null"; break;
      case 1: s += " not null"; break;
      case 2: s += " default " + Literal(); break;
      case 3: s += " identity"; break;
      case 4: s += " primary key"; break;
      case 5: s += " check (" + std::string(1, name) + " > 0)"; break;
      default: break;
    }
    return s;
  }

  std::string ObjectName() {
    static const char* const kNames[] = {"t1",  "t2", "t3", "#tmp", "v1",  "p1",
                                         "tr1", "r1", "d1", "i1",   "[t3]"};
    return c_.From(kNames);
  }

  std::string Statement(int depth) {
    switch (c_.Pick(36)) {
      case 0:
      case 1:
      case 2: return Select(depth);
      case 3: {
        std::string s = "insert " + std::string(c_.Flip() ? "into " : "") + c_.From(kTables);
        if (c_.Flip()) s += " (a, b)";
        if (c_.Pick(4) == 0) return s + " " + Select(depth, false);
        return s + " values (" + Expr(depth) + ", " + Expr(depth) + ")";
      }
      case 4:
        return "update " + std::string(c_.From(kTables)) + " set " + c_.From(kColumns) + " = " +
               Expr(depth) + (c_.Flip() ? ", @i = @i + 1" : "") +
               (c_.Flip() ? " from t1, t2 where t1.a = t2.k" : Where(depth));
      case 5:
        return "delete " + std::string(c_.Flip() ? "from " : "") + c_.From(kTables) +
               (c_.Flip() ? " from t1, t2 where t1.a = t2.k" : Where(depth));
      case 6: {
        std::string s = "create table " + ObjectName() + " (";
        size_t n = 1 + c_.Pick(4);
        for (size_t i = 0; i < n; ++i) s += (i ? ", " : "") + ColumnDef(static_cast<char>('a' + i));
        if (c_.Pick(4) == 0) s += ", unique (a)";
        return s + ")";
      }
      case 7: {
        static const char* const kDrop[] = {"table", "view",    "procedure", "trigger",
                                            "rule",  "default", "index"};
        std::string kind = c_.From(kDrop);
        return "drop " + kind + " " + (kind == "index" ? "t1.i1" : ObjectName());
      }
      case 8:
        return "create " + std::string(c_.Flip() ? "unique " : "") +
               (c_.Flip() ? "clustered " : "nonclustered ") + "index i1 on " + c_.From(kTables) +
               " (" + c_.From(kColumns) + (c_.Flip() ? ", b desc" : "") + ")";
      case 9:
        return "create view v1" + std::string(c_.Flip() ? " (p, q)" : "") + " as " +
               Select(depth, false);
      case 10:
        return "create procedure p1 @p int = " + Literal() + ", @q varchar(20) = null output as " +
               Body(depth) + (c_.Flip() ? " return @p" : "");
      case 11:
        return "create trigger tr1 on t1 for " +
               std::string(c_.From({"insert", "update", "delete", "insert, update"})) + " as " +
               (c_.Flip() ? "select count(*) from inserted" : Body(depth)) +
               (c_.Flip() ? " rollback trigger" : "");
      case 12: return "create rule r1 as @v " + std::string(c_.From(kCompare)) + " " + Literal();
      case 13: return "create default d1 as " + Literal();
      case 14: {
        switch (c_.Pick(5)) {
          case 0: return "alter table t1 add z " + std::string(c_.From(kTypes)) + " null";
          case 1: return "alter table t1 drop " + std::string(c_.From(kColumns));
          case 2: return "alter table t2 add constraint c1 check (k > " + Literal() + ")";
          case 3: return "alter table t1 modify b " + std::string(c_.From(kTypes));
          default: return "alter table t2 drop constraint c1";
        }
      }
      case 15: return "declare @x " + std::string(c_.From(kTypes)) + (c_.Flip() ? ", @y int" : "");
      case 16: return "select @i = " + Expr(depth) + (c_.Flip() ? ", @s = " + Expr(depth) : "");
      case 17:
        return "if " + Cond(depth) + " " + Statement(depth - 1) +
               (c_.Flip() ? " else " + Statement(depth - 1) : "");
      case 18:
        // A counter in the condition bounds the loop, whatever the body does to @w.
        return "declare @w int select @w = 0 while @w < 3 and " + Cond(depth - 1) +
               " begin select @w = @w + 1 " + Statement(depth - 1) + (c_.Flip() ? " break" : "") +
               (c_.Flip() ? " continue" : "") + " end";
      case 19: return "begin " + Statement(depth - 1) + " " + Statement(depth - 1) + " end";
      case 20: return c_.Flip() ? "return" : "return " + Expr(0);
      case 21: return Exec(depth);
      case 22: {
        static const char* const kTran[] = {"begin tran",
                                            "begin transaction x",
                                            "commit",
                                            "commit tran",
                                            "rollback",
                                            "rollback tran x",
                                            "save tran s1",
                                            "rollback tran s1",
                                            "set chained on",
                                            "set chained off",
                                            "set transaction isolation level 0",
                                            "set transaction isolation level 3"};
        return c_.From(kTran);
      }
      case 23: return Cursor(depth);
      case 24:
        return "print " +
               std::string(c_.Flip() ? "'%1! and %2!', " + Expr(0) + ", " + Expr(0) : Literal());
      case 25:
        return "raiserror " + std::string(c_.From({"20001", "17000", "50000", "1"})) + " " +
               c_.From(kStrings) + (c_.Flip() ? ", " + Expr(0) : "");
      case 26: return "waitfor delay '00:00:00.0" + std::to_string(c_.Pick(2)) + "'";
      case 27: return Text();
      case 28: return SetOption();
      case 29: return "select " + Call(depth) + ", " + Call(depth);
      case 30: return "use " + std::string(c_.From({"master", "tempdb", "pubs2", "nodb"}));
      case 31: return "truncate table " + std::string(c_.From(kTables));
      case 32: return "dump tran master with truncate_only";
      case 33: return "select " + Expr(depth) + " " + c_.From(kArith) + " " + Expr(depth);
      case 34: return "grant select on t1 to public";
      default: return "checkpoint";
    }
  }

  std::string Body(int depth) {
    std::string s = Statement(depth - 1);
    if (c_.Flip()) s += " " + Statement(depth - 1);
    return s;
  }

  std::string Exec(int depth) {
    static const char* const kProcs[] = {"sp_help",
                                         "sp_columns",
                                         "sp_tables",
                                         "sp_helpindex",
                                         "sp_helptext",
                                         "sp_who",
                                         "sp_helpdb",
                                         "sp_databases",
                                         "sp_pkeys",
                                         "sp_fkeys",
                                         "sp_depends",
                                         "sp_spaceused",
                                         "sp_server_info",
                                         "sp_datatype_info",
                                         "sp_stored_procedures",
                                         "sp_helpconstraint",
                                         "sp_helpuser",
                                         "sp_helpgroup",
                                         "sp_helprotect",
                                         "sp_lock",
                                         "sp_version",
                                         "sp_configure",
                                         "sp_bindrule",
                                         "sp_unbindrule",
                                         "sp_bindefault",
                                         "sp_unbindefault",
                                         "sp_addtype",
                                         "sp_droptype",
                                         "sp_rename",
                                         "sp_procxmode",
                                         "sp_dboption",
                                         "sp_placeobject",
                                         "sp_adduser",
                                         "p1",
                                         "p1",
                                         "p1",
                                         "no_such_proc"};
    std::string name = c_.From(kProcs);
    std::string s = c_.Flip() ? "exec " : "execute ";
    if (c_.Pick(4) == 0) s += "@r = ";
    s += name;
    size_t n = c_.Pick(4);
    for (size_t i = 0; i < n; ++i) {
      s += i ? ", " : " ";
      switch (c_.Pick(5)) {
        case 0: s += ObjectName() == "t1" ? "'t1'" : "'t2'"; break;
        case 1: s += "'t1.a'"; break;
        case 2: s += "@q = @s output"; break;
        case 3: s += "@s output"; break;
        default: s += Expr(depth > 0 ? 1 : 0); break;
      }
    }
    return "declare @r int " + s;
  }

  std::string Cursor(int depth) {
    switch (c_.Pick(6)) {
      case 0:
        return "declare c1 cursor for " + Select(depth, false) +
               (c_.Flip() ? " for update" : " for read only");
      case 1: return "open c1";
      case 2: return c_.Flip() ? "fetch c1" : "fetch c1 into @i, @s";
      case 3: return "close c1";
      case 4: return "deallocate cursor c1";
      default: return "update t1 set b = 'u' where current of c1";
    }
  }

  std::string Text() {
    switch (c_.Pick(4)) {
      case 0:
        return "declare @p varbinary(16) select @p = textptr(c) from t1 where a = 1 "
               "writetext t1.c @p " +
               std::string(c_.From(kStrings));
      case 1:
        return "declare @p varbinary(16) select @p = textptr(c) from t1 where a = 1 "
               "readtext t1.c @p " +
               std::to_string(c_.Pick(4)) + " " + std::to_string(c_.Pick(6));
      case 2: return "set textsize " + std::string(c_.From(kIntegers));
      default: return "select textptr(c), textvalid('t1.c', textptr(c)) from t1";
    }
  }

  std::string SetOption() {
    static const char* const kOnOff[] = {"nocount",
                                         "ansinull",
                                         "arithabort",
                                         "arithignore",
                                         "quoted_identifier",
                                         "ansi_permissions",
                                         "close on endtran",
                                         "string_rtruncation",
                                         "fmtonly",
                                         "forceplan",
                                         "showplan",
                                         "noexec",
                                         "parseonly",
                                         "statistics io",
                                         "statistics time",
                                         "self_recursion",
                                         "flushmessage",
                                         "arithabort numeric_truncation",
                                         "arithignore arith_overflow",
                                         "procid",
                                         "textptr_parameters"};
    switch (c_.Pick(5)) {
      case 0: return "set rowcount " + std::to_string(c_.Pick(5));
      case 1: return "set datefirst " + std::to_string(c_.Pick(9));
      case 2:
        return "set dateformat " +
               std::string(c_.From({"mdy", "dmy", "ymd", "ydm", "myd", "dym", "xyz"}));
      case 3: return "set language " + std::string(c_.From({"us_english", "french"}));
      default: return "set " + std::string(c_.From(kOnOff)) + (c_.Flip() ? " on" : " off");
    }
  }

  std::string Batch() {
    // Every batch declares the variables expressions may use.
    std::string s = "declare @i int, @s varchar(40), @d datetime, @n numeric(12,3)\n";
    size_t n = 1 + c_.Pick(4);
    for (size_t i = 0; i < n; ++i) s += Statement(3) + "\n";
    return s;
  }

 private:
  Choices& c_;
};

struct World {
  std::unique_ptr<Engine> engine;
};

World& TheWorld() {
  static World w = [] {
    World w;
    w.engine = Engine::Create({});
    return w;
  }();
  return w;
}

// Puts the objects the grammar names back as they were, so that every input starts alike.
constexpr const char* kReset =
    "if object_id('tr1') is not null drop trigger tr1\n"
    "if object_id('v1') is not null drop view v1\n"
    "if object_id('p1') is not null drop procedure p1\n"
    "if object_id('t1') is not null drop table t1\n"
    "if object_id('t2') is not null drop table t2\n"
    "if object_id('t3') is not null drop table t3\n"
    "if object_id('r1') is not null drop rule r1\n"
    "if object_id('d1') is not null drop default d1\n"
    "create table t1 (a int not null, b varchar(20) null, c text null, d datetime null,"
    " e numeric(10,2) null, f float null)\n"
    "create table t2 (k int null, v varchar(10) null)\n"
    "insert t1 values (1, 'one', 'some text', '2026-01-02', 1.5, 0.25)\n"
    "insert t1 values (2, null, null, null, null, null)\n"
    "insert t1 values (3, 'three', 'x', '1900-01-01', -99999999.99, 1e300)\n"
    "insert t2 values (1, 'a')\n"
    "insert t2 values (null, null)\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 512) return 0;  // small inputs keep every run short
  World& world = TheWorld();
  LoginRequest login;
  login.user = "sa";
  ServerMessage failure;
  std::unique_ptr<Session> session = world.engine->Login(login, &failure);
  if (!session) __builtin_trap();
  CheckingSink sink;
  session->Execute(kReset, sink);

  // FUZZ_SESSION_TRACE=1 prints each batch, to see what a crashing input ran.
  static const bool trace = std::getenv("FUZZ_SESSION_TRACE") != nullptr;
  Choices choices(data, size);
  Generator gen(choices);
  for (int batch = 0; batch < 3; ++batch) {
    std::string text = gen.Batch();
    if (trace) std::fprintf(stderr, "-- batch %d\n%s", batch, text.c_str());
    sink.Reset();
    session->Execute(text, sink);  // an exception escaping here is a fault the fuzzer reports
    // A batch that sent nothing (a bare return) gets its final DONE from the protocol layer;
    // otherwise the engine's last word is the batch's own Done.
    if (!sink.Silent() && !sink.EndedWithDone()) __builtin_trap();
    if (choices.AtEnd()) break;
  }
  // Leaves no transaction open for the next input's session.
  sink.Reset();
  session->Execute("if @@trancount > 0 rollback", sink);
  return 0;
}
