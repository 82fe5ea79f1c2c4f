#include "connection/norvcontext.h"
#include "connection/norvexception.h"
#include "recording_presenter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

using Kind = norv::RecordingPresenter::Kind;

QString Raised(const std::function<void()>& action) {
  try {
    action();
  } catch (const ENorvException& e) {
    return e.Message();
  }
  return {};
}

TEST(NorvContext, NamingFollowsTheRegistry) {
  ASSERT_TRUE(TNorvContext::Registry().empty());
  auto first = std::make_unique<TNorvContext>();
  EXPECT_EQ(first->ContextName(), "default");
  first->SetName("ctx1");
  EXPECT_EQ(first->ContextName(), "default");
  auto second = std::make_unique<TNorvContext>();
  second->SetName("ctx2");
  EXPECT_EQ(second->ContextName(), "context2");
  // Renaming while two exist renames by count, even the first.
  first->SetName("ctx1b");
  EXPECT_EQ(first->ContextName(), "context2");
  TNorvContext third;
  third.SetName("ctx3");
  EXPECT_EQ(third.ContextName(), "context3");
  EXPECT_EQ(TNorvContext::Registry().size(), 3u);
  second.reset();
  EXPECT_EQ(TNorvContext::Registry().size(), 2u);
  first.reset();
  third.SetName("again");
  EXPECT_EQ(third.ContextName(), "default");
}

TEST(NorvContext, FindContextIsExactAndCutsTheName) {
  TNorvContext context;
  context.SetName("main");
  EXPECT_EQ(FindContext("default"), &context);
  EXPECT_EQ(FindContext("Default"), nullptr);
  EXPECT_EQ(FindContextHandle("default"), context.Handle());
  EXPECT_EQ(FindContextHandle("nothing"), nullptr);
  context.SetContextName(QString(30, u'c') + "tail");
  EXPECT_EQ(context.ContextName(), QString(30, u'c'));
  EXPECT_EQ(FindContext(QString(30, u'c') + "other tail"), &context);
}

TEST(NorvContext, NumericPropertiesRejectValuesBelowOne) {
  TNorvContext context;
  EXPECT_EQ(context.TimeOut(), 60);
  EXPECT_EQ(context.MaxConnect(), 25);
  EXPECT_EQ(Raised([&] { context.SetTimeOut(0); }), "Invalid TimeOut value");
  EXPECT_EQ(context.TimeOut(), 60);
  EXPECT_EQ(Raised([&] { context.SetMaxConnect(-1); }), "Invalid MaxConnect value");
  EXPECT_EQ(context.MaxConnect(), 25);
  context.SetTimeOut(5);
  context.SetMaxConnect(3);
  EXPECT_EQ(context.TimeOut(), 5);
  EXPECT_EQ(context.MaxConnect(), 3);
}

TEST(NorvContext, IniFileIgnoresBlankValues) {
  TNorvContext context;
  EXPECT_TRUE(context.IniFile().endsWith("/INI/SQL.INI"));
  const QString before = context.IniFile();
  context.SetIniFile("   ");
  EXPECT_EQ(context.IniFile(), before);
  context.SetIniFile("/opt/sybase/INI/SQL.INI");
  EXPECT_EQ(context.IniFile(), "/opt/sybase/INI/SQL.INI");
}

TEST(NorvContext, LocaleNamesAreReadFromTheLibraryAndValidated) {
  TNorvContext context;
  EXPECT_FALSE(context.CharSet().isEmpty());
  EXPECT_FALSE(context.Language().isEmpty());
  EXPECT_FALSE(context.NorvVersion().isEmpty());

  context.SetCharSet("iso_1");
  EXPECT_EQ(context.CharSet(), "iso_1");
  EXPECT_EQ(Raised([&] { context.SetCharSet("no_such_charset"); }),
            "cs_locale Failed. Invalid CS_SYB_CHARSET");
  EXPECT_EQ(context.CharSet(), "iso_1");

  context.SetLanguage("french");
  EXPECT_EQ(context.Language(), "french");
  EXPECT_EQ(Raised([&] { context.SetLanguage("klingon"); }),
            "cs_locale Failed. Invalid CS_SYB_LANG");
  EXPECT_EQ(context.Language(), "french");

  context.SetSortOrder("nocase");
  EXPECT_EQ(context.SortOrder(), "nocase");
  EXPECT_FALSE(Raised([&] { context.SetSortOrder("sideways"); }).isEmpty());
  EXPECT_EQ(context.SortOrder(), "nocase");
}

// The context-wide handlers serve connections that do not collect their messages inline.
class ContextHandlers : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(oc::ct_con_alloc(context_.Handle(), con_), CS_SUCCEED); }
  void Server(CS_INT number, CS_INT severity, const char* text, CS_INT line = 5) {
    CS_SERVERMSG msg{};
    msg.msgnumber = number;
    msg.severity = severity;
    msg.line = line;
    std::strcpy(msg.text, text);
    msg.textlen = static_cast<CS_INT>(std::strlen(text));
    EXPECT_EQ(oc::detail::deliver_server_message(context_.Handle(), con_.get(), msg), CS_SUCCEED);
  }
  void Client(CS_INT number, CS_INT severity, const char* text, const char* os = "") {
    CS_CLIENTMSG msg{};
    msg.msgnumber = number;
    msg.severity = severity;
    std::strcpy(msg.msgstring, text);
    msg.msgstringlen = static_cast<CS_INT>(std::strlen(text));
    std::strcpy(msg.osstring, os);
    msg.osstringlen = static_cast<CS_INT>(std::strlen(os));
    EXPECT_EQ(oc::detail::deliver_client_message(context_.Handle(), con_.get(), msg), CS_SUCCEED);
  }

  norv::ScopedRecordingPresenter recorder_;
  TNorvContext context_;
  oc::ConnectionHandle con_;
};

TEST_F(ContextHandlers, ServerMessagesAreFilteredByNumberAndSeverity) {
  Server(3613, 2, "shown by number");
  Server(3616, 2, "not shown");
  Server(7349, 1, "range");
  Server(0, 0, "number zero");
  Server(5701, 10, "Changed database context to 'pubs2'.");
  Server(2409, 16, "never");
  Server(4002, 14, "Login failed.");
  const auto shown = recorder_->Taken();
  ASSERT_EQ(shown.size(), 4u);
  EXPECT_EQ(shown[0].caption, "SQL Server Message - 3613");
  EXPECT_EQ(shown[0].text, "Message: 3613,  Severity: 2\r\rLine: 5\rshown by number");
  EXPECT_EQ(shown[0].icon, norv::MsgIcon::Error);
  EXPECT_EQ(shown[1].caption, "SQL Server Message - 7349");
  EXPECT_EQ(shown[2].caption, "SQL Server Message - 0");
  EXPECT_EQ(shown[3].text, "Message: 4002,  Severity: 14\r\rLogin failed.");
}

TEST_F(ContextHandlers, ClientMessagesAreFilteredAndCarryTheOsText) {
  Client((1 << 24) | (2 << 16) | 41,  // layer 1, origin 2, number 41
         9, "Unable to connect", "Connection refused");
  Client(44, 2, "filtered by number");
  Client(41, 0, "severity zero");
  Client(41, 100000, "severity too high");
  const auto shown = recorder_->Taken();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].caption, "CT-Library error");
  EXPECT_EQ(shown[0].text,
            "Message: 41,  Severity: 9,  Origin: 2\r\rUnable to connect\rOS: Connection refused");
}

}  // namespace
