#include "dataset/norvsqldataset.h"

void TNorvSqlDataSet::SetSql(const QString& value) {
  CheckInactive();
  StatementText() = value.split(QLatin1Char('\n'));
  // ":name" placeholders become the parameters; the server sees "?" markers.
  SetDynamicText(Params().ParseSQL(value, true));
}

void TNorvSqlDataSet::OpenInternal() {
  // With parameters the statement runs prepared, so their values travel apart from the text.
  if (Params().Count() > 0) PrepareStatement();
  TNorvDataSet::OpenInternal();
}

void TNorvSqlDataSet::ExecStatement() {
  if (Params().Count() > 0) PrepareStatement();
  TNorvDataSet::ExecStatement();
  if (Prepared()) UnprepareStatement();
}
