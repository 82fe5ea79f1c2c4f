#include "controls/norvchklistbox.h"

#include "query/norvquery.h"

namespace {

// Char columns come back padded with blanks, so "U " must match a CheckValue of "U".
QString WithoutTrailingBlanks(const QString& value) {
  qsizetype end = value.size();
  while (end > 0 && value.at(end - 1) == u' ') --end;
  return value.left(end);
}

// The column whose name is `name` (any case), or 0.
int ColumnNamed(const TNorvQuery& query, const QString& name) {
  for (int c = 1; c <= query.ColumnCount(); ++c)
    if (query.FieldName(c).compare(name, Qt::CaseInsensitive) == 0) return c;
  return 0;
}

}  // namespace

TNorvChkListBox::TNorvChkListBox(QWidget* parent) : TNorvExtentList(parent) {}

bool TNorvChkListBox::Checked(int row) const {
  const QListWidgetItem* it = item(row);
  return it && it->checkState() == Qt::Checked;
}

void TNorvChkListBox::SetChecked(int row, bool value) {
  if (QListWidgetItem* it = item(row)) it->setCheckState(value ? Qt::Checked : Qt::Unchecked);
}

int TNorvChkListBox::Execute() {
  if (!ConnectedDatabase()) return 0;
  Fire(BeforeExec, this);

  int chars = WidthInChars(this);
  Clear();
  // Only a statement built here is known to carry the check column second; a given one is
  // searched by column name.
  const bool built = Sql().trimmed().isEmpty();
  BuildSqlIfBlank(checkFieldName_);

  auto query = MakeQuery(this);
  int result = 0;
  {
    const ExtentOnExit extent(this);
    result = query->Execute();
    int checkColumn = 0;
    if (!checkFieldName_.isEmpty()) checkColumn = built ? 2 : ColumnNamed(*query, checkFieldName_);
    const QString wanted = WithoutTrailingBlanks(checkValue_);

    while (query->Next()) {
      const QString text = query->FieldValue(1);
      Measure(text);
      auto* it = new QListWidgetItem(text);
      it->setFlags(it->flags() | Qt::ItemIsUserCheckable);
      const bool check =
          checkColumn > 0 && WithoutTrailingBlanks(query->FieldValue(checkColumn)) == wanted;
      it->setCheckState(check ? Qt::Checked : Qt::Unchecked);
      addItem(it);
      Fire(OnItemAdd, this);
      if (AutoSize()) WidenTo(chars, text);
    }
    if (AutoSize()) ApplyAutoWidth(this, chars);
    query.reset();
  }
  Fire(AfterExec, this);
  return result;
}
