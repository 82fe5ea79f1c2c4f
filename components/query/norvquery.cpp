#include "query/norvquery.h"

#include "connection/component.h"
#include "connection/messagerouter.h"
#include "connection/norvcontext.h"
#include "connection/norvdatabase.h"
#include "connection/norvexception.h"
#include "connection/presenter.h"
#include "connection/typenames.h"

#include <QDateTime>
#include <QLocale>
#include <QTime>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace {

const QString kLostConnection = QStringLiteral("Connection to the server was lost");

// Reasons for return codes the query has no use for (oc::IgnoreStatus).
constexpr const char* kNoCommandOnFailure = "a failed allocation leaves no command; callers check";
constexpr const char* kBestEffortClose =
    "closing is best effort: what the server still holds goes with the command";
constexpr const char* kReportedBySend =
    "the server's messages are routed after the step, and a refused step fails the send";
constexpr const char* kCountStaysZero = "on failure the value stays 0, which the caller handles";

constexpr int kContextSqlLength = 60;  // the head of the statement an error's context names

// Sets the connection's ProcOptions to format-only for the lifetime of the guard and puts the
// saved set back afterwards, whatever happens in between.
class FormatOnlyGuard {
 public:
  explicit FormatOnlyGuard(TNorvDatabase* db)
      : db_(db), saved_(db ? db->ProcOptions() : TProcOptions{}) {
    if (db_) db_->SetProcOptions(TProcOptions{poFormatOnly});
  }
  ~FormatOnlyGuard() {
    try {
      Restore();
    } catch (...) {
      // Never from a destructor; Restore was called on every ordinary path.
    }
  }
  void Restore() {
    if (!db_) return;
    TNorvDatabase* db = db_;
    db_ = nullptr;
    db->SetProcOptions(saved_);
  }
  FormatOnlyGuard(const FormatOnlyGuard&) = delete;
  FormatOnlyGuard& operator=(const FormatOnlyGuard&) = delete;

 private:
  TNorvDatabase* db_;
  TProcOptions saved_;
};

// The owner that keeps copies of the query's texts (component.h says which kinds do), or null.
TDbMessageReporter* CopyTarget(QObject* owner, bool serverMsg) {
  const TComponentKind kind = ComponentKind(owner);
  const bool takes = serverMsg ? OwnerTakesQueryServerMsg(kind) : OwnerTakesQueryTexts(kind);
  return takes ? dynamic_cast<TDbMessageReporter*>(owner) : nullptr;
}

// Status word of a column as the 14 flags the status tests read: bits 0x1..0x400 are flags
// 0..10, 0x2000 flag 11, 0x4000 flag 12, 0x8000 flag 13; 0x800 and 0x1000 are not carried.
unsigned StatusFlags(int status) {
  const unsigned s = static_cast<unsigned>(status);
  unsigned flags = s & 0x7FFu;
  if (s & 0x2000u) flags |= 1u << 11;
  if (s & 0x4000u) flags |= 1u << 12;
  if (s & 0x8000u) flags |= 1u << 13;
  return flags;
}

bool IsCharCode(int code) {
  return code == CS_CHAR_TYPE || code == CS_LONGCHAR_TYPE || code == CS_TEXT_TYPE ||
         code == CS_VARCHAR_TYPE;
}
bool IsBinaryCode(int code) {
  return code == CS_BINARY_TYPE || code == CS_LONGBINARY_TYPE || code == CS_IMAGE_TYPE ||
         code == CS_VARBINARY_TYPE;
}

// The display width of a column. Columns longer than 255 bytes travel as long char and long
// binary (codes 2 and 3), which the width table would give the 12 characters of an unknown type:
// they are measured as the char and binary columns they are.
int DisplayLength(int maxLength, int code, int nameLength) {
  if (code == CS_LONGCHAR_TYPE) code = CS_CHAR_TYPE;
  if (code == CS_LONGBINARY_TYPE) code = CS_BINARY_TYPE;
  return NorvDisplayLength(maxLength, code, nameLength);
}

// The value of a column from its zero-terminated UTF-8 text. Plain ASCII, the usual case, is
// widened into the value's own storage, which the previous row left unshared: a listing then
// allocates nothing per value.
void AssignText(QString& value, const char* text) {
  if (!text) {
    value.clear();
    return;
  }
  const size_t length = std::strlen(text);
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  for (size_t i = 0; i < length; ++i)
    if (bytes[i] >= 0x80) {
      value = QString::fromUtf8(text, static_cast<qsizetype>(length));
      return;
    }
  // A value still shared (a worker's listing holds the last one) gets fresh storage rather
  // than a copy of text about to be overwritten.
  if (!value.isDetached() || value.capacity() < static_cast<qsizetype>(length))
    value = QString(static_cast<qsizetype>(length), Qt::Uninitialized);
  else
    value.resize(static_cast<qsizetype>(length));
  QChar* out = value.data();
  for (size_t i = 0; i < length; ++i) out[i] = QChar(static_cast<char16_t>(bytes[i]));
}

// Text columns can be declared 2 GB wide; a bind buffer never grows beyond what a value can
// carry under the connection's text size.
constexpr int kMaxBindWidth = 1 << 20;

}  // namespace

// ---- Bind set ----------------------------------------------------------------------------------

void TBindSet::Reset(oc::Command* cmd, int count) {
  for (size_t n = 1; n < slots_.size(); ++n) {
    if (!slots_[n].bound) continue;
    // A null buffer clears the column's binding.
    oc::IgnoreStatus(oc::ct_bind(cmd, static_cast<CS_INT>(n), nullptr, nullptr, nullptr, nullptr),
                     "a failure means the command can no longer fetch (its connection or its "
                     "results are gone), so nothing writes into the buffer either");
    slots_[n].bound = false;
  }
  slots_.clear();
  slots_.resize(static_cast<size_t>(std::max(count, 0)) + 1);
}

CS_RETCODE TBindSet::Bind(oc::Command* cmd, int n, CS_DATAFMT& fmt, size_t size) {
  if (n < 1 || n >= static_cast<int>(slots_.size())) return CS_FAIL;
  Slot& slot = slots_[static_cast<size_t>(n)];
  auto buffer = std::make_unique<char[]>(size);  // zeroed
  const CS_RETCODE rc = oc::ct_bind(cmd, n, &fmt, buffer.get(), &slot.copied, &slot.indicator);
  // A failed bind leaves the column's earlier binding, if any, in force: its buffer stays.
  if (rc == CS_SUCCEED || !slot.bound) {
    slot.buffer = std::move(buffer);
    slot.bound = rc == CS_SUCCEED;
  }
  return rc;
}

// ---- Construction ------------------------------------------------------------------------------

TNorvQuery::TNorvQuery(QObject* owner) : QObject(owner) {}

TNorvQuery::~TNorvQuery() {
  try {
    if (cmd_ && !ConnectionLost()) {
      CloseResults();
    }
  } catch (...) {
    // A destructor never throws; the connection is left as the server has it.
  }
  FreeBuffers();
  cmd_.reset();
}

// ---- Properties --------------------------------------------------------------------------------

void TNorvQuery::DbNameChanged() { PrepareCommand(); }

void TNorvQuery::SetActive(bool value) {
  if (value) {
    PrepareCommand();
    if (TNorvDatabase* db = Database()) {
      if (!db->Connected()) db->SetConnected(true);
    }
  } else {
    CloseResults();
    DropCommand();
    active_ = false;
  }
}

void TNorvQuery::SetDbErrorText(const QString& value) {
  TDbMessageReporter::SetDbErrorText(value);
  if (TDbMessageReporter* owner = CopyTarget(parent(), false)) owner->SetDbErrorText(value);
}

void TNorvQuery::SetDbServerMsg(const CS_SERVERMSG& value) {
  TDbMessageReporter::SetDbServerMsg(value);
  if (TDbMessageReporter* owner = CopyTarget(parent(), true)) owner->SetDbServerMsg(value);
}

void TNorvQuery::SetDbMessageText(const QString& value) {
  TDbMessageReporter::SetDbMessageText(value);
  if (TDbMessageReporter* owner = CopyTarget(parent(), false)) owner->SetDbMessageText(value);
}

// ---- Connection access
// ---------------------------------------------------------------------------

TNorvDatabase* TNorvQuery::Database() const { return FindDatabase(DbName()); }

oc::Connection* TNorvQuery::Connection() const {
  if (!cmd_) return nullptr;
  oc::Connection* con = nullptr;
  if (oc::ct_cmd_props(cmd_.get(), CS_GET, CS_PARENT_HANDLE, &con, CS_UNUSED, nullptr) !=
      CS_SUCCEED)
    return nullptr;
  return con;
}

oc::Context* TNorvQuery::ContextHandle() const {
  TNorvDatabase* db = Database();
  return db ? db->ContextHandle() : nullptr;
}

bool TNorvQuery::ConnectionLost() const {
  oc::Connection* con = Connection();
  if (!con) return true;
  CS_INT alive = CS_FALSE;
  return oc::ct_con_props(con, CS_GET, CS_LOGIN_STATUS, &alive, CS_UNUSED, nullptr) != CS_SUCCEED ||
         alive != CS_TRUE;
}

// The server went away under a command: the router never hears of it (the library reports it as
// a client message), so the query says so itself.
//
// A connection the application closed itself is no failure: the query just has nothing more.
void TNorvQuery::ReportLostConnection() {
  TNorvDatabase* db = Database();
  if (!db || !db->Connected()) return;
  SetDbErrorText(kLostConnection);
  if (raiseErrors_) throw ENorvException(kLostConnection);
  norv::CurrentPresenter().ShowMessageBox(QStringLiteral("CT-Library error"), kLostConnection,
                                          norv::MsgIcon::Error);
}

void TNorvQuery::HandleMessages() {
  const TMsgDialogs dialogs = MsgDialogs();
  const TShowDbMessages show = ShowDbMessages();
  HandleDbMessages(Connection(), this, raiseErrors_, dialogs.Contains(mdEnhErr),
                   dialogs.Contains(mdEnhMsg), show.Contains(smDbMsg), show.Contains(smDbErr));
}

// ---- Command lifecycle -----------------------------------------------------------------------

void TNorvQuery::DropCommand() {
  if (!cmd_) return;
  oc::IgnoreStatus(oc::ct_cmd_drop(cmd_), "the handle is emptied whatever the library says");
  MonitorLog(QStringLiteral("Open-Client: ct_cmd_drop"));
}

void TNorvQuery::PrepareCommand() {
  CloseResults();
  if (isCursor_ && CursorStatus().Contains(TCursorState::Open)) CloseAndDeallocate(true);
  DropCommand();
  if (TNorvDatabase* db = Database()) {
    if (oc::Connection* con = db->Handle())
      oc::IgnoreStatus(oc::ct_cmd_alloc(con, cmd_), kNoCommandOnFailure);
  }
}

TCursorStatus TNorvQuery::CursorStatus() {
  TCursorStatus status{TCursorState::None};
  if (!cmd_) return status;
  CS_INT bits = 0;
  if (oc::ct_cmd_props(cmd_.get(), CS_GET, CS_CUR_STATUS, &bits, CS_UNUSED, nullptr) != CS_SUCCEED)
    return status;
  if (bits & 0x1) status.Include(TCursorState::Declared);
  if (bits & 0x2) status.Include(TCursorState::Open);
  if (bits & 0x4) status.Include(TCursorState::Closed);
  if (bits & 0x8) status.Include(TCursorState::ReadOnly);
  if (bits & 0x10) status.Include(TCursorState::Updatable);
  return status;
}

// Closes the open cursor with deallocation; `readAll` reads every result instead of two.
// Closing is best effort throughout: whatever the server still holds goes with the command.
void TNorvQuery::CloseAndDeallocate(bool readAll) {
  oc::IgnoreStatus(oc::ct_cursor(cmd_.get(), CS_CURSOR_CLOSE, nullptr, CS_UNUSED, nullptr,
                                 CS_UNUSED, CS_DEALLOC),
                   kBestEffortClose);
  oc::IgnoreStatus(oc::ct_send(cmd_.get()), kBestEffortClose);
  CS_INT type = 0;
  if (readAll) {
    while (oc::ct_results(cmd_.get(), &type) == CS_SUCCEED) {
    }
  } else {
    oc::IgnoreStatus(oc::ct_results(cmd_.get(), &type), kBestEffortClose);
    oc::IgnoreStatus(oc::ct_results(cmd_.get(), &type), kBestEffortClose);
  }
}

void TNorvQuery::CloseCursor() {
  if (!isCursor_ || !cmd_) return;
  const TCursorStatus status = CursorStatus();
  if (status.Contains(TCursorState::Open)) {
    CloseAndDeallocate(false);
  } else if (status.Contains(TCursorState::Declared)) {
    oc::IgnoreStatus(oc::ct_cursor(cmd_.get(), CS_CURSOR_DEALLOC, nullptr, CS_UNUSED, nullptr,
                                   CS_UNUSED, CS_UNUSED),
                     kBestEffortClose);
    oc::IgnoreStatus(oc::ct_send(cmd_.get()), kBestEffortClose);
    CS_INT type = 0;
    oc::IgnoreStatus(oc::ct_results(cmd_.get(), &type), kBestEffortClose);
    oc::IgnoreStatus(oc::ct_results(cmd_.get(), &type), kBestEffortClose);
  }
}

void TNorvQuery::DrainResults() {
  CS_INT type = 0;
  while (oc::ct_results(cmd_.get(), &type) == CS_SUCCEED) {
  }
}

void TNorvQuery::CloseResults() {
  TNorvDatabase* db = Database();
  if (!db) return;
  CloseCursor();
  const TRdbms rdbms = db->RdbmsKind();
  const bool storedProc = ComponentKind(this) == TComponentKind::StoredProc;
  if (rdbms == TRdbms::SqlAnywhere && !storedProc) {
    DrainResults();
    oc::IgnoreStatus(oc::ct_cancel(nullptr, cmd_.get(), CS_CANCEL_CURRENT), kBestEffortClose);
  } else if (rdbms != TRdbms::Other || db->EmulateASE()) {
    oc::IgnoreStatus(oc::ct_cancel(nullptr, cmd_.get(), CS_CANCEL_ALL), kBestEffortClose);
  }
}

void TNorvQuery::FreeBuffers() {
  binds_.Reset(cmd_.get());
  boundCount_ = 0;
}

void TNorvQuery::NewCursorName() {
  const QTime now = QTime::currentTime();
  cursorName_ = QString::number(now.hour()) + QString::number(now.minute()) +
                QString::number(now.second()) + QString::number(now.msec()) +
                QStringLiteral("_cur");
}

// Declares, sizes and opens a cursor on Sql under CursorName, and sends it.
void TNorvQuery::OpenCursor() {
  const QByteArray name = cursorName_.toUtf8();
  const QByteArray text = sql_.toUtf8();
  oc::IgnoreStatus(
      oc::ct_cursor(cmd_.get(), CS_CURSOR_DECLARE, name.constData(), CS_NULLTERM, text.constData(),
                    CS_NULLTERM, readOnly_ ? CS_READ_ONLY : CS_FOR_UPDATE),
      kReportedBySend);
  MonitorLog(QStringLiteral("Open-Client: ct_cursor(CS_CURSOR_DECLARE)"));
  HandleMessages();
  oc::IgnoreStatus(oc::ct_cursor(cmd_.get(), CS_CURSOR_ROWS, nullptr, CS_UNUSED, nullptr, CS_UNUSED,
                                 curFetchRows_),
                   kReportedBySend);
  MonitorLog(QStringLiteral("Open-Client: ct_cursor(CS_CURSOR_ROWS)"));
  HandleMessages();
  oc::IgnoreStatus(
      oc::ct_cursor(cmd_.get(), CS_CURSOR_OPEN, nullptr, CS_UNUSED, nullptr, CS_UNUSED, CS_UNUSED),
      kReportedBySend);
  HandleMessages();
  lastReturn_ = oc::ct_send(cmd_.get());
  MonitorLog(QStringLiteral("SQL Execute: ") + sql_);
  HandleMessages();
}

// ---- Execute -----------------------------------------------------------------------------------

int TNorvQuery::Execute() {
  CheckDbName(DbName());
  TNorvDatabase* db = Database();
  if (!db->Connected()) db->SetConnected(true);
  if (!db->Connected()) {
    const QString text = QStringLiteral("Could not login to Server");
    if (raiseErrors_) throw ENorvException(text);
    norv::CurrentPresenter().ShowMessageBox(QStringLiteral("CT-Library error"), text,
                                            norv::MsgIcon::Error);
    return 0;
  }

  SetDbErrorText(QString());
  SetDbMessageText(QString());
  recNo_ = 0;
  SetDbServerMsg(CS_SERVERMSG{});
  NewCursorName();
  MonitorLog(QStringLiteral("Flow : ** Start of EXECUTE **"));
  raiseErrors_ = !IsBackgroundGrid(parent());

  fetchCount_ = 0;
  hadRows_ = false;
  rowsAffected_ = 0;
  doneRowCount_ = -1;
  hasReturnStatus_ = false;
  returnStatus_ = 0;
  resultType_ = 0;  // nothing of the previous batch may steer Fetch
  int result = 0;
  executed_ = true;
  if (sql_.trimmed().isEmpty()) {
    executed_ = false;
    throw ENorvException(QStringLiteral("SQL may not be null"));
  }
  firstDescribe_ = true;
  lastCommandNumber_ = 0;

  PrepareCommand();
  if (!db->Connected()) return 0;
  if (!cmd_ || ConnectionLost()) {
    // The connection component says it is connected, but the server has gone: nothing is sent.
    executed_ = false;
    ReportLostConnection();
    return 0;
  }
  if (BeforeExec) BeforeExec(this);

  if (isCursor_) {
    OpenCursor();
    result = lastReturn_;
    needFetch_ = skipFirstFetch_ = moreResults_ = rowReady_ = true;
  } else {
    const QByteArray text = sql_.toUtf8();
    oc::IgnoreStatus(
        oc::ct_command(cmd_.get(), CS_LANG_CMD, text.constData(), CS_NULLTERM, CS_UNUSED),
        kReportedBySend);
    HandleMessages();
    MonitorLog(QStringLiteral("SQL Execute: ") + sql_);
    result = oc::ct_send(cmd_.get());
    HandleMessages();
    needFetch_ = skipFirstFetch_ = true;
    moreResults_ = rowReady_ = false;
  }

  try {
    for (;;) {
      lastReturn_ = ProcessResult();
      if (resultType_ == CS_ROW_RESULT || resultType_ == CS_CURSOR_RESULT ||
          resultType_ == CS_CMD_FAIL || resultsReturn_ == CS_END_RESULTS ||
          resultsReturn_ == CS_FAIL || resultsReturn_ == CS_CANCELED)
        break;
    }
  } catch (Exception& e) {
    // Which component and statement: for a program reading the error, never for the user.
    e.AddContext(QStringLiteral("TNorvQuery ") + Name() + QStringLiteral(": ") +
                 sql_.simplified().left(kContextSqlLength));
    CloseResults();
    if (!IsBackgroundGrid(parent())) throw;
  } catch (...) {
    CloseResults();
    if (!IsBackgroundGrid(parent())) throw;
  }

  if (resultsReturn_ == CS_FAIL || resultsReturn_ == CS_CANCELED || resultType_ == CS_CMD_FAIL) {
    const bool lost = ConnectionLost();
    if (!lost) DrainResults();
    CloseResults();
    result = 0;
    if (lost) {
      executed_ = false;
      ReportLostConnection();
      return 0;
    }
  }

  active_ = true;
  if (AfterExec) AfterExec(this);
  MonitorLog(QStringLiteral("Flow : ** End of EXECUTE **"));
  return result;
}

// ---- Result loop -------------------------------------------------------------------------------

// The server's record of the error that failed the command, when the router stored one during
// this execution (Execute zeroes it).
std::vector<TServerMessageRecord> TNorvQuery::FailureRecords() const {
  if (DbServerMsg().msgnumber == 0) return {};
  return {ServerMessageRecord(DbServerMsg())};
}

void TNorvQuery::ReadRowCount() {
  CS_INT count = 0;
  resultsReturn_ = oc::ct_res_info(cmd_.get(), CS_ROW_COUNT, &count, CS_UNUSED, nullptr);
  doneRowCount_ = resultsReturn_ == CS_SUCCEED ? count : -1;
  if (count == -1) count = 0;
  rowsAffected_ = count;
  MonitorLog(QStringLiteral("Open-Client: ct_res_info(CS_ROW_COUNT) - Number of rows : ") +
             QString::number(count));
}

int TNorvQuery::ProcessResult() {
  CS_INT type = 0;
  resultsReturn_ = oc::ct_results(cmd_.get(), &type);
  if (resultsReturn_ == CS_SUCCEED) resultType_ = type;
  HandleMessages();
  moreResults_ = rowReady_ = false;
  needFetch_ = true;

  if (resultsReturn_ == CS_FAIL) return 0;
  if (resultsReturn_ != CS_SUCCEED) return 1;

  moreResults_ = rowReady_ = needFetch_ = true;
  switch (resultType_) {
    case CS_ROW_RESULT:
    case CS_CURSOR_RESULT: {
      hadRows_ = true;
      CS_INT count = 0;
      oc::IgnoreStatus(oc::ct_res_info(cmd_.get(), CS_NUMDATA, &count, CS_UNUSED, nullptr),
                       kCountStaysZero);
      const QString line =
          QStringLiteral("Open-Client: ct_res_info(CS_NUMDATA) - Number of columns : ") +
          QString::number(count);
      if (!textImage_) {
        MonitorLog(line);
        BindColumns(count);
      } else if (!firstDescribe_) {
        MonitorLog(line);
      }
      columnCount_ = count;
      if (textImage_)
        columns_.assign(static_cast<size_t>(std::max(count, 0)) + 1, Column{});
      else if (AfterDescribe)
        AfterDescribe(this);
      if (skipFirstFetch_)
        skipFirstFetch_ = false;
      else
        FetchRow();
      break;
    }
    case CS_STATUS_RESULT: {
      // The one integer is kept: a console program prints it after the procedure's rows.
      CS_DATAFMT fmt{};
      fmt.datatype = CS_INT_TYPE;
      fmt.maxlength = sizeof(CS_INT);
      fmt.count = 1;
      CS_INT status = 0;
      const bool bound = oc::ct_bind(cmd_.get(), 1, &fmt, &status, nullptr, nullptr) == CS_SUCCEED;
      while (oc::ct_fetch(cmd_.get(), CS_UNUSED, CS_UNUSED, CS_UNUSED, nullptr) == CS_SUCCEED) {
        if (!bound) continue;
        hasReturnStatus_ = true;
        returnStatus_ = status;
      }
      HandleMessages();
      break;
    }
    case CS_PARAM_RESULT:
    case CS_MSG_RESULT:
    case CS_COMPUTE_RESULT:
    case CS_COMPUTEFMT_RESULT:
    case CS_DESCRIBE_RESULT: {
      if (resultType_ == CS_COMPUTE_RESULT) hadRows_ = true;
      // Nothing is bound for these: the rows are read and dropped.
      while (oc::ct_fetch(cmd_.get(), CS_UNUSED, CS_UNUSED, CS_UNUSED, nullptr) == CS_SUCCEED) {
      }
      HandleMessages();
      break;
    }
    case CS_CMD_DONE:
      rowReady_ = needFetch_ = false;
      moreResults_ = true;
      if (!isCursor_)
        ReadRowCount();
      else
        doneRowCount_ = -1;
      if (AfterCommandDone) AfterCommandDone(this);
      break;
    case CS_CMD_SUCCEED:
      ReadRowCount();
      hadRows_ = false;
      columnCount_ = 0;
      rowReady_ = needFetch_ = false;
      moreResults_ = true;
      break;
    case CS_CMD_FAIL:
      hadRows_ = false;
      moreResults_ = rowReady_ = needFetch_ = false;
      throw EDatabaseError(QStringLiteral("Command failed"), FailureRecords());
    case CS_ROWFMT_RESULT: break;
    default: moreResults_ = rowReady_ = needFetch_ = false; break;
  }
  // A successful step never ends the advance of text/image mode early (see Fetch).
  return 1;
}

void TNorvQuery::FetchRow() {
  const CS_RETCODE rc = oc::ct_fetch(cmd_.get(), CS_UNUSED, CS_UNUSED, CS_UNUSED, nullptr);
  MonitorLog(QStringLiteral("Open-Client: ct_fetch"));
  if (!textImage_) {
    for (int n = 1; n <= boundCount_ && n < static_cast<int>(columns_.size()); ++n) {
      Column& c = columns_[static_cast<size_t>(n)];
      AssignText(c.Value, binds_.Text(n));
      c.CopiedLength = binds_.Copied(n);
      c.Indicator = binds_.Indicator(n);
    }
  }
  ++rowInCommand_;

  if (rc == CS_SUCCEED) {
    CS_INT number = 0;
    oc::IgnoreStatus(oc::ct_res_info(cmd_.get(), CS_CMD_NUMBER, &number, CS_UNUSED, nullptr),
                     kCountStaysZero);
    if (number != lastCommandNumber_) {
      lastCommandNumber_ = number;
      rowInCommand_ = 1;
      if (BeforeCommand) BeforeCommand(this);
    }
    CS_INT count = 0;
    oc::IgnoreStatus(oc::ct_res_info(cmd_.get(), CS_NUMDATA, &count, CS_UNUSED, nullptr),
                     kCountStaysZero);
    columnCount_ = count;
    if (textImage_) ReadTextImageRow();
    if (nativeDtFmt_) RenderNativeDates();
    rowReady_ = moreResults_ = true;
    ++rowsAffected_;
    if (maxRows_ >= 1 && rowsAffected_ > maxRows_) {
      --rowsAffected_;
      fetchCount_ = 0;
      rowReady_ = moreResults_ = false;
      if (OnMaxRows) OnMaxRows(this);
    }
  } else if (rc == CS_END_DATA) {
    rowReady_ = false;
    moreResults_ = true;
    needFetch_ = false;
  } else {
    moreResults_ = rowReady_ = needFetch_ = false;
    if (ConnectionLost()) ReportLostConnection();
  }

  // Only a row just read is shown; at the end of the set the buffers hold the previous one.
  if (rc == CS_SUCCEED && Monitor() && parent()) {
    for (int n = 1; n <= columnCount_ && n < static_cast<int>(columns_.size()); ++n) {
      const Column& c = columns_[static_cast<size_t>(n)];
      MonitorLog(QStringLiteral("SQL Data Out: Column = ") + QString::number(n) +
                 QStringLiteral(", Name = ") + c.Name + QStringLiteral(", Type = ") +
                 NorvTypeName(c.DataType) + QStringLiteral(", Precision = ") +
                 QString::number(c.Precision) + QStringLiteral(", Scale = ") +
                 QString::number(c.Scale) + QStringLiteral(", Data = ") + FieldValue(n));
    }
  }
}

// ---- Fetch -------------------------------------------------------------------------------------

int TNorvQuery::Fetch() {
  if (!executed_ || resultType_ == CS_CMD_FAIL || resultType_ == 0 || resultType_ == CS_CANCELED)
    return 0;
  if (textImage_ && firstDescribe_) {
    firstDescribe_ = false;
    CS_INT count = 0;
    oc::IgnoreStatus(oc::ct_res_info(cmd_.get(), CS_NUMDATA, &count, CS_UNUSED, nullptr),
                     kCountStaysZero);
    MonitorLog(QStringLiteral("Open-Client: ct_res_info(CS_NUMDATA) - Number of columns : ") +
               QString::number(count));
    skipFirstFetch_ = false;
  }
  if (!rowReady_) return 0;
  if (needFetch_) {
    boundCount_ = columnCount_;
    FetchRow();
    ++fetchCount_;
  }
  if (rowReady_ && moreResults_) return 1;
  if (!rowReady_ && moreResults_) {
    try {
      for (;;) {
        const int step = ProcessResult();
        boundCount_ = columnCount_;
        if (resultType_ == CS_ROW_RESULT || resultType_ == CS_CURSOR_RESULT ||
            resultType_ == CS_CMD_FAIL || resultsReturn_ == CS_END_RESULTS ||
            resultsReturn_ == CS_FAIL || resultsReturn_ == CS_CANCELED || step == 0)
          break;
      }
    } catch (...) {
      // As in Execute: a background grid's query never raises; the failure was reported
      // through the router, and the flags say the batch has ended.
      if (!IsBackgroundGrid(parent())) throw;
    }
    if (!rowReady_ && !moreResults_) {
      const bool lost = resultsReturn_ == CS_FAIL && ConnectionLost();
      if (!textImage_) {
        CloseResults();
        FreeBuffers();
      }
      if (lost) ReportLostConnection();
      return 0;
    }
    return 1;
  }
  return 0;
}

bool TNorvQuery::Next() {
  if (Fetch() != 1) return false;
  ++recNo_;
  return true;
}

// ---- Columns -----------------------------------------------------------------------------------

void TNorvQuery::DescribeInto(Column& column, const CS_DATAFMT& fmt) {
  const auto nameLen = std::clamp<CS_INT>(fmt.namelen, 0, static_cast<CS_INT>(sizeof fmt.name));
  column.Name = NorvObjectname(QString::fromUtf8(fmt.name, nameLen).section(QChar(u'\0'), 0, 0));
  column.NameLength = fmt.namelen;
  column.MaxLength = fmt.maxlength;
  column.Scale = fmt.scale;
  column.Precision = fmt.precision;
  column.DataType = fmt.datatype;
  column.Format = fmt.format;
  column.UserType = fmt.usertype;
  if (isCursor_) column.Status = fmt.status;
}

bool TNorvQuery::BindColumns(int count) {
  binds_.Reset(cmd_.get(), std::max(count, 0));
  columns_.assign(static_cast<size_t>(std::max(count, 0)) + 1, Column{});
  CS_RETCODE last = CS_SUCCEED;
  for (int n = 1; n <= count; ++n) {
    Column& c = columns_[static_cast<size_t>(n)];
    CS_DATAFMT fmt{};
    if (oc::ct_describe(cmd_.get(), n, &fmt) != CS_SUCCEED) {
      last = CS_FAIL;
      break;
    }
    c.MaxLength = fmt.maxlength;
    c.DisplayWidth =
        std::min(DisplayLength(fmt.maxlength, fmt.datatype, fmt.namelen), kMaxBindWidth);
    CS_DATAFMT own = fmt;
    own.maxlength = c.DisplayWidth + 1;
    own.format = CS_FMT_UNUSED;
    own.count = 1;
    c.DataType = fmt.datatype;

    // Rebind as zero-terminated text. The buffer holds the column's whole text form: a binary
    // column's text ("0x" and two digits a byte) is wider than its display width, and a value
    // cut short by the buffer would fail its row.
    CS_DATAFMT text = own;
    int width = DisplayLength(own.maxlength, own.datatype, own.namelen) + 1;
    if (IsBinaryCode(fmt.datatype))
      // In 64 bits: an image column declares a 2 GB maximum.
      width = std::max(
          width,
          static_cast<int>(std::min<int64_t>(2 * int64_t{fmt.maxlength} + 2, kMaxBindWidth)) + 1);
    if (IsCharCode(fmt.datatype))
      width = std::max(width, std::min(fmt.maxlength, kMaxBindWidth) + 1);
    text.format = CS_FMT_NULLTERM;
    text.datatype = CS_CHAR_TYPE;
    text.count = 1;
    text.maxlength = width + 1;
    MonitorLog(QStringLiteral("Open-Client: ct_bind - Column Name : ") +
               QString::fromUtf8(fmt.name, std::clamp<CS_INT>(fmt.namelen, 0, CS_MAX_NAME)));
    last = binds_.Bind(cmd_.get(), n, text, static_cast<size_t>(width) + 1);
    DescribeInto(c, fmt);
  }
  if (last != CS_SUCCEED) {
    FreeBuffers();
    return false;
  }
  boundCount_ = count;
  return true;
}

QString TNorvQuery::ConvertToText(const Column& column, const void* data, CS_INT length) {
  CS_DATAFMT src{};
  CS_DATAFMT dst{};
  oc::IgnoreStatus(oc::ct_describe(cmd_.get(), 1, &src),
                   "only a template; every field that matters is set below");
  src.datatype = column.DataType;
  src.maxlength = length;
  src.format = CS_FMT_UNUSED;
  dst.datatype = CS_CHAR_TYPE;
  dst.format = CS_FMT_NULLTERM;
  dst.maxlength = 1024;
  dst.count = 1;
  std::array<char, 1025> out{};
  CS_INT written = 0;
  if (oc::cs_convert(ContextHandle(), &src, const_cast<void*>(data), &dst, out.data(), &written) !=
      CS_SUCCEED)
    return QString();
  return QString::fromUtf8(out.data());
}

void TNorvQuery::ReadTextImageRow() {
  if (columnCount_ + 1 > static_cast<int>(columns_.size()))
    columns_.resize(static_cast<size_t>(columnCount_) + 1);
  for (int n = 1; n <= columnCount_; ++n) {
    Column& c = columns_[static_cast<size_t>(n)];
    CS_DATAFMT fmt{};
    if (oc::ct_describe(cmd_.get(), n, &fmt) != CS_SUCCEED) continue;
    DescribeInto(c, fmt);
    c.Value.clear();
    CS_INT got = 0;
    auto readFixed = [&](auto* value, CS_INT size) {
      got = 0;
      oc::IgnoreStatus(oc::ct_get_data(cmd_.get(), n, value, size, &got),
                       "a value is taken when bytes came, whatever the code");
      return got >= 1;
    };
    switch (c.DataType) {
      case CS_CHAR_TYPE:
      case CS_BINARY_TYPE:
      case CS_LONGCHAR_TYPE:
      case CS_LONGBINARY_TYPE:
      case CS_TEXT_TYPE:
      case CS_IMAGE_TYPE: {
        QByteArray bytes;
        std::array<char, 1025> piece{};
        CS_RETCODE rc;
        do {
          got = 0;
          rc =
              oc::ct_get_data(cmd_.get(), n, piece.data(), static_cast<CS_INT>(piece.size()), &got);
          if (got > 0) bytes.append(piece.data(), std::min<CS_INT>(got, piece.size()));
        } while (rc == CS_SUCCEED || rc == CS_ROW_FAIL);
        c.CopiedLength = static_cast<CS_INT>(bytes.size()) + 1;
        // Text is in the client character set (UTF-8); binary bytes stand one character each.
        c.Value = IsBinaryCode(c.DataType) ? QString::fromLatin1(bytes) : QString::fromUtf8(bytes);
        break;
      }
      case CS_TINYINT_TYPE:
      case CS_BIT_TYPE: {
        unsigned char v = 0;
        if (readFixed(&v, 1)) c.Value = QString::number(v);
        break;
      }
      case CS_SMALLINT_TYPE: {
        std::int16_t v = 0;
        if (readFixed(&v, 2)) c.Value = QString::number(v);
        break;
      }
      case CS_USMALLINT_TYPE: {
        std::uint16_t v = 0;
        if (readFixed(&v, 2)) c.Value = QString::number(v);
        break;
      }
      case CS_INT_TYPE:
      case CS_LONG_TYPE: {
        std::int32_t v = 0;
        if (readFixed(&v, 4)) c.Value = QString::number(v);
        break;
      }
      case CS_REAL_TYPE:
      case CS_DATETIME4_TYPE:
      case CS_MONEY4_TYPE:
      case CS_FLOAT_TYPE:
      case CS_DATETIME_TYPE:
      case CS_MONEY_TYPE: {
        std::array<char, 8> v{};
        const CS_INT size = (c.DataType == CS_REAL_TYPE || c.DataType == CS_DATETIME4_TYPE ||
                             c.DataType == CS_MONEY4_TYPE)
                                ? 4
                                : 8;
        if (readFixed(v.data(), size)) c.Value = ConvertToText(c, v.data(), got);
        break;
      }
      case CS_NUMERIC_TYPE:
      case CS_DECIMAL_TYPE: {
        CS_NUMERIC v{};
        if (readFixed(&v, static_cast<CS_INT>(sizeof v))) {
          c.Precision = v.precision;
          c.Scale = v.scale;
          c.Value = ConvertToText(c, &v, got);
        }
        break;
      }
      default: break;
    }
    c.DisplayWidth = DisplayLength(c.MaxLength, c.DataType, c.NameLength);
  }
}

// Dates in the desktop's own form: the locale's short date, then its time with the seconds kept
// (a short time form often drops them), the time left out at midnight.
void TNorvQuery::RenderNativeDates() {
  const QLocale locale;
  for (int n = 1; n <= columnCount_ && n < static_cast<int>(columns_.size()); ++n) {
    Column& c = columns_[static_cast<size_t>(n)];
    const QString type = NorvTypeName(c.DataType);
    if (type != QLatin1String("datetime") && type != QLatin1String("smalldatetime")) continue;
    if (c.Value.trimmed().isEmpty()) continue;
    const QByteArray text = c.Value.toUtf8();
    CS_DATAFMT src{};
    src.datatype = CS_CHAR_TYPE;
    src.maxlength = static_cast<CS_INT>(text.size());
    src.format = CS_FMT_UNUSED;
    CS_DATAFMT dst{};
    dst.datatype = CS_DATETIME_TYPE;
    dst.maxlength = 8;
    CS_DATETIME dt{};
    CS_INT written = 0;
    if (oc::cs_convert(ContextHandle(), &src, const_cast<char*>(text.constData()), &dst, &dt,
                       &written) != CS_SUCCEED)
      continue;
    const QDate date = QDate(1900, 1, 1).addDays(dt.dtdays);
    const int seconds = static_cast<int>(static_cast<CS_UINT>(dt.dttime) / 300);
    const QTime time = QTime(0, 0).addSecs(seconds);
    QString out = locale.toString(date, QLocale::ShortFormat);
    if (seconds != 0) {
      QString timeFormat = locale.timeFormat(QLocale::ShortFormat);
      if (!timeFormat.contains(QLatin1String("ss")))
        timeFormat.replace(QLatin1String("mm"), QLatin1String("mm:ss"));
      out += QLatin1Char(' ') + locale.toString(time, timeFormat);
    }
    c.Value = out;
  }
}

const TNorvQuery::Column* TNorvQuery::At(int column) const {
  if (column < 1 || column > columnCount_ || column >= static_cast<int>(columns_.size()))
    return nullptr;
  return &columns_[static_cast<size_t>(column)];
}

QString TNorvQuery::FieldValue(int column) const {
  const Column* c = At(column);
  if (!c) return QString();
  return trimResults_ ? c->Value.trimmed() : c->Value;
}
QString TNorvQuery::FieldName(int column) const {
  return At(column) ? At(column)->Name : QString();
}
int TNorvQuery::FieldType(int column) const { return At(column) ? At(column)->DataType : 0; }
QString TNorvQuery::FieldTypeName(int column) const {
  return At(column) ? NorvTypeName(At(column)->DataType) : QString();
}
int TNorvQuery::FieldMaxLength(int column) const { return At(column) ? At(column)->MaxLength : 0; }
int TNorvQuery::FieldNameLength(int column) const {
  return At(column) ? At(column)->NameLength : 0;
}
int TNorvQuery::FieldScale(int column) const { return At(column) ? At(column)->Scale : 0; }
int TNorvQuery::FieldPrecision(int column) const { return At(column) ? At(column)->Precision : 0; }
int TNorvQuery::FieldFormat(int column) const { return At(column) ? At(column)->Format : 0; }
int TNorvQuery::FieldUserType(int column) const { return At(column) ? At(column)->UserType : 0; }
int TNorvQuery::FieldStatus(int column) const { return At(column) ? At(column)->Status : 0; }
bool TNorvQuery::FieldIsNull(int column) const {
  return At(column) && At(column)->Indicator == CS_NULLDATA;
}
int TNorvQuery::FieldDisplayWidth(int column) const {
  return At(column) ? At(column)->DisplayWidth : 0;
}
bool TNorvQuery::FieldIsNullable(int column) const {
  return (StatusFlags(FieldStatus(column)) & (1u << 5)) != 0;
}
bool TNorvQuery::FieldIsTimestamp(int column) const {
  return (StatusFlags(FieldStatus(column)) & (1u << 11)) != 0;
}
bool TNorvQuery::FieldIsIdentity(int column) const {
  return (StatusFlags(FieldStatus(column)) & (1u << 13)) != 0;
}

// ---- DescribeColumns ---------------------------------------------------------------------------

void TNorvQuery::DescribeColumns() {
  isCursor_ = true;
  CloseResults();
  DropCommand();
  TNorvDatabase* db = Database();
  if (db) {
    if (oc::Connection* con = db->Handle())
      oc::IgnoreStatus(oc::ct_cmd_alloc(con, cmd_), kNoCommandOnFailure);
  }
  if (!cmd_) return;

  FormatOnlyGuard formatOnly(db);
  auto finish = [this, &formatOnly] {
    formatOnly.Restore();
    CloseAndDeallocate(true);
    DropCommand();
  };
  try {
    NewCursorName();
    OpenCursor();
    CS_INT type = 0;
    while (oc::ct_results(cmd_.get(), &type) == CS_SUCCEED) {
      HandleMessages();
      if (type != CS_ROW_RESULT && type != CS_CURSOR_RESULT && type != CS_COMPUTE_RESULT) continue;
      CS_INT count = 0;
      oc::IgnoreStatus(oc::ct_res_info(cmd_.get(), CS_NUMDATA, &count, CS_UNUSED, nullptr),
                       kCountStaysZero);
      HandleMessages();
      if (count < 1) break;
      columnCount_ = count;
      columns_.assign(static_cast<size_t>(count) + 1, Column{});
      for (int n = 1; n <= count; ++n) {
        CS_DATAFMT fmt{};
        oc::IgnoreStatus(oc::ct_describe(cmd_.get(), n, &fmt),
                         "a column the library cannot describe stays blank");
        Column& c = columns_[static_cast<size_t>(n)];
        DescribeInto(c, fmt);
        c.Status = fmt.status;
        c.DisplayWidth = DisplayLength(c.MaxLength, c.DataType, c.NameLength);
      }
      HandleMessages();
      CS_RETCODE rc;
      do {
        rc = oc::ct_fetch(cmd_.get(), CS_UNUSED, CS_UNUSED, CS_UNUSED, nullptr);
      } while (rc == CS_SUCCEED || rc == CS_ROW_FAIL);
      HandleMessages();
    }
    HandleMessages();
  } catch (...) {
    finish();
    throw;
  }
  finish();
}
