#include "dataset/norvdataset.h"

#include "connection/component.h"
#include "connection/messagerouter.h"
#include "connection/norvdatabase.h"
#include "connection/norvexception.h"
#include "connection/presenter.h"
#include "connection/typenames.h"
#include "dataset/norvblob.h"
#include "dataset/norvdatalink.h"

#include <QTime>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr int kInfoSize = 20;
constexpr int kBookmarkAt = 12;
constexpr int kFlagAt = 16;
constexpr int kProvisionalCount = 1000;

constexpr const char* kBestEffortClose =
    "closing is best effort: what the server still holds goes with the command";
constexpr const char* kReportedByRouter = "the router reports what the server said about the step";

// Shows the wait cursor for its lifetime, whatever way the scope is left.
class WaitCursor {
 public:
  WaitCursor() { norv::CurrentPresenter().SetWaitCursor(true); }
  ~WaitCursor() { norv::CurrentPresenter().SetWaitCursor(false); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

bool Supported(TFieldType type) {
  switch (type) {
    case ftString:
    case ftSmallint:
    case ftInteger:
    case ftBoolean:
    case ftFloat:
    case ftCurrency:
    case ftDate:
    case ftTime:
    case ftDateTime: return true;
    default: return false;
  }
}

bool IsTextName(const QString& name) {
  return name == QLatin1String("char") || name == QLatin1String("varchar") ||
         name == QLatin1String("text");
}

}  // namespace

TFieldType NorvFieldTypeOf(const QString& name) {
  struct Entry {
    const char* name;
    TFieldType type;
  };
  static const Entry kMap[] = {
      {"char", ftString},       {"varchar", ftString},
      {"binary", ftVarBytes},   {"varbinary", ftVarBytes},
      {"text", ftMemo},         {"image", ftBlob},
      {"tinyint", ftSmallint},  {"smallint", ftSmallint},
      {"int", ftInteger},       {"real", ftFloat},
      {"float", ftFloat},       {"numeric", ftFloat},
      {"decimal", ftFloat},     {"bit", ftBoolean},
      {"datetime", ftDateTime}, {"smalldatetime", ftDateTime},
      {"money", ftCurrency},    {"smallmoney", ftCurrency},
  };
  for (const Entry& e : kMap)
    if (name == QLatin1String(e.name)) return e.type;
  return ftUnknown;
}

// ---- Construction ------------------------------------------------------------------------------

TNorvDataSet::TNorvDataSet(QObject* owner)
    : TDataSet(owner),
      dataLink_(std::make_unique<TNorvDataLink>(this)),
      masterLink_(std::make_unique<TNorvQueryDataLink>(this)) {
  SetBookmarkSize(8);
  BeforeEdit = [this](TDataSet*) { SnapshotBeforeEdit(); };
  BeforeDelete = [this](TDataSet*) { SnapshotBeforeDelete(); };
}

TNorvDataSet::~TNorvDataSet() {
  // The links go first, so no master reaches a data set being destroyed.
  dataLink_.reset();
  masterLink_.reset();
  try {
    Close();
  } catch (...) {
    HandleInternalException(std::current_exception());
  }
}

void TNorvDataSet::SetReadOnly(bool value) {
  CheckInactive();
  readOnly_ = value;
}

// ---- Connection access -------------------------------------------------------------------------

TNorvDatabase* TNorvDataSet::Database() const { return FindDatabase(DbName()); }

void TNorvDataSet::HandleMessages() {
  const TMsgDialogs dialogs = MsgDialogs();
  const TShowDbMessages show = ShowDbMessages();
  HandleDbMessages(con_, this, true, dialogs.Contains(mdEnhErr), dialogs.Contains(mdEnhMsg),
                   show.Contains(smDbMsg), show.Contains(smDbErr));
}

oc::CommandHandle TNorvDataSet::AllocateCommand() {
  oc::CommandHandle command;
  TNorvDatabase* db = Database();
  if (!db) return command;
  oc::IgnoreStatus(oc::ct_cmd_alloc(db->Handle(), command),
                   "a failed allocation leaves no command, which every user checks");
  MonitorLog(QStringLiteral("Open-Client: ct_cmd_alloc"));
  con_ = db->Handle();
  ctx_ = db->ContextHandle();
  return command;
}

QString TNorvDataSet::CursorNameSuffix() {
  const QTime now = QTime::currentTime();
  return QString::number(now.hour()) + QString::number(now.minute()) +
         QString::number(now.second()) + QString::number(now.msec());
}

// ---- Opening -----------------------------------------------------------------------------------

void TNorvDataSet::OpenInternal() {
  CheckDbName(DbName());
  SetDbServerMsg(CS_SERVERMSG{});
  TNorvDatabase* db = Database();
  if (db->ProcOptions().Contains(poNoExec))
    DatabaseError(QStringLiteral("ProcOptions of poNoExec is not allowed!"));
  WaitCursor wait;
  cachedCount_ = 0;
  moreRows_ = true;
  current_ = -1;
  BuildFieldDefs();
  if (resultType_ == CS_STATUS_RESULT || resultType_ == CS_PARAM_RESULT) {
    ReadReturnParams(probeCmd_.get());
    return;
  }
  if (DefaultFields()) CreateFields();
  BindFields(true);
  ComputeLayout();
  rowCmd_ = AllocateCommand();
  const QString sort = sortDirection_ == sdASC ? QStringLiteral("ASC") : QStringLiteral("DESC");
  if (db->RdbmsKind() == TRdbms::SybaseSqlServer)
    OpenRowCursor(sort);
  else if (db->RdbmsKind() == TRdbms::SqlAnywhere)
    OpenRowCursor(QString());
  cursorOpen_ = true;
  recordCount_ = kProvisionalCount;
}

void TNorvDataSet::BuildFieldDefs() {
  TNorvDatabase* db = Database();
  if (db) serverDbName_ = NorvObjectname(db->DBName());
  ReadColumns();
  if (resultType_ == CS_STATUS_RESULT || resultType_ == CS_PARAM_RESULT) return;
  FieldDefs().Clear();
  for (int n = 1; n <= ColumnCount(); ++n) {
    const NorvColumnDesc& c = Column(n);
    const QString typeName = NorvTypeName(c.DataType);
    QString name = c.Name.trimmed();
    if (name.isEmpty()) name = QStringLiteral("COLUMN") + QString::number(n);
    const bool sized = IsTextName(typeName) || typeName == QLatin1String("binary") ||
                       typeName == QLatin1String("varbinary");
    FieldDefs().Add(name, NorvFieldTypeOf(typeName), sized ? c.MaxLength : 0, false, n);
  }
}

bool TNorvDataSet::ReadColumns() {
  MonitorLog(QStringLiteral("Flow : ** Start of obtaining columns **"));
  const QString text = statement_.join(QLatin1Char('\n')).trimmed();
  if (text.isEmpty()) DatabaseError(QStringLiteral("Invalid TableName/SQL"));
  CheckDbName(DbName());
  TNorvDatabase* db = Database();
  if (!db->Connected()) db->SetConnected(true);
  probeCmd_ = AllocateCommand();
  cursorName_ = Name() + CursorNameSuffix() + QStringLiteral("_colcur");
  DeclareAndOpenCursor(probeCmd_.get(), cursorName_, text);
  if (resultType_ == CS_STATUS_RESULT || resultType_ == CS_PARAM_RESULT) return false;
  if (!DescribeAndBind(probeCmd_.get(), false))
    DatabaseError(QStringLiteral("Invalid TableName/SQL - a column could not be described"));
  if (columns_.empty())
    DatabaseError(QStringLiteral("Invalid TableName/SQL - No columns could be found"));
  QStringList names;
  for (const NorvColumnDesc& c : columns_) names << c.Name;
  fieldList_ = names.join(QStringLiteral(", "));
  CloseCommandCursor(probeCmd_);
  MonitorLog(QStringLiteral("Flow : ** End of obtaining columns **"));
  return true;
}

CS_RETCODE TNorvDataSet::DeclareAndOpenCursor(oc::Command* command, const QString& cursorName,
                                              const QString& text) {
  const QByteArray name = cursorName.toUtf8();
  const QByteArray sql = (prepared_ ? dynamicText_ : text).trimmed().toUtf8();
  if (prepared_) {
    // Declared on the prepared statement; it runs only once the open brings the parameters.
    oc::IgnoreStatus(oc::ct_dynamic(command, CS_CURSOR_DECLARE, "PrepId", CS_NULLTERM,
                                    name.constData(), CS_NULLTERM),
                     kReportedByRouter);
    HandleMessages();
    oc::IgnoreStatus(oc::ct_cursor(command, CS_CURSOR_OPTION, nullptr, CS_UNUSED, nullptr,
                                   CS_UNUSED, CS_READ_ONLY),
                     kReportedByRouter);
    oc::IgnoreStatus(oc::ct_send(command), kReportedByRouter);
    CS_INT type = 0;
    while (oc::ct_results(command, &type) == CS_SUCCEED) {
    }
    HandleMessages();
    MonitorLog(QStringLiteral("Open-Client: ct_dynamic(CS_CURSOR_DECLARE)"));
  } else {
    oc::IgnoreStatus(oc::ct_cursor(command, CS_CURSOR_DECLARE, name.constData(), CS_NULLTERM,
                                   sql.constData(), CS_NULLTERM, CS_READ_ONLY),
                     kReportedByRouter);
    HandleMessages();
    MonitorLog(QStringLiteral("Open-Client: ct_cursor(CS_CURSOR_DECLARE)"));
  }
  oc::IgnoreStatus(
      oc::ct_cursor(command, CS_CURSOR_ROWS, nullptr, CS_UNUSED, nullptr, CS_UNUSED, fetchRows_),
      kReportedByRouter);
  HandleMessages();
  MonitorLog(QStringLiteral("Open-Client: ct_cursor(CS_CURSOR_ROWS) - Rows : ") +
             QString::number(fetchRows_));
  oc::IgnoreStatus(
      oc::ct_cursor(command, CS_CURSOR_OPEN, nullptr, CS_UNUSED, nullptr, CS_UNUSED, CS_UNUSED),
      kReportedByRouter);
  HandleMessages();
  MonitorLog(QStringLiteral("Open-Client: ct_cursor(CS_CURSOR_OPEN)"));
  MonitorLog(QStringLiteral("SQL Execute : ") + QString::fromUtf8(sql));
  if (prepared_) SendParams(command);
  const CS_RETCODE sent = oc::ct_send(command);
  HandleMessages();
  resultType_ = 0;
  for (;;) {
    resultsReturn_ = oc::ct_results(command, &resultType_);
    HandleMessages();
    MonitorLog(QStringLiteral("Open-Client: ct_results"));
    if (resultsReturn_ == CS_END_RESULTS) {
      columns_.clear();
      throw EAbort();
    }
    if (resultType_ == CS_CURSOR_RESULT || resultType_ == CS_CMD_FAIL ||
        resultsReturn_ == CS_FAIL || resultsReturn_ == CS_CANCELED)
      break;
  }
  if (resultsReturn_ == CS_FAIL || resultsReturn_ == CS_CANCELED || resultType_ == CS_CMD_FAIL)
    return 0;
  return sent;
}

bool TNorvDataSet::AcceptColumn(const CS_DATAFMT& fmt) {
  const QString typeName = NorvTypeName(fmt.datatype);
  if (Supported(NorvFieldTypeOf(typeName))) return true;
  const QString name = QString::fromUtf8(fmt.name, std::max<CS_INT>(fmt.namelen, 0));
  const QString text = QStringLiteral("Fieldtype \"") + typeName.toUpper() +
                       QStringLiteral("\" of field \"") + name + QStringLiteral("\" not supported");
  MonitorLog(text);
  if (!typeErrCont_) DatabaseError(text);
  if (typeErrShow_)
    norv::CurrentPresenter().ShowMessageBox(QStringLiteral("SQL Server Message"), text,
                                            norv::MsgIcon::Warning);
  return false;
}

bool TNorvDataSet::DescribeAndBind(oc::Command* command, bool bindNatively) {
  CS_INT n = 0;
  if (oc::ct_res_info(command, CS_NUMDATA, &n, CS_UNUSED, nullptr) != CS_SUCCEED) n = 0;
  HandleMessages();
  MonitorLog(QStringLiteral("Open-Client: ct_res_info(CS_NUMDATA) - Number of columns : ") +
             QString::number(n));
  columns_.clear();
  formats_.clear();
  bindings_.clear();
  bindings_.resize(static_cast<size_t>(std::max<CS_INT>(n, 0)));  // never grows while bound
  for (CS_INT i = 1; i <= n; ++i) {
    CS_DATAFMT fmt{};
    if (oc::ct_describe(command, i, &fmt) != CS_SUCCEED) {
      bindings_.resize(columns_.size());
      return false;
    }
    MonitorLog(QStringLiteral("Open-Client: ct_describe"));
    if (!AcceptColumn(fmt)) continue;
    NorvColumnDesc desc;
    desc.Name = NorvObjectname(QString::fromUtf8(fmt.name, std::max<CS_INT>(fmt.namelen, 0)));
    desc.NameLength = fmt.namelen;
    desc.MaxLength = fmt.maxlength;
    desc.Scale = fmt.scale;
    desc.Precision = fmt.precision;
    desc.DataType = fmt.datatype;
    desc.Format = fmt.format;
    desc.UserType = fmt.usertype;
    desc.Status = fmt.status;
    NorvColumnBinding& b = bindings_[columns_.size()];
    columns_.push_back(desc);
    formats_.push_back(fmt);
    // Columns longer than 255 bytes travel as long char and long binary, which the width table
    // would give the 12 characters of an unknown type: they are measured as what they are.
    int widthCode = fmt.datatype;
    if (widthCode == CS_LONGCHAR_TYPE) widthCode = CS_CHAR_TYPE;
    if (widthCode == CS_LONGBINARY_TYPE) widthCode = CS_BINARY_TYPE;
    b.DisplayLength = NorvDisplayLength(fmt.maxlength, widthCode, fmt.namelen);
    CS_DATAFMT bound = fmt;
    size_t size = 0;
    if (bindNatively) {
      if (IsTextName(NorvTypeName(fmt.datatype))) {
        bound.format = CS_FMT_NULLTERM;
        bound.maxlength = b.DisplayLength + 1;
      }
      size = static_cast<size_t>(b.DisplayLength) + 1;
    } else {
      bound.datatype = CS_CHAR_TYPE;
      bound.format = CS_FMT_NULLTERM;
      bound.maxlength = b.DisplayLength + 1;
      size = static_cast<size_t>(b.DisplayLength) + 2;
    }
    bound.count = 1;
    b.Buffer = std::make_unique<char[]>(size);
    MonitorLog(QStringLiteral("Open-Client: ct_bind - Column Name : ") + desc.Name);
    oc::IgnoreStatus(oc::ct_bind(command, i, &bound, b.Buffer.get(), &b.Copied, &b.Indicator),
                     kReportedByRouter);
  }
  bindings_.resize(columns_.size());
  return true;
}

void TNorvDataSet::OpenRowCursor(const QString& /*sortDirection*/) {
  const QString text = statement_.join(QLatin1Char('\n')).trimmed();
  if (text.isEmpty()) DatabaseError(QStringLiteral("Invalid TableName/SQL"));
  cursorName_ = Name() + CursorNameSuffix() + QStringLiteral("_rcur");
  DeclareAndOpenCursor(rowCmd_.get(), cursorName_, text);
  if (!DescribeAndBind(rowCmd_.get(), true))
    DatabaseError(QStringLiteral("Invalid TableName/SQL - a column could not be described"));
}

// ---- Layout ------------------------------------------------------------------------------------

int TNorvDataSet::SlotSize(int fieldNo) const {
  const size_t i = static_cast<size_t>(fieldNo - 1);
  switch (types_[i]) {
    case ftString: return sizes_[i] + 1;
    case ftSmallint:
    case ftBoolean: return 2;
    case ftInteger: return 4;
    default: return 8;
  }
}

void TNorvDataSet::ComputeLayout() {
  offsets_.clear();
  types_.clear();
  sizes_.clear();
  recordSize_ = 0;
  for (int i = 0; i < FieldDefs().Count(); ++i) {
    const TFieldDef& def = FieldDefs()[i];
    if (!Supported(def.DataType))
      DatabaseError(QStringLiteral("Fieldtype of Field \"") + def.Name +
                    QStringLiteral("\" not supported!"));
    offsets_.push_back(recordSize_);
    types_.push_back(def.DataType);
    sizes_.push_back(def.Size);
    recordSize_ += SlotSize(i + 1) + 1;
  }
  cache_.clear();
  recordCount_ = 0;
  current_ = -1;
  cursorOpen_ = false;
}

TRecordBufferHolder TNorvDataSet::AllocateRecordBuffer() {
  const size_t size = static_cast<size_t>(recordSize_ + kInfoSize + CalcFieldsSize());
  return std::make_unique<char[]>(size);  // zero-filled
}

void TNorvDataSet::ReadBookmarkData(TRecordBuffer buffer, void* data) {
  std::memcpy(data, InfoBlock(buffer) + kBookmarkAt, 4);
}

void TNorvDataSet::WriteBookmarkData(TRecordBuffer buffer, const void* data) {
  const qint32 zero = 0;
  std::memcpy(InfoBlock(buffer) + kBookmarkAt, data ? data : &zero, 4);
}

TBookmarkFlag TNorvDataSet::ReadBookmarkFlag(TRecordBuffer buffer) {
  return static_cast<TBookmarkFlag>(InfoBlock(buffer)[kFlagAt]);
}

void TNorvDataSet::WriteBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) {
  InfoBlock(buffer)[kFlagAt] = static_cast<char>(flag);
}

// ---- Fetching ----------------------------------------------------------------------------------

CS_RETCODE TNorvDataSet::ReadRowCursorRow(oc::Command* command, bool cursorMode) {
  if (cursorMode && !moreRows_) return 0;
  if (!command) {
    moreRows_ = false;
    return 0;
  }
  CS_INT rows = 0;
  const CS_RETCODE rc = oc::ct_fetch(command, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows);
  MonitorLog(QStringLiteral("Open-Client: ct_fetch"));
  if (cursorMode && rc != CS_SUCCEED) moreRows_ = false;
  return rc;
}

CS_RETCODE TNorvDataSet::EnsureCached(int index) {
  if (index < cachedCount_) return CS_SUCCEED;
  WaitCursor wait;
  while (index >= cachedCount_) {
    if (ReadRowCursorRow(rowCmd_.get(), true) != CS_SUCCEED) {
      CloseCommandCursor(rowCmd_);
      cache_.squeeze();  // every row is in: no room kept for more
      recordCount_ = cachedCount_;
      return 0;
    }
    StoreRow();
    ++cachedCount_;
    recordCount_ = cachedCount_;
  }
  return CS_SUCCEED;
}

void TNorvDataSet::StoreRow() {
  // Straight into the cache: a row's image is built where it stays.
  const qsizetype at = cache_.size();
  cache_.resize(at + recordSize_);
  char* image = cache_.data() + at;
  std::memset(image, 0, static_cast<size_t>(recordSize_));
  for (int n = 1; n <= ColumnCount(); ++n) {
    const size_t i = static_cast<size_t>(n - 1);
    const NorvColumnDesc& c = columns_[i];
    NorvColumnBinding& b = bindings_[i];
    char* slot = image + offsets_[i];
    const int size = SlotSize(n);
    bool null = b.Indicator != 0;
    switch (types_[i]) {
      case ftString:
        null = b.Indicator == -1;
        std::memcpy(slot, b.Buffer.get(), static_cast<size_t>(c.MaxLength + 1));
        slot[c.MaxLength] = '\0';
        break;
      case ftSmallint:
        if (!null) {
          qint16 v = 0;
          if (c.DataType == CS_TINYINT_TYPE)
            v = static_cast<unsigned char>(b.Buffer[0]);
          else
            std::memcpy(&v, b.Buffer.get(), 2);
          std::memcpy(slot, &v, 2);
        }
        break;
      case ftInteger:
        if (!null) std::memcpy(slot, b.Buffer.get(), 4);
        break;
      case ftBoolean:
        if (!null) {
          const qint16 v = b.Buffer[0] != 0 ? 1 : 0;
          std::memcpy(slot, &v, 2);
        }
        break;
      case ftFloat:
      case ftCurrency:
        if (!null && c.DataType == CS_FLOAT_TYPE) {
          std::memcpy(slot, b.Buffer.get(), 8);
        } else if (!null && c.DataType == CS_MONEY_TYPE) {
          // What the conversion to float gives: the scaled integer over 10,000.
          CS_MONEY m;
          std::memcpy(&m, b.Buffer.get(), sizeof m);
          const double v = static_cast<double>(static_cast<qint64>(
                               (static_cast<quint64>(static_cast<quint32>(m.mnyhigh)) << 32) |
                               static_cast<quint32>(m.mnylow))) /
                           10000;
          std::memcpy(slot, &v, 8);
        } else if (!null) {
          CS_DATAFMT dst{};
          dst.datatype = CS_FLOAT_TYPE;
          dst.maxlength = 8;
          CS_FLOAT v = 0;
          if (oc::cs_convert(ctx_, &formats_[i], b.Buffer.get(), &dst, &v, nullptr) != CS_SUCCEED)
            null = true;
          std::memcpy(slot, &v, 8);
        }
        break;
      default:  // date-time
        if (!null) {
          // Ticks of 1/300 second become milliseconds that convert back to the same ticks when
          // the value is sent as a parameter. A datetime is read as bound; a smalldatetime is
          // converted first.
          CS_DATETIME value{};
          if (c.DataType == CS_DATETIME_TYPE) {
            std::memcpy(&value, b.Buffer.get(), sizeof value);
          } else {
            CS_DATAFMT dt{};
            dt.datatype = CS_DATETIME_TYPE;
            dt.maxlength = 8;
            if (oc::cs_convert(ctx_, &formats_[i], b.Buffer.get(), &dt, &value, nullptr) !=
                CS_SUCCEED) {
              null = true;
              break;
            }
          }
          const double msecs =
              static_cast<double>((qint64(value.dtdays) + 2 + kDateDelta) * kMSecsPerDay +
                                  std::llround(static_cast<double>(value.dttime) / 0.3));
          std::memcpy(slot, &msecs, 8);
        }
    }
    slot[size] = null ? 1 : 0;
    if (Monitor()) {
      const QString text = SlotText(slot, n);
      MonitorLog(QStringLiteral("SQL Data Out: Column = %1, Name = %2, Type = %3, Precision = "
                                "%4, Scale = %5, Data = %6")
                     .arg(n)
                     .arg(c.Name, NorvTypeName(c.DataType))
                     .arg(c.Precision)
                     .arg(c.Scale)
                     .arg(text.isEmpty() ? QStringLiteral("NULL") : text));
    }
  }
}

// The value of a slot as text; empty for NULL.
QString TNorvDataSet::SlotText(const char* slot, int n) const {
  const size_t i = static_cast<size_t>(n - 1);
  if (slot[SlotSize(n)]) return QString();
  switch (types_[i]) {
    case ftString: return QString::fromUtf8(slot);
    case ftSmallint:
    case ftBoolean: {
      qint16 v;
      std::memcpy(&v, slot, 2);
      return QString::number(v);
    }
    case ftInteger: {
      qint32 v;
      std::memcpy(&v, slot, 4);
      return QString::number(v);
    }
    case ftFloat:
    case ftCurrency: {
      double v;
      std::memcpy(&v, slot, 8);
      return FieldText::FromFloat(v);
    }
    default: {
      double v;
      std::memcpy(&v, slot, 8);
      return FieldText::FromDateTime(types_[i], NativeToDateTime(v));
    }
  }
}

// ---- Records -----------------------------------------------------------------------------------

void TNorvDataSet::ReadCachedRecord(TRecordBuffer buffer, int index) {
  std::memcpy(buffer, cache_.constData() + qsizetype(index) * recordSize_,
              static_cast<size_t>(recordSize_));
}

void TNorvDataSet::WriteCachedRecord(TRecordBuffer buffer, int index) {
  std::memcpy(cache_.data() + qsizetype(index) * recordSize_, buffer,
              static_cast<size_t>(recordSize_));
}

void TNorvDataSet::AppendCachedRecord(TRecordBuffer buffer) {
  cache_.resize(qsizetype(cachedCount_) * recordSize_);
  cache_.append(buffer, recordSize_);
}

void TNorvDataSet::InsertCachedRecord(TRecordBuffer buffer, int index) {
  cache_.insert(qsizetype(index) * recordSize_, buffer, recordSize_);
  ++cachedCount_;
  ++recordCount_;
}

bool TNorvDataSet::FilterAccepts(TRecordBuffer buffer) {
  if (!OnFilterRecord) return true;
  bool accept = true;
  const TDataSetState previous = SetTempState(dsFilter, buffer);
  try {
    OnFilterRecord(this, accept);
  } catch (...) {
    RestoreState(previous);
    throw;
  }
  RestoreState(previous);
  return accept;
}

TGetResult TNorvDataSet::ReadRecord(TRecordBuffer buffer, TGetMode mode, bool /*doCheck*/) {
  if (recordCount_ < 1) return grEOF;
  for (;;) {
    switch (mode) {
      case gmCurrent:
        if (current_ < 0 || current_ > recordCount_ - 1) return grError;
        break;
      case gmNext:
        if (current_ >= recordCount_) return grEOF;
        ++current_;
        break;
      case gmPrior:
        if (current_ <= 0) return grBOF;
        --current_;
        break;
    }
    if (current_ >= cachedCount_ && EnsureCached(current_) != CS_SUCCEED) {
      current_ = cachedCount_;
      return grEOF;
    }
    ReadCachedRecord(buffer, current_);
    const qint32 mark = current_;
    WriteBookmarkData(buffer, &mark);
    WriteBookmarkFlag(buffer, bfCurrent);
    std::memset(buffer + recordSize_ + kInfoSize, 0, static_cast<size_t>(CalcFieldsSize()));
    GetCalcFields(buffer);
    const bool accepted = !Filtered() || FilterAccepts(buffer);
    if (accepted) return grOK;
    if (mode == gmCurrent) return grError;
  }
}

int TNorvDataSet::RecordNumber() {
  if (!Filtered()) return current_ + 1;
  const int at = current_;
  TRecordBufferHolder scratch = AllocateRecordBuffer();
  int n = 0;
  current_ = -1;
  while (ReadRecord(scratch.get(), gmNext, false) == grOK) {
    ++n;
    if (current_ >= at) break;
  }
  current_ = at;
  return n;
}

void TNorvDataSet::SetRecordNumber(int value) {
  if (!Filtered()) {
    current_ = value - 1;
    return;
  }
  const int previous = current_;
  TRecordBufferHolder scratch = AllocateRecordBuffer();
  current_ = -1;
  for (int n = 0; n < value; ++n)
    if (ReadRecord(scratch.get(), gmNext, false) != grOK) {
      current_ = previous;
      return;
    }
}

bool TNorvDataSet::StepFind(bool restart, bool goForward) {
  TRecordBufferHolder scratch = AllocateRecordBuffer();
  if (restart) {
    if (goForward)
      MoveBeforeFirst();
    else
      MoveAfterLast();
  }
  return ReadRecord(scratch.get(), goForward ? gmNext : gmPrior, false) == grOK;
}

void TNorvDataSet::MoveAfterLast() {
  WaitCursor wait;
  recordCount_ = cachedCount_;
  while (ReadRowCursorRow(rowCmd_.get(), true) == CS_SUCCEED) {
    ++cachedCount_;
    StoreRow();
  }
  CloseCommandCursor(rowCmd_);
  cache_.squeeze();  // every row is in: no room kept for more
  moreRows_ = false;
  recordCount_ = current_ = cachedCount_;
}

void TNorvDataSet::MoveToBookmark(const TBookmark& bookmark) {
  qint32 index = -1;
  if (bookmark.size() >= 4) std::memcpy(&index, bookmark.constData(), 4);
  if (index < 0 || index >= recordCount_)
    DatabaseError(QStringLiteral("Bookmark %1 not found!").arg(index));
  current_ = index;
}

void TNorvDataSet::MoveToRecordOf(TRecordBuffer buffer) {
  MoveToBookmark(QByteArray(InfoBlock(buffer) + kBookmarkAt, 4));
}

// ---- Field values ------------------------------------------------------------------------------

bool TNorvDataSet::ReadFieldData(TField* field, void* dest) {
  TRecordBuffer buffer = StateBuffer();
  if (!buffer || !cursorOpen_) return false;
  if (field->FieldKind() != fkData) {
    const char* p = buffer + recordSize_ + kInfoSize + field->Offset();
    if (!p[0]) return false;
    if (dest) std::memcpy(dest, p + 1, static_cast<size_t>(field->DataSize()));
    return true;
  }
  const int n = field->FieldNo();
  if (n < 1 || n > static_cast<int>(offsets_.size())) return false;
  const char* slot = buffer + offsets_[size_t(n - 1)];
  const int size = SlotSize(n);
  if (slot[size]) return false;
  if (dest) std::memcpy(dest, slot, static_cast<size_t>(size));
  return true;
}

void TNorvDataSet::WriteFieldData(TField* field, const void* source) {
  TRecordBuffer buffer = StateBuffer();
  if (!buffer) return;
  if (field->FieldKind() != fkData) {
    char* p = buffer + recordSize_ + kInfoSize + field->Offset();
    p[0] = source ? 1 : 0;
    if (source) std::memcpy(p + 1, source, static_cast<size_t>(field->DataSize()));
  } else {
    const int n = field->FieldNo();
    if (n >= 1 && n <= static_cast<int>(offsets_.size())) {
      char* slot = buffer + offsets_[size_t(n - 1)];
      const int size = SlotSize(n);
      if (source) std::memcpy(slot, source, static_cast<size_t>(size));
      slot[size] = source ? 0 : 1;
    }
  }
  FieldChanged(field);
}

// ---- Editing the cache -------------------------------------------------------------------------

void TNorvDataSet::InitNewRecord(TRecordBuffer buffer) {
  oc::IgnoreStatus(EnsureCached(cachedCount_), "a server without more rows leaves the cache");
  std::memset(buffer, 0, static_cast<size_t>(recordSize_));
  for (int n = 1; n <= static_cast<int>(offsets_.size()); ++n)
    buffer[offsets_[size_t(n - 1)] + SlotSize(n)] = 1;
}

void TNorvDataSet::PostInternal() {
  if (State() == dsEdit) {
    WriteCachedRecord(ActiveBuffer(), current_);
  } else if (State() == dsInsert) {
    InsertCachedRecord(ActiveBuffer(), std::clamp(current_, 0, cachedCount_));
  }
}

void TNorvDataSet::AddRecord(TRecordBuffer buffer, bool /*append*/) {
  AppendCachedRecord(buffer);
  ++cachedCount_;
  MoveAfterLast();
}

void TNorvDataSet::DeleteInternal() {
  oc::IgnoreStatus(EnsureCached(cachedCount_), "a server without more rows leaves the cache");
  if (current_ < 0 || current_ >= cachedCount_) return;
  cache_.remove(qsizetype(current_) * recordSize_, recordSize_);
  --cachedCount_;
  --recordCount_;
  if (cachedCount_ == 0)
    current_ = -1;
  else if (current_ >= cachedCount_)
    current_ = cachedCount_ - 1;
}

void TNorvDataSet::TakeSnapshot() {
  snapshot_.clear();
  const int index = RecNo() - 1;
  if (index >= 0 && index < cachedCount_)
    snapshot_ = cache_.mid(qsizetype(index) * recordSize_, recordSize_);
}

void TNorvDataSet::SnapshotBeforeEdit() {
  if (!readOnly_) TakeSnapshot();
}

void TNorvDataSet::SnapshotBeforeDelete() { TakeSnapshot(); }

QString TNorvDataSet::SnapshotFieldText(TField* field) const {
  const int n = field->FieldNo();
  if (n < 1 || n > static_cast<int>(offsets_.size()) || snapshot_.size() < recordSize_)
    return QString();
  return SlotText(snapshot_.constData() + offsets_[size_t(n - 1)], n);
}

// ---- Closing -----------------------------------------------------------------------------------

CS_RETCODE TNorvDataSet::FlushAndCancel(oc::Command* command) {
  CS_INT type = 0;
  while (oc::ct_results(command, &type) == CS_SUCCEED) {
  }
  return oc::ct_cancel(nullptr, command, CS_CANCEL_ALL);
}

void TNorvDataSet::CloseCommandCursor(oc::CommandHandle& command) {
  if (!command) return;
  oc::Command* cmd = command.get();
  oc::IgnoreStatus(FlushAndCancel(cmd), kBestEffortClose);
  CS_INT status = 0;
  oc::IgnoreStatus(oc::ct_cmd_props(cmd, CS_GET, CS_CUR_STATUS, &status, CS_UNUSED, nullptr),
                   "without a status nothing is closed");
  CS_INT type = 0;
  if (status & CS_CURSTAT_OPEN) {
    oc::IgnoreStatus(FlushAndCancel(cmd), kBestEffortClose);
    oc::IgnoreStatus(
        oc::ct_cursor(cmd, CS_CURSOR_CLOSE, nullptr, CS_UNUSED, nullptr, CS_UNUSED, CS_DEALLOC),
        kBestEffortClose);
    oc::IgnoreStatus(oc::ct_send(cmd), kBestEffortClose);
    while (oc::ct_results(cmd, &type) == CS_SUCCEED) {
    }
    MonitorLog(QStringLiteral("Open-Client: ct_cursor(CS_CURSOR_CLOSE)"));
    oc::IgnoreStatus(FlushAndCancel(cmd), kBestEffortClose);
    oc::IgnoreStatus(oc::ct_cmd_drop(command), kBestEffortClose);
    MonitorLog(QStringLiteral("Open-Client: ct_cmd_drop"));
  } else if (status & CS_CURSTAT_DECLARED) {
    oc::IgnoreStatus(
        oc::ct_cursor(cmd, CS_CURSOR_DEALLOC, nullptr, CS_UNUSED, nullptr, CS_UNUSED, CS_UNUSED),
        kBestEffortClose);
    oc::IgnoreStatus(oc::ct_send(cmd), kBestEffortClose);
    while (oc::ct_results(cmd, &type) == CS_SUCCEED) {
    }
    MonitorLog(QStringLiteral("Open-Client: ct_cursor(CS_CURSOR_DEALLOC)"));
    oc::IgnoreStatus(FlushAndCancel(cmd), kBestEffortClose);
  }
  // Whatever the cursor's state, the command is not used again.
  command.reset();
}

void TNorvDataSet::CloseInternal() {
  CloseCommandCursor(probeCmd_);
  CloseCommandCursor(rowCmd_);
  if (prepared_) UnprepareStatement();
  bindings_.clear();
  columns_.clear();
  formats_.clear();
  cursorOpen_ = false;
  moreRows_ = false;
  BindFields(false);
  if (DefaultFields()) DestroyFields();
  cache_.clear();
  snapshot_.clear();
  recordCount_ = 0;
  cachedCount_ = 0;
  current_ = -1;
  recordSize_ = 0;
  offsets_.clear();
  types_.clear();
  sizes_.clear();
}

// ---- Prepared statements and parameters --------------------------------------------------------

namespace {

QString Quoted(const QString& name) { return QLatin1Char('"') + name + QLatin1Char('"'); }

// Whether a parameter of this field type can be sent at all.
bool Sendable(TFieldType type) {
  switch (type) {
    case ftString:
    case ftSmallint:
    case ftInteger:
    case ftBoolean:
    case ftFloat:
    case ftCurrency:
    case ftDateTime: return true;
    default: return false;
  }
}

}  // namespace

void TNorvDataSet::CheckParamTypes() {
  for (int i = 0; i < params_.Count(); ++i) {
    const TParam& p = params_[i];
    if (p.ParamType() == ptResult || Sendable(p.DataType())) continue;
    if (p.DataType() == ftUnknown) {
      UnprepareStatement();
      DatabaseError(QStringLiteral("Parameter ") + Quoted(p.Name()) +
                    QStringLiteral(" has an Unknown data type"));
    }
    DatabaseError(QStringLiteral("Datatype of parameter ") + Quoted(p.Name()) +
                  QStringLiteral(" not supported!"));
  }
}

void TNorvDataSet::PrepareStatement() {
  if (prepared_) UnprepareStatement();
  // Refused before the server sees anything of the statement.
  CheckParamTypes();
  if (prepCmd_) oc::IgnoreStatus(FlushAndCancel(prepCmd_.get()), kBestEffortClose);
  const QByteArray text = dynamicText_.toUtf8();
  prepCmd_ = AllocateCommand();
  if (!prepCmd_) DatabaseError(QStringLiteral("Can not connect"));
  oc::IgnoreStatus(oc::ct_dynamic(prepCmd_.get(), CS_PREPARE, "PrepId", CS_NULLTERM,
                                  text.constData(), CS_NULLTERM),
                   kReportedByRouter);
  oc::IgnoreStatus(oc::ct_send(prepCmd_.get()), kReportedByRouter);
  HandleMessages();
  MonitorLog(QStringLiteral("Open-Client: ct_dynamic(CS_PREPARE)"));
  CS_INT type = 0;
  while (oc::ct_results(prepCmd_.get(), &type) == CS_SUCCEED) HandleMessages();
  HandleMessages();
  prepared_ = true;
}

void TNorvDataSet::UnprepareStatement() {
  if (!prepared_) return;
  oc::Command* cmd = prepCmd_.get();
  oc::IgnoreStatus(oc::ct_dynamic(cmd, CS_DEALLOC, "PrepId", CS_NULLTERM, nullptr, CS_UNUSED),
                   kBestEffortClose);
  oc::IgnoreStatus(oc::ct_send(cmd), kBestEffortClose);
  HandleMessages();
  MonitorLog(QStringLiteral("Open-Client: ct_dynamic(CS_DEALLOC)"));
  CS_INT type = 0;
  while (oc::ct_results(cmd, &type) == CS_SUCCEED) HandleMessages();
  HandleMessages();
  oc::IgnoreStatus(oc::ct_cmd_drop(prepCmd_), kBestEffortClose);
  prepCmd_.reset();
  prepared_ = false;
}

void TNorvDataSet::SendParams(oc::Command* command) {
  CheckParamTypes();
  for (int i = 0; i < params_.Count(); ++i) {
    const TParam& p = params_[i];
    if (p.ParamType() == ptResult) continue;
    QByteArray data;
    CS_INT type = CS_CHAR_TYPE;
    auto put = [&data](const auto& v) {
      data = QByteArray(reinterpret_cast<const char*>(&v), sizeof v);
    };
    switch (p.DataType()) {
      case ftString: data = p.AsString().toUtf8(); break;
      case ftSmallint:
        type = CS_SMALLINT_TYPE;
        put(static_cast<CS_SMALLINT>(p.AsInteger()));
        break;
      case ftInteger:
        type = CS_INT_TYPE;
        put(static_cast<CS_INT>(p.AsInteger()));
        break;
      case ftBoolean:
        type = CS_BIT_TYPE;
        put(static_cast<CS_SMALLINT>(p.AsBoolean() ? 1 : 0));
        break;
      case ftFloat:
      case ftCurrency:
        type = CS_FLOAT_TYPE;
        put(static_cast<CS_FLOAT>(p.AsFloat()));
        break;
      default: {  // ftDateTime, the only other type CheckParamTypes lets through
        type = CS_DATETIME_TYPE;
        const QDateTime at = p.AsDateTime();
        CS_DATETIME dt{};
        if (at.isValid()) {
          const QTime t = at.time();
          dt.dtdays = static_cast<CS_INT>(QDate(1900, 1, 1).daysTo(at.date()));
          dt.dttime = (t.hour() * 3600 + t.minute() * 60 + t.second()) * 300 +
                      static_cast<CS_INT>(std::lround(t.msec() * 0.3));
        }
        put(dt);
      }
    }
    // A NULL value travels as NULL, never as a zero or an empty text.
    const bool null = p.IsNull();
    CS_DATAFMT& fmt = paramFormat_;
    fmt = CS_DATAFMT{};
    fmt.datatype = type;
    fmt.maxlength = static_cast<CS_INT>(data.size());
    fmt.status = p.ParamType() == ptOutput ? CS_RETURN : CS_INPUTVALUE;
    fmt.count = 1;
    fmt.locale = nullptr;
    if (null && p.ParamType() != ptOutput) data.clear();
    oc::IgnoreStatus(
        oc::ct_param(command, &fmt, data.isEmpty() ? nullptr : data.data(),
                     static_cast<CS_INT>(data.size()),
                     null && p.ParamType() != ptOutput ? CS_SMALLINT(-1) : CS_SMALLINT(0)),
        kReportedByRouter);
    HandleMessages();
    MonitorLog(QStringLiteral("Open-Client: ct_param : Column = ") + p.Name());
  }
}

void TNorvDataSet::SwapBoundColumns(BoundColumns& other) {
  other.columns.swap(columns_);
  other.formats.swap(formats_);
  other.bindings.swap(bindings_);
}

QString TNorvDataSet::BoundText(int n) const {
  const NorvColumnBinding& b = bindings_.at(static_cast<size_t>(n - 1));
  if (b.Indicator == -1) return QString();
  return QString::fromUtf8(b.Buffer.get());
}

void TNorvDataSet::ReadReturnStatus(oc::Command* command, bool check) {
  MonitorLog(QStringLiteral("Flow : ** Start of obtaining Return status **"));
  CS_INT n = 0;
  if (oc::ct_res_info(command, CS_NUMDATA, &n, CS_UNUSED, nullptr) != CS_SUCCEED) return;
  // The status row has bindings of its own: the row cursor's stay untouched.
  std::vector<NorvColumnDesc> columns;
  std::vector<CS_DATAFMT> formats;
  std::vector<NorvColumnBinding> bindings;
  columns.swap(columns_);
  formats.swap(formats_);
  bindings.swap(bindings_);
  auto restore = [&] {
    columns.swap(columns_);
    formats.swap(formats_);
    bindings.swap(bindings_);
  };
  DescribeAndBind(command, false);
  CS_INT rows = 0;
  QString status;
  if (oc::ct_fetch(command, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows) == CS_SUCCEED &&
      !bindings_.empty())
    status = BoundText(1).trimmed();
  bool ok = false;
  const int value = status.toInt(&ok);
  const int statusColumns = static_cast<int>(columns_.size());
  if (statusColumns >= 1 && statusColumns != params_.Count() &&
      ComponentKind(this) == TComponentKind::Table && ok && value < 0 && check) {
    restore();
    throw EAbort();
  }
  if (statusColumns > 0) {
    for (int i = 0; i < params_.Count(); ++i) {
      TParam& p = params_[i];
      if (p.ParamType() != ptResult) continue;
      p.SetValue(value);
      MonitorLog(QStringLiteral("Result : ") + status);
      if (check && value < 0) {
        restore();
        throw EAbort();
      }
      break;
    }
  }
  restore();
  MonitorLog(QStringLiteral("Flow : ** End of obtaining Return status **"));
}

void TNorvDataSet::ReadOutputRow(oc::Command* command) {
  std::vector<NorvColumnDesc> columns;
  std::vector<CS_DATAFMT> formats;
  std::vector<NorvColumnBinding> bindings;
  columns.swap(columns_);
  formats.swap(formats_);
  bindings.swap(bindings_);
  DescribeAndBind(command, false);
  CS_INT rows = 0;
  if (oc::ct_fetch(command, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows) == CS_SUCCEED) {
    int k = 0;
    for (int i = 0; i < params_.Count(); ++i) {
      TParam& p = params_[i];
      if (p.ParamType() != ptOutput) continue;
      if (++k > static_cast<int>(bindings_.size())) break;
      p.SetValue(BoundText(k));
    }
  }
  while (oc::ct_fetch(command, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows) == CS_SUCCEED) {
  }
  columns.swap(columns_);
  formats.swap(formats_);
  bindings.swap(bindings_);
}

void TNorvDataSet::ReadReturnParams(oc::Command* command) {
  ReadReturnStatus(command, false);
  MonitorLog(QStringLiteral("Flow : ** Start of obtaining Return parameters **"));
  CS_INT rows = 0;
  while (oc::ct_fetch(command, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows) == CS_SUCCEED) {
  }
  if (resultsReturn_ == CS_SUCCEED) {
    CS_INT type = 0;
    resultsReturn_ = oc::ct_results(command, &type);
    if (type == CS_PARAM_RESULT) ReadOutputRow(command);
  }
  MonitorLog(QStringLiteral("Flow : ** End of obtaining Return parameters **"));
}

int TNorvDataSet::ExecuteCommandText(const QString& text, int& rowCount) {
  rowCount = 0;
  WaitCursor wait;
  oc::CommandHandle command = AllocateCommand();
  HandleMessages();
  if (!command) return 0;
  oc::Command* cmd = command.get();
  const QByteArray sql = text.toUtf8();
  if (prepared_) {
    oc::IgnoreStatus(oc::ct_dynamic(cmd, CS_EXECUTE, "PrepId", CS_NULLTERM, nullptr, CS_UNUSED),
                     kReportedByRouter);
    SendParams(cmd);
  } else {
    oc::IgnoreStatus(oc::ct_command(cmd, CS_LANG_CMD, sql.constData(), CS_NULLTERM, CS_UNUSED),
                     kReportedByRouter);
  }
  MonitorLog(QStringLiteral("SQL Execute: ") + text);
  HandleMessages();
  oc::IgnoreStatus(oc::ct_send(cmd), kReportedByRouter);
  HandleMessages();
  MonitorLog(QStringLiteral("Open-Client: ct_send"));
  int result = 1;
  CS_INT type = 0;
  CS_RETCODE rc = oc::ct_results(cmd, &type);
  HandleMessages();
  MonitorLog(QStringLiteral("Open-Client: ct_results"));
  auto finish = [&] {
    oc::IgnoreStatus(FlushAndCancel(cmd), kBestEffortClose);
    oc::IgnoreStatus(oc::ct_cmd_drop(command), kBestEffortClose);
    MonitorLog(QStringLiteral("Open-Client: ct_cmd_drop"));
  };
  try {
    while (rc == CS_SUCCEED) {
      if (type == CS_STATUS_RESULT) {
        ReadReturnStatus(cmd, true);
      } else if (type == CS_PARAM_RESULT) {
        // Output parameters of a procedure call come back here as well.
        ReadOutputRow(cmd);
      } else if (type == CS_CMD_SUCCEED) {
        CS_INT n = -1;
        if (oc::ct_res_info(cmd, CS_ROW_COUNT, &n, CS_UNUSED, nullptr) == CS_SUCCEED && n >= 0) {
          MonitorLog(QStringLiteral("Open-Client: ct_res_info(CS_ROW_COUNT) - RowCount : ") +
                     QString::number(n));
          rowCount = n;
        }
      } else if (type == CS_CMD_FAIL) {
        throw EAbort();
      } else if (type == CS_ROW_RESULT) {
        CS_INT rows = 0;
        while (oc::ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows) == CS_SUCCEED) {
        }
      }
      rc = oc::ct_results(cmd, &type);
      HandleMessages();
      MonitorLog(QStringLiteral("Open-Client: ct_results"));
    }
  } catch (...) {
    finish();
    throw;
  }
  if (rc == CS_BUSY || rc == CS_FAIL) result = 0;
  finish();
  return result;
}

void TNorvDataSet::ExecStatement() {
  CheckDbName(DbName());
  SetDbServerMsg(CS_SERVERMSG{});
  TNorvDatabase* db = Database();
  if (!db->Connected()) db->SetConnected(true);
  if (!db->Connected()) DatabaseError(QStringLiteral("Can not connect"));
  con_ = db->Handle();
  ctx_ = db->ContextHandle();
  ExecuteCommandText(dynamicText_, rowCount_);
}

// ---- Master and detail -------------------------------------------------------------------------

TDataSource* TNorvDataSet::DataSource() const {
  return dataLink_ ? dataLink_->DataSource() : nullptr;
}

void TNorvDataSet::SetDataSource(TDataSource* source) {
  if (source && IsLinkedTo(source))
    DatabaseError(QStringLiteral("Circular datalinks are not allowed"));
  dataLink_->SetDataSource(source);
}

template <typename Step>
void TNorvDataSet::WithControlsDisabled(Step step) {
  DisableControls();
  try {
    step();
  } catch (...) {
    EnableControls();
    throw;
  }
  EnableControls();
}

void TNorvDataSet::RefreshDetail() {
  // A closed detail is left alone: preparing on its behalf could only make the master's open or
  // move fail for a data set nobody reads.
  if (!Active()) return;
  WithControlsDisabled([this] {
    if (statement_.join(QLatin1Char('\n')).trimmed().isEmpty()) return;
    if (!prepared_) PrepareStatement();
    if (params_.Count() == 0) return;
    Close();
    AssignMasterParams(dataLink_->DataSet());
    Open();
  });
}

void TNorvDataSet::MasterChanged() {
  WithControlsDisabled([this] {
    TDataSet* master = masterLink_->DataSet();
    if (!master || !master->Active() || master->State() == dsSetKey) return;
    Close();
    AssignMasterParams(master);
    Open();
  });
}

void TNorvDataSet::AssignMasterParams(TDataSet* master) {
  if (!master || !master->Active()) return;
  for (int i = 0; i < params_.Count(); ++i) {
    TParam& p = params_[i];
    if (p.ParamType() == ptOutput || p.ParamType() == ptResult) continue;
    const TField* field = master->FindField(p.Name());
    if (!field) continue;
    // The parameter keeps its own name and direction; value and type come from the field.
    const QString name = p.Name();
    const TParamType type = p.ParamType();
    p.AssignField(field);
    p.SetName(name);
    p.SetParamType(type);
  }
}

// ---- Blob streams ------------------------------------------------------------------------------

std::unique_ptr<TNorvBlob>* TNorvDataSet::ActiveBlobSlot(TField* field) {
  TRecordBuffer buffer = ActiveBuffer();
  return buffer ? BlobSlot(field, buffer) : nullptr;
}

std::unique_ptr<QIODevice> TNorvDataSet::OpenBlobStream(TField* field, TBlobStreamMode mode) {
  return std::make_unique<TNorvBlobStream>(field, mode);
}
