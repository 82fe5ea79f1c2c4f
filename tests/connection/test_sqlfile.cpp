// Reading a script file for the grid and the list controls.
#include "connection/norvexception.h"
#include "connection/sqlfile.h"

#include <gtest/gtest.h>
#include <QFile>
#include <QTemporaryDir>

namespace {

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
