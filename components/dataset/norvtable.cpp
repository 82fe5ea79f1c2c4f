#include "dataset/norvtable.h"

#include "connection/norvdatabase.h"
#include "connection/norvexception.h"
#include "connection/presenter.h"

#include <functional>
#include <utility>

namespace {

// Runs its action when the scope is left, however it is left; the action must not throw.
class ScopeExit {
 public:
  explicit ScopeExit(std::function<void()> action) : action_(std::move(action)) {}
  ~ScopeExit() { action_(); }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  std::function<void()> action_;
};

// A name written into a catalog query as a string literal: a quote in it is doubled, so the
// name can never end the literal early.
QString Literal(const QString& text) {
  QString doubled = text;
  doubled.replace(QLatin1Char('\''), QStringLiteral("''"));
  return QLatin1Char('\'') + doubled + QLatin1Char('\'');
}

bool IsDataField(const TField* field) { return !field->Calculated() && !field->Lookup(); }

struct StatementTexts {
  const char* end;
  const char* noRow;
  const char* failed;
};

}  // namespace

TNorvTable::TNorvTable(QObject* owner) : TNorvDataSet(owner) {}

TNorvTable::~TNorvTable() {
  try {
    Close();
  } catch (...) {
    HandleInternalException(std::current_exception());
  }
}

void TNorvTable::SetTableName(const QString& value) { tableName_ = value.trimmed().left(30); }

void TNorvTable::SetSeparator() {
  separator_ = tableName_.contains(QLatin1Char('.')) ? QStringLiteral(".") : QStringLiteral("..");
}

QString TNorvTable::QualifiedName() const {
  QString dbName = ServerDbName();
  if (dbName.isEmpty())
    if (TNorvDatabase* db = FindDatabase(DbName())) dbName = db->DBName();
  return dbName.trimmed() + separator_ + tableName_.trimmed();
}

void TNorvTable::CheckTableName() const {
  if (tableName_.trimmed().isEmpty()) DatabaseError(QStringLiteral("Invalid TableName"));
}

// ---- Opening -----------------------------------------------------------------------------------

void TNorvTable::OpenInternal() {
  SetSeparator();
  ChooseIndex(indexName_);
  CheckTableName();
  StatementText() = QStringList{QStringLiteral("SELECT * FROM ") + QualifiedName() +
                                QStringLiteral(" /* Initial select to obtain columns */")};
  TNorvDataSet::OpenInternal();
}

bool TNorvTable::ReadColumns() {
  SetSeparator();
  StatementText() = QStringList{QStringLiteral("SELECT * FROM ") + QualifiedName()};
  const bool result = TNorvDataSet::ReadColumns();
  CheckDbName(DbName());
  ReadIndexes();
  return result;
}

QString TNorvTable::IndexQuery() const {
  QString t = tableName_;
  const qsizetype dot = t.indexOf(QLatin1Char('.'));
  if (dot >= 0) t = t.mid(dot + 1);
  const QString name = Literal(t);
  TNorvDatabase* db = FindDatabase(DbName());
  const TRdbms kind = db ? db->RdbmsKind() : TRdbms::Other;
  if (kind == TRdbms::SybaseSqlServer)
    return QStringLiteral("SELECT x.name, ") + QStringLiteral("x.indid, ") +
           QStringLiteral("x.status, ") + QStringLiteral("INDEX_COL(") + name +
           QStringLiteral(", x.indid, c.colid) ") + QStringLiteral("FROM sysindexes x, ") +
           QStringLiteral("syscolumns c ") + QStringLiteral("WHERE x.id = object_id (") + name +
           QStringLiteral(") ") + QStringLiteral("AND indid BETWEEN 1 AND 254 ") +
           QStringLiteral("AND x.id = c.id  ") + QStringLiteral("AND c.colid <= x.keycnt ") +
           QStringLiteral("AND INDEX_COL(") + name + QStringLiteral(", x.indid, c.colid)<>''") +
           QStringLiteral(" ORDER BY x.name, x.indid, ") + QStringLiteral("c.colid ASC");
  if (kind == TRdbms::SqlAnywhere)
    return QStringLiteral("SELECT index_name,") + QStringLiteral(" si.index_id,") +
           QStringLiteral(" status = 1,") + QStringLiteral(" column_name") +
           QStringLiteral(" FROM SYSTABLE st,") + QStringLiteral(" SYSIXCOL sic,") +
           QStringLiteral(" SYSCOLUMN sc,") + QStringLiteral(" SYSINDEX si") +
           QStringLiteral(" WHERE st.table_id = sc.table_id") +
           QStringLiteral(" AND si.table_id = sc.table_id") +
           QStringLiteral(" AND si.index_id = sic.index_id") +
           QStringLiteral(" AND sc.table_id = sic.table_id") +
           QStringLiteral(" AND sc.column_id = sic.column_id") +
           QStringLiteral(" AND st.table_name = ") + name;
  return {};
}

void TNorvTable::ReadIndexes() {
  MonitorLog(QStringLiteral("Flow : ** Start of obtaining index **"));
  CheckTableName();
  indexes_.clear();
  indexNames_.clear();
  keyColumns_.clear();
  const QString query = IndexQuery();
  MonitorLog(query);
  // Another kind of server has no catalog we know: the table is read without an index.
  if (query.isEmpty()) {
    MonitorLog(QStringLiteral("Flow : ** End of obtaining index **"));
    return;
  }
  BoundColumns aside;
  SwapBoundColumns(aside);
  oc::CommandHandle command = AllocateCommand();
  ScopeExit restore([&] {
    CloseCommandCursor(command);
    SwapBoundColumns(aside);
  });
  const QString cursor = Name() + CursorNameSuffix() + QStringLiteral("_defcur");
  if (DeclareAndOpenCursor(command.get(), cursor, query) != CS_SUCCEED) throw EAbort();
  DescribeAndBind(command.get(), false);
  if (ColumnCount() < 4) throw EAbort();
  while (ReadRowCursorRow(command.get(), false) == CS_SUCCEED) {
    NorvIndexEntry entry;
    entry.IndexName = NorvObjectname(BoundText(1).trimmed());
    entry.IndexId = BoundText(2).trimmed().toInt();
    entry.Status = BoundText(3).trimmed().toInt();
    entry.ColumnName = NorvObjectname(BoundText(4).trimmed());
    indexes_.push_back(entry);
    if (!indexNames_.contains(entry.IndexName)) indexNames_ << entry.IndexName;
    if (!indexNames_.isEmpty() && entry.IndexName == indexName_) keyColumns_ << entry.ColumnName;
  }
  MonitorLog(QStringLiteral("Flow : ** End of obtaining index **"));
}

void TNorvTable::ChooseIndex(const QString& value) {
  indexName_ = value.left(30);
  QString chosen = indexName_;
  if (chosen.trimmed().isEmpty() && defaultIndex_ && !indexNames_.isEmpty())
    chosen = indexNames_.first();
  keyColumns_.clear();
  keyList_.clear();
  orderList_.clear();
  for (const NorvIndexEntry& e : indexes_) {
    if (e.IndexName != chosen) continue;
    keyColumns_ << e.ColumnName;
    keyList_ += e.ColumnName + QLatin1Char(';');
    orderList_ += e.ColumnName + QLatin1Char(',');
  }
  orderList_.chop(1);
}

void TNorvTable::OpenRowCursor(const QString& sortDirection) {
  ChooseIndex(indexName_);
  if (FieldList().trimmed().isEmpty()) DatabaseError(QStringLiteral("Field List invalid"));
  CheckTableName();
  QString text =
      QStringLiteral("SELECT ") + FieldList() + QStringLiteral(" FROM ") + QualifiedName();
  // The filter is SQL for the server; OnFilterRecord still sees the fetched rows.
  if (Filtered() && !Filter().trimmed().isEmpty())
    text = text.trimmed() + QStringLiteral(" WHERE ") + Filter().trimmed();
  const bool unordered = !defaultIndex_ && indexName_.trimmed().isEmpty();
  if (!unordered && !orderList_.isEmpty())
    text = text.trimmed() + QStringLiteral(" ORDER BY ") + orderList_ + QLatin1Char(' ') +
           sortDirection;
  StatementText() = QStringList{text};
  TNorvDataSet::OpenRowCursor(sortDirection);
}

// ---- Identifying a row -------------------------------------------------------------------------

std::vector<TField*> TNorvTable::IdentifyingFields() const {
  std::vector<TField*> fields;
  if (!keyColumns_.isEmpty()) {
    for (const QString& name : keyColumns_)
      if (TField* f = FindField(name); f && IsDataField(f)) fields.push_back(f);
    return fields;
  }
  for (int i = 0; i < FieldCount(); ++i)
    if (IsDataField(Fields()[i])) fields.push_back(Fields()[i]);
  return fields;
}

QString TNorvTable::BuildKeyWhere(const QStringList& alsoFields) {
  QString text = QStringLiteral(" WHERE 1=1");
  QStringList done;
  auto add = [&](TField* f) {
    const QString name = f->FieldName();
    if (done.contains(name)) return;
    done << name;
    const QString s = SnapshotFieldText(f);
    if (s.isEmpty()) {
      text += QStringLiteral(" AND ") + name + QStringLiteral(" IS NULL");
      return;
    }
    text += QStringLiteral(" AND ") + name + QStringLiteral("=:where_") + name;
    TParam& p = Params().CreateParam(f->DataType(), QStringLiteral("where_") + name, ptInput);
    double d = 0;
    if ((f->DataType() == ftFloat || f->DataType() == ftCurrency) && FieldText::ToFloat(s, d))
      p.SetAsFloat(d);
    else
      p.SetAsString(s);
  };
  for (TField* f : IdentifyingFields()) add(f);
  for (const QString& name : alsoFields)
    if (TField* f = FindField(name); f && IsDataField(f)) add(f);
  return text;
}

bool TNorvTable::CountMatches() {
  Params().Clear();
  CheckTableName();
  norv::CurrentPresenter().SetWaitCursor(true);
  QString sql =
      QStringLiteral("SELECT COUNT(*) FROM ") + QualifiedName() + QStringLiteral(" WHERE 1=1");
  for (TField* f : IdentifyingFields()) {
    const QString name = f->FieldName();
    const QString s = SnapshotFieldText(f);
    if (s.isEmpty()) {
      sql += QStringLiteral(" AND ") + name + QStringLiteral(" IS NULL");
      continue;
    }
    sql += QStringLiteral(" AND ") + name + QStringLiteral("=:") + name;
    TParam& p = Params().CreateParam(f->DataType(), name, ptInput);
    double d = 0;
    if ((f->DataType() == ftFloat || f->DataType() == ftCurrency) && FieldText::ToFloat(s, d))
      p.SetAsFloat(d);
    else
      p.SetAsString(s);
  }
  SetDynamicText(Params().ParseSQL(sql, false));
  BoundColumns aside;
  SwapBoundColumns(aside);
  oc::CommandHandle command = AllocateCommand();
  // Also closed on the other server kind: an open cursor would outlive the check.
  ScopeExit cleanup([&] {
    CloseCommandCursor(command);
    try {
      UnprepareStatement();
    } catch (...) {
      HandleInternalException(std::current_exception());
    }
    Params().Clear();
    SwapBoundColumns(aside);
    norv::CurrentPresenter().SetWaitCursor(false);
  });
  PrepareStatement();
  const QString cursor = Name() + CursorNameSuffix() + QStringLiteral("_defcur");
  if (DeclareAndOpenCursor(command.get(), cursor, sql) != CS_SUCCEED) throw EAbort();
  DescribeAndBind(command.get(), false);
  QString count = QStringLiteral("0");
  if (ColumnCount() >= 1 && ReadRowCursorRow(command.get(), false) == CS_SUCCEED)
    count = BoundText(1);
  bool ok = false;
  const int n = count.trimmed().toInt(&ok);
  if (!ok) DatabaseError(QStringLiteral("Error converting Char to Int"));
  MonitorLog(QStringLiteral("SQL Data Out: - Count : ") + count);
  if (n == 0) DatabaseError(QStringLiteral("No record found, but one expected"));
  if (n > 1) DatabaseError(QStringLiteral("Multiple records found, but only one expected"));
  return true;
}

void TNorvTable::SnapshotBeforeEdit() {
  // Taken also when read-only: the check needs it either way.
  TNorvDataSet::SnapshotBeforeDelete();
  if (checkDups_) CountMatches();
}

void TNorvTable::SnapshotBeforeDelete() {
  TNorvDataSet::SnapshotBeforeDelete();
  if (checkDups_) CountMatches();
}

// ---- Writing to the server ---------------------------------------------------------------------

void TNorvTable::WriteCachedRecord(TRecordBuffer buffer, int index) {
  if (!cachedUpdates_) UpdateRow();
  TNorvDataSet::WriteCachedRecord(buffer, index);
}

void TNorvTable::InsertCachedRecord(TRecordBuffer buffer, int index) {
  if (!cachedUpdates_) InsertRow();
  TNorvDataSet::InsertCachedRecord(buffer, index);
}

void TNorvTable::DeleteInternal() {
  if (!cachedUpdates_) DeleteRow();
  TNorvDataSet::DeleteInternal();
}

void TNorvTable::InsertRow() {
  MonitorLog(QStringLiteral("Flow : ** Start of INSERT **"));
  Params().Clear();
  QStringList names;
  for (int i = 0; i < FieldCount(); ++i) {
    TField* f = Fields()[i];
    // Left out, the server's defaults apply to them.
    if (!IsDataField(f) || f->AsString().trimmed().isEmpty()) continue;
    names << f->FieldName();
    Params().CreateParam(f->DataType(), f->FieldName(), ptInput).SetValue(f->Value());
  }
  const QString sql =
      QStringLiteral("INSERT ") + QualifiedName() + QLatin1Char('(') +
      names.join(QLatin1Char(',')) + QLatin1Char(')') + QStringLiteral(" VALUES (") +
      (names.isEmpty() ? QString() : QLatin1Char(':') + names.join(QStringLiteral(",:"))) +
      QLatin1Char(')');
  RunInTransaction(Statement::Insert, sql);
}

void TNorvTable::UpdateRow() {
  MonitorLog(QStringLiteral("Flow : ** Start of UPDATE **"));
  Params().Clear();
  std::vector<TField*> changed;
  for (int i = 0; i < FieldCount(); ++i) {
    TField* f = Fields()[i];
    if (IsDataField(f) && SnapshotFieldText(f) != f->AsString()) changed.push_back(f);
  }
  if (changed.empty()) return;
  TField* last = Fields()[FieldCount() - 1];
  QString sql = QStringLiteral("UPDATE ") + QualifiedName() + QStringLiteral(" SET ");
  QStringList names;
  for (size_t i = 0; i < changed.size(); ++i) {
    TField* f = changed[i];
    const QString name = f->FieldName();
    names << name;
    if (f->AsString().isEmpty()) {
      sql += name + QStringLiteral("=NULL");
    } else {
      sql += name + QStringLiteral("=:") + name;
      Params().CreateParam(f->DataType(), name, ptInput).SetValue(f->Value());
    }
    if (f != last) {
      if (i + 1 < changed.size()) sql += QLatin1Char(',');
      sql += QLatin1Char(' ');
    }
  }
  // The changed fields must still hold what they held when the edit began: a row changed
  // meanwhile by someone else then matches nothing, and the post is refused.
  sql += BuildKeyWhere(names);
  RunInTransaction(Statement::Update, sql);
}

void TNorvTable::DeleteRow() {
  MonitorLog(QStringLiteral("Flow : ** Start of DELETE **"));
  Params().Clear();
  const QString sql = QStringLiteral("DELETE ") + QualifiedName() + BuildKeyWhere();
  RunInTransaction(Statement::Delete, sql);
}

bool TNorvTable::ConnectionAlive() const {
  TNorvDatabase* db = FindDatabase(DbName());
  CS_INT status = CS_FALSE;
  return db && db->Handle() &&
         oc::ct_con_props(db->Handle(), CS_GET, CS_LOGIN_STATUS, &status, CS_UNUSED, nullptr) ==
             CS_SUCCEED &&
         status == CS_TRUE;
}

int TNorvTable::Exec(const QString& text) {
  int rowCount = 0;
  return ExecuteCommandText(text, rowCount);
}

void TNorvTable::AbandonTransaction() {
  try {
    UnprepareStatement();
  } catch (...) {  // the error being raised already says what went wrong
  }
  try {
    Exec(QStringLiteral("ROLLBACK TRAN"));
  } catch (...) {  // likewise
  }
}

void TNorvTable::RunInTransaction(Statement kind, const QString& sql) {
  static const StatementTexts kTexts[] = {
      {"Flow : ** End of INSERT **",
       "Record was not inserted. The underlying data could have been changed since retrieval",
       "Error encountered while inserting record"},
      {"Flow : ** End of UPDATE **",
       "Record was not posted. The underlying data could have been changed since retrieval",
       "Error encountered while posting record"},
      {"Flow : ** End of delete **",
       "Record was not deleted. The underlying data could have been changed since retrieval",
       "Error encountered while deleting record"},
  };
  const StatementTexts& texts = kTexts[static_cast<int>(kind)];
  ScopeExit end([&] {
    MonitorLog(QString::fromLatin1(texts.end));
    Params().Clear();
  });
  // Transaction commands go as language commands, which they are only while nothing is prepared.
  if (Prepared()) UnprepareStatement();
  SetDynamicText(Params().ParseSQL(sql, false));
  int r = 0;
  int rowCount = 0;
  try {
    if (Exec(QStringLiteral("BEGIN TRAN")) != 1)
      DatabaseError(QStringLiteral("Error encountered while beginning transaction"));
    PrepareStatement();
    r = ExecuteCommandText(sql, rowCount);
  } catch (Exception& e) {
    // Said beside the message: a lost server is what the user needs to hear about first.
    if (!ConnectionAlive())
      e.AddContext(QStringLiteral("The connection to the server is lost; nothing was written."));
    AbandonTransaction();
    throw;
  } catch (...) {
    AbandonTransaction();
    throw;
  }
  // The connection went under the statement or its commit: there is nothing left to roll back
  // (the server drops an open transaction with its connection), and the error says so.
  const auto lost = [this](const QString& step, const QString& outcome) {
    EDatabaseError error(QStringLiteral("Connection to the server was lost"));
    error.AddContext(step);
    error.AddContext(outcome);
    error.AddContext(QString::fromLatin1(metaObject()->className()) + QLatin1Char(' ') +
                     objectName());
    throw error;
  };
  TNorvDatabase* db = FindDatabase(DbName());
  const bool sybase = db && db->RdbmsKind() == TRdbms::SybaseSqlServer;
  if (r != 1 && !ConnectionAlive())
    lost(QString::fromLatin1(texts.failed),
         QStringLiteral("The connection to the server is lost; nothing was written."));
  if (r == 1 && rowCount == 0 && sybase) {
    AbandonTransaction();
    DatabaseError(QString::fromLatin1(texts.noRow));
  }
  if (r == 1) {
    try {
      UnprepareStatement();
      r = Exec(QStringLiteral("COMMIT TRAN"));
    } catch (...) {
      AbandonTransaction();
      throw;
    }
    if (r != 1 && !ConnectionAlive())
      lost(QStringLiteral("Error encountered while committing transaction"),
           QStringLiteral("The connection was lost during the commit; whether the server took "
                          "the change is not known."));
    if (r != 1) {
      // A commit that did not happen must not leave the transaction open behind it.
      AbandonTransaction();
      DatabaseError(QStringLiteral("Error encountered while committing transaction"));
    }
    return;
  }
  try {
    UnprepareStatement();
  } catch (...) {  // the rollback below decides what is reported
  }
  if (Exec(QStringLiteral("ROLLBACK TRAN")) != 1)
    DatabaseError(QStringLiteral("Error encountered while rolling back transaction"));
  DatabaseError(QString::fromLatin1(texts.failed));
}
