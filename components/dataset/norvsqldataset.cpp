#include "dataset/norvsqldataset.h"

void TNorvSqlDataSet::SetSql(const QString& value) {
  CheckInactive();
  StatementText() = value.split(QLatin1Char('\n'));
}
