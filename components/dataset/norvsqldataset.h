// The data set over a SELECT text of the program's own.
#pragma once

#include "dataset/norvdataset.h"

#include <QObject>
#include <QString>

class TNorvSqlDataSet : public TNorvDataSet {
  Q_OBJECT

 public:
  explicit TNorvSqlDataSet(QObject* owner = nullptr) : TNorvDataSet(owner) {}

  QString Sql() const { return StatementText().join(QLatin1Char('\n')); }
  // Only while closed: an open data set keeps reading its cursor.
  void SetSql(const QString& value);

  void ExecStatement() override;

 protected:
  void OpenInternal() override;

 private:
  using TNorvDataSet::StatementText;
};
