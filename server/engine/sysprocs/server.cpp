// The server: sessions, locks, space, databases, version and configuration.
#include "engine/catalog.h"
#include "engine/datetime.h"
#include "engine/sysprocs/sysprocs.h"
#include "engine/values.h"

#include <cstdio>
#include <filesystem>

namespace sampleserver {

using storage::QuoteId;
using storage::QuoteText;
using storage::Statement;

namespace {

// sp_who [login | spid]: every live session.
int Who(SysProcCall& c) {
  std::vector<std::vector<Value>> rows;
  for (const auto& [spid, p] : c.Engine().Processes()) {
    if (c.Given(0) && c.Arg(0) != p.login && c.Arg(0) != std::to_string(spid)) continue;
    std::string db = c.Session().DbName(p.dbid).value_or("master");
    rows.push_back({Value{int64_t{0}}, Value{int64_t{spid}}, Value{p.status}, Value{p.login},
                    Value{p.login}, Value{p.host}, Value{int64_t{0}}, Value{db}, Value{p.cmd},
                    Value{int64_t{0}}});
  }
  c.Rows({IntColumn("fid"), IntColumn("spid"), VarcharColumn("status", 12),
          VarcharColumn("loginame", 30), VarcharColumn("origname", 30),
          VarcharColumn("hostname", 30), IntColumn("blk_spid"), VarcharColumn("dbname", 30),
          VarcharColumn("cmd", 30), IntColumn("block_xloid")},
         rows);
  return 0;
}

// sp_lock [spid1 [, spid2]]: master..syslocks, its lock types named by spt_values.
int Lock(SysProcCall& c) {
  std::string where;
  if (c.Given(0)) {
    where = " WHERE l.spid IN (" + std::to_string(std::atoll(c.Arg(0).c_str())) +
            (c.Given(1) ? ", " + std::to_string(std::atoll(c.Arg(1).c_str())) : std::string()) +
            ")";
  }
  c.Query(
      "SELECT l.fid, l.spid, l.loid, COALESCE(v.name, ''), l.id, l.partitionid, l.page, l.row,"
      " COALESCE(d.name, ''), CASE l.context WHEN 0 THEN 'Non Cursor Lock' ELSE 'Cursor Id' END"
      " FROM main.syslocks l LEFT JOIN main.spt_values v ON v.type = 'L' AND v.number = l.type"
      " LEFT JOIN main.sysdatabases d ON d.dbid = l.dbid" +
          where + " ORDER BY l.fid, l.spid",
      {SmallintColumn("fid"), SmallintColumn("spid"), IntColumn("loid"),
       VarcharColumn("locktype", 30), IntColumn("table_id"), IntColumn("partitionid"),
       IntColumn("page"), IntColumn("row"), VarcharColumn("dbname", 30),
       VarcharColumn("context", 20)});
  return 0;
}

std::string Kb(int64_t bytes) { return std::to_string((bytes + 1023) / 1024) + " KB"; }

int64_t FileBytes(SysProcCall& c, const std::string& database) {
  std::error_code ec;
  auto bytes = std::filesystem::file_size(c.Engine().PathOf(database), ec);
  return ec ? 0 : static_cast<int64_t>(bytes);
}

// Bytes SQLite gives one table or index, when its page statistics are available.
std::optional<int64_t> StoredBytes(SysProcCall& c, const std::string& name) {
  try {
    return storage::QueryInt(c.Db(), "SELECT coalesce(sum(pgsize), 0) FROM dbstat(" +
                                         QuoteText(c.Schema()) +
                                         ") WHERE name = " + QuoteText(name));
  } catch (const storage::SqliteError&) {
    return std::nullopt;
  }
}

std::string Mb(int64_t bytes) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return buf;
}

// sp_spaceused [table]: the database's space, or one table's rows and pages.
int SpaceUsed(SysProcCall& c) {
  if (!c.Given(0)) {
    int64_t total = FileBytes(c, c.Database());
    c.Rows({VarcharColumn("database_name", 30), VarcharColumn("database_size", 18)},
           {{Value{c.Database()}, Value{Mb(total)}}});
    c.Rows({VarcharColumn("reserved", 15), VarcharColumn("data", 15),
            VarcharColumn("index_size", 15), VarcharColumn("unused", 15)},
           {{Value{Kb(total)}, Value{Kb(total)}, Value{Kb(0)}, Value{Kb(0)}}});
    return 0;
  }
  auto t = catalog::LoadTable(c.Db(), c.Schema(), c.Database(), c.Arg(0));
  if (!t || t->type == "V") return c.Error(17461);
  int64_t rows = storage::QueryInt(
                     c.Db(), "SELECT count(*) FROM " + QuoteId(c.Schema()) + "." + QuoteId(t->name))
                     .value_or(0);
  int64_t data = StoredBytes(c, t->name).value_or(rows * 64);
  int64_t index = 0;
  for (const auto& ix : t->indexes) index += StoredBytes(c, t->name + "." + ix.name).value_or(0);
  c.Rows({VarcharColumn("name", 30), VarcharColumn("rowtotal", 11), VarcharColumn("reserved", 15),
          VarcharColumn("data", 15), VarcharColumn("index_size", 15), VarcharColumn("unused", 15)},
         {{Value{t->name}, Value{std::to_string(rows)}, Value{Kb(data + index)}, Value{Kb(data)},
           Value{Kb(index)}, Value{Kb(0)}}});
  return 0;
}

// sp_helpdb [database]: each database with its size, owner, id, creation date and options;
// one database adds its device fragments.
int HelpDb(SysProcCall& c) {
  std::string where;
  if (c.Given(0)) {
    if (!c.Session().DbId(c.Arg(0))) return c.Error(17590);
    where = " WHERE d.name = " + QuoteText(c.Arg(0)) + " COLLATE BINARY";
  }
  struct Db {
    std::string name, owner, created;
    int64_t dbid, status;
  };
  std::vector<Db> dbs;
  {
    Statement st(
        c.Db(),
        "SELECT d.name, COALESCE(l.name, 'sa'), d.dbid, d.crdate, d.status FROM main.sysdatabases d"
        " LEFT JOIN main.syslogins l ON l.suid = d.suid" +
            where + " ORDER BY d.name");
    while (st.Step()) dbs.push_back({st.Text(0), st.Text(1), st.Text(3), st.Int(2), st.Int(4)});
  }
  auto date = [](const std::string& stored) -> std::string {
    auto d = DateTimeFromStorage(stored);
    return d ? FormatValue(Value{*d}, SqlType::DateTime, 107) : stored;  // Mon dd, yyyy
  };
  std::vector<std::vector<Value>> rows;
  for (const auto& d : dbs) {
    // The option names are the status bits' names in spt_values.
    std::string options;
    Statement v(
        c.Db(),
        "SELECT name FROM main.spt_values WHERE type = 'D' AND number > 0 AND (number & ?) = number"
        " ORDER BY number");
    v.Bind(1, d.status);
    while (v.Step()) options += (options.empty() ? "" : ", ") + v.Text(0);
    rows.push_back({Value{d.name}, Value{" " + Mb(FileBytes(c, d.name))}, Value{d.owner},
                    Value{d.dbid}, Value{date(d.created)},
                    Value{options.empty() ? std::string("no options set") : options}});
  }
  c.Rows({VarcharColumn("name", 30), VarcharColumn("db_size", 13), VarcharColumn("owner", 30),
          SmallintColumn("dbid"), VarcharColumn("created", 14), VarcharColumn("status", 255)},
         rows);
  if (c.Given(0) && !dbs.empty()) {
    int64_t bytes = FileBytes(c, dbs[0].name);
    c.Rows({VarcharColumn("device_fragments", 30), VarcharColumn("size", 13),
            VarcharColumn("usage", 30), VarcharColumn("created", 20),
            VarcharColumn("free kbytes", 13)},
           {{Value{dbs[0].name + ".db"}, Value{Mb(bytes)}, Value{std::string("data and log")},
             Value{date(dbs[0].created)}, Value{std::string("not applicable")}}});
  }
  return 0;
}

// sp_version [script]: the installation scripts this server's catalog corresponds to.
int Version(SysProcCall& c) {
  std::string version = c.Engine().version;
  auto slash = version.find('/');
  if (slash != std::string::npos) version = version.substr(slash + 1);
  std::vector<std::vector<Value>> rows;
  for (const char* script : {"installmaster", "installpubs2"})
    if (!c.Given(0) || c.Arg(0) == script)
      rows.push_back({Value{std::string(script)}, Value{version}, Value{std::string("Complete")}});
  if (rows.empty()) return c.Error(17461);
  c.Rows({VarcharColumn("Script", 255), VarcharColumn("Version", 255), VarcharColumn("Status", 10)},
         rows);
  return 0;
}

// Options and servers are accepted: nothing in this server depends on them.
int Accept(SysProcCall&) { return 0; }

}  // namespace

const std::vector<SysProcEntry>& ServerProcedures() {
  static const std::vector<SysProcEntry> procs = {
      {"sp_who", Who, {"@loginame"}},
      {"sp_lock", Lock, {"@spid1", "@spid2"}},
      {"sp_spaceused", SpaceUsed, {"@objname", "@list_indices"}},
      {"sp_helpdb", HelpDb, {"@dbname"}},
      {"sp_version", Version, {"@script_file", "@all"}},
      {"sp_configure", Accept, {"@configname", "@configvalue"}},
      {"sp_dboption", Accept, {"@dbname", "@optname", "@optvalue"}},
      {"sp_addserver", Accept, {"@lname", "@class", "@pname"}},
  };
  return procs;
}

}  // namespace sampleserver
