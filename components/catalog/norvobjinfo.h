// Catalog questions answered from the server's system tables: databases, objects of a type, the
// source text of procedures, views, triggers, rules and defaults, users, groups, datatypes,
// segments, indexes and their columns, and a CREATE TABLE script for a table.
//
// Each list-returning operation clears ResultList, fills it with the first column of each row of
// one catalog query and returns it: the caller gets the component's own list, which the next
// operation overwrites. Every operation runs a query of its own on the connection named by DbName
// and frees it before returning.
#pragma once

#include "catalog/norvbase.h"

#include <QString>
#include <QStringList>

class TNorvQuery;

class TNorvObjInfo : public TNorvBase {
  Q_OBJECT
 public:
  explicit TNorvObjInfo(QObject* owner = nullptr);
  ~TNorvObjInfo() override;

  // The last answer.
  QStringList& ResultList() { return resultList_; }
  // Placed in front of every catalog table name in the statements; empty by default, so the
  // statements read the current database's catalog.
  QString CatalogPrefix() const { return catalogPrefix_; }
  void SetCatalogPrefix(const QString& value) { catalogPrefix_ = value; }

  QStringList& GetDatabases();
  // `ObjType` is cut to 2 characters, then upper-cased, then trimmed ("tr" asks for TR, " tr"
  // for T).
  QStringList& GetObjectNames(const QString& ObjType);
  // The source text of a procedure, view, trigger, rule or default: its syscomments rows joined
  // in order, trimmed at both ends. `ObjName` is cut to 60 characters and trimmed. Raises
  // ENorvException for any other object, or a name the database does not hold; `Text` is then
  // left as it was. ResultList is not touched.
  void GetObjectText(const QString& ObjName, QString& Text);
  // A CREATE TABLE script for `TableName` (cut to 60 characters, not trimmed), one line per
  // entry; "/* Data not available */" when the name yields no columns. Raises ENorvException for
  // a name that is not a (qualified) table name, without asking the server, and when the
  // connection's server has gone.
  QStringList& GetTableScript(const QString& TableName);
  QStringList& GetUsers();
  QStringList& GetGroups();
  QStringList& GetSystemDatatypes();
  QStringList& GetUserDatatypes();
  QStringList& GetSegments();
  // "table.index" for each index of the user and system tables.
  QStringList& GetIndexNames();
  // The columns of the index named "table.index", in key order.
  QStringList& GetIndexColumns(const QString& IndexName);

  // `text` padded on the right with `fill` up to `width` characters; a longer text unchanged.
  static QString PadRight(const QString& text, QChar fill, int width);

 private:
  // The common frame: checks DbName, clears ResultList, runs `sql` on a fresh query and collects
  // the first column of every row.
  QStringList& Collect(const QString& sql, bool traceAfterExecute = false);
  std::unique_ptr<TNorvQuery> MakeListQuery() const;
  QString IndexNamesSql() const;
  QString Rdbms() const;
  // DbName's connection says it is connected but its server has gone.
  bool ConnectionLost() const;

  QStringList resultList_;
  QString catalogPrefix_;
};
