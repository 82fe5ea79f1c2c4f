// Objects: help, text, indexes, dependencies, renaming, constraints, bindings, user types,
// placement on segments and procedures' transaction modes.
#include "engine/catalog.h"
#include "engine/datetime.h"
#include "engine/sysprocs/sysprocs.h"
#include "sql/lexer.h"
#include "sql/parser.h"

#include <algorithm>

namespace sampleserver {

using storage::Exec;
using storage::QuoteId;
using storage::QuoteText;
using storage::Statement;

namespace {

// How sp_help and sp_depends name an object's type.
std::string TypeText(const std::string& type) {
  if (type == "U") return "user table";
  if (type == "S") return "system table";
  if (type == "V") return "view";
  if (type == "P") return "stored procedure";
  if (type == "TR") return "trigger";
  if (type == "D") return "default";
  if (type == "R") return "rule";
  return "other";
}

// sp_addtype name, 'type(len)', 'null' | 'not null' | 'identity'
int AddType(SysProcCall& c) {
  if (!c.Given(1)) return c.Error(17000, {"sp_addtype"});
  auto parsed = sql::Parse("declare @x " + c.Arg(1));
  if (!parsed.ok() || parsed.statements.empty()) return c.Error(17000, {c.Arg(1)});
  const auto& decl = parsed.statements[0]->As<sql::DeclareStmt>();
  const auto& dt = decl.variables[0].type;
  auto ty = BuiltinType(dt.name, dt.length ? dt.length : dt.precision, dt.scale);
  if (!ty) return c.Error(17000, {c.Arg(1)});
  if (catalog::FindUserType(c.Db(), c.Schema(), c.Arg(0))) return c.Error(17001, {c.Arg(0)});
  std::string nulls = Lower(c.Arg(2));
  bool allow = nulls == "null" || nulls == "nulls";
  c.BeginStatement();
  auto next = storage::QueryInt(c.Db(), "SELECT max(usertype) FROM " + c.Q() + "systypes");
  int64_t ut = std::max<int64_t>(100, next.value_or(0)) + 1;
  Statement st(c.Db(), "INSERT INTO " + c.Q() +
                           "systypes (uid, usertype, variable, allownulls,"
                           " type, length, tdefault, domain, name, prec, scale, ident, hierarchy)"
                           " VALUES (1, ?, ?, ?, ?, ?, 0, 0, ?, ?, ?, ?, 0)");
  st.Bind(1, ut)
      .Bind(2, int64_t{ty->type == SqlType::VarChar || ty->type == SqlType::VarBinary})
      .Bind(3, int64_t{allow})
      .Bind(4, int64_t{PhysicalType(*ty, allow)})
      .Bind(5, int64_t{ty->length})
      .Bind(6, std::string_view(c.Arg(0)));
  if (ty->IsExactNumeric())
    st.Bind(7, int64_t{ty->precision}).Bind(8, int64_t{ty->scale});
  else
    st.BindNull(7).BindNull(8);
  st.Bind(9, int64_t{nulls == "identity"});
  st.Step();
  c.EndStatement(true);
  c.Print("Type added.");
  return 0;
}

int DropType(SysProcCall& c) {
  if (!catalog::FindUserType(c.Db(), c.Schema(), c.Arg(0))) return c.Error(17000, {c.Arg(0)});
  Statement st(c.Db(), "DELETE FROM " + c.Q() +
                           "systypes WHERE name = ? COLLATE BINARY AND usertype >= 100");
  st.Bind(1, std::string_view(c.Arg(0)));
  st.Step();
  c.Print("Type has been dropped.");
  return 0;
}

// sp_bindrule / sp_binddefault object, 'table.column' or a user type;
// sp_unbindrule / sp_unbinddefault 'table.column' or a user type.
int Bind(SysProcCall& c, bool bind, bool rule) {
  std::string objName = bind ? c.Arg(0) : "";
  std::string target = bind ? c.Arg(1) : c.Arg(0);
  int64_t objId = 0;
  if (bind) {
    auto obj = c.Object(objName);
    if (!obj || obj->type != (rule ? "R" : "D")) return c.Error(15016, {objName});
    objId = obj->id;
  }
  const char* col = rule ? "domain" : "cdefault";
  auto dot = target.find('.');
  if (dot != std::string::npos) {
    std::string table = target.substr(0, dot), column = target.substr(dot + 1);
    auto t = c.Object(table);
    if (!t || t->type != "U") return c.Error(15104, {table});
    Statement st(c.Db(), "UPDATE " + c.Q() + "syscolumns SET " + col +
                             " = ? WHERE id = ? AND name = ? COLLATE BINARY");
    st.Bind(1, objId).Bind(2, t->id).Bind(3, std::string_view(column));
    st.Step();
    if (sqlite3_changes(c.Db()) == 0) return c.Error(15104, {target});
  } else {
    const char* tcol = rule ? "domain" : "tdefault";
    Statement st(c.Db(), "UPDATE " + c.Q() + "systypes SET " + tcol +
                             " = ? WHERE name = ? COLLATE BINARY AND usertype >= 100");
    st.Bind(1, objId).Bind(2, std::string_view(target));
    st.Step();
    if (sqlite3_changes(c.Db()) == 0) return c.Error(15104, {target});
    // Columns of that type follow their type.
    Statement u(c.Db(), "UPDATE " + c.Q() + "syscolumns SET " + col +
                            " = ? WHERE usertype ="
                            " (SELECT usertype FROM " +
                            c.Q() + "systypes WHERE name = ? COLLATE BINARY)");
    u.Bind(1, objId).Bind(2, std::string_view(target));
    u.Step();
  }
  c.Print(bind ? (rule ? "Rule bound to table column." : "Default bound to column.")
               : (rule ? "Rule unbound from table column." : "Default unbound from table column."));
  return 0;
}
int BindRule(SysProcCall& c) { return Bind(c, true, true); }
int BindDefault(SysProcCall& c) { return Bind(c, true, false); }
int UnbindRule(SysProcCall& c) { return Bind(c, false, true); }
int UnbindDefault(SysProcCall& c) { return Bind(c, false, false); }

// sp_helptext: the number of text rows, then the rows; a procedure group's members in order.
int HelpText(SysProcCall& c) {
  auto obj = c.Object(c.Arg(0));
  if (!obj) return c.Error(15009, {c.Arg(0), c.Database()});
  std::string where = " FROM " + c.Q() + "syscomments WHERE id = " + std::to_string(obj->id);
  auto n = storage::QueryInt(c.Db(), "SELECT count(*)" + where);
  c.Rows({IntColumn("# Lines of Text")}, {{Value{n.value_or(0)}}});
  c.Query("SELECT text" + where + " ORDER BY number, colid2, colid",
          {VarcharColumn("text", 255, true)});
  return 0;
}

std::string KeyList(const catalog::TableMeta& t, const catalog::IndexMeta& ix) {
  std::string keys;
  for (int colid : ix.keys)
    for (const auto& col : t.columns)
      if (col.colid == colid) keys += (keys.empty() ? "" : ", ") + col.name;
  return keys;
}

int HelpIndex(SysProcCall& c) {
  auto t = c.Table(c.Arg(0));
  if (!t) return c.Error(15009, {c.Arg(0), c.Database()});
  if (t->meta.indexes.empty()) {
    c.Print("Object does not have any indexes.");
    return 0;
  }
  std::vector<std::vector<Value>> rows;
  for (const auto& ix : t->meta.indexes) {
    std::string desc =
        std::string((ix.status & catalog::kIndexClustered) ? "clustered" : "nonclustered") +
        ((ix.status & catalog::kIndexUnique) ? ", unique" : "") + " located on default";
    rows.push_back({Value{ix.name}, Value{KeyList(t->meta, ix)}, Value{desc}, Value{int64_t{0}},
                    Value{int64_t{0}}, Value{int64_t{0}}});
  }
  c.Rows({VarcharColumn("index_name", 30), VarcharColumn("index_keys", 255),
          VarcharColumn("index_description", 68), IntColumn("index_max_rows_per_page"),
          IntColumn("index_fillfactor"), IntColumn("index_reservepagegap")},
         rows);
  return 0;
}

int Help(SysProcCall& c) {
  if (!c.Given(0)) {
    c.Query(
        "SELECT o.name, u.name, CASE trim(o.type) WHEN 'U' THEN 'user table' WHEN 'S'"
        " THEN 'system table' WHEN 'V' THEN 'view' WHEN 'P' THEN 'stored procedure'"
        " WHEN 'TR' THEN 'trigger' WHEN 'D' THEN 'default' WHEN 'R' THEN 'rule'"
        " ELSE 'other' END FROM " +
            c.Q() + "sysobjects o LEFT JOIN " + c.Q() +
            "sysusers u ON u.uid = o.uid ORDER BY o.name",
        {VarcharColumn("Name", 30), VarcharColumn("Owner", 30, true),
         VarcharColumn("Object_type", 22)});
    return 0;
  }
  auto obj = c.Object(c.Arg(0));
  auto t = c.Table(c.Arg(0));
  if (!obj && !t) return c.Error(17460, {c.Arg(0)});
  std::string type = TypeText(t ? t->meta.type : obj->type);
  c.Rows({VarcharColumn("Name", 30), VarcharColumn("Owner", 30), VarcharColumn("Object_type", 22)},
         {{Value{c.Arg(0)}, Value{std::string("dbo")}, Value{type}}});
  if (t) {
    std::vector<std::vector<Value>> rows;
    for (const auto& col : t->meta.columns) {
      Value prec = std::monostate{}, scale = std::monostate{};
      if (col.type.IsExactNumeric()) {
        prec = int64_t{col.type.precision};
        scale = int64_t{col.type.scale};
      }
      // The names of the default and rule bound to the column, as sysobjects holds them.
      auto objectName = [&](int64_t id) -> Value {
        if (id == 0) return std::monostate{};
        auto n = storage::QueryText(
            c.Db(), "SELECT name FROM " + c.Q() + "sysobjects WHERE id = " + std::to_string(id));
        return n ? Value{*n} : Value{std::monostate{}};
      };
      rows.push_back({Value{col.name}, Value{TypeName(col.type)}, Value{int64_t{col.type.length}},
                      prec, scale, Value{int64_t{col.nullable}}, objectName(col.cdefault),
                      objectName(col.domain), Value{int64_t{col.identity}}});
    }
    c.Rows({VarcharColumn("Column_name", 30), VarcharColumn("Type", 30), IntColumn("Length"),
            IntColumn("Prec", true), IntColumn("Scale", true), IntColumn("Nulls"),
            VarcharColumn("Default_name", 30, true), VarcharColumn("Rule_name", 30, true),
            IntColumn("Identity")},
           rows);
    if (t->meta.indexes.empty()) c.Print("Object does not have any indexes.");
  }
  return 0;
}

// The names an object's text uses, as written: identifiers outside strings and comments,
// with whether each follows a word that writes to it.
std::map<std::string, bool> NamesInText(const std::string& text) {
  std::map<std::string, bool> names;
  auto tokens = sql::Tokenize(text, false);
  bool writes = false;
  for (const auto& t : tokens) {
    if (t.type == sql::TokenType::Word || t.type == sql::TokenType::QuotedIdent) {
      std::string name = t.type == sql::TokenType::QuotedIdent ? t.value : std::string(t.text);
      if (t.value == "insert" || t.value == "update" || t.value == "delete" || t.value == "into") {
        writes = true;
        continue;
      }
      if (t.value == "from" && writes) continue;  // delete from t
      names[name] = names[name] || writes;
    }
    if (!t.IsPunct(".")) writes = false;
  }
  return names;
}

std::string ObjectText(SysProcCall& c, int64_t id) {
  std::string text;
  Statement st(c.Db(), "SELECT text FROM " + c.Q() +
                           "syscomments WHERE id = ? ORDER BY number, colid2, colid");
  st.Bind(1, id);
  while (st.Step()) text += st.Text(0);
  return text;
}

// sp_depends object: what its text refers to, and whose text refers to it.
int Depends(SysProcCall& c) {
  auto obj = c.Object(c.Arg(0));
  if (!obj) return c.Error(17461);
  struct Obj {
    int64_t id;
    std::string name, type;
  };
  std::vector<Obj> all;
  {
    Statement st(c.Db(), "SELECT id, name, trim(type) FROM " + c.Q() + "sysobjects ORDER BY name");
    while (st.Step()) all.push_back({st.Int(0), st.Text(1), st.Text(2)});
  }
  std::string owner = OwnerName(c, 1) + ".";
  std::vector<std::vector<Value>> uses, usedBy;
  auto names = NamesInText(ObjectText(c, obj->id));
  for (const auto& o : all) {
    if (o.id == obj->id || (o.type != "U" && o.type != "V" && o.type != "P")) continue;
    auto it = names.find(o.name);
    if (it == names.end()) continue;
    uses.push_back({Value{owner + o.name}, Value{TypeText(o.type)},
                    Value{std::string(it->second ? "yes" : "no")},
                    Value{std::string(it->second ? "no" : "yes")}});
  }
  for (const auto& o : all) {
    if (o.id == obj->id || (o.type != "V" && o.type != "P" && o.type != "TR")) continue;
    if (NamesInText(ObjectText(c, o.id)).count(obj->name))
      usedBy.push_back({Value{owner + o.name}, Value{TypeText(o.type)}});
  }
  if (uses.empty() && usedBy.empty()) {
    c.Print("Object doesn't reference any object and no objects reference it.");
    return 0;
  }
  if (!uses.empty()) {
    c.Print("Things the object references in the current database.");
    c.Rows({VarcharColumn("object", 61), VarcharColumn("type", 16), VarcharColumn("updated", 7),
            VarcharColumn("selected", 8)},
           uses);
  }
  if (!usedBy.empty()) {
    c.Print("Things inside the current database that reference the object.");
    c.Rows({VarcharColumn("object", 61), VarcharColumn("type", 16)}, usedBy);
  }
  return 0;
}

// Recreates a table's SQLite index under a new name: SQLite cannot rename an index.
void RenameSqliteIndex(sqlite3* db, const std::string& schema, const std::string& table,
                       const std::string& from, const std::string& to) {
  bool unique = false;
  {
    Statement l(db, "PRAGMA " + QuoteId(schema) + ".index_list(" + QuoteText(table) + ")");
    while (l.Step())
      if (l.Text(1) == from) unique = l.Int(2) != 0;
  }
  std::string cols;
  {
    Statement x(db, "PRAGMA " + QuoteId(schema) + ".index_xinfo(" + QuoteText(from) + ")");
    while (x.Step()) {
      if (x.Int(5) == 0) continue;  // the row id, not a key
      cols += (cols.empty() ? "" : ", ") + QuoteId(x.Text(2)) + (x.Int(3) ? " DESC" : "");
    }
  }
  Exec(db, "DROP INDEX " + QuoteId(schema) + "." + QuoteId(from));
  Exec(db, std::string("CREATE ") + (unique ? "UNIQUE " : "") + "INDEX " + QuoteId(schema) + "." +
               QuoteId(to) + " ON " + QuoteId(table) + " (" + cols + ")");
}

int RenameObject(SysProcCall& c, const catalog::ObjectRef& obj, const std::string& to) {
  const std::string S = QuoteId(c.Schema()) + ".";
  if (obj.type == "S") return c.Error(17461);
  if (obj.type == "U") {
    auto t = catalog::LoadTable(c.Db(), c.Schema(), c.Database(), obj.name);
    Exec(c.Db(), "ALTER TABLE " + S + QuoteId(obj.name) + " RENAME TO " + QuoteId(to));
    // The table's indexes carry its name in SQLite.
    for (const auto& ix : t->indexes)
      RenameSqliteIndex(c.Db(), c.Schema(), to, obj.name + "." + ix.name, to + "." + ix.name);
  } else if (obj.type == "V") {
    auto sql = storage::QueryText(
        c.Db(), "SELECT sql FROM " + S +
                    "sqlite_master WHERE type = 'view' AND name = " + QuoteText(obj.name));
    std::string head = "CREATE VIEW " + QuoteId(obj.name);
    if (!sql || sql->rfind(head, 0) != 0) return c.Error(17461);
    Exec(c.Db(), "DROP VIEW " + S + QuoteId(obj.name));
    Exec(c.Db(), "CREATE VIEW " + S + QuoteId(to) + sql->substr(head.size()));
  }
  Statement st(c.Db(), "UPDATE " + c.Q() + "sysobjects SET name = ? WHERE id = ?");
  st.Bind(1, std::string_view(to)).Bind(2, obj.id);
  st.Step();
  c.Print("Object name has been changed.");
  return 0;
}

// sp_rename object, newname | 'table.column', newname [, 'column'] | 'table.index', newname [,
// 'index']
int Rename(SysProcCall& c) {
  std::string from = c.Arg(0), to = c.Arg(1), kind = Lower(c.Arg(2));
  if (from.empty() || to.empty())
    return c.Error(17000, {"sp_rename objname, newname [, 'index' | 'column']"});
  auto dot = from.find('.');
  if (dot == std::string::npos) {
    auto obj = c.Object(from);
    if (!obj) return c.Error(17461);
    if (c.Object(to)) return c.Error(2714, {to});
    c.BeginStatement();
    int status = RenameObject(c, *obj, to);
    c.EndStatement(status == 0);
    return status;
  }
  std::string table = from.substr(0, dot), sub = from.substr(dot + 1);
  auto t = catalog::LoadTable(c.Db(), c.Schema(), c.Database(), table);
  if (!t || t->type != "U") return c.Error(17461);
  const std::string S = QuoteId(c.Schema()) + ".";
  bool isColumn = t->Find(sub) && kind != "index";
  auto ix = std::find_if(t->indexes.begin(), t->indexes.end(),
                         [&](const auto& x) { return x.name == sub; });
  bool isIndex = !isColumn && ix != t->indexes.end() && kind != "column";
  if (!isColumn && !isIndex) return c.Error(17461);
  c.BeginStatement();
  if (isColumn) {
    if (t->Find(to)) {
      c.EndStatement(false);
      return c.Error(2705, {to, table});
    }
    Exec(c.Db(), "ALTER TABLE " + S + QuoteId(table) + " RENAME COLUMN " + QuoteId(sub) + " TO " +
                     QuoteId(to));
    Statement st(c.Db(), "UPDATE " + c.Q() +
                             "syscolumns SET name = ? WHERE id = ? AND name = ? COLLATE BINARY");
    st.Bind(1, std::string_view(to)).Bind(2, t->id).Bind(3, std::string_view(sub));
    st.Step();
    c.EndStatement(true);
    c.Print("Column name has been changed.");
    return 0;
  }
  if (std::any_of(t->indexes.begin(), t->indexes.end(),
                  [&](const auto& x) { return x.name == to; })) {
    c.EndStatement(false);
    return c.Error(1913, {table, to});
  }
  RenameSqliteIndex(c.Db(), c.Schema(), table, table + "." + sub, table + "." + to);
  Statement st(c.Db(), "UPDATE " + c.Q() + "sysindexes SET name = ? WHERE id = ? AND indid = ?");
  st.Bind(1, std::string_view(to)).Bind(2, t->id).Bind(3, int64_t{ix->indid});
  st.Step();
  c.EndStatement(true);
  c.Print("Index name has been changed.");
  return 0;
}

Value CreatedAt(const std::string& storage) {
  auto d = DateTimeFromStorage(storage);
  return d ? Value{*d} : Value{};
}

// sp_helpconstraint table: its primary key, unique and check constraints.
int HelpConstraint(SysProcCall& c) {
  auto t = catalog::LoadTable(c.Db(), c.Schema(), c.Database(), c.Arg(0));
  if (!t || t->type != "U") return c.Error(17461);
  std::vector<std::vector<Value>> rows;
  for (const auto& ix : t->indexes) {
    if (!(ix.status2 & catalog::kIndex2Constraint)) continue;
    Statement st(c.Db(), "SELECT crdate FROM " + c.Q() + "sysindexes WHERE id = ? AND indid = ?");
    st.Bind(1, t->id).Bind(2, int64_t{ix.indid});
    std::string created = st.Step() ? st.Text(0) : "";
    std::string def =
        std::string((ix.status & catalog::kIndexPrimaryKey) ? "PRIMARY KEY" : "UNIQUE") +
        " INDEX ( " + KeyList(*t, ix) +
        ") : " + ((ix.status & catalog::kIndexClustered) ? "CLUSTERED" : "NONCLUSTERED");
    rows.push_back({Value{ix.name}, Value{def}, CreatedAt(created)});
  }
  {
    Statement ck(c.Db(), "SELECT id, name, crdate FROM " + c.Q() +
                             "sysobjects WHERE deltrig = ? AND trim(type) = 'R' ORDER BY name");
    ck.Bind(1, t->id);
    while (ck.Step())
      rows.push_back({Value{ck.Text(1)}, Value{ObjectText(c, ck.Int(0))}, CreatedAt(ck.Text(2))});
  }
  // Foreign keys of the table and those referring to it.
  int64_t references = 0;
  for (const auto& r : catalog::LoadReferences(c.Db(), c.Schema())) {
    if (r.tableId != t->id && r.refTableId != t->id) continue;
    ++references;
    auto nameOf = [&](int64_t id) {
      return storage::QueryText(c.Db(), "SELECT name FROM " + c.Q() +
                                            "sysobjects WHERE id = " + std::to_string(id))
          .value_or("");
    };
    auto from = catalog::LoadTable(c.Db(), c.Schema(), c.Database(), nameOf(r.tableId));
    auto to = catalog::LoadTable(c.Db(), c.Schema(), c.Database(), nameOf(r.refTableId));
    if (!from || !to) continue;
    auto list = [](const catalog::TableMeta& m, const std::vector<int>& colids) {
      std::string out;
      for (int colid : colids)
        for (const auto& col : m.columns)
          if (col.colid == colid) out += (out.empty() ? "" : ", ") + col.name;
      return out;
    };
    std::string name = nameOf(r.constraintId);
    Statement cr(c.Db(), "SELECT crdate FROM " + c.Q() + "sysobjects WHERE id = ?");
    cr.Bind(1, r.constraintId);
    rows.push_back({Value{name},
                    Value{from->name + " FOREIGN KEY (" + list(*from, r.keys) + ") REFERENCES " +
                          to->name + "(" + list(*to, r.refKeys) + ")"},
                    CreatedAt(cr.Step() ? cr.Text(0) : "")});
  }
  if (rows.empty()) {
    c.Print("Object does not have any declarative constraints.");
    return 0;
  }
  std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
    return std::get<std::string>(a[0]) < std::get<std::string>(b[0]);
  });
  c.Rows({VarcharColumn("name", 30), VarcharColumn("definition", 255),
          MakeColumnInfo("created", *BuiltinType("datetime", std::nullopt, std::nullopt), true)},
         rows);
  c.Print("Total Number of Referential Constraints: " + std::to_string(references));
  return 0;
}

// sp_placeobject segment, 'table' | 'table.index': where the object's next pages go.
int PlaceObject(SysProcCall& c) {
  Statement seg(c.Db(),
                "SELECT segment FROM " + c.Q() + "syssegments WHERE name = ? COLLATE BINARY");
  seg.Bind(1, std::string_view(c.Arg(0)));
  if (!seg.Step()) return c.Error(17520, {c.Arg(0)});
  int64_t segment = seg.Int(0);
  std::string name = c.Arg(1);
  auto dot = name.find('.');
  auto t = catalog::LoadTable(c.Db(), c.Schema(), c.Database(), name.substr(0, dot));
  if (!t || t->type != "U") return c.Error(17461);
  std::string where = "id = " + std::to_string(t->id);
  if (dot != std::string::npos) {
    std::string ixName = name.substr(dot + 1);
    auto ix = std::find_if(t->indexes.begin(), t->indexes.end(),
                           [&](const auto& x) { return x.name == ixName; });
    if (ix == t->indexes.end()) return c.Error(17461);
    where += " AND indid = " + std::to_string(ix->indid);
  } else {
    where += " AND indid IN (0, 1)";
    // A heap's own row is where its segment is kept.
    if (!storage::QueryInt(c.Db(), "SELECT count(*) FROM " + c.Q() + "sysindexes WHERE " + where)
             .value_or(0)) {
      Statement h(c.Db(),
                  "INSERT INTO " + c.Q() +
                      "sysindexes (name, id, indid, segment, crdate) VALUES (?, ?, 0, 1, ?)");
      std::string now = catalog::NowText();
      h.Bind(1, std::string_view(t->name)).Bind(2, t->id).Bind(3, std::string_view(now));
      h.Step();
    }
  }
  Exec(c.Db(), "UPDATE " + c.Q() + "sysindexes SET segment = " + std::to_string(segment) +
                   " WHERE " + where);
  return 0;
}

// sysobjects.sysstat2 bits of a procedure's transaction mode.
constexpr int kProcChained = 0x10;
constexpr int kProcAnyMode = 0x20;

// sp_procxmode [procedure [, 'chained' | 'unchained' | 'anymode']]
int ProcXMode(SysProcCall& c) {
  if (c.Given(1)) {
    auto obj = c.Object(c.Arg(0));
    if (!obj || obj->type != "P") return c.Error(17461);
    std::string mode = Lower(c.Arg(1));
    int bits = mode == "chained" ? kProcChained : mode == "anymode" ? kProcAnyMode : 0;
    if (bits == 0 && mode != "unchained")
      return c.Error(17000, {"sp_procxmode [procname [, 'chained' | 'unchained' | 'anymode']]"});
    Exec(c.Db(), "UPDATE " + c.Q() + "sysobjects SET sysstat2 = (sysstat2 & ~" +
                     std::to_string(kProcChained | kProcAnyMode) + ") | " + std::to_string(bits) +
                     " WHERE id = " + std::to_string(obj->id));
    return 0;
  }
  std::string where = "trim(o.type) = 'P'";
  if (c.Given(0)) {
    auto obj = c.Object(c.Arg(0));
    if (!obj || obj->type != "P") return c.Error(17461);
    where += " AND o.id = " + std::to_string(obj->id);
  }
  c.Query("SELECT o.name, COALESCE(u.name, 'dbo'), CASE WHEN (o.sysstat2 & " +
              std::to_string(kProcAnyMode) + ") <> 0 THEN 'Any Mode' WHEN (o.sysstat2 & " +
              std::to_string(kProcChained) + ") <> 0 THEN 'Chained' ELSE 'Unchained' END FROM " +
              c.Q() + "sysobjects o LEFT JOIN " + c.Q() + "sysusers u ON u.uid = o.uid WHERE " +
              where + " ORDER BY o.name",
          {VarcharColumn("procedure name", 30), VarcharColumn("user name", 30),
           VarcharColumn("transaction mode", 16)});
  return 0;
}

}  // namespace

const std::vector<SysProcEntry>& ObjectProcedures() {
  static const std::vector<SysProcEntry> procs = {
      {"sp_help", Help, {"@objname"}},
      {"sp_helptext", HelpText, {"@objname"}},
      {"sp_helpindex", HelpIndex, {"@objname"}},
      {"sp_depends", Depends, {"@objname"}},
      {"sp_rename", Rename, {"@objname", "@newname", "@indorcol"}},
      {"sp_helpconstraint", HelpConstraint, {"@objname", "@nomsg"}},
      {"sp_addtype", AddType, {"@typename", "@phystype", "@nulltype"}},
      {"sp_droptype", DropType, {"@typename"}},
      {"sp_bindrule", BindRule, {"@rulename", "@objname", "@futureonly"}},
      {"sp_unbindrule", UnbindRule, {"@objname", "@futureonly"}},
      {"sp_bindefault", BindDefault, {"@defname", "@objname", "@futureonly"}},
      {"sp_binddefault", BindDefault, {"@defname", "@objname", "@futureonly"}},
      {"sp_unbindefault", UnbindDefault, {"@objname", "@futureonly"}},
      {"sp_unbinddefault", UnbindDefault, {"@objname", "@futureonly"}},
      {"sp_placeobject", PlaceObject, {"@segname", "@objname"}},
      {"sp_procxmode", ProcXMode, {"@procname", "@tranmode"}},
  };
  return procs;
}

}  // namespace sampleserver
