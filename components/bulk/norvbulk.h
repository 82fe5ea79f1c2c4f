// The bulk copy component: moves the rows of one server table through Bulk-Library, between the
// table and a delimited data file.
//
// BulkCopy prepares the copy (connection checks, column descriptions, blk_alloc, blk_init, one
// bind per column) and then moves the rows: a file into the table (Direction bdIn) or the table
// into a file (bdOut). The data file is text, one row per line: fields separated by a TAB
// (bcCharacter) or by FieldTerminator (bcNone), rows ending in CR LF; bcNative writes each value
// back to back. Lines are read with LF or CR LF ends.
//
// What the plain file format cannot carry is refused rather than written: a value holding the
// field separator or a line break stops a copy-out, naming its row and column, and the file keeps
// only the whole rows before it. A line with the wrong number of fields, or a field that does not
// convert to its column's type, stops a copy-in naming its line and column; the batch under way
// is abandoned, batches committed before it stay. NULL copies out as an empty field, and an empty
// field copies into a nullable column as NULL (into a NOT NULL character column as an empty
// string).
//
// With Background true (the default) BulkCopy prepares the copy in the caller's thread and hands
// the transfer to a ThreadBulk worker, returning at once. A caller stops it with
// Worker()->requestInterruption() while Running is true; destroying the component stops and
// joins it. When the component lives in the application's main thread, the copy events, the
// message events and every message box of the worker reach it there, queued in their order, so
// no handler runs on the worker; the counters and flags may be read at any time.
//
// Table to table: with SrcTarDbName and SrcTarTableName filled the rows move between two tables
// behind two connection components, each value converted from the sending column's own type to
// the receiving column's; Direction bdIn copies the source/target table into TableName, bdOut the
// other way.
#pragma once

#include "connection/component.h"
#include "connection/norvexception.h"
#include "connection/norvtypes.h"
#include "connection/openclient.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class QTimer;
class TNorvDatabase;
class ThreadBulk;

enum TFormat { bcNative, bcCharacter, bcNone };
enum TBulkDirection { bdIn, bdOut };

using TBeforeCopyEvent = TNotifyEvent;
using TAfterCopyEvent = TNotifyEvent;
using TBeforeRowEvent = TNotifyEvent;
using TAfterRowEvent = TNotifyEvent;
using TOnBatchEvent = TNotifyEvent;

class TNorvBulk : public QObject,
                  public TDbMessageReporter,
                  public TComponentCommon,
                  public TDbNameProperty {
  Q_OBJECT
 public:
  explicit TNorvBulk(QObject* owner = nullptr);
  ~TNorvBulk() override;

  TNorvBulk(const TNorvBulk&) = delete;
  TNorvBulk& operator=(const TNorvBulk&) = delete;

  QString Name() const { return objectName(); }
  void SetName(const QString& name) { setObjectName(name); }

  // ---- Properties ----------------------------------------------------------------------------
  TFormat Format() const { return format_; }
  void SetFormat(TFormat value) { format_ = value; }
  QString FieldTerminator() const { return fieldTerminator_; }
  void SetFieldTerminator(const QString& value) { fieldTerminator_ = value; }
  // Kept and stored; rows always end as the file format says.
  QString RowTerminator() const { return rowTerminator_; }
  void SetRowTerminator(const QString& value) { rowTerminator_ = value; }
  // Source rows counted from 1; 0 and 1 act the same. LastRow 0: no limit.
  uint32_t FirstRow() const { return firstRow_; }
  void SetFirstRow(uint32_t value) { firstRow_ = value; }
  uint32_t LastRow() const { return lastRow_; }
  void SetLastRow(uint32_t value) { lastRow_ = value; }
  // Rows per committed batch when copying into a table; 0: one batch.
  uint32_t BatchSize() const { return batchSize_; }
  void SetBatchSize(uint32_t value) { batchSize_ = value; }
  // Kept and stored; no copy reads it.
  QString ErrorFile() const { return errorFile_; }
  void SetErrorFile(const QString& value) { errorFile_ = value; }
  QString DataFile() const { return dataFile_; }
  void SetDataFile(const QString& value) { dataFile_ = value; }
  // Copy-out writes datetime and smalldatetime columns as the desktop's own date-time text.
  bool NativeDtFmt() const { return nativeDtFmt_; }
  void SetNativeDtFmt(bool value) { nativeDtFmt_ = value; }
  // Transfer on a ThreadBulk worker.
  bool Background() const { return background_; }
  void SetBackground(bool value) { background_ = value; }
  // The columns are described through a cursor.
  bool GetKeys() const { return getKeys_; }
  void SetGetKeys(bool value) { getKeys_ = value; }
  TBulkDirection Direction() const { return direction_; }
  void SetDirection(TBulkDirection value) { direction_ = value; }
  // DbName (inherited): the connection component's Name, at most 30 characters.
  QString TableName() const { return tableName_; }
  void SetTableName(const QString& value) { tableName_ = NorvObjectname(value.trimmed()); }
  QString SrcTarDbName() const { return srcTarDbName_; }
  void SetSrcTarDbName(const QString& value) { srcTarDbName_ = NorvObjectname(value); }
  QString SrcTarTableName() const { return srcTarTableName_; }
  void SetSrcTarTableName(const QString& value) {
    srcTarTableName_ = NorvObjectname(value.trimmed());
  }

  // ---- Events (the four message events and the message switches are inherited) ---------------
  TBeforeCopyEvent BeforeCopy;
  TAfterCopyEvent AfterCopy;
  TBeforeRowEvent BeforeRow;
  TAfterRowEvent AfterRow;
  TOnBatchEvent OnBatch;

  // ---- Operations ----------------------------------------------------------------------------
  virtual void BulkCopy();

  // ---- Run-time state --------------------------------------------------------------------------
  // Safe to read while a worker runs.
  uint32_t RowsCopied() const { return rowsCopied_; }
  uint32_t CurrentRow() const { return currentRow_; }
  uint32_t BatchCount() const { return batchCount_; }
  bool CopyOk() const { return copyOk_; }
  bool BlkReady() const { return blkReady_; }
  bool MoreRows() const { return moreRows_; }
  bool Running() const { return running_; }
  // The worker of the background copy under way; null once the copy's last event has been
  // delivered and the worker freed.
  QThread* Worker() const;
  // What follows belongs to the copy: read it while Running is false.
  // The fields of the current data-file line.
  const std::vector<std::string>& FieldList() const { return fields_; }
  int ColumnCount() const { return columnCount_; }
  // A Bulk-Library descriptor is held (between preparation and release), on either side.
  bool HasDescriptor() const;
  // Both table-to-table names are filled (after trimming blanks).
  bool IsTableToTable() const;

  // The query component's column description, one per column of the table.
  struct ColumnDescription {
    QString Name;
    int NameLength = 0;
    int MaxLength = 0;
    int Scale = 0;
    int Precision = 0;
    int DataType = 0;
    int Format = 0;
    int UserType = 0;
    int Status = 0;
  };
  const ColumnDescription& Column(int n) const { return columns_.at(static_cast<size_t>(n)); }

 protected:
  friend class ThreadBulk;
  // The worker's body: the transfer, the release and the two copy events.
  void Execute(ThreadBulk* worker);
  // The steps of a copy, in the order BulkCopy runs them.
  void CheckBulkConnection();
  void ReadColumns();
  void PrepareCopy();
  bool DescribeColumn(int i, CS_DATAFMT& fmt);
  bool BindColumn(int i, CS_DATAFMT& fmt);
  void BindOut();
  void BindIn();
  void CopyInFromFile();
  void CopyOutToFile();
  void ReleaseCopy();
  // Table to table: the source/target side.
  void PrepareSrcTar();
  void CopyTableIn();
  void CopyTableOut();
  void ReleaseSrcTar();
  // Raises ENorvException with `text`; once a worker has been started, shows it in a message box
  // instead and returns.
  void ReportError(const QString& text);
  // Ends this component's own Bulk-Library operation if one is under way; other components on
  // the same connection are left alone.
  void CancelPending();

 private:
  // One column's bound buffer with the length and indicator Bulk-Library reads or writes beside
  // it, and the column's value as text.
  struct Record {
    CS_SMALLINT Indicator = 0;
    CS_INT DataLength = 0;
    CS_DATAFMT Fmt{};          // as blk_describe gave it
    std::vector<char> Buffer;  // the out buffer (copy-out) or the in buffer (copy-in)
    std::string Text;          // a converted value's text
    std::string_view Value;    // the value as text: in the buffer, the line or Text
    bool Nullable = false;
    bool CharLike = false;   // char, varchar, text: values are their bytes
    bool Variable = false;   // the value's length is what conversion wrote
    bool Growable = false;   // text and image: the in buffer grows to the value
    CS_INT FixedLength = 0;  // what a fixed-length value's conversion writes
  };

  void Check(bool raise = true);
  // The worker running this call, if any, and whether it was asked to stop.
  static ThreadBulk* CurrentWorker();
  static bool StopRequested();
  QObject* EventSender();
  // Runs `call` in the component's thread when a worker calls and the component lives in the
  // application's main thread (queued, in order); at once otherwise.
  void Deliver(std::function<void()> call);
  // Queues `call` for the component's thread; the calls run there in the order queued.
  void Post(std::function<void()> call);
  // The component's thread: runs what has been queued; once the worker is done, frees it.
  void DrainEvents();
  void Fire(const TNotifyEvent& event);
  void Relay(TNotifyEvent TDbMessageReporter::*event);
  void StopWorker();
  void Transfer();
  // Ends the transfer after a stop request: the side is released and the connection cancelled.
  void Abandon();
  // Sends the last batch and ends a copy into a table; true when the server took both.
  bool FinishCopyIn();
  // Table to table: the row `from` fetched, converted into this side's buffers.
  bool ConvertFrom(const TNorvBulk& from);
  void SendRowTo(TNorvBulk& target, const TNorvBulk& source);
  CS_INT LongestValue(int i);
  bool SplitFields(const std::string& separator, const std::string& line, size_t lineNumber);
  bool ConvertIn(int i, const char* text, size_t length, size_t lineNumber);
  void SendRow(size_t lineNumber);
  CS_RETCODE FetchRow();
  void ConvertOut(int i);
  std::string DateTimeFromText(const std::string& text);
  void CompleteBatch();
  bool InWindow() const;
  std::string Separator() const;
  QString ColumnLabel(int i) const;

  TFormat format_ = bcCharacter;
  QString fieldTerminator_;
  QString rowTerminator_;
  uint32_t firstRow_ = 0;
  uint32_t lastRow_ = 0;
  uint32_t batchSize_ = 0;
  QString errorFile_;
  QString dataFile_;
  bool nativeDtFmt_ = false;
  bool background_ = true;
  bool getKeys_ = false;
  TBulkDirection direction_ = bdOut;
  QString tableName_;
  QString srcTarDbName_;
  QString srcTarTableName_;

  std::atomic<uint32_t> rowsCopied_ = 0;
  std::atomic<uint32_t> currentRow_ = 0;
  std::atomic<uint32_t> batchCount_ = 0;
  std::atomic<bool> copyOk_ = false;
  std::atomic<bool> blkReady_ = false;
  std::atomic<bool> moreRows_ = false;
  std::atomic<bool> running_ = false;
  QPointer<ThreadBulk> worker_;
  // Once a worker has been started, ReportError shows message boxes instead of raising.
  bool workerStarted_ = false;
  // What the worker queued for the component's thread, under its own lock so that the hand-over
  // is plain to see.
  std::mutex postedMutex_;
  std::vector<std::function<void()>> posted_;
  // Polls the queue while a worker runs: the worker itself never calls into Qt's event queues.
  QTimer* drainTimer_ = nullptr;
  // A worker's messages land here and go on to this component's texts and events.
  std::unique_ptr<TNorvBulk> sink_;
  // Table to table: the source/target side, a component of its own; `main_` is set on it.
  std::unique_ptr<TNorvBulk> srcTar_;
  TNorvBulk* main_ = nullptr;
  // The values are fetched in their own types for a table-to-table copy.
  bool rawOut_ = false;
  int failedColumn_ = 0;  // the column ConvertFrom could not convert

  oc::Connection* con_ = nullptr;
  oc::Context* ctx_ = nullptr;
  int columnCount_ = 0;
  std::vector<ColumnDescription> columns_;  // 1..columnCount_
  std::vector<Record> records_;             // 1..columnCount_
  std::vector<std::string> fields_;         // the current line's fields
  std::vector<char> scratch_;               // ConvertOut's conversion target
  std::vector<CS_INT> longest_;             // text and image: the longest value held
  // Declared after the buffers: the descriptor holds pointers into them and goes first.
  oc::BlkHandle blk_;
};

// Moves the rows of one TNorvBulk copy on a thread of its own. A child of the component, which
// frees it once the transfer has ended and stops and joins it when destroyed mid-copy.
class ThreadBulk : public QThread {
  Q_OBJECT
 public:
  explicit ThreadBulk(TNorvBulk* bulk);
  ~ThreadBulk() override;
  TNorvBulk* Bulk() const { return bulk_; }

 protected:
  void run() override;

 private:
  TNorvBulk* bulk_;
};
