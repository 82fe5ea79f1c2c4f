#include "controls/norvlistbox.h"

#include "query/norvquery.h"

namespace {

// The row's columns (or, for the header, their names) joined by tabs.
template <typename Column>
QString JoinColumns(const TNorvQuery& query, Column column) {
  QString line = column(1);
  for (int c = 2; c <= query.ColumnCount(); ++c) line += QLatin1Char('\t') + column(c);
  return line;
}

}  // namespace

TNorvListBox::TNorvListBox(QWidget* parent) : TNorvExtentList(parent) {}

void TNorvListBox::SetDesignActive(bool value) {
  designActive_ = value;
  if (value && Sql().size() > 1) Execute();
}

int TNorvListBox::Execute() {
  if (!ConnectedDatabase()) return 0;
  Fire(BeforeExec, this);

  int chars = WidthInChars(this);
  Clear();
  rowsReturned_ = false;
  lastItem_.clear();
  BuildSqlIfBlank();

  auto query = MakeQuery(this);
  int result = 0;
  {
    const ExtentOnExit extent(this);

    result = query->Execute();
    if (showHeader_) {
      const QString header = JoinColumns(*query, [&](int c) { return query->FieldName(c); });
      Measure(header);
      addItem(header);
    }
    bool anyRow = false;
    while (query->Next()) {
      anyRow = true;
      const QString line = JoinColumns(*query, [&](int c) { return query->FieldValue(c); });
      Measure(line);
      addItem(line);
      lastItem_ = line;
      Fire(OnItemAdd, this);
      if (AutoSize()) WidenTo(chars, query->FieldValue(1));
    }
    // Not the query's HadRows: the cursor's closing results reset it once the rows are read.
    rowsReturned_ = anyRow;
    if (AutoSize()) ApplyAutoWidth(this, chars);
    query.reset();
  }
  Fire(AfterExec, this);
  return result;
}
