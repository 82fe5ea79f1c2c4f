// The server data set: a TDataSet over a read-only Client-Library cursor on a SELECT text.
//
// Opening probes the statement's columns on a cursor of their own (field definitions), then
// declares the row cursor, binds its columns natively and leaves it open: rows are fetched one at
// a time, only when navigation asks for a record not yet read, and every fetched row stays in an
// in-memory cache of fixed-size record images for the life of the open data set. The record
// count is a provisional 1000 until the first fetch, then the rows cached so far, final once the
// cursor has no more rows (it is then closed on the server). Edits, inserts and deletes change
// the cache only; a descendant turns them into statements.
//
// Record image: per field definition its value then a null byte (1 = NULL). Record buffer: the
// image, a 20-byte information block (bookmark = cache index at 12, flag at 16), then the
// calculated-field area.
//
// Master and detail: DataSource names a master's data source. When the master opens or moves to
// another record, an open detail prepares its statement when it is not prepared yet and, when it
// has parameters, closes and opens again; when the master closes, the detail closes. A detail
// that is closed stays closed and untouched until it is opened. Whenever a detail opens with its
// master open (the first time too, for the SQL data set) its parameters take the values and types
// of the master record's fields of the same names, over what BeforeOpen set; a parameter without
// such a field keeps its value. The master link (MasterLink, norvdatalink.h) does the same through
// MasterChanged for a descendant that attaches it.
//
// Blob fields: the record layout has none, so BlobSlot answers no slot here; a descendant that
// has blob fields answers where it keeps each record's TNorvBlob (norvblob.h).
#pragma once

#include "connection/component.h"
#include "connection/norvtypes.h"
#include "connection/openclient.h"
#include "dataset/framework/dataset.h"
#include "dataset/framework/params.h"

#include <QByteArray>
#include <QIODevice>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class TDataSource;
class TNorvBlob;
class TNorvBlobStream;
class TNorvDataLink;
class TNorvQueryDataLink;
class TNorvDatabase;

enum TSortDirection { sdASC, sdDESC };

// One column of the open cursor, as ct_describe gave it.
struct NorvColumnDesc {
  QString Name;  // at most 30 characters
  int NameLength = 0;
  int MaxLength = 0;
  int Scale = 0;
  int Precision = 0;
  int DataType = 0;
  int Format = 0;
  int UserType = 0;
  int Status = 0;
};

// One bound column. The buffer is written by the library at every fetch, so a binding is never
// moved or freed while its command can still fetch.
struct NorvColumnBinding {
  CS_SMALLINT Indicator = 0;
  std::unique_ptr<char[]> Buffer;
  CS_INT Copied = 0;
  int DisplayLength = 0;
};

// The field type a server datatype name maps to; ftUnknown for types the data sets cannot hold.
TFieldType NorvFieldTypeOf(const QString& typeName);

class TNorvDataSet : public TDataSet,
                     public TDbMessageReporter,
                     public TComponentCommon,
                     public TDbNameProperty {
  Q_OBJECT

 public:
  explicit TNorvDataSet(QObject* owner = nullptr);
  ~TNorvDataSet() override;

  QString Name() const { return objectName(); }
  void SetName(const QString& name) { setObjectName(name); }

  // ---- Properties ----------------------------------------------------------------------------
  bool TypeErrCont() const { return typeErrCont_; }
  void SetTypeErrCont(bool value) { typeErrCont_ = value; }
  bool TypeErrShow() const { return typeErrShow_; }
  void SetTypeErrShow(bool value) { typeErrShow_ = value; }
  bool ReadOnly() const { return readOnly_; }
  // Only while closed.
  void SetReadOnly(bool value);
  int FetchRows() const { return fetchRows_; }
  void SetFetchRows(int value) { fetchRows_ = value; }
  TSortDirection SortDirection() const { return sortDirection_; }
  void SetSortDirection(TSortDirection value) { sortDirection_ = value; }

  // ---- Run-time state --------------------------------------------------------------------------
  int CachedCount() const { return cachedCount_; }
  // The bytes the record cache holds (RecordSize per record once every row is in).
  qsizetype CacheBytes() const { return cache_.capacity(); }
  bool MoreRows() const { return moreRows_; }
  int ColumnCount() const { return static_cast<int>(columns_.size()); }
  // Column n from 1.
  const NorvColumnDesc& Column(int n) const { return columns_.at(static_cast<size_t>(n - 1)); }
  // The probed column names joined by ", ".
  QString FieldList() const { return fieldList_; }
  QString CursorName() const { return cursorName_; }
  // The connection's database name, taken when the field definitions were built.
  QString ServerDbName() const { return serverDbName_; }
  // The slot offset of field number n (from 1) in the record image.
  int FieldOffset(int n) const { return offsets_.at(static_cast<size_t>(n - 1)); }
  // Whether the statement runs as the prepared "PrepId" statement.
  bool Prepared() const { return prepared_; }

  // ---- Statements with parameters --------------------------------------------------------------
  TParams& Params() { return params_; }
  const TParams& Params() const { return params_; }
  virtual TParam& ParamByName(const QString& name) { return params_.ParamByName(name); }
  // Prepares the dynamic statement text as "PrepId" (deallocating an earlier one first).
  virtual void PrepareStatement();
  virtual void UnprepareStatement();
  // Runs the dynamic statement text without a cursor; the row count is that of the server.
  virtual void ExecStatement();
  int RowCount() const { return rowCount_; }
  // The statement with every ":name" replaced by "?".
  QString DynamicText() const { return dynamicText_; }
  void SetDynamicText(const QString& value) { dynamicText_ = value; }
  // The text of a field's value in the snapshot of the record being edited or deleted; empty
  // for NULL.
  QString SnapshotFieldText(TField* field) const;

  // ---- Master and detail -----------------------------------------------------------------------
  // The master's data source; none detaches the data set from its master.
  TDataSource* DataSource() const override;
  // Raises "Circular datalinks are not allowed" (and keeps the old one) when `source` is fed by
  // this data set.
  void SetDataSource(TDataSource* source);
  // The master of DataSource opened or moved to another record.
  virtual void RefreshDetail();
  // The master of MasterLink moved: reopens while that master is open and not setting a key.
  virtual void MasterChanged();

 protected:
  // Attached to a master by a descendant only (MasterLink().SetDataSource(source)).
  TNorvQueryDataLink& MasterLink() { return *masterLink_; }
  // Where the record in `buffer` keeps the TNorvBlob of `field`; none here (no blob fields).
  virtual std::unique_ptr<TNorvBlob>* BlobSlot(TField* /*field*/, TRecordBuffer /*buffer*/) {
    return nullptr;
  }
  std::unique_ptr<QIODevice> OpenBlobStream(TField* field, TBlobStreamMode mode) override;
  // Gives the input parameters the values of the same-named fields of `master`'s record.
  void AssignMasterParams(TDataSet* master);

  // ---- Framework operations ------------------------------------------------------------------
  TRecordBufferHolder AllocateRecordBuffer() override;
  TGetResult ReadRecord(TRecordBuffer buffer, TGetMode mode, bool doCheck) override;
  int RecordDataSize() override { return recordSize_; }
  void ReadBookmarkData(TRecordBuffer buffer, void* data) override;
  void WriteBookmarkData(TRecordBuffer buffer, const void* data) override;
  TBookmarkFlag ReadBookmarkFlag(TRecordBuffer buffer) override;
  void WriteBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) override;
  bool ReadFieldData(TField* field, void* dest) override;
  void WriteFieldData(TField* field, const void* source) override;
  void BuildFieldDefs() override;
  void OpenInternal() override;
  void CloseInternal() override;
  bool IsCursorActive() override { return cursorOpen_; }
  void MoveBeforeFirst() override { current_ = -1; }
  void MoveAfterLast() override;
  void MoveToBookmark(const TBookmark& bookmark) override;
  void MoveToRecordOf(TRecordBuffer buffer) override;
  void InitNewRecord(TRecordBuffer buffer) override;
  void PostInternal() override;
  void AddRecord(TRecordBuffer buffer, bool append) override;
  void DeleteInternal() override;
  bool CanModifyData() override { return TDataSet::CanModifyData() && !readOnly_; }
  int RecordCountValue() override { return recordCount_; }
  int RecordNumber() override;
  void SetRecordNumber(int value) override;
  bool StepFind(bool restart, bool goForward) override;

  // ---- Operations of this data set and its descendants -----------------------------------------
  virtual void ReadCachedRecord(TRecordBuffer buffer, int index);
  virtual void WriteCachedRecord(TRecordBuffer buffer, int index);
  virtual void AppendCachedRecord(TRecordBuffer buffer);
  virtual void InsertCachedRecord(TRecordBuffer buffer, int index);
  virtual bool FilterAccepts(TRecordBuffer buffer);
  // `sortDirection`: "ASC", "DESC" or empty; only a table uses it.
  virtual void OpenRowCursor(const QString& sortDirection);
  virtual void SnapshotBeforeEdit();
  virtual void SnapshotBeforeDelete();
  // The column probe; true when it produced columns.
  virtual bool ReadColumns();

  CS_RETCODE ReadRowCursorRow(oc::Command* command, bool cursorMode);
  void CloseCommandCursor(oc::CommandHandle& command);
  CS_RETCODE FlushAndCancel(oc::Command* command);
  // Fills columns_ and bindings_; false when a column could not be described.
  bool DescribeAndBind(oc::Command* command, bool bindNatively);
  CS_RETCODE DeclareAndOpenCursor(oc::Command* command, const QString& cursorName,
                                  const QString& text);
  static QString CursorNameSuffix();
  // Sends every parameter but the ptResult ones; a NULL value goes with indicator -1.
  void SendParams(oc::Command* command);
  // 1 for success, 0 for failure.
  int ExecuteCommandText(const QString& text, int& rowCount);
  void ReadReturnStatus(oc::Command* command, bool check);
  void ReadReturnParams(oc::Command* command);
  // Reads a parameter row into the ptOutput parameters, in list order.
  void ReadOutputRow(oc::Command* command);
  // Refuses the parameters no conversion exists for.
  void CheckParamTypes();
  // The fetched text of bound column n (from 1); empty for NULL.
  QString BoundText(int n) const;
  // A fresh command on the connection of DbName (empty without one).
  oc::CommandHandle AllocateCommand();

  // The described columns and their bindings. A command that binds columns of its own while the
  // row cursor can still fetch swaps them out first and back afterwards, so the cursor's bound
  // buffers stay where the library writes them.
  struct BoundColumns {
    std::vector<NorvColumnDesc> columns;
    std::vector<CS_DATAFMT> formats;
    std::vector<NorvColumnBinding> bindings;
  };
  void SwapBoundColumns(BoundColumns& other);

  // The SELECT text the cursors are declared on; a descendant fills it.
  QStringList& StatementText() { return statement_; }
  const QStringList& StatementText() const { return statement_; }

 private:
  friend class TNorvBlobStream;
  std::unique_ptr<TNorvBlob>* ActiveBlobSlot(TField* field);
  void BlobChanged(TField* field) { FieldChanged(field); }
  void ReportBlobException(const std::exception_ptr& error) { HandleInternalException(error); }
  // Runs `step` with the controls disabled, enabling them again however it ends.
  template <typename Step>
  void WithControlsDisabled(Step step);

  TNorvDatabase* Database() const;
  void HandleMessages();
  int SlotSize(int fieldNo) const;
  void ComputeLayout();
  CS_RETCODE EnsureCached(int index);
  void StoreRow();
  QString SlotText(const char* slot, int fieldNo) const;
  void TakeSnapshot();
  bool AcceptColumn(const CS_DATAFMT& fmt);
  char* InfoBlock(TRecordBuffer buffer) const { return buffer + recordSize_; }

  bool typeErrCont_ = false;
  bool typeErrShow_ = true;
  bool readOnly_ = false;
  int fetchRows_ = 10;
  TSortDirection sortDirection_ = sdASC;
  bool prepared_ = false;
  TParams params_;
  QString dynamicText_;
  int rowCount_ = 0;
  oc::CommandHandle prepCmd_;
  CS_DATAFMT paramFormat_{};  // reused for every ct_param

  QStringList statement_;
  QString cursorName_;
  QString fieldList_;
  QString serverDbName_;

  oc::CommandHandle rowCmd_;
  oc::CommandHandle probeCmd_;
  oc::Connection* con_ = nullptr;
  oc::Context* ctx_ = nullptr;

  std::vector<NorvColumnDesc> columns_;
  std::vector<CS_DATAFMT> formats_;  // as described, for cs_convert
  std::vector<NorvColumnBinding> bindings_;

  QByteArray cache_;
  QByteArray snapshot_;
  std::vector<int> offsets_;  // per field number - 1
  std::vector<TFieldType> types_;
  std::vector<int> sizes_;
  int recordSize_ = 0;
  int recordCount_ = 0;
  int cachedCount_ = 0;
  int current_ = -1;
  bool moreRows_ = false;
  bool cursorOpen_ = false;
  CS_INT resultType_ = 0;
  CS_RETCODE resultsReturn_ = 0;

  std::unique_ptr<TNorvDataLink> dataLink_;
  std::unique_ptr<TNorvQueryDataLink> masterLink_;
};
