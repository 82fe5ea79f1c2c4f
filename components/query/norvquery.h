// The query component: sends one SQL batch over a command of its own, walks the result stream and
// offers the rows of every result set, one row at a time, as text columns.
//
// Calling order: set DbName, Sql and options; Execute; then Fetch (or Next) until it returns 0,
// reading the columns after each successful call. A new result set begins when BeforeCommand
// fires. The column names of a result set without rows can be read right after Execute.
//
// Rows are never buffered: each Fetch reads the next row from the server into one text buffer per
// column, reused for every row of a set.
#pragma once

#include "connection/component.h"
#include "connection/norvexception.h"
#include "connection/norvtypes.h"
#include "connection/openclient.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

class TNorvDatabase;

// The bind buffers of one result set, with the length and indicator Client-Library writes beside
// each (columns numbered from 1). Client-Library writes through every bound buffer at each
// fetch, so Reset unbinds each bound column before anything is freed: a bind that fails part-way
// never leaves an earlier column writing into released memory.
class TBindSet {
 public:
  TBindSet() = default;
  TBindSet(const TBindSet&) = delete;
  TBindSet& operator=(const TBindSet&) = delete;

  // Unbinds every bound column on `cmd`, frees the buffers and makes room for `count` columns.
  void Reset(oc::Command* cmd, int count = 0);
  // Binds column `n` as `fmt` describes into a fresh zeroed buffer of `size` bytes.
  CS_RETCODE Bind(oc::Command* cmd, int n, CS_DATAFMT& fmt, size_t size);
  // The column's zero-terminated text; null when it is not bound.
  const char* Text(int n) const {
    const Slot* slot = At(n);
    return slot && slot->bound ? slot->buffer.get() : nullptr;
  }
  CS_INT Copied(int n) const { return At(n) ? At(n)->copied : 0; }
  CS_SMALLINT Indicator(int n) const { return At(n) ? At(n)->indicator : 0; }
  bool Bound(int n) const { return At(n) && At(n)->bound; }

 private:
  struct Slot {
    std::unique_ptr<char[]> buffer;
    CS_INT copied = 0;
    CS_SMALLINT indicator = 0;
    bool bound = false;
  };
  const Slot* At(int n) const {
    return n >= 1 && n < static_cast<int>(slots_.size()) ? &slots_[static_cast<size_t>(n)]
                                                         : nullptr;
  }
  // Sized once per result set and never resized while bound: the library keeps pointers into it.
  std::vector<Slot> slots_;
};

// The states a Client-Library cursor reports through CS_CUR_STATUS; a status always holds None.
enum class TCursorState { None, Declared, Open, Closed, ReadOnly, Updatable };
using TCursorStatus = TSet<TCursorState>;

class TNorvQuery : public QObject,
                   public TDbMessageReporter,
                   public TComponentCommon,
                   public TDbNameProperty {
  Q_OBJECT
 public:
  explicit TNorvQuery(QObject* owner = nullptr);
  // Closes an open cursor and pending results while the connection still stands; never throws.
  ~TNorvQuery() override;

  TNorvQuery(const TNorvQuery&) = delete;
  TNorvQuery& operator=(const TNorvQuery&) = delete;

  QString Name() const { return objectName(); }
  void SetName(const QString& name) { setObjectName(name); }

  // ---- Properties ----------------------------------------------------------------------------
  QString Sql() const { return sql_; }
  void SetSql(const QString& value) { sql_ = value; }
  // DbName (inherited): the connection component's Name; cut to 30 characters, then
  // PrepareCommand runs.
  // True once a batch was sent. True runs PrepareCommand and connects the connection; False
  // closes the results and drops the command.
  bool Active() const { return active_; }
  void SetActive(bool value);
  bool IsCursor() const { return isCursor_; }
  void SetIsCursor(bool value) { isCursor_ = value; }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool value) { readOnly_ = value; }
  int CurFetchRows() const { return curFetchRows_; }
  void SetCurFetchRows(int value) { curFetchRows_ = value; }
  // Read columns piecewise with ct_get_data instead of binding them.
  bool TextImage() const { return textImage_; }
  void SetTextImage(bool value) { textImage_ = value; }
  // Row limit; 0 or less means none.
  int MaxRows() const { return maxRows_; }
  void SetMaxRows(int value) { maxRows_ = value; }
  bool TrimResults() const { return trimResults_; }
  void SetTrimResults(bool value) { trimResults_ = value; }
  // Dates re-rendered in the desktop's own short date-time format.
  bool NativeDtFmt() const { return nativeDtFmt_; }
  void SetNativeDtFmt(bool value) { nativeDtFmt_ = value; }
  // Whether failures raise; Execute sets it True, or False for a grid owner working in the
  // background (a "TNorvGrid" owner whose Qt property "Background" is true).
  bool RaiseErrors() const { return raiseErrors_; }
  void SetRaiseErrors(bool value) { raiseErrors_ = value; }

  // ---- Events (MsgDialogs, ShowDbMessages and the four message events are inherited) ----------
  TNotifyEvent BeforeExec;
  TNotifyEvent AfterExec;
  TNotifyEvent BeforeCommand;  // the first row of a new command number is in the buffers
  TNotifyEvent OnMaxRows;
  // Each result set's columns are described, before its first row is fetched: a set without
  // rows is seen too (not in TextImage mode, where columns are described with each row).
  TNotifyEvent AfterDescribe;
  // Each statement of the batch is done; DoneRowCount says what it counted.
  TNotifyEvent AfterCommandDone;

  // ---- Operations ----------------------------------------------------------------------------
  // CS_SUCCEED when the batch was sent and its first results taken; 0 when the result stream
  // failed or was cancelled, when the connection is not connected after preparation, or when
  // login is impossible and RaiseErrors is False.
  virtual int Execute();
  // 1 when a row is in the column buffers (possibly the first row of the next result set); 0
  // when the batch is exhausted, the row limit was hit, or nothing was executed.
  virtual int Fetch();
  // Fetch; on a row counts RecNo and returns true.
  bool Next();

  // Abandons what the server still has for this command, as the connection's Rdbms requires.
  void CloseResults();
  // Cursor mode: closes (with deallocation) or deallocates the cursor.
  void CloseCursor();
  // Closes results and cursor, drops the command and allocates a fresh one on the connection.
  void PrepareCommand();
  void DropCommand();
  TCursorStatus CursorStatus();

  // Fills the column descriptions of Sql without reading rows (format-only, on a cursor); the
  // connection's ProcOptions are restored afterwards, also when the server rejects the SQL.
  void DescribeColumns();

  // ---- Columns (numbered from 1; outside 1..ColumnCount: empty text, 0, false) ----------------
  QString FieldValue(int column) const;
  QString FieldName(int column) const;
  int FieldType(int column) const;
  QString FieldTypeName(int column) const;
  int FieldMaxLength(int column) const;
  int FieldNameLength(int column) const;
  int FieldScale(int column) const;
  int FieldPrecision(int column) const;
  int FieldFormat(int column) const;
  int FieldUserType(int column) const;
  int FieldStatus(int column) const;
  int FieldDisplayWidth(int column) const;
  bool FieldIsNullable(int column) const;
  bool FieldIsTimestamp(int column) const;
  bool FieldIsIdentity(int column) const;
  // The column of the current row holds NULL (its text is then empty).
  bool FieldIsNull(int column) const;

  // ---- Run-time state --------------------------------------------------------------------------
  int RowsAffected() const { return rowsAffected_ < 0 ? 0 : rowsAffected_; }
  // The server's count for the statement last done; -1 when it sent none (set nocount on, or a
  // statement that counts nothing).
  int DoneRowCount() const { return doneRowCount_; }
  // The status a procedure of the last batch returned; HasReturnStatus is false until one came.
  bool HasReturnStatus() const { return hasReturnStatus_; }
  int ReturnStatus() const { return returnStatus_; }
  bool HadRows() const { return hadRows_; }
  int ColumnCount() const { return columnCount_; }
  int BoundCount() const { return boundCount_; }
  int FetchCount() const { return fetchCount_; }
  int RecNo() const { return recNo_; }
  int RowInCommand() const { return rowInCommand_; }
  int LastCommandNumber() const { return lastCommandNumber_; }
  QString CursorName() const { return cursorName_; }
  bool Executed() const { return executed_; }
  CS_INT ResultType() const { return resultType_; }
  CS_RETCODE ResultsReturn() const { return resultsReturn_; }
  int LastReturn() const { return lastReturn_; }
  bool MoreResults() const { return moreResults_; }
  bool RowReady() const { return rowReady_; }
  bool NeedFetch() const { return needFetch_; }
  bool SkipFirstFetch() const { return skipFirstFetch_; }
  bool FirstDescribe() const { return firstDescribe_; }
  oc::Command* CommandHandle() const { return cmd_.get(); }

  // The router stores through these; each value is copied to a recognised owner as well.
  void SetDbErrorText(const QString& value) override;
  void SetDbServerMsg(const CS_SERVERMSG& value) override;
  void SetDbMessageText(const QString& value) override;

  // One column's description and value, rebuilt for each result set. Its bind buffer lives in
  // the query's bind set; Indicator and CopiedLength are copied from there at each fetch.
  struct Column {
    QString Name;
    int NameLength = 0;
    int MaxLength = 0;
    int Scale = 0;
    int Precision = 0;
    int DataType = 0;
    int Format = 0;
    int UserType = 0;
    int Status = 0;
    CS_SMALLINT Indicator = 0;
    QString Value;
    CS_INT CopiedLength = 0;
    int DisplayWidth = 0;
  };

 protected:
  void DbNameChanged() override;

 private:
  TNorvDatabase* Database() const;
  std::vector<TServerMessageRecord> FailureRecords() const;
  oc::Connection* Connection() const;
  void HandleMessages();
  int ProcessResult();
  void FetchRow();
  bool BindColumns(int count);
  void DescribeInto(Column& column, const CS_DATAFMT& fmt);
  void ReadTextImageRow();
  QString ConvertToText(const Column& column, const void* data, CS_INT length);
  void RenderNativeDates();
  void ReadRowCount();
  void FreeBuffers();
  void NewCursorName();
  void OpenCursor();
  void DrainResults();
  void CloseAndDeallocate(bool readAll);
  bool ConnectionLost() const;
  void ReportLostConnection();
  const Column* At(int column) const;
  oc::Context* ContextHandle() const;

  QString sql_;
  bool active_ = false;
  bool isCursor_ = false;
  bool readOnly_ = false;
  int curFetchRows_ = 10;
  bool textImage_ = false;
  int maxRows_ = 0;
  bool trimResults_ = false;
  bool nativeDtFmt_ = false;
  bool raiseErrors_ = true;

  // The connection's handle is always read through the command: the adapter clears it when the
  // connection is dropped, so a disconnected connection is never touched through a stale copy.
  oc::CommandHandle cmd_;

  CS_INT resultType_ = 0;
  CS_RETCODE resultsReturn_ = 0;
  int lastReturn_ = 0;
  bool hasReturnStatus_ = false;
  int returnStatus_ = 0;
  int columnCount_ = 0;
  int boundCount_ = 0;
  std::int32_t rowsAffected_ = 0;
  std::int32_t doneRowCount_ = -1;
  bool hadRows_ = false;
  int fetchCount_ = 0;
  int rowInCommand_ = 0;
  int lastCommandNumber_ = 0;
  int recNo_ = 0;
  QString cursorName_;
  bool executed_ = false;
  bool moreResults_ = false;
  bool rowReady_ = true;
  bool needFetch_ = false;
  bool skipFirstFetch_ = false;
  bool firstDescribe_ = true;

  std::vector<Column> columns_;  // element 0 unused
  TBindSet binds_;
};
