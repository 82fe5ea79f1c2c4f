#include "connection/dbcheck.h"
#include "connection/norvdatabase.h"
#include "connection/norvexception.h"
#include "connection/sqlfile.h"

#include <QTemporaryDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

QString RaisedBy(const QString& name) {
  try {
    CheckDbName(name);
  } catch (const EDatabaseError& e) {
    return e.Message();
  }
  return {};
}

TEST(DbCheck, BlankAndUnknownNamesRaise) {
  EXPECT_EQ(RaisedBy(""), "DBName not specified");
  EXPECT_EQ(RaisedBy("   "), "DBName not specified");
  TNorvDatabase db;
  db.SetName("DB");
  EXPECT_EQ(RaisedBy("db"), "Could not find NorvDatabase component named db");
  EXPECT_EQ(RaisedBy("DB"), "");
  EXPECT_EQ(FindDatabase("DB"), &db);
  EXPECT_EQ(FindDatabase("db"), nullptr);
}

TEST(DbCheck, DuplicateNamesAreRefusedAndDestroyedConnectionsLeave) {
  auto first = std::make_unique<TNorvDatabase>();
  first->SetName("Conn1");
  TNorvDatabase second;
  try {
    second.SetName("Conn1");
    FAIL() << "duplicate name accepted";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "A NorvDatabase component named Conn1 already exist");
  }
  EXPECT_TRUE(second.Name().isEmpty());
  first->SetName("Conn1");  // renaming to its own name is no duplicate
  EXPECT_EQ(FindDatabase("Conn1"), first.get());
  first.reset();
  EXPECT_EQ(FindDatabase("Conn1"), nullptr);
  second.SetName("Conn1");
  EXPECT_EQ(FindDatabase("Conn1"), &second);
}

TEST(SqlFile, LinesArePrecededByABlankAndJoined) {
  QTemporaryDir dir;
  const QString path = dir.filePath("script.sql");
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("select 1\r\ngo\nselect 'caf\xC3\xA9'\n\nlast");
  file.close();
  EXPECT_EQ(ReadSqlFile(path), QString::fromUtf8(" select 1 go select 'caf\xC3\xA9'  last"));
}

TEST(SqlFile, MissingFileRaisesWithItsName) {
  try {
    ReadSqlFile("/nonexistent/dir/x.sql");
    FAIL();
  } catch (const ENorvException& e) {
    EXPECT_TRUE(e.Message().contains("/nonexistent/dir/x.sql"));
  }
}

}  // namespace
