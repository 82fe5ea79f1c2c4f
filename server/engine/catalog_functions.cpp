#include "engine/catalog_functions.h"

#include "engine/session.h"
#include "engine/storage.h"

#include <string>
#include <vector>

namespace sampleserver {

using storage::QuoteId;
using storage::Statement;

namespace {

SessionImpl& Self(sqlite3_context* ctx) {
  return *static_cast<SessionImpl*>(sqlite3_user_data(ctx));
}

bool ArgNull(sqlite3_value** argv, int i) { return sqlite3_value_type(argv[i]) == SQLITE_NULL; }

std::string ArgText(sqlite3_value** argv, int i) {
  const unsigned char* p = sqlite3_value_text(argv[i]);
  std::string s = p ? reinterpret_cast<const char*>(p) : "";
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

void ResultText(sqlite3_context* ctx, const std::string& s) {
  sqlite3_result_text(ctx, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

// An object name as object_id accepts it: obj, owner.obj, db.owner.obj, db..obj.
struct Name {
  std::string db;
  std::string object;
};

Name SplitName(const std::string& text) {
  std::vector<std::string> parts;
  size_t pos = 0;
  for (;;) {
    size_t dot = text.find('.', pos);
    parts.push_back(text.substr(pos, dot == std::string::npos ? std::string::npos : dot - pos));
    if (dot == std::string::npos) break;
    pos = dot + 1;
  }
  Name n;
  n.object = parts.back();
  if (parts.size() >= 3) n.db = parts[parts.size() - 3];
  return n;
}

// The table the name denotes: its schema (empty for none), id and, for #temp tables, its meta.
struct Target {
  std::string schema;
  int64_t id = 0;
  const catalog::TableMeta* temp = nullptr;
};

std::optional<Target> FindTarget(SessionImpl& s, const std::string& text) {
  Name n = SplitName(text);
  if (n.object.empty()) return std::nullopt;
  if (n.object[0] == '#') {
    auto it = s.TempTables().find(n.object);
    if (it == s.TempTables().end()) return std::nullopt;
    return Target{"temp", it->second.id, &it->second};
  }
  std::string schema = s.SchemaOf(n.db.empty() ? s.CurrentDatabase() : n.db);
  if (schema.empty()) return std::nullopt;
  auto obj = catalog::FindObject(s.Db(), schema, n.object);
  if (!obj) return std::nullopt;
  return Target{schema, obj->id, nullptr};
}

std::string SchemaById(SessionImpl& s, sqlite3_value** argv, int argc, int index) {
  if (argc > index && !ArgNull(argv, index)) {
    auto name = s.DbName(sqlite3_value_int64(argv[index]));
    return name ? s.SchemaOf(*name) : "";
  }
  return s.SchemaOf(s.CurrentDatabase());
}

void ObjectId(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (ArgNull(argv, 0)) return sqlite3_result_null(ctx);
  auto t = FindTarget(Self(ctx), ArgText(argv, 0));
  if (!t) return sqlite3_result_null(ctx);
  sqlite3_result_int64(ctx, t->id);
}

void ObjectName(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  auto& s = Self(ctx);
  if (ArgNull(argv, 0)) return sqlite3_result_null(ctx);
  int64_t id = sqlite3_value_int64(argv[0]);
  for (const auto& [name, meta] : s.TempTables())
    if (meta.id == id) return ResultText(ctx, name);
  std::string schema = SchemaById(s, argv, argc, 1);
  if (schema.empty()) return sqlite3_result_null(ctx);
  Statement st(s.Db(), "SELECT name FROM " + QuoteId(schema) + ".sysobjects WHERE id = ?");
  st.Bind(1, id);
  if (!st.Step()) return sqlite3_result_null(ctx);
  ResultText(ctx, st.Text(0));
}

void ColName(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  auto& s = Self(ctx);
  if (ArgNull(argv, 0) || ArgNull(argv, 1)) return sqlite3_result_null(ctx);
  int64_t id = sqlite3_value_int64(argv[0]);
  int64_t colid = sqlite3_value_int64(argv[1]);
  for (const auto& [name, meta] : s.TempTables())
    if (meta.id == id) {
      for (const auto& c : meta.columns)
        if (c.colid == colid) return ResultText(ctx, c.name);
      return sqlite3_result_null(ctx);
    }
  std::string schema = SchemaById(s, argv, argc, 2);
  if (schema.empty()) return sqlite3_result_null(ctx);
  Statement st(s.Db(), "SELECT name FROM " + QuoteId(schema) +
                           ".syscolumns WHERE id = ? AND colid = ? AND number = 0");
  st.Bind(1, id).Bind(2, colid);
  if (!st.Step()) return sqlite3_result_null(ctx);
  ResultText(ctx, st.Text(0));
}

void ColLength(sqlite3_context* ctx, int, sqlite3_value** argv) {
  auto& s = Self(ctx);
  if (ArgNull(argv, 0) || ArgNull(argv, 1)) return sqlite3_result_null(ctx);
  auto t = FindTarget(s, ArgText(argv, 0));
  if (!t) return sqlite3_result_null(ctx);
  std::string col = ArgText(argv, 1);
  if (t->temp) {
    const auto* c = t->temp->Find(col);
    if (!c) return sqlite3_result_null(ctx);
    return sqlite3_result_int64(ctx, c->type.length);
  }
  Statement st(s.Db(), "SELECT length FROM " + QuoteId(t->schema) +
                           ".syscolumns WHERE id = ? AND name = ? COLLATE BINARY AND number = 0");
  st.Bind(1, t->id).Bind(2, std::string_view(col));
  if (!st.Step()) return sqlite3_result_null(ctx);
  sqlite3_result_int64(ctx, st.Int(0));
}

void IndexCol(sqlite3_context* ctx, int, sqlite3_value** argv) {
  auto& s = Self(ctx);
  if (ArgNull(argv, 0) || ArgNull(argv, 1) || ArgNull(argv, 2)) return sqlite3_result_null(ctx);
  auto t = FindTarget(s, ArgText(argv, 0));
  if (!t) return sqlite3_result_null(ctx);
  int64_t indid = sqlite3_value_int64(argv[1]);
  int64_t keyno = sqlite3_value_int64(argv[2]);
  if (t->temp) {
    for (const auto& ix : t->temp->indexes) {
      if (ix.indid != indid) continue;
      if (keyno < 1 || keyno > static_cast<int64_t>(ix.keys.size())) break;
      for (const auto& c : t->temp->columns)
        if (c.colid == ix.keys[static_cast<size_t>(keyno - 1)]) return ResultText(ctx, c.name);
    }
    return sqlite3_result_null(ctx);
  }
  Statement st(s.Db(), "SELECT c.name FROM " + QuoteId(t->schema) + ".sysindexkeys k JOIN " +
                           QuoteId(t->schema) +
                           ".syscolumns c ON c.id = k.id AND c.colid = k.colid"
                           " AND c.number = 0 WHERE k.id = ? AND k.indid = ? AND k.keyno = ?");
  st.Bind(1, t->id).Bind(2, indid).Bind(3, keyno);
  if (!st.Step()) return sqlite3_result_null(ctx);
  ResultText(ctx, st.Text(0));
}

void DbIdFn(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  auto& s = Self(ctx);
  std::string name = argc > 0 ? (ArgNull(argv, 0) ? "" : ArgText(argv, 0)) : s.CurrentDatabase();
  if (argc > 0 && ArgNull(argv, 0)) return sqlite3_result_null(ctx);
  auto id = s.DbId(name);
  if (!id) return sqlite3_result_null(ctx);
  sqlite3_result_int64(ctx, *id);
}

void DbNameFn(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  auto& s = Self(ctx);
  if (argc == 0) return ResultText(ctx, s.CurrentDatabase());
  if (ArgNull(argv, 0)) return sqlite3_result_null(ctx);
  auto name = s.DbName(sqlite3_value_int64(argv[0]));
  if (!name) return sqlite3_result_null(ctx);
  ResultText(ctx, *name);
}

std::string CurrentSchema(SessionImpl& s) { return s.SchemaOf(s.CurrentDatabase()); }

// The session's user in the current database: the login's sysusers row, dbo for the owner.
std::optional<std::pair<int64_t, std::string>> CurrentUser(SessionImpl& s) {
  Statement st(s.Db(),
               "SELECT uid, name FROM " + QuoteId(CurrentSchema(s)) + ".sysusers WHERE suid = ?");
  st.Bind(1, s.Suid());
  if (st.Step()) return std::pair{st.Int(0), st.Text(1)};
  Statement g(s.Db(), "SELECT uid, name FROM " + QuoteId(CurrentSchema(s)) +
                          ".sysusers WHERE name = 'guest'");
  if (g.Step()) return std::pair{g.Int(0), g.Text(1)};
  return std::nullopt;
}

void UserId(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  auto& s = Self(ctx);
  if (argc == 0) {
    auto u = CurrentUser(s);
    if (!u) return sqlite3_result_null(ctx);
    return sqlite3_result_int64(ctx, u->first);
  }
  if (ArgNull(argv, 0)) return sqlite3_result_null(ctx);
  Statement st(s.Db(), "SELECT uid FROM " + QuoteId(CurrentSchema(s)) +
                           ".sysusers WHERE name = ? COLLATE BINARY");
  st.Bind(1, std::string_view(ArgText(argv, 0)));
  if (!st.Step()) return sqlite3_result_null(ctx);
  sqlite3_result_int64(ctx, st.Int(0));
}

void UserName(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  auto& s = Self(ctx);
  if (argc == 0) {
    auto u = CurrentUser(s);
    if (!u) return sqlite3_result_null(ctx);
    return ResultText(ctx, u->second);
  }
  if (ArgNull(argv, 0)) return sqlite3_result_null(ctx);
  Statement st(s.Db(), "SELECT name FROM " + QuoteId(CurrentSchema(s)) + ".sysusers WHERE uid = ?");
  st.Bind(1, static_cast<int64_t>(sqlite3_value_int64(argv[0])));
  if (!st.Step()) return sqlite3_result_null(ctx);
  ResultText(ctx, st.Text(0));
}

void SuserId(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  auto& s = Self(ctx);
  if (argc == 0) return sqlite3_result_int64(ctx, s.Suid());
  if (ArgNull(argv, 0)) return sqlite3_result_null(ctx);
  Statement st(s.Db(), "SELECT suid FROM main.syslogins WHERE name = ? COLLATE BINARY");
  st.Bind(1, std::string_view(ArgText(argv, 0)));
  if (!st.Step()) return sqlite3_result_null(ctx);
  sqlite3_result_int64(ctx, st.Int(0));
}

void SuserName(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  auto& s = Self(ctx);
  int64_t suid = s.Suid();
  if (argc > 0) {
    if (ArgNull(argv, 0)) return sqlite3_result_null(ctx);
    suid = sqlite3_value_int64(argv[0]);
  }
  Statement st(s.Db(), "SELECT name FROM main.syslogins WHERE suid = ?");
  st.Bind(1, suid);
  if (!st.Step()) return sqlite3_result_null(ctx);
  ResultText(ctx, st.Text(0));
}

void ShowRole(sqlite3_context* ctx, int, sqlite3_value**) {
  // sa holds the system roles; other logins none.
  if (Self(ctx).Suid() == 1) return ResultText(ctx, "sa_role sso_role oper_role sybase_ts_role");
  sqlite3_result_null(ctx);
}

void HostName(sqlite3_context* ctx, int, sqlite3_value**) {
  ResultText(ctx, Self(ctx).Login().host);
}

void HostId(sqlite3_context* ctx, int, sqlite3_value**) {
  // The client's process id from the login record; NULL when the client sent none.
  const std::string& process = Self(ctx).Login().hostProcess;
  if (process.empty()) return sqlite3_result_null(ctx);
  ResultText(ctx, process);
}

void AppName(sqlite3_context* ctx, int, sqlite3_value**) {
  ResultText(ctx, Self(ctx).Login().application);
}

// SQLite calls these from C: no exception may cross back into it.
template <void (*F)(sqlite3_context*, int, sqlite3_value**)>
void Safe(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  try {
    F(ctx, argc, argv);
  } catch (const std::exception& e) {
    sqlite3_result_error(ctx, e.what(), -1);
  }
}

}  // namespace

void RegisterCatalogFunctions(sqlite3* db, SessionImpl* session) {
  struct Fn {
    const char* name;
    int argc;
    void (*fn)(sqlite3_context*, int, sqlite3_value**);
  };
  const Fn fns[] = {
      {"object_id", 1, Safe<ObjectId>},     {"object_name", 1, Safe<ObjectName>},
      {"object_name", 2, Safe<ObjectName>}, {"col_name", 2, Safe<ColName>},
      {"col_name", 3, Safe<ColName>},       {"col_length", 2, Safe<ColLength>},
      {"index_col", 3, Safe<IndexCol>},     {"index_col", 4, Safe<IndexCol>},
      {"db_id", 0, Safe<DbIdFn>},           {"db_id", 1, Safe<DbIdFn>},
      {"db_name", 0, Safe<DbNameFn>},       {"db_name", 1, Safe<DbNameFn>},
      {"user_id", 0, Safe<UserId>},         {"user_id", 1, Safe<UserId>},
      {"user_name", 0, Safe<UserName>},     {"user_name", 1, Safe<UserName>},
      {"suser_id", 0, Safe<SuserId>},       {"suser_id", 1, Safe<SuserId>},
      {"suser_name", 0, Safe<SuserName>},   {"suser_name", 1, Safe<SuserName>},
      {"show_role", 0, Safe<ShowRole>},     {"host_name", 0, Safe<HostName>},
      {"host_id", 0, Safe<HostId>},         {"app_name", 0, Safe<AppName>},
  };
  for (const auto& f : fns)
    sqlite3_create_function_v2(db, f.name, f.argc, SQLITE_UTF8, session, f.fn, nullptr, nullptr,
                               nullptr);
}

}  // namespace sampleserver
