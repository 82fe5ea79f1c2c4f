// The data set over one server table.
//
// It writes its own SELECT from TableName, the probed columns, the chosen index, the sort
// direction and the filter; it reads the table's indexes from the server catalog, so that rows are
// ordered by an index and a row is identified by its key; before an edit or a delete it checks on
// the server that exactly one row matches the record; and it turns posts, inserts and deletes
// into INSERT, UPDATE and DELETE statements, each prepared with named parameters and run in a
// transaction of its own, before the record cache changes (unless CachedUpdates is set).
//
// An UPDATE identifies its row by the key and also by the value each changed field had when the
// edit began, so an edit made meanwhile by someone else is refused instead of overwritten.
#pragma once

#include "dataset/norvdataset.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <vector>

// One row of the catalog query for indexes.
struct NorvIndexEntry {
  QString IndexName;  // at most 30 characters
  int IndexId = 0;
  int Status = 0;
  QString ColumnName;  // at most 30 characters
};

class TNorvTable : public TNorvDataSet {
  Q_OBJECT

 public:
  explicit TNorvTable(QObject* owner = nullptr);
  ~TNorvTable() override;

  // ---- Properties ----------------------------------------------------------------------------
  QString TableName() const { return tableName_; }
  // Trimmed, at most 30 characters; may carry an owner prefix (dbo.authors).
  void SetTableName(const QString& value);
  QString IndexName() const { return indexName_; }
  // Rebuilds the key columns from the indexes read at the last open.
  void SetIndexName(const QString& value) { ChooseIndex(value); }
  bool DefaultIndex() const { return defaultIndex_; }
  void SetDefaultIndex(bool value) { defaultIndex_ = value; }
  bool CheckDups() const { return checkDups_; }
  void SetCheckDups(bool value) { checkDups_ = value; }
  bool CachedUpdates() const { return cachedUpdates_; }
  void SetCachedUpdates(bool value) { cachedUpdates_ = value; }

  // ---- Run-time state --------------------------------------------------------------------------
  // Server database name, separator and table name: pubs2..authors, pubs2.dbo.authors.
  QString QualifiedName() const;
  const std::vector<NorvIndexEntry>& Indexes() const { return indexes_; }
  const QStringList& IndexNames() const { return indexNames_; }
  const QStringList& KeyColumns() const { return keyColumns_; }
  QString KeyList() const { return keyList_; }
  QString OrderList() const { return orderList_; }
  // The SELECT the row cursor was last declared on.
  QString SelectText() const { return StatementText().join(QLatin1Char('\n')); }

  // ---- Operations ------------------------------------------------------------------------------
  // The catalog query for the connection's server kind; empty for any other kind.
  QString IndexQuery() const;
  void ReadIndexes();
  void ChooseIndex(const QString& value);
  // Raises unless exactly one row of the table matches the snapshot record.
  bool CountMatches();
  // " WHERE 1=1" and a condition per identifying field of the snapshot; adds the "where_"
  // parameters. `alsoFields` are compared as well (the changed fields of an update).
  QString BuildKeyWhere(const QStringList& alsoFields = {});

 protected:
  void OpenInternal() override;
  bool ReadColumns() override;
  void OpenRowCursor(const QString& sortDirection) override;
  void SnapshotBeforeEdit() override;
  void SnapshotBeforeDelete() override;
  void WriteCachedRecord(TRecordBuffer buffer, int index) override;
  void InsertCachedRecord(TRecordBuffer buffer, int index) override;
  void DeleteInternal() override;

  void InsertRow();
  void UpdateRow();
  void DeleteRow();

 private:
  enum class Statement { Insert, Update, Delete };
  void SetSeparator();
  void CheckTableName() const;
  // The fields that identify a row: the key columns, or every data field without a key.
  std::vector<TField*> IdentifyingFields() const;
  void RunInTransaction(Statement kind, const QString& sql);
  // Best effort on a failure path: the statement released and the transaction rolled back.
  void AbandonTransaction();
  int Exec(const QString& text);
  bool ConnectionAlive() const;

  QString tableName_;
  QString indexName_;
  bool defaultIndex_ = true;
  bool checkDups_ = true;
  bool cachedUpdates_ = false;
  QString separator_ = QStringLiteral("..");
  std::vector<NorvIndexEntry> indexes_;
  QStringList indexNames_;
  QStringList keyColumns_;
  QString keyList_;
  QString orderList_;
};
