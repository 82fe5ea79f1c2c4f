// Master and detail data sets over pubs2's publishers and titles, and the blob stream of a data
// set that keeps its blobs beside its records.
#include "dataset/framework/datasource.h"
#include "dataset/norvblob.h"
#include "dataset/norvdatalink.h"
#include "dataset/norvsqldataset.h"

#include "connection/norvdatabase.h"

#include "dataset_fixture.h"
#include "recording_presenter.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

namespace {

const char* const kMasterSql = "select pub_id, pub_name from pubs2..publishers order by pub_id";

// A detail attached through its master link, as a descendant would publish it.
class TLinkedDataSet : public TNorvSqlDataSet {
 public:
  TDataSource* MasterSource() { return MasterLink().DataSource(); }
  void SetMasterSource(TDataSource* source) { MasterLink().SetDataSource(source); }
};

class NorvMasterDetailTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = norvtest::ConnectSample(QStringLiteral("db"));
    Setup(master_, "Publishers", kMasterSql);
    source_.SetDataSet(&master_);
  }

  static void Setup(TNorvSqlDataSet& ds, const char* name, const char* sql) {
    ds.SetName(QString::fromLatin1(name));
    ds.SetDbName(QStringLiteral("db"));
    ds.SetSql(QString::fromLatin1(sql));
  }

  // The values of `column` in every row, leaving the data set on its first record.
  static QStringList Column(TDataSet& ds, const char* column) {
    QStringList values;
    for (ds.First(); !ds.Eof(); ds.Next()) values << ds.FieldByName(column)->AsString();
    ds.First();
    return values;
  }

  // The message `step` raises; empty when it raises nothing.
  static QString ErrorOf(const std::function<void()>& step) {
    try {
      step();
    } catch (const Exception& e) {
      return e.Message();
    }
    return QString();
  }

  norv::ScopedRecordingPresenter shown_;
  std::unique_ptr<TNorvDatabase> db_;
  TNorvSqlDataSet master_;
  TDataSource source_;
};

TEST_F(NorvMasterDetailTest, ScrollingTheMasterReopensTheDetailWithItsKey) {
  // The titles of each publisher in pub_id order; "skip" has no master field and keeps its value.
  const std::vector<std::pair<QString, QStringList>> expected = {
      {"1001", {"BU2101", "BU3340", "HI6133", "PC3118"}},
      {"1002", {"CK1150", "CK1288", "PC3372", "TR5002"}},
      {"1003", {"BU4478", "CK2533", "PS4010", "PS4126", "TR5260"}},
      {"1004", {"BU2215", "PC3001", "PC3240", "PS4399"}},
      {"9901", {"CK2309", "CK2417", "HI6011"}},
      {"9902", {"PS4251", "TR5147"}},
  };
  const char* const detailSql =
      "select title_id from pubs2..titles where pub_id = :pub_id and type <> :skip "
      "order by title_id";
  const std::vector<std::pair<const char*, std::function<void(TLinkedDataSet&)>>> attachments = {
      {"DataSource", [this](TLinkedDataSet& d) { d.SetDataSource(&source_); }},
      {"MasterLink", [this](TLinkedDataSet& d) { d.SetMasterSource(&source_); }},
  };
  for (const auto& [how, attach] : attachments) {
    SCOPED_TRACE(how);
    TLinkedDataSet detail;
    Setup(detail, "Titles", detailSql);
    detail.ParamByName(QStringLiteral("skip")).SetAsString(QStringLiteral("UNDECIDED"));
    attach(detail);
    master_.Open();
    detail.Open();
    for (const auto& [pubId, titles] : expected) {
      ASSERT_EQ(master_.FieldByName("pub_id")->AsString(), pubId);
      EXPECT_EQ(Column(detail, "title_id"), titles) << pubId.toStdString();
      master_.Next();
    }
    master_.Prior();  // from the last record (the final Next stayed there) back to 1004
    master_.Prior();
    EXPECT_EQ(Column(detail, "title_id"), expected[3].second);
    master_.Close();
  }
}

TEST_F(NorvMasterDetailTest, DetailWithoutParametersIsNotReopened) {
  TNorvSqlDataSet detail;
  Setup(detail, "Titles", "select title_id from pubs2..titles order by title_id");
  detail.SetDataSource(&source_);
  int opens = 0;
  detail.AfterOpen = [&](TDataSet*) { ++opens; };
  master_.Open();
  detail.Open();
  detail.Next();
  master_.Next();
  master_.Last();
  EXPECT_EQ(opens, 1);
  EXPECT_EQ(detail.FieldByName("title_id")->AsString(), QStringLiteral("BU2215"));
}

TEST_F(NorvMasterDetailTest, ClosingTheMasterClosesTheDetail) {
  TNorvSqlDataSet detail;
  Setup(detail, "Titles", "select title_id from pubs2..titles");
  detail.SetDataSource(&source_);
  master_.Open();
  detail.Open();
  master_.Close();
  EXPECT_FALSE(detail.Active());
}

TEST_F(NorvMasterDetailTest, EditingAMasterFieldDoesNotRefreshTheDetail) {
  TNorvSqlDataSet detail;
  Setup(detail, "Titles", "select title_id from pubs2..titles where pub_id = :pub_id");
  detail.SetDataSource(&source_);
  int opens = 0;
  detail.AfterOpen = [&](TDataSet*) { ++opens; };
  master_.Open();
  detail.Open();
  master_.Edit();
  const int before = opens;
  master_.FieldByName("pub_name")->SetAsString(QStringLiteral("Renamed"));
  master_.FieldByName("pub_id")->SetAsString(QStringLiteral("1002"));
  EXPECT_EQ(opens, before);
  EXPECT_EQ(Column(detail, "title_id").size(), 4);  // still 1001's titles
}

TEST_F(NorvMasterDetailTest, CircularLinkIsRefusedAndDataSourceKept) {
  TLinkedDataSet detail;
  Setup(detail, "Titles", "select title_id from pubs2..titles");
  TDataSource detailSource;
  detailSource.SetDataSet(&detail);
  detail.SetDataSource(&source_);
  struct Case {
    const char* what;
    std::function<void()> link;
    std::function<TDataSource*()> linked;
    TDataSource* kept;
  };
  const std::vector<Case> cases = {
      {"own source", [&] { detail.SetDataSource(&detailSource); },
       [&] { return detail.DataSource(); }, &source_},
      {"through the detail", [&] { master_.SetDataSource(&detailSource); },
       [&] { return master_.DataSource(); }, nullptr},
      {"master link", [&] { detail.SetMasterSource(&detailSource); },
       [&] { return detail.MasterSource(); }, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ErrorOf(c.link), QStringLiteral("Circular datalinks are not allowed"));
    EXPECT_EQ(c.linked(), c.kept);
  }
}

TEST_F(NorvMasterDetailTest, ErrorWhileTheDetailReopensReachesTheMover) {
  TNorvSqlDataSet detail;
  Setup(detail, "Titles", "select title_id from pubs2..titles where pub_id = :pub_id");
  detail.SetDataSource(&source_);
  master_.Open();
  detail.Open();
  detail.BeforeOpen = [](TDataSet* ds) { ds->DatabaseError(QStringLiteral("no titles now")); };
  EXPECT_EQ(ErrorOf([&] { master_.Next(); }), QStringLiteral("no titles now"));
  EXPECT_FALSE(detail.ControlsDisabled());
  EXPECT_FALSE(detail.Active());
}

// ---- Blob streams ------------------------------------------------------------------------------

// Keeps one blob for every record, which is enough to follow a stream's reads and writes.
class TBlobDataSet : public TNorvSqlDataSet {
 public:
  std::unique_ptr<TNorvBlob> blob;
  bool noSlot = false;
  std::unique_ptr<QIODevice> Stream(TField* field, TBlobStreamMode mode) {
    return OpenBlobStream(field, mode);
  }

 protected:
  std::unique_ptr<TNorvBlob>* BlobSlot(TField* /*field*/, TRecordBuffer /*buffer*/) override {
    return noSlot ? nullptr : &blob;
  }
};

class NorvBlobStreamTest : public NorvMasterDetailTest {
 protected:
  void SetUp() override {
    NorvMasterDetailTest::SetUp();
    Setup(ds_, "Blobs", "select pub_id from pubs2..publishers");
    logo_ = new TBlobField(&ds_);
    logo_->SetFieldName(QStringLiteral("logo"));
    logo_->SetCalculated(true);
    logo_->SetDataSet(&ds_);
    logo_->OnChange = [this](TField*) { ++changes_; };
    ds_.blob = std::make_unique<TNorvBlob>(QByteArray("abc"));
    ds_.Open();
  }

  TBlobDataSet ds_;
  TField* logo_ = nullptr;
  int changes_ = 0;
};

TEST_F(NorvBlobStreamTest, StreamsReadAndStoreTheBlob) {
  struct Case {
    const char* what;
    TBlobStreamMode mode;
    std::function<void(QIODevice&)> use;
    const char* read;    // what the stream gave
    const char* stored;  // the blob afterwards
  };
  const std::vector<Case> cases = {
      {"read", bmRead, [](QIODevice& s) { s.write("x"); }, "abc", "abc"},
      {"write, nothing written", bmWrite, [](QIODevice&) {}, "", ""},
      {"write", bmWrite, [](QIODevice& s) { s.write("xy"); }, "", "xy"},
      {"read-write", bmReadWrite, [](QIODevice& s) { s.seek(3), s.write("de"); }, "abc", "abcde"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ds_.blob = std::make_unique<TNorvBlob>(QByteArray("abc"));
    changes_ = 0;
    if (c.mode != bmRead) ds_.Edit();
    QByteArray read;
    {
      auto stream = ds_.Stream(logo_, c.mode);
      read = stream->readAll();
      c.use(*stream);
    }
    EXPECT_EQ(read, QByteArray(c.read));
    ASSERT_TRUE(ds_.blob);
    EXPECT_EQ(ds_.blob->Bytes(), QByteArray(c.stored));
    EXPECT_EQ(changes_, c.mode == bmRead ? 0 : 1);
    if (c.mode != bmRead) ds_.Cancel();
  }
}

TEST_F(NorvBlobStreamTest, WritingIsRefusedWhereItCouldNotBeKept) {
  struct Case {
    const char* what;
    bool edit, readOnly, noSlot;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"read-only field", true, true, false, "Field logo is readonly."},
      {"browsing", false, false, false, "Dataset is not in edit mode."},
      {"no slot", true, false, true, "Field 'logo' cannot be modified"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    logo_->SetReadOnly(c.readOnly);
    ds_.noSlot = c.noSlot;
    if (c.edit) ds_.Edit();
    for (TBlobStreamMode mode : {bmWrite, bmReadWrite})
      EXPECT_EQ(ErrorOf([&] { ds_.Stream(logo_, mode); }), QString::fromLatin1(c.message));
    EXPECT_EQ(ds_.blob->Bytes(), QByteArray("abc"));
    if (c.edit) ds_.Cancel();
  }
}

}  // namespace
