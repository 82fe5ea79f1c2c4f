// A table model over a data source: one row per record, one column per visible field.
//
// The model hears the data set through a data link whose window it widens to every row it
// shows, so the window always runs from the first record to the last row fetched. Reading a
// cell makes that row the link's active record for the moment of the read (the framework's way
// for a grid to paint: no events, no cursor move), so the data set's own record and its users'
// scroll events are untouched while the view paints. Bookmark or record-number jumps would fire
// BeforeScroll/AfterScroll and post pending edits on every paint, which is why they are not used.
//
// Rows arrive as the view scrolls: canFetchMore holds while the window is full (there may be
// more records), fetchMore widens it by FetchBatch rows and the data set reads what exists. The
// data set's RecordCount is never asked: a server data set reports a provisional count right
// after opening. When the data set itself moves past the rows shown (Last, Next beyond the
// window, a bookmark jump), the window is re-anchored on the first record with the same record
// active; the scroll events of that re-anchoring are held back, the user's record being the
// same. That needs the data set's RecNo; without one the model shows the window as it is. A
// record appended while not every row has been fetched has no known row until it is posted, so
// until then the rows show the data set's window (the last records and the new one). The window
// holds one record buffer per row shown, which is what keeps painting free of cursor moves.
//
// NULL reads "NULL" in grey italics (display, font and foreground roles) and an empty edit
// value; an empty string reads as an empty text in the normal font. Editing a cell moves the
// data set to its row, puts it in edit state (through the source's AutoEdit) and writes the
// field's Text; submit() posts, as leaving the row or pressing Enter in the grid does.
#pragma once

#include "dataset/framework/datasource.h"

#include <QAbstractTableModel>
#include <QPointer>

#include <memory>
#include <vector>

// Shows the exception being handled through the presentation seam, as the application object
// would; for a widget that must carry on after a data-set operation failed.
void ShowDataSetError() noexcept;

class TDataSetModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit TDataSetModel(QObject* parent = nullptr);
  ~TDataSetModel() override;

  TDataSource* DataSource() const;
  void SetDataSource(TDataSource* source);
  // Rows read per fetchMore (and right after opening).
  int FetchBatch() const { return fetchBatch_; }
  void SetFetchBatch(int value);
  // The field shown in `column`; null outside.
  TField* FieldAt(int column) const;
  // The row of the data set's active record; -1 when closed or empty.
  int ActiveRow() const;
  // Makes `row` the data set's active record (a pending edit is posted or cancelled first, as
  // leaving a record does).
  void MoveToRow(int row);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;
  // Posts an edit or insert in progress; false (the error shown) when the post fails.
  bool submit() override;
  // Cancels an edit or insert in progress.
  void revert() override;

 signals:
  // The data set's active record is now at `row` (-1: none).
  void ActiveRowChanged(int row);

 private:
  class Link;
  friend class Link;
  std::vector<TField*> VisibleFields() const;
  bool ColumnsCurrent() const;
  void Rebuild();
  void WindowChanged();
  void Reanchor();
  void SyncRowCount();
  void RecordChanged();
  bool Editable() const;

  std::unique_ptr<Link> link_;
  std::vector<QPointer<TField>> columns_;
  int rows_ = 0;
  int fetchBatch_ = 50;
  bool reanchoring_ = false;
};
