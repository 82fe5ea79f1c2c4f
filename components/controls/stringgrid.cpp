#include "controls/stringgrid.h"

#include <QApplication>
#include <QHeaderView>
#include <QPainter>
#include <QPalette>
#include <QStyledItemDelegate>
#include <QTimer>

#include <algorithm>

// ---- Model -------------------------------------------------------------------------------------

TStringGridModel::TStringGridModel(QObject* parent) : QAbstractTableModel(parent) {}

void TStringGridModel::ScheduleFlush() {
  if (flushScheduled_) return;
  flushScheduled_ = true;
  QTimer::singleShot(0, this, [this] { Flush(); });
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
  if (value < rowCount_ && static_cast<int>(rows_.size()) > value) rows_.resize(value);
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

QString TStringGridModel::Cell(int col, int row) const {
  if (row < 0 || row >= static_cast<int>(rows_.size()) || col < 0) return QString();
  const Row& r = rows_[static_cast<size_t>(row)];
  if (col >= static_cast<int>(r.ends.size())) return QString();
  const std::uint32_t begin = col == 0 ? 0 : r.ends[col - 1];
  return r.text.mid(begin, r.ends[col] - begin);
}

void TStringGridModel::SetCell(int col, int row, const QString& text) {
  if (row < 0 || col < 0 || row > kMaxIndex || col > kMaxIndex) return;
  if (row >= static_cast<int>(rows_.size())) {
    if (text.isEmpty()) return;
    rows_.resize(static_cast<size_t>(row) + 1);
  }
  Row& r = rows_[static_cast<size_t>(row)];
  if (col >= static_cast<int>(r.ends.size())) {
    if (text.isEmpty()) return;
    r.ends.resize(static_cast<size_t>(col) + 1, static_cast<std::uint32_t>(r.text.size()));
  }
  const std::uint32_t begin = col == 0 ? 0 : r.ends[col - 1];
  const std::uint32_t oldLength = r.ends[col] - begin;
  r.text.replace(begin, oldLength, text);
  const auto delta = static_cast<std::int64_t>(text.size()) - oldLength;
  for (size_t c = static_cast<size_t>(col); c < r.ends.size(); ++c)
    r.ends[c] = static_cast<std::uint32_t>(r.ends[c] + delta);
  if (row < rowCount_ && col < colCount_) MarkDirty(row);
}

void TStringGridModel::ClearRows(int from) {
  from = std::max(0, from);
  if (from >= static_cast<int>(rows_.size())) return;
  rows_.resize(static_cast<size_t>(from));
  if (from < rowCount_) {
    MarkDirty(from);
    MarkDirty(rowCount_ - 1);
  }
}

void TStringGridModel::Flush() {
  flushScheduled_ = false;
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
  if (headerDirty_ && reportedCols_ > 0) emit headerDataChanged(Qt::Horizontal, 0, reportedCols_ - 1);
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
      for (int col = index.column() + 1;
           area.width() < needed && col < model->columnCount() && Blank(model->index(index.row(), col));
           ++col)
        area.setRight(area.right() + grid_->columnWidth(col));
      painter->save();
      painter->setClipRect(area);
      painter->setFont(opt.font);
      painter->setPen(opt.palette.color(opt.state & QStyle::State_Selected ? QPalette::HighlightedText
                                                                           : QPalette::Text));
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

TStringGrid::TStringGrid(QWidget* parent)
    : QTableView(parent), model_(new TStringGridModel(this)) {
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
  horizontalHeader()->setSectionResizeMode(
      value.Contains(goColSizing) ? QHeaderView::Interactive : QHeaderView::Fixed);
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
