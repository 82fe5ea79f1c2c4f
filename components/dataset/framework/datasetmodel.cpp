#include "dataset/framework/datasetmodel.h"

#include "connection/norvexception.h"
#include "connection/presenter.h"

#include <QBrush>
#include <QFont>
#include <QGuiApplication>

#include <algorithm>
#include <exception>
#include <utility>

void ShowDataSetError() noexcept {
  QString message;
  try {
    throw;
  } catch (const EAbort&) {
    return;  // already reported by whoever aborted
  } catch (const Exception& e) {
    message = e.Message();
  } catch (const std::exception& e) {
    message = QString::fromLocal8Bit(e.what());
  } catch (...) {
    message = QStringLiteral("Unknown error");
  }
  QString caption = QGuiApplication::applicationDisplayName();
  if (caption.isEmpty()) caption = QStringLiteral("Error");
  try {
    norv::CurrentPresenter().ShowMessageBox(caption, message, norv::MsgIcon::Error);
  } catch (const std::exception& e) {
    qWarning("%s (while showing: %s)", e.what(), qPrintable(message));
  }
}

class TDataSetModel::Link : public TDataLink {
 public:
  explicit Link(TDataSetModel& model) : model_(model) {}

 protected:
  void ActiveStateChanged() override {
    SetBufferCount(model_.fetchBatch_);
    model_.Rebuild();
    if (Active()) model_.WindowChanged();
  }
  void DataSetChanged() override { model_.WindowChanged(); }
  void DataSetScrolled(int /*distance*/) override {
    emit model_.ActiveRowChanged(model_.ActiveRow());
  }
  void RecordMoved(TField* /*field*/) override { model_.RecordChanged(); }
  void EditingChanged() override { model_.StateChanged(); }
  void LayoutChanged() override {
    model_.Rebuild();
    model_.WindowChanged();
  }

 private:
  TDataSetModel& model_;
};

TDataSetModel::TDataSetModel(QObject* parent)
    : QAbstractTableModel(parent), link_(std::make_unique<Link>(*this)) {
  link_->SetBufferCount(fetchBatch_);
}

TDataSetModel::~TDataSetModel() {
  // Leave the source without telling this half-destroyed model.
  link_.reset();
}

TDataSource* TDataSetModel::DataSource() const { return link_->DataSource(); }

void TDataSetModel::SetDataSource(TDataSource* source) {
  if (source == link_->DataSource()) return;
  const bool wasActive = link_->Active();
  link_->SetDataSource(source);
  // Moving between two open data sets changes no activity, so the link stays silent.
  if (wasActive && link_->Active()) {
    link_->SetBufferCount(fetchBatch_);
    Rebuild();
    WindowChanged();
  }
}

void TDataSetModel::SetFetchBatch(int value) {
  fetchBatch_ = std::max(value, 1);
  // The window is what the data set reads when the source attaches or opens.
  if (!link_->Active()) link_->SetBufferCount(fetchBatch_);
}

TField* TDataSetModel::FieldAt(int column) const {
  return column >= 0 && column < int(columns_.size()) ? columns_[size_t(column)].data() : nullptr;
}

int TDataSetModel::ActiveRow() const {
  if (!link_->Active() || link_->DataSet()->IsEmpty()) return -1;
  return top_ + link_->ActiveRecord();
}

void TDataSetModel::MoveToRow(int row) {
  int active = ActiveRow();
  if (active < 0 || row < 0 || row >= rows_ || row == active) return;
  TDataSet* dataSet = link_->DataSet();
  if (dataSet->State() == dsInsert) {
    // An untouched new record is dropped on leaving it, and the rows after it move up.
    const bool kept = dataSet->Modified();
    dataSet->CheckBrowseMode();
    if (!kept && row > active) --row;
    active = ActiveRow();
    if (active < 0 || row == active) return;
  }
  dataSet->MoveBy(row - active);
}

std::vector<TField*> TDataSetModel::VisibleFields() const {
  std::vector<TField*> fields;
  if (!link_->Active()) return fields;
  for (TField* field : link_->DataSet()->Fields())
    if (field->Visible()) fields.push_back(field);
  return fields;
}

bool TDataSetModel::ColumnsCurrent() const {
  const std::vector<TField*> fields = VisibleFields();
  return std::equal(fields.begin(), fields.end(), columns_.begin(), columns_.end(),
                    [](TField* a, const QPointer<TField>& b) { return a == b.data(); });
}

void TDataSetModel::Rebuild() {
  beginResetModel();
  columns_.clear();
  for (TField* field : VisibleFields()) columns_.emplace_back(field);
  block_.clear();
  top_ = known_ = 0;
  atEnd_ = false;
  rows_ = link_->Active() ? Locate() : 0;
  endResetModel();
  emit ActiveRowChanged(ActiveRow());
}

void TDataSetModel::WindowChanged() {
  if (!link_->Active() || !ColumnsCurrent()) {
    if (rows_ > 0 || !columns_.empty() || link_->Active()) Rebuild();
    return;
  }
  block_.clear();
  SyncRowCount(Locate());
  if (rows_ > 0 && !columns_.empty())
    emit dataChanged(index(0, 0), index(rows_ - 1, int(columns_.size()) - 1));
  emit ActiveRowChanged(ActiveRow());
}

void TDataSetModel::FindTop() {
  TDataSet* dataSet = link_->DataSet();
  if (dataSet->IsEmpty()) {
    top_ = 0;
    return;
  }
  if (dataSet->State() == dsInsert) return;  // the new record has no number; the window stays
  int recNo = -1;
  try {
    recNo = dataSet->RecNo();
  } catch (...) {  // a position the data set cannot tell: the window shows as it stands
  }
  hasRecNo_ = recNo > 0;
  top_ = hasRecNo_ ? std::max(recNo - 1 - link_->ActiveRecord(), 0) : 0;
}

// Where the window stands and how many rows there are now.
int TDataSetModel::Locate() {
  TDataSet* dataSet = link_->DataSet();
  FindTop();
  const bool inserting = dataSet->State() == dsInsert;
  const int count = link_->RecordCount();
  const int stored = count - (inserting ? 1 : 0);
  const int recordCount = dataSet->RecordCount();
  if (!hasRecNo_ || count < link_->BufferCount()) {
    // The data set could not fill the window: it holds every record (or is all we can show).
    top_ = 0;
    known_ = stored;
    atEnd_ = true;
  } else if (atEnd_) {
    known_ = std::max(known_ + recordCount - lastCount_, top_ + stored);
  } else {
    known_ = std::max(known_, top_ + stored);
    // A delete may have left the last row without a record.
    if (recordCount >= top_ + stored) known_ = std::min(known_, recordCount);
  }
  if (!inserting && dataSet->Eof() && dataSet->State() == dsBrowse) {
    atEnd_ = true;
    known_ = top_ + link_->ActiveRecord() + 1;
  }
  lastCount_ = recordCount;
  return known_ + (inserting ? 1 : 0);
}

void TDataSetModel::SyncRowCount(int count) {
  if (count > rows_) {
    beginInsertRows(QModelIndex(), rows_, count - 1);
    rows_ = count;
    endInsertRows();
  } else if (count < rows_) {
    beginRemoveRows(QModelIndex(), count, rows_ - 1);
    rows_ = count;
    endRemoveRows();
  }
}

void TDataSetModel::RecordChanged() {
  if (!ColumnsCurrent()) return WindowChanged();
  const int row = ActiveRow();
  if (row >= 0 && row < rows_ && !columns_.empty())
    emit dataChanged(index(row, 0), index(row, int(columns_.size()) - 1));
}

void TDataSetModel::StateChanged() {
  // Inserting moves the rows after the new record down, and ending it back (or not).
  const bool inserting = link_->Active() && link_->DataSet()->State() == dsInsert;
  if (inserting || inserting_) {
    inserting_ = inserting;
    return WindowChanged();
  }
  RecordChanged();
}

int TDataSetModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : rows_;
}

int TDataSetModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(columns_.size());
}

bool TDataSetModel::InWindow(int row) const {
  return row >= top_ && row < top_ + link_->RecordCount();
}

// The field's value in the data set's active record.
TDataSetModel::Cell TDataSetModel::ReadCell(TField* field) {
  Cell cell;
  try {
    cell.isNull = field->IsNull();
    if (!cell.isNull) {
      cell.display = field->DisplayText();
      cell.edit = field->Text();
    }
  } catch (...) {  // an OnGetText that fails shows nothing rather than breaking the paint
    cell = Cell{};
    cell.failed = true;
  }
  return cell;
}

// Lets `visit` move the data set to other records and puts it back as it was, unheard (the
// data set's Visit). What `visit` raised is returned.
std::exception_ptr TDataSetModel::Elsewhere(const std::function<void()>& visit) const {
  try {
    link_->DataSet()->Visit(visit);
  } catch (...) {
    return std::current_exception();
  }
  return {};
}

bool TDataSetModel::CanVisit() const {
  return hasRecNo_ && link_->Active() && link_->DataSet()->State() == dsBrowse &&
         !link_->DataSet()->IsEmpty();
}

// Reads the rows from a little before `row` into the block.
void TDataSetModel::TakeBlock(int row) const {
  block_.clear();
  if (!CanVisit()) return;
  TDataSet* dataSet = link_->DataSet();
  const int size = fetchBatch_;
  blockTop_ = std::clamp(row - size / 4, 0, std::max(known_ - 1, 0));
  std::vector<std::vector<Cell>> rows;
  const std::exception_ptr error = Elsewhere([&] {
    dataSet->SetRecNo(blockTop_ + 1);
    for (int n = 0; n < size && blockTop_ + n < known_; ++n) {
      std::vector<Cell>& cells = rows.emplace_back();
      for (const QPointer<TField>& field : columns_)
        cells.push_back(field ? ReadCell(field.data()) : Cell{});
      if (dataSet->MoveBy(1) == 0) break;
    }
  });
  if (!error) block_ = std::move(rows);  // a failed read shows empty cells
}

QVariant TDataSetModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole && role != Qt::EditRole && role != Qt::FontRole &&
      role != Qt::ForegroundRole)
    return {};
  TField* field = FieldAt(index.column());
  const int row = index.row();
  if (!field || row < 0 || row >= rows_) return {};
  Cell cell;
  if (InWindow(row)) {
    // The row becomes the active record only for this read.
    const int saved = link_->ActiveRecord();
    link_->SetActiveRecord(row - top_);
    cell = ReadCell(field);
    link_->SetActiveRecord(saved);
  } else {
    if (row < blockTop_ || row >= blockTop_ + int(block_.size())) TakeBlock(row);
    if (row < blockTop_ || row >= blockTop_ + int(block_.size())) return {};
    cell = block_[size_t(row - blockTop_)][size_t(index.column())];
  }
  if (cell.failed) return {};
  switch (role) {
    case Qt::DisplayRole: return cell.isNull ? QStringLiteral("NULL") : cell.display;
    case Qt::EditRole: return cell.isNull ? QVariant() : QVariant(cell.edit);
    case Qt::FontRole: {
      if (!cell.isNull) return {};
      QFont font;
      font.setItalic(true);
      return font;
    }
    default: return cell.isNull ? QVariant(QBrush(Qt::gray)) : QVariant();
  }
}

QVariant TDataSetModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
    if (TField* field = FieldAt(section)) return field->DisplayName();
  return QAbstractTableModel::headerData(section, orientation, role);
}

bool TDataSetModel::Editable() const {
  if (!link_->Active() || link_->ReadOnly()) return false;
  const TDataSetState state = link_->DataSet()->State();
  return state == dsEdit || state == dsInsert || link_->DataSource()->AutoEdit();
}

Qt::ItemFlags TDataSetModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags flags = QAbstractTableModel::flags(index);
  TField* field = FieldAt(index.column());
  if (field && Editable() && field->CanModify()) flags |= Qt::ItemIsEditable;
  return flags;
}

bool TDataSetModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  TField* field = FieldAt(index.column());
  if (role != Qt::EditRole || !field || index.row() >= rows_ || !Editable()) return false;
  try {
    MoveToRow(index.row());
    if (!link_->Edit()) return false;
    // No value is NULL; an empty text is an empty string (or NULL where the field says so).
    if (!value.isValid())
      field->Clear();
    else
      field->SetText(value.toString());
  } catch (...) {
    ShowDataSetError();
    return false;
  }
  return true;
}

bool TDataSetModel::canFetchMore(const QModelIndex& parent) const {
  return !parent.isValid() && !atEnd_ && CanVisit();
}

// Steps FetchBatch records past the last row shown (the data set reads them from its cache or
// its cursor) and shows those that exist.
void TDataSetModel::fetchMore(const QModelIndex& parent) {
  if (!canFetchMore(parent)) return;
  TDataSet* dataSet = link_->DataSet();
  int reached = known_;
  bool end = false;
  const std::exception_ptr error = Elsewhere([&] {
    dataSet->SetRecNo(known_);
    const int moved = dataSet->MoveBy(fetchBatch_);
    reached = known_ + moved;
    end = moved < fetchBatch_;
  });
  // A data set that failed to read further has reached its end, as far as the rows go.
  atEnd_ = end || error;
  known_ = std::max(known_, reached);
  if (link_->Active()) lastCount_ = dataSet->RecordCount();
  block_.clear();
  SyncRowCount(known_ + (link_->Active() && dataSet->State() == dsInsert ? 1 : 0));
  if (error) {
    try {
      std::rethrow_exception(error);
    } catch (...) {
      ShowDataSetError();
    }
  }
}

bool TDataSetModel::submit() {
  if (!link_->Active()) return true;
  TDataSet* dataSet = link_->DataSet();
  if (dataSet->State() != dsEdit && dataSet->State() != dsInsert) return true;
  try {
    dataSet->Post();
  } catch (...) {
    ShowDataSetError();
    return false;
  }
  return true;
}

void TDataSetModel::revert() {
  if (link_->Active()) link_->DataSet()->Cancel();
}
