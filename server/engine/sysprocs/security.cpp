// Logins, users, groups and protections.
#include "engine/catalog.h"
#include "engine/sysprocs/sysprocs.h"

#include <algorithm>

namespace sampleserver {

using storage::Exec;
using storage::Statement;

namespace {

// sp_addlogin name, password [, defdb [, language [, fullname]]]
int AddLogin(SysProcCall& c) {
  if (c.Arg(0).empty()) return c.Error(17000, {"sp_addlogin"});
  Statement chk(c.Db(), "SELECT 1 FROM main.syslogins WHERE name = ? COLLATE BINARY");
  chk.Bind(1, std::string_view(c.Arg(0)));
  if (chk.Step()) return c.Error(17262, {c.Arg(0)});
  auto suid = storage::QueryInt(c.Db(), "SELECT max(suid) FROM main.syslogins").value_or(1) + 1;
  Statement st(c.Db(),
               "INSERT INTO main.syslogins (suid, status, accdate, dbname, name,"
               " password, language, pwdate, fullname) VALUES (?, 0, ?, ?, ?, ?, ?, ?, ?)");
  std::string now = catalog::NowText();
  std::string pw = c.Arg(1);
  st.Bind(1, suid)
      .Bind(2, std::string_view(now))
      .Bind(3, std::string_view(c.Arg(2).empty() ? "master" : c.Arg(2)))
      .Bind(4, std::string_view(c.Arg(0)))
      .BindBlob(5, std::vector<uint8_t>(pw.begin(), pw.end()))
      .Bind(6, std::string_view(c.Arg(3).empty() ? "us_english" : c.Arg(3)))
      .Bind(7, std::string_view(now))
      .Bind(8, std::string_view(c.Arg(4)));
  st.Step();
  c.Print("Password correctly set.");
  c.Print("Account unlocked.");
  c.Print("New login created.");
  return 0;
}

int AddGroup(SysProcCall& c) {
  Statement chk(c.Db(), "SELECT 1 FROM " + c.Q() + "sysusers WHERE name = ? COLLATE BINARY");
  chk.Bind(1, std::string_view(c.Arg(0)));
  if (chk.Step()) return c.Error(15023, {c.Arg(0)});
  auto uid =
      storage::QueryInt(c.Db(), "SELECT max(uid) FROM " + c.Q() + "sysusers WHERE uid >= 16390");
  int64_t next = uid ? *uid + 1 : 16390;
  Statement st(c.Db(),
               "INSERT INTO " + c.Q() + "sysusers (suid, uid, gid, name) VALUES (-2, ?, ?, ?)");
  st.Bind(1, next).Bind(2, next).Bind(3, std::string_view(c.Arg(0)));
  st.Step();
  c.Print("New group added.");
  return 0;
}

// The uid of a group by name (public is 0); none when there is no such group.
std::optional<int64_t> GroupId(SysProcCall& c, const std::string& name) {
  if (name == "public") return 0;
  Statement g(c.Db(),
              "SELECT uid FROM " + c.Q() + "sysusers WHERE name = ? COLLATE BINARY AND uid = gid");
  g.Bind(1, std::string_view(name));
  if (!g.Step()) return std::nullopt;
  return g.Int(0);
}

// sp_adduser login [, name_in_db [, group]]; guest needs no login.
int AddUser(SysProcCall& c) {
  if (c.Arg(0) == "guest") {
    Statement chk(c.Db(), "SELECT 1 FROM " + c.Q() + "sysusers WHERE name = 'guest'");
    if (chk.Step()) return c.Error(15023, {"guest"});
    Exec(c.Db(),
         "INSERT INTO " + c.Q() + "sysusers (suid, uid, gid, name) VALUES (-1, 2, 0, 'guest')");
    c.Print("New user added.");
    return 0;
  }
  Statement lg(c.Db(), "SELECT suid FROM main.syslogins WHERE name = ? COLLATE BINARY");
  lg.Bind(1, std::string_view(c.Arg(0)));
  if (!lg.Step()) return c.Error(17231, {c.Arg(0)});
  int64_t suid = lg.Int(0);
  std::string uname = c.Arg(1).empty() ? c.Arg(0) : c.Arg(1);
  int64_t gid = 0;
  if (!c.Arg(2).empty()) {
    auto g = GroupId(c, c.Arg(2));
    if (!g) return c.Error(15013, {c.Arg(2)});
    gid = *g;
  }
  Statement chk(c.Db(),
                "SELECT 1 FROM " + c.Q() + "sysusers WHERE name = ? COLLATE BINARY OR suid = ?");
  chk.Bind(1, std::string_view(uname)).Bind(2, suid);
  if (chk.Step()) return c.Error(15023, {uname});
  auto uid =
      storage::QueryInt(c.Db(), "SELECT max(uid) FROM " + c.Q() + "sysusers WHERE uid < 16384");
  Statement st(c.Db(),
               "INSERT INTO " + c.Q() + "sysusers (suid, uid, gid, name) VALUES (?, ?, ?, ?)");
  st.Bind(1, suid)
      .Bind(2, std::max<int64_t>(3, uid.value_or(2) + 1))
      .Bind(3, gid)
      .Bind(4, std::string_view(uname));
  st.Step();
  c.Print("New user added.");
  return 0;
}

// sp_changegroup group, user
int ChangeGroup(SysProcCall& c) {
  auto gid = GroupId(c, c.Arg(0));
  if (!gid) return c.Error(15013, {c.Arg(0)});
  Statement st(c.Db(), "UPDATE " + c.Q() +
                           "sysusers SET gid = ? WHERE name = ? COLLATE BINARY AND uid <> gid");
  st.Bind(1, *gid).Bind(2, std::string_view(c.Arg(1)));
  st.Step();
  if (sqlite3_changes(c.Db()) == 0) return c.Error(15008, {c.Arg(1)});
  c.Print("Group changed.");
  return 0;
}

// sp_defaultdb login, database
int DefaultDb(SysProcCall& c) {
  Statement st(c.Db(), "UPDATE main.syslogins SET dbname = ? WHERE name = ? COLLATE BINARY");
  st.Bind(1, std::string_view(c.Arg(1))).Bind(2, std::string_view(c.Arg(0)));
  st.Step();
  return 0;
}

// Passwords are not checked beyond the login itself: accepted.
int Password(SysProcCall&) { return 0; }

// sp_helpuser [name]: each user (not group) with its group and login.
int HelpUser(SysProcCall& c) {
  std::string sql = "SELECT u.name, u.uid, COALESCE(g.name, 'public'), l.name FROM " + c.Q() +
                    "sysusers u LEFT JOIN " + c.Q() +
                    "sysusers g ON g.uid = u.gid AND g.uid = g.gid"
                    " LEFT JOIN main.syslogins l ON l.suid = u.suid WHERE u.uid <> u.gid";
  if (c.Given(0)) {
    Statement chk(
        c.Db(), "SELECT 1 FROM " + c.Q() + "sysusers WHERE name = ? COLLATE BINARY AND uid <> gid");
    chk.Bind(1, std::string_view(c.Arg(0)));
    if (!chk.Step()) return c.Error(15008, {c.Arg(0)});
    sql += " AND u.name = " + storage::QuoteText(c.Arg(0)) + " COLLATE BINARY";
  }
  c.Query(sql + " ORDER BY u.name",
          {VarcharColumn("Users_name", 30), IntColumn("ID_in_db"), VarcharColumn("Group_name", 30),
           VarcharColumn("Login_name", 30, true)});
  return 0;
}

// sp_helpgroup [group]: the groups, or one group with its members.
int HelpGroup(SysProcCall& c) {
  if (!c.Given(0)) {
    c.Query("SELECT name, uid FROM " + c.Q() + "sysusers WHERE uid = gid ORDER BY name",
            {VarcharColumn("Group_name", 30), IntColumn("Group_id")});
    return 0;
  }
  auto gid = GroupId(c, c.Arg(0));
  if (!gid) return c.Error(15013, {c.Arg(0)});
  auto members = storage::QueryInt(c.Db(), "SELECT count(*) FROM " + c.Q() +
                                               "sysusers WHERE gid = " + std::to_string(*gid) +
                                               " AND uid <> gid");
  if (members.value_or(0) == 0) {
    c.Print("Group has no members.");
    return 0;
  }
  c.Query("SELECT " + storage::QuoteText(c.Arg(0)) + ", " + std::to_string(*gid) +
              ", name, uid FROM " + c.Q() + "sysusers WHERE gid = " + std::to_string(*gid) +
              " AND uid <> gid ORDER BY name",
          {VarcharColumn("Group_name", 30), IntColumn("Group_id"),
           VarcharColumn("Users_in_group", 30), IntColumn("Userid")});
  return 0;
}

// sysprotects.action codes and the names sp_helprotect prints.
struct Action {
  const char* privilege;
  int code;
  const char* name;
  bool onObject;
};
const Action kActions[] = {
    {"references", 151, "References", true},
    {"select", 193, "Select", true},
    {"insert", 195, "Insert", true},
    {"delete", 196, "Delete", true},
    {"update", 197, "Update", true},
    {"execute", 224, "Execute", true},
    {"exec", 224, "Execute", true},
    {"create table", 198, "Create Table", false},
    {"create database", 203, "Create Database", false},
    {"create view", 207, "Create View", false},
    {"create trigger", 221, "Create Trigger", false},
    {"create procedure", 222, "Create Procedure", false},
    {"create default", 233, "Create Default", false},
    {"create rule", 236, "Create Rule", false},
};

const char* ActionName(int64_t code) {
  for (const auto& a : kActions)
    if (a.code == code) return a.name;
  return "Other";
}

// sp_helprotect [object | user [, user]]: the grants and revokes on record.
int HelpRotect(SysProcCall& c) {
  std::string where;
  if (c.Given(0)) {
    auto obj = c.Object(c.Arg(0));
    Statement u(c.Db(), "SELECT uid FROM " + c.Q() + "sysusers WHERE name = ? COLLATE BINARY");
    u.Bind(1, std::string_view(c.Arg(0)));
    if (obj)
      where = " AND p.id = " + std::to_string(obj->id);
    else if (u.Step())
      where = " AND p.uid = " + std::to_string(u.Int(0));
    else
      return c.Error(17461);
  }
  if (c.Given(1)) where += " AND g.name = " + storage::QuoteText(c.Arg(1)) + " COLLATE BINARY";
  struct Row {
    std::string grantor, grantee, object;
    int64_t action, type, tableId;
    std::vector<uint8_t> columns;
    bool allColumns;
  };
  std::vector<Row> rows;
  {
    Statement st(
        c.Db(),
        "SELECT COALESCE(r.name, 'dbo'), g.name, COALESCE(o.name, ''), p.action, p.protecttype,"
        " p.id, p.columns FROM " +
            c.Q() + "sysprotects p JOIN " + c.Q() + "sysusers g ON g.uid = p.uid LEFT JOIN " +
            c.Q() +
            "sysusers r ON r.uid = p.grantor"
            " LEFT JOIN " +
            c.Q() + "sysobjects o ON o.id = p.id WHERE 1 = 1" + where + " ORDER BY 3, 2, p.action");
    while (st.Step())
      rows.push_back({st.Text(0), st.Text(1), st.Text(2), st.Int(3), st.Int(4), st.Int(5),
                      st.IsNull(6) ? std::vector<uint8_t>{} : st.Blob(6), st.IsNull(6)});
  }
  std::vector<std::vector<Value>> out;
  for (const auto& r : rows) {
    std::vector<std::string> columns;
    if (r.object.empty()) {
      columns.push_back("");  // a command permission
    } else if (r.allColumns) {
      columns.push_back("All");
    } else if (auto t = catalog::LoadTable(c.Db(), c.Schema(), c.Database(), r.object)) {
      for (const auto& col : t->columns) {
        size_t byte = static_cast<size_t>(col.colid) / 8;
        if (byte < r.columns.size() && (r.columns[byte] & (1 << (col.colid % 8))))
          columns.push_back(col.name);
      }
    }
    for (const auto& col : columns)
      out.push_back({Value{r.grantor}, Value{r.grantee},
                     Value{std::string(r.type == 2 ? "Revoke" : "Grant")},
                     Value{std::string(ActionName(r.action))}, Value{r.object}, Value{col},
                     Value{std::string(r.type == 0 ? "TRUE" : "FALSE")}});
  }
  c.Rows({VarcharColumn("grantor", 30), VarcharColumn("grantee", 30), VarcharColumn("type", 10),
          VarcharColumn("action", 20), VarcharColumn("object", 30), VarcharColumn("column", 30),
          VarcharColumn("grantable", 5)},
         out);
  return 0;
}

}  // namespace

// grant and revoke keep sysprotects true; the server does not check permissions itself.
void SessionImpl::RunGrant(const sql::GrantStmt& s, ResultSink& sink) {
  std::string schema = SchemaOf(database_);
  const std::string Q = storage::QuoteId(schema) + ".";
  std::optional<catalog::TableMeta> table;
  int64_t objectId = 0;
  bool procedure = false;
  if (!s.object.empty()) {
    std::string objSchema = SchemaFor(s.object);
    auto obj = objSchema.empty() ? std::nullopt
                                 : catalog::FindObject(db_.get(), objSchema, s.object.object);
    if (!obj || objSchema != schema) Fail(208, {s.object.object});
    objectId = obj->id;
    procedure = obj->type == "P";
    table = catalog::LoadTable(db_.get(), schema, database_, obj->name);
  }
  // The privileges as action codes; `all` is every privilege the object (or the database) has.
  std::vector<int> actions;
  for (const auto& p : s.privileges) {
    if (p == "all") {
      for (const auto& a : kActions)
        if (a.onObject == !s.object.empty() && (s.object.empty() || (a.code == 224) == procedure) &&
            std::string_view(a.privilege) != "exec")
          actions.push_back(a.code);
      continue;
    }
    for (const auto& a : kActions)
      if (p == a.privilege) actions.push_back(a.code);  // others are accepted without a record
  }
  std::optional<std::vector<uint8_t>> bitmap;
  if (!s.columns.empty()) {
    if (!table) Fail(207, {s.columns[0]});
    std::vector<uint8_t> bits;
    for (const auto& name : s.columns) {
      const auto* col = table->Find(name);
      if (!col) Fail(207, {name});
      size_t byte = static_cast<size_t>(col->colid) / 8;
      if (bits.size() <= byte) bits.resize(byte + 1);
      bits[byte] = static_cast<uint8_t>(bits[byte] | (1 << (col->colid % 8)));
    }
    bitmap = std::move(bits);
  }
  std::vector<int64_t> grantees;
  for (const auto& name : s.grantees) {
    Statement u(db_.get(), "SELECT uid FROM " + Q + "sysusers WHERE name = ? COLLATE BINARY");
    u.Bind(1, std::string_view(name));
    if (!u.Step()) Fail(15008, {name});
    grantees.push_back(u.Int(0));
  }
  int64_t grantor = 1;
  {
    Statement g(db_.get(), "SELECT uid FROM " + Q + "sysusers WHERE suid = ?");
    g.Bind(1, suid_);
    if (g.Step() && suid_ != 1) grantor = g.Int(0);
  }
  BeginStatement();
  for (int64_t uid : grantees) {
    for (int action : actions) {
      Statement del(db_.get(),
                    "DELETE FROM " + Q + "sysprotects WHERE id = ? AND uid = ? AND action = ?");
      del.Bind(1, objectId).Bind(2, uid).Bind(3, int64_t{action});
      del.Step();
      bool hadGrant = sqlite3_changes(db_.get()) > 0;
      if (s.revoke && s.withGrantOption && hadGrant) {
        // revoke grant option for: the grant stays, without the option.
        Statement ins(db_.get(), "INSERT INTO " + Q +
                                     "sysprotects (id, uid, action, protecttype, columns, grantor)"
                                     " VALUES (?, ?, ?, 1, ?, ?)");
        ins.Bind(1, objectId).Bind(2, uid).Bind(3, int64_t{action});
        if (bitmap)
          ins.BindBlob(4, *bitmap);
        else
          ins.BindNull(4);
        ins.Bind(5, grantor).Step();
        continue;
      }
      // A revoke is kept only where it narrows a grant to public.
      bool keepRevoke =
          s.revoke && uid != 0 &&
          storage::QueryInt(db_.get(), "SELECT count(*) FROM " + Q +
                                           "sysprotects WHERE id = " + std::to_string(objectId) +
                                           " AND uid = 0 AND action = " + std::to_string(action) +
                                           " AND protecttype < 2")
                  .value_or(0) > 0;
      if (s.revoke && !keepRevoke) continue;
      Statement ins(db_.get(), "INSERT INTO " + Q +
                                   "sysprotects (id, uid, action, protecttype, columns, grantor)"
                                   " VALUES (?, ?, ?, ?, ?, ?)");
      ins.Bind(1, objectId)
          .Bind(2, uid)
          .Bind(3, int64_t{action})
          .Bind(4, int64_t{s.revoke            ? 2
                           : s.withGrantOption ? 0
                                               : 1});
      if (bitmap)
        ins.BindBlob(5, *bitmap);
      else
        ins.BindNull(5);
      ins.Bind(6, grantor).Step();
    }
  }
  EndStatement(true);
  Done(sink, 0, 0, false);
}

const std::vector<SysProcEntry>& SecurityProcedures() {
  static const std::vector<SysProcEntry> procs = {
      {"sp_addlogin", AddLogin, {"@loginame", "@passwd", "@defdb", "@deflanguage", "@fullname"}},
      {"sp_addgroup", AddGroup, {"@grpname"}},
      {"sp_adduser", AddUser, {"@loginame", "@name_in_db", "@grpname"}},
      {"sp_changegroup", ChangeGroup, {"@grpname", "@username"}},
      {"sp_defaultdb", DefaultDb, {"@loginame", "@defdb"}},
      {"sp_password", Password, {"@caller_passwd", "@new_passwd", "@loginame"}},
      {"sp_helpuser", HelpUser, {"@name_in_db"}},
      {"sp_helpgroup", HelpGroup, {"@grpname"}},
      {"sp_helprotect", HelpRotect, {"@name", "@username", "@grant", "@type"}},
  };
  return procs;
}

}  // namespace sampleserver
