// The message router, fed through the call surface's message entry exactly as FreeTDS feeds it.
#include "connection/component.h"
#include "connection/messagerouter.h"
#include "connection/norvdatabase.h"
#include "connection/norvexception.h"
#include "connection/norvtypes.h"
#include "connection/openclient.h"
#include "recording_presenter.h"

#include <gtest/gtest.h>
#include <QObject>
#include <QStringList>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

// A recognised owner whose errors carry the "Line" line. No such component is built; the router
// still knows the name.
class TNorvDsQuery : public QObject, public TDbMessageReporter {
  Q_OBJECT
};

// Derived from a recognised class: another name, so the router treats it as unknown.
class TNorvDatabaseDerived : public TNorvDatabase {
  Q_OBJECT
};

namespace {

using norv::RecordingPresenter;
using Kind = RecordingPresenter::Kind;

CS_SERVERMSG ServerMsg(CS_INT number, CS_INT severity, const std::string& text, CS_INT line = 1,
                       const std::string& server = "SAMPLE") {
  CS_SERVERMSG msg{};
  msg.msgnumber = number;
  msg.severity = severity;
  msg.line = line;
  const size_t len = std::min(text.size(), sizeof(msg.text) - 1);
  std::memcpy(msg.text, text.data(), len);
  msg.textlen = static_cast<CS_INT>(len);
  std::memcpy(msg.svrname, server.data(), server.size());
  msg.svrnlen = static_cast<CS_INT>(server.size());
  return msg;
}

class RouterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(oc::cs_ctx_alloc(CS_VERSION_100, ctx_), CS_SUCCEED);
    ASSERT_EQ(oc::ct_init(ctx_.get(), CS_VERSION_100), CS_SUCCEED);
    ASSERT_EQ(oc::ct_con_alloc(ctx_.get(), con_), CS_SUCCEED);
    ASSERT_EQ(oc::ct_diag(con_.get(), CS_INIT, CS_UNUSED, CS_UNUSED, nullptr), CS_SUCCEED);
  }

  void Feed(const CS_SERVERMSG& msg) {
    EXPECT_EQ(oc::detail::deliver_server_message(ctx_.get(), con_.get(), msg), CS_SUCCEED);
  }
  void FeedClient(CS_INT number) {
    CS_CLIENTMSG msg{};
    msg.msgnumber = number;
    msg.severity = 5;
    EXPECT_EQ(oc::detail::deliver_client_message(ctx_.get(), con_.get(), msg), CS_SUCCEED);
  }
  CS_INT Queued(CS_INT type) {
    CS_INT count = -1;
    oc::IgnoreStatus(oc::ct_diag(con_.get(), CS_STATUS, type, CS_UNUSED, &count),
                     "a failed count stays -1, which every check catches");
    return count;
  }

  // Runs the router and tells which exception, if any, it raised.
  std::string Route(QObject* owner, bool raise, bool enhErr, bool enhMsg, bool showMsg,
                    bool showErr) {
    try {
      HandleDbMessages(con_.get(), owner, raise, enhErr, enhMsg, showMsg, showErr);
    } catch (const EAbort&) {
      return "EAbort";
    } catch (const EDatabaseError& e) {
      return "EDatabaseError:" + e.Message().toStdString();
    }
    return "return";
  }

  // Records each event with how many showings preceded it, so order can be checked, and the
  // text a handler reads at that moment.
  void Watch(TDbMessageReporter& reporter) {
    auto log = [this, &reporter](const char* name) {
      return [this, name, &reporter](QObject* sender) {
        events_.push_back(std::string(name) + "@" + std::to_string(recorder_->Taken().size()));
        senders_.push_back(sender);
        texts_.push_back(std::string(name).find("Error") != std::string::npos
                             ? reporter.DbErrorText()
                             : reporter.DbMessageText());
      };
    };
    reporter.OnDbError = log("OnDbError");
    reporter.AfterDbError = log("AfterDbError");
    reporter.OnDbMessage = log("OnDbMessage");
    reporter.AfterDbMessage = log("AfterDbMessage");
  }

  oc::ContextHandle ctx_;
  oc::ConnectionHandle con_;
  norv::ScopedRecordingPresenter recorder_;
  std::vector<std::string> events_;
  std::vector<QObject*> senders_;
  QStringList texts_;
};

TEST_F(RouterTest, ChangedDatabaseOnlyProducesNothingButClearsTheQueues) {
  TNorvDsQuery owner;
  Watch(owner);
  Feed(ServerMsg(5701, 10, "Changed database context to 'pubs2'."));
  Feed(ServerMsg(5701, 10, "Changed database context to 'master'."));
  FeedClient(44);
  EXPECT_EQ(Route(&owner, true, true, true, true, true), "return");
  EXPECT_TRUE(events_.empty());
  EXPECT_TRUE(recorder_->Taken().empty());
  EXPECT_TRUE(owner.DbMessageText().isEmpty());
  EXPECT_EQ(Queued(CS_SERVERMSG_TYPE), 0);
  EXPECT_EQ(Queued(CS_CLIENTMSG_TYPE), 0);
}

TEST_F(RouterTest, InformationalTextsOfOneStepAreJoinedUnderOneHeader) {
  TNorvDsQuery owner;
  Watch(owner);
  Feed(ServerMsg(0, 10, "first "));
  Feed(ServerMsg(5701, 10, "Changed database context to 'pubs2'."));
  Feed(ServerMsg(0, 10, "second"));
  EXPECT_EQ(Route(&owner, true, false, false, true, true), "return");
  EXPECT_EQ(owner.DbMessageText(), "Server   : SAMPLE\r\nfirst second");
  EXPECT_EQ(events_, (std::vector<std::string>{"OnDbMessage@0", "AfterDbMessage@1"}));
  ASSERT_EQ(senders_.size(), 2u);
  EXPECT_EQ(senders_[0], &owner);
  EXPECT_EQ(texts_, QStringList({owner.DbMessageText(), owner.DbMessageText()}));
  const auto shown = recorder_->Taken();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, Kind::MessageBox);
  EXPECT_EQ(shown[0].caption, "CT-Library message");
  EXPECT_EQ(shown[0].icon, norv::MsgIcon::Information);
  EXPECT_EQ(shown[0].text, owner.DbMessageText());
}

TEST_F(RouterTest, InformationalTextGoesToTheMessageWindowOrNowhereAsSwitched) {
  TNorvDsQuery owner;
  Watch(owner);
  Feed(ServerMsg(0, 10, "hello"));
  Route(&owner, true, false, /*enhMsg=*/true, /*showMsg=*/true, true);
  auto shown = recorder_->Taken();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, Kind::MessageWindow);
  EXPECT_EQ(shown[0].caption, "CT-Library message");
  EXPECT_EQ(shown[0].bottom, norv::PanelColour::ButtonFace);

  recorder_->Clear();
  events_.clear();
  Feed(ServerMsg(0, 10, "quiet"));
  Route(&owner, true, false, true, /*showMsg=*/false, true);
  EXPECT_TRUE(recorder_->Taken().empty());
  // Not shown, but still stored and both events fire.
  EXPECT_EQ(events_, (std::vector<std::string>{"OnDbMessage@0", "AfterDbMessage@0"}));
  EXPECT_TRUE(owner.DbMessageText().endsWith("quiet"));
}

TEST_F(RouterTest, QualifyingRulesForInformationalMessages) {
  TNorvDsQuery owner;
  Feed(ServerMsg(999, 2, "low number, low severity"));  // skipped
  Feed(ServerMsg(2401, 16, "skipped by number"));
  Feed(ServerMsg(2409, 16, "skipped by number"));
  Feed(ServerMsg(12, 5, "   "));  // severity fine, nothing visible
  Feed(ServerMsg(1000, 0, "A"));  // number qualifies on its own
  Feed(ServerMsg(50, 4, "B"));    // severity above 3 with text
  Route(&owner, true, false, false, false, true);
  EXPECT_EQ(owner.DbMessageText(), "Server   : SAMPLE\r\nAB");
}

TEST_F(RouterTest, AnErrorEndsTheStepBeforeAnyInformationalTextIsReported) {
  TNorvDsQuery owner;
  Watch(owner);
  Feed(ServerMsg(0, 10, "informational"));
  Feed(ServerMsg(208, 16,
                 "#t not found. Specify owner.objectname or use sp_help to check whether "
                 "the object exists (sp_help may produce lots of output).",
                 3));
  Feed(ServerMsg(0, 10, "never looked at"));
  EXPECT_EQ(Route(&owner, false, false, false, true, true), "return");
  EXPECT_EQ(events_, (std::vector<std::string>{"OnDbError@0", "AfterDbError@1"}));
  EXPECT_TRUE(owner.DbMessageText().isEmpty());
  EXPECT_EQ(owner.DbErrorText(),
            "Server   : SAMPLE\r\nMessage  : 208\r\nSeverity : 16\r\nLine     : 3\r\n\r\n"
            "#t not found. Specify owner.objectname or use sp_help to check whether the object "
            "exists (sp_help may produce lots of output).");
  // The handlers read the error they are called for.
  EXPECT_EQ(texts_, QStringList({owner.DbErrorText(), owner.DbErrorText()}));
  EXPECT_EQ(owner.DbServerMsg().msgnumber, 208);
  EXPECT_EQ(owner.DbServerMsg().line, 3);
  EXPECT_EQ(Queued(CS_SERVERMSG_TYPE), 0);
  const auto shown = recorder_->Taken();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].caption, "CT-Library error");
  EXPECT_EQ(shown[0].icon, norv::MsgIcon::Error);
}

TEST_F(RouterTest, ARaisedErrorCarriesItsRecordAndTheLaterErrorsOfTheStep) {
  TNorvDsQuery owner;
  Feed(ServerMsg(0, 10, "before"));
  CS_SERVERMSG dup = ServerMsg(2601, 14, "Attempt to insert duplicate key row", 4);
  dup.state = 2;
  std::memcpy(dup.proc, "p_add", 5);
  dup.proclen = 5;
  Feed(dup);
  Feed(ServerMsg(0, 10, "after"));
  Feed(ServerMsg(1205, 13, "deadlock", 9));
  try {
    HandleDbMessages(con_.get(), &owner, true, false, false, true, true);
    FAIL() << "no exception";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), owner.DbErrorText());
    EXPECT_EQ(e.Number(), 2601);
    ASSERT_EQ(e.Records().size(), 2u);
    EXPECT_EQ(e.Records()[0], (TServerMessageRecord{2601, 14, 2, 4, "SAMPLE", "p_add",
                                                    "Attempt to insert duplicate key row"}));
    EXPECT_EQ(e.Records()[1].Number, 1205);
    EXPECT_TRUE(e.HasNumber(ServerMessage::kDeadlock));
    EXPECT_TRUE(e.Context().isEmpty());
  }
}

TEST_F(RouterTest, LineLineIsLeftOutFor4002AndForOwnersWithoutLines) {
  TNorvDsQuery query;
  Feed(ServerMsg(4002, 14, "Login failed.", 7));
  Route(&query, false, false, false, false, false);
  EXPECT_FALSE(query.DbErrorText().contains("Line"));

  TNorvDatabase database;
  Feed(ServerMsg(156, 15, "Incorrect syntax near the keyword 'from'.", 7));
  Route(&database, false, false, false, false, false);
  EXPECT_EQ(database.DbErrorText(),
            "Server   : SAMPLE\r\nMessage  : 156\r\nSeverity : 15\r\n\r\n"
            "Incorrect syntax near the keyword 'from'.");
}

// Every combination of the three switches that decide how an error ends.
struct ErrorCase {
  bool raise, enhErr, showErr;
  std::string outcome;              // what the router raised, or "return"
  std::vector<Kind> shown;          // what was shown, in order
  std::vector<std::string> events;  // with the number of showings that preceded each
};

class RouterErrorSwitches : public RouterTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(RouterErrorSwitches, ShowRaiseAndEventOrder) {
  const ErrorCase& c = GetParam();
  TNorvDsQuery owner;
  Watch(owner);
  Feed(ServerMsg(102, 15, "Incorrect syntax near 'x'.", 2));
  const std::string outcome = Route(&owner, c.raise, c.enhErr, false, true, c.showErr);
  if (c.outcome == "EDatabaseError") {
    EXPECT_EQ(outcome, "EDatabaseError:" + owner.DbErrorText().toStdString());
  } else {
    EXPECT_EQ(outcome, c.outcome);
  }
  std::vector<Kind> kinds;
  for (const auto& s : recorder_->Taken()) kinds.push_back(s.kind);
  EXPECT_EQ(kinds, c.shown);
  EXPECT_EQ(events_, c.events);
  for (const auto& s : recorder_->Taken()) {
    if (s.kind == Kind::MessageWindow) {
      EXPECT_EQ(s.caption, "CT-Library error");
      EXPECT_EQ(s.bottom, norv::PanelColour::Error);
      EXPECT_EQ(s.text, owner.DbErrorText());
    }
  }
  EXPECT_EQ(Queued(CS_SERVERMSG_TYPE), 0);
}

const std::vector<std::string> kQuietEvents = {"OnDbError@0", "AfterDbError@0"};
const std::vector<std::string> kWindowEvents = {"OnDbError@0", "AfterDbError@2"};
const std::vector<std::string> kBoxEvents = {"OnDbError@0", "AfterDbError@1"};

INSTANTIATE_TEST_SUITE_P(
    AllCombinations, RouterErrorSwitches,
    ::testing::Values(
        ErrorCase{true, true, true, "EAbort", {Kind::Beep, Kind::MessageWindow}, kWindowEvents},
        ErrorCase{true, true, false, "EAbort", {}, kQuietEvents},
        ErrorCase{true, false, true, "EDatabaseError", {}, kQuietEvents},
        ErrorCase{true, false, false, "EAbort", {}, kQuietEvents},
        ErrorCase{false, true, true, "return", {Kind::Beep, Kind::MessageWindow}, kWindowEvents},
        ErrorCase{false, true, false, "return", {}, kQuietEvents},
        ErrorCase{false, false, true, "return", {Kind::MessageBox}, kBoxEvents},
        ErrorCase{false, false, false, "return", {}, kQuietEvents}),
    [](const ::testing::TestParamInfo<ErrorCase>& info) {
      const ErrorCase& c = info.param;
      return std::string(c.raise ? "Raise" : "Return") + (c.enhErr ? "Window" : "Box") +
             (c.showErr ? "Shown" : "Hidden");
    });

TEST_F(RouterTest, UnrecognisedOwnersGetTextsShownButNothingStoredOrFired) {
  TNorvDatabaseDerived derived;
  Watch(derived);
  Feed(ServerMsg(0, 10, "note"));
  Route(&derived, false, false, false, true, true);
  Feed(ServerMsg(911, 16,
                 "Attempt to locate entry in sysdatabases for database 'nope' by name "
                 "failed.",
                 4));
  Route(&derived, false, false, false, true, true);
  EXPECT_TRUE(events_.empty());
  EXPECT_TRUE(derived.DbMessageText().isEmpty());
  EXPECT_TRUE(derived.DbErrorText().isEmpty());
  const auto shown = recorder_->Taken();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].caption, "CT-Library message");
  // Unknown owners get the "Line" line, unlike the connection they derive from.
  EXPECT_TRUE(shown[1].text.contains("Line     : 4\r\n"));

  // A plain object and no object at all behave alike.
  QObject plain;
  Feed(ServerMsg(0, 10, "x"));
  Route(&plain, true, false, false, true, true);
  Feed(ServerMsg(0, 10, "y"));
  Route(nullptr, true, false, false, true, true);
  EXPECT_EQ(recorder_->Taken().size(), 4u);
}

TEST_F(RouterTest, LongTextsAreCutAndServerTextsKeepTheirBytes) {
  TNorvDsQuery owner;
  const std::string longText(2000, 'x');  // the record itself holds less; the router caps at 1024
  Feed(ServerMsg(0, 10, longText));
  Feed(ServerMsg(0, 10, "\xC3\xA9t\xC3\xA9"));  // UTF-8, the client character set
  Route(&owner, true, false, false, false, false);
  const QString header = "Server   : SAMPLE\r\n";
  const QString text = owner.DbMessageText().mid(header.size());
  EXPECT_LE(text.size(), 1024 + 3);
  EXPECT_TRUE(text.endsWith(QString::fromUtf8("\xC3\xA9t\xC3\xA9")));
}

TEST_F(RouterTest, ConnectionWithoutInlineCollectionReportsNothing) {
  oc::ConnectionHandle plain;
  ASSERT_EQ(oc::ct_con_alloc(ctx_.get(), plain), CS_SUCCEED);
  TNorvDsQuery owner;
  Watch(owner);
  HandleDbMessages(plain.get(), &owner, true, false, false, true, true);
  HandleDbMessages(nullptr, &owner, true, false, false, true, true);
  EXPECT_TRUE(events_.empty());
  EXPECT_TRUE(recorder_->Taken().empty());
}

// Which kinds the router and the query treat how: the owner tables, in one place.
TEST(ComponentKind, RulesFollowTheOwnerTables) {
  using K = TComponentKind;
  struct Row {
    K kind;
    bool stores, line, texts, serverMsg;
  };
  const Row rows[] = {
      {K::Unknown, false, true, false, false},  {K::Table, true, false, false, false},
      {K::DsQuery, true, true, false, false},   {K::StoredProc, true, true, false, false},
      {K::Query, true, true, false, false},     {K::Database, true, false, true, true},
      {K::Bulk, true, false, false, false},     {K::Grid, false, true, true, true},
      {K::ListBox, false, true, true, true},    {K::ComboBox, false, true, true, true},
      {K::ChkListBox, false, true, true, true}, {K::ObjInfo, false, true, true, true},
      {K::Functions, false, true, true, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(static_cast<int>(r.kind));
    EXPECT_EQ(RouterStoresMessages(r.kind), r.stores);
    EXPECT_EQ(RouterShowsLine(r.kind), r.line);
    EXPECT_EQ(OwnerTakesQueryTexts(r.kind), r.texts);
    EXPECT_EQ(OwnerTakesQueryServerMsg(r.kind), r.serverMsg);
  }
  TNorvDatabase db;
  TNorvDatabaseDerived derived;
  TNorvDsQuery dsQuery;
  EXPECT_EQ(ComponentKind(&db), K::Database);
  EXPECT_EQ(ComponentKind(&dsQuery), K::DsQuery);
  EXPECT_EQ(ComponentKind(&derived), K::Unknown);
  EXPECT_EQ(ComponentKind(nullptr), K::Unknown);
}

}  // namespace

#include "test_router.moc"
