// Editing: event order, what reaches the stored rows, and the refusals.
#include "memdataset.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

class Editing : public ::testing::Test {
 protected:
  void SetUp() override {
    FillPeople(ds, 5);
    ds.Open();
  }
  TMemDataSet ds;
};

struct EventCase {
  const char* name;
  std::function<void(TMemDataSet&)> act;
  QStringList events;
};

TEST_F(Editing, EventsComeInOrder) {
  auto set = [](TMemDataSet& d) { d.FieldByName("id")->SetAsInteger(77); };
  const EventCase cases[] = {
      {"open",
       [](TMemDataSet& d) { d.Close(), d.Open(); },
       {"BeforeClose", "AfterClose", "BeforeOpen", "AfterOpen", "AfterScroll"}},
      {"edit post",
       [&](TMemDataSet& d) { d.Edit(), set(d), d.Post(); },
       {"BeforeEdit", "AfterEdit", "BeforePost", "AfterPost"}},
      {"edit cancel",
       [](TMemDataSet& d) { d.Edit(), d.Cancel(); },
       {"BeforeEdit", "AfterEdit", "BeforeCancel", "AfterCancel"}},
      {"insert post",
       [&](TMemDataSet& d) { d.Insert(), set(d), d.Post(); },
       {"BeforeInsert", "BeforeScroll", "OnNewRecord", "AfterInsert", "AfterScroll", "BeforePost",
        "AfterPost"}},
      {"append cancel",
       [](TMemDataSet& d) { d.Append(), d.Cancel(); },
       {"BeforeInsert", "BeforeScroll", "OnNewRecord", "AfterInsert", "AfterScroll", "BeforeCancel",
        "AfterCancel"}},
      {"delete",
       [](TMemDataSet& d) { d.Delete(); },
       {"BeforeDelete", "BeforeScroll", "AfterDelete", "AfterScroll"}},
      {"next", [](TMemDataSet& d) { d.Next(); }, {"BeforeScroll", "AfterScroll"}},
      {"refresh", [](TMemDataSet& d) { d.Refresh(); }, {"BeforeRefresh", "AfterRefresh"}},
      {"modified edit posts on scroll",
       [&](TMemDataSet& d) { d.Edit(), set(d), d.Next(); },
       {"BeforeEdit", "AfterEdit", "BeforePost", "AfterPost", "BeforeScroll", "AfterScroll"}},
      {"untouched insert cancels on scroll",
       [](TMemDataSet& d) { d.Insert(), d.Next(); },
       {"BeforeInsert", "BeforeScroll", "OnNewRecord", "AfterInsert", "AfterScroll", "BeforeCancel",
        "AfterCancel", "BeforeScroll", "AfterScroll"}},
  };
  for (const EventCase& c : cases) {
    QStringList log;  // outlives the data set, which closes when destroyed
    TMemDataSet d;
    FillPeople(d, 3);
    d.Open();
    RecordEvents(d, log);
    c.act(d);
    EXPECT_EQ(log, c.events) << c.name;
  }
}

struct ChangeCase {
  const char* name;
  std::function<void(TMemDataSet&)> act;
  QList<int> stored;
  int activeId;
};

void SetId(TMemDataSet& d, int id) { d.FieldByName("id")->SetAsInteger(id); }

TEST_F(Editing, ChangesReachTheRowsAtTheRightPlace) {
  const ChangeCase cases[] = {
      {"insert before the third",
       [](TMemDataSet& d) { d.MoveBy(2), d.Insert(), SetId(d, 100), d.Post(); },
       {1, 2, 100, 3, 4, 5},
       100},
      {"append",
       [](TMemDataSet& d) { d.Append(), SetId(d, 100), d.Post(); },
       {1, 2, 3, 4, 5, 100},
       100},
      {"edit",
       [](TMemDataSet& d) { d.Next(), d.Edit(), SetId(d, 20), d.Post(); },
       {1, 20, 3, 4, 5},
       20},
      {"edit cancelled",
       [](TMemDataSet& d) { d.Next(), d.Edit(), SetId(d, 20), d.Cancel(); },
       {1, 2, 3, 4, 5},
       2},
      {"insert cancelled",
       [](TMemDataSet& d) { d.Next(), d.Insert(), SetId(d, 9), d.Cancel(); },
       {1, 2, 3, 4, 5},
       2},
      {"append cancelled",
       [](TMemDataSet& d) { d.Append(), SetId(d, 9), d.Cancel(); },
       {1, 2, 3, 4, 5},
       5},
      {"delete the third", [](TMemDataSet& d) { d.MoveBy(2), d.Delete(); }, {1, 2, 4, 5}, 4},
      {"delete the last", [](TMemDataSet& d) { d.Last(), d.Delete(); }, {1, 2, 3, 4}, 4},
      {"delete while inserting cancels",
       [](TMemDataSet& d) { d.Insert(), d.Delete(); },
       {1, 2, 3, 4, 5},
       1},
      {"append record",
       [](TMemDataSet& d) {
         d.AppendRecord({200, "rec"});
       },
       {1, 2, 3, 4, 5, 200},
       200},
      {"insert record", [](TMemDataSet& d) { d.InsertRecord({300}); }, {1, 2, 3, 4, 5, 300}, 300},
  };
  for (const ChangeCase& c : cases) {
    TMemDataSet d;
    FillPeople(d, 5);
    d.Open();
    c.act(d);
    QList<int> ids;
    for (int r = 0; r < d.StoredCount(); ++r) ids << d.Stored(r, 0).toInt();
    EXPECT_EQ(ids, c.stored) << c.name;
    EXPECT_EQ(d.FieldByName("id")->AsInteger(), c.activeId) << c.name;
    EXPECT_EQ(d.State(), dsBrowse) << c.name;
  }
}

TEST_F(Editing, InsertIntoAnEmptyDataSet) {
  TMemDataSet empty;
  empty.AddColumn("id", ftInteger);
  empty.Open();
  empty.Insert();
  empty.FieldByName("id")->SetAsInteger(1);
  empty.Post();
  EXPECT_EQ(empty.StoredCount(), 1);
  EXPECT_EQ(empty.FieldByName("id")->AsInteger(), 1);
  EXPECT_FALSE(empty.IsEmpty());
}

struct RefusalCase {
  const char* name;
  std::function<void(TMemDataSet&)> act;
  QString message;
};

TEST_F(Editing, RefusesWithClearTexts) {
  const RefusalCase cases[] = {
      {"write while browsing", [](TMemDataSet& d) { d.FieldByName("name")->SetAsString("x"); },
       "Dataset not in edit or insert mode"},
      {"post while browsing", [](TMemDataSet& d) { d.Post(); },
       "Dataset not in edit or insert mode"},
      {"unknown field", [](TMemDataSet& d) { d.FieldByName("nope"); }, "Field 'nope' not found"},
      {"read-only data set", [](TMemDataSet& d) { d.SetReadOnly(true), d.Edit(); },
       "Cannot modify a read-only dataset"},
      {"required field",
       [](TMemDataSet& d) { d.Append(), d.FieldByName("name")->SetAsString("x"), d.Post(); },
       "Field 'id' must have a value"},
      {"read-only field",
       [](TMemDataSet& d) {
         d.FieldByName("name")->SetReadOnly(true), d.Edit(), d.FieldByName("name")->Clear();
       },
       "Field 'name' cannot be modified"},
      {"field size while open", [](TMemDataSet& d) { d.FieldByName("name")->SetSize(3); },
       "Cannot perform this operation on an open dataset"},
      {"delete on empty",
       [](TMemDataSet& d) {
         d.Close(), d.OnFilterRecord = [](TDataSet*, bool& a) { a = false; }, d.SetFiltered(true),
                    d.Open(), d.Delete();
       },
       "Cannot perform this operation on an empty dataset"},
  };
  for (const RefusalCase& c : cases) {
    TMemDataSet d;
    d.setObjectName("people");
    FillPeople(d, 3);
    d.Open();
    try {
      c.act(d);
      ADD_FAILURE() << c.name << ": no error";
    } catch (const EDatabaseError& e) {
      EXPECT_EQ(e.Message(), c.message) << c.name;
      EXPECT_EQ(e.Context(), QStringList({"TMemDataSet people"})) << c.name;
    }
  }
}

TEST_F(Editing, PostErrorHandlerRetriesAbortsOrFails) {
  const TDataAction actions[] = {daRetry, daAbort, daFail};
  for (TDataAction chosen : actions) {
    TMemDataSet d;
    FillPeople(d, 2);
    d.Open();
    int failures = 1;
    d.failPost = [&] {
      if (failures-- > 0) throw EDatabaseError("disk full");
    };
    d.OnPostError = [&](TDataSet*, EDatabaseError& e, TDataAction& action) {
      EXPECT_EQ(e.Message(), "disk full");
      action = chosen;
    };
    d.Edit();
    SetId(d, 9);
    try {
      d.Post();
      EXPECT_EQ(chosen, daRetry);
      EXPECT_EQ(d.Stored(0, 0).toInt(), 9);
      EXPECT_EQ(d.State(), dsBrowse);
    } catch (const EAbort&) {
      EXPECT_EQ(chosen, daAbort);
      EXPECT_EQ(d.State(), dsEdit);
    } catch (const EDatabaseError& e) {
      EXPECT_EQ(chosen, daFail);
      EXPECT_EQ(e.Message(), "disk full");
      EXPECT_EQ(d.State(), dsEdit);
    }
  }
}

}  // namespace
