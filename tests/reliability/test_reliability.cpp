// The user flows without widgets, each through a proxy that meets it with a delay, a stall, a cut
// in either direction or a reset in its middle.
#include "dataset/norvsqldataset.h"

#include "reliability_fixture.h"

#include <gtest/gtest.h>

#include <memory>

namespace norvtest {
namespace {

// The login meets the fault inside its own exchange: the connection is refused with a reason, is
// not left half open, and the next login through a healthy wire succeeds.
TEST_P(WireFaults, ConnectAndLogin) {
  auto db = Connect(QStringLiteral("login"), QString::fromLatin1(kProxyServer), false);
  Arm(100, 100);
  const Outcome out = Run([&] { db->SetConnected(true); });
  ExpectEnded(out);
  EXPECT_EQ(db->Connected(), !Fails());
  Reconnect(*db);
}

// A data set reading a cursor two rows a fetch: the rows it holds are the table's first rows,
// never a result passed off as complete.
TEST_P(WireFaults, DataSetScrollsOverACursor) {
  const QString sql = QStringLiteral("SELECT au_id FROM pubs2..authors ORDER BY au_id");
  TNorvSqlDataSet ds;
  ds.SetName(QStringLiteral("Scroll"));
  ds.SetDbName(QStringLiteral("wire"));
  ds.SetSql(sql);
  ds.SetFetchRows(2);
  ds.Open();
  ds.Next();
  Arm(40, 150);
  const Outcome out = Run([&] {
    while (!ds.Eof()) ds.Next();
  });
  ExpectEnded(out, "lost");
  const int total = Scalar(QStringLiteral("select count(*) from pubs2..authors")).toInt();
  EXPECT_EQ(ds.RecordCount() == total, !Fails());
  QStringList held;
  for (ds.First(); !ds.Eof(); ds.Next())
    held << ds.FieldByName(QStringLiteral("au_id"))->AsString();
  EXPECT_EQ(held.size(), ds.RecordCount());

  ds.Close();
  Reconnect(*db_);
  ds.Open();
  QStringList all;
  for (; !ds.Eof(); ds.Next()) all << ds.FieldByName(QStringLiteral("au_id"))->AsString();
  EXPECT_EQ(all.size(), total);
  EXPECT_EQ(all.mid(0, held.size()), held);
}

INSTANTIATE_TEST_SUITE_P(Faults, WireFaults,
                         ::testing::Values(FaultClass::Delay, FaultClass::Stall,
                                           FaultClass::CutToServer, FaultClass::CutToClient,
                                           FaultClass::Reset),
                         FaultName);

}  // namespace
}  // namespace norvtest
