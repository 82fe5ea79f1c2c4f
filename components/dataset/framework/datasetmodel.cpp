#include "dataset/framework/datasetmodel.h"

#include "connection/norvexception.h"
#include "connection/presenter.h"

#include <QBrush>
#include <QFont>
#include <QGuiApplication>

#include <algorithm>
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
    // Each opening starts lazily again with one batch of rows.
    SetBufferCount(model_.fetchBatch_);
    model_.Rebuild();
    if (Active()) model_.WindowChanged();
  }
  void DataSetChanged() override { model_.WindowChanged(); }
  void DataSetScrolled(int /*distance*/) override {
    emit model_.ActiveRowChanged(model_.ActiveRow());
  }
  void RecordMoved(TField* /*field*/) override { model_.RecordChanged(); }
  void EditingChanged() override { model_.RecordChanged(); }
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
  // The first batch is what the data set reads when the source attaches or opens.
  if (!link_->Active()) link_->SetBufferCount(fetchBatch_);
}

TField* TDataSetModel::FieldAt(int column) const {
  return column >= 0 && column < int(columns_.size()) ? columns_[size_t(column)].data() : nullptr;
}

int TDataSetModel::ActiveRow() const {
  if (!link_->Active() || link_->DataSet()->IsEmpty()) return -1;
  return link_->ActiveRecord();
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
  rows_ = link_->Active() ? link_->RecordCount() : 0;
  endResetModel();
  emit ActiveRowChanged(ActiveRow());
}

void TDataSetModel::WindowChanged() {
  if (!link_->Active() || !ColumnsCurrent()) {
    if (rows_ > 0 || !columns_.empty() || link_->Active()) Rebuild();
    return;
  }
  TDataSet* dataSet = link_->DataSet();
  if (!reanchoring_ && dataSet->State() == dsBrowse && !dataSet->IsEmpty()) {
    int recNo = -1;
    try {
      recNo = dataSet->RecNo();
    } catch (...) {  // a position the data set cannot tell: the window shows as it stands
    }
    const int first = recNo - 1 - link_->ActiveRecord();
    if (recNo > 0 && first > 0) return Reanchor();
  }
  SyncRowCount();
  if (rows_ > 0 && !columns_.empty())
    emit dataChanged(index(0, 0), index(rows_ - 1, int(columns_.size()) - 1));
  emit ActiveRowChanged(ActiveRow());
}

// The data set stands on a record beyond the first window row's reach: read the window again
// from the first record, as wide as needed, and return to the same record. The user's record
// stays the same, so the scroll events of the way there are held back.
void TDataSetModel::Reanchor() {
  TDataSet* dataSet = link_->DataSet();
  const int recNo = dataSet->RecNo();
  const int needed = recNo - 1 - link_->ActiveRecord() + link_->RecordCount();
  TDataSetNotifyEvent before = std::exchange(dataSet->BeforeScroll, nullptr);
  TDataSetNotifyEvent after = std::exchange(dataSet->AfterScroll, nullptr);
  reanchoring_ = true;
  dataSet->DisableControls();
  auto restore = [&] {
    dataSet->BeforeScroll = std::move(before);
    dataSet->AfterScroll = std::move(after);
    dataSet->EnableControls();  // one change notice: WindowChanged runs again from there
    reanchoring_ = false;
  };
  try {
    link_->SetBufferCount(std::max(link_->BufferCount(), needed));
    dataSet->First();
    dataSet->MoveBy(recNo - 1);
  } catch (...) {
    restore();
    throw;
  }
  restore();
}

void TDataSetModel::SyncRowCount() {
  const int count = link_->Active() ? link_->RecordCount() : 0;
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
  SyncRowCount();  // an insert may have widened the window by a row
  const int row = ActiveRow();
  if (row >= 0 && row < rows_ && !columns_.empty())
    emit dataChanged(index(row, 0), index(row, int(columns_.size()) - 1));
}

int TDataSetModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : rows_;
}

int TDataSetModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(columns_.size());
}

QVariant TDataSetModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole && role != Qt::EditRole && role != Qt::FontRole &&
      role != Qt::ForegroundRole)
    return {};
  TField* field = FieldAt(index.column());
  if (!field || index.row() >= rows_ || index.row() >= link_->RecordCount()) return {};
  // The row becomes the active record only for this read.
  const int saved = link_->ActiveRecord();
  link_->SetActiveRecord(index.row());
  bool isNull = true;
  QString text;
  try {
    isNull = field->IsNull();
    if (!isNull) text = role == Qt::EditRole ? field->Text() : field->DisplayText();
  } catch (...) {  // an OnGetText that fails shows nothing rather than breaking the paint
    link_->SetActiveRecord(saved);
    return {};
  }
  link_->SetActiveRecord(saved);
  switch (role) {
    case Qt::DisplayRole: return isNull ? QStringLiteral("NULL") : text;
    case Qt::EditRole: return isNull ? QVariant() : QVariant(text);
    case Qt::FontRole: {
      if (!isNull) return {};
      QFont font;
      font.setItalic(true);
      return font;
    }
    default: return isNull ? QVariant(QBrush(Qt::gray)) : QVariant();
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
  if (parent.isValid() || !link_->Active() || link_->DataSet()->State() != dsBrowse) return false;
  // A full window may have more records after it; one that could not fill has reached the end.
  return link_->RecordCount() >= link_->BufferCount();
}

void TDataSetModel::fetchMore(const QModelIndex& parent) {
  if (!canFetchMore(parent)) return;
  link_->SetBufferCount(link_->BufferCount() + fetchBatch_);
  SyncRowCount();
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
