// The catalog stored procedures ODBC and JDBC drivers call: tables, columns, keys, procedures,
// data types and the server's attributes, with the result columns of the ODBC catalog
// functions (TABLE_QUALIFIER, TABLE_OWNER, TABLE_NAME, ...).
#include "engine/catalog.h"
#include "engine/sysprocs/sysprocs.h"
#include "sql/parser.h"

#include <algorithm>
#include <filesystem>
#include <set>

namespace sampleserver {

using storage::QuoteText;
using storage::Statement;

namespace {

// ODBC's SQL type codes (ODBC 2 for dates, as the procedures report them).
enum OdbcCode {
  kSqlChar = 1,
  kSqlNumeric = 2,
  kSqlDecimal = 3,
  kSqlInteger = 4,
  kSqlSmallint = 5,
  kSqlReal = 7,
  kSqlDouble = 8,
  kSqlDatetime = 9,
  kSqlTimestamp = 11,
  kSqlVarchar = 12,
  kSqlLongVarchar = -1,
  kSqlBinary = -2,
  kSqlVarbinary = -3,
  kSqlLongVarbinary = -4,
  kSqlBigint = -5,
  kSqlTinyint = -6,
  kSqlBit = -7,
  kSqlDate = 9,
  kSqlTime = 10,
};

// What the catalog procedures report of one built-in type.
struct OdbcType {
  SqlType type;
  const char* name;
  int code;
  int32_t precision;  // the type's maximum; strings and binaries take the column's length
  int32_t length;     // bytes transferred; 0: the column's length
  const char* prefix;
  const char* suffix;
  const char* createParams;
  int caseSensitive;
  int searchable;    // 0 none, 1 like only, 2 all but like, 3 all
  int unsignedAttr;  // -1: NULL (not numeric)
  int money;
  int minScale;  // -1: NULL
  int maxScale;
  int radix;  // -1: NULL
};

constexpr int32_t kLong = 2147483647;

const OdbcType kTypes[] = {
    {SqlType::Bit, "bit", kSqlBit, 1, 1, nullptr, nullptr, nullptr, 0, 2, -1, 0, -1, -1, -1},
    {SqlType::TinyInt, "tinyint", kSqlTinyint, 3, 1, nullptr, nullptr, nullptr, 0, 2, 1, 0, 0, 0,
     10},
    {SqlType::BigInt, "bigint", kSqlBigint, 19, 8, nullptr, nullptr, nullptr, 0, 2, 0, 0, 0, 0, 10},
    {SqlType::Image, "image", kSqlLongVarbinary, kLong, kLong, "0x", nullptr, nullptr, 0, 0, -1, 0,
     -1, -1, -1},
    {SqlType::VarBinary, "varbinary", kSqlVarbinary, 255, 0, "0x", nullptr, "max length", 0, 2, -1,
     0, -1, -1, -1},
    {SqlType::Binary, "binary", kSqlBinary, 255, 0, "0x", nullptr, "length", 0, 2, -1, 0, -1, -1,
     -1},
    {SqlType::Text, "text", kSqlLongVarchar, kLong, kLong, "'", "'", nullptr, 1, 1, -1, 0, -1, -1,
     -1},
    {SqlType::Char, "char", kSqlChar, 255, 0, "'", "'", "length", 1, 3, -1, 0, -1, -1, -1},
    {SqlType::Numeric, "numeric", kSqlNumeric, 38, 0, nullptr, nullptr, "precision,scale", 0, 2, 0,
     0, 0, 38, 10},
    {SqlType::Decimal, "decimal", kSqlDecimal, 38, 0, nullptr, nullptr, "precision,scale", 0, 2, 0,
     0, 0, 38, 10},
    {SqlType::Money, "money", kSqlDecimal, 19, 21, "$", nullptr, nullptr, 0, 2, 0, 1, 4, 4, 10},
    {SqlType::SmallMoney, "smallmoney", kSqlDecimal, 10, 12, "$", nullptr, nullptr, 0, 2, 0, 1, 4,
     4, 10},
    {SqlType::Int, "int", kSqlInteger, 10, 4, nullptr, nullptr, nullptr, 0, 2, 0, 0, 0, 0, 10},
    {SqlType::SmallInt, "smallint", kSqlSmallint, 5, 2, nullptr, nullptr, nullptr, 0, 2, 0, 0, 0, 0,
     10},
    {SqlType::Real, "real", kSqlReal, 7, 4, nullptr, nullptr, nullptr, 0, 2, 0, 0, -1, -1, 10},
    {SqlType::Float, "float", kSqlDouble, 15, 8, nullptr, nullptr, nullptr, 0, 2, 0, 0, -1, -1, 10},
    {SqlType::DateTime, "datetime", kSqlTimestamp, 23, 16, "'", "'", nullptr, 0, 3, -1, 0, 3, 3,
     -1},
    {SqlType::SmallDateTime, "smalldatetime", kSqlTimestamp, 16, 16, "'", "'", nullptr, 0, 3, -1, 0,
     0, 0, -1},
    {SqlType::VarChar, "varchar", kSqlVarchar, 255, 0, "'", "'", "max length", 1, 3, -1, 0, -1, -1,
     -1},
    {SqlType::Date, "date", kSqlDate, 10, 6, "'", "'", nullptr, 0, 3, -1, 0, -1, -1, -1},
    {SqlType::Time, "time", kSqlTime, 12, 6, "'", "'", nullptr, 0, 3, -1, 0, 3, 3, -1},
    {SqlType::UnsignedSmallInt, "unsigned smallint", kSqlSmallint, 5, 2, nullptr, nullptr, nullptr,
     0, 2, 1, 0, 0, 0, 10},
    {SqlType::UnsignedInt, "unsigned int", kSqlInteger, 10, 4, nullptr, nullptr, nullptr, 0, 2, 1,
     0, 0, 0, 10},
    {SqlType::UnsignedBigInt, "unsigned bigint", kSqlBigint, 20, 8, nullptr, nullptr, nullptr, 0, 2,
     1, 0, 0, 0, 10},
};

const OdbcType& TypeOf(SqlType t) {
  for (const auto& o : kTypes)
    if (o.type == t) return o;
  return kTypes[0];
}

Value OrNull(int v) { return v < 0 ? Value{} : Value{int64_t{v}}; }
Value OrNull(const char* s) { return s ? Value{std::string(s)} : Value{}; }

ColumnInfo Smallint(const char* name, bool nullable = false) {
  return SmallintColumn(name, nullable);
}

std::string Owner(SysProcCall& c) { return OwnerName(c, 1); }

// sp_tables [name [, owner [, qualifier [, "'TABLE', 'VIEW', 'SYSTEM TABLE'"]]]]
int Tables(SysProcCall& c) {
  std::vector<ColumnInfo> cols = {VarcharColumn("TABLE_QUALIFIER", 30, true),
                                  VarcharColumn("TABLE_OWNER", 30, true),
                                  VarcharColumn("TABLE_NAME", 30), VarcharColumn("TABLE_TYPE", 32),
                                  VarcharColumn("REMARKS", 254, true)};
  if (!c.QualifierOk(2)) return c.Error(18039);
  std::set<std::string> kinds;
  if (c.Given(3)) {
    // A list of quoted type names, commas between.
    std::string list = c.Arg(3), item;
    for (size_t i = 0; i <= list.size(); ++i) {
      if (i == list.size() || list[i] == ',') {
        auto b = item.find_first_not_of(" '\""), e = item.find_last_not_of(" '\"");
        if (b != std::string::npos) kinds.insert(Lower(item.substr(b, e - b + 1)));
        item.clear();
      } else {
        item += list[i];
      }
    }
  }
  std::string types;
  for (auto [code, kind] :
       {std::pair{"U", "table"}, std::pair{"V", "view"}, std::pair{"S", "system table"}})
    if (kinds.empty() || kinds.count(kind))
      types += std::string(types.empty() ? "'" : ", '") + code + "'";
  if (types.empty()) {
    c.Rows(cols, {});
    return 0;
  }
  c.Query("SELECT " + QuoteText(c.Database()) +
              ", u.name, o.name, CASE trim(o.type) WHEN 'U' THEN 'TABLE'"
              " WHEN 'V' THEN 'VIEW' ELSE 'SYSTEM TABLE' END AS kind, NULL FROM " +
              c.Q() + "sysobjects o JOIN " + c.Q() +
              "sysusers u ON u.uid = o.uid WHERE trim(o.type) IN (" + types + ") AND o.name LIKE " +
              QuoteText(Pattern(c.Arg(0))) + " AND u.name LIKE " + QuoteText(Pattern(c.Arg(1))) +
              " ORDER BY kind, u.name, o.name",
          cols);
  return 0;
}

// The text after `as` of a bound default, or the expression of an inline one.
std::optional<std::string> DefaultText(SysProcCall& c, int64_t id) {
  if (id == 0) return std::nullopt;
  std::string text;
  Statement st(c.Db(),
               "SELECT text FROM " + c.Q() + "syscomments WHERE id = ? ORDER BY colid2, colid");
  st.Bind(1, id);
  while (st.Step()) text += st.Text(0);
  std::string lower = Lower(text);
  if (lower.rfind("default ", 0) == 0) return text.substr(8);
  auto as = lower.find(" as ");
  return as == std::string::npos ? text : text.substr(as + 4);
}

// sp_columns table [, owner [, qualifier [, column]]]
int Columns(SysProcCall& c) {
  std::vector<ColumnInfo> cols = {VarcharColumn("TABLE_QUALIFIER", 30, true),
                                  VarcharColumn("TABLE_OWNER", 30, true),
                                  VarcharColumn("TABLE_NAME", 30),
                                  VarcharColumn("COLUMN_NAME", 30),
                                  Smallint("DATA_TYPE"),
                                  VarcharColumn("TYPE_NAME", 30),
                                  IntColumn("PRECISION", true),
                                  IntColumn("LENGTH", true),
                                  Smallint("SCALE", true),
                                  Smallint("RADIX", true),
                                  Smallint("NULLABLE"),
                                  VarcharColumn("REMARKS", 254, true),
                                  VarcharColumn("COLUMN_DEF", 255, true),
                                  Smallint("SQL_DATA_TYPE"),
                                  Smallint("SQL_DATETIME_SUB", true),
                                  IntColumn("CHAR_OCTET_LENGTH", true),
                                  IntColumn("ORDINAL_POSITION"),
                                  VarcharColumn("IS_NULLABLE", 3)};
  if (!c.QualifierOk(2)) return c.Error(18039);
  std::vector<std::string> tables;
  {
    Statement st(
        c.Db(),
        "SELECT o.name FROM " + c.Q() + "sysobjects o JOIN " + c.Q() +
            "sysusers u ON u.uid = o.uid WHERE trim(o.type) IN ('U', 'V', 'S') AND o.name LIKE ?"
            " AND u.name LIKE ? ORDER BY o.name");
    st.Bind(1, std::string_view(Pattern(c.Arg(0)))).Bind(2, std::string_view(Pattern(c.Arg(1))));
    while (st.Step()) tables.push_back(st.Text(0));
  }
  std::string owner = Owner(c);
  std::vector<std::vector<Value>> rows;
  for (const auto& name : tables) {
    auto t = catalog::LoadTable(c.Db(), c.Schema(), c.Database(), name);
    if (!t) continue;
    for (const auto& col : t->columns) {
      if (c.Given(3)) {
        Statement like(c.Db(), "SELECT ? LIKE ?");
        like.Bind(1, std::string_view(col.name)).Bind(2, std::string_view(c.Arg(3)));
        if (!like.Step() || like.Int(0) == 0) continue;
      }
      const OdbcType& o = TypeOf(col.type.type);
      std::string typeName = TypeName(col.type);
      if (col.type.usertype >= 100)
        if (auto n = storage::QueryText(
                c.Db(), "SELECT name FROM " + c.Q() +
                            "systypes WHERE usertype = " + std::to_string(col.type.usertype)))
          typeName = *n;
      bool sized = col.type.IsString() || col.type.IsBinary();
      int64_t precision = sized && !col.type.IsLob() ? col.type.length : o.precision;
      int64_t length = sized && !col.type.IsLob() ? col.type.length : o.length;
      Value scale = OrNull(o.minScale), radix = OrNull(o.radix);
      if (col.type.IsExactNumeric() && col.type.type != SqlType::Money &&
          col.type.type != SqlType::SmallMoney) {
        precision = col.type.precision;
        length = col.type.precision + 2;
        scale = int64_t{col.type.scale};
      }
      bool dates = o.code == kSqlTimestamp;
      rows.push_back({Value{c.Database()}, Value{owner}, Value{t->name}, Value{col.name},
                      Value{int64_t{o.code}}, Value{typeName}, Value{precision}, Value{length},
                      scale, radix, Value{int64_t{col.nullable}}, Value{},
                      DefaultText(c, col.cdefault) ? Value{*DefaultText(c, col.cdefault)} : Value{},
                      Value{int64_t{dates ? kSqlDatetime : o.code}},
                      dates ? Value{int64_t{3}} : Value{}, sized ? Value{length} : Value{},
                      Value{int64_t{col.colid}}, Value{std::string(col.nullable ? "YES" : "NO")}});
    }
  }
  c.Rows(cols, rows);
  return 0;
}

// sp_pkeys table [, owner [, qualifier]]: the primary key's columns in key order.
int PrimaryKeys(SysProcCall& c) {
  std::vector<ColumnInfo> cols = {VarcharColumn("TABLE_QUALIFIER", 30, true),
                                  VarcharColumn("TABLE_OWNER", 30, true),
                                  VarcharColumn("TABLE_NAME", 30),
                                  VarcharColumn("COLUMN_NAME", 30),
                                  Smallint("KEY_SEQ"),
                                  VarcharColumn("PK_NAME", 30)};
  if (!c.QualifierOk(2)) return c.Error(18039);
  auto t = catalog::LoadTable(c.Db(), c.Schema(), c.Database(), c.Arg(0));
  if (!t) return c.Error(17461);
  std::vector<std::vector<Value>> rows;
  for (const auto& ix : t->indexes) {
    if (!(ix.status & catalog::kIndexPrimaryKey)) continue;
    int64_t seq = 0;
    for (int colid : ix.keys)
      for (const auto& col : t->columns)
        if (col.colid == colid)
          rows.push_back({Value{c.Database()}, Value{Owner(c)}, Value{t->name}, Value{col.name},
                          Value{++seq}, Value{ix.name}});
  }
  c.Rows(cols, rows);
  return 0;
}

// sp_fkeys pktable [, pkowner, pkqualifier, fktable, fkowner, fkqualifier]: the foreign keys
// referring to the first table, or those of the second, or the one between them.
int ForeignKeys(SysProcCall& c) {
  std::vector<ColumnInfo> cols = {VarcharColumn("PKTABLE_QUALIFIER", 30, true),
                                  VarcharColumn("PKTABLE_OWNER", 30, true),
                                  VarcharColumn("PKTABLE_NAME", 30),
                                  VarcharColumn("PKCOLUMN_NAME", 30),
                                  VarcharColumn("FKTABLE_QUALIFIER", 30, true),
                                  VarcharColumn("FKTABLE_OWNER", 30, true),
                                  VarcharColumn("FKTABLE_NAME", 30),
                                  VarcharColumn("FKCOLUMN_NAME", 30),
                                  Smallint("KEY_SEQ"),
                                  Smallint("UPDATE_RULE", true),
                                  Smallint("DELETE_RULE", true),
                                  VarcharColumn("FK_NAME", 30, true),
                                  VarcharColumn("PK_NAME", 30, true)};
  if (!c.QualifierOk(2) || !c.QualifierOk(5)) return c.Error(18039);
  if (!c.Given(0) && !c.Given(3))
    return c.Error(17000, {"sp_fkeys pktable_name [, ...] | @fktable_name = name"});
  std::optional<catalog::TableMeta> pk, fk;
  if (c.Given(0) && !(pk = catalog::LoadTable(c.Db(), c.Schema(), c.Database(), c.Arg(0))))
    return c.Error(17461);
  if (c.Given(3) && !(fk = catalog::LoadTable(c.Db(), c.Schema(), c.Database(), c.Arg(3))))
    return c.Error(17461);
  auto name = [&](const std::vector<catalog::ColumnMeta>& columns, int colid) {
    for (const auto& col : columns)
      if (col.colid == colid) return col.name;
    return std::string();
  };
  std::string owner = Owner(c);
  std::vector<std::vector<Value>> rows;
  for (const auto& r : catalog::LoadReferences(c.Db(), c.Schema())) {
    if ((pk && r.refTableId != pk->id) || (fk && r.tableId != fk->id)) continue;
    auto from = catalog::LoadTable(
        c.Db(), c.Schema(), c.Database(),
        storage::QueryText(c.Db(), "SELECT name FROM " + c.Q() +
                                       "sysobjects WHERE id = " + std::to_string(r.tableId))
            .value_or(""));
    auto to = catalog::LoadTable(
        c.Db(), c.Schema(), c.Database(),
        storage::QueryText(c.Db(), "SELECT name FROM " + c.Q() +
                                       "sysobjects WHERE id = " + std::to_string(r.refTableId))
            .value_or(""));
    if (!from || !to) continue;
    auto fkName =
        storage::QueryText(c.Db(), "SELECT name FROM " + c.Q() +
                                       "sysobjects WHERE id = " + std::to_string(r.constraintId));
    Value pkName;
    for (const auto& ix : to->indexes)
      if (ix.status & catalog::kIndexPrimaryKey) pkName = ix.name;
    for (size_t i = 0; i < r.keys.size(); ++i)
      rows.push_back({Value{c.Database()}, Value{owner}, Value{to->name},
                      Value{name(to->columns, r.refKeys[i])}, Value{c.Database()}, Value{owner},
                      Value{from->name}, Value{name(from->columns, r.keys[i])},
                      Value{static_cast<int64_t>(i + 1)}, Value{int64_t{1}}, Value{int64_t{1}},
                      fkName ? Value{*fkName} : Value{}, pkName});
  }
  // By the table the caller did not name, then key order.
  size_t by = pk ? 6 : 2;
  std::stable_sort(rows.begin(), rows.end(), [by](const auto& a, const auto& b) {
    return std::get<std::string>(a[by]) < std::get<std::string>(b[by]);
  });
  c.Rows(cols, rows);
  return 0;
}

// sp_stored_procedures [name [, owner [, qualifier]]]: each member of each procedure group as
// name;number, with its parameters counted from its definition.
int StoredProcedures(SysProcCall& c) {
  std::vector<ColumnInfo> cols = {VarcharColumn("PROCEDURE_QUALIFIER", 30, true),
                                  VarcharColumn("PROCEDURE_OWNER", 30, true),
                                  VarcharColumn("PROCEDURE_NAME", 41),
                                  IntColumn("NUM_INPUT_PARAMS"),
                                  IntColumn("NUM_OUTPUT_PARAMS"),
                                  IntColumn("NUM_RESULT_SETS"),
                                  VarcharColumn("REMARKS", 254, true),
                                  Smallint("PROCEDURE_TYPE")};
  if (!c.QualifierOk(2)) return c.Error(18039);
  struct Member {
    std::string name;
    int64_t number;
    std::string text;
  };
  std::vector<Member> members;
  {
    Statement st(c.Db(), "SELECT o.name, m.number, m.text FROM " + c.Q() + "sysobjects o JOIN " +
                             c.Q() + "sysusers u ON u.uid = o.uid JOIN " + c.Q() +
                             "syscomments m ON m.id = o.id"
                             " WHERE trim(o.type) = 'P' AND o.name LIKE ? AND u.name LIKE ?"
                             " ORDER BY o.name, m.number, m.colid2, m.colid");
    st.Bind(1, std::string_view(Pattern(c.Arg(0)))).Bind(2, std::string_view(Pattern(c.Arg(1))));
    while (st.Step()) {
      if (members.empty() || members.back().name != st.Text(0) ||
          members.back().number != st.Int(1))
        members.push_back({st.Text(0), st.Int(1), ""});
      members.back().text += st.Text(2);
    }
  }
  std::vector<std::vector<Value>> rows;
  for (const auto& m : members) {
    int64_t in = -1, out = -1;
    auto parsed = sql::Parse(m.text);
    if (parsed.ok() && !parsed.statements.empty())
      if (const auto* def = parsed.statements[0]->If<sql::CreateProcedureStmt>()) {
        in = static_cast<int64_t>(def->params.size());
        out = std::count_if(def->params.begin(), def->params.end(),
                            [](const auto& p) { return p.output; });
      }
    rows.push_back({Value{c.Database()}, Value{Owner(c)},
                    Value{m.name + ";" + std::to_string(m.number)}, Value{in}, Value{out},
                    Value{int64_t{-1}}, Value{}, Value{int64_t{2}}});
  }
  c.Rows(cols, rows);
  return 0;
}

// sp_server_info [attribute_id]
int ServerInfo(SysProcCall& c) {
  struct Attr {
    int id;
    const char* name;
    std::string value;
  };
  const std::vector<Attr> attrs = {
      {1, "DBMS_NAME", "SQL Server"},
      {2, "DBMS_VER", c.Engine().version},
      {10, "OWNER_TERM", "owner"},
      {11, "TABLE_TERM", "table"},
      {12, "MAX_OWNER_NAME_LENGTH", "30"},
      {13, "TABLE_LENGTH", "30"},
      {14, "MAX_QUAL_LENGTH", "30"},
      {15, "COLUMN_LENGTH", "30"},
      {16, "IDENTIFIER_CASE", "MIXED"},
      {17, "TX_ISOLATION", "2"},
      {18, "COLLATION_SEQ", "charset=utf8 sort_order=binary"},
      {19, "SAVEPOINT_SUPPORT", "Y"},
      {20, "MULTI_RESULT_SETS", "Y"},
      {22, "ACCESSIBLE_TABLES", "Y"},
      {100, "USERID_LENGTH", "30"},
      {101, "QUALIFIER_TERM", "database"},
      {102, "NAMED_TRANSACTIONS", "Y"},
      {103, "SPROC_AS_LANGUAGE", "Y"},
      {104, "ACCESSIBLE_SPROC", "Y"},
      {105, "MAX_INDEX_COLS", "31"},
      {106, "RENAME_TABLE", "Y"},
      {107, "RENAME_COLUMN", "Y"},
      {108, "DROP_COLUMN", "N"},
      {109, "INCREASE_COLUMN_LENGTH", "N"},
      {110, "DDL_IN_TRANSACTION", "N"},
      {111, "DESCENDING_INDEXES", "Y"},
      {112, "SP_RENAME", "Y"},
      {113, "REMOTE_SPROC", "Y"},
      {500, "SYS_SPROC_VERSION", "15.0.3"},
  };
  std::vector<std::vector<Value>> rows;
  for (const auto& a : attrs)
    if (!c.Given(0) || c.Arg(0) == std::to_string(a.id))
      rows.push_back({Value{int64_t{a.id}}, Value{std::string(a.name)}, Value{a.value}});
  c.Rows({IntColumn("attribute_id"), VarcharColumn("attribute_name", 60),
          VarcharColumn("attribute_value", 255)},
         rows);
  return 0;
}

// sp_datatype_info [data_type]: the built-in types by ODBC code, then name.
int DatatypeInfo(SysProcCall& c) {
  std::vector<ColumnInfo> cols = {VarcharColumn("TYPE_NAME", 30),
                                  Smallint("DATA_TYPE"),
                                  IntColumn("PRECISION", true),
                                  VarcharColumn("LITERAL_PREFIX", 32, true),
                                  VarcharColumn("LITERAL_SUFFIX", 32, true),
                                  VarcharColumn("CREATE_PARAMS", 32, true),
                                  Smallint("NULLABLE"),
                                  Smallint("CASE_SENSITIVE"),
                                  Smallint("SEARCHABLE"),
                                  Smallint("UNSIGNED_ATTRIBUTE", true),
                                  Smallint("MONEY"),
                                  Smallint("AUTO_INCREMENT", true),
                                  VarcharColumn("LOCAL_TYPE_NAME", 30, true),
                                  Smallint("MINIMUM_SCALE", true),
                                  Smallint("MAXIMUM_SCALE", true),
                                  Smallint("SQL_DATA_TYPE"),
                                  Smallint("SQL_DATETIME_SUB", true),
                                  IntColumn("NUM_PREC_RADIX", true),
                                  Smallint("INTERVAL_PRECISION", true)};
  std::vector<const OdbcType*> types;
  for (const auto& o : kTypes)
    if (!c.Given(0) || c.Arg(0) == std::to_string(o.code)) types.push_back(&o);
  std::stable_sort(types.begin(), types.end(), [](const auto* a, const auto* b) {
    return a->code != b->code ? a->code < b->code : std::string(a->name) < b->name;
  });
  std::vector<std::vector<Value>> rows;
  for (const auto* o : types) {
    bool dates = o->code == kSqlTimestamp;
    bool exact = o->type == SqlType::Numeric || o->type == SqlType::Decimal ||
                 o->type == SqlType::Int || o->type == SqlType::SmallInt ||
                 o->type == SqlType::TinyInt || o->type == SqlType::BigInt;
    rows.push_back(
        {Value{std::string(o->name)}, Value{int64_t{o->code}}, Value{int64_t{o->precision}},
         OrNull(o->prefix), OrNull(o->suffix), OrNull(o->createParams),
         Value{int64_t{o->type == SqlType::Bit ? 0 : 1}}, Value{int64_t{o->caseSensitive}},
         Value{int64_t{o->searchable}}, OrNull(o->unsignedAttr), Value{int64_t{o->money}},
         exact ? Value{int64_t{0}} : Value{}, Value{std::string(o->name)}, OrNull(o->minScale),
         OrNull(o->maxScale), Value{int64_t{dates ? kSqlDatetime : o->code}},
         dates ? Value{int64_t{3}} : Value{}, OrNull(o->radix), Value{}});
  }
  c.Rows(cols, rows);
  return 0;
}

// Each database with its size in kilobytes.
int Databases(SysProcCall& c) {
  std::vector<std::vector<Value>> rows;
  Statement st(c.Db(), "SELECT name FROM main.sysdatabases ORDER BY name");
  while (st.Step()) {
    std::string db = st.Text(0);
    std::error_code ec;
    auto bytes = std::filesystem::file_size(c.Engine().PathOf(db), ec);
    int64_t kb = ec ? 0 : static_cast<int64_t>(bytes / 1024);
    rows.push_back({Value{db}, Value{kb}, Value{}});
  }
  c.Rows({VarcharColumn("database_name", 30), IntColumn("database_size"),
          VarcharColumn("remarks", 254, true)},
         rows);
  return 0;
}

}  // namespace

const std::vector<SysProcEntry>& OdbcCatalogProcedures() {
  static const std::vector<SysProcEntry> procs = {
      {"sp_tables", Tables, {"@table_name", "@table_owner", "@table_qualifier", "@table_type"}},
      {"sp_columns", Columns, {"@table_name", "@table_owner", "@table_qualifier", "@column_name"}},
      {"sp_pkeys", PrimaryKeys, {"@table_name", "@table_owner", "@table_qualifier"}},
      {"sp_fkeys",
       ForeignKeys,
       {"@pktable_name", "@pktable_owner", "@pktable_qualifier", "@fktable_name", "@fktable_owner",
        "@fktable_qualifier"}},
      {"sp_stored_procedures", StoredProcedures, {"@sp_name", "@sp_owner", "@sp_qualifier"}},
      {"sp_server_info", ServerInfo, {"@attribute_id"}},
      {"sp_datatype_info", DatatypeInfo, {"@data_type"}},
      {"sp_databases", Databases, {}},
  };
  return procs;
}

}  // namespace sampleserver
