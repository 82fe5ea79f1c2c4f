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
  Statement st(c.Db(), "INSERT INTO main.syslogins (suid, status, accdate, dbname, name,"
                       " password, language, pwdate, fullname) VALUES (?, 0, ?, ?, ?, ?, ?, ?, ?)");
  std::string now = catalog::NowText();
  std::string pw = c.Arg(1);
  st.Bind(1, suid).Bind(2, std::string_view(now))
      .Bind(3, std::string_view(c.Arg(2).empty() ? "master" : c.Arg(2)))
      .Bind(4, std::string_view(c.Arg(0)))
      .BindBlob(5, std::vector<uint8_t>(pw.begin(), pw.end()))
      .Bind(6, std::string_view(c.Arg(3).empty() ? "us_english" : c.Arg(3)))
      .Bind(7, std::string_view(now)).Bind(8, std::string_view(c.Arg(4)));
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
  auto uid = storage::QueryInt(c.Db(), "SELECT max(uid) FROM " + c.Q() + "sysusers WHERE uid >= 16390");
  int64_t next = uid ? *uid + 1 : 16390;
  Statement st(c.Db(), "INSERT INTO " + c.Q() + "sysusers (suid, uid, gid, name) VALUES (-2, ?, ?, ?)");
  st.Bind(1, next).Bind(2, next).Bind(3, std::string_view(c.Arg(0)));
  st.Step();
  c.Print("New group added.");
  return 0;
}

// The uid of a group by name (public is 0); none when there is no such group.
std::optional<int64_t> GroupId(SysProcCall& c, const std::string& name) {
  if (name == "public") return 0;
  Statement g(c.Db(), "SELECT uid FROM " + c.Q() + "sysusers WHERE name = ? COLLATE BINARY AND uid = gid");
  g.Bind(1, std::string_view(name));
  if (!g.Step()) return std::nullopt;
  return g.Int(0);
}

// sp_adduser login [, name_in_db [, group]]; guest needs no login.
int AddUser(SysProcCall& c) {
  if (c.Arg(0) == "guest") {
    Statement chk(c.Db(), "SELECT 1 FROM " + c.Q() + "sysusers WHERE name = 'guest'");
    if (chk.Step()) return c.Error(15023, {"guest"});
    Exec(c.Db(), "INSERT INTO " + c.Q() + "sysusers (suid, uid, gid, name) VALUES (-1, 2, 0, 'guest')");
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
  Statement chk(c.Db(), "SELECT 1 FROM " + c.Q() + "sysusers WHERE name = ? COLLATE BINARY OR suid = ?");
  chk.Bind(1, std::string_view(uname)).Bind(2, suid);
  if (chk.Step()) return c.Error(15023, {uname});
  auto uid = storage::QueryInt(c.Db(), "SELECT max(uid) FROM " + c.Q() + "sysusers WHERE uid < 16384");
  Statement st(c.Db(), "INSERT INTO " + c.Q() + "sysusers (suid, uid, gid, name) VALUES (?, ?, ?, ?)");
  st.Bind(1, suid).Bind(2, std::max<int64_t>(3, uid.value_or(2) + 1)).Bind(3, gid)
      .Bind(4, std::string_view(uname));
  st.Step();
  c.Print("New user added.");
  return 0;
}

// sp_changegroup group, user
int ChangeGroup(SysProcCall& c) {
  auto gid = GroupId(c, c.Arg(0));
  if (!gid) return c.Error(15013, {c.Arg(0)});
  Statement st(c.Db(), "UPDATE " + c.Q() + "sysusers SET gid = ? WHERE name = ? COLLATE BINARY AND uid <> gid");
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
                    "sysusers u LEFT JOIN " + c.Q() + "sysusers g ON g.uid = u.gid AND g.uid = g.gid"
                    " LEFT JOIN main.syslogins l ON l.suid = u.suid WHERE u.uid <> u.gid";
  if (c.Given(0)) {
    Statement chk(c.Db(), "SELECT 1 FROM " + c.Q() + "sysusers WHERE name = ? COLLATE BINARY AND uid <> gid");
    chk.Bind(1, std::string_view(c.Arg(0)));
    if (!chk.Step()) return c.Error(15008, {c.Arg(0)});
    sql += " AND u.name = " + storage::QuoteText(c.Arg(0)) + " COLLATE BINARY";
  }
  c.Query(sql + " ORDER BY u.name", {VarcharColumn("Users_name", 30), IntColumn("ID_in_db"),
                                     VarcharColumn("Group_name", 30), VarcharColumn("Login_name", 30, true)});
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
  auto members = storage::QueryInt(c.Db(), "SELECT count(*) FROM " + c.Q() + "sysusers WHERE gid = " +
                                               std::to_string(*gid) + " AND uid <> gid");
  if (members.value_or(0) == 0) {
    c.Print("Group has no members.");
    return 0;
  }
  c.Query("SELECT " + storage::QuoteText(c.Arg(0)) + ", " + std::to_string(*gid) +
              ", name, uid FROM " + c.Q() + "sysusers WHERE gid = " + std::to_string(*gid) +
              " AND uid <> gid ORDER BY name",
          {VarcharColumn("Group_name", 30), IntColumn("Group_id"), VarcharColumn("Users_in_group", 30),
           IntColumn("Userid")});
  return 0;
}

// sp_helprotect [name [, user]]: the server keeps no grants (grant and revoke are accepted
// without effect), so only the database owner's implicit rights exist and no row is listed.
int HelpRotect(SysProcCall& c) {
  if (c.Given(0)) {
    auto obj = c.Object(c.Arg(0));
    Statement u(c.Db(), "SELECT 1 FROM " + c.Q() + "sysusers WHERE name = ? COLLATE BINARY");
    u.Bind(1, std::string_view(c.Arg(0)));
    if (!obj && !u.Step()) return c.Error(17461);
  }
  c.Rows({VarcharColumn("grantor", 30), VarcharColumn("grantee", 30), VarcharColumn("type", 10),
          VarcharColumn("action", 20), VarcharColumn("object", 30), VarcharColumn("column", 30),
          VarcharColumn("grantable", 5)},
         {});
  return 0;
}

}  // namespace

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
