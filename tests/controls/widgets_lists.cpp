// The list box, combo box and check list box filling themselves from the sample server.
#include "controls/norvchklistbox.h"
#include "controls/norvcombobox.h"
#include "controls/norvlistbox.h"

#include "connection/norvdatabase.h"
#include "connection/norvexception.h"
#include "query/norvquery.h"

#include "recording_presenter.h"
#include "server_fixture.h"
#include "widget_helpers.h"

#include <gtest/gtest.h>
#include <QFontMetrics>
#include <QScrollBar>

#include <algorithm>
#include <array>
#include <memory>

namespace {

constexpr auto kDb = "ListsDb";

// Counts of the fill events, and the senders they came with.
struct EventLog {
  int before = 0;
  int added = 0;
  int after = 0;
  QObject* sender = nullptr;

  template <typename Control>
  void Watch(Control& c) {
    c.BeforeExec = [this](QObject* s) {
      ++before;
      sender = s;
    };
    c.OnItemAdd = [this](QObject*) { ++added; };
    c.AfterExec = [this](QObject* s) {
      ++after;
      sender = s;
    };
  }
};

QStringList Items(const QListWidget& list) {
  QStringList items;
  for (int i = 0; i < list.count(); ++i) items << list.item(i)->text();
  return items;
}

std::unique_ptr<TNorvDatabase> Connect(const QString& name) {
  const QString server = norvtest::SampleServer().serverName;  // writes SQL.INI, read next
  auto db = std::make_unique<TNorvDatabase>();
  db->SetName(name);
  db->SetServerName(server);
  db->SetUserName(QStringLiteral("sa"));
  db->SetDBName(QStringLiteral("pubs2"));
  db->SetLoginPrompt(false);
  db->SetConnected(true);
  return db;
}

// The text width of the widest item followed by "X", as the controls measure it.
int Widest(const QListWidget& list) {
  const QFontMetrics fm(list.font());
  int widest = 0;
  for (const QString& item : Items(list))
    widest = std::max(widest, fm.horizontalAdvance(item + QLatin1Char('X')));
  return widest;
}

class ListsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { db_ = Connect(QString::fromLatin1(kDb)); }
  static void TearDownTestSuite() { db_.reset(); }
  void SetUp() override { ASSERT_TRUE(db_->Connected()); }

  template <typename Control>
  static void Prepare(Control& c, const char* sql) {
    c.SetDbName(QString::fromLatin1(kDb));
    c.SetSql(QString::fromUtf8(sql));
  }

  static inline std::unique_ptr<TNorvDatabase> db_;
};

// ---- List box
// ------------------------------------------------------------------------------------

TEST_F(ListsTest, ListBoxBuildsSqlFromTableAndFieldAndFiresEventsPerRow) {
  TNorvListBox lb;
  lb.SetDbName(QString::fromLatin1(kDb));
  lb.SetTableName(QStringLiteral("sysobjects"));
  lb.SetFieldName(QStringLiteral("name"));
  lb.addItem(QStringLiteral("left over"));
  EventLog log;
  log.Watch(lb);

  EXPECT_EQ(lb.Execute(), CS_SUCCEED);

  EXPECT_EQ(lb.Sql(), QStringLiteral("SELECT name FROM sysobjects"));
  const QStringList items = Items(lb);
  EXPECT_FALSE(items.contains(QStringLiteral("left over")));
  EXPECT_TRUE(items.contains(QStringLiteral("authors")));
  EXPECT_EQ((std::array{log.before, log.added, log.after}),
            (std::array{1, static_cast<int>(items.size()), 1}));
  EXPECT_EQ(log.sender, &lb);
  EXPECT_TRUE(lb.RowsReturned());
  EXPECT_EQ(lb.LastItem(), items.last());

  // The kept statement is run again as it stands, not rebuilt from a changed field.
  lb.SetFieldName(QStringLiteral("no_such_column"));
  EXPECT_EQ(lb.Execute(), CS_SUCCEED);
  EXPECT_EQ(Items(lb), items);
}

TEST_F(ListsTest, ListBoxHeaderAndRowsJoinColumnsWithTabs) {
  TNorvListBox lb;
  Prepare(lb, "select pub_id, city from publishers order by pub_id");
  lb.SetShowHeader(true);
  EventLog log;
  log.Watch(lb);

  lb.Execute();

  const QStringList items = Items(lb);
  ASSERT_EQ(items.size(), 7);
  EXPECT_EQ(items[0], QStringLiteral("pub_id\tcity"));
  EXPECT_EQ(items[1], QStringLiteral("1001\tOakland"));
  EXPECT_EQ(items[6], QStringLiteral("9902\t"));  // a NULL city is empty text
  EXPECT_EQ(log.added, 6);                        // the header is no data item
  EXPECT_EQ(lb.LastItem(), items[6]);

  // Without rows: the header alone, and nothing of the previous fill is left to read.
  lb.SetSql(QStringLiteral("select pub_id, city from publishers where 1 = 0"));
  EXPECT_EQ(lb.Execute(), CS_SUCCEED);
  EXPECT_EQ(Items(lb), QStringList{items[0]});
  EXPECT_FALSE(lb.RowsReturned());
  EXPECT_TRUE(lb.LastItem().isEmpty());
}

TEST_F(ListsTest, HorizontalExtentFollowsTheWidestItemAndDrivesTheScrollRange) {
  TNorvListBox lb;
  Prepare(lb, "select title from titles");
  lb.resize(120, 200);
  norvtest::ShowActive(lb);

  lb.Execute();

  const int widest = Widest(lb);
  EXPECT_EQ(lb.HorizontalExtent(), widest);
  QScrollBar* bar = lb.horizontalScrollBar();
  auto expectedMax = [&] { return std::max(0, widest - lb.viewport()->width()); };
  ASSERT_GT(expectedMax(), 0);
  // The range is set when the list lays its items out, which Qt may defer to the event loop.
  EXPECT_TRUE(norvtest::ProcessUntil([&] { return bar->maximum() == expectedMax(); }))
      << bar->maximum() << " against " << expectedMax();

  // The range is ours, not the item layout's, across resizes and relayouts.
  lb.resize(90, 200);
  lb.doItemsLayout();
  ASSERT_TRUE(norvtest::ProcessUntil([&] { return bar->maximum() == expectedMax(); }));

  bar->setValue(bar->maximum());
  lb.SetHorizontalScrollbar(false);
  EXPECT_EQ(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), 0);
  EXPECT_EQ(lb.HorizontalExtent(), widest);
  lb.SetHorizontalScrollbar(true);
  EXPECT_EQ(bar->maximum(), expectedMax());

  // A narrower fill narrows the extent: clearing forgets the old one.
  bar->setValue(bar->maximum());
  lb.SetSql(QStringLiteral("select state from publishers where state is not null"));
  lb.Execute();
  const int narrow = Widest(lb);
  EXPECT_EQ(lb.HorizontalExtent(), narrow);
  EXPECT_EQ(bar->maximum(), std::max(0, narrow - lb.viewport()->width()));
  EXPECT_EQ(bar->value(), 0);

  lb.Clear();
  EXPECT_EQ(lb.count(), 0);
  EXPECT_EQ(lb.HorizontalExtent(), 0);
}

TEST_F(ListsTest, AutoSizeWidensToTheLongestTrimmedFirstColumn) {
  TNorvListBox lb;
  QFont font = lb.font();
  font.setPointSize(10);
  lb.setFont(font);
  // Padded to 30 characters: only the trimmed length may count, and a padded short value late
  // in the set must not undo the longest one ("Fairweather", 11 characters).
  Prepare(lb, "select convert(char(30), au_lname), au_fname from authors order by au_id");
  lb.resize(20, 100);

  lb.SetAutoSize(false);
  lb.Execute();
  EXPECT_EQ(lb.width(), 20);

  lb.SetAutoSize(true);
  lb.Execute();
  EXPECT_EQ(lb.width(), 10 * 11);

  // Wide enough already: the estimate from the control's own width stands.
  lb.resize(400, 100);
  lb.Execute();
  EXPECT_EQ(lb.width(), 400);
}

// ---- Combo box
// -----------------------------------------------------------------------------------

TEST_F(ListsTest, ComboTakesTheFirstColumnAndKeepsTheLastRowsValue) {
  TNorvComboBox cb;
  Prepare(cb, "select pub_name, city from publishers order by pub_id");
  EventLog log;
  log.Watch(cb);

  EXPECT_EQ(cb.Execute(), CS_SUCCEED);

  ASSERT_EQ(cb.count(), 6);
  EXPECT_EQ(cb.itemText(0), QStringLiteral("Harbor Lane Press"));
  EXPECT_EQ(cb.CurrValue(), QStringLiteral("Lantern & Key"));
  EXPECT_EQ(cb.Value(), QStringLiteral("Harbor Lane Press"));
  cb.setCurrentIndex(2);
  EXPECT_EQ(cb.Value(), QStringLiteral("Quillstone Books"));
  EXPECT_TRUE(cb.RowsReturned());
  EXPECT_EQ(log.added, 6);
  EXPECT_EQ(log.after, 1);
  EXPECT_EQ(log.sender, &cb);

  cb.SetSql(QStringLiteral("select pub_name from publishers where 1 = 0"));
  EXPECT_EQ(cb.Execute(), CS_SUCCEED);
  EXPECT_EQ(cb.count(), 0);
  EXPECT_FALSE(cb.RowsReturned());
  EXPECT_TRUE(cb.CurrValue().isEmpty());
  EXPECT_TRUE(cb.Value().isEmpty());
}

// ---- Check list box
// ------------------------------------------------------------------------------

TEST_F(ListsTest, CheckListBoxChecksRowsOfTheBuiltCheckColumn) {
  TNorvChkListBox cl;
  cl.SetDbName(QString::fromLatin1(kDb));
  cl.SetTableName(QStringLiteral("sysobjects"));
  cl.SetFieldName(QStringLiteral("name"));
  cl.SetCheckFieldName(QStringLiteral("type"));
  cl.SetCheckValue(QStringLiteral("U"));

  EXPECT_EQ(cl.Execute(), CS_SUCCEED);

  EXPECT_EQ(cl.Sql(), QStringLiteral("SELECT name, type FROM sysobjects"));
  const QStringList items = Items(cl);
  const auto authors = items.indexOf(QStringLiteral("authors"));
  const auto view = items.indexOf(QStringLiteral("titleview"));
  ASSERT_GE(authors, 0);
  ASSERT_GE(view, 0);
  EXPECT_TRUE(cl.Checked(static_cast<int>(authors)));
  EXPECT_FALSE(cl.Checked(static_cast<int>(view)));
  EXPECT_TRUE(cl.item(static_cast<int>(view))->flags() & Qt::ItemIsUserCheckable);
}

TEST_F(ListsTest, CheckListBoxFindsAGivenCheckColumnByNameInAnyCase) {
  TNorvChkListBox cl;
  // type is char(12): the padded values must still match.
  Prepare(cl, "select title, type as Kind from titles order by title_id");
  cl.SetCheckFieldName(QStringLiteral("KIND"));
  cl.SetCheckValue(QStringLiteral("business"));
  cl.Execute();

  ASSERT_EQ(cl.count(), 24);
  EXPECT_EQ(cl.item(0)->text(), QStringLiteral("Ledgers Without Tears"));
  int checked = 0;
  for (int i = 0; i < cl.count(); ++i) checked += cl.Checked(i) ? 1 : 0;
  EXPECT_EQ(checked, 4);
  EXPECT_TRUE(cl.Checked(0));

  cl.SetCheckFieldName(QStringLiteral("genre"));  // no such result column: nothing is checked
  cl.Execute();
  for (int i = 0; i < cl.count(); ++i) EXPECT_FALSE(cl.Checked(i)) << i;
}

// ---- Failures, for all three
// ---------------------------------------------------------------------

TEST_F(ListsTest, LookupErrorsLeaveTheControlsAlone) {
  TNorvListBox lb;
  TNorvComboBox cb;
  TNorvChkListBox cl;
  EventLog log;
  log.Watch(lb);
  lb.addItem(QStringLiteral("old"));
  auto expectLookupError = [](auto& control, const char* dbName, const char* text) {
    control.SetDbName(QString::fromLatin1(dbName));
    try {
      control.Execute();
      ADD_FAILURE() << "no error for DbName '" << dbName << "'";
    } catch (const EDatabaseError& e) {
      EXPECT_EQ(e.Message(), QString::fromLatin1(text));
    }
  };
  for (const char* blank : {"", "  "}) {
    expectLookupError(lb, blank, "DBName not specified");
    expectLookupError(cb, blank, "DBName not specified");
    expectLookupError(cl, blank, "DBName not specified");
  }
  // Lookups are exact.
  expectLookupError(lb, "listsdb", "Could not find NorvDatabase component named listsdb");
  expectLookupError(cb, "Nowhere", "Could not find NorvDatabase component named Nowhere");
  expectLookupError(cl, "Nowhere", "Could not find NorvDatabase component named Nowhere");

  EXPECT_EQ(Items(lb), QStringList{QStringLiteral("old")});
  EXPECT_EQ(log.before, 0);
}

TEST_F(ListsTest, DisconnectedConnectionIsNeitherUsedNorConnected) {
  norv::ScopedRecordingPresenter shown;
  TNorvDatabase idle;
  idle.SetName(QStringLiteral("ListsIdle"));
  idle.SetServerName(norvtest::SampleServer().serverName);
  idle.SetUserName(QStringLiteral("sa"));
  idle.SetLoginPrompt(false);

  TNorvListBox lb;
  TNorvComboBox cb;
  TNorvChkListBox cl;
  EventLog log;
  auto prepare = [&](auto& control) {
    log.Watch(control);
    control.addItem(QStringLiteral("old"));
    control.SetDbName(QStringLiteral("ListsIdle"));
    control.SetTableName(QStringLiteral("authors"));
    control.SetFieldName(QStringLiteral("au_lname"));
  };
  prepare(lb);
  prepare(cb);
  prepare(cl);

  EXPECT_EQ(lb.Execute(), 0);
  EXPECT_EQ(cb.Execute(), 0);
  EXPECT_EQ(cl.Execute(), 0);

  EXPECT_EQ(Items(lb), QStringList{QStringLiteral("old")});
  EXPECT_EQ(cb.count(), 1);
  EXPECT_EQ(Items(cl), QStringList{QStringLiteral("old")});
  EXPECT_TRUE(lb.Sql().isEmpty());
  EXPECT_EQ(log.before + log.added + log.after, 0);
  EXPECT_FALSE(idle.Connected());
  EXPECT_TRUE(shown->Taken().empty());
}

TEST_F(ListsTest, FailingStatementReportsThroughTheQueryAndSkipsAfterExec) {
  TNorvListBox lb;
  Prepare(lb,
          "select au_lname, 10 / (case when au_lname = 'Montague' then 0 else 1 end) "
          "from authors");
  lb.addItem(QStringLiteral("old"));
  EventLog log;
  log.Watch(lb);
  int errors = 0;
  QObject* errorOwner = nullptr;  // the sender goes with the fill; its owner stays
  lb.OnDbError = [&](QObject* s) {
    ++errors;
    errorOwner = s ? s->parent() : nullptr;
  };

  try {
    lb.Execute();
    ADD_FAILURE() << "the failing statement did not raise";
  } catch (const EDatabaseError& e) {
    EXPECT_TRUE(e.Message().contains(QStringLiteral("Divide by zero"))) << e.what();
    EXPECT_EQ(lb.DbErrorText(), e.Message());  // copied in by the query
  }
  EXPECT_EQ(lb.DbServerMsg().msgnumber, 3607);
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(errorOwner, &lb);  // sent by the query the list box ran
  EXPECT_EQ(log.before, 1);
  EXPECT_EQ(log.after, 0);
  EXPECT_EQ(lb.count(), 0);  // the old items went when the fill started
  EXPECT_FALSE(lb.RowsReturned());
  EXPECT_TRUE(lb.findChildren<TNorvQuery*>().isEmpty());

  // With the error window switched on, the window shows the same text and the fill aborts.
  norv::ScopedRecordingPresenter shown;
  lb.SetMsgDialogs({mdEnhErr});
  EXPECT_THROW(lb.Execute(), EAbort);
  const auto taken = shown->Taken();
  const auto window = std::find_if(taken.begin(), taken.end(), [](const auto& s) {
    return s.kind == norv::RecordingPresenter::Kind::MessageWindow;
  });
  ASSERT_NE(window, taken.end());
  EXPECT_EQ(window->text, lb.DbErrorText());
  EXPECT_EQ(log.after, 0);

  // The next fill starts clean: the old error text goes with it.
  lb.SetSql(QStringLiteral("select pub_id from publishers"));
  EXPECT_EQ(lb.Execute(), CS_SUCCEED);
  EXPECT_TRUE(lb.DbErrorText().isEmpty());
  EXPECT_EQ(log.after, 1);
}

// ---- A server lost in the middle of a fill
// -------------------------------------------------------

// Runs last and alone: it stops the shared sample server (the next user starts a fresh one).
TEST(ListsServerLossTest, RowsReadBeforeTheLossStayAndTheLossIsReported) {
  auto db = Connect(QStringLiteral("ListsDoomed"));
  ASSERT_TRUE(db->Connected());

  TNorvListBox lb;
  lb.SetDbName(QStringLiteral("ListsDoomed"));
  lb.SetSql(QStringLiteral("select au_lname from authors"));  // 25 rows, cursor batches of 10
  lb.resize(40, 200);
  EventLog log;
  log.Watch(lb);
  lb.OnItemAdd = [&](QObject*) {
    if (++log.added == 1) norvtest::StopSampleServer();
  };

  try {
    lb.Execute();
    ADD_FAILURE() << "the lost server went unreported after " << lb.count() << " items";
  } catch (const ENorvException& e) {
    EXPECT_EQ(lb.DbErrorText(), e.Message());
  }
  EXPECT_GT(lb.count(), 1);  // the rest of the first batch came from the client's buffer
  EXPECT_LT(lb.count(), 25);
  EXPECT_EQ(log.added, lb.count());
  EXPECT_EQ(lb.LastItem(), lb.item(lb.count() - 1)->text());
  EXPECT_EQ(log.after, 0);
  // What came can still be scrolled to: the extent was applied although the fill failed.
  EXPECT_GT(lb.HorizontalExtent(), 0);
  EXPECT_EQ(lb.AppliedExtent(), lb.HorizontalExtent());
  EXPECT_TRUE(lb.findChildren<TNorvQuery*>().isEmpty());

  db->SetConnected(false);
  norvtest::SampleServer();
}

}  // namespace
