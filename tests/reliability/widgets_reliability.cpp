// The result grid running a script through the faulty wire, in the foreground and on its worker:
// the script's transaction spans several batches, so a fault in its middle must leave the server
// with all of it or none.
#include "controls/norvgrid.h"

#include "reliability_fixture.h"
#include "widget_helpers.h"

#include <gtest/gtest.h>

#include <memory>

namespace norvtest {
namespace {

constexpr const char* kScript =
    "begin tran\ngo\n"
    "insert pubs2..wire_grid values (1, 'one')\ngo\n"
    "insert pubs2..wire_grid values (2, 'two')\ngo\n"
    "select au_id, au_lname, au_fname, phone, address, city from pubs2..authors\ngo\n"
    "insert pubs2..wire_grid values (3, 'three')\ngo\n"
    "commit tran\ngo\n"
    "select n = count(*) from pubs2..wire_grid";

class GridWireFaults : public WireFaults {
 protected:
  void Script(bool background) {
    RunClean(
        {QStringLiteral("if object_id('pubs2..wire_grid') is not null drop table "
                        "pubs2..wire_grid"),
         QStringLiteral("create table pubs2..wire_grid (k int not null, v varchar(10) null)")});
    TNorvGrid grid;
    grid.SetDbName(QStringLiteral("wire"));
    grid.SetBackground(background);
    grid.SetSql(QString::fromLatin1(kScript));
    QStringList errors;  // what OnDbError saw
    grid.OnDbError = [&](QObject*) { errors << grid.DbErrorText(); };
    Arm(200, 900);
    Outcome out = Run([&] {
      grid.Execute();
      EXPECT_TRUE(ProcessUntil([&] { return !grid.Busy(); }, kEndsWithinMs));
    });
    if (out.error.isEmpty() && !errors.isEmpty()) out.error = errors.last();
    ExpectEnded(out, "lost");

    // All three rows or none; all when the run went through.
    const int rows = Scalar(QStringLiteral("select count(*) from pubs2..wire_grid")).toInt();
    EXPECT_TRUE(rows == 0 || rows == 3) << rows << " rows: a transaction in part";
    if (!Fails()) {
      EXPECT_EQ(rows, 3);
    }

    Reconnect(*db_);
    grid.SetSql(QStringLiteral("select n = count(*) + 10 from pubs2..wire_grid"));
    grid.Execute();
    ASSERT_TRUE(ProcessUntil([&] { return !grid.Busy(); }, kEndsWithinMs));
    EXPECT_EQ(grid.Cells(1, 1).trimmed(), QString::number(rows + 10));
  }
};

TEST_P(GridWireFaults, GridRunsAScriptInTheForeground) { Script(false); }
TEST_P(GridWireFaults, GridRunsAScriptOnItsWorker) { Script(true); }

INSTANTIATE_TEST_SUITE_P(Faults, GridWireFaults,
                         ::testing::Values(FaultClass::Delay, FaultClass::Stall,
                                           FaultClass::CutToServer, FaultClass::CutToClient,
                                           FaultClass::Reset),
                         FaultName);

}  // namespace
}  // namespace norvtest
