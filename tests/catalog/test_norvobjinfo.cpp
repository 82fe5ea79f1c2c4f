// The catalog component against the sample server's pubs2: each question's statement (as traced
// to the monitor) and answer, on both server kinds where the statements differ; object texts
// checked against the script that created them and against FreeTDS's defncopy; table scripts
// run back into another database and compared column by column with the original.
#include "catalog/norvobjinfo.h"
#include "connection/norvdatabase.h"
#include "connection/norvexception.h"
#include "engine/sample_script.h"
#include "query/norvquery.h"
#include "server_fixture.h"
#include "trace_capture.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <functional>
#include <memory>
#include <ostream>

void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace {

using Strings = QStringList;

std::unique_ptr<TNorvDatabase> Connect(const QString& name, const QString& rdbms,
                                       const QString& database = QStringLiteral("pubs2")) {
  const auto& server = norvtest::SampleServer();  // SYBASE set before the first context
  auto db = std::make_unique<TNorvDatabase>();
  db->SetName(name);
  db->SetServerName(server.serverName);
  db->SetUserName(QStringLiteral("sa"));
  db->SetLoginPrompt(false);
  db->SetRdbms(rdbms);
  db->SetConnected(true);
  db->SetDBName(database);
  return db;
}

// Every row of `sql` on connection `dbName`, columns joined with "|", blanks trimmed.
Strings Rows(const QString& dbName, const QString& sql) {
  TNorvQuery q;
  q.SetDbName(dbName);
  q.SetTrimResults(true);
  q.SetSql(sql);
  q.Execute();
  Strings rows;
  while (q.Fetch() == 1) {
    Strings cols;
    for (int i = 1; i <= q.ColumnCount(); ++i) cols << q.FieldValue(i);
    rows << cols.join(QLatin1Char('|'));
  }
  return rows;
}

class ObjInfo : public ::testing::Test {
 protected:
  // One connection of each server kind, over the same server.
  static void SetUpTestSuite() {
    sybase_ = Connect(QStringLiteral("cat"), QStringLiteral("Sybase SQL Server"));
    anywhere_ = Connect(QStringLiteral("cat_asa"), QStringLiteral("SQLAnywhere"));
    other_ = Connect(QStringLiteral("cat_other"), QStringLiteral("Other"));
  }
  static void TearDownTestSuite() {
    sybase_.reset();
    anywhere_.reset();
    other_.reset();
  }
  void SetUp() override {
    info_.SetDbName(QStringLiteral("cat"));
    info_.SetMonitor(true);
  }

  // Runs `call` and returns the statements it traced, waiting for `expected` of them (for none,
  // a moment).
  Strings Traced(const std::function<void()>& call, qsizetype expected = 1) {
    norvtest::TraceCapture trace;
    EXPECT_TRUE(trace.Listening());
    call();
    return trace.Wait(std::max<qsizetype>(expected, 1), expected > 0 ? 5000 : 300);
  }

  static inline std::unique_ptr<TNorvDatabase> sybase_;
  static inline std::unique_ptr<TNorvDatabase> anywhere_;
  static inline std::unique_ptr<TNorvDatabase> other_;
  QObject owner_;  // trace lines go out only for a component with an owner
  TNorvObjInfo& info_ = *new TNorvObjInfo(&owner_);
};

TEST_F(ObjInfo, EachListQuestionSendsItsStatementAndListsTheRows) {
  struct Case {
    const char* what;
    QString dbName;
    std::function<QStringList&(TNorvObjInfo&)> call;
    QString sql;
    Strings rows;           // the whole answer, when given
    Strings contains = {};  // else rows the answer holds
  };
  const Case cases[] = {
      {"databases",
       "cat",
       [](TNorvObjInfo& i) -> QStringList& { return i.GetDatabases(); },
       "SELECT name FROM master..sysdatabases ORDER BY name",
       {},
       {"master", "pubs2", "tempdb"}},
      {"procedures",
       "cat",
       [](TNorvObjInfo& i) -> QStringList& { return i.GetObjectNames("p"); },
       "SELECT name FROM sysobjects WHERE type = 'P' ORDER BY name",
       {"author_titles", "byroyalty", "discount_for", "pub_count", "titles_by_type"}},
      {"triggers",
       "cat",
       [](TNorvObjInfo& i) -> QStringList& { return i.GetObjectNames("tr"); },
       "SELECT name FROM sysobjects WHERE type = 'TR' ORDER BY name",
       {"deltitle"}},
      {"cut before upper-casing",
       "cat",
       [](TNorvObjInfo& i) -> QStringList& { return i.GetObjectNames("proc"); },
       "SELECT name FROM sysobjects WHERE type = 'PR' ORDER BY name",
       {}},
      {"cut before trimming",
       "cat",
       [](TNorvObjInfo& i) -> QStringList& { return i.GetObjectNames(" tr"); },
       "SELECT name FROM sysobjects WHERE type = 'T' ORDER BY name",
       {}},
      {"rules",
       "cat",
       [](TNorvObjInfo& i) -> QStringList& { return i.GetObjectNames("R"); },
       "SELECT name FROM sysobjects WHERE type = 'R' ORDER BY name",
       {"pub_idrule", "title_idrule"}},
      {"a quote in the type",
       "cat",
       [](TNorvObjInfo& i) -> QStringList& { return i.GetObjectNames("U'"); },
       "SELECT name FROM sysobjects WHERE type = 'U''' ORDER BY name",
       {}},
      {"users",
       "cat",
       [](TNorvObjInfo& i) -> QStringList& { return i.GetUsers(); },
       "SELECT name FROM sysusers WHERE gid<>uid ORDER BY name",
       {},
       {"bookclerk"}},
      {"groups",
       "cat",
       [](TNorvObjInfo& i) -> QStringList& { return i.GetGroups(); },
       "SELECT name FROM sysusers WHERE gid=uid ORDER BY name",
       {},
       {"clerks", "editors"}},
      {"system datatypes",
       "cat",
       [](TNorvObjInfo& i) -> QStringList& { return i.GetSystemDatatypes(); },
       "SELECT name FROM systypes WHERE usertype < 100 ORDER BY name",
       {},
       {"int", "varchar"}},
      {"user datatypes",
       "cat",
       [](TNorvObjInfo& i) -> QStringList& { return i.GetUserDatatypes(); },
       "SELECT name FROM systypes WHERE usertype > 100 ORDER BY name",
       {"empid", "id", "tid"}},
      {"segments",
       "cat",
       [](TNorvObjInfo& i) -> QStringList& { return i.GetSegments(); },
       "SELECT name FROM syssegments ORDER BY name",
       {},
       {"default", "logsegment", "system"}},
      {"index names",
       "cat",
       [](TNorvObjInfo& i) -> QStringList& { return i.GetIndexNames(); },
       "SELECT so.name + '.' + si.name FROM sysobjects so,sysindexes si WHERE so.id = si.id  AND "
       "si.indid<> 0 AND so.type IN ('U','S') ORDER BY so.name,si.indid",
       {},
       {"authors.auidind", "authors.aunmind", "titleauthor.taind"}},
      {"index names, SQLAnywhere",
       "cat_asa",
       [](TNorvObjInfo& i) -> QStringList& { return i.GetIndexNames(); },
       "SELECT trim(st.table_name + '.' + si.index_name) FROM SYSINDEX si, SYSTABLE st WHERE "
       "st.table_id = si.table_id ORDER BY si.index_id",
       {},
       {"authors.auidind", "authors.aunmind", "titleauthor.taind"}},
      {"index columns",
       "cat",
       [](TNorvObjInfo& i) -> QStringList& { return i.GetIndexColumns("authors.aunmind"); },
       "SELECT INDEX_COL(so.name , x.indid, c.colid) FROM sysindexes x, syscolumns c, sysobjects "
       "so WHERE x.id = object_id (so.name) AND indid BETWEEN 1 AND 254 AND x.id = c.id AND "
       "so.id = x.id AND c.colid <= x.keycnt AND INDEX_COL(so.name, x.indid, c.colid)<>'' AND "
       "so.name + '.' + x.name = 'authors.aunmind' ORDER BY x.name, x.indid, c.colid ASC",
       {"au_lname", "au_fname"}},
      {"index columns, SQLAnywhere",
       "cat_asa",
       [](TNorvObjInfo& i) -> QStringList& { return i.GetIndexColumns("titleauthor.taind"); },
       "SELECT sc.column_name FROM SYSTABLE st, SYSIXCOL sic, SYSCOLUMN sc, SYSINDEX si WHERE "
       "st.table_id = sc.table_id AND si.table_id = sc.table_id AND si.index_id = sic.index_id "
       "AND sc.table_id = sic.table_id AND sc.column_id = sic.column_id AND st.table_name + '.' "
       "+ si.index_name = 'titleauthor.taind' ORDER BY sequence",
       {"au_id", "title_id"}},
      {"a quote in the index name asks for that name",
       "cat",
       [](TNorvObjInfo& i) -> QStringList& {
         return i.GetIndexColumns("x' OR so.name = 'authors");
       },
       "SELECT INDEX_COL(so.name , x.indid, c.colid) FROM sysindexes x, syscolumns c, sysobjects "
       "so WHERE x.id = object_id (so.name) AND indid BETWEEN 1 AND 254 AND x.id = c.id AND "
       "so.id = x.id AND c.colid <= x.keycnt AND INDEX_COL(so.name, x.indid, c.colid)<>'' AND "
       "so.name + '.' + x.name = 'x'' OR so.name = ''authors' ORDER BY x.name, x.indid, c.colid "
       "ASC",
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    info_.SetDbName(c.dbName);
    QStringList* answer = nullptr;
    const Strings traced = Traced([&] { answer = &c.call(info_); });
    EXPECT_EQ(traced, Strings{QStringLiteral("SQL Execute: ") + c.sql});
    ASSERT_EQ(answer, &info_.ResultList());
    if (c.contains.isEmpty()) {
      EXPECT_EQ(*answer, c.rows);
    } else {
      for (const QString& row : c.contains) EXPECT_TRUE(answer->contains(row)) << row.toStdString();
    }
  }
}

// A connection of neither kind keeps the index-name statement for index columns.
TEST_F(ObjInfo, IndexColumnsOnAnotherServerKindListIndexNames) {
  info_.SetDbName(QStringLiteral("cat_other"));
  const Strings names = info_.GetIndexNames();
  ASSERT_FALSE(names.isEmpty());
  EXPECT_EQ(info_.GetIndexColumns(QStringLiteral("authors.aunmind")), names);
}

TEST_F(ObjInfo, CatalogPrefixGoesBeforeEveryCatalogTable) {
  info_.SetCatalogPrefix(QStringLiteral("pubs2.."));
  info_.SetDbName(QStringLiteral("cat"));
  const Strings traced = Traced(
      [&] {
        info_.GetUsers();
        info_.GetIndexNames();
      },
      2);
  EXPECT_EQ(traced,
            Strings({"SQL Execute: SELECT name FROM pubs2..sysusers WHERE gid<>uid ORDER BY name",
                     "SQL Execute: SELECT so.name + '.' + si.name FROM pubs2..sysobjects "
                     "so,pubs2..sysindexes si WHERE so.id = si.id  AND si.indid<> 0 AND so.type "
                     "IN ('U','S') ORDER BY so.name,si.indid"}));
  EXPECT_TRUE(info_.ResultList().contains(QStringLiteral("authors.aunmind")));
}

// The source objects of the sample script: name and the text it was created with.
std::vector<std::pair<QString, QString>> ScriptObjects() {
  std::vector<std::pair<QString, QString>> objects;
  static const QRegularExpression create(
      QStringLiteral("^create (procedure|view|trigger|rule|default) (\\w+)"));
  const QStringList batches = QString::fromUtf8(sampleserver::kPubs2Script)
                                  .split(QRegularExpression(QStringLiteral("\\ngo\\n")));
  for (const QString& batch : batches) {
    // Comment lines before a batch are not part of what the server keeps.
    Strings lines = batch.split(QLatin1Char('\n'));
    while (!lines.isEmpty() &&
           (lines.first().startsWith(QLatin1String("--")) || lines.first().trimmed().isEmpty()))
      lines.removeFirst();
    const QString text = lines.join(QLatin1Char('\n')).trimmed();
    const auto m = create.match(text);
    if (m.hasMatch()) objects.emplace_back(m.captured(2), text);
  }
  return objects;
}

// What defncopy prints for `object` in pubs2, without its USE and GO lines.
QString Defncopy(const QString& object) {
  const auto& server = norvtest::SampleServer();
  static QTemporaryDir dir;
  const QString conf = dir.filePath(QStringLiteral("freetds.conf"));
  QFile file(conf);
  if (file.open(QIODevice::WriteOnly))
    file.write(QStringLiteral("[global]\n\ttds version = 5.0\n\tclient charset = UTF-8\n"
                              "[catalog]\n\thost = %1\n\tport = %2\n")
                   .arg(server.host)
                   .arg(server.port)
                   .toUtf8());
  file.close();
  QProcess p;
  auto env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("FREETDSCONF"), conf);
  p.setProcessEnvironment(env);
  p.start(QStringLiteral("defncopy"),
          {"-S", "catalog", "-U", "sa", "-P", "", "-D", "pubs2", QStringLiteral("dbo.") + object});
  p.waitForFinished(30000);
  Strings kept;
  for (const QString& line : QString::fromUtf8(p.readAllStandardOutput()).split('\n'))
    if (line != QLatin1String("USE pubs2") && line != QLatin1String("GO")) kept << line;
  return kept.join(QLatin1Char('\n')).trimmed();
}

TEST_F(ObjInfo, ObjectTextIsTheCreatingTextAndAgreesWithDefncopy) {
  const auto objects = ScriptObjects();
  ASSERT_EQ(objects.size(), 11u);  // 5 procedures, a view, a trigger, 2 rules, 2 defaults
  for (const auto& [name, created] : objects) {
    SCOPED_TRACE(name.toStdString());
    QString text;
    const Strings traced = Traced([&] { info_.GetObjectText(name, text); }, 2);
    EXPECT_EQ(text, created);
    EXPECT_EQ(text, Defncopy(name));
    EXPECT_EQ(
        traced,
        Strings({"SQL Execute: SELECT type FROM sysobjects WHERE name = '" + name + "'",
                 "SQL Execute: SELECT text FROM syscomments WHERE id=object_id('" + name + "')"}));
  }
}

TEST_F(ObjInfo, ObjectTextJoinsTheRowsOfALongText) {
  // Longer than one syscomments row (255 characters), so the text is stored in several.
  QString body = QStringLiteral("create procedure cat_long as\nselect 1");
  for (int i = 0; i < 60; ++i) body += QStringLiteral("\nselect %1").arg(i);
  Rows(QStringLiteral("cat"),
       QStringLiteral("if object_id('cat_long') is not null drop procedure cat_long"));
  Rows(QStringLiteral("cat"), body);
  ASSERT_GE(
      Rows(QStringLiteral("cat"),
           QStringLiteral("select count(*) from syscomments where id = object_id('cat_long')"))
          .value(0)
          .toInt(),
      3);
  QString text;
  info_.GetObjectText(QStringLiteral("  cat_long  "), text);
  EXPECT_EQ(text, body);
  Rows(QStringLiteral("cat"), QStringLiteral("drop procedure cat_long"));
}

TEST_F(ObjInfo, ObjectTextRefusesWhatIsNoSourceObjectAndLeavesTheTextAlone) {
  const QString tooLong = QStringLiteral("byroyalty") + QString(60, QLatin1Char('x'));
  for (const QString& name :
       {QStringLiteral("authors"), QStringLiteral("sysobjects"), QStringLiteral("no_such_object"),
        QStringLiteral("o'hara"), QStringLiteral("byroyalty' or name = 'byroyalty"), tooLong}) {
    SCOPED_TRACE(name.toStdString());
    QString text = QStringLiteral("unchanged");
    try {
      info_.GetObjectText(name, text);
      ADD_FAILURE() << "no exception";
    } catch (const ENorvException& e) {
      EXPECT_EQ(
          e.Message(),
          QStringLiteral("Object is not a Stored Procedure, View ,Trigger, Default or Rule!"));
    }
    EXPECT_EQ(text, QStringLiteral("unchanged"));
  }
}

TEST_F(ObjInfo, TableScriptLaysOutEachColumn) {
  Rows(QStringLiteral("cat"),
       QStringLiteral("if object_id('cat_script') is not null drop table cat_script"));
  Rows(QStringLiteral("cat"),
       QStringLiteral("create table cat_script (id int identity, name varchar(20) null, "
                      "amount numeric(10,2) not null, a_thirty_character_column_name char(3) "
                      "not null, ts timestamp)"));
  const Strings traced = Traced([&] { info_.GetTableScript(QStringLiteral("cat_script")); });
  EXPECT_EQ(traced, Strings{"SQL Execute: SELECT * FROM cat_script WHERE 1=2"});
  EXPECT_EQ(info_.ResultList(),
            Strings({
                "CREATE TABLE cat_script",
                "(",
                " id                            int identity                 NOT NULL,",
                " name                          varchar(20)                  NULL,",
                " amount                        numeric(10,2)                NOT NULL,",
                " a_thirty_character_column_namechar(3)                      NOT NULL,",
                " ts                            timestamp                    NOT NULL",
                ")",
            }));
  Rows(QStringLiteral("cat"), QStringLiteral("drop table cat_script"));
}

TEST_F(ObjInfo, TableScriptOfBadNames) {
  // A name the server does not know: its error passes on; the list stays cleared.
  info_.GetUsers();
  EXPECT_THROW(info_.GetTableScript(QStringLiteral("no_such_table")), EDatabaseError);
  EXPECT_TRUE(info_.ResultList().isEmpty());
  // A name that would end the statement early is never sent.
  for (const QString& name : {QStringLiteral("authors WHERE 1=1 drop table authors --"),
                              QStringLiteral("a'b"), QStringLiteral("a.b.c.d")}) {
    SCOPED_TRACE(name.toStdString());
    const Strings traced =
        Traced([&] { EXPECT_THROW(info_.GetTableScript(name), ENorvException); }, 0);
    EXPECT_TRUE(traced.isEmpty());
  }
  // Blanks around a name are kept, and the name still works.
  EXPECT_EQ(info_.GetTableScript(QStringLiteral("pubs2..publishers  ")).first(),
            QStringLiteral("CREATE TABLE pubs2..publishers  "));
}

// Column facts of a table as syscolumns holds them: name, storage type, length, precision,
// scale, nullability and identity, then the datatype's name.
Strings Columns(const QString& dbName, const QString& table) {
  return Rows(dbName,
              QStringLiteral("select c.name, c.type, c.length, c.prec, c.scale, c.status & 8, "
                             "c.status & 128, t.name from syscolumns c, systypes t where c.id = "
                             "object_id('%1') and t.usertype = c.usertype order by c.colid")
                  .arg(table));
}

TEST_F(ObjInfo, TableScriptsRebuildEveryPubs2Table) {
  auto temp = Connect(QStringLiteral("cat_tempdb"), QStringLiteral("Sybase SQL Server"),
                      QStringLiteral("tempdb"));
  const Strings tables = info_.GetObjectNames(QStringLiteral("U"));
  ASSERT_GE(tables.size(), 11);
  const Strings userTypes = {QStringLiteral("id"), QStringLiteral("tid"), QStringLiteral("empid")};
  for (const QString& table : tables) {
    if (table.startsWith(QLatin1String("cat_"))) continue;
    SCOPED_TRACE(table.toStdString());
    Strings script = info_.GetTableScript(table);
    const QString copy = table + QStringLiteral("_rt");
    script[0] = QStringLiteral("CREATE TABLE ") + copy;
    Rows(QStringLiteral("cat_tempdb"),
         QStringLiteral("if object_id('%1') is not null drop table %1").arg(copy));
    Rows(QStringLiteral("cat_tempdb"), script.join(QLatin1Char('\n')));
    Strings original = Columns(QStringLiteral("cat"), table);
    ASSERT_FALSE(original.isEmpty());
    // A user datatype cannot be written in the script, and Client-Library describes its
    // character columns as char: the copy's column is a char of the same length.
    for (QString& column : original) {
      Strings parts = column.split(QLatin1Char('|'));
      if (userTypes.contains(parts.last())) {
        parts[1] = QStringLiteral("47");
        parts.last() = QStringLiteral("char");
      }
      column = parts.join(QLatin1Char('|'));
    }
    EXPECT_EQ(Columns(QStringLiteral("cat_tempdb"), copy), original);
    Rows(QStringLiteral("cat_tempdb"), QStringLiteral("drop table %1").arg(copy));
  }
}

TEST_F(ObjInfo, FailuresReportClearlyAndNothingCrashes) {
  // No connection name, or one no component has.
  info_.SetDbName(QString());
  EXPECT_THROW(info_.GetDatabases(), EDatabaseError);
  info_.SetDbName(QStringLiteral("cat_nowhere"));
  EXPECT_THROW(info_.GetUsers(), EDatabaseError);
  // A catalog prefix naming a database that is not there: the server's error passes on.
  info_.SetDbName(QStringLiteral("cat"));
  info_.SetCatalogPrefix(QStringLiteral("no_such_db.."));
  EXPECT_THROW(info_.GetUsers(), EDatabaseError);
  EXPECT_TRUE(info_.ResultList().isEmpty());
  info_.SetCatalogPrefix(QString());
}

// Last in the file: the server goes away, and comes back for whatever runs next.
TEST_F(ObjInfo, ServerGoneBetweenTwoCalls) {
  ASSERT_FALSE(info_.GetGroups().isEmpty());
  norvtest::StopSampleServer();
  try {
    info_.GetGroups();
    ADD_FAILURE() << "no exception";
  } catch (const ENorvException& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("Connection to the server was lost"));
  }
  EXPECT_TRUE(info_.ResultList().isEmpty());
  QString text = QStringLiteral("unchanged");
  EXPECT_THROW(info_.GetObjectText(QStringLiteral("byroyalty"), text), Exception);
  EXPECT_EQ(text, QStringLiteral("unchanged"));
  try {
    info_.GetTableScript(QStringLiteral("authors"));
    ADD_FAILURE() << "no exception";
  } catch (const ENorvException& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("Connection to the server was lost"));
  }
  TearDownTestSuite();
  SetUpTestSuite();
  EXPECT_FALSE(info_.GetGroups().isEmpty());
}

}  // namespace
