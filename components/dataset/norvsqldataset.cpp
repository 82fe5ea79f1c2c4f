#include "dataset/norvsqldataset.h"

#include "dataset/framework/datasource.h"
#include "dataset/norvdatalink.h"

void TNorvSqlDataSet::SetSql(const QString& value) {
  CheckInactive();
  StatementText() = value.split(QLatin1Char('\n'));
  // ":name" placeholders become the parameters; the server sees "?" markers.
  SetDynamicText(Params().ParseSQL(value, true));
}

void TNorvSqlDataSet::OpenInternal() {
  // A detail's first open reads its master's record too, not only the reopens after a move.
  if (TDataSource* master = DataSource()) AssignMasterParams(master->DataSet());
  AssignMasterParams(MasterLink().DataSet());
  // With parameters the statement runs prepared, so their values travel apart from the text.
  if (Params().Count() > 0) PrepareStatement();
  TNorvDataSet::OpenInternal();
}

void TNorvSqlDataSet::ExecStatement() {
  if (Params().Count() > 0) PrepareStatement();
  TNorvDataSet::ExecStatement();
  if (Prepared()) UnprepareStatement();
}
