#include "engine/catalog.h"

#include "engine/datetime.h"
#include "engine/storage.h"

#include <algorithm>

namespace sampleserver::catalog {

using storage::Exec;
using storage::QuoteId;
using storage::QuoteText;
using storage::Statement;

namespace {

struct SysColumn {
  const char* name;
  const char* type;  // Transact-SQL type
  int length;        // for char/varchar/binary/varbinary
  bool nullable;
};

// Where a system table lives: every database, master only, or master with its rows made by the
// engine as they are read (no SQLite table holds them).
enum class Home { Every, Master, MasterLive };

struct SysTable {
  const char* name;
  int id;
  Home home;
  std::vector<SysColumn> columns;
};

const std::vector<SysTable>& SystemTables() {
  // clang-format off
  static const std::vector<SysTable> tables = {
      {"sysobjects", 1, Home::Every,
       {{"name", "sysname", 0, false}, {"id", "int", 0, false}, {"uid", "int", 0, false},
        {"type", "char", 2, false}, {"userstat", "smallint", 0, false},
        {"sysstat", "smallint", 0, false}, {"indexdel", "smallint", 0, false},
        {"schemacnt", "smallint", 0, false}, {"sysstat2", "int", 0, false},
        {"crdate", "datetime", 0, false}, {"expdate", "datetime", 0, false},
        {"deltrig", "int", 0, false}, {"instrig", "int", 0, false},
        {"updtrig", "int", 0, false}, {"seltrig", "int", 0, false},
        {"ckfirst", "int", 0, false}, {"cache", "smallint", 0, false},
        {"audflags", "int", 0, true}, {"objspare", "int", 0, false},
        {"versionts", "binary", 6, true}, {"loginame", "varchar", 30, true}}},
      {"sysindexes", 2, Home::Every,
       {{"name", "sysname", 0, false}, {"id", "int", 0, false}, {"indid", "smallint", 0, false},
        {"doampg", "int", 0, false}, {"ioampg", "int", 0, false},
        {"oampgtrips", "int", 0, false}, {"status2", "smallint", 0, false},
        {"ipgtrips", "int", 0, false}, {"first", "int", 0, false}, {"root", "int", 0, false},
        {"distribution", "int", 0, false}, {"usagecnt", "smallint", 0, false},
        {"segment", "smallint", 0, false}, {"status", "smallint", 0, false},
        {"maxrowsperpage", "smallint", 0, false}, {"minlen", "smallint", 0, false},
        {"maxlen", "smallint", 0, false}, {"maxirow", "smallint", 0, false},
        {"keycnt", "smallint", 0, false}, {"keys1", "varbinary", 255, true},
        {"keys2", "varbinary", 255, true}, {"soid", "tinyint", 0, false},
        {"csid", "tinyint", 0, false}, {"base_partition", "int", 0, true},
        {"fill_factor", "smallint", 0, true}, {"res_page_gap", "smallint", 0, true},
        {"exp_rowsize", "smallint", 0, true}, {"keys3", "varbinary", 255, true},
        {"identitygap", "int", 0, true}, {"crdate", "datetime", 0, true}}},
      {"syscolumns", 3, Home::Every,
       {{"id", "int", 0, false}, {"number", "smallint", 0, false},
        {"colid", "smallint", 0, false}, {"status", "tinyint", 0, false},
        {"type", "tinyint", 0, false}, {"length", "int", 0, false},
        {"offset", "smallint", 0, false}, {"usertype", "smallint", 0, false},
        {"cdefault", "int", 0, false}, {"domain", "int", 0, false},
        {"name", "sysname", 0, false}, {"printfmt", "varchar", 255, true},
        {"prec", "tinyint", 0, true}, {"scale", "tinyint", 0, true},
        {"remote_type", "int", 0, true}, {"remote_name", "varchar", 30, true}}},
      {"systypes", 4, Home::Every,
       {{"uid", "int", 0, false}, {"usertype", "smallint", 0, false},
        {"variable", "bit", 0, false}, {"allownulls", "bit", 0, false},
        {"type", "tinyint", 0, false}, {"length", "int", 0, false},
        {"tdefault", "int", 0, false}, {"domain", "int", 0, false},
        {"name", "sysname", 0, false}, {"printfmt", "varchar", 255, true},
        {"prec", "tinyint", 0, true}, {"scale", "tinyint", 0, true},
        {"ident", "tinyint", 0, true}, {"hierarchy", "tinyint", 0, true},
        {"xtypeid", "int", 0, true}, {"xdbid", "int", 0, true},
        {"accessrule", "int", 0, true}}},
      {"syscomments", 6, Home::Every,
       {{"id", "int", 0, false}, {"number", "smallint", 0, false},
        {"colid", "smallint", 0, false}, {"texttype", "smallint", 0, false},
        {"language", "smallint", 0, false}, {"text", "varchar", 255, true},
        {"colid2", "smallint", 0, false}, {"status", "smallint", 0, true}}},
      {"syssegments", 7, Home::Every,
       {{"segment", "smallint", 0, false}, {"name", "sysname", 0, false},
        {"status", "smallint", 0, true}}},
      {"sysusers", 10, Home::Every,
       {{"suid", "int", 0, false}, {"uid", "int", 0, false}, {"gid", "int", 0, false},
        {"name", "sysname", 0, false}, {"environ", "varchar", 255, true}}},
      {"sysdatabases", 30, Home::Master,
       {{"name", "sysname", 0, false}, {"dbid", "smallint", 0, false},
        {"suid", "int", 0, false}, {"status", "smallint", 0, false},
        {"version", "smallint", 0, false}, {"logptr", "int", 0, false},
        {"crdate", "datetime", 0, false}, {"dumptrdate", "datetime", 0, false},
        {"status2", "smallint", 0, true}, {"audflags", "int", 0, true},
        {"deftabaud", "int", 0, true}, {"defvwaud", "int", 0, true},
        {"defpraud", "int", 0, true}, {"def_remote_type", "smallint", 0, true},
        {"def_remote_loc", "varchar", 255, true}, {"status3", "int", 0, true},
        {"status4", "int", 0, true}}},
      {"syslogins", 33, Home::Master,
       {{"suid", "int", 0, false}, {"status", "smallint", 0, false},
        {"accdate", "datetime", 0, false}, {"totcpu", "int", 0, false},
        {"totio", "int", 0, false}, {"spacelimit", "int", 0, false},
        {"timelimit", "int", 0, false}, {"resultlimit", "int", 0, false},
        {"dbname", "sysname", 0, true}, {"name", "sysname", 0, false},
        {"password", "varbinary", 30, true}, {"language", "varchar", 30, true},
        {"pwdate", "datetime", 0, true}, {"audflags", "int", 0, true},
        {"fullname", "varchar", 30, true}, {"srvname", "varchar", 30, true},
        {"logincount", "smallint", 0, true}, {"procid", "int", 0, true}}},
      // Permissions: protecttype 0 grant with grant option, 1 grant, 2 revoke; columns is a
      // bitmap by colid, NULL for the whole object.
      {"sysprotects", 9, Home::Every,
       {{"id", "int", 0, false}, {"uid", "int", 0, false}, {"action", "smallint", 0, false},
        {"protecttype", "tinyint", 0, false}, {"columns", "varbinary", 133, true},
        {"grantor", "int", 0, false}, {"predid", "int", 0, true}, {"status", "int", 0, true}}},
      // One row per foreign key: the referencing and referenced tables and their key columns.
      {"sysreferences", 18, Home::Every,
       {{"indexid", "smallint", 0, false}, {"constrid", "int", 0, false},
        {"tableid", "int", 0, false}, {"reftabid", "int", 0, false},
        {"keycnt", "smallint", 0, false}, {"status", "smallint", 0, false},
        {"frgndbid", "smallint", 0, false}, {"pmrydbid", "smallint", 0, false},
        {"spare2", "int", 0, false},
        {"fokey1", "smallint", 0, true}, {"fokey2", "smallint", 0, true},
        {"fokey3", "smallint", 0, true}, {"fokey4", "smallint", 0, true},
        {"fokey5", "smallint", 0, true}, {"fokey6", "smallint", 0, true},
        {"fokey7", "smallint", 0, true}, {"fokey8", "smallint", 0, true},
        {"fokey9", "smallint", 0, true}, {"fokey10", "smallint", 0, true},
        {"fokey11", "smallint", 0, true}, {"fokey12", "smallint", 0, true},
        {"fokey13", "smallint", 0, true}, {"fokey14", "smallint", 0, true},
        {"fokey15", "smallint", 0, true}, {"fokey16", "smallint", 0, true},
        {"refkey1", "smallint", 0, true}, {"refkey2", "smallint", 0, true},
        {"refkey3", "smallint", 0, true}, {"refkey4", "smallint", 0, true},
        {"refkey5", "smallint", 0, true}, {"refkey6", "smallint", 0, true},
        {"refkey7", "smallint", 0, true}, {"refkey8", "smallint", 0, true},
        {"refkey9", "smallint", 0, true}, {"refkey10", "smallint", 0, true},
        {"refkey11", "smallint", 0, true}, {"refkey12", "smallint", 0, true},
        {"refkey13", "smallint", 0, true}, {"refkey14", "smallint", 0, true},
        {"refkey15", "smallint", 0, true}, {"refkey16", "smallint", 0, true},
        {"frgndbname", "varchar", 30, true}, {"pmrydbname", "varchar", 30, true}}},
      {"sysprocesses", 32, Home::MasterLive,
       {{"spid", "smallint", 0, false}, {"kpid", "int", 0, false}, {"enginenum", "int", 0, false},
        {"status", "char", 12, false}, {"suid", "int", 0, false},
        {"hostname", "varchar", 30, true}, {"program_name", "varchar", 30, true},
        {"hostprocess", "varchar", 30, true}, {"cmd", "varchar", 30, false},
        {"cpu", "int", 0, false}, {"physical_io", "int", 0, false}, {"memusage", "int", 0, false},
        {"blocked", "smallint", 0, false}, {"dbid", "smallint", 0, false},
        {"uid", "int", 0, false}, {"gid", "int", 0, false}, {"tran_name", "varchar", 64, true},
        {"time_blocked", "int", 0, true}, {"network_pktsz", "int", 0, true},
        {"fid", "smallint", 0, true}, {"execlass", "varchar", 30, true},
        {"priority", "varchar", 10, true}, {"affinity", "varchar", 30, true},
        {"id", "int", 0, true}, {"stmtnum", "int", 0, true}, {"linenum", "int", 0, true},
        {"origsuid", "int", 0, true}, {"block_xloid", "int", 0, true},
        {"clientname", "varchar", 30, true}, {"clienthostname", "varchar", 30, true},
        {"clientapplname", "varchar", 30, true}, {"sys_id", "smallint", 0, true},
        {"ses_id", "int", 0, true}, {"loggedindatetime", "datetime", 0, true},
        {"ipaddr", "varchar", 64, true}}},
      {"syslocks", 34, Home::Master,
       {{"id", "int", 0, false}, {"dbid", "smallint", 0, false}, {"page", "int", 0, false},
        {"type", "smallint", 0, false}, {"spid", "smallint", 0, false},
        {"class", "varchar", 30, true}, {"fid", "smallint", 0, false},
        {"context", "tinyint", 0, false}, {"row", "smallint", 0, false},
        {"loid", "int", 0, false}, {"partitionid", "int", 0, false},
        {"nodeid", "tinyint", 0, false}}},
      // The number and name table the system procedures and tools join with.
      {"spt_values", 1008, Home::Master,
       {{"name", "varchar", 35, true}, {"number", "int", 0, false}, {"type", "char", 2, false},
        {"low", "int", 0, true}, {"high", "int", 0, true}, {"msgnum", "int", 0, true}}},
      // Sybase keeps index keys in a binary column; this table holds them in the open.
      {"sysindexkeys", 90, Home::Every,
       {{"id", "int", 0, false}, {"indid", "smallint", 0, false},
        {"keyno", "smallint", 0, false}, {"colid", "smallint", 0, false}}},
  };
  // clang-format on
  return tables;
}

TypeDesc SysType(const SysColumn& c) {
  std::optional<int> len;
  if (c.length > 0) len = c.length;
  return *BuiltinType(c.type, len, std::nullopt);
}

struct ShippedType {
  int usertype;
  const char* name;
  int type;
  int length;
  int variable;
  int allownulls;
  int hierarchy;
  int prec;  // -1: NULL
  int scale;
};

// systypes rows every database carries.
const ShippedType kShippedTypes[] = {
    {1, "char", 47, 255, 0, 0, 28, -1, -1},
    {2, "varchar", 39, 255, 1, 0, 27, -1, -1},
    {3, "binary", 45, 255, 0, 0, 30, -1, -1},
    {4, "varbinary", 37, 255, 1, 0, 29, -1, -1},
    {5, "tinyint", 48, 1, 0, 0, 17, -1, -1},
    {6, "smallint", 52, 2, 0, 0, 16, -1, -1},
    {7, "int", 56, 4, 0, 0, 15, -1, -1},
    {8, "float", 62, 8, 0, 0, 2, -1, -1},
    {10, "numeric", 63, 17, 0, 0, 7, 18, 0},
    {11, "money", 60, 8, 0, 0, 11, -1, -1},
    {12, "datetime", 61, 8, 0, 0, 4, -1, -1},
    {13, "intn", 38, 4, 0, 1, 14, -1, -1},
    {14, "floatn", 109, 8, 0, 1, 1, -1, -1},
    {15, "datetimn", 111, 8, 0, 1, 3, -1, -1},
    {16, "bit", 50, 1, 0, 0, 23, -1, -1},
    {17, "moneyn", 110, 8, 0, 1, 10, -1, -1},
    {18, "sysname", 39, 30, 1, 0, 27, -1, -1},
    {19, "text", 35, 16, 0, 1, 31, -1, -1},
    {20, "image", 34, 16, 0, 1, 32, -1, -1},
    {21, "smallmoney", 122, 4, 0, 0, 12, -1, -1},
    {22, "smalldatetime", 58, 4, 0, 0, 13, -1, -1},
    {23, "real", 59, 4, 0, 0, 5, -1, -1},
    {24, "nchar", 47, 255, 0, 0, 28, -1, -1},
    {25, "nvarchar", 39, 255, 1, 0, 27, -1, -1},
    {26, "decimal", 55, 17, 0, 0, 9, 18, 0},
    {27, "decimaln", 106, 17, 0, 1, 8, 18, 0},
    {28, "numericn", 108, 17, 0, 1, 6, 18, 0},
    {34, "unichar", 135, 255, 0, 0, 25, -1, -1},
    {35, "univarchar", 155, 255, 1, 0, 24, -1, -1},
    {36, "unitext", 174, 16, 0, 1, 26, -1, -1},
    {37, "date", 49, 4, 0, 0, 33, -1, -1},
    {38, "time", 51, 4, 0, 0, 34, -1, -1},
    {39, "daten", 123, 4, 0, 1, 35, -1, -1},
    {40, "timen", 147, 4, 0, 1, 36, -1, -1},
    {42, "longsysname", 39, 255, 1, 0, 27, -1, -1},
    {43, "bigint", 191, 8, 0, 0, 16, -1, -1},
    {44, "usmallint", 65, 2, 0, 0, 21, -1, -1},
    {45, "uint", 66, 4, 0, 0, 19, -1, -1},
    {46, "ubigint", 67, 8, 0, 0, 17, -1, -1},
    {47, "uintn", 68, 8, 0, 1, 15, -1, -1},
    {80, "timestamp", 37, 8, 1, 0, 29, -1, -1},
};

std::string Q(const std::string& schema, const char* table) {
  return QuoteId(schema) + "." + QuoteId(table);
}

// The SQL Anywhere catalog, served as views over the Sybase tables of the same database.
struct ViewSpec {
  const char* name;
  int id;
  const char* sql;
  std::vector<SysColumn> columns;
};

const std::vector<ViewSpec>& AnywhereViews() {
  static const std::vector<ViewSpec> views = {
      {"SYSTABLE",
       91,
       "SELECT o.id AS table_id, 0 AS file_id, 0 AS count, 0 AS first_page, 0 AS last_page, "
       "0 AS primary_root, o.uid AS creator, o.name AS table_name, "
       "CASE o.type WHEN 'V' THEN 'VIEW' ELSE 'BASE' END AS table_type, NULL AS view_def, "
       "NULL AS remarks, 'N' AS replicate FROM sysobjects o WHERE o.type IN ('U','S','V')",
       {{"table_id", "int", 0, false},
        {"file_id", "smallint", 0, false},
        {"count", "int", 0, false},
        {"first_page", "int", 0, false},
        {"last_page", "int", 0, false},
        {"primary_root", "int", 0, false},
        {"creator", "int", 0, false},
        {"table_name", "varchar", 128, false},
        {"table_type", "char", 10, false},
        {"view_def", "text", 0, true},
        {"remarks", "text", 0, true},
        {"replicate", "char", 1, false}}},
      {"SYSCOLUMN",
       92,
       "SELECT c.id AS table_id, c.colid AS column_id, "
       "CASE WHEN EXISTS (SELECT 1 FROM sysindexes x JOIN sysindexkeys k ON k.id = x.id AND "
       "k.indid = x.indid WHERE x.id = c.id AND (x.status & 2048) <> 0 AND k.colid = c.colid) "
       "THEN 'Y' ELSE 'N' END AS pkey, c.usertype AS domain_id, "
       "CASE WHEN (c.status & 8) <> 0 THEN 'Y' ELSE 'N' END AS nulls, "
       "COALESCE(c.prec, c.length) AS width, COALESCE(c.scale, 0) AS scale, "
       "c.name AS column_name, NULL AS remarks, NULL AS \"default\", NULL AS \"check\", "
       "c.usertype AS user_type, 'R' AS column_type FROM syscolumns c",
       {{"table_id", "int", 0, false},
        {"column_id", "int", 0, false},
        {"pkey", "char", 1, false},
        {"domain_id", "smallint", 0, false},
        {"nulls", "char", 1, false},
        {"width", "smallint", 0, false},
        {"scale", "smallint", 0, false},
        {"column_name", "varchar", 128, false},
        {"remarks", "text", 0, true},
        {"default", "text", 0, true},
        {"check", "text", 0, true},
        {"user_type", "smallint", 0, true},
        {"column_type", "char", 1, false}}},
      {"SYSINDEX",
       93,
       "SELECT x.id AS table_id, x.indid AS index_id, 0 AS root, 0 AS file_id, "
       "CASE WHEN (x.status2 & 2) <> 0 THEN 'U' WHEN (x.status & 2) <> 0 THEN 'Y' ELSE 'N' END "
       "AS \"unique\", o.uid AS creator, x.name AS index_name, NULL AS remarks "
       "FROM sysindexes x JOIN sysobjects o ON o.id = x.id "
       "WHERE x.indid BETWEEN 1 AND 254 AND (x.status & 2048) = 0",
       {{"table_id", "int", 0, false},
        {"index_id", "int", 0, false},
        {"root", "int", 0, false},
        {"file_id", "smallint", 0, false},
        {"unique", "char", 1, false},
        {"creator", "int", 0, false},
        {"index_name", "varchar", 128, false},
        {"remarks", "text", 0, true}}},
      {"SYSIXCOL",
       94,
       "SELECT k.id AS table_id, k.indid AS index_id, k.keyno - 1 AS sequence, "
       "k.colid AS column_id, 'A' AS \"order\" FROM sysindexkeys k",
       {{"table_id", "int", 0, false},
        {"index_id", "int", 0, false},
        {"sequence", "smallint", 0, false},
        {"column_id", "int", 0, false},
        {"order", "char", 1, false}}},
  };
  return views;
}

std::vector<ColumnMeta> ToMeta(const std::vector<SysColumn>& cols) {
  std::vector<ColumnMeta> out;
  int colid = 1;
  for (const auto& c : cols) {
    ColumnMeta m;
    m.name = c.name;
    m.colid = colid++;
    m.type = SysType(c);
    m.nullable = c.nullable;
    out.push_back(std::move(m));
  }
  return out;
}

}  // namespace

const ColumnMeta* TableMeta::Find(const std::string& column) const {
  for (const auto& c : columns)
    if (c.name == column) return &c;
  return nullptr;
}

bool TableMeta::HasIdentity() const {
  return std::any_of(columns.begin(), columns.end(), [](const auto& c) { return c.identity; });
}

std::string NowText() { return DateTimeToStorage(CurrentDateTime()); }

namespace {

bool InDatabase(const SysTable& t, bool master) { return master || t.home == Home::Every; }

void CreateStorage(sqlite3* db, const std::string& schema, const SysTable& t) {
  if (t.home == Home::MasterLive) return;
  {
    std::string sql = "CREATE TABLE " + Q(schema, t.name) + " (";
    bool first = true;
    for (const auto& c : t.columns) {
      TypeDesc ty = SysType(c);
      if (!first) sql += ", ";
      first = false;
      sql += QuoteId(c.name) + " " + StorageDecl(ty);
      if (!c.nullable) {
        sql += " NOT NULL";
        if (ty.IsNumeric())
          sql += " DEFAULT 0";
        else if (ty.IsDateTime())
          sql += " DEFAULT '1900-01-01 00:00:00.000'";
        else if (ty.IsString())
          sql += " DEFAULT ''";
      }
    }
    sql += ")";
    Exec(db, sql);
  }
}

// spt_values rows by type: P the numbers 0..2047, D database status bits (sp_helpdb's option
// names), L lock types (sp_lock), O object classes (sysobjects.sysstat's low bits).
void FillSptValues(sqlite3* db, const std::string& schema) {
  Statement ins(
      db, "INSERT INTO " + Q(schema, "spt_values") + " (name, number, type) VALUES (?, ?, ?)");
  auto add = [&](const char* name, int64_t number, const char* type) {
    ins.Reset();
    if (name)
      ins.Bind(1, std::string_view(name));
    else
      ins.BindNull(1);
    ins.Bind(2, number).Bind(3, std::string_view(type));
    ins.Step();
  };
  for (int64_t n = 0; n <= 2047; ++n) add(nullptr, n, "P");
  const std::pair<const char*, int> databaseBits[] = {{"select into/bulkcopy/pllsort", 4},
                                                      {"trunc log on chkpt", 8},
                                                      {"no chkpt on recovery", 16},
                                                      {"not recovered", 256},
                                                      {"ddl in tran", 512},
                                                      {"read only", 1024},
                                                      {"dbo use only", 2048},
                                                      {"single user", 4096},
                                                      {"allow nulls by default", 8192}};
  for (auto [name, bit] : databaseBits) add(name, bit, "D");
  const char* lockTypes[] = {"Ex_table", "Sh_table",   "Ex_intent",   "Sh_intent",
                             "Ex_page",  "Sh_page",    "Update_page", "Ex_row",
                             "Sh_row",   "Update_row", "Sh_nextkey"};
  int64_t n = 1;
  for (const char* name : lockTypes) add(name, n++, "L");
  const std::pair<const char*, int> classes[] = {
      {"system table", 1},     {"view", 2}, {"user table", 3}, {"stored procedure", 4},
      {"default", 6},          {"rule", 7}, {"trigger", 8},    {"referential constraint", 9},
      {"check constraint", 10}};
  for (auto [name, number] : classes) add(name, number, "O");
}

// Ids below 100 are system tables; the tables installed beside them (spt_values) are user
// tables of dbo, as the installation scripts create them.
void AddSystemObject(sqlite3* db, const std::string& schema, const SysTable& t) {
  bool user = t.id >= 100;
  AddObject(db, schema, t.id, t.name, user ? "U" : "S", user ? 3 : 1);
}

}  // namespace

void UpgradeCatalog(sqlite3* db, const std::string& schema, bool master) {
  // A data folder made before a system table existed gains it here.
  for (const auto& t : SystemTables()) {
    if (!InDatabase(t, master) || FindObject(db, schema, t.name)) continue;
    CreateStorage(db, schema, t);
    AddSystemObject(db, schema, t);
    AddColumns(db, schema, t.id, ToMeta(t.columns));
    if (std::string_view(t.name) == "spt_values") FillSptValues(db, schema);
  }
}

void CreateCatalog(sqlite3* db, const std::string& schema, bool master) {
  for (const auto& t : SystemTables()) {
    if (!InDatabase(t, master)) continue;
    CreateStorage(db, schema, t);
  }
  Exec(db, "CREATE UNIQUE INDEX " + QuoteId(schema) + ".\"sysobjects.ncsysobjects\" ON " +
               QuoteId("sysobjects") + "(id)");
  Exec(db, "CREATE INDEX " + QuoteId(schema) + ".\"sysobjects.name\" ON " + QuoteId("sysobjects") +
               "(name)");
  Exec(db, "CREATE UNIQUE INDEX " + QuoteId(schema) + ".\"syscolumns.csyscolumns\" ON " +
               QuoteId("syscolumns") + "(id, number, colid)");
  Exec(db, "CREATE INDEX " + QuoteId(schema) + ".\"sysindexes.csysindexes\" ON " +
               QuoteId("sysindexes") + "(id, indid)");

  std::string now = NowText();
  for (const auto& t : SystemTables()) {
    if (!InDatabase(t, master)) continue;
    AddSystemObject(db, schema, t);
    AddColumns(db, schema, t.id, ToMeta(t.columns));
  }
  for (const auto& v : AnywhereViews()) {
    Exec(db, "CREATE VIEW " + Q(schema, v.name) + " AS " + v.sql);
    AddObject(db, schema, v.id, v.name, "V", 2);
    AddColumns(db, schema, v.id, ToMeta(v.columns));
  }

  {
    Statement ins(db, "INSERT INTO " + Q(schema, "systypes") +
                          " (uid, usertype, variable, allownulls, type, length, tdefault, domain,"
                          " name, prec, scale, ident, hierarchy) VALUES"
                          " (1, ?, ?, ?, ?, ?, 0, 0, ?, ?, ?, 0, ?)");
    for (const auto& st : kShippedTypes) {
      ins.Reset();
      ins.Bind(1, int64_t{st.usertype})
          .Bind(2, int64_t{st.variable})
          .Bind(3, int64_t{st.allownulls})
          .Bind(4, int64_t{st.type})
          .Bind(5, int64_t{st.length})
          .Bind(6, std::string_view(st.name));
      if (st.prec >= 0)
        ins.Bind(7, int64_t{st.prec}).Bind(8, int64_t{st.scale});
      else
        ins.BindNull(7).BindNull(8);
      ins.Bind(9, int64_t{st.hierarchy});
      ins.Step();
    }
  }
  Exec(db, "INSERT INTO " + Q(schema, "sysusers") +
               " (suid, uid, gid, name) VALUES (-2, 0, 0, 'public'), (1, 1, 0, 'dbo')");
  Exec(db, "INSERT INTO " + Q(schema, "syssegments") +
               " (segment, name, status) VALUES (0, 'system', 0), (1, 'default', 1),"
               " (2, 'logsegment', 0)");
  if (master) FillSptValues(db, schema);
}

std::optional<ObjectRef> FindObject(sqlite3* db, const std::string& schema,
                                    const std::string& name) {
  Statement s(db, "SELECT id, type, name FROM " + Q(schema, "sysobjects") +
                      " WHERE name = ? COLLATE BINARY");
  s.Bind(1, std::string_view(name));
  if (!s.Step()) return std::nullopt;
  ObjectRef r;
  r.id = s.Int(0);
  r.type = s.Text(1);
  while (!r.type.empty() && r.type.back() == ' ') r.type.pop_back();
  r.name = s.Text(2);
  return r;
}

std::optional<TableMeta> LoadTable(sqlite3* db, const std::string& schema,
                                   const std::string& database, const std::string& name) {
  auto obj = FindObject(db, schema, name);
  if (!obj || (obj->type != "U" && obj->type != "S" && obj->type != "V")) return std::nullopt;
  TableMeta t;
  t.database = database;
  t.schema = schema;
  t.name = obj->name;
  t.id = obj->id;
  t.type = obj->type;
  Statement c(db,
              "SELECT name, colid, status, type, length, usertype, prec, scale, cdefault,"
              " domain FROM " +
                  Q(schema, "syscolumns") + " WHERE id = ? AND number = 0 ORDER BY colid");
  c.Bind(1, t.id);
  while (c.Step()) {
    ColumnMeta m;
    m.name = c.Text(0);
    m.colid = static_cast<int>(c.Int(1));
    int status = static_cast<int>(c.Int(2));
    m.nullable = (status & kColumnNullable) != 0;
    m.identity = (status & kColumnIdentity) != 0;
    auto ty =
        FromPhysical(static_cast<int>(c.Int(3)), static_cast<int>(c.Int(4)),
                     c.IsNull(6) ? 0 : static_cast<int>(c.Int(6)),
                     c.IsNull(7) ? 0 : static_cast<int>(c.Int(7)), static_cast<int>(c.Int(5)));
    m.type = ty.value_or(TypeDesc{});
    m.cdefault = c.Int(8);
    m.domain = c.Int(9);
    t.columns.push_back(std::move(m));
  }
  // Computed columns are SQLite's generated columns: hidden 2 (virtual) or 3 (stored).
  if (t.type == "U") {
    Statement g(db, "PRAGMA " + QuoteId(schema) + ".table_xinfo(" + QuoteId(t.name) + ")");
    while (g.Step()) {
      int64_t hidden = g.Int(6);
      if (hidden != 2 && hidden != 3) continue;
      for (auto& m : t.columns) {
        if (m.name != g.Text(1)) continue;
        m.computed = true;
        m.materialized = hidden == 3;
      }
    }
  }
  Statement x(db, "SELECT name, indid, status, status2 FROM " + Q(schema, "sysindexes") +
                      " WHERE id = ? AND indid BETWEEN 1 AND 254 ORDER BY indid");
  x.Bind(1, t.id);
  while (x.Step()) {
    IndexMeta im;
    im.name = x.Text(0);
    im.indid = static_cast<int>(x.Int(1));
    im.status = static_cast<int>(x.Int(2));
    im.status2 = static_cast<int>(x.Int(3));
    t.indexes.push_back(std::move(im));
  }
  for (auto& im : t.indexes) {
    Statement k(db, "SELECT colid FROM " + Q(schema, "sysindexkeys") +
                        " WHERE id = ? AND indid = ? ORDER BY keyno");
    k.Bind(1, t.id).Bind(2, int64_t{im.indid});
    while (k.Step()) im.keys.push_back(static_cast<int>(k.Int(0)));
  }
  return t;
}

int64_t NextObjectId(sqlite3* db, const std::string& schema) {
  // Ids grow from a floor well above the system objects, like Sybase's large object ids.
  auto max = storage::QueryInt(db, "SELECT max(id) FROM " + Q(schema, "sysobjects"));
  int64_t next = std::max<int64_t>(max.value_or(0), 16003008) + 16;
  return next;
}

void AddObject(sqlite3* db, const std::string& schema, int64_t id, const std::string& name,
               const std::string& type, int sysstat, int sysstat2, int64_t deltrig) {
  Statement s(db, "INSERT INTO " + Q(schema, "sysobjects") +
                      " (name, id, uid, type, sysstat, sysstat2, crdate, expdate, deltrig,"
                      " loginame) VALUES (?, ?, 1, ?, ?, ?, ?, ?, ?, NULL)");
  std::string now = NowText();
  s.Bind(1, std::string_view(name))
      .Bind(2, id)
      .Bind(3, std::string_view(type))
      .Bind(4, int64_t{sysstat})
      .Bind(5, int64_t{sysstat2})
      .Bind(6, std::string_view(now))
      .Bind(7, std::string_view(now))
      .Bind(8, deltrig);
  s.Step();
}

void AddColumns(sqlite3* db, const std::string& schema, int64_t id,
                const std::vector<ColumnMeta>& columns) {
  Statement s(db, "INSERT INTO " + Q(schema, "syscolumns") +
                      " (id, number, colid, status, type, length, offset, usertype, cdefault,"
                      " domain, name, prec, scale) VALUES (?, 0, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  int offset = 2;
  for (const auto& c : columns) {
    s.Reset();
    int status = (c.nullable ? kColumnNullable : 0) | (c.identity ? kColumnIdentity : 0);
    bool variable =
        c.nullable || c.type.type == SqlType::VarChar || c.type.type == SqlType::VarBinary;
    // unichar(n)/univarchar(n) hold n UTF-16 units: 2n bytes.
    int64_t length =
        c.type.usertype == 34 || c.type.usertype == 35 ? 2 * int64_t{c.type.length} : c.type.length;
    int off = variable ? -1 : offset;
    if (!variable) offset += static_cast<int>(length);
    s.Bind(1, id)
        .Bind(2, int64_t{c.colid})
        .Bind(3, int64_t{status})
        .Bind(4, int64_t{PhysicalType(c.type, c.nullable)})
        .Bind(5, length)
        .Bind(6, int64_t{off})
        .Bind(7, int64_t{c.type.usertype})
        .Bind(8, c.cdefault)
        .Bind(9, c.domain)
        .Bind(10, std::string_view(c.name));
    if (c.type.IsExactNumeric()) {
      s.Bind(11, int64_t{c.type.precision}).Bind(12, int64_t{c.type.scale});
    } else {
      s.BindNull(11).BindNull(12);
    }
    s.Step();
  }
}

void AddIndex(sqlite3* db, const std::string& schema, int64_t tableId, const IndexMeta& index) {
  // keycnt: the keys, plus one for the row id except on a clustered index.
  int keycnt = static_cast<int>(index.keys.size()) + ((index.status & kIndexClustered) ? 0 : 1);
  Statement s(db, "INSERT INTO " + Q(schema, "sysindexes") +
                      " (name, id, indid, status, status2, keycnt, segment, crdate)"
                      " VALUES (?, ?, ?, ?, ?, ?, 1, ?)");
  std::string now = NowText();
  s.Bind(1, std::string_view(index.name))
      .Bind(2, tableId)
      .Bind(3, int64_t{index.indid})
      .Bind(4, int64_t{index.status})
      .Bind(5, int64_t{index.status2})
      .Bind(6, int64_t{keycnt})
      .Bind(7, std::string_view(now));
  s.Step();
  Statement k(db, "INSERT INTO " + Q(schema, "sysindexkeys") +
                      " (id, indid, keyno, colid) VALUES (?, ?, ?, ?)");
  int keyno = 1;
  for (int colid : index.keys) {
    k.Reset();
    k.Bind(1, tableId)
        .Bind(2, int64_t{index.indid})
        .Bind(3, int64_t{keyno++})
        .Bind(4, int64_t{colid});
    k.Step();
  }
}

void StoreText(sqlite3* db, const std::string& schema, int64_t id, const std::string& text,
               int number) {
  Statement s(db, "INSERT INTO " + Q(schema, "syscomments") +
                      " (id, number, colid, texttype, language, text, colid2, status)"
                      " VALUES (?, ?, ?, 0, 0, ?, ?, 0)");
  size_t pos = 0;
  int64_t chunk = 0;
  do {
    // Cut at 255 bytes without splitting a UTF-8 sequence.
    size_t len = std::min<size_t>(255, text.size() - pos);
    while (len > 0 && pos + len < text.size() &&
           (static_cast<unsigned char>(text[pos + len]) & 0xC0) == 0x80)
      --len;
    if (len == 0) len = std::min<size_t>(255, text.size() - pos);
    s.Reset();
    ++chunk;
    s.Bind(1, id)
        .Bind(2, int64_t{number})
        .Bind(3, chunk % 32768)
        .Bind(4, std::string_view(text).substr(pos, len))
        .Bind(5, chunk / 32768);
    s.Step();
    pos += len;
  } while (pos < text.size());
}

void AddReference(sqlite3* db, const std::string& schema, const ReferenceMeta& r) {
  std::string cols = "indexid, constrid, tableid, reftabid, keycnt, status, frgndbid, pmrydbid";
  std::string values = "0, ?, ?, ?, ?, 0, ?, ?";
  for (size_t i = 0; i < r.keys.size() && i < 16; ++i) {
    cols += ", fokey" + std::to_string(i + 1) + ", refkey" + std::to_string(i + 1);
    values += ", " + std::to_string(r.keys[i]) + ", " + std::to_string(r.refKeys[i]);
  }
  Statement s(
      db, "INSERT INTO " + Q(schema, "sysreferences") + " (" + cols + ") VALUES (" + values + ")");
  s.Bind(1, r.constraintId)
      .Bind(2, r.tableId)
      .Bind(3, r.refTableId)
      .Bind(4, static_cast<int64_t>(std::min<size_t>(r.keys.size(), 16)))
      .Bind(5, r.dbid)
      .Bind(6, r.dbid);
  s.Step();
}

std::vector<ReferenceMeta> LoadReferences(sqlite3* db, const std::string& schema) {
  std::string keys;
  for (int i = 1; i <= 16; ++i)
    keys += ", fokey" + std::to_string(i) + ", refkey" + std::to_string(i);
  Statement s(db, "SELECT constrid, tableid, reftabid, pmrydbid, keycnt" + keys + " FROM " +
                      Q(schema, "sysreferences") + " ORDER BY constrid");
  std::vector<ReferenceMeta> out;
  while (s.Step()) {
    ReferenceMeta r;
    r.constraintId = s.Int(0);
    r.tableId = s.Int(1);
    r.refTableId = s.Int(2);
    r.dbid = s.Int(3);
    for (int i = 0; i < s.Int(4) && i < 16; ++i) {
      r.keys.push_back(static_cast<int>(s.Int(5 + 2 * i)));
      r.refKeys.push_back(static_cast<int>(s.Int(6 + 2 * i)));
    }
    out.push_back(std::move(r));
  }
  return out;
}

void DropObject(sqlite3* db, const std::string& schema, int64_t id) {
  for (const char* t :
       {"sysobjects", "syscolumns", "sysindexes", "sysindexkeys", "syscomments", "sysprotects"}) {
    Statement s(db, "DELETE FROM " + Q(schema, t) + " WHERE id = ?");
    s.Bind(1, id);
    s.Step();
  }
}

int NextIndexId(sqlite3* db, const std::string& schema, int64_t tableId, bool clustered) {
  if (clustered) return 1;
  Statement s(db, "SELECT max(indid) FROM " + Q(schema, "sysindexes") +
                      " WHERE id = ? AND indid BETWEEN 2 AND 250");
  s.Bind(1, tableId);
  s.Step();
  return s.IsNull(0) ? 2 : static_cast<int>(s.Int(0)) + 1;
}

std::optional<UserType> FindUserType(sqlite3* db, const std::string& schema,
                                     const std::string& name) {
  Statement s(db, "SELECT usertype, type, length, prec, scale, allownulls, domain, tdefault FROM " +
                      Q(schema, "systypes") + " WHERE name = ? COLLATE BINARY AND usertype >= 100");
  s.Bind(1, std::string_view(name));
  if (!s.Step()) return std::nullopt;
  auto ty = FromPhysical(static_cast<int>(s.Int(1)), static_cast<int>(s.Int(2)),
                         s.IsNull(3) ? 0 : static_cast<int>(s.Int(3)),
                         s.IsNull(4) ? 0 : static_cast<int>(s.Int(4)), static_cast<int>(s.Int(0)));
  if (!ty) return std::nullopt;
  UserType u;
  u.type = *ty;
  u.allowNulls = s.Int(5) != 0;
  u.domain = s.Int(6);
  u.tdefault = s.Int(7);
  return u;
}

}  // namespace sampleserver::catalog
