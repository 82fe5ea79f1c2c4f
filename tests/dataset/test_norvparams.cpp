// Statements with parameters against the sample server: prepared cursors with each parameter
// type, NULL values, the refused types, procedure results and executions without a cursor.
#include "dataset/norvsqldataset.h"

#include "connection/norvdatabase.h"
#include "query/norvquery.h"

#include "dataset_fixture.h"
#include "recording_presenter.h"
#include "server_fixture.h"
#include "trace_capture.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

class NorvParamsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    norvtest::RunSetup({
        "if object_id('prm_types') is not null drop table prm_types",
        "create table prm_types (k int, s varchar(10) null, si smallint null, i int null, "
        "b bit not null, f float null, c money null, d datetime null)",
        "insert prm_types values (1, 'abc', 7, 70000, 1, 1.5, 12.5, "
        "'Jan 1 1900 12:00:00.500PM')",
        "insert prm_types values (2, null, -3, null, 0, null, null, null)",
        "insert prm_types values (0, 'it''s', 8, 5, 1, null, null, null)",
    });
  }

  void SetUp() override { db_ = norvtest::ConnectSample(QStringLiteral("db")); }

  std::unique_ptr<TNorvSqlDataSet> DataSet(const QString& sql) {
    auto ds = std::make_unique<TNorvSqlDataSet>();
    ds->SetName(QStringLiteral("Params1"));
    ds->SetDbName(QStringLiteral("db"));
    ds->SetSql(sql);
    return ds;
  }

  // The k of every row an open gives.
  static std::vector<int> Keys(TNorvSqlDataSet& ds) {
    std::vector<int> keys;
    ds.Open();
    for (ds.First(); !ds.Eof(); ds.Next()) keys.push_back(ds.FieldByName("k")->AsInteger());
    ds.Close();
    return keys;
  }

  norv::ScopedRecordingPresenter shown_;
  std::unique_ptr<TNorvDatabase> db_;
};

TEST_F(NorvParamsTest, EachSupportedTypeSelectsItsRow) {
  struct Case {
    const char* column;
    std::function<void(TParam&)> set;
    int key;
  };
  const std::vector<Case> cases = {
      {"s", [](TParam& p) { p.SetAsString(QStringLiteral("abc")); }, 1},
      {"s", [](TParam& p) { p.SetAsString(QStringLiteral("it's")); }, 0},
      {"si", [](TParam& p) { p.SetAsSmallInt(-3); }, 2},
      {"i", [](TParam& p) { p.SetAsInteger(70000); }, 1},
      {"b", [](TParam& p) { p.SetAsBoolean(false); }, 2},
      {"f", [](TParam& p) { p.SetAsFloat(1.5); }, 1},
      {"c", [](TParam& p) { p.SetAsCurrency(12.5); }, 1},
      // Day 0 and 12 960 150 ticks.
      {"d", [](TParam& p) { p.SetAsDateTime(QDateTime(QDate(1900, 1, 1), QTime(12, 0, 0, 500))); },
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.column);
    auto ds = DataSet(QStringLiteral("select k from prm_types where %1 = :v").arg(c.column));
    ASSERT_EQ(ds->Params().Count(), 1);
    c.set(ds->ParamByName(QStringLiteral("v")));
    EXPECT_EQ(Keys(*ds), std::vector<int>{c.key});
    EXPECT_FALSE(ds->Prepared());  // deallocated by the close
  }
}

TEST_F(NorvParamsTest, NullParameterIsSentAsNull) {
  auto ds = DataSet(QStringLiteral("select k from prm_types where isnull(i, -1) = isnull(:v, -1)"));
  TParam& v = ds->ParamByName(QStringLiteral("v"));
  v.SetDataType(ftInteger);
  ASSERT_TRUE(v.IsNull());
  EXPECT_EQ(Keys(*ds), std::vector<int>{2});
}

TEST_F(NorvParamsTest, ReopensWithAChangedValue) {
  auto ds = DataSet(QStringLiteral("select k from prm_types where k = :k"));
  for (int k : {1, 2, 3}) {
    ds->ParamByName(QStringLiteral("k")).SetAsInteger(k);
    EXPECT_EQ(Keys(*ds), k <= 2 ? std::vector<int>{k} : std::vector<int>{});
  }
}

TEST_F(NorvParamsTest, UnsendableTypesAreRefusedBeforeAnythingIsSent) {
  norvtest::TraceCapture trace;
  ASSERT_TRUE(trace.Listening());
  struct Case {
    TFieldType type;
    const char* error;
  };
  const std::vector<Case> cases = {
      {ftBlob, "Datatype of parameter \"v\" not supported!"},
      {ftFixedChar, "Datatype of parameter \"v\" not supported!"},
      {ftUnknown, "Parameter \"v\" has an Unknown data type"},
  };
  QObject owner;  // trace lines come only from owned components
  auto traced = [&](TFieldType type) {
    auto* ds = new TNorvSqlDataSet(&owner);
    ds->SetDbName(QStringLiteral("db"));
    ds->SetMonitor(true);
    ds->SetSql(QStringLiteral("select k from prm_types where s = :v"));
    ds->ParamByName(QStringLiteral("v")).SetDataType(type);
    return ds;
  };
  for (const Case& c : cases) {
    TNorvSqlDataSet* ds = traced(c.type);
    QString error;
    try {
      ds->Open();
    } catch (const Exception& e) {
      error = e.Message();
    }
    EXPECT_EQ(error, QString::fromLatin1(c.error));
    EXPECT_FALSE(ds->Prepared());
  }
  EXPECT_EQ(trace.Wait(1, 300), QStringList{});
  // The same statement with a sendable type does reach the trace.
  traced(ftString)->Open();
  // More lines than the open writes: all of them within the second.
  EXPECT_TRUE(
      trace.Wait(1000, 1000).contains(QStringLiteral("Open-Client: ct_dynamic(CS_PREPARE)")));
}

TEST_F(NorvParamsTest, ProcedureGivesReturnStatusAndOutputParameter) {
  struct Case {
    const char* pubId;
    int status;
    const char* count;
  };
  for (const Case& c : std::vector<Case>{{"1001", 0, "4"}, {"9999", 1, "0"}}) {
    SCOPED_TRACE(c.pubId);
    auto ds = DataSet(QStringLiteral("exec pubs2..pub_count :pub, :cnt output"));
    ds->ParamByName(QStringLiteral("pub")).SetAsString(QString::fromLatin1(c.pubId));
    TParam& cnt = ds->ParamByName(QStringLiteral("cnt"));
    cnt.SetDataType(ftInteger);
    cnt.SetParamType(ptOutput);
    TParam& result = ds->Params().CreateParam(ftInteger, QStringLiteral("Result"), ptResult);
    ds->ExecStatement();
    EXPECT_EQ(result.AsInteger(), c.status);
    EXPECT_EQ(cnt.AsString(), QString::fromLatin1(c.count));
    EXPECT_FALSE(ds->Prepared());
  }
}

// A data set over a procedure reads the procedure's rows, on the text or prepared with its
// parameter, one row or many per exchange.
TEST_F(NorvParamsTest, CursorOnAProcedure) {
  struct Case {
    const char* sql;
    const char* type;  // the :type value, when the statement has one
    int fetchRows;
    QStringList ids;
  };
  const std::vector<Case> cases = {
      {"exec pubs2..titles_by_type 'business'",
       nullptr,
       10,
       {"BU4478", "BU2101", "BU3340", "BU2215"}},
      {"exec pubs2..titles_by_type :type", "mod_cook", 1, {"CK1150", "CK1288"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    auto ds = DataSet(QString::fromLatin1(c.sql));
    if (c.type) ds->ParamByName(QStringLiteral("type")).SetAsString(QString::fromLatin1(c.type));
    ds->SetFetchRows(c.fetchRows);
    ds->Open();
    QStringList ids;
    for (; !ds->Eof(); ds->Next()) ids << ds->Fields()[0]->AsString();
    EXPECT_EQ(ids, c.ids);
  }
}

// Two data sets of one name, prepared as "PrepId" on one connection and opened back to back: each
// has a cursor of its own, and the first carries on fetching after the second released its
// statement.
TEST_F(NorvParamsTest, TwoPreparedDataSetsOnOneConnection) {
  auto byState = DataSet(QStringLiteral("select au_id from pubs2..authors where state = :st"));
  byState->ParamByName(QStringLiteral("st")).SetAsString(QStringLiteral("CA"));
  byState->SetFetchRows(1);
  byState->Open();
  auto count = DataSet(
      QStringLiteral("select n = count(*) from pubs2..authors where state = :st and city = :city"));
  count->ParamByName(QStringLiteral("st")).SetAsString(QStringLiteral("CA"));
  count->ParamByName(QStringLiteral("city")).SetAsString(QStringLiteral("Oakland"));
  count->Open();
  const int oakland = count->FieldByName(QStringLiteral("n"))->AsInteger();
  count->Close();
  byState->Last();
  auto plain = DataSet(QStringLiteral(
      "select n = count(*) from pubs2..authors where state = 'CA' and city = 'Oakland'"));
  plain->Open();
  EXPECT_EQ(oakland, plain->FieldByName(QStringLiteral("n"))->AsInteger());
  plain->Close();
  plain->SetSql(QStringLiteral("select n = count(*) from pubs2..authors where state = 'CA'"));
  plain->Open();
  EXPECT_EQ(byState->RecordCount(), plain->FieldByName(QStringLiteral("n"))->AsInteger());
  EXPECT_GT(oakland, 0);
  EXPECT_GT(byState->RecordCount(), 1);
}

TEST_F(NorvParamsTest, ExecStatementReportsTheRowCount) {
  auto ds = DataSet(QStringLiteral("update prm_types set f = f where k >= :k"));
  for (auto [k, rows] : std::vector<std::pair<int, int>>{{1, 2}, {2, 1}, {5, 0}}) {
    ds->ParamByName(QStringLiteral("k")).SetAsInteger(k);
    ds->ExecStatement();
    EXPECT_EQ(ds->RowCount(), rows) << k;
  }
}

}  // namespace
