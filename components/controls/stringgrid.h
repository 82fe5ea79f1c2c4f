// A string grid (read-only): a table of text cells addressed as (column, row), with fixed rows
// shown as the column header and fixed columns shaded like it, column widths in pixels, and row and
// column counts that callers set directly.
//
// Cells live in a compact model (one packed record per row in large blocks, no object per cell),
// so a grid holds hundreds of thousands of rows in little more than their texts' bytes. Growing the
// grid row by row does not notify the view each time: changes are gathered and reported in one step
// when control returns to the event loop, or at once by Repaint().
#pragma once

#include "connection/norvtypes.h"

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QString>
#include <QTableView>

#include <cstdint>
#include <memory>
#include <vector>

enum TGridOption {
  goFixedVertLine,
  goFixedHorzLine,
  goVertLine,
  goHorzLine,
  goRangeSelect,
  goDrawFocusSelected,
  goRowSizing,
  goColSizing,
  goTabs,
  goThumbTracking,
};
using TGridOptions = TSet<TGridOption>;

class TStringGridModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit TStringGridModel(QObject* parent = nullptr);

  int ColCount() const { return colCount_; }
  void SetColCount(int value);
  int RowCount() const { return rowCount_; }
  void SetRowCount(int value);
  int FixedRows() const { return fixedRows_; }
  void SetFixedRows(int value);
  int FixedCols() const { return fixedCols_; }
  void SetFixedCols(int value);

  // Cells past the last row or column are kept, and show once the grid grows over them; a cell
  // never written reads as empty text.
  QString Cell(int col, int row) const;
  void SetCell(int col, int row, QStringView text);
  // Empties every cell of rows `from` onwards (also those past the end), keeping the row count.
  void ClearRows(int from);

  // Reports every change gathered since the last call to the views.
  void Flush();

  // QAbstractTableModel: the rows below the fixed rows; the fixed rows are the header.
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // What the cells hold: the bytes kept for them, and the bytes of their texts in UTF-8.
  size_t MemoryBytes() const;
  size_t TextBytes() const;

 private:
  // Rows live as records in large blocks, one record a row: the cell count, where each cell ends,
  // then the texts, one byte a character when every one is Latin-1, else two. The row being
  // written is held apart as cells until another row is touched: a listing writes row after row,
  // so each record is written once. A rewritten row's old record is garbage until compaction.
  struct RowRef {
    std::uint32_t block = kNoBlock;
    std::uint32_t offset = 0;
  };
  struct Block {
    std::unique_ptr<char[]> data;
    size_t size = 0;
    size_t used = 0;
  };
  static constexpr std::uint32_t kNoBlock = 0xFFFFFFFFu;
  static constexpr size_t kBlockSize = 256 * 1024;

  std::vector<QString> Decode(const RowRef& ref) const;
  QString DecodeCell(const RowRef& ref, int col) const;
  size_t RecordSize(const RowRef& ref) const;
  static size_t RecordSizeAt(const char* record);
  RowRef Encode(QStringView text, const std::vector<std::uint32_t>& ends);
  void CloseOpenRow();
  void OpenRow(int row);
  void DropRowsFrom(int row);
  void Compact();
  void ScheduleFlush();
  void MarkDirty(int row);

  // Far beyond any real grid; keeps a stray index from allocating gigabytes.
  static constexpr int kMaxIndex = 1 << 26;

  std::vector<RowRef> refs_;  // may hold fewer or more rows than rowCount_
  std::vector<Block> blocks_;
  size_t garbage_ = 0;  // bytes of records no row refers to any more
  int openRow_ = -1;
  // The open row: its cells' texts back to back and where each ends; kept from row to row.
  QString openText_;
  std::vector<std::uint32_t> openEnds_;

  int rowCount_ = 0;
  int colCount_ = 0;
  int fixedRows_ = 0;
  int fixedCols_ = 0;
  // What the views were last told: the number of body rows and columns.
  int reportedRows_ = 0;
  int reportedCols_ = 0;
  int dirtyFirst_ = -1;  // body rows changed since the last report
  int dirtyLast_ = -1;
  bool headerDirty_ = false;
  bool flushScheduled_ = false;
  static constexpr qint64 kFlushInterval = 40;  // ms
  QElapsedTimer lastFlush_;
};

class TStringGrid : public QTableView {
  Q_OBJECT
 public:
  explicit TStringGrid(QWidget* parent = nullptr);

  QString Cells(int col, int row) const { return model_->Cell(col, row); }
  void SetCells(int col, int row, const QString& text) { model_->SetCell(col, row, text); }

  int ColCount() const { return model_->ColCount(); }
  void SetColCount(int value);
  int RowCount() const { return model_->RowCount(); }
  void SetRowCount(int value) { model_->SetRowCount(value); }
  int FixedRows() const { return model_->FixedRows(); }
  void SetFixedRows(int value);
  int FixedCols() const { return model_->FixedCols(); }
  void SetFixedCols(int value) { model_->SetFixedCols(value); }

  // Width of a column in pixels; columns never given a width have DefaultColWidth.
  int ColWidths(int col) const;
  void SetColWidths(int col, int width);
  int DefaultColWidth() const { return defaultColWidth_; }
  void SetDefaultColWidth(int value);
  int DefaultRowHeight() const { return defaultRowHeight_; }
  void SetDefaultRowHeight(int value);

  TGridOptions Options() const { return options_; }
  void SetOptions(TGridOptions value);

  // Reports gathered changes and paints now, without waiting for the event loop.
  void Repaint();

  TStringGridModel* GridModel() const { return model_; }

 private:
  void ApplyWidths();

  TStringGridModel* model_;
  std::vector<int> widths_;
  int defaultColWidth_ = 64;
  int defaultRowHeight_ = 24;
  TGridOptions options_;
  bool applyingWidths_ = false;
};
