// Navigation over the window of record buffers, record numbers, bookmarks and finding.
#include "memdataset.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

struct Grid : TRecordingLink {};

class Navigation : public ::testing::Test {
 protected:
  void SetUp() override {
    FillPeople(ds, 10);
    source.SetDataSet(&ds);
    grid.SetBufferCount(3);
    grid.SetDataSource(&source);
    ds.Open();
  }
  int Id() { return ds.FieldByName("id")->AsInteger(); }
  TMemDataSet ds;
  TDataSource source;
  Grid grid;
};

// Ops: F first, L last, N next, P prior, +n / -n MoveBy.
struct NavCase {
  const char* ops;
  int id;
  bool bof, eof;
  int moved;  // of the last op
};

TEST_F(Navigation, MovesThroughTheWindowAndStopsAtBothEnds) {
  const NavCase cases[] = {
      {"", 1, true, false, 0},
      {"N", 2, false, false, 1},
      {"P", 1, true, false, 0},
      {"N P", 1, false, false, -1},
      {"N P P", 1, true, false, 0},
      {"L", 10, false, true, 0},
      {"L N", 10, false, true, 0},
      {"+4", 5, false, false, 4},
      {"+20", 10, false, true, 9},
      {"L -20", 1, true, false, -9},
      {"L P P P P", 6, false, false, -1},
      {"+5 -3", 3, false, false, -3},
      {"L F", 1, true, false, 0},
      {"N N N N", 5, false, false, 1},
  };
  for (const NavCase& c : cases) {
    ds.First();
    int moved = 0;
    for (const QString& op : QString::fromLatin1(c.ops).split(' ', Qt::SkipEmptyParts)) {
      moved = 0;
      if (op == "F") ds.First();
      if (op == "L") ds.Last();
      if (op == "N") moved = ds.MoveBy(1);
      if (op == "P") moved = ds.MoveBy(-1);
      if (op[0] == '+' || op[0] == '-') moved = ds.MoveBy(op.toInt());
    }
    SCOPED_TRACE(c.ops);
    EXPECT_EQ(Id(), c.id);
    EXPECT_EQ(ds.Bof(), c.bof);
    EXPECT_EQ(ds.Eof(), c.eof);
    EXPECT_EQ(moved, c.moved);
    EXPECT_EQ(ds.RecNo(), c.id);
    EXPECT_LE(grid.RecordCount(), 3);
    EXPECT_GE(grid.ActiveRecord(), 0);
    EXPECT_LT(grid.ActiveRecord(), grid.RecordCount());
  }
}

TEST_F(Navigation, StepsInsideTheWindowReadNothing) {
  EXPECT_EQ(grid.RecordCount(), 3);
  const int reads = ds.reads;
  ds.Next();
  ds.Next();
  EXPECT_EQ(ds.reads, reads);
  EXPECT_EQ(grid.ActiveRecord(), 2);
  ds.Next();  // one more record enters, the first leaves
  EXPECT_EQ(ds.reads, reads + 1);
  EXPECT_EQ(grid.ActiveRecord(), 2);
  grid.SetActiveRecord(0);
  EXPECT_EQ(Id(), 2);
  grid.SetActiveRecord(2);
  EXPECT_EQ(Id(), 4);
}

TEST_F(Navigation, RecordNumberAndCount) {
  EXPECT_EQ(ds.RecordCount(), 10);
  ds.SetRecNo(8);
  EXPECT_EQ(Id(), 8);
  EXPECT_EQ(ds.RecNo(), 8);
  EXPECT_THROW(ds.SetRecNo(11), EDatabaseError);
  ds.Close();
  try {
    ds.RecordCount();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Cannot perform this operation on a closed dataset");
  }
}

TEST_F(Navigation, EmptyDataSetIsAtBothEnds) {
  TMemDataSet empty;
  empty.AddColumn("id", ftInteger);
  empty.Open();
  EXPECT_TRUE(empty.IsEmpty());
  EXPECT_TRUE(empty.Bof() && empty.Eof());
  EXPECT_EQ(empty.MoveBy(1), 0);
  EXPECT_TRUE(empty.FieldByName("id")->IsNull());
  EXPECT_TRUE(empty.GetBookmark().isEmpty());
}

TEST_F(Navigation, BookmarksReturnToTheirRecord) {
  ds.MoveBy(3);
  const TBookmark mark = ds.GetBookmark();
  EXPECT_EQ(mark.size(), ds.BookmarkSize());
  EXPECT_TRUE(ds.BookmarkValid(mark));
  EXPECT_FALSE(ds.BookmarkValid({}));
  ds.Last();
  EXPECT_NE(ds.CompareBookmarks(mark, ds.GetBookmark()), 0);
  ds.GotoBookmark(mark);
  EXPECT_EQ(Id(), 4);
  EXPECT_EQ(ds.CompareBookmarks(mark, ds.GetBookmark()), 0);
  TBookmark outside(8, '\0');
  outside[0] = 99;
  try {
    ds.GotoBookmark(outside);
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Bookmark 99 not found!");
  }
  EXPECT_EQ(Id(), 4);
}

// A visit elsewhere leaves the window, the record, Bof/Eof and every listener as they were.
TEST_F(Navigation, VisitPutsEverythingBackUnheard) {
  QStringList events;
  RecordEvents(ds, events);
  for (const char* at : {"first", "last"}) {
    SCOPED_TRACE(at);
    at[0] == 'f' ? ds.First() : ds.Last();
    const bool bof = ds.Bof(), eof = ds.Eof();
    const int id = Id(), row = grid.ActiveRecord();
    grid.log.clear();
    events.clear();
    int seen = 0;
    ds.Visit([&] {
      ds.SetRecNo(5);
      ds.MoveBy(-3);
      seen = Id();
    });
    EXPECT_EQ(seen, 2);
    EXPECT_EQ(Id(), id);
    EXPECT_EQ(grid.ActiveRecord(), row);
    EXPECT_EQ(ds.Bof(), bof);
    EXPECT_EQ(ds.Eof(), eof);
    EXPECT_TRUE(grid.log.isEmpty()) << grid.log.join(' ').toStdString();
    EXPECT_TRUE(events.isEmpty()) << events.join(' ').toStdString();
    ds.Next();  // the cursor follows the record again
    EXPECT_EQ(Id(), std::min(id + 1, 10));
  }
  ds.Edit();
  EXPECT_THROW(ds.Visit([] {}), EDatabaseError);
  ds.Cancel();
  // A data set closed on the way stays closed, and its listeners hear of it.
  grid.log.clear();
  ds.Visit([&] { ds.Close(); });
  EXPECT_FALSE(ds.Active());
  EXPECT_EQ(grid.log, QStringList({"Active:0"}));
}

TEST_F(Navigation, FindStepsAndReportsWhetherItFound) {
  EXPECT_TRUE(ds.FindLast());
  EXPECT_EQ(Id(), 10);
  EXPECT_FALSE(ds.FindNext());
  EXPECT_FALSE(ds.Found());
  EXPECT_EQ(Id(), 10);
  EXPECT_TRUE(ds.FindPrior());
  EXPECT_EQ(Id(), 9);
  EXPECT_TRUE(ds.FindFirst());
  EXPECT_EQ(Id(), 1);
}

TEST_F(Navigation, FilterShowsOnlyAcceptedRecords) {
  ds.OnFilterRecord = [](TDataSet* d, bool& accept) {
    accept = d->FieldByName("id")->AsInteger() % 2 == 0;
  };
  ds.SetFiltered(true);
  EXPECT_EQ(Id(), 2);
  ds.Next();
  EXPECT_EQ(Id(), 4);
  EXPECT_EQ(ds.RecNo(), 2);
  ds.Last();
  EXPECT_EQ(Id(), 10);
  ds.SetFiltered(false);
  EXPECT_EQ(Id(), 1);
}

}  // namespace
