#include "norvdatabase.h"

#include "norvcontext.h"
#include "norvexception.h"
#include "presenter.h"
#include "query/norvquery.h"
#include "status.h"

#include <QByteArray>

#include <algorithm>
#include <array>
#include <memory>

namespace {

constexpr int kHostNameBuffer = 1025;

// Lives until the program ends; connections leave it when destroyed.
std::vector<TNorvDatabase*>& Databases() {
  static std::vector<TNorvDatabase*> databases;
  return databases;
}

// A program needs no context component of its own: the first connection makes this one when
// none exists. It is made after the registries and the library's own bookkeeping, so it is
// also taken down before them when the program ends.
void EnsureDefaultContext() {
  static const std::unique_ptr<TNorvContext> context = [] {
    auto made = std::make_unique<TNorvContext>();
    made->SetName(QStringLiteral("default"));
    return made;
  }();
}

bool HasVisibleChar(const QString& text) {
  return std::any_of(text.begin(), text.end(), [](QChar c) { return c > u' '; });
}

struct ProcOptionEntry {
  TProcOption member;
  CS_INT option;
  bool everyServer;  // false: only for TRdbms::SybaseSqlServer
};

constexpr std::array<ProcOptionEntry, 17> kProcOptions = {{
    {poAnsiNull, CS_OPT_ANSINULL, true},
    {poAnsiPerm, CS_OPT_ANSIPERM, false},
    {poArithIgnore, CS_OPT_ARITHIGNORE, false},
    {poFormatOnly, CS_OPT_FORMATONLY, false},
    {poArithAbort, CS_OPT_ARITHABORT, false},
    {poFipsFlag, CS_OPT_FIPSFLAG, false},
    {poChainXActs, CS_OPT_CHAINXACTS, false},
    {poForcePlan, CS_OPT_FORCEPLAN, false},
    {poNoCount, CS_OPT_NOCOUNT, false},
    {poParseOnly, CS_OPT_PARSEONLY, false},
    {poStatsIo, CS_OPT_STATS_IO, false},
    {poStatsTime, CS_OPT_STATS_TIME, false},
    {poTruncIgnore, CS_OPT_TRUNCIGNORE, false},
    {poNoExec, CS_OPT_NOEXEC, false},
    {poShowPlan, CS_OPT_SHOWPLAN, false},
    {poQuotedIdent, CS_OPT_QUOTED_IDENT, true},
    {poStrRTrunc, CS_OPT_STR_RTRUNC, false},
}};

struct DebugEntry {
  TDebugOption member;
  CS_INT flag;
};

constexpr std::array<DebugEntry, 7> kDebugFlags = {{
    {doAll, CS_DBG_ALL},
    {doApi_States, CS_DBG_API_STATES},
    {doError, CS_DBG_ERROR},
    {doMem, CS_DBG_MEM},
    {doNetwork, CS_DBG_NETWORK},
    {doDiag, CS_DBG_DIAG},
    {doProtocol_States, CS_DBG_PROTOCOL_STATES},
}};

// A temporary query on this connection, sharing its message switches and handlers, for the
// statements the connection runs itself.
void SetUpQuery(TNorvQuery& query, const TNorvDatabase& db, const QString& sql) {
  query.SetMsgDialogs(db.MsgDialogs());
  query.SetShowDbMessages(db.ShowDbMessages());
  query.OnDbError = db.OnDbError;
  query.AfterDbError = db.AfterDbError;
  query.OnDbMessage = db.OnDbMessage;
  query.AfterDbMessage = db.AfterDbMessage;
  query.SetDbName(db.Name());
  query.SetSql(sql);
}

}  // namespace

TNorvDatabase::TNorvDatabase(QObject* owner) : QObject(owner) {
  Databases();
  if (TNorvContext::Registry().empty()) EnsureDefaultContext();
  ReadServerList();
}

TNorvDatabase::~TNorvDatabase() {
  auto& all = Databases();
  all.erase(std::remove(all.begin(), all.end(), this), all.end());
  if (!connected_) return;
  try {
    Disconnect();
  } catch (...) {
    // A disconnect handler that throws cannot stop the destruction; the handle goes regardless.
  }
}

const std::vector<TNorvDatabase*>& TNorvDatabase::Registry() { return Databases(); }

TNorvDatabase* FindDatabase(const QString& name) {
  for (TNorvDatabase* db : Databases())
    if (db->Name() == name) return db;
  return nullptr;
}

void CheckDbName(const QString& name) {
  if (name.trimmed().isEmpty()) throw EDatabaseError(QStringLiteral("DBName not specified"));
  if (!FindDatabase(name))
    throw EDatabaseError(QStringLiteral("Could not find NorvDatabase component named ") + name);
}

void TNorvDatabase::SetName(const QString& name) {
  TNorvDatabase* holder = FindDatabase(name);
  if (holder && holder != this)
    throw EDatabaseError(QStringLiteral("A NorvDatabase component named ") + name +
                         QStringLiteral(" already exist"));
  setObjectName(name);
  JoinRegistry();
}

void TNorvDatabase::JoinRegistry() {
  auto& all = Databases();
  if (std::find(all.begin(), all.end(), this) == all.end()) all.push_back(this);
}

void TNorvDatabase::ReadServerList() {
  iniFile_ = SqlIniPath();
  ini_.Load(iniFile_);  // a missing file gives an empty list
  serverList_ = ini_.SectionNames();
}

// ---- Context properties ------------------------------------------------------------------------

TNorvContext* TNorvDatabase::Context() const { return FindContext(contextName_); }

QString TNorvDatabase::Language() const {
  TNorvContext* context = Context();
  return context ? context->Language() : QString();
}

void TNorvDatabase::SetLanguage(const QString& value) {
  if (TNorvContext* context = Context()) context->SetLanguage(value);
}

QString TNorvDatabase::SortOrder() const {
  TNorvContext* context = Context();
  return context ? context->SortOrder() : QString();
}

void TNorvDatabase::SetSortOrder(const QString& value) {
  if (TNorvContext* context = Context()) context->SetSortOrder(value);
}

QString TNorvDatabase::CharSet() const {
  TNorvContext* context = Context();
  return context ? context->CharSet() : QString();
}

void TNorvDatabase::SetCharSet(const QString& value) {
  if (TNorvContext* context = Context()) context->SetCharSet(value);
}

int TNorvDatabase::MaxConnect() const {
  TNorvContext* context = Context();
  return context ? context->MaxConnect() : 0;
}

void TNorvDatabase::SetMaxConnect(int value) {
  if (TNorvContext* context = Context()) context->SetMaxConnect(value);
}

int TNorvDatabase::TimeOut() const {
  TNorvContext* context = Context();
  return context ? context->TimeOut() : 0;
}

void TNorvDatabase::SetTimeOut(int value) {
  if (value < 1) throw ENorvException("7");
  if (TNorvContext* context = Context()) context->SetTimeOut(value);
}

QString TNorvDatabase::NorvVersion() const {
  TNorvContext* context = Context();
  return context ? context->NorvVersion() : QString();
}

// ---- Properties that reach the server ----------------------------------------------------------

void TNorvDatabase::SetConnected(bool value) {
  if (value == connected_) return;
  if (value)
    Connect();
  else
    Disconnect();
}

void TNorvDatabase::SetDBName(const QString& value) {
  const QString name = NorvObjectname(value);
  if (connected_ && HasVisibleChar(name)) RunUse(name);
  dbName_ = name;
}

void TNorvDatabase::SetDebugOptions(TDebugOptions value) {
  debugOptions_ = value;
  ApplyDebug();
}

void TNorvDatabase::SetTransLevel(TTransLevel value) {
  transLevel_ = value;
  ApplyTransLevel();
}

void TNorvDatabase::SetProcOptions(TProcOptions value) {
  procOptions_ = value;
  ApplyProcOptions();
}

void TNorvDatabase::SetTextSize(int value) {
  textSize_ = value;
  ApplyTextSize();
}

void TNorvDatabase::SetRowCount(int value) {
  rowCount_ = value;
  ApplyRowCount();
}

int TNorvDatabase::PacketSize() {
  if (!connected_) return packetSize_;
  CS_INT size = 0;
  if (oc::ct_con_props(con_.get(), CS_GET, CS_PACKETSIZE, &size, CS_UNUSED, nullptr) == CS_SUCCEED)
    packetSize_ = size;
  return packetSize_;
}

void TNorvDatabase::ApplyProcOptions() {
  if (!connected_) return;
  for (const ProcOptionEntry& entry : kProcOptions) {
    if (!entry.everyServer && !IsSybase()) continue;
    CS_INT value = procOptions_.Contains(entry.member) ? CS_TRUE : CS_FALSE;
    oc::IgnoreStatus(oc::ct_options(con_.get(), CS_SET, entry.option, &value, CS_UNUSED, nullptr),
                     "an option the server refuses leaves the connection as it was");
  }
}

void TNorvDatabase::ApplyTransLevel() {
  if (!connected_) return;
  CS_INT level = transLevel_ == tlLevel3 ? CS_OPT_LEVEL3 : CS_OPT_LEVEL1;
  oc::IgnoreStatus(oc::ct_options(con_.get(), CS_SET, CS_OPT_ISOLATION, &level, CS_UNUSED, nullptr),
                   "the server's own message reports a refused level");
}

void TNorvDatabase::ApplyTextSize() {
  if (!connected_) return;
  CS_INT size = textSize_;
  oc::IgnoreStatus(oc::ct_options(con_.get(), CS_SET, CS_OPT_TEXTSIZE, &size, CS_UNUSED, nullptr),
                   "the server keeps its text size");
}

void TNorvDatabase::ApplyRowCount() {
  if (!connected_ || !IsSybase()) return;
  CS_INT count = rowCount_;
  oc::IgnoreStatus(oc::ct_options(con_.get(), CS_SET, CS_OPT_ROWCOUNT, &count, CS_UNUSED, nullptr),
                   "the server keeps its row count");
}

void TNorvDatabase::ApplyDebug() {
  if (debugFile_.isEmpty() || !debug_) return;
  const QByteArray file = debugFile_.toLocal8Bit();
  auto apply = [&](oc::Context* ctx, oc::Connection* con) {
    // Tracing is a help, never a reason to fail: a file or flag the library refuses is skipped.
    oc::IgnoreStatus(
        oc::ct_debug(ctx, con, CS_SET_DBG_FILE, CS_UNUSED, file.constData(), CS_NULLTERM),
        "see above");
    for (const DebugEntry& entry : kDebugFlags)
      oc::IgnoreStatus(
          oc::ct_debug(ctx, con, debugOptions_.Contains(entry.member) ? CS_SET_FLAG : CS_CLEAR_FLAG,
                       entry.flag, nullptr, CS_UNUSED),
          "see above");
  };
  apply(FindContextHandle(contextName_), nullptr);
  if (connected_) apply(nullptr, con_.get());
}

// ---- Statements the connection runs ------------------------------------------------------------

void TNorvDatabase::RunUse(const QString& database) {
  TNorvQuery query(this);  // released on leaving, also when it raised
  SetUpQuery(query, *this, QStringLiteral("use ") + database);
  if (query.Execute() == CS_SUCCEED)
    while (query.Fetch()) {
    }
}

QString TNorvDatabase::DbVersion() {
  TNorvQuery query(this);
  SetUpQuery(query, *this, QStringLiteral("SELECT DbVersion=@@version"));
  QString version;
  if (query.Execute() == CS_SUCCEED)
    while (query.Fetch()) version = query.FieldValue(1);
  return version;
}

// ---- Connect and disconnect --------------------------------------------------------------------

CS_RETCODE TNorvDatabase::SetConProp(CS_INT property, CS_INT value) {
  return oc::ct_con_props(con_.get(), CS_SET, property, &value, CS_UNUSED, nullptr);
}

CS_RETCODE TNorvDatabase::SetConString(CS_INT property, const QString& value) {
  QByteArray text = value.toUtf8();
  return oc::ct_con_props(con_.get(), CS_SET, property, text.data(), CS_NULLTERM, nullptr);
}

void TNorvDatabase::Connect() {
  if (contextName_.isEmpty()) contextName_ = QStringLiteral("default");
  ctx_ = FindContextHandle(contextName_);
  if (connected_) return;
  if (BeforeConnect) BeforeConnect(this);

  // Until the login succeeds the handle is only ours: every way out below drops it.
  const CS_RETCODE allocated = oc::ct_con_alloc(ctx_, con_);
  if (allocated != CS_SUCCEED) con_.reset();
  CheckStatus(allocated, "8");
  struct DropUnlessConnected {
    TNorvDatabase& db;
    ~DropUnlessConnected() {
      if (!db.connected_ && db.con_)
        oc::IgnoreStatus(oc::ct_con_drop(db.con_), "the handle is emptied whatever it says");
    }
  } dropUnlessConnected{*this};

  // From here the connection's messages queue inline for the message router.
  oc::IgnoreStatus(oc::ct_diag(con_.get(), CS_INIT, CS_UNUSED, CS_UNUSED, nullptr),
                   "a fresh connection always switches; were it not to, the context's handlers "
                   "would still show its messages");
  if (dbName_.isEmpty()) dbName_ = QStringLiteral("master");

  if (loginPrompt_) {
    norv::TLoginRequest request;
    request.ServerName = serverName_;
    request.ServerPrompt = serverPrompt_;
    request.ServerShow = serverShow_;
    request.RdbmsShow = rdbmsShow_;
    request.RdbmsPrompt = rdbmsPrompt_;
    request.UserName = userName_;
    request.Password = password_;
    request.ServerList = serverList_;
    request.Rdbms = rdbms_;
    if (!norv::CurrentPresenter().LoginPrompt(request)) return;  // cancelled: quietly not connected
    SetUserName(request.UserName);
    SetPassword(request.Password);
    SetServerName(request.ServerName);
    SetRdbms(request.Rdbms);
  }

  if (conProps_.Contains(cpAsync_Notifs)) CheckStatus(SetConProp(CS_ASYNC_NOTIFS, CS_TRUE), "9");
  if (conProps_.Contains(cpBulk_Login)) CheckStatus(SetConProp(CS_BULK_LOGIN, CS_TRUE), "10");
  if (conProps_.Contains(cpDiag_Timeout)) CheckStatus(SetConProp(CS_DIAG_TIMEOUT, CS_TRUE), "11");
  if (conProps_.Contains(cpExtra_Inf)) CheckStatus(SetConProp(CS_EXTRA_INF, CS_TRUE), "12");
  if (conProps_.Contains(cpHidden_Keys)) CheckStatus(SetConProp(CS_HIDDEN_KEYS, CS_TRUE), "13");
  if (conProps_.Contains(cpLogin_Status)) {
    CS_INT status = CS_FALSE;  // only asked for; the answer is not used
    CheckStatus(oc::ct_con_props(con_.get(), CS_GET, CS_LOGIN_STATUS, &status, CS_UNUSED, nullptr),
                "14");
  }
  if (conProps_.Contains(cpSec_Encryption))
    CheckStatus(SetConProp(CS_SEC_ENCRYPTION, CS_TRUE), "15");
  if (conProps_.Contains(cpSec_Negotiate)) CheckStatus(SetConProp(CS_SEC_NEGOTIATE, CS_TRUE), "16");
  if (packetSize_ > 0) CheckStatus(SetConProp(CS_PACKETSIZE, packetSize_), "17");
  CheckStatus(SetConString(CS_USERNAME, userName_), "18");
  CheckStatus(SetConString(CS_PASSWORD, password_), "19");
  CheckStatus(SetConString(CS_APPNAME, appName_), QStringLiteral("ct_con_props cs_appname Failed"));
  CheckStatus(SetConString(CS_HOSTNAME, hostName_), QStringLiteral("ct_con_props hostname Failed"));

  MonitorLog(QStringLiteral("SQL Connect: UserName = ") + userName_ +
             QStringLiteral(", ServerName = ") + serverName_ + QStringLiteral(", DbName = ") +
             dbName_);

  // SQL.INI may say where the server listens; without an address the library's own
  // configuration resolves the name.
  const QString address = ServerAddressOf(serverName_);
  // A refused address leaves the name to the library's configuration; ct_connect then reports.
  if (!address.isEmpty()) oc::IgnoreStatus(SetConString(CS_SERVERADDR, address), "see above");

  const QByteArray server = serverName_.toUtf8();
  if (oc::ct_connect(con_.get(), server.constData(), CS_NULLTERM) == CS_SUCCEED) {
    MonitorLog(QStringLiteral("Connected"));
    connected_ = true;

    std::array<CS_CHAR, kHostNameBuffer> host{};
    CS_INT outlen = 0;
    if (oc::ct_con_props(con_.get(), CS_GET, CS_HOSTNAME, host.data(),
                         static_cast<CS_INT>(host.size()), &outlen) == CS_SUCCEED) {
      host.back() = '\0';
      hostName_ = NorvObjectname(QString::fromUtf8(host.data()));
    }

    if (!conProps_.Contains(cpConnect_Only) && HasVisibleChar(dbName_)) {
      try {
        RunUse(dbName_);
      } catch (...) {
        // The login stands but the database could not be made current: do not leave a
        // connection that claims to be up without its database and options; the caller sees the
        // reason and a closed connection.
        CloseConnection();
        throw;
      }
    }
    JoinRegistry();
    ApplyProcOptions();
    if (AfterConnect) AfterConnect(this);
    if (IsSybase()) ApplyTextSize();
    ApplyTransLevel();
    ApplyDebug();
    ApplyRowCount();
  }

  // The reasons the server and the library queued on a failed login go with the handle.
  if (!connected_ && connectError_)
    throw ENorvException(QStringLiteral("Could not login to Server"));
}

void TNorvDatabase::CloseConnection() {
  // The results of these calls are ignored: the connection goes whatever they say.
  oc::IgnoreStatus(oc::ct_cancel(con_.get(), nullptr, CS_CANCEL_ALL), "see above");
  connected_ = false;
  oc::IgnoreStatus(oc::ct_close(con_.get(), forceClose_ ? CS_FORCE_CLOSE : CS_UNUSED), "see above");
  oc::IgnoreStatus(oc::ct_con_drop(con_), "see above");
}

void TNorvDatabase::Disconnect() {
  if (BeforeDisConnect) BeforeDisConnect(this);
  if (connected_) {
    // Components holding commands on this connection are not told: they find Connected false.
    CloseConnection();
    MonitorLog(QStringLiteral("SQL DisConnect: UserName = ") + userName_ +
               QStringLiteral(", ServerName = ") + serverName_ + QStringLiteral(", DbName = ") +
               dbName_);
  }
  if (AfterDisConnect) AfterDisConnect(this);
}
