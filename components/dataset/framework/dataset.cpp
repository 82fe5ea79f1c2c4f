#include "dataset/framework/dataset.h"

#include "dataset/framework/datasource.h"

#include <QtGlobal>

#include <algorithm>
#include <cstring>
#include <utility>

TDataSet::TDataSet(QObject* owner) : QObject(owner) {}

TDataSet::~TDataSet() {
  // A descendant's part is gone by now: a descendant closes in its own destructor. Here only
  // the framework's own links are cut.
  const QList<TDataSource*> sources = dataSources_;
  dataSources_.clear();
  for (TDataSource* source : sources) source->DataSetDestroyed();
  for (TField* field : fields_.fields_) field->dataSet_ = nullptr;
}

void TDataSet::DatabaseError(const QString& message) const {
  // The message stays as given (the user sees it); which data set raised it is context.
  EDatabaseError error(message);
  error.AddContext(QString::fromLatin1(metaObject()->className()) + QLatin1Char(' ') +
                   objectName());
  throw error;
}

TField* TDataSet::FieldByName(const QString& name) const {
  if (TField* field = fields_.FindField(name)) return field;
  DatabaseError(QStringLiteral("Field '%1' not found").arg(name));
}

void TDataSet::CheckActive() const {
  if (!Active()) DatabaseError(QStringLiteral("Cannot perform this operation on a closed dataset"));
}

void TDataSet::CheckInactive() const {
  if (Active()) DatabaseError(QStringLiteral("Cannot perform this operation on an open dataset"));
}

void TDataSet::CheckCanModify() const {
  if (!const_cast<TDataSet*>(this)->CanModify())
    DatabaseError(QStringLiteral("Cannot modify a read-only dataset"));
}

// ---- Opening and closing --------------------------------------------------------------------

void TDataSet::SetActive(bool value) {
  if (value == Active()) return;
  if (value) {
    Fire(BeforeOpen);
    try {
      OpenCursor();
    } catch (...) {
      CloseCursor();
      throw;
    }
    // A statement that gave no cursor (a procedure's status and output parameters only) leaves
    // the data set closed; what it returned stays with the descendant.
    if (!IsCursorActive()) {
      CloseCursor();
      return;
    }
    SetState(dsBrowse);
    Fire(AfterOpen);
    if (windowCount_ > 0) Fire(AfterScroll);
  } else {
    Fire(BeforeClose);
    SetState(dsInactive);
    CloseCursor();
    Fire(AfterClose);
  }
}

void TDataSet::OpenCursor() {
  // Persistent calculated fields need their area before the descendant sizes its buffers.
  defaultFields_ = fields_.Count() == 0;
  BindFields(true);
  OpenInternal();
  if (!IsCursorActive()) return;
  UpdateBufferCount();
  ClearBuffers();
  MoveBeforeFirst();
  GetNextRecords();
  bof_ = true;
  eof_ = windowCount_ == 0;
}

void TDataSet::CloseCursor() {
  ClearBuffers();
  for (auto& buffer : buffers_)
    if (buffer) ReleaseRecordBuffer(buffer);
  buffers_.clear();
  if (keyBuffer_) ReleaseRecordBuffer(keyBuffer_);
  CloseInternal();
  // A descendant destroys its default fields in CloseInternal; what it left goes here.
  if (defaultFields_) DestroyFields();
  BindFields(false);
}

void TDataSet::CreateFields() {
  for (int i = 0; i < fieldDefs_.Count(); ++i) {
    const TFieldDef& def = fieldDefs_[i];
    TField* field = CreateFieldOfType(def.DataType, this);
    if (!field) DatabaseError(QStringLiteral("Field '%1' is of an unknown type").arg(def.Name));
    field->fieldName_ = def.Name;
    field->size_ = def.Size > 0 || !(def.DataType == ftString || def.DataType == ftFixedChar)
                       ? def.Size
                       : field->size_;
    field->required_ = def.Required;
    field->fieldNo_ = def.FieldNo;
    field->defaultField_ = true;
    field->dataSet_ = this;
    fields_.fields_.push_back(field);
  }
  defaultFields_ = true;
  DataEvent(deLayoutChange);
}

void TDataSet::DestroyFields() {
  std::vector<TField*> defaults;
  for (TField* field : fields_.fields_)
    if (field->defaultField_) defaults.push_back(field);
  for (TField* field : defaults) delete field;  // its destructor leaves the list
  defaultFields_ = false;
  DataEvent(deLayoutChange);
}

void TDataSet::BindFields(bool binding) {
  calcFieldsSize_ = 0;
  for (TField* field : fields_.fields_) {
    if (field->fieldKind_ != fkData) {
      field->fieldNo_ = -1;
      if (binding) {
        field->offset_ = calcFieldsSize_;
        calcFieldsSize_ += 1 + field->DataSize();
      }
      continue;
    }
    if (field->defaultField_) continue;
    if (!binding) {
      field->fieldNo_ = 0;
      continue;
    }
    const TFieldDef* def = fieldDefs_.Find(field->fieldName_);
    if (!def) continue;  // the descendant may bind it when its definitions exist
    const bool textKinds = (def->DataType == ftString || def->DataType == ftFixedChar) &&
                           (field->dataType_ == ftString || field->dataType_ == ftFixedChar);
    if (def->DataType != field->dataType_ && !textKinds)
      DatabaseError(QStringLiteral("Type mismatch for field '%1', expecting: %2 actual: %3")
                        .arg(field->DisplayName(), FieldTypeName(field->dataType_),
                             FieldTypeName(def->DataType)));
    field->fieldNo_ = def->FieldNo;
    if (def->Size > 0) field->size_ = def->Size;
  }
}

// ---- Record buffers ---------------------------------------------------------------------------

void TDataSet::UpdateBufferCount() {
  int count = 1;
  for (TDataSource* source : dataSources_)
    for (TDataLink* link : source->links_) count = std::max(count, link->bufferCount_);
  SetBufferCount(count);
}

void TDataSet::SetBufferCount(int value) {
  value = std::max(value, 1);
  if (!IsCursorActive()) {
    bufferCount_ = value;
    return;
  }
  if (value == bufferCount_ && buffers_.size() == size_t(value) + 1) return;
  // The spare is always the last buffer; it may hold nothing worth keeping.
  if (!buffers_.empty()) ReleaseRecordBuffer(buffers_.back()), buffers_.pop_back();
  if (value < windowCount_) {
    // Drop records from the front as far as needed to keep the active one.
    const int drop = std::max(0, activeRecord_ - (value - 1));
    std::rotate(buffers_.begin(), buffers_.begin() + drop, buffers_.end());
    windowCount_ = std::min(windowCount_ - drop, value);
    activeRecord_ -= drop;
    CursorPosChanged();
  }
  while (buffers_.size() > size_t(value)) {
    ReleaseRecordBuffer(buffers_.back());
    buffers_.pop_back();
  }
  while (buffers_.size() < size_t(value) + 1) buffers_.push_back(AllocateRecordBuffer());
  const bool grew = value > bufferCount_;
  bufferCount_ = value;
  // A wider window fills after the last record, then before the first.
  if (grew && windowCount_ > 0 && state_ == dsBrowse) {
    GetNextRecords();
    GetPriorRecords();
  }
}

void TDataSet::ClearBuffers() {
  windowCount_ = 0;
  activeRecord_ = 0;
  currentRecord_ = -1;
  bof_ = eof_ = true;
}

void TDataSet::ActivateBuffers() {
  windowCount_ = 1;
  activeRecord_ = 0;
  currentRecord_ = 0;
  bof_ = eof_ = false;
}

TRecordBuffer TDataSet::ActiveBuffer() const {
  return windowCount_ > 0 ? buffers_[size_t(activeRecord_)].get() : nullptr;
}

TRecordBuffer TDataSet::StateBuffer() const {
  switch (state_) {
    case dsBrowse:
    case dsEdit:
    case dsInsert: return ActiveBuffer();
    case dsSetKey: return keyBuffer_.get();
    case dsCalcFields:
    case dsFilter: return tempBuffer_;
    case dsInactive: break;
  }
  return nullptr;
}

TDataSetState TDataSet::SetTempState(TDataSetState state, TRecordBuffer buffer) {
  const TDataSetState previous = state_;
  state_ = state;
  tempBuffer_ = buffer;
  return previous;
}

void TDataSet::RestoreState(TDataSetState previous) {
  state_ = previous;
  tempBuffer_ = nullptr;
}

void TDataSet::SetCurrentRecord(int index) {
  if (currentRecord_ == index) return;
  TRecordBuffer buffer = buffers_[size_t(index)].get();
  switch (ReadBookmarkFlag(buffer)) {
    case bfCurrent:
    case bfInserted: MoveToRecordOf(buffer); break;
    case bfBOF: MoveBeforeFirst(); break;
    case bfEOF: MoveAfterLast(); break;
  }
  currentRecord_ = index;
}

void TDataSet::UpdateCursorPos() {
  if (windowCount_ > 0) SetCurrentRecord(activeRecord_);
}

// Reads the record after the window's last into the spare; a full window then drops its first.
bool TDataSet::GetNextRecord() {
  if (windowCount_ > 0) SetCurrentRecord(windowCount_ - 1);
  const bool ok = ReadRecord(buffers_[size_t(windowCount_)].get(), gmNext, true) == grOK;
  if (!ok) {
    CursorPosChanged();
    return false;
  }
  if (windowCount_ == 0) {
    ActivateBuffers();
  } else if (windowCount_ < bufferCount_) {
    ++windowCount_;
  } else {
    std::rotate(buffers_.begin(), buffers_.begin() + 1, buffers_.end());
  }
  currentRecord_ = windowCount_ - 1;
  return true;
}

// Reads the record before the window's first into the spare and puts it first; a full window
// drops its last.
bool TDataSet::GetPriorRecord() {
  if (windowCount_ > 0) SetCurrentRecord(0);
  const bool ok = ReadRecord(buffers_[size_t(windowCount_)].get(), gmPrior, true) == grOK;
  if (!ok) {
    CursorPosChanged();
    return false;
  }
  if (windowCount_ == 0) {
    ActivateBuffers();
  } else {
    std::rotate(buffers_.begin(), buffers_.begin() + windowCount_,
                buffers_.begin() + windowCount_ + 1);
    if (windowCount_ < bufferCount_) {
      ++windowCount_;
      ++activeRecord_;
    }
  }
  currentRecord_ = 0;
  return true;
}

int TDataSet::GetNextRecords() {
  int n = 0;
  while (windowCount_ < bufferCount_ && GetNextRecord()) ++n;
  return n;
}

int TDataSet::GetPriorRecords() {
  int n = 0;
  while (windowCount_ < bufferCount_ && GetPriorRecord()) ++n;
  return n;
}

// ---- Navigation -----------------------------------------------------------------------------

int TDataSet::RecordCount() {
  CheckActive();
  return RecordCountValue();
}

int TDataSet::RecNo() {
  CheckActive();
  if (state_ == dsInsert) return -1;
  UpdateCursorPos();
  return RecordNumber();
}

void TDataSet::SetRecNo(int value) {
  CheckBrowseMode();
  Fire(BeforeScroll);
  SetRecordNumber(value);
  Resync({rmExact, rmCenter});
  Fire(AfterScroll);
}

void TDataSet::First() {
  CheckBrowseMode();
  Fire(BeforeScroll);
  ClearBuffers();
  try {
    MoveBeforeFirst();
    GetNextRecord();
    GetNextRecords();
  } catch (...) {
    bof_ = true;
    DataEvent(deDataSetChange);
    throw;
  }
  bof_ = true;
  DataEvent(deDataSetChange);
  Fire(AfterScroll);
}

void TDataSet::Last() {
  CheckBrowseMode();
  Fire(BeforeScroll);
  ClearBuffers();
  try {
    MoveAfterLast();
    GetPriorRecord();
    GetPriorRecords();
  } catch (...) {
    eof_ = true;
    DataEvent(deDataSetChange);
    throw;
  }
  eof_ = true;
  DataEvent(deDataSetChange);
  Fire(AfterScroll);
}

int TDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  int moved = 0;
  if ((distance > 0 && eof_) || (distance < 0 && bof_) || distance == 0) return 0;
  Fire(BeforeScroll);
  bof_ = eof_ = false;
  const int oldCount = windowCount_;
  bool shifted = false;
  try {
    while (distance > 0) {
      if (activeRecord_ < windowCount_ - 1) {
        ++activeRecord_;
      } else {
        const bool full = windowCount_ == bufferCount_;
        if (!GetNextRecord()) {
          eof_ = true;
          break;
        }
        shifted = shifted || full;
        activeRecord_ = windowCount_ - 1;
      }
      --distance;
      ++moved;
    }
    while (distance < 0) {
      if (activeRecord_ > 0) {
        --activeRecord_;
      } else {
        if (!GetPriorRecord()) {
          bof_ = true;
          break;
        }
        shifted = true;
        activeRecord_ = 0;
      }
      ++distance;
      --moved;
    }
  } catch (...) {
    DataEvent(deDataSetChange);
    throw;
  }
  if (shifted || windowCount_ != oldCount)
    DataEvent(deDataSetChange);
  else
    DataEvent(deDataSetScroll, &moved);
  Fire(AfterScroll);
  return moved;
}

void TDataSet::Resync(TResyncModes mode) {
  TRecordBuffer spare = buffers_[size_t(windowCount_)].get();
  if (mode.Contains(rmExact)) {
    CursorPosChanged();
    if (ReadRecord(spare, gmCurrent, true) != grOK)
      DatabaseError(QStringLiteral("Record not found"));
  } else if (ReadRecord(spare, gmCurrent, false) != grOK &&
             ReadRecord(spare, gmNext, false) != grOK &&
             ReadRecord(spare, gmPrior, false) != grOK) {
    ClearBuffers();
    DataEvent(deDataSetChange);
    return;
  }
  int before = mode.Contains(rmCenter) ? (bufferCount_ - 1) / 2 : activeRecord_;
  std::swap(buffers_[0], buffers_[size_t(windowCount_)]);
  ActivateBuffers();
  try {
    while (before > 0 && GetPriorRecord()) --before;
    GetNextRecords();
    GetPriorRecords();
  } catch (...) {
    DataEvent(deDataSetChange);
    throw;
  }
  DataEvent(deDataSetChange);
}

bool TDataSet::FindStep(bool restart, bool goForward) {
  CheckBrowseMode();
  Fire(BeforeScroll);
  UpdateCursorPos();
  found_ = StepFind(restart, goForward);
  if (found_) {
    Resync({rmExact, rmCenter});
    Fire(AfterScroll);
  }
  return found_;
}

// ---- Bookmarks ------------------------------------------------------------------------------

TBookmark TDataSet::GetBookmark() {
  if (!Active() || windowCount_ == 0 || state_ == dsInsert) return {};
  if (ReadBookmarkFlag(ActiveBuffer()) != bfCurrent) return {};
  TBookmark bookmark(bookmarkSize_, '\0');
  ReadBookmarkData(ActiveBuffer(), bookmark.data());
  return bookmark;
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  if (bookmark.isEmpty()) return;
  CheckBrowseMode();
  Fire(BeforeScroll);
  MoveToBookmark(bookmark);
  Resync({rmExact, rmCenter});
  Fire(AfterScroll);
}

bool TDataSet::BookmarkValid(const TBookmark& bookmark) {
  return Active() && bookmark.size() == bookmarkSize_ && bookmarkSize_ > 0;
}

int TDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) {
  if (a.isEmpty() || b.isEmpty()) return a.isEmpty() == b.isEmpty() ? 0 : (a.isEmpty() ? -1 : 1);
  const int c = std::memcmp(a.constData(), b.constData(), size_t(std::min(a.size(), b.size())));
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

// ---- Editing --------------------------------------------------------------------------------

void TDataSet::CheckOperation(void (TDataSet::*operation)(), const TDataSetErrorEvent& onError) {
  for (;;) {
    try {
      UpdateCursorPos();
      (this->*operation)();
      return;
    } catch (EDatabaseError& e) {
      TDataAction action = daFail;
      if (onError) onError(this, e, action);
      if (action == daFail) throw;
      if (action == daAbort) throw EAbort();
    }
  }
}

void TDataSet::Edit() {
  if (state_ == dsEdit || state_ == dsInsert) return;
  if (windowCount_ == 0) return Insert();
  CheckBrowseMode();
  CheckCanModify();
  Fire(BeforeEdit);
  CheckOperation(&TDataSet::EditInternal, OnEditError);
  GetCalcFields(ActiveBuffer());
  SetState(dsEdit);
  DataEvent(deRecordChange);
  Fire(AfterEdit);
}

void TDataSet::BeginInsertAppend() {
  CheckBrowseMode();
  CheckCanModify();
  Fire(BeforeInsert);
  Fire(BeforeScroll);
}

void TDataSet::InitRecord(TRecordBuffer buffer) {
  InitNewRecord(buffer);
  ClearCalcFields(buffer);
}

void TDataSet::EndInsertAppend() {
  CursorPosChanged();
  SetState(dsInsert);
  try {
    Fire(OnNewRecord);
  } catch (...) {
    UpdateCursorPos();
    Resync({});
    SetState(dsBrowse);
    throw;
  }
  modified_ = false;
  GetCalcFields(ActiveBuffer());
  DataEvent(deDataSetChange);
  Fire(AfterInsert);
  Fire(AfterScroll);
}

void TDataSet::Insert() {
  BeginInsertAppend();
  TRecordBuffer spare = buffers_[size_t(windowCount_)].get();
  InitRecord(spare);
  if (windowCount_ == 0) {
    std::swap(buffers_[0], buffers_[size_t(windowCount_)]);
    WriteBookmarkFlag(buffers_[0].get(), bfBOF);
    ActivateBuffers();
  } else {
    // The new record stands before the active one and carries its bookmark, so the cursor
    // finds its place through it.
    TBookmark mark(bookmarkSize_, '\0');
    ReadBookmarkData(ActiveBuffer(), mark.data());
    WriteBookmarkData(spare, mark.constData());
    WriteBookmarkFlag(spare, bfInserted);
    std::rotate(buffers_.begin() + activeRecord_, buffers_.begin() + windowCount_,
                buffers_.begin() + windowCount_ + 1);
    if (windowCount_ < bufferCount_) ++windowCount_;
  }
  bof_ = eof_ = false;
  EndInsertAppend();
}

void TDataSet::Append() {
  BeginInsertAppend();
  ClearBuffers();
  TRecordBuffer buffer = buffers_[0].get();
  InitRecord(buffer);
  WriteBookmarkFlag(buffer, bfEOF);
  ActivateBuffers();
  currentRecord_ = -1;
  GetPriorRecords();
  bof_ = eof_ = false;
  EndInsertAppend();
}

void TDataSet::AddRecordWith(const QVariantList& values, bool append) {
  append ? Append() : Insert();
  try {
    for (int i = 0; i < values.size() && i < fields_.Count(); ++i)
      if (values[i].isValid()) fields_[i]->SetValue(values[i]);
    FinishPost(true, append);
  } catch (...) {
    Cancel();
    throw;
  }
}

void TDataSet::CheckRequiredFields() {
  for (TField* field : fields_.fields_)
    if (field->required_ && !field->readOnly_ && field->fieldKind_ == fkData && field->IsNull()) {
      field->FocusControl();
      DatabaseError(QStringLiteral("Field '%1' must have a value").arg(field->DisplayName()));
    }
}

void TDataSet::Post() { FinishPost(false, false); }

void TDataSet::FinishPost(bool add, bool append) {
  UpdateRecord();
  if (state_ == dsSetKey) {
    SetState(dsBrowse);
    DataEvent(deDataSetChange);
    return;
  }
  if (state_ != dsEdit && state_ != dsInsert)
    DatabaseError(QStringLiteral("Dataset not in edit or insert mode"));
  DataEvent(deCheckBrowseMode);
  Fire(BeforePost);
  CheckRequiredFields();
  if (add) {
    for (;;) {
      try {
        AddRecord(ActiveBuffer(), append);
        break;
      } catch (EDatabaseError& e) {
        TDataAction action = daFail;
        if (OnPostError) OnPostError(this, e, action);
        if (action == daFail) throw;
        if (action == daAbort) throw EAbort();
      }
    }
  } else {
    CheckOperation(&TDataSet::PostInternal, OnPostError);
  }
  SetState(dsBrowse);
  Resync({});
  Fire(AfterPost);
}

void TDataSet::Cancel() {
  if (state_ == dsSetKey) {
    SetState(dsBrowse);
    DataEvent(deDataSetChange);
    return;
  }
  if (state_ != dsEdit && state_ != dsInsert) return;
  DataEvent(deCheckBrowseMode);
  Fire(BeforeCancel);
  SetState(dsBrowse);
  // The cursor stands where the record was (or where it would have gone); rereading from there
  // restores the edited record and drops an inserted one.
  UpdateCursorPos();
  Resync({});
  Fire(AfterCancel);
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == dsInsert || state_ == dsSetKey) return Cancel();
  if (windowCount_ == 0)
    DatabaseError(QStringLiteral("Cannot perform this operation on an empty dataset"));
  CheckCanModify();
  DataEvent(deCheckBrowseMode);
  Fire(BeforeDelete);
  Fire(BeforeScroll);
  CheckOperation(&TDataSet::DeleteInternal, OnDeleteError);
  SetState(dsBrowse);
  Resync({});
  Fire(AfterDelete);
  Fire(AfterScroll);
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  Fire(BeforeRefresh);
  UpdateCursorPos();
  RefreshInternal();
  Resync({});
  Fire(AfterRefresh);
}

void TDataSet::UpdateRecord() {
  if (state_ != dsEdit && state_ != dsInsert && state_ != dsSetKey)
    DatabaseError(QStringLiteral("Dataset not in edit or insert mode"));
  DataEvent(deUpdateRecord);
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  DataEvent(deCheckBrowseMode);
  switch (state_) {
    case dsEdit:
    case dsInsert:
      UpdateRecord();
      if (modified_)
        Post();
      else
        Cancel();
      break;
    case dsSetKey: Post(); break;
    default: break;
  }
}

void TDataSet::SetKey() {
  CheckBrowseMode();
  if (!keyBuffer_) keyBuffer_ = AllocateRecordBuffer();
  InitNewRecord(keyBuffer_.get());
  SetState(dsSetKey);
  DataEvent(deDataSetChange);
}

// ---- Filter ---------------------------------------------------------------------------------

void TDataSet::SetFilter(const QString& value) {
  filter_ = value;
  if (Active() && filtered_) {
    CheckBrowseMode();
    First();
  }
}

void TDataSet::SetFiltered(bool value) {
  if (value == filtered_) return;
  if (Active()) CheckBrowseMode();
  filtered_ = value;
  if (Active()) First();
}

// ---- Calculated fields ------------------------------------------------------------------------

void TDataSet::ClearCalcFields(TRecordBuffer buffer) {
  if (calcFieldsSize_ == 0) return;
  const TDataSetState previous = SetTempState(dsCalcFields, buffer);
  try {
    for (TField* field : fields_.fields_)
      if (field->fieldKind_ != fkData) WriteFieldData(field, nullptr);
  } catch (...) {
    RestoreState(previous);
    throw;
  }
  RestoreState(previous);
}

void TDataSet::GetCalcFields(TRecordBuffer buffer) {
  if (calcFieldsSize_ == 0 || !buffer || !OnCalcFields) return;
  const TDataSetState previous = SetTempState(dsCalcFields, buffer);
  try {
    OnCalcFields(this);
  } catch (...) {
    RestoreState(previous);
    throw;
  }
  RestoreState(previous);
}

void TDataSet::CalculateFields() {
  if (autoCalcFields_) GetCalcFields(ActiveBuffer());
}

// ---- Field access -----------------------------------------------------------------------------

bool TDataSet::GetFieldData(TField* field, void* dest) {
  if (!Active() || !StateBuffer()) return false;
  return ReadFieldData(field, dest);
}

void TDataSet::SetFieldData(TField* field, const void* source) {
  const bool calc = field->fieldKind_ != fkData;
  if (calc && (state_ == dsCalcFields || state_ == dsFilter)) {
    WriteFieldData(field, source);
    return;
  }
  if (state_ != dsEdit && state_ != dsInsert && state_ != dsSetKey)
    DatabaseError(QStringLiteral("Dataset not in edit or insert mode"));
  if (field->readOnly_ || field->dataType_ == ftAutoInc)
    DatabaseError(QStringLiteral("Field '%1' cannot be modified").arg(field->DisplayName()));
  field->Validate();
  WriteFieldData(field, source);
}

std::unique_ptr<QIODevice> TDataSet::OpenBlobStream(TField* /*field*/, TBlobStreamMode /*mode*/) {
  return nullptr;
}

void TDataSet::HandleInternalException(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    qWarning("%s: %s", qPrintable(objectName()), e.what());
  } catch (...) {
    qWarning("%s: unknown exception", qPrintable(objectName()));
  }
}

void TDataSet::AddField(TField* field) {
  fields_.fields_.push_back(field);
  DataEvent(deLayoutChange);
}

void TDataSet::RemoveField(TField* field) {
  auto& list = fields_.fields_;
  list.erase(std::remove(list.begin(), list.end(), field), list.end());
}

// ---- Notifications --------------------------------------------------------------------------

void TDataSet::SetState(TDataSetState value) {
  if (state_ == value) return;
  state_ = value;
  modified_ = false;
  DataEvent(deUpdateState);
}

void TDataSet::DataEvent(TDataEvent event, const void* info) {
  if (event == deFieldChange) {
    auto* field = static_cast<TField*>(const_cast<void*>(info));
    // Values set while computing or filtering are not changes of the record.
    if (state_ == dsCalcFields || state_ == dsFilter) return;
    if (field->fieldKind_ == fkData) {
      modified_ = true;
      if (state_ != dsSetKey) CalculateFields();
    }
    field->Change();
  }
  if (disableCount_ > 0) {
    disabledEvent_ = true;
    return;
  }
  for (TDataSource* source : QList<TDataSource*>(dataSources_)) source->DataEvent(event, info);
}

void TDataSet::DisableControls() {
  if (disableCount_++ == 0) {
    disabledEvent_ = false;
    disabledActive_ = Active();
  }
}

void TDataSet::EnableControls() {
  if (disableCount_ == 0 || --disableCount_ > 0) return;
  // One state notice (links compare it with what they knew) and one change for everything
  // that was held back.
  if (disabledEvent_ || disabledActive_ != Active()) {
    DataEvent(deUpdateState);
    if (Active()) DataEvent(deDataSetChange);
  }
}

void TDataSet::Visit(const std::function<void()>& visit) {
  CheckActive();
  if (state_ != dsBrowse) DatabaseError(QStringLiteral("Dataset not in browse mode"));
  // The window's buffers wait aside; the visit reads into fresh ones.
  std::vector<TRecordBufferHolder> window;
  window.swap(buffers_);
  for (size_t i = 0; i < window.size(); ++i) buffers_.push_back(AllocateRecordBuffer());
  const int windowCount = windowCount_, activeRecord = activeRecord_;
  const bool bof = bof_, eof = eof_, disabledEvent = disabledEvent_;
  TDataSetNotifyEvent before = std::exchange(BeforeScroll, nullptr);
  TDataSetNotifyEvent after = std::exchange(AfterScroll, nullptr);
  ++disableCount_;
  std::exception_ptr error;
  try {
    visit();
  } catch (...) {
    error = std::current_exception();
  }
  --disableCount_;
  disabledEvent_ = disabledEvent;
  BeforeScroll = std::move(before);
  AfterScroll = std::move(after);
  if (Active() && state_ == dsBrowse && buffers_.size() == window.size()) {
    for (TRecordBufferHolder& buffer : buffers_) ReleaseRecordBuffer(buffer);
    buffers_.swap(window);
    windowCount_ = windowCount;
    activeRecord_ = activeRecord;
    bof_ = bof;
    eof_ = eof;
    CursorPosChanged();  // the descendant's cursor is wherever the visit left it
  } else {
    // Closed or changed on the way: what stands now is news, told as EnableControls would.
    for (TRecordBufferHolder& buffer : window) ReleaseRecordBuffer(buffer);
    if (disableCount_ > 0) {
      disabledEvent_ = true;
    } else {
      DataEvent(deUpdateState);
      if (Active()) DataEvent(deDataSetChange);
    }
  }
  if (error) std::rethrow_exception(error);
}

bool TDataSet::IsLinkedTo(const TDataSource* source) const {
  while (source) {
    TDataSet* dataSet = source->DataSet();
    if (!dataSet) return false;
    if (dataSet == this) return true;
    source = dataSet->DataSource();
  }
  return false;
}

void TDataSet::AddDataSource(TDataSource* source) {
  dataSources_.append(source);
  UpdateBufferCount();
}

void TDataSet::RemoveDataSource(TDataSource* source) {
  dataSources_.removeAll(source);
  UpdateBufferCount();
}
