// A table model over a data source: one row per record, one column per visible field.
//
// The model hears the data set through a data link holding a window of FetchBatch records (as
// many as a view shows at once, plus a margin), wherever the data set's active record has put
// it; the model keeps the absolute row of the window's first record. A cell inside the window
// is read by making its row the link's active record for the moment of the read (no events, no
// cursor move). A cell outside is read from a block of row texts the model took on a visit
// (TDataSet::Visit): the data set goes to that row (RecNo), the block is read, and the data set
// is put back as it was, its users hearing nothing. A visit reads only what the data set has
// cached or would fetch anyway, and is not made while a record is being edited or inserted
// (leaving it would post): such cells show empty until the record is posted or cancelled. So
// the data set's buffers stay about a screenful however many rows the view has.
//
// Rows arrive as the view scrolls: canFetchMore holds until the model has seen the end of the
// data, fetchMore steps FetchBatch records past the last row shown (on a visit) and shows
// the rows that exist. The data set's RecordCount is not taken as the row count (a server data
// set reports a provisional count right after opening); once the end is known it only tells
// how many records a post or delete added or removed. Before the end is known, a delete leaves
// the row count as it was and an insert does not add one: the next fetchMore sets it right. A
// data set without RecNo shows its window alone.
//
// NULL reads "NULL" in grey italics (display, font and foreground roles) and an empty edit
// value; an empty string reads as an empty text in the normal font. Editing a cell moves the
// data set to its row, puts it in edit state (through the source's AutoEdit) and writes the
// field's Text; submit() posts, as leaving the row or pressing Enter in the grid does.
#pragma once

#include "dataset/framework/datasource.h"

#include <QAbstractTableModel>
#include <QPointer>

#include <exception>
#include <functional>
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
  // Rows added per fetchMore; also the records the data set keeps in its window for the model.
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
  int Locate();
  void FindTop();
  void SyncRowCount(int count);
  void RecordChanged();
  void StateChanged();
  bool Editable() const;
  bool InWindow(int row) const;
  bool CanVisit() const;

  // One cell of a row read on a visit.
  struct Cell {
    bool isNull = true;
    bool failed = false;
    QString display, edit;
  };
  static Cell ReadCell(TField* field);
  std::exception_ptr Elsewhere(const std::function<void()>& visit) const;
  void TakeBlock(int row) const;

  std::unique_ptr<Link> link_;
  std::vector<QPointer<TField>> columns_;
  int rows_ = 0;
  int known_ = 0;        // rows of stored records known to exist
  mutable int top_ = 0;  // the row of the link's first record
  mutable bool hasRecNo_ = true;
  bool atEnd_ = false;  // known_ reaches the data's last record
  int lastCount_ = 0;   // the data set's RecordCount when last looked at
  bool inserting_ = false;
  int fetchBatch_ = 50;
  mutable int blockTop_ = 0;  // the row of block_'s first row
  mutable std::vector<std::vector<Cell>> block_;
};
