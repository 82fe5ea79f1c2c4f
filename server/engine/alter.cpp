// ALTER TABLE: columns added and dropped, constraints added and dropped. SQLite cannot change
// most of a table in place, so the table is rebuilt under the statement's savepoint: a new
// table is created, the rows copied, the old one dropped and the new one renamed; its indexes
// come back from the catalog.
#include "engine/session.h"
#include "engine/translate.h"
#include "engine/values.h"

#include <algorithm>

namespace sampleserver {

using storage::Exec;
using storage::QuoteId;
using storage::QuoteText;
using storage::Statement;

namespace {

// Renames without SQLite rewriting the schema's views: a view over the table being rebuilt
// names a table that is briefly missing, which the rewrite would refuse.
class LegacyAlter {
 public:
  explicit LegacyAlter(sqlite3* db) : db_(db) { Exec(db_, "PRAGMA legacy_alter_table = ON"); }
  ~LegacyAlter() {
    try {
      Exec(db_, "PRAGMA legacy_alter_table = OFF");
    } catch (const storage::SqliteError&) {
    }
  }
  LegacyAlter(const LegacyAlter&) = delete;
  LegacyAlter& operator=(const LegacyAlter&) = delete;

 private:
  sqlite3* db_;
};

std::string Upper(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

std::vector<SessionImpl::TableConstraint> SessionImpl::TableConstraints(
    const catalog::TableMeta& t) {
  std::vector<TableConstraint> out;
  if (t.schema == "temp") {
    for (const auto& [name, text] : t.checks) out.push_back({0, name, false, text});
    return out;
  }
  Statement st(db_.get(), "SELECT id, name, type, sysstat FROM " + QuoteId(t.schema) +
                              ".sysobjects WHERE deltrig = ? AND type IN ('R', 'RI')"
                              " ORDER BY id");
  st.Bind(1, t.id);
  while (st.Step()) {
    std::string type = st.Text(2);
    while (!type.empty() && type.back() == ' ') type.pop_back();
    // Rules have no owner; a check constraint is an R row of class 10.
    if (type == "R" && (st.Int(3) & 0xF) != 10) continue;
    out.push_back({st.Int(0), st.Text(1), type == "RI", ""});
  }
  for (auto& c : out) c.text = ObjectText(t.schema, c.id);
  return out;
}

std::string SessionImpl::ObjectText(const std::string& schema, int64_t id) {
  std::string text;
  Statement tx(db_.get(), "SELECT text FROM " + QuoteId(schema) +
                              ".syscomments WHERE id = ? ORDER BY colid2, colid");
  tx.Bind(1, id);
  while (tx.Step()) text += tx.Text(0);
  return text;
}

std::string SessionImpl::CheckSql(const catalog::TableMeta& t, const std::string& name,
                                  const std::string& text) {
  // Stored as "CHECK (<condition>)".
  std::string_view cond = text;
  if (Upper(std::string(cond.substr(0, 5))) == "CHECK") cond.remove_prefix(5);
  auto parsed = sql::ParseExpression(cond);
  if (!parsed.ok()) Fail(7, {"The check constraint '" + name + "' cannot be read back."});
  Translator tr(*this);
  Scope scope;
  Source src;
  src.name = src.table = t.name;
  src.columns = t.columns;
  scope.sources.push_back(src);
  return "CONSTRAINT " + QuoteId(name) + " CHECK (" + tr.Expr(*parsed.expr, &scope).sql + ")";
}

void SessionImpl::RebuildTable(const catalog::TableMeta& old, const catalog::TableMeta& next,
                               const std::vector<std::string>& sources,
                               const std::vector<std::string>& checks) {
  sqlite3* db = db_.get();
  const std::string schema = QuoteId(old.schema);
  const std::string scratch = "syb_rebuild_" + std::to_string(old.id);
  std::optional<int64_t> seq;
  try {
    seq = storage::QueryInt(
        db, "SELECT seq FROM " + schema + ".sqlite_sequence WHERE name = " + QuoteText(old.name));
  } catch (const storage::SqliteError&) {
    // no table with an identity yet in this database
  }
  std::string create = "CREATE TABLE " + schema + "." + QuoteId(scratch) + " (";
  std::string names, values;
  for (size_t i = 0; i < next.columns.size(); ++i) {
    create += (i ? ", " : "") + ColumnSql(next.columns[i]);
    names += (i ? ", " : "") + QuoteId(next.columns[i].name);
    values += (i ? ", " : "") + sources[i];
  }
  for (const auto& ck : checks) create += ", " + ck;
  Exec(db, create + ")");
  Exec(db, "INSERT INTO " + schema + "." + QuoteId(scratch) + " (" + names + ") SELECT " + values +
               " FROM " + schema + "." + QuoteId(old.name) + " ORDER BY rowid");
  Exec(db, "DROP TABLE " + schema + "." + QuoteId(old.name));
  {
    LegacyAlter legacy(db);
    Exec(db, "ALTER TABLE " + schema + "." + QuoteId(scratch) + " RENAME TO " + QuoteId(old.name));
  }
  // Identity values keep counting from where they were.
  if (seq && next.HasIdentity())
    Exec(db, "UPDATE " + schema + ".sqlite_sequence SET seq = max(seq, " + std::to_string(*seq) +
                 ") WHERE name = " + QuoteText(old.name));
  // A #temp table's catalog is the session's own: the caller stores `next`.
  const bool temp = old.schema == "temp";
  const std::string id = std::to_string(old.id);
  if (!temp) {
    Exec(db, "DELETE FROM " + schema + ".syscolumns WHERE id = " + id);
    catalog::AddColumns(db, old.schema, old.id, next.columns);
    Exec(db,
         "DELETE FROM " + schema + ".sysindexes WHERE id = " + id + " AND indid BETWEEN 1 AND 254");
    Exec(db, "DELETE FROM " + schema + ".sysindexkeys WHERE id = " + id);
  }
  for (const auto& ix : next.indexes) {
    std::string keys;
    for (int colid : ix.keys)
      for (const auto& c : next.columns)
        if (c.colid == colid) keys += (keys.empty() ? "" : ", ") + QuoteId(c.name);
    Exec(db, std::string("CREATE ") + ((ix.status & catalog::kIndexUnique) ? "UNIQUE " : "") +
                 "INDEX " + IndexSqlName(next, ix.name) + " ON " + QuoteId(old.name) + " (" + keys +
                 ")");
    if (!temp) catalog::AddIndex(db, old.schema, old.id, ix);
  }
  if (!temp) {
    ReinstallForeignKeys(next);
    RefreshForeignKeyBits(old.schema);
  }
}

void SessionImpl::RunAlterTable(const sql::AlterTableStmt& s, ResultSink& sink) {
  auto target = RequireTable(s.table);
  catalog::TableMeta t = target.meta;
  if (t.type != "U")
    Fail(7, {"'" + t.name + "' is not a user table; ALTER TABLE changes user tables only."});
  currentTable_ = t.name;
  currentMeta_ = t;
  BeginStatement();
  switch (s.action) {
    case sql::AlterAction::AddColumns: AlterAddColumns(t, s); break;
    case sql::AlterAction::DropColumns: AlterDropColumns(t, s); break;
    case sql::AlterAction::AddConstraint:
      for (const auto& c : s.addConstraints) AlterAddConstraint(t, c, c.columns);
      break;
    case sql::AlterAction::DropConstraint: AlterDropConstraint(t, s.dropConstraint); break;
    case sql::AlterAction::Other:
      // A locking scheme or partitions change nothing this server stores; claiming any other
      // change that was not made would mislead the client.
      if (s.otherVerb != "lock" && s.otherVerb != "partition" && s.otherVerb != "unpartition")
        Fail(7, {"ALTER TABLE ... " + s.otherVerb + " is not supported by this server."});
      break;
  }
  if (target.temp) temps_[t.name] = t;
  EndStatement(true);
  Done(sink, 0, 0, false);
}

void SessionImpl::AlterAddColumns(catalog::TableMeta& t, const sql::AlterTableStmt& s) {
  catalog::TableMeta next = t;
  std::vector<std::string> sources;
  for (const auto& c : t.columns) sources.push_back(QuoteId(c.name));
  struct NewDefault {
    size_t column;
    std::string text;
  };
  std::vector<NewDefault> defaults;
  for (const auto& cd : s.addColumns) {
    if (next.Find(cd.name)) Fail(2705, {cd.name, t.name});
    catalog::ColumnMeta m;
    m.name = cd.name;
    bool allowNulls = false;
    auto ty = ResolveType(cd.type, &allowNulls);
    if (!ty) Fail(2715, {cd.type.name});
    m.type = *ty;
    m.identity = cd.identity;
    m.nullable = !m.identity && (cd.nullability == sql::Nullability::Null ||
                                 (cd.nullability == sql::Nullability::Unspecified && allowNulls));
    if (m.identity && next.HasIdentity())
      Fail(7, {"Table '" + t.name + "' already has an IDENTITY column."});
    std::string source = "NULL";  // an identity's NULL takes the next value of the sequence
    if (cd.defaultValue) {
      source = LiteralSql(EvaluateAs(*cd.defaultValue, m.type), m.type);
      defaults.push_back({next.columns.size(), "DEFAULT " + cd.defaultText});
    } else if (!m.nullable && !m.identity) {
      // Existing rows would have no value for the column.
      Fail(4997, {t.name, cd.name});
    }
    m.colid = static_cast<int>(next.columns.size()) + 1;
    next.columns.push_back(m);
    sources.push_back(source);
  }
  std::vector<std::string> checks;
  for (const auto& c : TableConstraints(t))
    if (!c.foreignKey) checks.push_back(CheckSql(next, c.name, c.text));
  for (const auto& d : defaults) {
    if (t.schema == "temp") {
      next.columns[d.column].defaultText = d.text;
      continue;
    }
    int64_t did = catalog::NextObjectId(db_.get(), t.schema);
    auto& col = next.columns[d.column];
    catalog::AddObject(
        db_.get(), t.schema, did,
        t.name.substr(0, 10) + "_" + col.name.substr(0, 10) + "_" + std::to_string(did), "D", 6, 0,
        t.id);
    catalog::StoreText(db_.get(), t.schema, did, d.text);
    col.cdefault = did;
  }
  RebuildTable(t, next, sources, checks);
  // Constraints written on the new columns apply to the rows now there.
  t = next;
  for (const auto& cd : s.addColumns)
    for (const auto& c : cd.constraints) AlterAddConstraint(t, c, {cd.name});
}

void SessionImpl::AlterDropColumns(catalog::TableMeta& t, const sql::AlterTableStmt& s) {
  const auto constraints = TableConstraints(t);
  for (const auto& name : s.dropColumns) {
    const auto* c = t.Find(name);
    if (!c) Fail(207, {name});
    for (const auto& ix : t.indexes)
      if (std::find(ix.keys.begin(), ix.keys.end(), c->colid) != ix.keys.end())
        Fail(7, {"Cannot drop column '" + name + "' of table '" + t.name + "': index '" + ix.name +
                 "' uses it. Drop the index or constraint first."});
  }
  catalog::TableMeta next = t;
  next.columns.clear();
  std::vector<std::string> sources;
  std::map<int, int> colids;  // old colid -> new
  std::vector<int64_t> orphanDefaults;
  for (const auto& c : t.columns) {
    if (std::find(s.dropColumns.begin(), s.dropColumns.end(), c.name) != s.dropColumns.end()) {
      if (c.cdefault != 0) orphanDefaults.push_back(c.cdefault);
      continue;
    }
    catalog::ColumnMeta m = c;
    m.colid = static_cast<int>(next.columns.size()) + 1;
    colids[c.colid] = m.colid;
    next.columns.push_back(m);
    sources.push_back(QuoteId(c.name));
  }
  if (next.columns.empty())
    Fail(7, {"Cannot drop every column of table '" + t.name + "'; drop the table instead."});
  for (auto& ix : next.indexes)
    for (auto& k : ix.keys) k = colids[k];
  std::vector<std::string> checks;
  for (const auto& c : constraints) {
    bool uses = false;
    if (c.foreignKey) {
      const ForeignKey fk = ForeignKeyOf(c.text);
      for (const auto& col : s.dropColumns)
        uses = uses || std::find(fk.columns.begin(), fk.columns.end(), col) != fk.columns.end();
    } else {
      try {
        checks.push_back(CheckSql(next, c.name, c.text));
      } catch (const StatementError&) {
        uses = true;  // the condition names a column that goes
      }
    }
    if (uses)
      Fail(7, {"Cannot drop a column of table '" + t.name + "' that constraint '" + c.name +
               "' uses. Drop the constraint first."});
  }
  RebuildTable(t, next, sources, checks);
  t = next;
  // Defaults made for the dropped columns go with them; bound ones stay for other columns.
  for (int64_t d : orphanDefaults) {
    auto owner = storage::QueryInt(db_.get(), "SELECT deltrig FROM " + QuoteId(t.schema) +
                                                  ".sysobjects WHERE id = " + std::to_string(d));
    if (owner && *owner == t.id) catalog::DropObject(db_.get(), t.schema, d);
  }
}

void SessionImpl::AlterAddConstraint(catalog::TableMeta& t, const sql::Constraint& c,
                                     const std::vector<std::string>& columns) {
  if (!c.name.empty()) {
    if (t.schema != "temp" && catalog::FindObject(db_.get(), t.schema, c.name))
      Fail(2714, {c.name});
    for (const auto& ix : t.indexes)
      if (ix.name == c.name) Fail(1913, {t.name, c.name});
  }
  switch (c.kind) {
    case sql::ConstraintKind::PrimaryKey:
    case sql::ConstraintKind::Unique: {
      const bool pk = c.kind == sql::ConstraintKind::PrimaryKey;
      if (pk && std::any_of(t.indexes.begin(), t.indexes.end(), [](const auto& ix) {
            return (ix.status & catalog::kIndexPrimaryKey) != 0;
          }))
        Fail(7, {"Table '" + t.name + "' already has a primary key."});
      std::string keys;
      for (const auto& k : columns) {
        const auto* col = t.Find(k);
        if (!col) Fail(207, {k});
        if (pk && col->nullable)
          Fail(7, {"Column '" + k + "' allows nulls and cannot be part of the primary key of '" +
                   t.name + "'."});
        keys += (keys.empty() ? "" : ", ") + QuoteId(k);
      }
      // Existing rows must already be unique.
      Statement dup(db_.get(), "SELECT " + keys + " FROM " + QuoteId(t.schema) + "." +
                                   QuoteId(t.name) + " GROUP BY " + keys +
                                   " HAVING count(*) > 1 LIMIT 1");
      if (dup.Step()) {
        std::string key;
        for (int i = 0; i < dup.ColumnCount(); ++i)
          key += (i ? ", " : "") + (dup.IsNull(i) ? std::string("NULL") : dup.Text(i));
        Fail(1505, {key});
      }
      AddKeyIndex(t, c, columns);
      break;
    }
    case sql::ConstraintKind::Check: {
      const std::string name =
          c.name.empty() ? t.name.substr(0, 10) + "_" +
                               std::to_string(t.schema == "temp"
                                                  ? ++tempSeq_
                                                  : catalog::NextObjectId(db_.get(), t.schema)) +
                               "_ck"
                         : c.name;
      std::vector<std::string> checks;
      for (const auto& old : TableConstraints(t))
        if (!old.foreignKey) checks.push_back(CheckSql(t, old.name, old.text));
      const std::string text = "CHECK (" + c.checkText + ")";
      checks.push_back(CheckSql(t, name, text));
      std::vector<std::string> sources;
      for (const auto& col : t.columns) sources.push_back(QuoteId(col.name));
      // A row that breaks the condition fails the copy (548) and the savepoint undoes it all.
      RebuildTable(t, t, sources, checks);
      if (t.schema == "temp") {
        t.checks.push_back({name, text});
        break;
      }
      int64_t id = catalog::NextObjectId(db_.get(), t.schema);
      catalog::AddObject(db_.get(), t.schema, id, name, "R", 10, 0, t.id);
      catalog::StoreText(db_.get(), t.schema, id, text);
      break;
    }
    case sql::ConstraintKind::ForeignKey:
      if (t.schema == "temp")
        Fail(7, {"A temporary table cannot have a foreign key: '" + t.name + "'."});
      AddForeignKey(t, c, columns);
      break;
  }
}

void SessionImpl::AlterDropConstraint(catalog::TableMeta& t, const std::string& name) {
  for (const auto& ix : t.indexes) {
    if (ix.name != name || !(ix.status2 & catalog::kIndex2Constraint)) continue;
    if (t.schema == "temp") {
      Exec(db_.get(), "DROP INDEX " + IndexSqlName(t, name));
      t.indexes.erase(std::find_if(t.indexes.begin(), t.indexes.end(),
                                   [&](const auto& x) { return x.name == name; }));
      return;
    }
    // A key another table's foreign key references stays while that constraint does.
    std::vector<int> keys = ix.keys;
    std::sort(keys.begin(), keys.end());
    Statement ri(db_.get(), "SELECT r.id, r.name, c.name FROM " + QuoteId(t.schema) +
                                ".sysobjects r JOIN " + QuoteId(t.schema) +
                                ".sysobjects c ON c.id = r.deltrig WHERE r.type = 'RI'");
    while (ri.Step()) {
      ForeignKey fk = ForeignKeyOf(ObjectText(t.schema, ri.Int(0)));
      if (fk.refTable != t.name) continue;
      std::vector<int> refs;
      for (const auto& r : fk.refColumns)
        if (const auto* col = t.Find(r)) refs.push_back(col->colid);
      std::sort(refs.begin(), refs.end());
      if (refs == keys)
        Fail(7, {"Cannot drop constraint '" + name + "': foreign key '" + ri.Text(1) +
                 "' of table '" + ri.Text(2) + "' references its key."});
    }
    Exec(db_.get(), "DROP INDEX " + IndexSqlName(t, name));
    const std::string where =
        " WHERE id = " + std::to_string(t.id) + " AND indid = " + std::to_string(ix.indid);
    Exec(db_.get(), "DELETE FROM " + QuoteId(t.schema) + ".sysindexes" + where);
    Exec(db_.get(), "DELETE FROM " + QuoteId(t.schema) + ".sysindexkeys" + where);
    if (ix.status & catalog::kIndexPrimaryKey)
      Exec(db_.get(), "UPDATE " + QuoteId(t.schema) +
                          ".sysobjects SET sysstat2 = sysstat2 & ~8"
                          " WHERE id = " +
                          std::to_string(t.id));
    return;
  }
  const auto constraints = TableConstraints(t);
  auto it = std::find_if(constraints.begin(), constraints.end(),
                         [&](const auto& c) { return c.name == name; });
  if (it == constraints.end()) Fail(3701, {"constraint", name});
  if (it->foreignKey) {
    DropForeignKey(t, *it);
    return;
  }
  std::vector<std::string> checks;
  for (const auto& c : constraints)
    if (!c.foreignKey && c.id != it->id) checks.push_back(CheckSql(t, c.name, c.text));
  std::vector<std::string> sources;
  for (const auto& col : t.columns) sources.push_back(QuoteId(col.name));
  RebuildTable(t, t, sources, checks);
  if (t.schema == "temp") {
    t.checks.erase(std::find_if(t.checks.begin(), t.checks.end(),
                                [&](const auto& c) { return c.first == name; }));
    return;
  }
  catalog::DropObject(db_.get(), t.schema, it->id);
}

SessionImpl::ForeignKey SessionImpl::ForeignKeyOf(const std::string& text) {
  // Stored as the constraint's own clause: read it back through the parser.
  auto parsed = sql::Parse("alter table t add " + text);
  ForeignKey fk;
  if (!parsed.ok() || parsed.statements.empty()) return fk;
  const auto* a = parsed.statements[0]->If<sql::AlterTableStmt>();
  if (!a || a->addConstraints.empty()) return fk;
  const auto& c = a->addConstraints[0];
  fk.columns = c.columns;
  fk.refTable = c.refTable.object;
  fk.refColumns = c.refColumns;
  return fk;
}

void SessionImpl::AddForeignKey(catalog::TableMeta& t, const sql::Constraint& c,
                                const std::vector<std::string>& columns) {
  if (!c.refTable.database.empty() && c.refTable.database != t.database)
    Fail(7, {"A foreign key must reference a table in its own database."});
  auto parent = RequireTable(c.refTable);
  if (parent.temp || parent.meta.type != "U")
    Fail(7, {"'" + c.refTable.object + "' is not a user table."});
  const auto& p = parent.meta.name == t.name ? t : parent.meta;
  std::vector<std::string> refColumns = c.refColumns;
  if (refColumns.empty()) {
    for (const auto& ix : p.indexes)
      if (ix.status & catalog::kIndexPrimaryKey)
        for (int colid : ix.keys)
          for (const auto& col : p.columns)
            if (col.colid == colid) refColumns.push_back(col.name);
  }
  // The referenced columns must be the keys of a unique index, in any order.
  std::vector<int> wanted;
  for (const auto& r : refColumns) {
    const auto* col = p.Find(r);
    if (!col) Fail(207, {r});
    wanted.push_back(col->colid);
  }
  std::sort(wanted.begin(), wanted.end());
  bool keyed = std::any_of(p.indexes.begin(), p.indexes.end(), [&](const auto& ix) {
    auto keys = ix.keys;
    std::sort(keys.begin(), keys.end());
    return (ix.status & catalog::kIndexUnique) && keys == wanted;
  });
  if (!keyed || refColumns.size() != columns.size())
    Fail(7, {"No primary key or unique index of table '" + p.name +
             "' matches the columns of the foreign key on '" + t.name + "'."});
  for (const auto& k : columns)
    if (!t.Find(k)) Fail(207, {k});
  const int64_t id = catalog::NextObjectId(db_.get(), t.schema);
  const std::string name =
      c.name.empty() ? t.name.substr(0, 10) + "_" + std::to_string(id) : c.name;
  std::string cols, refs;
  for (size_t i = 0; i < columns.size(); ++i) {
    cols += (i ? ", " : "") + columns[i];
    refs += (i ? ", " : "") + refColumns[i];
  }
  ForeignKey fk{columns, p.name, refColumns, t.name};
  // Existing rows must already have their parent.
  if (storage::QueryInt(db_.get(), "SELECT 1 FROM " + QuoteId(t.schema) + "." + QuoteId(t.name) +
                                       " AS c WHERE " + ForeignKeyOrphan(fk, "c") + " LIMIT 1"))
    Fail(546, {t.database, t.name, name});
  catalog::AddObject(db_.get(), t.schema, id, name, "RI", 9, 0, t.id);
  catalog::StoreText(db_.get(), t.schema, id,
                     "FOREIGN KEY (" + cols + ") REFERENCES " + p.name + " (" + refs + ")");
  RefreshForeignKeyBits(t.schema);
  InstallForeignKey(t.schema, id, name, fk);
}

void SessionImpl::RefreshForeignKeyBits(const std::string& schema) {
  // sysstat2: 0x2 the table has a foreign key, 0x1 a foreign key references it. sysreferences
  // is made anew from the keys' stored clauses, so colids stay true after a table is rebuilt.
  std::string referenced;
  std::vector<std::pair<int64_t, int64_t>> keys;  // RI object, its table
  {
    Statement st(db_.get(),
                 "SELECT id, deltrig FROM " + QuoteId(schema) + ".sysobjects WHERE type = 'RI'");
    while (st.Step()) keys.emplace_back(st.Int(0), st.Int(1));
  }
  Exec(db_.get(), "DELETE FROM " + QuoteId(schema) + ".sysreferences");
  std::string database = schema;
  for (const auto& [db, sch] : attached_)
    if (sch == schema) database = db;
  for (auto [id, tableId] : keys) {
    ForeignKey fk = ForeignKeyOf(ObjectText(schema, id));
    referenced += (referenced.empty() ? "" : ", ") + QuoteText(fk.refTable);
    auto child =
        storage::QueryText(db_.get(), "SELECT name FROM " + QuoteId(schema) +
                                          ".sysobjects WHERE id = " + std::to_string(tableId));
    auto t = child ? catalog::LoadTable(db_.get(), schema, database, *child) : std::nullopt;
    auto p = catalog::LoadTable(db_.get(), schema, database, fk.refTable);
    if (!t || !p || fk.columns.size() != fk.refColumns.size()) continue;
    catalog::ReferenceMeta rm;
    rm.constraintId = id;
    rm.tableId = t->id;
    rm.refTableId = p->id;
    rm.dbid = DbId(database).value_or(0);
    for (size_t i = 0; i < fk.columns.size(); ++i) {
      const auto* k = t->Find(fk.columns[i]);
      const auto* rk = p->Find(fk.refColumns[i]);
      if (!k || !rk) break;
      rm.keys.push_back(k->colid);
      rm.refKeys.push_back(rk->colid);
    }
    if (rm.keys.size() == fk.columns.size()) catalog::AddReference(db_.get(), schema, rm);
  }
  const std::string objects = QuoteId(schema) + ".sysobjects";
  Exec(db_.get(), "UPDATE " + objects +
                      " SET sysstat2 = (sysstat2 & ~3)"
                      " | CASE WHEN EXISTS (SELECT 1 FROM " +
                      objects +
                      " r WHERE r.type = 'RI'"
                      " AND r.deltrig = " +
                      objects +
                      ".id) THEN 2 ELSE 0 END"
                      " | CASE WHEN name IN (" +
                      referenced + ") THEN 1 ELSE 0 END WHERE type = 'U'");
}

std::string SessionImpl::ForeignKeyOrphan(const ForeignKey& fk, const std::string& child) {
  std::string present, match;
  for (size_t i = 0; i < fk.columns.size(); ++i) {
    const std::string col = child + "." + QuoteId(fk.columns[i]);
    present += (i ? " AND " : "") + col + " IS NOT NULL";
    match +=
        (i ? " AND " : "") + QuoteId("syb_parent") + "." + QuoteId(fk.refColumns[i]) + " = " + col;
  }
  return present + " AND NOT EXISTS (SELECT 1 FROM " + QuoteId(fk.refTable) + " AS " +
         QuoteId("syb_parent") + " WHERE " + match + ")";
}

void SessionImpl::InstallForeignKey(const std::string& schema, int64_t id, const std::string& name,
                                    const ForeignKey& fk) {
  // SQLite's own foreign keys stay off (Sybase's rules differ); triggers in the tables' database
  // refuse the rows that would break this one.
  const std::string tag = "syb_fk_" + std::to_string(id);
  auto raise = [&](int number) {
    return " BEGIN SELECT RAISE(ABORT, " +
           QuoteText("syb_fk:" + std::to_string(number) + ":" + name) + "); END";
  };
  std::string childCols, refCols, used;
  for (size_t i = 0; i < fk.columns.size(); ++i) {
    childCols += (i ? ", " : "") + QuoteId(fk.columns[i]);
    refCols += (i ? ", " : "") + QuoteId(fk.refColumns[i]);
    used += std::string(i ? " AND " : "") + "c." + QuoteId(fk.columns[i]) + " = OLD." +
            QuoteId(fk.refColumns[i]);
  }
  const std::string child = QuoteId(fk.childTable);
  const std::string orphan = ForeignKeyOrphan(fk, "NEW");
  const std::string referenced = "EXISTS (SELECT 1 FROM " + child + " AS c WHERE " + used + ")";
  std::string changed;
  for (size_t i = 0; i < fk.refColumns.size(); ++i)
    changed += std::string(i ? " OR " : "") + "NEW." + QuoteId(fk.refColumns[i]) + " IS NOT OLD." +
               QuoteId(fk.refColumns[i]);
  const std::string at = QuoteId(schema) + ".";
  Exec(db_.get(), "CREATE TRIGGER " + at + QuoteId(tag + "_ins") + " BEFORE INSERT ON " + child +
                      " WHEN " + orphan + raise(546));
  Exec(db_.get(), "CREATE TRIGGER " + at + QuoteId(tag + "_upd") + " BEFORE UPDATE OF " +
                      childCols + " ON " + child + " WHEN " + orphan + raise(546));
  Exec(db_.get(), "CREATE TRIGGER " + at + QuoteId(tag + "_del") + " BEFORE DELETE ON " +
                      QuoteId(fk.refTable) + " WHEN " + referenced + raise(547));
  Exec(db_.get(), "CREATE TRIGGER " + at + QuoteId(tag + "_key") + " BEFORE UPDATE OF " + refCols +
                      " ON " + QuoteId(fk.refTable) + " WHEN (" + changed + ") AND " + referenced +
                      raise(547));
}

void SessionImpl::RemoveForeignKeyTriggers(const std::string& schema, int64_t id) {
  for (const char* suffix : {"_ins", "_upd", "_del", "_key"})
    Exec(db_.get(), "DROP TRIGGER IF EXISTS " + QuoteId(schema) + "." +
                        QuoteId("syb_fk_" + std::to_string(id) + suffix));
}

void SessionImpl::ReinstallForeignKeys(const catalog::TableMeta& t) {
  // A rebuilt table lost the triggers on it; those of every constraint touching it come back.
  std::vector<std::tuple<int64_t, std::string, int64_t>> all;  // id, name, child table id
  {
    Statement st(db_.get(), "SELECT id, name, deltrig FROM " + QuoteId(t.schema) +
                                ".sysobjects WHERE type = 'RI'");
    while (st.Step()) all.emplace_back(st.Int(0), st.Text(1), st.Int(2));
  }
  for (const auto& [id, name, childId] : all) {
    ForeignKey fk = ForeignKeyOf(ObjectText(t.schema, id));
    auto child =
        storage::QueryText(db_.get(), "SELECT name FROM " + QuoteId(t.schema) +
                                          ".sysobjects WHERE id = " + std::to_string(childId));
    if (!child || (*child != t.name && fk.refTable != t.name)) continue;
    fk.childTable = *child;
    RemoveForeignKeyTriggers(t.schema, id);
    InstallForeignKey(t.schema, id, name, fk);
  }
}

void SessionImpl::DropForeignKey(const catalog::TableMeta& t, const TableConstraint& c) {
  RemoveForeignKeyTriggers(t.schema, c.id);
  catalog::DropObject(db_.get(), t.schema, c.id);
  RefreshForeignKeyBits(t.schema);
}

}  // namespace sampleserver
