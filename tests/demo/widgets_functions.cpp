// The functions window against the sample server: opened modally from the main window, then
// every function button's statement and answer, and a number that is not one.
#include "catalog/norvfunctions.h"
#include "connection/norvdatabase.h"
#include "recording_presenter.h"
#include "server_fixture.h"
#include "u_functions.h"

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSysInfo>

#include <memory>

namespace {

class FunctionsWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // SYBASE must name the server before the first connection component reads SQL.INI.
    const QString server = norvtest::SampleServer().serverName;
    db_ = std::make_unique<TNorvDatabase>();
    db_->SetName(QStringLiteral("db"));
    db_->SetServerName(server);
    db_->SetUserName(QStringLiteral("sa"));
    db_->SetLoginPrompt(false);
    db_->SetConnected(true);
    ASSERT_TRUE(db_->Connected());
  }

  norv::ScopedRecordingPresenter recorder_;
  std::unique_ptr<TNorvDatabase> db_;
  Tf_functions w_;
};

TEST_F(FunctionsWindowTest, EveryButtonShowsItsStatementAndAnswer) {
  struct Row {
    const char* caption;
    QString sql;
    QString answer;
  };
  const std::vector<Row> rows = {
      {"col_length", R"(SELECT col_length("master..sysobjects","name"))", "30"},
      {"col_name", "SELECT col_name(1,1)", "name"},
      {"dateadd", R"(SELECT dateadd(day,2,"1999/12/29"))", "Dec 31 1999 12:00:00:000AM"},
      {"datediff", R"(SELECT datediff(day,"1999/11/30","1999/12/29"))", "29"},
      {"datename", R"(SELECT datename(weekday,"1999/12/29"))", "Wednesday"},
      {"datepart", R"(SELECT datepart(day,"1999/12/29"))", "29"},
      {"db_id", "SELECT db_id()", "1"},
      {"user_id", "SELECT user_id()", "1"},
      {"db_name", "SELECT db_name()", "master"},
      {"hextoint", R"(SELECT hextoint("000000A"))", "10"},
      {"host_id", "SELECT host_id()", QString::number(QCoreApplication::applicationPid())},
      {"host_name", "SELECT host_name()", QSysInfo::machineHostName().left(30)},
      {"inttohex", "SELECT inttohex(10)", "0000000A"},
      {"object_id", R"(SELECT object_id("master..sysobjects"))", "1"},
      {"object_name", "SELECT object_name(1)", "sysobjects"},
      {"user_name", "SELECT user_name()", "dbo"},
      {"replicate", R"(SELECT replicate("*",10))", "**********"},
      {"right", R"(SELECT right("ABCDEF",2))", "EF"},
      {"show_role", "SELECT show_role()", "sa_role sso_role oper_role sybase_ts_role"},
      {"stuff", R"(SELECT stuff("ABCDEF",2,4,"*"))", "A*F"},
      {"suser_id", "SELECT suser_id()", "1"},
      {"suser_name", "SELECT suser_name()", "sa"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.caption);
    QPushButton* button = w_.FunctionButton(QString::fromLatin1(row.caption));
    ASSERT_NE(button, nullptr);
    ASSERT_NO_THROW(button->click());
    EXPECT_EQ(w_.m_sql->toPlainText(), row.sql);
    EXPECT_EQ(w_.e_result->text(), row.answer);
  }
  EXPECT_TRUE(recorder_->Taken().empty());
}

TEST_F(FunctionsWindowTest, DateaddReadsItsNumberAndRefusesANonInteger) {
  w_.e3->setText(QStringLiteral("-29"));
  w_.Button3->click();
  EXPECT_EQ(w_.e_result->text(), QStringLiteral("Nov 30 1999 12:00:00:000AM"));
  w_.e3->setText(QStringLiteral("two"));
  EXPECT_THROW(w_.Button3->click(), EConvertError);
  // The window shows the last call that answered.
  EXPECT_EQ(w_.m_sql->toPlainText(), QStringLiteral(R"(SELECT dateadd(day,-29,"1999/12/29"))"));
}

}  // namespace
