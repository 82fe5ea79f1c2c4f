#include "controls/norvcombobox.h"

#include "query/norvquery.h"

TNorvComboBox::TNorvComboBox(QWidget* parent) : QComboBox(parent) {}

int TNorvComboBox::Execute() {
  if (!ConnectedDatabase()) return 0;
  Fire(BeforeExec, this);

  int chars = WidthInChars(this);
  Clear();
  // A value of the previous fill would name an item that is gone.
  currValue_.clear();
  BuildSqlIfBlank();
  rowsReturned_ = false;

  auto query = MakeQuery(this);
  const int result = query->Execute();
  bool anyRow = false;
  while (query->Next()) {
    anyRow = true;
    const QString value = query->FieldValue(1);
    addItem(value);
    currValue_ = value;
    Fire(OnItemAdd, this);
    if (AutoSize()) WidenTo(chars, value);
  }
  // Not the query's HadRows: the cursor's closing results reset it once the rows are read.
  rowsReturned_ = anyRow;
  if (AutoSize()) ApplyAutoWidth(this, chars);
  query.reset();
  Fire(AfterExec, this);
  return result;
}
