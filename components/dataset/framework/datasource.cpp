#include "dataset/framework/datasource.h"

#include <algorithm>

// ---- Data source ----------------------------------------------------------------------------

TDataSource::TDataSource(QObject* owner) : QObject(owner) {}

TDataSource::~TDataSource() {
  // A source being destroyed reports nothing more.
  OnStateChange = nullptr;
  OnDataChange = nullptr;
  OnUpdateData = nullptr;
  SetDataSet(nullptr);
  for (TDataLink* link : QList<TDataLink*>(links_)) link->SetDataSource(nullptr);
}

void TDataSource::SetDataSet(TDataSet* dataSet) {
  if (dataSet == dataSet_) return;
  if (dataSet_) dataSet_->RemoveDataSource(this);
  dataSet_ = dataSet;
  if (dataSet_) dataSet_->AddDataSource(this);
  UpdateState();
  for (TDataLink* link : QList<TDataLink*>(links_)) link->UpdateActive();
}

// The data set's own destructor calls this: nothing may call back into it any more.
void TDataSource::DataSetDestroyed() {
  dataSet_ = nullptr;
  UpdateState();
  for (TDataLink* link : QList<TDataLink*>(links_)) link->UpdateActive();
}

void TDataSource::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  UpdateState();
  for (TDataLink* link : QList<TDataLink*>(links_)) link->UpdateActive();
}

void TDataSource::Edit() {
  if (autoEdit_ && dataSet_ && state_ == dsBrowse) dataSet_->Edit();
}

void TDataSource::UpdateState() {
  const TDataSetState state = enabled_ && dataSet_ ? dataSet_->State() : dsInactive;
  if (state == state_) return;
  state_ = state;
  if (OnStateChange) OnStateChange(this);
}

void TDataSource::DataEvent(TDataEvent event, const void* info) {
  if (event == deUpdateState) {
    UpdateState();
  } else if (state_ != dsInactive) {
    auto* field = static_cast<TField*>(const_cast<void*>(info));
    switch (event) {
      case deFieldChange:
      case deRecordChange:
        if (OnDataChange) OnDataChange(this, field);
        break;
      case deDataSetChange:
      case deDataSetScroll:
      case deLayoutChange:
        if (OnDataChange) OnDataChange(this, nullptr);
        break;
      case deUpdateRecord:
        if (OnUpdateData) OnUpdateData(this);
        break;
      default: break;
    }
  }
  NotifyLinks(event, info);
}

void TDataSource::NotifyLinks(TDataEvent event, const void* info) {
  for (TDataLink* link : QList<TDataLink*>(links_))
    if (links_.contains(link)) link->DataEvent(event, info);
}

// ---- Data link ------------------------------------------------------------------------------

TDataLink::~TDataLink() {
  if (dataSource_) {
    dataSource_->links_.removeAll(this);
    if (TDataSet* dataSet = dataSource_->DataSet()) dataSet->UpdateBufferCount();
  }
}

void TDataLink::SetDataSource(TDataSource* source) {
  if (source == dataSource_) return;
  if (TDataSet* detail = DetailDataSet(); detail && source && detail->IsLinkedTo(source))
    detail->DatabaseError(QStringLiteral("Circular datalinks are not allowed"));
  if (dataSource_) {
    dataSource_->links_.removeAll(this);
    if (TDataSet* dataSet = dataSource_->DataSet()) dataSet->UpdateBufferCount();
  }
  dataSource_ = source;
  if (dataSource_) {
    dataSource_->links_.append(this);
    if (TDataSet* dataSet = dataSource_->DataSet()) dataSet->UpdateBufferCount();
  }
  UpdateActive();
}

void TDataLink::SetReadOnly(bool value) {
  if (value == readOnly_) return;
  readOnly_ = value;
  UpdateEditing();
}

void TDataLink::SetBufferCount(int value) {
  value = std::max(value, 1);
  if (value == bufferCount_) return;
  bufferCount_ = value;
  if (TDataSet* dataSet = DataSet()) {
    dataSet->UpdateBufferCount();
    UpdateRange();
  }
}

int TDataLink::RecordCount() const {
  if (!active_) return 0;
  return std::clamp(DataSet()->WindowCount() - firstRecord_, 0, bufferCount_);
}

int TDataLink::ActiveRecord() const {
  return active_ ? DataSet()->ActiveRecord() - firstRecord_ : 0;
}

void TDataLink::SetActiveRecord(int value) {
  if (active_) DataSet()->SetActiveRecordIndex(firstRecord_ + value);
}

bool TDataLink::Edit() {
  if (!readOnly_ && dataSource_) dataSource_->Edit();
  return editing_;
}

void TDataLink::UpdateRecord() {
  updating_ = true;
  try {
    UpdateData();
  } catch (...) {
    updating_ = false;
    throw;
  }
  updating_ = false;
}

// Keeps the active record inside this link's rows of the window.
void TDataLink::UpdateRange() {
  if (!active_) {
    firstRecord_ = 0;
    return;
  }
  const TDataSet* dataSet = DataSet();
  const int active = dataSet->ActiveRecord();
  if (active < firstRecord_) firstRecord_ = active;
  if (active >= firstRecord_ + bufferCount_) firstRecord_ = active - bufferCount_ + 1;
  firstRecord_ = std::clamp(firstRecord_, 0, std::max(0, dataSet->WindowCount() - 1));
}

void TDataLink::UpdateActive() {
  const bool active = dataSource_ && dataSource_->State() != dsInactive;
  if (active == active_) return;
  active_ = active;
  firstRecord_ = 0;
  if (active) UpdateRange();
  ActiveStateChanged();
  UpdateEditing();
}

void TDataLink::UpdateEditing() {
  const TDataSetState state = dataSource_ ? dataSource_->State() : dsInactive;
  const bool editing = !readOnly_ && (state == dsEdit || state == dsInsert || state == dsSetKey);
  if (editing == editing_) return;
  editing_ = editing;
  EditingChanged();
}

void TDataLink::DataEvent(TDataEvent event, const void* info) {
  if (event == deUpdateState) {
    UpdateActive();
    UpdateEditing();
    return;
  }
  if (!active_) return;
  auto* field = static_cast<TField*>(const_cast<void*>(info));
  switch (event) {
    case deFieldChange:
    case deRecordChange:
      if (!updating_) RecordMoved(field);
      break;
    case deDataSetChange:
      UpdateRange();
      DataSetChanged();
      break;
    case deDataSetScroll:
      UpdateRange();
      DataSetScrolled(info ? *static_cast<const int*>(info) : 0);
      break;
    case deLayoutChange: LayoutChanged(); break;
    case deUpdateRecord: UpdateRecord(); break;
    case deCheckBrowseMode: EnsureBrowseMode(); break;
    case deFocusControl: FocusControl(field); break;
    default: break;
  }
}
