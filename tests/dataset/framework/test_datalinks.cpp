// Data sources and links: what a link hears, DisableControls, the data source's events.
#include "memdataset.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

class Links : public ::testing::Test {
 protected:
  void SetUp() override {
    FillPeople(ds, 5);
    source.SetDataSet(&ds);
    link.SetBufferCount(3);
    link.SetDataSource(&source);
  }
  TMemDataSet ds;
  TDataSource source;
  TRecordingLink link;
};

struct LinkCase {
  const char* name;
  std::function<void(TMemDataSet&)> act;
  QStringList heard;
};

TEST_F(Links, HearWhatAViewNeeds) {
  auto setName = [](TMemDataSet& d) { d.FieldByName("name")->SetAsString("x"); };
  const LinkCase cases[] = {
      {"next", [](TMemDataSet& d) { d.Next(); }, {"Browse", "Scrolled:1"}},
      {"last", [](TMemDataSet& d) { d.Last(); }, {"Browse", "Changed"}},
      {"edit", [](TMemDataSet& d) { d.Edit(); }, {"Browse", "Editing:1", "Record:-"}},
      {"edit field post",
       [&](TMemDataSet& d) { d.Edit(), d.FieldByName("name")->SetAsString("x"), d.Post(); },
       {"Browse", "Editing:1", "Record:-", "Record:name", "UpdateData", "Browse", "Editing:0",
        "Changed"}},
      {"append", [](TMemDataSet& d) { d.Append(); }, {"Browse", "Editing:1", "Changed"}},
      {"close", [](TMemDataSet& d) { d.Close(); }, {"Active:0"}},
      {"layout", [](TMemDataSet& d) { d.FieldByName("id")->SetDisplayFormat("0"); }, {"Layout"}},
      {"focus", [](TMemDataSet& d) { d.FieldByName("id")->FocusControl(); }, {"Focus:id"}},
      {"batched",
       [&](TMemDataSet& d) {
         d.DisableControls();
         d.DisableControls();
         d.Next(), d.Last(), d.Edit(), setName(d), d.Post();
         d.EnableControls();  // still held
         d.EnableControls();
       },
       {"Changed"}},
      {"batched reopen",
       [](TMemDataSet& d) {
         d.DisableControls();
         d.Close(), d.Open();
         d.EnableControls();
       },
       {"Changed"}},
  };
  for (const LinkCase& c : cases) {
    ds.Close();
    ds.Open();
    link.log.clear();
    c.act(ds);
    EXPECT_EQ(link.log, c.heard) << c.name;
  }
}

TEST_F(Links, OpeningActivatesAndAWiderLinkWidensTheWindow) {
  link.SetBufferCount(4);
  ds.Open();
  EXPECT_EQ(link.log, QStringList({"Active:1"}));
  EXPECT_TRUE(link.Active());
  EXPECT_EQ(link.RecordCount(), 4);
  link.SetBufferCount(2);
  ds.Last();
  EXPECT_EQ(link.RecordCount(), 2);
  EXPECT_EQ(link.ActiveRecord(), 1);
  link.SetBufferCount(4);  // at the end the window widens backwards
  EXPECT_EQ(link.RecordCount(), 4);
  EXPECT_EQ(link.ActiveRecord(), 3);
  source.SetEnabled(false);
  EXPECT_FALSE(link.Active());
  EXPECT_EQ(source.State(), dsInactive);
}

TEST_F(Links, DataSourceReportsStateDataAndUpdates) {
  QStringList log;
  source.OnStateChange = [&](QObject*) { log << QStringLiteral("state:%1").arg(source.State()); };
  source.OnDataChange = [&](QObject*, TField* f) { log << "data:" + (f ? f->FieldName() : "-"); };
  source.OnUpdateData = [&](QObject*) { log << "update"; };
  ds.Open();
  source.Edit();  // AutoEdit
  ds.FieldByName("id")->SetAsInteger(3);
  ds.Post();
  EXPECT_EQ(
      log, QStringList({"state:1", "state:2", "data:-", "data:id", "update", "state:1", "data:-"}));
  source.SetAutoEdit(false);
  source.Edit();
  EXPECT_EQ(ds.State(), dsBrowse);
}

class DetailLink : public TDetailDataLink {
 public:
  explicit DetailLink(TDataSet* detail) : detail_(detail) {}
  TDataSet* DetailDataSet() const override { return detail_; }

 private:
  TDataSet* detail_;
};

TEST_F(Links, ADetailCannotLinkToItself) {
  DetailLink detail(&ds);
  try {
    detail.SetDataSource(&source);
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Circular datalinks are not allowed");
  }
  EXPECT_EQ(detail.DataSource(), nullptr);
  EXPECT_TRUE(ds.IsLinkedTo(&source));
  TMemDataSet other;
  EXPECT_FALSE(other.IsLinkedTo(&source));
}

TEST_F(Links, DestroyingEitherSideDetaches) {
  ds.Open();
  {
    TDataSource temporary;
    temporary.SetDataSet(&ds);
    TRecordingLink inner;
    inner.SetDataSource(&temporary);
    EXPECT_TRUE(inner.Active());
  }
  ds.Next();  // the data set no longer knows the destroyed source
  auto* own = new TMemDataSet;
  FillPeople(*own, 1);
  source.SetDataSet(own);
  own->Open();
  EXPECT_TRUE(link.Active());
  delete own;
  EXPECT_EQ(source.DataSet(), nullptr);
}

}  // namespace
