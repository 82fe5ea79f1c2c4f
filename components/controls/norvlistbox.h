// A list box that fills its items from a query: one item per row, the columns joined by tabs.
#pragma once

#include "controls/listfill.h"

#include <QString>

class TNorvListBox : public TNorvExtentList, public TNorvListSource {
  Q_OBJECT
 public:
  explicit TNorvListBox(QWidget* parent = nullptr);

  QString Name() const { return objectName(); }
  void SetName(const QString& name) { setObjectName(name); }

  // Setting it True fills the list when Sql is longer than one character.
  bool DesignActive() const { return designActive_; }
  void SetDesignActive(bool value);
  // Add a first item with the column names, tab-joined.
  bool ShowHeader() const { return showHeader_; }
  void SetShowHeader(bool value) { showHeader_ = value; }

  // Run-time state of the last fill: its last data item, and whether any row came.
  QString LastItem() const { return lastItem_; }
  bool RowsReturned() const { return rowsReturned_; }

  // Fills the items; returns the query's Execute, or 0 (leaving everything as it was) when the
  // connection is not connected. Raises on a blank or unknown DbName and on server errors the
  // query raises; the items added before such an error stay.
  int Execute();

 private:
  bool designActive_ = false;
  bool showHeader_ = false;
  QString lastItem_;
  bool rowsReturned_ = false;
};
