// The record-buffered data set of the framework.
//
// A TDataSet keeps a window of BufferCount record buffers (plus one spare) filled from its
// descendant's cursor, one of them active. The descendant owns the cursor and the record layout;
// the framework asks it through the protected virtual operations below for a buffer, for the
// record before, at or after its cursor (ReadRecord), to move its cursor (MoveBeforeFirst,
// MoveAfterLast, MoveToBookmark, MoveToRecordOf), to store a posted, added or deleted record, and
// for field values in a buffer (ReadFieldData, WriteFieldData). Each buffer carries a bookmark
// and a bookmark flag, which the descendant keeps wherever its layout puts them.
//
// The cursor position: the framework remembers which buffer the descendant's cursor stands on
// and, before an operation that acts at the cursor (PostInternal, DeleteInternal, RecordNumber,
// Refresh), moves it to the active record through the buffer's flag: bfCurrent and bfInserted
// go through MoveToRecordOf, bfBOF through MoveBeforeFirst, bfEOF through MoveAfterLast. A
// record being inserted carries the bookmark of the record it stands before (flag bfInserted),
// one being appended bfEOF, one inserted into an empty data set bfBOF; so at PostInternal the
// cursor stands where the new record belongs.
//
// Opening: OpenInternal builds the field definitions, creates the default fields when
// DefaultFields says so, binds the fields (BindFields) and opens the cursor; the framework then
// fills the window from the first record. When OpenInternal leaves no cursor (IsCursorActive
// false: a statement that returned only a status or output parameters) the data set stays
// closed, without AfterOpen. A descendant closes itself in its own destructor (the
// base's cannot reach the descendant's operations any more).
//
// Controls and other listeners attach through TDataSource and TDataLink (datasource.h); every
// change reaches them as a TDataEvent unless DisableControls holds them back.
#pragma once

#include "dataset/framework/dbtypes.h"
#include "dataset/framework/field.h"

#include "connection/norvexception.h"

#include <QIODevice>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>

#include <exception>
#include <functional>
#include <memory>
#include <vector>

class TDataSource;

class TDataSet : public QObject {
  Q_OBJECT

 public:
  explicit TDataSet(QObject* owner = nullptr);
  ~TDataSet() override;

  // ---- Opening and closing ----
  bool Active() const { return state_ != dsInactive; }
  void SetActive(bool value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  TDataSetState State() const { return state_; }
  bool Modified() const { return modified_; }

  // ---- Fields ----
  TFieldDefs& FieldDefs() { return fieldDefs_; }
  const TFields& Fields() const { return fields_; }
  int FieldCount() const { return fields_.Count(); }
  TField* FindField(const QString& name) const { return fields_.FindField(name); }
  TField* FieldByName(const QString& name) const;
  // True when the data set opened without fields of its own: OpenInternal then creates them
  // from the field definitions (CreateFields), and closing destroys them.
  bool DefaultFields() const { return defaultFields_; }
  bool AutoCalcFields() const { return autoCalcFields_; }
  void SetAutoCalcFields(bool value) { autoCalcFields_ = value; }
  // Bytes of the calculated-field area: for each calculated or lookup field a leading byte and
  // its native value, at the field's Offset.
  int CalcFieldsSize() const { return calcFieldsSize_; }

  // ---- The window and navigation ----
  int BufferCount() const { return bufferCount_; }
  int ActiveRecord() const { return activeRecord_; }
  int CurrentRecord() const { return currentRecord_; }
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  bool IsEmpty() const { return Active() && windowCount_ == 0; }
  int RecordCount();
  int RecNo();
  void SetRecNo(int value);
  int RecordSize() { return RecordDataSize(); }
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  // Moves the active record by `distance` records; returns how far it went.
  int MoveBy(int distance);
  // Rereads the window around the record at the cursor.
  void Resync(TResyncModes mode);

  bool FindFirst() { return FindStep(true, true); }
  bool FindLast() { return FindStep(true, false); }
  bool FindNext() { return FindStep(false, true); }
  bool FindPrior() { return FindStep(false, false); }
  bool Found() const { return found_; }

  // ---- Bookmarks ----
  int BookmarkSize() const { return bookmarkSize_; }
  TBookmark GetBookmark();
  void GotoBookmark(const TBookmark& bookmark);
  virtual bool BookmarkValid(const TBookmark& bookmark);
  // -1, 0, 1; an empty bookmark sorts first. The base compares the bytes.
  virtual int CompareBookmarks(const TBookmark& a, const TBookmark& b);

  // ---- Editing ----
  bool CanModify() { return CanModifyData(); }
  void Edit();
  void Insert();
  void Append();
  // Insert or Append, the values given to the fields in order (an invalid QVariant leaves a
  // field NULL), stored through AddRecord.
  void InsertRecord(const QVariantList& values) { AddRecordWith(values, false); }
  void AppendRecord(const QVariantList& values) { AddRecordWith(values, true); }
  void Post();
  void Cancel();
  void Delete();
  void Refresh();
  // Posts a modified record being edited or inserted, cancels an unmodified one.
  void CheckBrowseMode();
  // Lets the controls put their pending edits into the fields.
  void UpdateRecord();
  void SetKey();

  // ---- Filter ----
  QString Filter() const { return filter_; }
  void SetFilter(const QString& value);
  bool Filtered() const { return filtered_; }
  void SetFiltered(bool value);

  // ---- Controls ----
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return disableCount_ > 0; }
  // Runs `visit`, which may move the data set to read other records (First, MoveBy, SetRecNo,
  // bookmarks; nothing that edits), and then puts it back as it was: the same window of records,
  // the same active record, Bof and Eof. No data source hears of it and BeforeScroll and
  // AfterScroll do not fire. Only in browse state; what `visit` raised is raised afterwards.
  void Visit(const std::function<void()>& visit);
  // Whether `source` is fed by this data set, directly or through masters.
  bool IsLinkedTo(const TDataSource* source) const;
  // The master data source; none in the base.
  virtual TDataSource* DataSource() const { return nullptr; }

  // ---- Events ----
  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
  TDataSetNotifyEvent BeforeRefresh, AfterRefresh;
  TDataSetNotifyEvent OnNewRecord, OnCalcFields;
  TFilterRecordEvent OnFilterRecord;
  TDataSetErrorEvent OnPostError, OnEditError, OnDeleteError;

  // The error the framework raises; its context names this data set's class and name.
  [[noreturn]] void DatabaseError(const QString& message) const;
  void CheckActive() const;
  void CheckInactive() const;

 protected:
  // ---- What a descendant overrides ----
  virtual TRecordBufferHolder AllocateRecordBuffer() = 0;
  virtual void ReleaseRecordBuffer(TRecordBufferHolder& buffer) { buffer.reset(); }
  virtual TGetResult ReadRecord(TRecordBuffer buffer, TGetMode mode, bool doCheck) = 0;
  virtual int RecordDataSize() = 0;
  virtual void ReadBookmarkData(TRecordBuffer buffer, void* data) = 0;
  virtual void WriteBookmarkData(TRecordBuffer buffer, const void* data) = 0;
  virtual TBookmarkFlag ReadBookmarkFlag(TRecordBuffer buffer) = 0;
  virtual void WriteBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) = 0;
  // Copies the field's native value into `dest` (nothing without one); answers whether the
  // field has a value in the buffer of the current state (StateBuffer).
  virtual bool ReadFieldData(TField* field, void* dest) = 0;
  // Stores the native value (NULL without a source) and raises the field-change notification
  // (FieldChanged).
  virtual void WriteFieldData(TField* field, const void* source) = 0;
  virtual void OpenInternal() = 0;
  virtual void CloseInternal() = 0;
  virtual bool IsCursorActive() = 0;
  virtual void MoveBeforeFirst() = 0;
  virtual void MoveAfterLast() = 0;
  virtual void MoveToBookmark(const TBookmark& bookmark) = 0;
  virtual void MoveToRecordOf(TRecordBuffer buffer) = 0;
  virtual void InitNewRecord(TRecordBuffer buffer) = 0;
  // Stores the active record of the edit or insert state at the cursor.
  virtual void PostInternal() = 0;
  // Stores a record given whole (InsertRecord, AppendRecord); `append` says where.
  virtual void AddRecord(TRecordBuffer buffer, bool append) = 0;
  virtual void DeleteInternal() = 0;
  // Fills FieldDefs; the base leaves them as they are.
  virtual void BuildFieldDefs() {}
  virtual bool CanModifyData() { return true; }
  // -1 when unknown.
  virtual int RecordCountValue() { return -1; }
  // The cursor's record number from 1; -1 when unknown. The setter moves the cursor.
  virtual int RecordNumber() { return -1; }
  virtual void SetRecordNumber(int /*value*/) {}
  // Moves the cursor as FindFirst/FindLast/FindNext/FindPrior ask; answers whether a record was
  // reached. The base reaches none.
  virtual bool StepFind(bool /*restart*/, bool /*goForward*/) { return false; }
  // Prepares the record at the cursor for editing; the base has nothing to prepare.
  virtual void EditInternal() {}
  // Rereads the cursor's data before Refresh resynchronises; the base has nothing to reread.
  virtual void RefreshInternal() {}
  // A stream over a blob field's value in the current record; none in the base.
  virtual std::unique_ptr<QIODevice> OpenBlobStream(TField* field, TBlobStreamMode mode);
  // An exception that cannot travel on (while the data set is destroyed); the base writes it to
  // the warning log.
  virtual void HandleInternalException(const std::exception_ptr& error);
  // Sets the calculated fields of `buffer` to NULL; the framework calls it for a new record.
  virtual void ClearCalcFields(TRecordBuffer buffer);
  // The data set's change notifications; a descendant may watch them.
  virtual void DataEvent(TDataEvent event, const void* info = nullptr);

  // ---- What the framework offers a descendant ----
  void SetBookmarkSize(int value) { bookmarkSize_ = value; }
  // The buffer fields of the current state read and write: browse: the active record (none
  // when empty); edit and insert: the active record; set key: the key buffer; calculated fields
  // and filter: the buffer given with the temporary state.
  TRecordBuffer StateBuffer() const;
  TRecordBuffer ActiveBuffer() const;
  TRecordBuffer KeyBuffer() const { return keyBuffer_.get(); }
  // Enters the calculated-fields or filter state with `buffer` as its buffer; returns the state
  // to give RestoreState.
  TDataSetState SetTempState(TDataSetState state, TRecordBuffer buffer);
  void RestoreState(TDataSetState previous);
  // Runs OnCalcFields on `buffer` (when there are calculated fields).
  void GetCalcFields(TRecordBuffer buffer);
  // The notification WriteFieldData raises.
  void FieldChanged(TField* field) { DataEvent(deFieldChange, field); }
  void CreateFields();
  void DestroyFields();
  // Binds the data fields to the field definitions (field numbers, type check) and lays out the
  // calculated-field area; unbinding clears the numbers.
  void BindFields(bool binding);
  void SetState(TDataSetState value);
  void CursorPosChanged() { currentRecord_ = -1; }
  void UpdateCursorPos();
  void ClearBuffers();

 private:
  friend class TField;
  friend class TDataSource;
  friend class TDataLink;

  void OpenCursor();
  void CloseCursor();
  void SetBufferCount(int value);
  void UpdateBufferCount();
  void SetCurrentRecord(int index);
  bool GetNextRecord();
  bool GetPriorRecord();
  int GetNextRecords();
  int GetPriorRecords();
  void ActivateBuffers();
  bool FindStep(bool restart, bool goForward);
  void BeginInsertAppend();
  void EndInsertAppend();
  void InitRecord(TRecordBuffer buffer);
  void AddRecordWith(const QVariantList& values, bool append);
  void FinishPost(bool add, bool append);
  void CheckCanModify() const;
  void CheckRequiredFields();
  void CalculateFields();
  void CheckOperation(void (TDataSet::*operation)(), const TDataSetErrorEvent& onError);
  void Fire(const TDataSetNotifyEvent& event) {
    if (event) event(this);
  }
  // Field access from TField.
  bool GetFieldData(TField* field, void* dest);
  void SetFieldData(TField* field, const void* source);
  void AddField(TField* field);
  void RemoveField(TField* field);
  void AddDataSource(TDataSource* source);
  void RemoveDataSource(TDataSource* source);
  void SetActiveRecordIndex(int index) { activeRecord_ = index; }
  int WindowCount() const { return windowCount_; }

  TDataSetState state_ = dsInactive;
  TFieldDefs fieldDefs_;
  TFields fields_;
  QList<TDataSource*> dataSources_;
  // bufferCount_ window buffers and the spare (last).
  std::vector<TRecordBufferHolder> buffers_;
  TRecordBufferHolder keyBuffer_;
  TRecordBuffer tempBuffer_ = nullptr;  // of the calculated-fields and filter states
  int bufferCount_ = 1;
  int windowCount_ = 0;  // records in the window
  int activeRecord_ = 0;
  int currentRecord_ = -1;
  int bookmarkSize_ = 0;
  int calcFieldsSize_ = 0;
  int disableCount_ = 0;
  bool disabledEvent_ = false;
  bool disabledActive_ = false;
  bool bof_ = true, eof_ = true;
  bool modified_ = false;
  bool found_ = false;
  bool defaultFields_ = false;
  bool autoCalcFields_ = true;
  bool filtered_ = false;
  QString filter_;
};
