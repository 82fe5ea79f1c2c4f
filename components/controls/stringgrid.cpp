#include "controls/stringgrid.h"

#include <QApplication>
#include <QHeaderView>
#include <QPainter>
#include <QPalette>
#include <QStyledItemDelegate>
#include <QTimer>

#include <algorithm>
#include <cstring>

// ---- Model -------------------------------------------------------------------------------------

TStringGridModel::TStringGridModel(QObject* parent) : QAbstractTableModel(parent) {}

// A grid filled in the background changes many times a second; the views hear of it at most
// every kFlushInterval ms, so they lay out and paint a few dozen times a second, not per batch.
void TStringGridModel::ScheduleFlush() {
  if (flushScheduled_) return;
  flushScheduled_ = true;
  const qint64 since = lastFlush_.isValid() ? lastFlush_.elapsed() : kFlushInterval;
  const int delay = since >= kFlushInterval ? 0 : static_cast<int>(kFlushInterval - since);
  QTimer::singleShot(delay, this, [this] { Flush(); });
}

void TStringGridModel::MarkDirty(int row) {
  if (row < fixedRows_) {
    headerDirty_ = true;
  } else {
    const int body = row - fixedRows_;
    dirtyFirst_ = dirtyFirst_ < 0 ? body : std::min(dirtyFirst_, body);
    dirtyLast_ = std::max(dirtyLast_, body);
  }
  ScheduleFlush();
}

void TStringGridModel::SetColCount(int value) {
  value = std::max(0, value);
  if (value == colCount_) return;
  colCount_ = value;
  headerDirty_ = true;
  ScheduleFlush();
}

void TStringGridModel::SetRowCount(int value) {
  value = std::max(0, value);
  if (value == rowCount_) return;
  // Shrinking gives the memory back; cells written past the end before are dropped with it.
  if (value < rowCount_) DropRowsFrom(value);
  rowCount_ = value;
  if (value <= fixedRows_) headerDirty_ = true;
  ScheduleFlush();
}

void TStringGridModel::SetFixedRows(int value) {
  value = std::max(0, value);
  if (value == fixedRows_) return;
  fixedRows_ = value;
  // The body shifts: the views are told at once, as a reset.
  beginResetModel();
  reportedRows_ = std::max(0, rowCount_ - fixedRows_);
  reportedCols_ = colCount_;
  dirtyFirst_ = dirtyLast_ = -1;
  headerDirty_ = false;
  endResetModel();
}

void TStringGridModel::SetFixedCols(int value) {
  value = std::max(0, value);
  if (value == fixedCols_) return;
  fixedCols_ = value;
  dirtyFirst_ = 0;
  dirtyLast_ = std::max(dirtyLast_, rowCount_ - fixedRows_ - 1);
  ScheduleFlush();
}

// ---- Row records ----
//
// A record: a 32-bit header (cell count in the low 30 bits; bit 31: two bytes a character; bit
// 30: 32-bit cell ends), the end of each cell in characters (16 or 32 bits), then the text.

namespace {
constexpr std::uint32_t kWide = 1u << 31;
constexpr std::uint32_t kLongEnds = 1u << 30;
constexpr std::uint32_t kCountMask = kLongEnds - 1;

template <typename T>
T Load(const char* at) {
  T v;
  std::memcpy(&v, at, sizeof v);
  return v;
}
}  // namespace

size_t TStringGridModel::RecordSize(const RowRef& ref) const {
  return ref.block == kNoBlock ? 0 : RecordSizeAt(blocks_[ref.block].data.get() + ref.offset);
}

size_t TStringGridModel::RecordSizeAt(const char* at) {
  const auto header = Load<std::uint32_t>(at);
  const size_t n = header & kCountMask;
  const size_t endSize = (header & kLongEnds) ? 4 : 2;
  const size_t chars = n == 0                 ? 0
                       : (header & kLongEnds) ? Load<std::uint32_t>(at + 4 + (n - 1) * 4)
                                              : Load<std::uint16_t>(at + 4 + (n - 1) * 2);
  return 4 + n * endSize + chars * ((header & kWide) ? 2 : 1);
}

QString TStringGridModel::DecodeCell(const RowRef& ref, int col) const {
  if (ref.block == kNoBlock || col < 0) return QString();
  const char* at = blocks_[ref.block].data.get() + ref.offset;
  const auto header = Load<std::uint32_t>(at);
  const size_t n = header & kCountMask;
  if (static_cast<size_t>(col) >= n) return QString();
  const bool longEnds = header & kLongEnds;
  auto end = [&](size_t c) -> size_t {
    return longEnds ? Load<std::uint32_t>(at + 4 + c * 4) : Load<std::uint16_t>(at + 4 + c * 2);
  };
  const size_t begin = col == 0 ? 0 : end(static_cast<size_t>(col) - 1);
  const size_t stop = end(static_cast<size_t>(col));
  const char* text = at + 4 + n * (longEnds ? 4 : 2);
  if (header & kWide) {
    QString out(static_cast<qsizetype>(stop - begin), Qt::Uninitialized);
    std::memcpy(out.data(), text + begin * 2, (stop - begin) * 2);
    return out;
  }
  return QString::fromLatin1(text + begin, static_cast<qsizetype>(stop - begin));
}

std::vector<QString> TStringGridModel::Decode(const RowRef& ref) const {
  std::vector<QString> cells;
  if (ref.block == kNoBlock) return cells;
  const size_t n = Load<std::uint32_t>(blocks_[ref.block].data.get() + ref.offset) & kCountMask;
  cells.reserve(n);
  for (size_t c = 0; c < n; ++c) cells.push_back(DecodeCell(ref, static_cast<int>(c)));
  return cells;
}

TStringGridModel::RowRef TStringGridModel::Encode(QStringView all,
                                                  const std::vector<std::uint32_t>& cellEnds) {
  size_t n = cellEnds.size();
  auto endOf = [&](size_t c) -> size_t { return c == 0 ? 0 : cellEnds[c - 1]; };
  while (n > 0 && cellEnds[n - 1] == endOf(n - 1)) --n;  // trailing empty cells read as empty
  if (n == 0) return {};
  const size_t chars = cellEnds[n - 1];
  const auto* src = reinterpret_cast<const char16_t*>(all.data());
  char16_t any = 0;  // all characters ORed: above 0xFF means some are not Latin-1
  for (size_t i = 0; i < chars; ++i) any |= src[i];
  const bool wide = any > 0xFF;
  const bool longEnds = chars > 0xFFFF;
  const size_t size = 4 + n * (longEnds ? 4 : 2) + chars * (wide ? 2 : 1);
  if (blocks_.empty() || blocks_.back().size - blocks_.back().used < size) {
    Block block;
    block.size = std::max(size, kBlockSize);
    block.data = std::make_unique<char[]>(block.size);
    blocks_.push_back(std::move(block));
  }
  Block& block = blocks_.back();
  RowRef ref{static_cast<std::uint32_t>(blocks_.size() - 1),
             static_cast<std::uint32_t>(block.used)};
  char* at = block.data.get() + block.used;
  const std::uint32_t header =
      static_cast<std::uint32_t>(n) | (wide ? kWide : 0) | (longEnds ? kLongEnds : 0);
  std::memcpy(at, &header, 4);
  char* ends = at + 4;
  for (size_t c = 0; c < n; ++c) {
    if (longEnds) {
      std::memcpy(ends + c * 4, &cellEnds[c], 4);
    } else {
      const auto e = static_cast<std::uint16_t>(cellEnds[c]);
      std::memcpy(ends + c * 2, &e, 2);
    }
  }
  char* text = ends + n * (longEnds ? 4 : 2);
  if (wide) {
    std::memcpy(text, src, chars * 2);
  } else {
    for (size_t i = 0; i < chars; ++i) text[i] = static_cast<char>(src[i]);
  }
  block.used += size;
  return ref;
}

void TStringGridModel::CloseOpenRow() {
  if (openRow_ < 0) return;
  const auto row = static_cast<size_t>(openRow_);
  openRow_ = -1;
  if (row < refs_.size()) refs_[row] = Encode(openText_, openEnds_);
  openText_.resize(0);
  openEnds_.clear();
  // Garbage stays under a quarter of what is held; each compaction follows as much new garbage.
  if (garbage_ > kBlockSize && garbage_ * 4 > MemoryBytes()) Compact();
}

void TStringGridModel::OpenRow(int row) {
  if (row == openRow_) return;
  CloseOpenRow();
  const auto r = static_cast<size_t>(row);
  if (r >= refs_.size()) refs_.resize(r + 1);
  for (const QString& cell : Decode(refs_[r])) {  // nothing for a new row
    openText_ += cell;
    openEnds_.push_back(static_cast<std::uint32_t>(openText_.size()));
  }
  garbage_ += RecordSize(refs_[r]);
  refs_[r] = RowRef{};
  openRow_ = row;
}

void TStringGridModel::DropRowsFrom(int row) {
  row = std::max(0, row);
  if (openRow_ >= row) {
    openRow_ = -1;
    openText_.resize(0);
    openEnds_.clear();
  }
  if (static_cast<size_t>(row) >= refs_.size()) return;
  if (row == 0) {
    refs_.clear();
    refs_.shrink_to_fit();
    blocks_.clear();
    garbage_ = 0;
    return;
  }
  for (size_t r = static_cast<size_t>(row); r < refs_.size(); ++r) garbage_ += RecordSize(refs_[r]);
  refs_.resize(static_cast<size_t>(row));
}

// Writes every live record into fresh blocks, leaving the garbage behind.
void TStringGridModel::Compact() {
  std::vector<Block> old;
  old.swap(blocks_);
  garbage_ = 0;
  for (RowRef& ref : refs_) {
    if (ref.block == kNoBlock) continue;
    const char* at = old[ref.block].data.get() + ref.offset;
    const size_t size = RecordSizeAt(at);
    if (blocks_.empty() || blocks_.back().size - blocks_.back().used < size) {
      Block block;
      block.size = std::max(size, kBlockSize);
      block.data = std::make_unique<char[]>(block.size);
      blocks_.push_back(std::move(block));
    }
    Block& to = blocks_.back();
    std::memcpy(to.data.get() + to.used, at, size);
    ref =
        RowRef{static_cast<std::uint32_t>(blocks_.size() - 1), static_cast<std::uint32_t>(to.used)};
    to.used += size;
  }
}

size_t TStringGridModel::MemoryBytes() const {
  size_t bytes = refs_.capacity() * sizeof(RowRef) + blocks_.capacity() * sizeof(Block);
  for (const Block& block : blocks_) bytes += block.size;
  bytes += static_cast<size_t>(openText_.capacity()) * 2 + openEnds_.capacity() * 4;
  return bytes;
}

size_t TStringGridModel::TextBytes() const {
  size_t bytes = static_cast<size_t>(openText_.toUtf8().size());
  for (size_t r = 0; r < refs_.size(); ++r)
    for (const QString& cell : Decode(refs_[r])) bytes += static_cast<size_t>(cell.toUtf8().size());
  return bytes;
}

QString TStringGridModel::Cell(int col, int row) const {
  if (row < 0 || col < 0) return QString();
  if (row == openRow_) {
    if (static_cast<size_t>(col) >= openEnds_.size()) return QString();
    const std::uint32_t begin = col == 0 ? 0 : openEnds_[static_cast<size_t>(col) - 1];
    return openText_.mid(begin, openEnds_[static_cast<size_t>(col)] - begin);
  }
  if (row >= static_cast<int>(refs_.size())) return QString();
  return DecodeCell(refs_[static_cast<size_t>(row)], col);
}

void TStringGridModel::SetCell(int col, int row, QStringView text) {
  if (row < 0 || col < 0 || row > kMaxIndex || col > kMaxIndex) return;
  if (row != openRow_) {
    if (text.isEmpty() && Cell(col, row).isEmpty()) return;
    OpenRow(row);
  }
  const auto c = static_cast<size_t>(col);
  if (c >= openEnds_.size()) {
    if (text.isEmpty()) return;
    openEnds_.resize(c + 1, static_cast<std::uint32_t>(openText_.size()));
  }
  const std::uint32_t begin = c == 0 ? 0 : openEnds_[c - 1];
  const std::uint32_t oldLength = openEnds_[c] - begin;
  if (begin == openText_.size())
    openText_.append(text);  // the usual case: the row is written left to right
  else
    openText_.replace(begin, oldLength, text.data(), text.size());
  const auto delta = static_cast<std::int64_t>(text.size()) - oldLength;
  for (size_t i = c; i < openEnds_.size(); ++i)
    openEnds_[i] = static_cast<std::uint32_t>(openEnds_[i] + delta);
  if (row < rowCount_ && col < colCount_) MarkDirty(row);
}

void TStringGridModel::ClearRows(int from) {
  from = std::max(0, from);
  if (from >= static_cast<int>(refs_.size()) && openRow_ < from) return;
  DropRowsFrom(from);
  if (from < rowCount_) {
    MarkDirty(from);
    MarkDirty(rowCount_ - 1);
  }
}

void TStringGridModel::Flush() {
  flushScheduled_ = false;
  lastFlush_.start();
  if (colCount_ > reportedCols_) {
    beginInsertColumns(QModelIndex(), reportedCols_, colCount_ - 1);
    reportedCols_ = colCount_;
    endInsertColumns();
  } else if (colCount_ < reportedCols_) {
    beginRemoveColumns(QModelIndex(), colCount_, reportedCols_ - 1);
    reportedCols_ = colCount_;
    endRemoveColumns();
  }
  const int body = std::max(0, rowCount_ - fixedRows_);
  if (body > reportedRows_) {
    beginInsertRows(QModelIndex(), reportedRows_, body - 1);
    reportedRows_ = body;
    endInsertRows();
  } else if (body < reportedRows_) {
    beginRemoveRows(QModelIndex(), body, reportedRows_ - 1);
    reportedRows_ = body;
    endRemoveRows();
  }
  const int last = std::min(dirtyLast_, reportedRows_ - 1);
  if (dirtyFirst_ >= 0 && dirtyFirst_ <= last && reportedCols_ > 0)
    emit dataChanged(index(dirtyFirst_, 0), index(last, reportedCols_ - 1), {Qt::DisplayRole});
  dirtyFirst_ = dirtyLast_ = -1;
  if (headerDirty_ && reportedCols_ > 0)
    emit headerDataChanged(Qt::Horizontal, 0, reportedCols_ - 1);
  headerDirty_ = false;
}

int TStringGridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : reportedRows_;
}

int TStringGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : reportedCols_;
}

QVariant TStringGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return QVariant();
  const int row = index.row() + fixedRows_;
  if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
    QString text = Cell(index.column(), row);
    if (role == Qt::ToolTipRole && text.trimmed().isEmpty()) return QVariant();
    return text;
  }
  if (role == Qt::BackgroundRole && index.column() < fixedCols_)
    return QApplication::palette().brush(QPalette::Button);
  return QVariant();
}

QVariant TStringGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return QVariant();
  if (orientation == Qt::Vertical) return section + fixedRows_;
  // Several fixed rows stack as lines of the one header.
  QStringList lines;
  for (int row = 0; row < fixedRows_; ++row) lines << Cell(section, row);
  return lines.join(QLatin1Char('\n'));
}

Qt::ItemFlags TStringGridModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  if (index.column() < fixedCols_) return Qt::ItemIsEnabled;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

// ---- View --------------------------------------------------------------------------------------

namespace {

constexpr int kTextMargin = 3;

bool Blank(const QModelIndex& index) { return index.data().toString().trimmed().isEmpty(); }

// Text wider than its cell runs on over the empty cells to its right, as on a listing: a count
// line under a narrow column stays readable. Text next to a filled cell is clipped, never elided.
// The delegate draws the grid lines itself so that no line crosses text running on.
class OverflowDelegate : public QStyledItemDelegate {
 public:
  explicit OverflowDelegate(TStringGrid* grid) : QStyledItemDelegate(grid), grid_(grid) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    const QString text = opt.text;
    opt.text.clear();
    // Background, selection and focus as usual; the base class would fetch the text again.
    QStyle* style = opt.widget ? opt.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);

    if (!text.isEmpty()) {
      QRect area = opt.rect;
      const int needed = TextWidth(opt, text);
      const QAbstractItemModel* model = index.model();
      for (int col = index.column() + 1; area.width() < needed && col < model->columnCount() &&
                                         Blank(model->index(index.row(), col));
           ++col)
        area.setRight(area.right() + grid_->columnWidth(col));
      painter->save();
      painter->setClipRect(area);
      painter->setFont(opt.font);
      painter->setPen(opt.palette.color(
          opt.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text));
      painter->drawText(area.adjusted(kTextMargin, 0, -kTextMargin, 0),
                        Qt::AlignLeft | Qt::AlignVCenter, text);
      painter->restore();
    }
    DrawLines(painter, opt, index);
  }

 private:
  static int TextWidth(const QStyleOptionViewItem& opt, const QString& text) {
    return opt.fontMetrics.horizontalAdvance(text) + 2 * kTextMargin;
  }

  // True when text from this cell or one to its left runs on into the next cell.
  bool RunsOn(const QStyleOptionViewItem& opt, const QModelIndex& index) const {
    const QAbstractItemModel* model = index.model();
    const int row = index.row();
    if (index.column() + 1 >= model->columnCount() || !Blank(model->index(row, index.column() + 1)))
      return false;
    int source = index.column();
    while (source >= 0 && Blank(model->index(row, source))) --source;
    if (source < 0) return false;
    const int start = grid_->columnViewportPosition(source);
    const QString text = model->index(row, source).data().toString();
    return start + TextWidth(opt, text) > opt.rect.right() + 1;
  }

  void DrawLines(QPainter* painter, const QStyleOptionViewItem& opt,
                 const QModelIndex& index) const {
    const TGridOptions options = grid_->Options();
    const bool fixed = index.column() < grid_->FixedCols();
    const bool vertical = options.Contains(fixed ? goFixedVertLine : goVertLine);
    const bool horizontal = options.Contains(fixed ? goFixedHorzLine : goHorzLine);
    if (!vertical && !horizontal) return;
    const int style = grid_->style()->styleHint(QStyle::SH_Table_GridLineColor, &opt, grid_);
    painter->save();
    painter->setPen(QColor::fromRgba(static_cast<QRgb>(style)));
    const QRect r = opt.rect;
    if (horizontal) painter->drawLine(r.bottomLeft(), r.bottomRight());
    if (vertical && !RunsOn(opt, index)) painter->drawLine(r.topRight(), r.bottomRight());
    painter->restore();
  }

  TStringGrid* grid_;
};

}  // namespace

TStringGrid::TStringGrid(QWidget* parent) : QTableView(parent), model_(new TStringGridModel(this)) {
  setModel(model_);
  setItemDelegate(new OverflowDelegate(this));
  verticalHeader()->hide();
  // Uniform rows let the view place any of a million rows without measuring them.
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setMinimumSectionSize(1);
  verticalHeader()->setDefaultSectionSize(defaultRowHeight_);
  horizontalHeader()->setMinimumSectionSize(1);
  horizontalHeader()->setDefaultSectionSize(defaultColWidth_);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  horizontalHeader()->setVisible(false);
  setWordWrap(false);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);

  // New columns take the width the grid holds for them; a user's resizing is kept as the width.
  connect(model_, &QAbstractItemModel::columnsInserted, this, [this] { ApplyWidths(); });
  connect(model_, &QAbstractItemModel::modelReset, this, [this] { ApplyWidths(); });
  connect(horizontalHeader(), &QHeaderView::sectionResized, this,
          [this](int section, int, int size) {
            if (applyingWidths_) return;
            if (section >= static_cast<int>(widths_.size()))
              widths_.resize(static_cast<size_t>(section) + 1, defaultColWidth_);
            widths_[static_cast<size_t>(section)] = size;
          });
  SetFixedRows(1);
  SetFixedCols(1);
  SetColCount(5);
  SetRowCount(5);
  SetOptions({goFixedVertLine, goFixedHorzLine, goVertLine, goHorzLine, goRangeSelect});
  model_->Flush();
}

void TStringGrid::SetColCount(int value) {
  model_->SetColCount(value);
  if (value > 0 && static_cast<int>(widths_.size()) > value) widths_.resize(value);
}

void TStringGrid::SetFixedRows(int value) {
  model_->SetFixedRows(value);
  horizontalHeader()->setVisible(model_->FixedRows() > 0);
  ApplyWidths();
}

int TStringGrid::ColWidths(int col) const {
  if (col < 0) return 0;
  return col < static_cast<int>(widths_.size()) ? widths_[static_cast<size_t>(col)]
                                                : defaultColWidth_;
}

void TStringGrid::SetColWidths(int col, int width) {
  if (col < 0 || col >= ColCount()) return;
  // A listing sets the same widths row after row: nothing to do then.
  if (col < static_cast<int>(widths_.size()) &&
      widths_[static_cast<size_t>(col)] == std::max(0, width) &&
      (col >= model_->columnCount() || columnWidth(col) == widths_[static_cast<size_t>(col)]))
    return;
  if (col >= static_cast<int>(widths_.size()))
    widths_.resize(static_cast<size_t>(col) + 1, defaultColWidth_);
  widths_[static_cast<size_t>(col)] = std::max(0, width);
  if (col < model_->columnCount()) {
    applyingWidths_ = true;
    setColumnWidth(col, widths_[static_cast<size_t>(col)]);
    applyingWidths_ = false;
  }
}

void TStringGrid::SetDefaultColWidth(int value) {
  defaultColWidth_ = std::max(0, value);
  horizontalHeader()->setDefaultSectionSize(defaultColWidth_);
  ApplyWidths();
}

void TStringGrid::SetDefaultRowHeight(int value) {
  defaultRowHeight_ = std::max(1, value);
  verticalHeader()->setDefaultSectionSize(defaultRowHeight_);
  horizontalHeader()->setMinimumHeight(defaultRowHeight_);
}

void TStringGrid::ApplyWidths() {
  applyingWidths_ = true;
  for (int col = 0; col < model_->columnCount(); ++col) setColumnWidth(col, ColWidths(col));
  applyingWidths_ = false;
}

void TStringGrid::SetOptions(TGridOptions value) {
  options_ = value;
  setShowGrid(false);  // the delegate draws the lines
  viewport()->update();
  setSelectionMode(value.Contains(goRangeSelect) ? QAbstractItemView::ContiguousSelection
                                                 : QAbstractItemView::SingleSelection);
  horizontalHeader()->setSectionResizeMode(value.Contains(goColSizing) ? QHeaderView::Interactive
                                                                       : QHeaderView::Fixed);
  verticalHeader()->setSectionResizeMode(value.Contains(goRowSizing) ? QHeaderView::Interactive
                                                                     : QHeaderView::Fixed);
  setTabKeyNavigation(value.Contains(goTabs));
}

void TStringGrid::Repaint() {
  model_->Flush();
  ApplyWidths();
  viewport()->repaint();
  horizontalHeader()->viewport()->repaint();
}
