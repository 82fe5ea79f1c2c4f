// A combo box that fills its items from the first column of a query.
#pragma once

#include "controls/listfill.h"

#include <QComboBox>
#include <QString>

class TNorvComboBox : public QComboBox, public TNorvListSource {
  Q_OBJECT
 public:
  explicit TNorvComboBox(QWidget* parent = nullptr);

  QString Name() const { return objectName(); }
  void SetName(const QString& name) { setObjectName(name); }

  // Whether the last fill returned any row; False while a fill runs.
  bool RowsReturned() const { return rowsReturned_; }
  void SetRowsReturned(bool value) { rowsReturned_ = value; }
  // The first-column value of the last row of the last fill.
  QString CurrValue() const { return currValue_; }
  // What the combo shows.
  QString Value() const { return currentText(); }

  // Removes the items.
  void Clear() { clear(); }

  // Fills the items; returns the query's Execute, or 0 (leaving everything as it was) when the
  // connection is not connected. Raises on a blank or unknown DbName and on server errors the
  // query raises; the items added before such an error stay.
  int Execute();

 private:
  bool rowsReturned_ = false;
  QString currValue_;
};
