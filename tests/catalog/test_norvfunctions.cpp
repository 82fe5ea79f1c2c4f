// The function wrappers against the sample server: each wrapper's statement and answer, string
// arguments quoted safely, and bad input (unknown names, NULL answers, server errors, a lost
// connection).
#include "../dataset/dataset_fixture.h"
#include "catalog/norvfunctions.h"
#include "recording_presenter.h"

#include <gtest/gtest.h>
#include <QCoreApplication>

#include <functional>
#include <memory>

namespace {

using Call = std::function<QString(TNorvFunctions&)>;

// An integer wrapper's answer as text, so every row of a table compares the same way.
template <typename F>
Call Int(F f) {
  return [f](TNorvFunctions& fn) { return QString::number(f(fn)); };
}
// A text wrapper: the answer arrives in its out parameter, which starts out non-empty so that a
// wrapper leaving it alone is seen.
template <typename F>
Call Text(F f) {
  return [f](TNorvFunctions& fn) {
    QString result = QStringLiteral("untouched");
    f(fn, result);
    return result;
  };
}

struct Row {
  const char* what;
  Call call;
  QString sql;
  QString answer;
};

class FunctionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = norvtest::ConnectSample(QStringLiteral("fn_db"));
    ASSERT_TRUE(db_->Connected());
    fn_.SetDbName(QStringLiteral("fn_db"));
  }

  void Check(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
      SCOPED_TRACE(row.what);
      QString answer;
      ASSERT_NO_THROW(answer = row.call(fn_));
      EXPECT_EQ(fn_.Sql(), row.sql);
      EXPECT_EQ(answer, row.answer);
    }
  }

  norv::ScopedRecordingPresenter recorder_;
  std::unique_ptr<TNorvDatabase> db_;
  TNorvFunctions fn_;
};

TEST(FunctionsDateParts, NamesZeroToTenAndNothingElse) {
  const QStringList names = {"year",    "quarter", "month",  "week",   "day",        "dayofyear",
                             "weekday", "hour",    "minute", "second", "millisecond"};
  for (int i = 0; i < names.size(); ++i) EXPECT_EQ(TNorvFunctions::DatePartName(i), names[i]);
  EXPECT_EQ(TNorvFunctions::DatePartName(-1), QString());
  EXPECT_EQ(TNorvFunctions::DatePartName(11), QString());
}

TEST(FunctionsConversion, DecimalTextOr32BitOverflowOrError) {
  EXPECT_EQ(TNorvFunctions::ToInteger(QStringLiteral(" -42 ")), -42);
  EXPECT_EQ(TNorvFunctions::ToInteger(QStringLiteral("2147483647")), 2147483647);
  for (const char* bad : {"2147483648", "0000000A", "1.5", ""})
    EXPECT_THROW(TNorvFunctions::ToInteger(QString::fromLatin1(bad)), EConvertError) << bad;
}

TEST_F(FunctionsTest, EveryWrapperWritesItsStatementAndReadsTheAnswer) {
  const QString pid = QString::number(QCoreApplication::applicationPid());
  const QString host = QSysInfo::machineHostName().left(30);
  Check({
      {"col_length", Int([](auto& f) { return f.FnColLength("master..sysobjects", "name"); }),
       R"(SELECT col_length("master..sysobjects","name"))", "30"},
      {"col_name", Text([](auto& f, QString& r) { f.FnColName(1, 1, 0, r); }),
       "SELECT col_name(1,1)", "name"},
      {"col_name in a database", Text([](auto& f, QString& r) { f.FnColName(1, 2, 1, r); }),
       "SELECT col_name(1,2,1)", "id"},
      {"dateadd", Text([](auto& f, QString& r) { f.FnDateAdd(4, 2, "1999/12/29", r); }),
       R"(SELECT dateadd(day,2,"1999/12/29"))", "Dec 31 1999 12:00:00:000AM"},
      {"datediff", Int([](auto& f) { return f.FnDateDiff(4, "1999/11/30", "1999/12/29"); }),
       R"(SELECT datediff(day,"1999/11/30","1999/12/29"))", "29"},
      {"datename", Text([](auto& f, QString& r) { f.FnDateName(6, "1999/12/29", r); }),
       R"(SELECT datename(weekday,"1999/12/29"))", "Wednesday"},
      {"datepart", Int([](auto& f) { return f.FnDatePart(2, "1999/12/29"); }),
       R"(SELECT datepart(month,"1999/12/29"))", "12"},
      {"db_id", Int([](auto& f) { return f.FnDbId("  "); }), "SELECT db_id()", "1"},
      {"db_id of a name", Int([](auto& f) { return f.FnDbId("master"); }),
       R"(SELECT db_id("master"))", "1"},
      {"db_id keeps a leading blank", Int([](auto& f) { return f.FnDbId(" master"); }),
       R"(SELECT db_id(" master"))", "0"},
      {"db_name", Text([](auto& f, QString& r) { f.FnDbName(0, r); }), "SELECT db_name()",
       "master"},
      {"db_name of an id", Text([](auto& f, QString& r) { f.FnDbName(1, r); }), "SELECT db_name(1)",
       "master"},
      {"hextoint", Int([](auto& f) { return f.FnHexToInt("000000A"); }),
       R"(SELECT hextoint("000000A"))", "10"},
      {"host_id", Int([](auto& f) { return f.FnHostId(); }), "SELECT host_id()", pid},
      {"host_name", Text([](auto& f, QString& r) { f.FnHostName(r); }), "SELECT host_name()", host},
      {"inttohex", Text([](auto& f, QString& r) { f.FnIntToHex(-1, r); }), "SELECT inttohex(-1)",
       "FFFFFFFF"},
      {"object_id", Int([](auto& f) { return f.FnObjectId("master..sysobjects"); }),
       R"(SELECT object_id("master..sysobjects"))", "1"},
      {"object_name", Text([](auto& f, QString& r) { f.FnObjectName(1, 0, r); }),
       "SELECT object_name(1)", "sysobjects"},
      {"object_name in a database", Text([](auto& f, QString& r) { f.FnObjectName(3, 1, r); }),
       "SELECT object_name(3,1)", "syscolumns"},
      {"replicate", Text([](auto& f, QString& r) { f.FnReplicate("*", 10, r); }),
       R"(SELECT replicate("*",10))", "**********"},
      {"right", Text([](auto& f, QString& r) { f.FnRight("ABCDEF", 2, r); }),
       R"(SELECT right("ABCDEF",2))", "EF"},
      {"show_role", Text([](auto& f, QString& r) { f.FnShowRole(r); }), "SELECT show_role()",
       "sa_role sso_role oper_role sybase_ts_role"},
      {"stuff: text, start, length, replacement",
       Text([](auto& f, QString& r) { f.FnStuff("ABCDEF", 2, "*", 4, r); }),
       R"(SELECT stuff("ABCDEF",2,4,"*"))", "A*F"},
      {"suser_id", Int([](auto& f) { return f.FnSuserId(""); }), "SELECT suser_id()", "1"},
      {"suser_id of a login", Int([](auto& f) { return f.FnSuserId("sa"); }),
       R"(SELECT suser_id("sa"))", "1"},
      {"suser_name", Text([](auto& f, QString& r) { f.FnSuserName(" ", r); }),
       "SELECT suser_name()", "sa"},
      {"user_id", Int([](auto& f) { return f.FnUserId(""); }), "SELECT user_id()", "1"},
      {"user_id of a name", Int([](auto& f) { return f.FnUserId("guest"); }),
       R"(SELECT user_id("guest"))", "2"},
      {"user_name", Text([](auto& f, QString& r) { f.FnUserName(0, r); }), "SELECT user_name()",
       "dbo"},
      {"user_name of a negative id", Text([](auto& f, QString& r) { f.FnUserName(-3, r); }),
       "SELECT user_name()", "dbo"},
      {"user_name of an id", Text([](auto& f, QString& r) { f.FnUserName(2, r); }),
       "SELECT user_name(2)", "guest"},
  });
  EXPECT_TRUE(recorder_->Taken().empty());
}

TEST_F(FunctionsTest, QuotesInStringArgumentsStayInsideTheLiteral) {
  Check({
      {"a double quote is doubled",
       Text([](auto& f, QString& r) { f.FnReplicate(R"(a"b)", 2, r); }),
       R"(SELECT replicate("a""b",2))", R"(a"ba"b)"},
      {"a name with a double quote is asked for",
       Int([](auto& f) { return f.FnDbId(R"(o"hara)"); }), R"(SELECT db_id("o""hara"))", "0"},
      {"a single quote needs nothing", Int([](auto& f) { return f.FnDbId("o'hara"); }),
       R"(SELECT db_id("o'hara"))", "0"},
      {"a statement cannot be smuggled in",
       Int([](auto& f) { return f.FnObjectId(R"(x") select 1 --)"); }),
       R"(SELECT object_id("x"") select 1 --"))", "0"},
  });
}

TEST_F(FunctionsTest, UnknownNamesAndNullAnswers) {
  Check({
      {"no such object", Int([](auto& f) { return f.FnObjectId("no_such_table"); }),
       R"(SELECT object_id("no_such_table"))", "0"},
      {"no such column", Int([](auto& f) { return f.FnColLength("sysobjects", "no_such"); }),
       R"(SELECT col_length("sysobjects","no_such"))", "0"},
      {"no such database id", Text([](auto& f, QString& r) { f.FnDbName(32000, r); }),
       "SELECT db_name(32000)", ""},
      {"no such object id", Text([](auto& f, QString& r) { f.FnObjectName(999999, 0, r); }),
       "SELECT object_name(999999)", ""},
      {"no such login", Int([](auto& f) { return f.FnSuserId("nobody_here"); }),
       R"(SELECT suser_id("nobody_here"))", "0"},
  });
}

TEST_F(FunctionsTest, ServerErrorsRaiseAndKeepTheStatement) {
  // An unknown date part writes nothing between the parenthesis and the comma.
  EXPECT_THROW(fn_.FnDatePart(11, "1999/12/29"), EDatabaseError);
  EXPECT_EQ(fn_.Sql(), R"(SELECT datepart(,"1999/12/29"))");
  QString result = QStringLiteral("untouched");
  EXPECT_THROW(fn_.FnDateAdd(4, 1, "not a date", result), EDatabaseError);
  EXPECT_EQ(result, QString());
  // The component's query is usable again after an error.
  EXPECT_EQ(fn_.FnDbId(""), 1);
}

TEST_F(FunctionsTest, MissingOrUnknownConnectionName) {
  TNorvFunctions none;
  try {
    none.FnHostId();
    ADD_FAILURE() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("DBName not specified"));
  }
  none.SetDbName(QStringLiteral("fn_nowhere"));
  try {
    none.FnHostId();
    ADD_FAILURE() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(),
              QStringLiteral("Could not find NorvDatabase component named fn_nowhere"));
  }
}

TEST_F(FunctionsTest, ConnectionLostBetweenTwoCalls) {
  ASSERT_EQ(fn_.FnDbId(""), 1);
  norvtest::StopSampleServer();
  try {
    fn_.FnDbId("");
    ADD_FAILURE() << "no error";
  } catch (const ENorvException& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("Connection to the server was lost"));
  }
  QString result = QStringLiteral("untouched");
  EXPECT_THROW(fn_.FnDbName(0, result), ENorvException);
  EXPECT_EQ(fn_.Sql(), QStringLiteral("SELECT db_name()"));
  db_.reset();
  norvtest::SampleServer();
}

}  // namespace
