// The connection component against the sample server, reached through the SQL.INI the fixture
// writes.
#include "connection/norvcontext.h"
#include "connection/norvdatabase.h"
#include "connection/norvexception.h"
#include "query/norvquery.h"
#include "recording_presenter.h"
#include "server_fixture.h"
#include "trace_capture.h"

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <memory>
#include <vector>

namespace {

using Kind = norv::RecordingPresenter::Kind;

class DatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override { server_ = norvtest::SampleServer(); }

  // A connection named `name` that logs in as sa with an empty password, without the dialog.
  std::unique_ptr<TNorvDatabase> MakeDb(const QString& name = QStringLiteral("db"),
                                        QObject* owner = nullptr) {
    auto db = std::make_unique<TNorvDatabase>(owner);
    db->SetName(name);
    db->SetLoginPrompt(false);
    db->SetServerName(server_.serverName);
    db->SetUserName(QStringLiteral("sa"));
    return db;
  }

  // The last value of the first column `sql` yields on the connection named `dbName`.
  static QString Scalar(const QString& dbName, const QString& sql) {
    TNorvQuery query;
    query.SetDbName(dbName);
    query.SetSql(sql);
    if (query.Execute() != CS_SUCCEED) return QStringLiteral("<no result>");
    QString value = QStringLiteral("<no row>");
    while (query.Fetch()) value = query.FieldValue(1);
    return value;
  }

  static int Rows(const QString& dbName, const QString& sql) {
    TNorvQuery query;
    query.SetDbName(dbName);
    query.SetSql(sql);
    int rows = 0;
    if (query.Execute() == CS_SUCCEED)
      while (query.Fetch()) ++rows;
    return rows;
  }

  static CS_INT OptionReadBack(TNorvDatabase& db, CS_INT option) {
    CS_INT value = -1;
    EXPECT_EQ(oc::ct_options(db.Handle(), CS_GET, option, &value, CS_UNUSED, nullptr), CS_SUCCEED)
        << option;
    return value;
  }

  norvtest::SampleServerInfo server_;
  norv::ScopedRecordingPresenter recorder_;
};

// Points SYBASE at a directory of the test's own for the lifetime of the object.
class ScopedSybase {
 public:
  ScopedSybase() : saved_(qgetenv("SYBASE")) { qputenv("SYBASE", dir_.path().toUtf8()); }
  ~ScopedSybase() { qputenv("SYBASE", saved_); }
  ScopedSybase(const ScopedSybase&) = delete;
  ScopedSybase& operator=(const ScopedSybase&) = delete;
  void Write(const QString& relative, const QByteArray& text) {
    const QString path = dir_.filePath(relative);
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
  }
  QString Path(const QString& relative) const { return dir_.filePath(relative); }

 private:
  QTemporaryDir dir_;
  QByteArray saved_;
};

// The ct_options(CS_SET) calls an adapter trace file records, as option codes in order.
std::vector<int> OptionsSet(const QString& traceFile, qint64 from = 0) {
  QFile file(traceFile);
  std::vector<int> options;
  if (!file.open(QIODevice::ReadOnly)) return options;
  file.seek(from);
  for (const QByteArray& line : file.readAll().split('\n')) {
    if (!line.startsWith("ct_options(")) continue;
    const QList<QByteArray> args = line.mid(11, line.indexOf(')') - 11).split(',');
    if (args.size() >= 3 && args[1].trimmed().toInt() == CS_SET)
      options.push_back(args[2].trimmed().toInt());
  }
  return options;
}

// ---- Login and logout
// ----------------------------------------------------------------------------

TEST_F(DatabaseTest, ConnectsAndDisconnectsAsSa) {
  auto db = MakeDb();
  std::vector<QString> events;
  auto note = [&](const char* what) {
    return [&, what](QObject* sender) { events.push_back(sender == db.get() ? what : "?"); };
  };
  db->BeforeConnect = note("BeforeConnect");
  db->AfterConnect = note("AfterConnect");
  db->BeforeDisConnect = note("BeforeDisConnect");
  db->AfterDisConnect = note("AfterDisConnect");
  db->Connect();
  ASSERT_TRUE(db->Connected());
  EXPECT_NE(db->Handle(), nullptr);
  EXPECT_EQ(db->DBName(), "master");
  EXPECT_EQ(Scalar("db", "select db_name()"), "master");
  EXPECT_EQ(Scalar("db", "select suser_name()"), "sa");
  db->Disconnect();
  EXPECT_FALSE(db->Connected());
  EXPECT_EQ(db->Handle(), nullptr);
  EXPECT_EQ(events, (std::vector<QString>{"BeforeConnect", "AfterConnect", "BeforeDisConnect",
                                          "AfterDisConnect"}));
  EXPECT_TRUE(recorder_->Taken().empty());
}

TEST_F(DatabaseTest, FailedLoginRaisesOnlyWithConnectError) {
  auto db = MakeDb();
  db->SetUserName(QStringLiteral("nosuchlogin"));
  db->SetPassword(QStringLiteral("wrong"));
  try {
    db->Connect();
    FAIL() << "login succeeded";
  } catch (const ENorvException& e) {
    EXPECT_EQ(e.Message(), "Could not login to Server");
  }
  EXPECT_FALSE(db->Connected());
  EXPECT_EQ(db->Handle(), nullptr);

  db->SetConnectError(false);
  EXPECT_NO_THROW(db->Connect());
  EXPECT_FALSE(db->Connected());
  // The reasons the server gave are not shown.
  EXPECT_TRUE(recorder_->Taken().empty());

  // The same component logs in once the credentials are right.
  db->SetUserName(QStringLiteral("sa"));
  db->SetPassword(QString());
  db->Connect();
  EXPECT_TRUE(db->Connected());
}

TEST_F(DatabaseTest, ConnectedAssignmentTogglesAndIgnoresTheCurrentState) {
  auto db = MakeDb();
  int before = 0, beforeDis = 0, afterDis = 0;
  db->BeforeConnect = [&](QObject*) { ++before; };
  db->BeforeDisConnect = [&](QObject*) { ++beforeDis; };
  db->AfterDisConnect = [&](QObject*) { ++afterDis; };

  db->SetConnected(false);  // already disconnected: nothing at all
  EXPECT_EQ(beforeDis + afterDis, 0);
  db->SetConnected(true);
  ASSERT_TRUE(db->Connected());
  oc::Connection* handle = db->Handle();
  db->SetConnected(true);  // already connected: no second login
  EXPECT_EQ(before, 1);
  EXPECT_EQ(db->Handle(), handle);
  db->SetConnected(false);
  EXPECT_FALSE(db->Connected());
  EXPECT_EQ(beforeDis, 1);
  EXPECT_EQ(afterDis, 1);
}

TEST_F(DatabaseTest, DisconnectWhenDisconnectedFiresBothEventsAndCallsNothing) {
  QTemporaryDir dir;
  const QString trace = dir.filePath("ct.trace");
  auto db = MakeDb();
  db->SetDebug(true);
  db->SetDebugFile(trace);
  db->SetDebugOptions({doApi_States});  // traces every call made on the context from now on
  const qint64 traced = QFileInfo(trace).size();
  ASSERT_GT(traced, 0);

  std::vector<QString> events;
  db->BeforeDisConnect = [&](QObject*) { events.push_back("BeforeDisConnect"); };
  db->AfterDisConnect = [&](QObject*) { events.push_back("AfterDisConnect"); };
  db->Disconnect();
  EXPECT_EQ(events, (std::vector<QString>{"BeforeDisConnect", "AfterDisConnect"}));
  EXPECT_EQ(QFileInfo(trace).size(), traced) << "a library routine was called";

  db->SetDebugOptions({});  // the context is shared: stop tracing
}

TEST_F(DatabaseTest, LoginFailsCleanlyWhileTheServerIsDownAndWorksAfterARestart) {
  auto db = MakeDb();
  db->Connect();
  ASSERT_TRUE(db->Connected());
  norvtest::StopSampleServer();

  // The old connection still goes down cleanly.
  EXPECT_NO_THROW(db->Disconnect());
  EXPECT_FALSE(db->Connected());

  auto down = MakeDb("down");
  EXPECT_THROW(down->Connect(), ENorvException);
  EXPECT_FALSE(down->Connected());

  // The restarted server listens elsewhere; a new component reads the rewritten SQL.INI.
  const norvtest::SampleServerInfo restarted = norvtest::SampleServer();
  auto again = MakeDb("again");
  EXPECT_EQ(again->ServerAddressOf(restarted.serverName),
            QStringLiteral("TCP,%1,%2").arg(restarted.host).arg(restarted.port));
  again->Connect();
  EXPECT_TRUE(again->Connected());
  EXPECT_EQ(Scalar("again", "select db_name()"), "master");
  EXPECT_TRUE(recorder_->Taken().empty());
}

TEST_F(DatabaseTest, DestructionDisconnectsAndLeavesTheRegistry) {
  auto db = MakeDb("leaving");
  db->Connect();
  int afterDis = 0;
  db->AfterDisConnect = [&](QObject*) { ++afterDis; };
  ASSERT_EQ(FindDatabase("leaving"), db.get());
  db.reset();
  EXPECT_EQ(afterDis, 1);
  EXPECT_EQ(FindDatabase("leaving"), nullptr);
}

// ---- Naming and construction
// ---------------------------------------------------------------------

TEST_F(DatabaseTest, DuplicateNameIsRefusedAndTheNameStays) {
  auto first = MakeDb("db");
  auto second = MakeDb("other");
  try {
    second->SetName("db");
    FAIL() << "duplicate name accepted";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "A NorvDatabase component named db already exist");
  }
  EXPECT_EQ(second->Name(), "other");
  EXPECT_EQ(FindDatabase("db"), first.get());
  EXPECT_EQ(FindDatabase("other"), second.get());
  // Names are case-sensitive, and renaming to its own name is no duplicate.
  EXPECT_NO_THROW(second->SetName("DB"));
  EXPECT_NO_THROW(first->SetName("db"));
}

TEST(DatabaseLookup, BlankAndUnknownNamesRaise) {
  auto raisedBy = [](const QString& name) {
    try {
      CheckDbName(name);
    } catch (const EDatabaseError& e) {
      return e.Message();
    }
    return QString();
  };
  EXPECT_EQ(raisedBy(""), "DBName not specified");
  EXPECT_EQ(raisedBy("   "), "DBName not specified");
  TNorvDatabase db;
  db.SetName("DB");
  EXPECT_EQ(raisedBy("db"), "Could not find NorvDatabase component named db");
  EXPECT_EQ(raisedBy("DB"), "");
  EXPECT_EQ(FindDatabase("DB"), &db);
  EXPECT_EQ(FindDatabase("db"), nullptr);
}

TEST_F(DatabaseTest, DefaultContextCuttingAndTimeOut) {
  auto db = std::make_unique<TNorvDatabase>();
  ASSERT_NE(FindContext("default"), nullptr);  // made by the first connection when none exists
  EXPECT_EQ(db->TimeOut(), FindContext("default")->TimeOut());

  const QString longName(40, u'x');
  db->SetUserName(longName);
  db->SetDBName(longName);  // not connected: stored, nothing run
  db->SetRdbms(longName);
  EXPECT_EQ(db->UserName(), QString(30, u'x'));
  EXPECT_EQ(db->DBName(), QString(30, u'x'));
  EXPECT_EQ(db->Rdbms(), QString(30, u'x'));

  const int timeOut = db->TimeOut();
  try {
    db->SetTimeOut(0);
    FAIL() << "TimeOut 0 accepted";
  } catch (const ENorvException& e) {
    EXPECT_EQ(e.Message(), "Invalid TimeOut value");
  }
  EXPECT_EQ(db->TimeOut(), timeOut);

  // Without a context of that name the context properties read empty and writes are ignored.
  db->SetContextName("nosuchcontext");
  EXPECT_EQ(db->MaxConnect(), 0);
  EXPECT_NO_THROW(db->SetMaxConnect(3));
  EXPECT_TRUE(db->Language().isEmpty());
}

TEST_F(DatabaseTest, ServerListKeepsFileOrderEachNameOnce) {
  ScopedSybase sybase;
  sybase.Write("INI/SQL.INI",
               "[A]\nquery=TCP,127.0.0.1,4100\n\n; a comment\n[B]\nmaster=NLWNSCK,hostb,5000\n"
               "[A]\nquery=TCP,elsewhere,1\n[c]\n");
  TNorvDatabase db;
  EXPECT_EQ(db.ServerList(), (QStringList{"A", "B", "c"}));
  EXPECT_EQ(db.IniFile(), sybase.Path("INI/SQL.INI"));
  EXPECT_EQ(db.ServerAddressOf("A"), "TCP,127.0.0.1,4100");  // the first entry wins
  EXPECT_EQ(db.ServerAddressOf("b"), "TCP,hostb,5000");      // master, protocol word replaced
  EXPECT_EQ(db.ServerAddressOf("c"), "");
  EXPECT_EQ(db.ServerAddressOf("D"), "");

  db.SetServerList({"X"});
  EXPECT_EQ(db.ServerList(), QStringList{"X"});
}

TEST_F(DatabaseTest, ServerListFallsBackToLowerCaseFileAndToNothing) {
  {
    ScopedSybase sybase;
    sybase.Write("ini/sql.ini", "[LOWER]\nquery=TCP,h,1\n");
    TNorvDatabase db;
    EXPECT_EQ(db.ServerList(), QStringList{"LOWER"});
    EXPECT_EQ(db.IniFile(), sybase.Path("ini/sql.ini"));
  }
  {
    ScopedSybase sybase;
    TNorvDatabase db;
    EXPECT_TRUE(db.ServerList().isEmpty());
    EXPECT_EQ(db.IniFile(), sybase.Path("INI/SQL.INI"));
  }
}

// ---- The database ----------------------------------------------------------------------------

TEST_F(DatabaseTest, ConnectUsesDBNameUnlessConnectOnly) {
  auto db = MakeDb();
  db->SetDBName("pubs2");
  db->Connect();
  EXPECT_EQ(Scalar("db", "select db_name()"), "pubs2");
  db->Disconnect();

  db->SetConProps({cpConnect_Only});
  db->Connect();
  ASSERT_TRUE(db->Connected());
  EXPECT_EQ(Scalar("db", "select db_name()"), "master");  // the login's default database
  EXPECT_EQ(db->DBName(), "pubs2");
}

TEST_F(DatabaseTest, DBNameWhileConnectedSwitchesDatabaseOrStoresBlanks) {
  auto db = MakeDb();
  db->Connect();
  db->SetDBName("pubs2");
  EXPECT_EQ(db->DBName(), "pubs2");
  EXPECT_EQ(Scalar("db", "select db_name()"), "pubs2");
  // The server's "database changed" message is not shown.
  EXPECT_TRUE(recorder_->Taken().empty());

  db->SetDBName("   ");
  EXPECT_EQ(db->DBName(), "   ");
  EXPECT_EQ(Scalar("db", "select db_name()"), "pubs2");
  EXPECT_TRUE(recorder_->Taken().empty());

  db->SetDBName("pubs2");
  db->SetMsgDialogs({});
  EXPECT_THROW(db->SetDBName("nosuchdb"), EDatabaseError);
  EXPECT_EQ(db->DBName(), "pubs2");  // unchanged when the use statement failed
  EXPECT_EQ(Scalar("db", "select db_name()"), "pubs2");
}

TEST_F(DatabaseTest, ConnectToAMissingDatabaseLeavesNoHalfOpenConnection) {
  auto db = MakeDb();
  db->SetDBName("nosuchdb");
  int errors = 0;
  db->OnDbError = [&](QObject*) { ++errors; };
  EXPECT_THROW(db->Connect(), EDatabaseError);
  EXPECT_FALSE(db->Connected());
  EXPECT_EQ(db->Handle(), nullptr);
  EXPECT_EQ(errors, 1);  // the connection's handlers serve its own statements
  EXPECT_FALSE(db->DbErrorText().isEmpty());
}

TEST_F(DatabaseTest, DbVersionAndPacketSizeReadFromTheServer) {
  auto db = MakeDb();
  db->SetPacketSize(2048);
  db->Connect();
  const QString version = db->DbVersion();
  EXPECT_FALSE(version.isEmpty());
  EXPECT_EQ(version, Scalar("db", "select @@version"));

  db->SetPacketSize(1024);  // only stored while connected: the library's value is read back
  EXPECT_EQ(db->PacketSize(), 2048);
  db->Disconnect();
  EXPECT_EQ(db->PacketSize(), 2048);  // the value read last
}

// ---- Options ---------------------------------------------------------------------------------

TEST_F(DatabaseTest, ProcOptionsForSQLAnywhereSendOnlyAnsiNullAndQuotedIdent) {
  QTemporaryDir dir;
  const QString trace = dir.filePath("ct.trace");
  auto db = MakeDb();
  db->SetRdbms("SQLAnywhere");
  db->SetProcOptions({poNoCount});
  db->SetDebug(true);
  db->SetDebugFile(trace);
  db->SetDebugOptions({doApi_States});
  db->Connect();
  ASSERT_TRUE(db->Connected());
  // At login: the two options every server takes, then the isolation level; no text size and
  // no row count for this kind of server.
  EXPECT_EQ(OptionsSet(trace),
            (std::vector<int>{CS_OPT_ANSINULL, CS_OPT_QUOTED_IDENT, CS_OPT_ISOLATION}));
  EXPECT_EQ(OptionReadBack(*db, CS_OPT_ANSINULL), CS_FALSE);
  EXPECT_EQ(OptionReadBack(*db, CS_OPT_QUOTED_IDENT), CS_FALSE);

  const qint64 mark = QFileInfo(trace).size();
  db->SetProcOptions({poNoCount, poQuotedIdent});
  EXPECT_EQ(OptionsSet(trace, mark), (std::vector<int>{CS_OPT_ANSINULL, CS_OPT_QUOTED_IDENT}));
  EXPECT_EQ(OptionReadBack(*db, CS_OPT_QUOTED_IDENT), CS_TRUE);
  db->SetDebugOptions({});
  db->Disconnect();
  db->SetDebugOptions({});
}

TEST_F(DatabaseTest, ProcOptionsForSybaseGoInTableOrderAndTakeEffect) {
  QTemporaryDir dir;
  const QString trace = dir.filePath("ct.trace");
  auto db = MakeDb();
  db->SetProcOptions({poNoCount});
  db->SetRowCount(2);
  db->SetTransLevel(tlLevel3);
  db->SetDebug(true);
  db->SetDebugFile(trace);
  db->SetDebugOptions({doApi_States});
  db->Connect();
  ASSERT_TRUE(db->Connected());
  EXPECT_EQ(OptionsSet(trace),
            (std::vector<int>{
                CS_OPT_ANSINULL,    CS_OPT_ANSIPERM,  CS_OPT_ARITHIGNORE, CS_OPT_FORMATONLY,
                CS_OPT_ARITHABORT,  CS_OPT_FIPSFLAG,  CS_OPT_CHAINXACTS,  CS_OPT_FORCEPLAN,
                CS_OPT_NOCOUNT,     CS_OPT_PARSEONLY, CS_OPT_STATS_IO,    CS_OPT_STATS_TIME,
                CS_OPT_TRUNCIGNORE, CS_OPT_NOEXEC,    CS_OPT_SHOWPLAN,    CS_OPT_QUOTED_IDENT,
                CS_OPT_STR_RTRUNC,  CS_OPT_TEXTSIZE,  CS_OPT_ISOLATION,   CS_OPT_ROWCOUNT}));
  db->SetDebugOptions({});
  EXPECT_EQ(OptionReadBack(*db, CS_OPT_NOCOUNT), CS_TRUE);
  EXPECT_EQ(OptionReadBack(*db, CS_OPT_FORMATONLY), CS_FALSE);
  EXPECT_EQ(OptionReadBack(*db, CS_OPT_ISOLATION), CS_OPT_LEVEL3);
  EXPECT_EQ(OptionReadBack(*db, CS_OPT_TEXTSIZE), 32768);

  // The row count holds on the server, and a new value applies at once.
  EXPECT_EQ(Rows("db", "select name from sysdatabases"), 2);
  db->SetRowCount(0);
  EXPECT_GT(Rows("db", "select name from sysdatabases"), 2);
  db->SetTransLevel(tlLevel1);
  EXPECT_EQ(OptionReadBack(*db, CS_OPT_ISOLATION), CS_OPT_LEVEL1);
  db->SetTextSize(100);
  EXPECT_EQ(OptionReadBack(*db, CS_OPT_TEXTSIZE), 100);
}

TEST_F(DatabaseTest, ConnectionPropertiesAreSetBeforeLogin) {
  auto db = MakeDb();
  db->SetConProps({cpBulk_Login, cpLogin_Status, cpExtra_Inf, cpAsync_Notifs});
  db->SetAppName("norvtest");
  db->SetHostName("testhost");
  db->Connect();
  ASSERT_TRUE(db->Connected());
  CS_INT bulk = CS_FALSE;
  ASSERT_EQ(oc::ct_con_props(db->Handle(), CS_GET, CS_BULK_LOGIN, &bulk, CS_UNUSED, nullptr),
            CS_SUCCEED);
  EXPECT_EQ(bulk, CS_TRUE);
  EXPECT_EQ(db->HostName(), "testhost");  // read back from the library after login
  EXPECT_EQ(Scalar("db", "select app_name()"), "norvtest");
  EXPECT_EQ(Scalar("db", "select host_name()"), "testhost");
}

// ---- Trace lines --------------------------------------------------------------------------------

TEST_F(DatabaseTest, MonitorGetsTheConnectAndDisconnectLines) {
  norvtest::TraceCapture trace;
  ASSERT_TRUE(trace.Listening());
  QObject owner;  // trace lines go out on behalf of an owner
  auto db = MakeDb("db", &owner);
  db->SetMonitor(true);
  db->Connect();
  db->Disconnect();
  EXPECT_EQ(
      trace.Wait(3),
      (QStringList{"SQL Connect: UserName = sa, ServerName = SAMPLE, DbName = master", "Connected",
                   "SQL DisConnect: UserName = sa, ServerName = SAMPLE, DbName = master"}));
}

// ---- The login prompt ---------------------------------------------------------------------------

TEST_F(DatabaseTest, CancelledLoginPromptLeavesItDisconnectedQuietly) {
  auto db = MakeDb();
  db->SetLoginPrompt(true);
  db->SetServerShow(false);
  db->SetRdbms("SQLAnywhere");
  EXPECT_NO_THROW(db->Connect());  // no reply queued: the prompt is cancelled
  EXPECT_FALSE(db->Connected());
  EXPECT_EQ(db->Handle(), nullptr);
  const auto requests = recorder_->LoginRequests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].ServerName, "SAMPLE");
  EXPECT_EQ(requests[0].UserName, "sa");
  EXPECT_FALSE(requests[0].ServerShow);
  EXPECT_TRUE(requests[0].ServerPrompt);
  EXPECT_EQ(requests[0].Rdbms, "SQLAnywhere");
  EXPECT_EQ(requests[0].ServerList, QStringList{"SAMPLE"});
  EXPECT_EQ(recorder_->Taken().size(), 1u);
  EXPECT_EQ(recorder_->Taken()[0].kind, Kind::LoginPrompt);
}

TEST_F(DatabaseTest, ConfirmedLoginPromptCopiesTheAnswersBack) {
  auto db = MakeDb();
  db->SetLoginPrompt(true);
  db->SetServerName(QString());
  db->SetUserName(QString());
  db->SetConnectError(false);
  // First a user name too long to be anyone's: it is cut before it is used.
  recorder_->QueueLoginReply([](norv::TLoginRequest& r) {
    r.UserName = QString(40, u'u');
    r.ServerName = "SAMPLE";
    return true;
  });
  db->Connect();
  EXPECT_FALSE(db->Connected());
  EXPECT_EQ(db->UserName(), QString(30, u'u'));
  EXPECT_EQ(db->ServerName(), "SAMPLE");

  recorder_->QueueLoginReply([](norv::TLoginRequest& r) {
    EXPECT_EQ(r.UserName, QString(30, u'u'));  // the dialog opens with the last answers
    r.UserName = "sa";
    r.Password = "";
    r.Rdbms = "SQLAnywhere";
    return true;
  });
  db->Connect();
  EXPECT_TRUE(db->Connected());
  EXPECT_EQ(db->UserName(), "sa");
  EXPECT_EQ(db->Rdbms(), "SQLAnywhere");
  EXPECT_EQ(Scalar("db", "select suser_name()"), "sa");
}

// ---- The INI reader
// ------------------------------------------------------------------------------

TEST(SqlIni, SectionsKeysAndAddresses) {
  TSqlIni ini;
  ini.Parse(
      " [One] \r\nQuery = TCP, host1 ,100\r\n#x=1\nstray\n[]\nlost=1\n[Two]\nmaster=h2,200\n"
      "query=\n[one]\nextra=3\n[broken\nkey=4\n");
  EXPECT_EQ(ini.SectionNames(), (QStringList{"One", "Two"}));
  EXPECT_EQ(ini.Value("ONE", "query"), "TCP, host1 ,100");
  EXPECT_EQ(ini.Value("one", "extra"), "3");
  EXPECT_EQ(ini.Value("One", "x"), "");
  EXPECT_EQ(ini.Value("Two", "lost"), "");
  EXPECT_EQ(ServerAddress(ini, "One"), "TCP,host1,100");
  EXPECT_EQ(ServerAddress(ini, "Two"), "TCP,h2,200");  // empty query: master
  EXPECT_EQ(ServerAddress(ini, ""), "");
  ini.Parse("[S]\nquery=TCP,a,b,c\n");
  EXPECT_EQ(ServerAddress(ini, "S"), "");
  EXPECT_FALSE(ini.Load("/nonexistent/sql.ini"));
  EXPECT_TRUE(ini.SectionNames().isEmpty());
}

}  // namespace
