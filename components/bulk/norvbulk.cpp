#include "bulk/norvbulk.h"

#include "connection/messagerouter.h"
#include "connection/norvdatabase.h"
#include "connection/presenter.h"
#include "connection/typenames.h"
#include "query/norvquery.h"

#include <QCoreApplication>
#include <QDate>
#include <QFile>
#include <QLocale>
#include <QTime>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

namespace {

// The server sends text and image values cut at the connection's text size; this one is assumed
// when the connection names none.
constexpr CS_INT kDefaultTextBuffer = 32768;
// A table's columns are numbered in one byte.
constexpr int kMaxColumns = 255;

struct CloseFile {
  void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, CloseFile>;

FilePtr OpenFile(const QString& path, const char* mode) {
  if (path.isEmpty()) return {};
  return FilePtr(std::fopen(QFile::encodeName(path).constData(), mode));
}

// A line without its end (LF or CR LF); false at the end of the file.
bool ReadLine(std::FILE* f, std::string& line) {
  line.clear();
  char chunk[8192];
  bool any = false;
  while (std::fgets(chunk, sizeof chunk, f)) {
    any = true;
    const size_t n = std::strlen(chunk);
    line.append(chunk, n);
    if (n > 0 && chunk[n - 1] == '\n') break;
  }
  if (!any) return false;
  if (!line.empty() && line.back() == '\n') line.pop_back();
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

// Whether a value holds a line break or the field separator. One pass over the value: this runs
// for every field of every row copied out.
bool BreaksLine(std::string_view value, const std::string& separator) {
  const char first = separator.empty() ? '\n' : separator.front();
  for (size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '\n' || c == '\r') return true;
    if (c == first && !separator.empty() && value.compare(i, separator.size(), separator) == 0)
      return true;
  }
  return false;
}

bool IsCharType(CS_INT t) {
  return t == CS_CHAR_TYPE || t == CS_VARCHAR_TYPE || t == CS_TEXT_TYPE || t == CS_LONGCHAR_TYPE;
}
bool IsBinaryType(CS_INT t) {
  return t == CS_BINARY_TYPE || t == CS_VARBINARY_TYPE || t == CS_IMAGE_TYPE ||
         t == CS_LONGBINARY_TYPE;
}
bool IsBlobType(CS_INT t) { return t == CS_TEXT_TYPE || t == CS_IMAGE_TYPE; }
bool IsNumericType(CS_INT t) { return t == CS_NUMERIC_TYPE || t == CS_DECIMAL_TYPE; }

bool ConnectionLost(oc::Connection* con) {
  CS_INT status = 0;
  return con &&
         oc::ct_con_props(con, CS_GET, CS_CON_STATUS, &status, CS_UNUSED, nullptr) == CS_SUCCEED &&
         (status & CS_CONSTAT_DEAD) != 0;
}

QString BatchNotCommitted(uint32_t lastRow, oc::Connection* con) {
  return QStringLiteral("blk_done Failed: the batch ending at row %1 is not committed")
             .arg(lastRow) +
         (ConnectionLost(con) ? QStringLiteral(" (the connection to the server was lost)")
                              : QString());
}

// What a worker would show goes to the component's thread, queued behind its events. Nothing
// there can answer a question, so the worker never waits for that thread.
class WorkerPresenter final : public norv::Presenter {
 public:
  explicit WorkerPresenter(std::function<void(std::function<void()>)> post)
      : post_(std::move(post)) {}
  void ShowMessageBox(const QString& caption, const QString& text, norv::MsgIcon icon) override {
    Post([=] { norv::CurrentPresenter().ShowMessageBox(caption, text, icon); });
  }
  void ShowMessageWindow(const QString& caption, const QString& text,
                         norv::PanelColour bottom) override {
    Post([=] { norv::CurrentPresenter().ShowMessageWindow(caption, text, bottom); });
  }
  void Beep() override {
    Post([] { norv::CurrentPresenter().Beep(); });
  }
  void SetWaitCursor(bool on) override {
    Post([on] { norv::CurrentPresenter().SetWaitCursor(on); });
  }
  bool LoginPrompt(norv::TLoginRequest&) override { return false; }
  bool Confirm(const QString&, const QString&) override { return false; }

 private:
  void Post(std::function<void()> call) { post_(std::move(call)); }
  std::function<void(std::function<void()>)> post_;
};

}  // namespace

// ---- ThreadBulk --------------------------------------------------------------------------------

ThreadBulk::ThreadBulk(TNorvBulk* bulk) : QThread(bulk), bulk_(bulk) {
  bulk->running_ = true;
  start();
}

// The component deletes a worker only after joining it; anyone else waits for the end here.
ThreadBulk::~ThreadBulk() { wait(); }

void ThreadBulk::run() { bulk_->Execute(this); }

// ---- TNorvBulk -------------------------------------------------------------------------------

TNorvBulk::TNorvBulk(QObject* owner) : QObject(owner) {}

TNorvBulk::~TNorvBulk() {
  StopWorker();
  try {
    ReleaseSrcTar();
    ReleaseCopy();
  } catch (...) {
    // A destructor reports nothing; the descriptor and buffers are gone either way.
  }
}

QThread* TNorvBulk::Worker() const { return worker_.data(); }

bool TNorvBulk::HasDescriptor() const {
  return static_cast<bool>(blk_) || (srcTar_ && srcTar_->blk_);
}

bool TNorvBulk::IsTableToTable() const {
  return !srcTarDbName_.trimmed().isEmpty() && !srcTarTableName_.trimmed().isEmpty();
}

void TNorvBulk::StopWorker() {
  ThreadBulk* worker = worker_.data();
  if (!worker) return;
  worker->requestInterruption();
  worker->wait();
  delete worker;
}

ThreadBulk* TNorvBulk::CurrentWorker() {
  return qobject_cast<ThreadBulk*>(QThread::currentThread());
}

bool TNorvBulk::StopRequested() {
  const ThreadBulk* worker = CurrentWorker();
  return worker && worker->isInterruptionRequested();
}

QObject* TNorvBulk::EventSender() {
  if (ThreadBulk* worker = CurrentWorker()) return worker;
  return main_ ? main_ : this;
}

void TNorvBulk::Deliver(std::function<void()> call) {
  TNorvBulk* home = main_ ? main_ : this;
  const QCoreApplication* app = QCoreApplication::instance();
  if (CurrentWorker() && app && home->thread() == app->thread())
    home->Post(std::move(call));
  else
    call();
}

void TNorvBulk::Post(std::function<void()> call) {
  const std::lock_guard<std::mutex> lock(postedMutex_);
  posted_.push_back(std::move(call));
}

// What comes while the calls run waits for the next tick, so the thread's own events are served
// in between.
void TNorvBulk::DrainEvents() {
  // Read before the queue: the worker queues its last call before it clears Running.
  const bool done = !running_;
  std::vector<std::function<void()>> calls;
  {
    const std::lock_guard<std::mutex> lock(postedMutex_);
    calls.swap(posted_);
  }
  // A handler may destroy the component, or start its next copy.
  const QPointer<TNorvBulk> alive(this);
  for (const auto& call : calls) {
    call();
    if (!alive) return;
  }
  if (!done || running_) return;
  if (drainTimer_) drainTimer_->stop();
  if (ThreadBulk* worker = worker_.data()) {
    worker->wait();
    delete worker;
  }
}

void TNorvBulk::Fire(const TNotifyEvent& event) {
  if (!event) return;
  if (!CurrentWorker()) {
    event(main_ ? main_ : this);
    return;
  }
  // A copy of the handler: it runs later, whatever is assigned meanwhile.
  QObject* sender = EventSender();
  Deliver([event, sender] { event(sender); });
}

// The texts the router stored on the sink go with the event, so a handler reads them as it would
// in the foreground.
void TNorvBulk::Relay(TNotifyEvent TDbMessageReporter::*event) {
  const QString error = sink_->DbErrorText();
  const CS_SERVERMSG msg = sink_->DbServerMsg();
  const QString message = sink_->DbMessageText();
  Deliver([this, event, error, msg, message] {
    SetDbErrorText(error);
    SetDbServerMsg(msg);
    SetDbMessageText(message);
    const TNotifyEvent& handler = this->*event;
    if (handler) handler(this);
  });
}

void TNorvBulk::Check(bool raise) {
  // Checked after every row: with nothing queued there is nothing to route.
  CS_INT queued = 0;
  if (con_ && oc::ct_diag(con_, CS_STATUS, CS_ALLMSG_TYPE, CS_UNUSED, &queued) == CS_SUCCEED &&
      queued == 0)
    return;
  // The source/target side reports as the component it serves; a worker never raises, and its
  // texts and events go through the sink to the component's thread.
  TNorvBulk& home = main_ ? *main_ : *this;
  QObject* owner = &home;
  if (CurrentWorker() && home.sink_) {
    owner = home.sink_.get();
    raise = false;
  }
  const TMsgDialogs dialogs = home.MsgDialogs();
  const TShowDbMessages show = home.ShowDbMessages();
  HandleDbMessages(con_, owner, raise, dialogs.Contains(mdEnhErr), dialogs.Contains(mdEnhMsg),
                   show.Contains(smDbMsg), show.Contains(smDbErr));
}

void TNorvBulk::ReportError(const QString& text) {
  const TNorvBulk& home = main_ ? *main_ : *this;
  if (!home.workerStarted_) throw ENorvException(text);
  norv::CurrentPresenter().ShowMessageBox(QStringLiteral("CT-Library error"), text,
                                          norv::MsgIcon::Error);
}

void TNorvBulk::CancelPending() {
  if (!blk_) return;
  CS_INT rows = 0;
  oc::IgnoreStatus(oc::blk_done(blk_.get(), CS_BLK_CANCEL, &rows),
                   "a descriptor with nothing under way has nothing to cancel");
}

// ---- BulkCopy --------------------------------------------------------------------------------

void TNorvBulk::BulkCopy() {
  SetDbServerMsg(CS_SERVERMSG{});
  SetShowDbMessages(ShowDbMessages());
  if (running_) {
    ReportError(QStringLiteral("BulkCopy is still in progress"));
    return;
  }
  CheckDbName(DbName());
  copyOk_ = true;
  rowsCopied_ = 0;
  currentRow_ = 0;
  batchCount_ = 0;
  const bool tableToTable = IsTableToTable();
  rawOut_ = tableToTable;
  try {
    PrepareCopy();
    if (copyOk_ && tableToTable) PrepareSrcTar();
  } catch (...) {
    ReleaseSrcTar();
    ReleaseCopy();
    throw;
  }
  if (!copyOk_) {
    // Whichever side was prepared holds no descriptor past a refused copy.
    ReleaseSrcTar();
    ReleaseCopy();
    return;
  }
  if (background_) {
    if (!sink_) {
      sink_ = std::make_unique<TNorvBulk>();
      sink_->OnDbError = [this](QObject*) { Relay(&TDbMessageReporter::OnDbError); };
      sink_->AfterDbError = [this](QObject*) { Relay(&TDbMessageReporter::AfterDbError); };
      sink_->OnDbMessage = [this](QObject*) { Relay(&TDbMessageReporter::OnDbMessage); };
      sink_->AfterDbMessage = [this](QObject*) { Relay(&TDbMessageReporter::AfterDbMessage); };
    }
    sink_->SetDbServerMsg(CS_SERVERMSG{});
    workerStarted_ = true;
    if (ThreadBulk* previous = worker_.data()) {
      // Ended, its last events not yet served.
      previous->wait();
      delete previous;
    }
    const QCoreApplication* app = QCoreApplication::instance();
    if (app && thread() == app->thread()) {
      if (!drainTimer_) {
        drainTimer_ = new QTimer(this);
        drainTimer_->setInterval(5);
        connect(drainTimer_, &QTimer::timeout, this, &TNorvBulk::DrainEvents);
      }
      drainTimer_->start();
    }
    worker_ = new ThreadBulk(this);
    return;
  }
  try {
    Fire(BeforeCopy);
    Transfer();
  } catch (...) {
    ReleaseSrcTar();
    ReleaseCopy();
    throw;
  }
  ReleaseSrcTar();
  ReleaseCopy();
  Fire(AfterCopy);
}

void TNorvBulk::Transfer() {
  if (!IsTableToTable())
    direction_ == bdIn ? CopyInFromFile() : CopyOutToFile();
  else
    direction_ == bdIn ? CopyTableIn() : CopyTableOut();
}

void TNorvBulk::Execute(ThreadBulk* worker) {
  Q_UNUSED(worker);
  std::optional<WorkerPresenter> presenter;
  std::optional<norv::ScopedThreadPresenter> scope;
  const QCoreApplication* app = QCoreApplication::instance();
  if (app && thread() == app->thread()) {
    presenter.emplace([this](std::function<void()> call) { Post(std::move(call)); });
    scope.emplace(&*presenter);
  }
  Fire(BeforeCopy);
  try {
    Transfer();
  } catch (const std::exception& e) {
    // Nothing leaves the worker: what would have been raised is shown.
    norv::CurrentPresenter().ShowMessageBox(QStringLiteral("CT-Library error"),
                                            QString::fromUtf8(e.what()), norv::MsgIcon::Error);
  } catch (...) {
    norv::CurrentPresenter().ShowMessageBox(QStringLiteral("CT-Library error"),
                                            QStringLiteral("The bulk copy failed"),
                                            norv::MsgIcon::Error);
  }
  ReleaseSrcTar();
  ReleaseCopy();
  Fire(AfterCopy);
  // Cleared last: until here the worker still uses the component's state.
  running_ = false;
}

void TNorvBulk::Abandon() {
  // A sending side still has rows on their way: end its operation before the connection is used
  // again.
  for (TNorvBulk* side : {this, srcTar_.get()})
    if (side && side->blk_ && side->direction_ == bdOut) side->CancelPending();
  ReleaseSrcTar();
  ReleaseCopy();
  for (TNorvBulk* side : {this, srcTar_.get()})
    if (side && side->con_)
      oc::IgnoreStatus(oc::ct_cancel(side->con_, nullptr, CS_CANCEL_ALL),
                       "a connection with nothing pending has nothing to cancel");
}

// ---- Preparation -----------------------------------------------------------------------------

void TNorvBulk::CheckBulkConnection() {
  TNorvDatabase* db = FindDatabase(DbName());
  if (db) {
    con_ = db->Handle();
    ctx_ = db->ContextHandle();
  }
  if (!db) {
    copyOk_ = false;
    return;
  }
  if (!db->ConProps().Contains(cpBulk_Login)) {
    ReleaseCopy();
    ReportError(
        (main_ ? QStringLiteral("cpBulk_Login must be selected for SrcTar database component ")
               : QStringLiteral("cpBulk_Login must be selected for database component ")) +
        DbName());
  } else if (!db->Connected()) {
    copyOk_ = false;
    ReportError(QStringLiteral("Not connected to server ") + db->ServerName());
  } else {
    CancelPending();
    con_ = db->Handle();
    ctx_ = db->ContextHandle();
  }
}

void TNorvBulk::ReadColumns() {
  TNorvQuery query;
  query.SetDbName(DbName());
  query.SetIsCursor(getKeys_);
  query.SetMsgDialogs(MsgDialogs());
  query.SetSql(QStringLiteral("SELECT * FROM ") + tableName_);
  query.DescribeColumns();
  columnCount_ = query.ColumnCount();
  columns_.assign(static_cast<size_t>(columnCount_) + 1, ColumnDescription{});
  for (int n = 1; n <= columnCount_; ++n) {
    ColumnDescription& c = columns_[static_cast<size_t>(n)];
    c.Name = query.FieldName(n);
    c.NameLength = query.FieldNameLength(n);
    c.MaxLength = query.FieldMaxLength(n);
    c.Scale = query.FieldScale(n);
    c.Precision = query.FieldPrecision(n);
    c.DataType = query.FieldType(n);
    c.Format = query.FieldFormat(n);
    c.UserType = query.FieldUserType(n);
    c.Status = query.FieldStatus(n);
  }
}

void TNorvBulk::PrepareCopy() {
  CheckBulkConnection();
  if (!copyOk_) {
    TNorvDatabase* db = FindDatabase(DbName());
    if (db && db->Connected()) CancelPending();
    return;
  }
  ReadColumns();
  if (main_ && columnCount_ != main_->columnCount_) {
    ReleaseCopy();
    ReportError(QStringLiteral("Number of columns in target and source table does not match"));
    copyOk_ = false;
    return;
  }
  if (columnCount_ < 1) {
    ReleaseCopy();
    // A description cut short by a lost connection found no columns either; that is no answer
    // about the table.
    TNorvDatabase* db = FindDatabase(DbName());
    oc::Connection* con = db ? db->Handle() : nullptr;
    if (!con || ConnectionLost(con))
      ReportError(QStringLiteral("Connection to the server was lost"));
    else
      ReportError(QStringLiteral("Table ") + tableName_ +
                  QStringLiteral(" has no columns to copy"));
    return;
  }
  if (columnCount_ > kMaxColumns) {
    ReleaseCopy();
    ReportError(QStringLiteral("Table ") + tableName_ +
                QStringLiteral(" has more than 255 columns and cannot be copied"));
    return;
  }
  records_.clear();
  records_.resize(static_cast<size_t>(columnCount_) + 1);
  // Asked before blk_init: a copy-out holds the connection from then on.
  longest_.assign(static_cast<size_t>(columnCount_) + 1, 0);
  if (direction_ == bdOut)
    for (int i = 1; i <= columnCount_; ++i)
      if (IsBlobType(columns_[static_cast<size_t>(i)].DataType))
        longest_[static_cast<size_t>(i)] = LongestValue(i);

  const CS_RETCODE alloc = oc::blk_alloc(con_, BLK_VERSION_100, blk_);
  try {
    Check();
  } catch (...) {
    if (alloc == CS_SUCCEED) {
      ReleaseCopy();
      throw;
    }
  }
  MonitorLog(QStringLiteral("Open-Client: blk_alloc(BLK_VERSION_100)"));
  if (alloc != CS_SUCCEED) {
    ReleaseCopy();
    ReportError(QStringLiteral("blk_alloc Failed"));
    return;
  }

  const QByteArray table = tableName_.toUtf8();
  const CS_RETCODE init = oc::blk_init(blk_.get(), direction_ == bdIn ? CS_BLK_IN : CS_BLK_OUT,
                                       table.constData(), CS_NULLTERM);
  Check();
  MonitorLog((direction_ == bdIn ? QStringLiteral("Open-Client: blk_init(CS_BLK_IN)")
                                 : QStringLiteral("Open-Client: blk_init(CS_BLK_OUT)")) +
             (main_ ? QStringLiteral(" - Source/Target") : QString()));
  blkReady_ = init == CS_SUCCEED;
  if (!blkReady_) {
    ReleaseCopy();
    ReportError(QStringLiteral("blk_init Failed for table ") + tableName_);
    return;
  }
  if (direction_ == bdIn)
    BindIn();
  else
    BindOut();
}

// The longest value of a text or image column: their declared length is 2 GB, so their buffers
// are sized by what the table holds.
CS_INT TNorvBulk::LongestValue(int i) {
  TNorvQuery query;
  query.SetDbName(DbName());
  query.SetSql(QStringLiteral("SELECT max(datalength(%1)) FROM %2")
                   .arg(columns_[static_cast<size_t>(i)].Name, tableName_));
  CS_INT longest = 0;
  if (query.Execute() == CS_SUCCEED && query.Fetch() == 1) longest = query.FieldValue(1).toInt();
  while (query.Fetch() == 1) {
  }
  return longest;
}

// Column i as the copy sees it; on failure the copy is released and the error reported.
bool TNorvBulk::DescribeColumn(int i, CS_DATAFMT& fmt) {
  if (oc::blk_describe(blk_.get(), i, &fmt) != CS_SUCCEED) {
    Check();
    ReleaseCopy();
    ReportError(QStringLiteral("blk_describe Failed for ") + ColumnLabel(i));
    return false;
  }
  Check();
  MonitorLog(QStringLiteral("Open-Client: blk_describe"));
  return true;
}

// Binds column i to its record's buffer; on failure the copy is released and the error reported.
bool TNorvBulk::BindColumn(int i, CS_DATAFMT& fmt) {
  Record& r = records_[static_cast<size_t>(i)];
  const CS_RETCODE rc =
      oc::blk_bind(blk_.get(), i, &fmt, r.Buffer.data(), &r.DataLength, &r.Indicator);
  Check();
  MonitorLog(QStringLiteral("Open-Client: blk_bind - Column Name : ") +
             columns_[static_cast<size_t>(i)].Name);
  if (rc == CS_SUCCEED) return true;
  ReleaseCopy();
  ReportError(QStringLiteral("blk_bind Failed for ") + ColumnLabel(i));
  return false;
}

void TNorvBulk::BindOut() {
  TNorvDatabase* db = FindDatabase(DbName());
  const CS_INT textSize = db && db->TextSize() > 0 ? db->TextSize() : kDefaultTextBuffer;
  size_t scratch = 1024;
  for (int i = 1; i <= columnCount_; ++i) {
    Record& r = records_[static_cast<size_t>(i)];
    CS_DATAFMT fmt{};
    if (!DescribeColumn(i, fmt)) return;
    CS_INT maxlength = fmt.maxlength;
    if (IsBlobType(fmt.datatype)) {
      maxlength = longest_[static_cast<size_t>(i)];
      if (maxlength > textSize) {
        // The server cuts such values at the text size: the file would lose their ends.
        ReleaseCopy();
        ReportError(QStringLiteral("%1 holds values of %2 bytes, longer than the connection's "
                                   "TextSize of %3")
                        .arg(ColumnLabel(i))
                        .arg(maxlength)
                        .arg(textSize));
        return;
      }
    }
    maxlength = std::max<CS_INT>(maxlength, 1);
    r.Fmt = fmt;
    r.Nullable = (fmt.status & CS_CANBENULL) != 0;
    r.CharLike = IsCharType(fmt.datatype);
    if (!rawOut_ && format_ != bcNative && !IsBlobType(fmt.datatype)) {
      // A text file takes text: the fetch converts each value once, straight into its buffer
      // (binary as two hex digits a byte; numbers and dates fit in 64 characters).
      maxlength = IsCharType(fmt.datatype)     ? maxlength
                  : IsBinaryType(fmt.datatype) ? 2 * maxlength
                                               : std::max<CS_INT>(maxlength, 64);
      fmt.datatype = CS_CHAR_TYPE;
      r.CharLike = true;
    }
    r.Buffer.assign(static_cast<size_t>(maxlength) + 1, 0);
    fmt.maxlength = maxlength + 1;
    // Table to table takes each value's own bytes; a text file a terminated string.
    fmt.format = fmt.datatype == CS_CHAR_TYPE && !rawOut_ ? CS_FMT_NULLTERM : CS_FMT_UNUSED;
    fmt.count = 1;
    r.Fmt.maxlength = fmt.maxlength;
    // Binary values are written as two hex digits a byte.
    scratch = std::max(scratch, static_cast<size_t>(maxlength) * 2 + 64);
    if (!BindColumn(i, fmt)) return;
  }
  scratch_.assign(scratch, 0);
}

void TNorvBulk::BindIn() {
  for (int i = 1; i <= columnCount_; ++i) {
    Record& r = records_[static_cast<size_t>(i)];
    CS_DATAFMT fmt{};
    if (!DescribeColumn(i, fmt)) return;
    r.Fmt = fmt;
    r.Nullable = (fmt.status & CS_CANBENULL) != 0;
    r.CharLike = IsCharType(fmt.datatype);
    r.Variable = r.CharLike || IsBinaryType(fmt.datatype);
    r.Growable = IsBlobType(fmt.datatype);
    // Conversions into numeric write a whole CS_NUMERIC; text and image grow with their values.
    CS_INT size = fmt.maxlength;
    if (IsNumericType(fmt.datatype)) size = std::max<CS_INT>(size, sizeof(CS_NUMERIC));
    if (r.Growable || size <= 0) size = 4096;
    r.Buffer.assign(static_cast<size_t>(size), 0);
    fmt.count = 1;
    fmt.maxlength = size;
    r.Fmt.maxlength = size;
    if (!BindColumn(i, fmt)) return;
    r.FixedLength = IsNumericType(fmt.datatype) ? static_cast<CS_INT>(sizeof(CS_NUMERIC)) : size;
    r.DataLength = r.FixedLength;
  }
}

void TNorvBulk::ReleaseCopy() {
  copyOk_ = false;
  if (blk_) {
    if (direction_ == bdIn && blkReady_) {
      CS_INT rows = 0;
      oc::IgnoreStatus(oc::blk_done(blk_.get(), CS_BLK_CANCEL, &rows),
                       "the rows of an abandoned batch are dropped whatever it says");
      if (con_) Check(false);
    }
    // Dropping the descriptor also ends a copy-out under way; it goes before the buffers it
    // points into.
    oc::IgnoreStatus(oc::blk_drop(blk_), "the handle is emptied whatever the library says");
  }
  blkReady_ = false;
  records_.clear();
  scratch_.clear();
}

// ---- Shared pieces ---------------------------------------------------------------------------

std::string TNorvBulk::Separator() const {
  switch (format_) {
    case bcCharacter: return "\t";
    case bcNone: return fieldTerminator_.toStdString();
    case bcNative: break;
  }
  return {};
}

bool TNorvBulk::InWindow() const {
  return currentRow_ >= firstRow_ && (lastRow_ == 0 || currentRow_ <= lastRow_);
}

QString TNorvBulk::ColumnLabel(int i) const {
  QString label = QStringLiteral("column ") + QString::number(i);
  if (i >= 1 && i < static_cast<int>(columns_.size()))
    label += QStringLiteral(" (") + columns_[static_cast<size_t>(i)].Name + QLatin1Char(')');
  return label;
}

// A batch counts as committed only when blk_done says so: a connection lost under it leaves no
// server message for the check to find, and the batch is not on the server.
void TNorvBulk::CompleteBatch() {
  CS_INT rows = 0;
  const CS_RETCODE rc = oc::blk_done(blk_.get(), CS_BLK_BATCH, &rows);
  Check();
  if (rc != CS_SUCCEED) {
    const QString text = BatchNotCommitted(rowsCopied_, con_);
    ReleaseCopy();
    ReportError(text);
    return;
  }
  ++batchCount_;
  Fire(OnBatch);
}

// ---- File to table -----------------------------------------------------------------------------

bool TNorvBulk::SplitFields(const std::string& separator, const std::string& line,
                            size_t lineNumber) {
  fields_.clear();
  if (separator.empty()) {
    fields_.push_back(line);
  } else {
    size_t start = 0;
    for (;;) {
      const size_t at = line.find(separator, start);
      if (at == std::string::npos) {
        fields_.emplace_back(line, start);
        break;
      }
      fields_.emplace_back(line, start, at - start);
      start = at + separator.size();
    }
  }
  if (static_cast<int>(fields_.size()) != columnCount_) {
    ReleaseCopy();
    ReportError(QStringLiteral("Number of columns in target and source table does not match: "
                               "line %1 has %2 fields, the table %3 columns")
                    .arg(lineNumber)
                    .arg(fields_.size())
                    .arg(columnCount_));
    return false;
  }
  return true;
}

bool TNorvBulk::ConvertIn(int i, const char* text, size_t length, size_t lineNumber) {
  Record& r = records_[static_cast<size_t>(i)];
  r.Value = std::string_view(text, length);
  auto refuse = [&](const QString& why) {
    ReleaseCopy();
    ReportError(QStringLiteral("Line %1, %2: %3").arg(lineNumber).arg(ColumnLabel(i), why));
    return false;
  };
  if (length == 0) {
    // An empty field is NULL where the column allows it, else an empty string.
    if (r.Nullable) {
      r.Indicator = -1;
      r.DataLength = 0;
      return true;
    }
    if (r.CharLike) {
      r.Indicator = 0;
      r.DataLength = 0;
      return true;
    }
    return refuse(QStringLiteral("an empty field for a column that does not allow NULL"));
  }
  r.Indicator = 0;
  if (r.Growable && static_cast<size_t>(length) + 1 > r.Buffer.size()) {
    // The descriptor keeps the buffer's address: bind the larger one in its place.
    r.Buffer.assign(length + 1, 0);
    CS_DATAFMT fmt = r.Fmt;
    fmt.maxlength = static_cast<CS_INT>(r.Buffer.size());
    r.Fmt.maxlength = fmt.maxlength;
    if (oc::blk_bind(blk_.get(), i, &fmt, r.Buffer.data(), &r.DataLength, &r.Indicator) !=
        CS_SUCCEED)
      return refuse(QStringLiteral("the value cannot be bound"));
  }
  CS_DATAFMT src{};
  src.datatype = CS_CHAR_TYPE;
  src.maxlength = static_cast<CS_INT>(length);
  src.format = CS_FMT_NULLTERM;
  CS_DATAFMT dst = r.Fmt;
  dst.format = CS_FMT_UNUSED;
  if (IsBinaryType(r.Fmt.datatype)) {
    // Hex digits, two a byte: the conversion pads a binary value to the length it is given.
    const size_t digits =
        length >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') ? length - 2 : length;
    dst.maxlength = std::min<CS_INT>(r.Fmt.maxlength, static_cast<CS_INT>((digits + 1) / 2));
  }
  CS_INT written = 0;
  const bool fits = !r.Variable || r.Growable || static_cast<CS_INT>(length) <= r.Fmt.maxlength ||
                    IsBinaryType(r.Fmt.datatype);
  if (!fits ||
      oc::cs_convert(ctx_, &src, const_cast<char*>(text), &dst, r.Buffer.data(), &written) !=
          CS_SUCCEED ||
      (r.Variable && written > r.Fmt.maxlength))
    return refuse(
        QStringLiteral("the value '%1' does not convert to %2")
            .arg(QString::fromUtf8(text, static_cast<qsizetype>(std::min<size_t>(length, 60))),
                 NorvTypeName(r.Fmt.datatype)));
  r.DataLength = r.Variable ? written : r.FixedLength;
  return true;
}

void TNorvBulk::SendRow(size_t lineNumber) {
  for (int i = 1; i <= columnCount_; ++i) {
    const std::string& f = fields_[static_cast<size_t>(i - 1)];
    if (!ConvertIn(i, f.data(), f.size(), lineNumber)) return;
  }
  Fire(BeforeRow);
  const CS_RETCODE rc = oc::blk_rowxfer(blk_.get());
  Check();
  if (rc != CS_SUCCEED && CurrentWorker() && !ConnectionLost(con_)) {
    // The worker shows the failure and goes on with the next row, unless the connection is gone.
    ReportError(QStringLiteral("blk_rowxfer Failed at line %1").arg(lineNumber));
    return;
  }
  if (rc != CS_SUCCEED) {
    ReleaseCopy();
    ReportError(QStringLiteral("blk_rowxfer Failed at line %1").arg(lineNumber));
    return;
  }
  ++rowsCopied_;
  if (batchSize_ > 0 && rowsCopied_ % batchSize_ == 0) CompleteBatch();
  Fire(AfterRow);
}

void TNorvBulk::CopyInFromFile() {
  FilePtr file = OpenFile(dataFile_, "rb");
  if (!file) {
    ReleaseCopy();
    ReportError(QStringLiteral("File access error"));
    return;
  }
  const std::string separator = Separator();
  currentRow_ = 1;
  std::string line;
  size_t lineNumber = 0;
  for (;;) {
    if (StopRequested()) {
      file.reset();
      Abandon();
      return;
    }
    if (!ReadLine(file.get(), line)) break;
    ++lineNumber;
    if (line.empty()) continue;
    if (!SplitFields(separator, line, lineNumber) || !copyOk_) return;
    if (lastRow_ > 0 && currentRow_ > lastRow_) break;
    if (InWindow()) {
      SendRow(lineNumber);
      if (!copyOk_) return;
    }
    ++currentRow_;
  }
  if (std::ferror(file.get())) {
    ReleaseCopy();
    ReportError(QStringLiteral("File access error"));
    return;
  }
  file.reset();
  if (FinishCopyIn()) moreRows_ = false;
}

// Sends the last batch and ends the copy into a table; a refusal is reported through the message
// check, and the copy is over either way. True when the server took both.
bool TNorvBulk::FinishCopyIn() {
  CS_INT rows = 0;
  CS_RETCODE last = CS_FAIL;
  try {
    last = oc::blk_done(blk_.get(), CS_BLK_BATCH, &rows);
    Check();
    oc::IgnoreStatus(oc::blk_done(blk_.get(), CS_BLK_ALL, &rows),
                     "the end of the copy is reported through the message check");
    Check();
    blkReady_ = false;
  } catch (...) {
    oc::IgnoreStatus(oc::blk_done(blk_.get(), CS_BLK_ALL, &rows),
                     "the copy is over whatever it says");
    blkReady_ = false;
    if (MsgDialogs().Contains(mdEnhErr)) throw;
    return false;
  }
  if (last != CS_SUCCEED) {
    // Refused without a server message: the connection went under the last batch, which is not
    // committed (see CompleteBatch).
    const QString text = BatchNotCommitted(rowsCopied_, con_);
    ReleaseCopy();
    ReportError(text);
    return false;
  }
  return true;
}

// ---- Table to file -----------------------------------------------------------------------------

CS_RETCODE TNorvBulk::FetchRow() {
  CS_RETCODE rc = oc::blk_rowxfer(blk_.get());
  Check();
  if (rc == CS_END_DATA) {
    CS_INT rows = 0;
    oc::IgnoreStatus(oc::blk_done(blk_.get(), CS_BLK_ALL, &rows),
                     "the end of data was reached already");
    Check();
    blkReady_ = false;
    return rc;
  }
  if (rc != CS_SUCCEED || rawOut_) return rc;
  for (int i = 1; i <= columnCount_; ++i) ConvertOut(i);
  return rc;
}

void TNorvBulk::ConvertOut(int i) {
  Record& r = records_[static_cast<size_t>(i)];
  if (r.Indicator == -1) {
    r.Value = {};  // NULL is an empty field
    return;
  }
  if (r.CharLike) {
    // The value is its bytes, up to the buffer's end; a terminated value counts its zero.
    size_t len = r.DataLength > 0
                     ? std::min<size_t>(static_cast<size_t>(r.DataLength), r.Buffer.size() - 1)
                     : 0;
    while (len > 0 && r.Buffer[len - 1] == '\0') --len;
    r.Value = std::string_view(r.Buffer.data(), len);
  } else {
    CS_DATAFMT src = r.Fmt;
    src.maxlength = r.DataLength > 0 ? r.DataLength : r.Fmt.maxlength;
    src.format = CS_FMT_UNUSED;
    CS_DATAFMT dst{};
    dst.datatype = CS_CHAR_TYPE;
    dst.maxlength = static_cast<CS_INT>(scratch_.size());
    dst.format = CS_FMT_NULLTERM;
    CS_INT written = 0;
    if (oc::cs_convert(ctx_, &src, r.Buffer.data(), &dst, scratch_.data(), &written) !=
        CS_SUCCEED) {
      scratch_[0] = '\0';
    }
    r.Text.assign(scratch_.data(), strnlen(scratch_.data(), scratch_.size()));
    r.Value = r.Text;
  }
  if (nativeDtFmt_ && (r.Fmt.datatype == CS_DATETIME_TYPE || r.Fmt.datatype == CS_DATETIME4_TYPE)) {
    r.Text = DateTimeFromText(std::string(r.Value));
    r.Value = r.Text;
  }
  r.DataLength = static_cast<CS_INT>(r.Value.size());
}

// The desktop's own text of a date-time: the short date, then the time with its seconds (whole
// seconds; fractions are dropped), the time left out at midnight.
std::string TNorvBulk::DateTimeFromText(const std::string& text) {
  CS_DATAFMT src{};
  src.datatype = CS_CHAR_TYPE;
  src.maxlength = static_cast<CS_INT>(text.size());
  CS_DATAFMT dst{};
  dst.datatype = CS_DATETIME_TYPE;
  dst.maxlength = 8;
  CS_DATETIME dt{};
  CS_INT written = 0;
  if (oc::cs_convert(ctx_, &src, const_cast<char*>(text.c_str()), &dst, &dt, &written) !=
      CS_SUCCEED)
    return text;
  const QLocale locale;
  const QDate date = QDate(1900, 1, 1).addDays(dt.dtdays);
  const int seconds = static_cast<int>(static_cast<CS_UINT>(dt.dttime) / 300);
  QString out = locale.toString(date, QLocale::ShortFormat);
  if (seconds != 0) {
    QString timeFormat = locale.timeFormat(QLocale::ShortFormat);
    if (!timeFormat.contains(QLatin1String("ss")))
      timeFormat.replace(QLatin1String("mm"), QLatin1String("mm:ss"));
    out += QLatin1Char(' ') + locale.toString(QTime(0, 0).addSecs(seconds), timeFormat);
  }
  return out.toStdString();
}

void TNorvBulk::CopyOutToFile() {
  // The stream's buffer outlives the stream.
  std::vector<char> streamBuffer(1 << 16);
  FilePtr file = OpenFile(dataFile_, "wb");
  if (!file) {
    ReleaseCopy();
    ReportError(QStringLiteral("File access error"));
    return;
  }
  std::setvbuf(file.get(), streamBuffer.data(), _IOFBF, streamBuffer.size());
  const std::string separator = Separator();
  const bool plain = format_ != bcNative;
  const std::string rowEnd = plain ? "\r\n" : "";
  currentRow_ = 1;
  moreRows_ = true;
  std::string row;
  bool failed = false;
  for (;;) {
    const CS_RETCODE fetched = FetchRow();
    if (fetched == CS_END_DATA || !moreRows_) break;
    if (fetched != CS_SUCCEED) {
      // A row that cannot be read is not skipped silently, and a lost connection is named.
      const QString text =
          QStringLiteral("blk_rowxfer Failed at row %1").arg(currentRow_) +
          (ConnectionLost(con_) ? QStringLiteral(" (the connection to the server was lost)")
                                : QString());
      CancelPending();
      ReleaseCopy();
      ReportError(text);
      return;
    }
    if (lastRow_ > 0 && currentRow_ > lastRow_) {
      CancelPending();
      blkReady_ = false;
      moreRows_ = false;
      break;
    }
    if (StopRequested()) {
      // The rows written so far stay in the file.
      std::fclose(file.release());
      Abandon();
      return;
    }
    const uint32_t number = currentRow_++;
    if (number < firstRow_) continue;
    row.clear();
    for (int i = 1; i <= columnCount_; ++i) {
      const Record& r = records_[static_cast<size_t>(i)];
      if (plain) {
        // A separator or a line break inside a value would shift every field after it.
        if (BreaksLine(r.Value, separator)) {
          std::fflush(file.get());
          CancelPending();
          ReleaseCopy();
          ReportError(
              QStringLiteral("Row %1, %2 holds the field separator or a line break and cannot "
                             "be written to the data file")
                  .arg(number)
                  .arg(ColumnLabel(i)));
          return;
        }
        row += r.Value;
        row += i < columnCount_ ? separator : rowEnd;
      } else {
        row.append(r.Buffer.data(), strnlen(r.Buffer.data(), r.Buffer.size()));
      }
    }
    ++rowsCopied_;
    Fire(BeforeRow);
    if (std::fwrite(row.data(), 1, row.size(), file.get()) != row.size()) {
      failed = true;
      break;
    }
    Fire(AfterRow);
  }
  if (std::fflush(file.get()) != 0 || std::ferror(file.get())) failed = true;
  if (std::fclose(file.release()) != 0) failed = true;
  if (failed) {
    CancelPending();
    ReleaseCopy();
    ReportError(QStringLiteral("File access error"));
    return;
  }
  CS_INT rows = 0;
  oc::IgnoreStatus(oc::blk_done(blk_.get(), CS_BLK_ALL, &rows),
                   "the end of the copy is reported through the message check");
  Check();
}

// ---- Table to table ----------------------------------------------------------------------------

// The source/target side is a component of its own: the same preparation on the other
// connection, the opposite direction, each value bound in the column's own type.
void TNorvBulk::PrepareSrcTar() {
  if (DbName() == srcTarDbName_) {
    ReportError(QStringLiteral("Source and Target DbName may not be the same"));
    copyOk_ = false;
    return;
  }
  CheckDbName(srcTarDbName_);
  if (!srcTar_) srcTar_ = std::make_unique<TNorvBulk>();
  TNorvBulk& side = *srcTar_;
  side.main_ = this;
  side.SetName(Name());
  side.SetMonitor(Monitor());
  side.SetDbName(srcTarDbName_);
  side.tableName_ = srcTarTableName_;
  side.direction_ = direction_ == bdIn ? bdOut : bdIn;
  side.format_ = bcNative;
  side.getKeys_ = getKeys_;
  side.rawOut_ = true;
  side.copyOk_ = true;
  side.PrepareCopy();
  if (!side.copyOk_) copyOk_ = false;
}

void TNorvBulk::ReleaseSrcTar() {
  if (srcTar_) srcTar_->ReleaseCopy();
}

bool TNorvBulk::ConvertFrom(const TNorvBulk& from) {
  for (int i = 1; i <= columnCount_; ++i) {
    Record& r = records_[static_cast<size_t>(i)];
    const Record& s = from.records_[static_cast<size_t>(i)];
    if (s.Indicator == -1) {
      // The receiving server refuses NULL where its column does not allow it.
      r.Indicator = -1;
      r.DataLength = 0;
      continue;
    }
    r.Indicator = 0;
    const CS_INT length = std::max<CS_INT>(s.DataLength, 0);
    if (r.Growable && static_cast<size_t>(length) + 1 > r.Buffer.size()) {
      // The descriptor keeps the buffer's address: bind the larger one in its place.
      r.Buffer.assign(static_cast<size_t>(length) + 1, 0);
      CS_DATAFMT fmt = r.Fmt;
      fmt.maxlength = static_cast<CS_INT>(r.Buffer.size());
      r.Fmt.maxlength = fmt.maxlength;
      if (oc::blk_bind(blk_.get(), i, &fmt, r.Buffer.data(), &r.DataLength, &r.Indicator) !=
          CS_SUCCEED)
        return false;
    }
    CS_DATAFMT src = s.Fmt;
    src.maxlength = length;
    src.format = CS_FMT_UNUSED;
    CS_DATAFMT dst = r.Fmt;
    dst.format = CS_FMT_UNUSED;
    // The conversion pads a binary value to the length it is given.
    if (IsBinaryType(r.Fmt.datatype) && IsBinaryType(s.Fmt.datatype))
      dst.maxlength = std::min(r.Fmt.maxlength, std::max<CS_INT>(length, 1));
    CS_INT written = 0;
    if (oc::cs_convert(ctx_, &src, const_cast<char*>(s.Buffer.data()), &dst, r.Buffer.data(),
                       &written) != CS_SUCCEED ||
        (r.Variable && written > r.Fmt.maxlength)) {
      failedColumn_ = i;
      return false;
    }
    r.DataLength = r.Variable ? written : r.FixedLength;
  }
  return true;
}

void TNorvBulk::SendRowTo(TNorvBulk& target, const TNorvBulk& source) {
  if (!target.ConvertFrom(source)) {
    const QString column = target.ColumnLabel(target.failedColumn_);
    ReleaseSrcTar();
    ReleaseCopy();
    ReportError(QStringLiteral("Row %1, %2: the value does not convert to the target column's type")
                    .arg(currentRow_.load())
                    .arg(column));
    return;
  }
  Fire(BeforeRow);
  const CS_RETCODE rc = oc::blk_rowxfer(target.blk_.get());
  target.Check();
  if (rc != CS_SUCCEED) {
    if (CurrentWorker() && !ConnectionLost(target.con_)) {
      // The worker shows the failure and goes on with the next row, unless the connection is
      // gone.
      ReportError(QStringLiteral("blk_rowxfer Failed at row %1").arg(currentRow_.load()));
      return;
    }
    ReleaseSrcTar();
    ReleaseCopy();
    ReportError(QStringLiteral("blk_rowxfer Failed at row %1").arg(currentRow_.load()));
    return;
  }
  ++rowsCopied_;
  if (batchSize_ > 0 && rowsCopied_ % batchSize_ == 0) {
    CS_INT rows = 0;
    const CS_RETCODE done = oc::blk_done(target.blk_.get(), CS_BLK_BATCH, &rows);
    target.Check();
    if (done != CS_SUCCEED) {  // not committed (see CompleteBatch)
      const QString text = BatchNotCommitted(rowsCopied_, target.con_);
      ReleaseSrcTar();
      ReleaseCopy();
      ReportError(text);
      return;
    }
    ++batchCount_;
    Fire(OnBatch);
  }
  Fire(AfterRow);
}

// The source/target table into the main table; every source row is read, those in the window
// sent.
void TNorvBulk::CopyTableIn() {
  TNorvBulk& source = *srcTar_;
  currentRow_ = 1;
  for (;;) {
    if (StopRequested()) {
      Abandon();
      return;
    }
    const CS_RETCODE rc = source.FetchRow();
    if (rc == CS_END_DATA) break;
    if (rc != CS_SUCCEED) {
      Abandon();
      ReportError(QStringLiteral("blk_rowxfer Failed at row %1").arg(currentRow_.load()));
      return;
    }
    if (InWindow()) {
      SendRowTo(*this, source);
      if (!copyOk_) return;
    }
    ++currentRow_;
  }
  FinishCopyIn();
}

// The main table into the source/target table; reading stops past LastRow.
void TNorvBulk::CopyTableOut() {
  TNorvBulk& target = *srcTar_;
  moreRows_ = true;
  currentRow_ = 1;
  CS_INT rows = 0;
  for (;;) {
    if (StopRequested()) {
      Abandon();
      return;
    }
    const CS_RETCODE rc = FetchRow();
    if (rc == CS_END_DATA || !moreRows_) break;
    if (rc != CS_SUCCEED) {
      Abandon();
      ReportError(QStringLiteral("blk_rowxfer Failed at row %1").arg(currentRow_.load()));
      return;
    }
    if (lastRow_ > 0 && currentRow_ > lastRow_) {
      CancelPending();
      blkReady_ = false;
      moreRows_ = false;
      break;
    }
    const uint32_t number = currentRow_++;
    if (number < firstRow_) continue;
    SendRowTo(target, *this);
    if (!copyOk_) return;
  }
  try {
    oc::IgnoreStatus(oc::blk_done(target.blk_.get(), CS_BLK_ALL, &rows),
                     "the end of the copy is reported through the message check");
    target.Check();
    target.blkReady_ = false;
  } catch (...) {
    oc::IgnoreStatus(oc::blk_done(target.blk_.get(), CS_BLK_ALL, &rows),
                     "the copy is over whatever it says");
    target.blkReady_ = false;
    if (MsgDialogs().Contains(mdEnhErr)) throw;
  }
}
