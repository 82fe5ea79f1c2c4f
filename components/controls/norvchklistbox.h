// A check list box that fills its items from the first column of a query and checks the items
// whose check column holds CheckValue.
//
// The check column: when Sql is blank the fill selects it right after FieldName
// ("SELECT FieldName, CheckFieldName FROM TableName"); when Sql is given it is the result column
// named CheckFieldName, compared case-insensitively. Values are compared exactly except for
// trailing blanks, which the server's char columns pad with. Without CheckFieldName, or when no
// result column carries that name, no item is checked.
#pragma once

#include "controls/listfill.h"

#include <QString>

class TNorvChkListBox : public TNorvExtentList, public TNorvListSource {
  Q_OBJECT
 public:
  explicit TNorvChkListBox(QWidget* parent = nullptr);

  QString Name() const { return objectName(); }
  void SetName(const QString& name) { setObjectName(name); }

  QString CheckFieldName() const { return checkFieldName_; }
  void SetCheckFieldName(const QString& value) { checkFieldName_ = NorvObjectname(value); }
  QString CheckValue() const { return checkValue_; }
  void SetCheckValue(const QString& value) { checkValue_ = value; }

  // Whether the item in `row` is checked; false outside the items.
  bool Checked(int row) const;
  void SetChecked(int row, bool value);

  // Fills the items; returns the query's Execute, or 0 (leaving everything as it was) when the
  // connection is not connected. Raises on a blank or unknown DbName and on server errors the
  // query raises; the items added before such an error stay.
  int Execute();

 private:
  QString checkFieldName_;
  QString checkValue_;
};
