// The connection component: one login to one server. Every other component names it by its
// component name (its DbName) and finds it in the process-wide registry (FindDatabase,
// CheckDbName); it then reads Handle(), Connected(), RdbmsKind(), ProcOptions() and EmulateASE()
// directly.
#pragma once

#include "component.h"
#include "norvtypes.h"
#include "openclient.h"
#include "sqlini.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <vector>

enum TConProp {
  cpConnect_Only,
  cpAsync_Notifs,
  cpBulk_Login,
  cpDiag_Timeout,
  cpExtra_Inf,
  cpHidden_Keys,
  cpLogin_Status,
  cpSec_Encryption,
  cpSec_Negotiate
};
using TConProps = TSet<TConProp>;

enum TDebugOption {
  doAll,
  doApi_States,
  doDiag,
  doError,
  doMem,
  doNetwork,
  doProtocol,
  doProtocol_States
};
using TDebugOptions = TSet<TDebugOption>;

enum TTransLevel { tlLevel1, tlLevel3 };

enum TProcOption {
  poAnsiNull,
  poAnsiPerm,
  poArithIgnore,
  poFormatOnly,
  poArithAbort,
  poFipsFlag,
  poChainXActs,
  poForcePlan,
  poNoCount,
  poParseOnly,
  poStatsIo,
  poStatsTime,
  poTruncIgnore,
  poNoExec,
  poShowPlan,
  poQuotedIdent,
  poStrRTrunc,
  poRestrees  // sends nothing
};
using TProcOptions = TSet<TProcOption>;

using TBeforeConEvent = TNotifyEvent;
using TAfterConEvent = TNotifyEvent;
using TBeforeDisConEvent = TNotifyEvent;
using TAfterDisConEvent = TNotifyEvent;

class TNorvContext;

class TNorvDatabase : public QObject, public TDbMessageReporter, public TComponentCommon {
  Q_OBJECT
 public:
  // Creates the "default" context when no context exists yet, and reads the server list.
  explicit TNorvDatabase(QObject* owner = nullptr);
  // Leaves the registry and disconnects (the disconnect events fire).
  ~TNorvDatabase() override;

  TNorvDatabase(const TNorvDatabase&) = delete;
  TNorvDatabase& operator=(const TNorvDatabase&) = delete;

  // Every connection that has been given a name, in the order they joined.
  static const std::vector<TNorvDatabase*>& Registry();

  QString Name() const { return objectName(); }
  // Raises EDatabaseError when another registered connection already has the name.
  void SetName(const QString& name);

  // ---- Properties ----------------------------------------------------------------------------
  bool EmulateASE() const { return emulateASE_; }
  void SetEmulateASE(bool value) { emulateASE_ = value; }
  bool Debug() const { return debug_; }
  void SetDebug(bool value) { debug_ = value; }
  QString DebugFile() const { return debugFile_; }
  void SetDebugFile(const QString& value) { debugFile_ = value; }
  TDebugOptions DebugOptions() const { return debugOptions_; }
  void SetDebugOptions(TDebugOptions value);

  // Read and written on the context named by ContextName; without one, reads give empty or 0
  // and writes are ignored (TimeOut still rejects a value below 1).
  QString Language() const;
  void SetLanguage(const QString& value);
  QString SortOrder() const;
  void SetSortOrder(const QString& value);
  QString CharSet() const;
  void SetCharSet(const QString& value);
  int MaxConnect() const;
  void SetMaxConnect(int value);
  int TimeOut() const;
  void SetTimeOut(int value);
  QString NorvVersion() const;

  // The SQL.INI read at construction; changing it reads nothing again.
  QString IniFile() const { return iniFile_; }
  void SetIniFile(const QString& value) { iniFile_ = value; }
  // The text as given (cut to 30 characters); the components compare RdbmsKind.
  QString Rdbms() const { return rdbms_; }
  void SetRdbms(const QString& value) {
    rdbms_ = NorvObjectname(value);
    rdbmsKind_ = RdbmsFromText(rdbms_);
  }
  void SetRdbms(TRdbms kind) { SetRdbms(RdbmsText(kind)); }
  TRdbms RdbmsKind() const { return rdbmsKind_; }

  QString AppName() const { return appName_; }
  void SetAppName(const QString& value) { appName_ = NorvObjectname(value); }
  QString HostName() const { return hostName_; }
  void SetHostName(const QString& value) { hostName_ = NorvObjectname(value); }
  QString Password() const { return password_; }
  void SetPassword(const QString& value) { password_ = NorvObjectname(value); }
  QString UserName() const { return userName_; }
  void SetUserName(const QString& value) { userName_ = NorvObjectname(value); }
  QString ServerName() const { return serverName_; }
  void SetServerName(const QString& value) { serverName_ = NorvObjectname(value); }

  // The server's @@version; empty when no row comes.
  QString DbVersion();
  QString DBName() const { return dbName_; }
  // While connected a value with a character above blank is made current with "use" first; when
  // that raises, DBName keeps its old value.
  void SetDBName(const QString& value);
  QString ContextName() const { return contextName_; }
  void SetContextName(const QString& value) { contextName_ = NorvObjectname(value); }

  bool LoginPrompt() const { return loginPrompt_; }
  void SetLoginPrompt(bool value) { loginPrompt_ = value; }
  bool ServerPrompt() const { return serverPrompt_; }
  void SetServerPrompt(bool value) { serverPrompt_ = value; }
  bool ServerShow() const { return serverShow_; }
  void SetServerShow(bool value) { serverShow_ = value; }
  bool RdbmsPrompt() const { return rdbmsPrompt_; }
  void SetRdbmsPrompt(bool value) { rdbmsPrompt_ = value; }
  bool RdbmsShow() const { return rdbmsShow_; }
  void SetRdbmsShow(bool value) { rdbmsShow_ = value; }
  bool ConnectError() const { return connectError_; }
  void SetConnectError(bool value) { connectError_ = value; }

  bool Connected() const { return connected_; }
  // True connects, false disconnects; assigning the current state does nothing.
  void SetConnected(bool value);

  QStringList ServerList() const { return serverList_; }
  void SetServerList(const QStringList& value) { serverList_ = value; }
  TConProps ConProps() const { return conProps_; }
  void SetConProps(TConProps value) { conProps_ = value; }
  TTransLevel TransLevel() const { return transLevel_; }
  void SetTransLevel(TTransLevel value);
  TProcOptions ProcOptions() const { return procOptions_; }
  void SetProcOptions(TProcOptions value);
  // While connected, what the library says (and that is stored); otherwise the stored value.
  int PacketSize();
  void SetPacketSize(int value) { packetSize_ = value; }
  bool ForceClose() const { return forceClose_; }
  void SetForceClose(bool value) { forceClose_ = value; }
  int TextSize() const { return textSize_; }
  void SetTextSize(int value);
  int RowCount() const { return rowCount_; }
  void SetRowCount(int value);

  // ---- Events --------------------------------------------------------------------------------
  TBeforeConEvent BeforeConnect;
  TAfterConEvent AfterConnect;
  TBeforeDisConEvent BeforeDisConnect;
  TAfterDisConEvent AfterDisConnect;

  // ---- Operations ----------------------------------------------------------------------------
  void Connect();
  void Disconnect();

  // The library connection while one is allocated (from login until disconnect), else null.
  oc::Connection* Handle() const { return con_.get(); }
  // The context handle found at the last connect.
  oc::Context* ContextHandle() const { return ctx_; }
  // The SQL.INI address given to the library for `server`, "TCP,host,port", or empty.
  QString ServerAddressOf(const QString& server) const { return ServerAddress(ini_, server); }

 private:
  void JoinRegistry();
  void ReadServerList();
  TNorvContext* Context() const;
  [[nodiscard]] CS_RETCODE SetConProp(CS_INT property, CS_INT value);
  [[nodiscard]] CS_RETCODE SetConString(CS_INT property, const QString& value);
  void RunUse(const QString& database);
  void CloseConnection();
  void ApplyProcOptions();
  void ApplyDebug();
  void ApplyTransLevel();
  void ApplyTextSize();
  void ApplyRowCount();
  bool IsSybase() const { return rdbmsKind_ == TRdbms::SybaseSqlServer; }

  bool emulateASE_ = false;
  bool debug_ = false;
  QString debugFile_;
  TDebugOptions debugOptions_;
  QString iniFile_;
  QString rdbms_ = RdbmsText(TRdbms::SybaseSqlServer);
  TRdbms rdbmsKind_ = TRdbms::SybaseSqlServer;
  QString appName_;
  QString hostName_;
  QString password_;
  QString userName_;
  QString serverName_;
  QString dbName_ = QStringLiteral("master");
  QString contextName_ = QStringLiteral("default");
  bool loginPrompt_ = true;
  bool serverPrompt_ = true;
  bool serverShow_ = true;
  bool rdbmsPrompt_ = true;
  bool rdbmsShow_ = true;
  bool connectError_ = true;
  bool connected_ = false;
  QStringList serverList_;
  TConProps conProps_;
  TTransLevel transLevel_ = tlLevel1;
  TProcOptions procOptions_;
  int packetSize_ = 512;
  bool forceClose_ = false;
  int textSize_ = 32768;
  int rowCount_ = 0;

  TSqlIni ini_;  // as read at construction: the server list and the servers' addresses
  oc::ConnectionHandle con_;
  oc::Context* ctx_ = nullptr;
};

// The registered connection whose component name equals `name` exactly (case-sensitive), or null.
TNorvDatabase* FindDatabase(const QString& name);

// Raises EDatabaseError "DBName not specified" when `name` is blank, and "Could not find
// NorvDatabase component named " + name when no registered connection has that name.
void CheckDbName(const QString& name);
