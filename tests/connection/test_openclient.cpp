// Open Client adapter, the parts that need no server: configuration, locales, message routing,
// connection properties before connect, guards, tracing and datetime text.
#include "connection/openclient.h"
#include "connection/openclient_internal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

struct Env {
  oc::ContextHandle ctx;
  Env() {
    EXPECT_EQ(oc::cs_ctx_alloc(CS_VERSION_100, ctx), CS_SUCCEED);
    EXPECT_EQ(oc::ct_init(ctx.get(), CS_VERSION_100), CS_SUCCEED);
  }
  oc::ConnectionHandle connection() {
    oc::ConnectionHandle con;
    EXPECT_EQ(oc::ct_con_alloc(ctx.get(), con), CS_SUCCEED);
    return con;
  }
};

CS_SERVERMSG server_msg(CS_INT number, const char* text) {
  CS_SERVERMSG m{};
  m.msgnumber = number;
  std::snprintf(m.text, sizeof m.text, "%s", text);
  m.textlen = static_cast<CS_INT>(std::strlen(m.text));
  return m;
}
CS_CLIENTMSG client_msg(CS_INT number) {
  CS_CLIENTMSG m{};
  m.msgnumber = number;
  return m;
}

CS_INT count(oc::Connection* con, CS_INT type) {
  CS_INT n = -1;
  EXPECT_EQ(oc::ct_diag(con, CS_STATUS, type, CS_UNUSED, &n), CS_SUCCEED);
  return n;
}

// Handlers record who called them.
std::vector<std::string> g_calls;
CS_RETCODE ctx_server(oc::Context*, oc::Connection*, CS_SERVERMSG* m) {
  g_calls.push_back("ctx:" + std::to_string(m->msgnumber));
  return CS_SUCCEED;
}
CS_RETCODE con_server(oc::Context*, oc::Connection*, CS_SERVERMSG* m) {
  g_calls.push_back("con:" + std::to_string(m->msgnumber));
  return CS_FAIL;
}
CS_RETCODE completion(oc::Connection*, oc::Command*, CS_INT, CS_RETCODE) { return CS_SUCCEED; }
CS_RETCODE ctx_client(oc::Context*, oc::Connection*, CS_CLIENTMSG* m) {
  g_calls.push_back("cctx:" + std::to_string(m->msgnumber));
  return CS_SUCCEED;
}

std::string temp_path(const char* stem) {
  return (std::filesystem::temp_directory_path() /
          (std::string(stem) + std::to_string(::getpid()) + ".log"))
      .string();
}

}  // namespace

// ---- Context configuration --------------------------------------------------------------------
TEST(OpenClientConfig, VersionStringWithoutOutlenAndTruncated) {
  Env env;
  char buf[256] = {};
  ASSERT_EQ(oc::ct_config(env.ctx.get(), CS_GET, CS_VER_STRING, buf, sizeof buf, nullptr),
            CS_SUCCEED);
  EXPECT_NE(std::string(buf).find("freetds"), std::string::npos) << buf;

  char small[8];
  std::memset(small, 'x', sizeof small);
  CS_INT len = 0;
  ASSERT_EQ(oc::ct_config(env.ctx.get(), CS_GET, CS_VER_STRING, small, 6, &len), CS_SUCCEED);
  EXPECT_EQ(std::strlen(small), 5u);
  EXPECT_EQ(small[6], 'x');  // nothing written past buflen
  EXPECT_GT(len, 5);
}

TEST(OpenClientConfig, IfileMaxConnectTimeoutReadBack) {
  Env env;
  char buf[64];
  CS_INT len = 0;
  ASSERT_EQ(oc::ct_config(env.ctx.get(), CS_GET, CS_IFILE, buf, sizeof buf, &len), CS_SUCCEED);
  EXPECT_STREQ(buf, "");
  char path[] = "/opt/sybase/interfaces";
  ASSERT_EQ(oc::ct_config(env.ctx.get(), CS_SET, CS_IFILE, path, CS_NULLTERM, nullptr), CS_SUCCEED);
  ASSERT_EQ(oc::ct_config(env.ctx.get(), CS_GET, CS_IFILE, buf, sizeof buf, &len), CS_SUCCEED);
  EXPECT_STREQ(buf, path);
  EXPECT_EQ(oc::ct_config(env.ctx.get(), CS_GET, CS_IFILE, buf, 4, &len), CS_FAIL);
  EXPECT_EQ(len, static_cast<CS_INT>(sizeof path));

  CS_INT value = 0;
  ASSERT_EQ(oc::ct_config(env.ctx.get(), CS_GET, CS_MAX_CONNECT, &value, CS_UNUSED, nullptr),
            CS_SUCCEED);
  EXPECT_EQ(value, 25);
  value = 0;
  EXPECT_EQ(oc::ct_config(env.ctx.get(), CS_SET, CS_MAX_CONNECT, &value, CS_UNUSED, nullptr),
            CS_FAIL);
  value = 7;
  ASSERT_EQ(oc::ct_config(env.ctx.get(), CS_SET, CS_MAX_CONNECT, &value, CS_UNUSED, nullptr),
            CS_SUCCEED);
  value = 0;
  EXPECT_EQ(oc::ct_config(env.ctx.get(), CS_GET, CS_MAX_CONNECT, &value, CS_UNUSED, nullptr),
            CS_SUCCEED);
  EXPECT_EQ(value, 7);

  ASSERT_EQ(oc::ct_config(env.ctx.get(), CS_GET, CS_TIMEOUT, &value, CS_UNUSED, nullptr),
            CS_SUCCEED);
  EXPECT_EQ(value, CS_NO_LIMIT);
  value = 30;
  ASSERT_EQ(oc::ct_config(env.ctx.get(), CS_SET, CS_TIMEOUT, &value, CS_UNUSED, nullptr),
            CS_SUCCEED);
  value = 5;
  ASSERT_EQ(oc::ct_config(env.ctx.get(), CS_SET, CS_LOGIN_TIMEOUT, &value, CS_UNUSED, nullptr),
            CS_SUCCEED);
  EXPECT_EQ(oc::ct_config(env.ctx.get(), CS_GET, CS_TIMEOUT, &value, CS_UNUSED, nullptr),
            CS_SUCCEED);
  EXPECT_EQ(value, 30);
  EXPECT_EQ(oc::ct_config(env.ctx.get(), CS_GET, CS_LOGIN_TIMEOUT, &value, CS_UNUSED, nullptr),
            CS_SUCCEED);
  EXPECT_EQ(value, 5);
}

TEST(OpenClientConfig, MaxConnectLimitsLiveConnections) {
  Env env;
  CS_INT limit = 2;
  ASSERT_EQ(oc::ct_config(env.ctx.get(), CS_SET, CS_MAX_CONNECT, &limit, CS_UNUSED, nullptr),
            CS_SUCCEED);
  auto a = env.connection();
  auto b = env.connection();
  oc::ConnectionHandle c;
  EXPECT_EQ(oc::ct_con_alloc(env.ctx.get(), c), CS_FAIL);
  EXPECT_FALSE(c);
  ASSERT_EQ(oc::ct_con_drop(a), CS_SUCCEED);
  EXPECT_FALSE(a);
  EXPECT_EQ(oc::ct_con_alloc(env.ctx.get(), c), CS_SUCCEED);
}

TEST(OpenClientConfig, ConnectionOutlivesItsContextHandle) {
  Env env;
  auto con = env.connection();
  ASSERT_EQ(oc::cs_ctx_drop(env.ctx), CS_SUCCEED);
  EXPECT_FALSE(env.ctx);
  // The FreeTDS context is still there underneath: the connection keeps working.
  char name[] = "app";
  EXPECT_EQ(oc::ct_con_props(con.get(), CS_SET, CS_APPNAME, name, CS_NULLTERM, nullptr),
            CS_SUCCEED);
  char back[16] = {};
  EXPECT_EQ(oc::ct_con_props(con.get(), CS_GET, CS_APPNAME, back, sizeof back, nullptr),
            CS_SUCCEED);
  EXPECT_STREQ(back, "app");
}

// ---- Locales ------------------------------------------------------------------------------------
TEST(OpenClientLocale, DefaultsSetReadBackAndInvalid) {
  Env env;
  oc::LocaleHandle loc;
  ASSERT_EQ(oc::cs_loc_alloc(env.ctx.get(), loc), CS_SUCCEED);
  char buf[64];
  CS_INT len = 0;
  const std::pair<CS_INT, const char*> defaults[] = {
      {CS_SYB_CHARSET, "utf8"}, {CS_SYB_LANG, "us_english"}, {CS_SYB_SORTORDER, "binary"}};
  for (auto [type, value] : defaults) {
    ASSERT_EQ(oc::cs_locale(env.ctx.get(), CS_GET, loc.get(), type, buf, sizeof buf, &len),
              CS_SUCCEED);
    EXPECT_STREQ(buf, value);
  }
  const std::pair<CS_INT, const char*> sets[] = {
      {CS_SYB_CHARSET, "ISO_1"}, {CS_SYB_LANG, "french"}, {CS_SYB_SORTORDER, "nocase"}};
  for (auto [type, value] : sets) {
    std::string v = value;
    EXPECT_EQ(oc::cs_locale(env.ctx.get(), CS_SET, loc.get(), type, v.data(), CS_NULLTERM, nullptr),
              CS_SUCCEED)
        << value;
  }
  EXPECT_EQ(oc::cs_locale(env.ctx.get(), CS_GET, loc.get(), CS_SYB_CHARSET, buf, sizeof buf, &len),
            CS_SUCCEED);
  EXPECT_STREQ(buf, "iso_1");
  EXPECT_EQ(
      oc::cs_locale(env.ctx.get(), CS_GET, loc.get(), CS_SYB_SORTORDER, buf, sizeof buf, &len),
      CS_SUCCEED);
  EXPECT_STREQ(buf, "nocase");

  for (CS_INT type : std::initializer_list<CS_INT>{CS_SYB_CHARSET, CS_SYB_LANG, CS_SYB_SORTORDER}) {
    char bogus[] = "klingon";
    EXPECT_EQ(oc::cs_locale(env.ctx.get(), CS_SET, loc.get(), type, bogus, CS_NULLTERM, nullptr),
              CS_FAIL);
  }
  EXPECT_EQ(oc::cs_locale(env.ctx.get(), CS_GET, loc.get(), CS_SYB_LANG, buf, sizeof buf, &len),
            CS_SUCCEED);
  EXPECT_STREQ(buf, "french");  // a refused name changes nothing

  EXPECT_EQ(oc::cs_locale(env.ctx.get(), CS_GET, loc.get(), CS_SYB_LANG, buf, 3, &len), CS_FAIL);
  EXPECT_EQ(len, 7);  // "french" and its terminator
  EXPECT_EQ(oc::cs_loc_drop(env.ctx.get(), loc), CS_SUCCEED);
  EXPECT_FALSE(loc);
}

// ---- Messages -----------------------------------------------------------------------------------
TEST(OpenClientDiag, InlineQueueOperations) {
  Env env;
  auto con = env.connection();
  CS_INT n = 0;
  CS_SERVERMSG sm{};
  EXPECT_EQ(oc::ct_diag(con.get(), CS_STATUS, CS_SERVERMSG_TYPE, CS_UNUSED, &n), CS_FAIL);
  EXPECT_EQ(oc::ct_diag(con.get(), CS_GET, CS_SERVERMSG_TYPE, 1, &sm), CS_FAIL);
  EXPECT_EQ(oc::ct_diag(con.get(), CS_CLEAR, CS_ALLMSG_TYPE, CS_UNUSED, nullptr), CS_FAIL);

  ASSERT_EQ(oc::ct_diag(con.get(), CS_INIT, CS_UNUSED, CS_UNUSED, nullptr), CS_SUCCEED);
  EXPECT_EQ(count(con.get(), CS_SERVERMSG_TYPE), 0);
  oc::IgnoreStatus(
      oc::detail::deliver_server_message(env.ctx.get(), con.get(), server_msg(208, "first")),
      "the queue's content is what is checked");
  oc::IgnoreStatus(
      oc::detail::deliver_server_message(env.ctx.get(), con.get(), server_msg(5701, "second")),
      "as above");
  oc::IgnoreStatus(oc::detail::deliver_client_message(env.ctx.get(), con.get(), client_msg(20009)),
                   "as above");
  EXPECT_EQ(count(con.get(), CS_SERVERMSG_TYPE), 2);
  EXPECT_EQ(count(con.get(), CS_CLIENTMSG_TYPE), 1);

  ASSERT_EQ(oc::ct_diag(con.get(), CS_GET, CS_SERVERMSG_TYPE, 2, &sm), CS_SUCCEED);
  EXPECT_EQ(sm.msgnumber, 5701);
  EXPECT_STREQ(sm.text, "second");
  EXPECT_EQ(oc::ct_diag(con.get(), CS_GET, CS_SERVERMSG_TYPE, 3, &sm), CS_NOMSG);
  EXPECT_EQ(oc::ct_diag(con.get(), CS_GET, CS_SERVERMSG_TYPE, 0, &sm), CS_FAIL);
  EXPECT_EQ(oc::ct_diag(con.get(), CS_GET, CS_SERVERMSG_TYPE, -1, &sm), CS_FAIL);
  CS_CLIENTMSG cm{};
  ASSERT_EQ(oc::ct_diag(con.get(), CS_GET, CS_CLIENTMSG_TYPE, 1, &cm), CS_SUCCEED);
  EXPECT_EQ(cm.msgnumber, 20009);

  ASSERT_EQ(oc::ct_diag(con.get(), CS_CLEAR, CS_SERVERMSG_TYPE, CS_UNUSED, nullptr), CS_SUCCEED);
  EXPECT_EQ(count(con.get(), CS_SERVERMSG_TYPE), 0);
  EXPECT_EQ(count(con.get(), CS_CLIENTMSG_TYPE), 1);
  ASSERT_EQ(oc::ct_diag(con.get(), CS_CLEAR, CS_ALLMSG_TYPE, CS_UNUSED, nullptr), CS_SUCCEED);
  EXPECT_EQ(count(con.get(), CS_CLIENTMSG_TYPE), 0);

  CS_INT limit = 2;
  ASSERT_EQ(oc::ct_diag(con.get(), CS_MSGLIMIT, CS_SERVERMSG_TYPE, CS_UNUSED, &limit), CS_SUCCEED);
  for (int i = 0; i < 5; ++i)
    oc::IgnoreStatus(
        oc::detail::deliver_server_message(env.ctx.get(), con.get(), server_msg(100 + i, "x")),
        "the limit is what is checked");
  EXPECT_EQ(count(con.get(), CS_SERVERMSG_TYPE), 2);
  EXPECT_EQ(oc::ct_diag(con.get(), CS_GET, CS_SERVERMSG_TYPE, 2, &sm), CS_SUCCEED);
  EXPECT_EQ(sm.msgnumber, 101);  // the first ones are kept
}

TEST(OpenClientDiag, HandlerPrecedenceAndIsolation) {
  Env env;
  g_calls.clear();
  auto a = env.connection();
  auto b = env.connection();
  ASSERT_EQ(oc::ct_callback(env.ctx.get(), nullptr, CS_SET, CS_SERVERMSG_CB,
                            reinterpret_cast<CS_VOID*>(&ctx_server)),
            CS_SUCCEED);
  ASSERT_EQ(oc::ct_callback(env.ctx.get(), nullptr, CS_SET, CS_CLIENTMSG_CB,
                            reinterpret_cast<CS_VOID*>(&ctx_client)),
            CS_SUCCEED);
  ASSERT_EQ(oc::ct_callback(nullptr, a.get(), CS_SET, CS_SERVERMSG_CB,
                            reinterpret_cast<CS_VOID*>(&con_server)),
            CS_SUCCEED);

  oc::ServerMessageFunc got = nullptr;
  ASSERT_EQ(oc::ct_callback(nullptr, a.get(), CS_GET, CS_SERVERMSG_CB, &got), CS_SUCCEED);
  EXPECT_EQ(got, &con_server);
  ASSERT_EQ(oc::ct_callback(env.ctx.get(), nullptr, CS_GET, CS_SERVERMSG_CB, &got), CS_SUCCEED);
  EXPECT_EQ(got, &ctx_server);
  ASSERT_EQ(oc::ct_callback(env.ctx.get(), nullptr, CS_SET, CS_COMPLETION_CB,
                            reinterpret_cast<CS_VOID*>(&completion)),
            CS_SUCCEED);
  oc::CompletionFunc completion_back = nullptr;
  ASSERT_EQ(oc::ct_callback(env.ctx.get(), nullptr, CS_GET, CS_COMPLETION_CB, &completion_back),
            CS_SUCCEED);
  EXPECT_EQ(completion_back, &completion);

  EXPECT_EQ(oc::detail::deliver_server_message(env.ctx.get(), a.get(), server_msg(1, "")), CS_FAIL);
  EXPECT_EQ(oc::detail::deliver_server_message(env.ctx.get(), b.get(), server_msg(2, "")),
            CS_SUCCEED);
  EXPECT_EQ(oc::detail::deliver_client_message(env.ctx.get(), a.get(), client_msg(3)), CS_SUCCEED);
  EXPECT_EQ(oc::detail::deliver_server_message(env.ctx.get(), nullptr, server_msg(4, "")),
            CS_SUCCEED);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"con:1", "ctx:2", "cctx:3", "ctx:4"}));

  // Inline collection on `a` takes its messages away from every handler; `b` is unaffected.
  g_calls.clear();
  ASSERT_EQ(oc::ct_diag(a.get(), CS_INIT, CS_UNUSED, CS_UNUSED, nullptr), CS_SUCCEED);
  oc::IgnoreStatus(oc::detail::deliver_server_message(env.ctx.get(), a.get(), server_msg(5, "")),
                   "which handler ran is what is checked");
  oc::IgnoreStatus(oc::detail::deliver_server_message(env.ctx.get(), b.get(), server_msg(6, "")),
                   "as above");
  EXPECT_EQ(g_calls, (std::vector<std::string>{"ctx:6"}));
  EXPECT_EQ(count(a.get(), CS_SERVERMSG_TYPE), 1);
}

TEST(OpenClientDiag, ConnectionsOnTwoThreadsSeeOnlyTheirOwnMessages) {
  Env env;
  auto a = env.connection();
  auto b = env.connection();
  for (auto* con : {a.get(), b.get()})
    ASSERT_EQ(oc::ct_diag(con, CS_INIT, CS_UNUSED, CS_UNUSED, nullptr), CS_SUCCEED);
  constexpr int kMessages = 2000;
  auto feed = [&](oc::Connection* con, CS_INT number) {
    for (int i = 0; i < kMessages; ++i) {
      oc::IgnoreStatus(
          oc::detail::deliver_server_message(env.ctx.get(), con, server_msg(number, "m")),
          "the queue's content is what is checked");
      if (i % 100 == 99) {
        CS_INT n = 0;
        oc::IgnoreStatus(oc::ct_diag(con, CS_STATUS, CS_SERVERMSG_TYPE, CS_UNUSED, &n),
                         "only concurrent access matters here");
      }
    }
  };
  std::thread ta(feed, a.get(), 1);
  std::thread tb(feed, b.get(), 2);
  ta.join();
  tb.join();
  for (auto [con, number] : {std::pair{a.get(), 1}, std::pair{b.get(), 2}}) {
    ASSERT_EQ(count(con, CS_SERVERMSG_TYPE), kMessages);
    for (CS_INT i = 1; i <= kMessages; ++i) {
      CS_SERVERMSG m{};
      ASSERT_EQ(oc::ct_diag(con, CS_GET, CS_SERVERMSG_TYPE, i, &m), CS_SUCCEED);
      ASSERT_EQ(m.msgnumber, number);
    }
  }
}

// ---- Connection properties ----------------------------------------------------------------
TEST(OpenClientConnection, PropertiesBeforeConnect) {
  Env env;
  auto con = env.connection();
  CS_INT value = -1;
  ASSERT_EQ(oc::ct_con_props(con.get(), CS_GET, CS_TDS_VERSION, &value, CS_UNUSED, nullptr),
            CS_SUCCEED);
  EXPECT_EQ(value, CS_TDS_50);
  ASSERT_EQ(oc::ct_con_props(con.get(), CS_GET, CS_LOGIN_STATUS, &value, CS_UNUSED, nullptr),
            CS_SUCCEED);
  EXPECT_EQ(value, CS_FALSE);

  for (CS_INT setting : {CS_FALSE, CS_TRUE}) {
    ASSERT_EQ(oc::ct_con_props(con.get(), CS_SET, CS_BULK_LOGIN, &setting, CS_UNUSED, nullptr),
              CS_SUCCEED);
    ASSERT_EQ(oc::ct_con_props(con.get(), CS_GET, CS_BULK_LOGIN, &value, CS_UNUSED, nullptr),
              CS_SUCCEED);
    EXPECT_EQ(value, setting);
  }
  for (CS_INT prop :
       std::initializer_list<CS_INT>{CS_ASYNC_NOTIFS, CS_DIAG_TIMEOUT, CS_EXTRA_INF, CS_HIDDEN_KEYS,
                                     CS_SEC_ENCRYPTION, CS_SEC_NEGOTIATE}) {
    CS_INT on = CS_TRUE;
    ASSERT_EQ(oc::ct_con_props(con.get(), CS_SET, prop, &on, CS_UNUSED, nullptr), CS_SUCCEED);
    value = CS_FALSE;
    ASSERT_EQ(oc::ct_con_props(con.get(), CS_GET, prop, &value, CS_UNUSED, nullptr), CS_SUCCEED);
    EXPECT_EQ(value, CS_TRUE) << prop;
  }
  long mine = 0x1234567;
  ASSERT_EQ(oc::ct_con_props(con.get(), CS_SET, CS_USERDATA, &mine, sizeof mine, nullptr),
            CS_SUCCEED);
  long back = 0;
  ASSERT_EQ(oc::ct_con_props(con.get(), CS_GET, CS_USERDATA, &back, sizeof back, nullptr),
            CS_SUCCEED);
  EXPECT_EQ(back, mine);

  char bad[] = "127.0.0.1";
  EXPECT_EQ(oc::ct_con_props(con.get(), CS_SET, CS_SERVERADDR, bad, CS_NULLTERM, nullptr), CS_FAIL);
  for (const char* form :
       {"127.0.0.1 4100", "tcp 127.0.0.1 4100", "127.0.0.1:4100", "TCP,127.0.0.1,4100"}) {
    std::string f = form;
    EXPECT_EQ(oc::ct_con_props(con.get(), CS_SET, CS_SERVERADDR, f.data(), CS_NULLTERM, nullptr),
              CS_SUCCEED)
        << form;
    char addr[64] = {};
    EXPECT_EQ(oc::ct_con_props(con.get(), CS_GET, CS_SERVERADDR, addr, sizeof addr, nullptr),
              CS_SUCCEED);
    EXPECT_STREQ(addr, "127.0.0.1 4100");
  }
}

TEST(OpenClientConnection, ConnectToClosedPortFailsWithoutConfigMessage) {
  Env env;
  auto con = env.connection();
  ASSERT_EQ(oc::ct_diag(con.get(), CS_INIT, CS_UNUSED, CS_UNUSED, nullptr), CS_SUCCEED);
  char addr[] = "127.0.0.1 1";
  ASSERT_EQ(oc::ct_con_props(con.get(), CS_SET, CS_SERVERADDR, addr, CS_NULLTERM, nullptr),
            CS_SUCCEED);
  char user[] = "sa";
  EXPECT_EQ(oc::ct_con_props(con.get(), CS_SET, CS_USERNAME, user, CS_NULLTERM, nullptr),
            CS_SUCCEED);
  EXPECT_EQ(oc::ct_connect(con.get(), "OCTEST_CLOSED", CS_NULLTERM), CS_FAIL);
  const CS_INT n = count(con.get(), CS_CLIENTMSG_TYPE);
  EXPECT_GE(n, 1);
  for (CS_INT i = 1; i <= n; ++i) {
    CS_CLIENTMSG m{};
    ASSERT_EQ(oc::ct_diag(con.get(), CS_GET, CS_CLIENTMSG_TYPE, i, &m), CS_SUCCEED);
    EXPECT_NE(m.msgnumber, 20012) << m.msgstring;
  }
  CS_INT status = -1;
  EXPECT_EQ(oc::ct_con_props(con.get(), CS_GET, CS_LOGIN_STATUS, &status, CS_UNUSED, nullptr),
            CS_SUCCEED);
  EXPECT_EQ(status, CS_FALSE);
  EXPECT_EQ(oc::ct_close(con.get(), CS_FORCE_CLOSE), CS_SUCCEED);  // closing twice is harmless
}

// ---- Commands without a live connection -------------------------------------------------------
TEST(OpenClientCommand, CommandNumberOnUnsentCommandIsQuiet) {
  Env env;
  auto con = env.connection();
  oc::CommandHandle cmd;
  ASSERT_EQ(oc::ct_cmd_alloc(con.get(), cmd), CS_SUCCEED);
  testing::internal::CaptureStderr();
  CS_INT number = -1;
  EXPECT_EQ(oc::ct_res_info(cmd.get(), CS_CMD_NUMBER, &number, CS_UNUSED, nullptr), CS_SUCCEED);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(number, 0);
}

TEST(OpenClientCommand, CallsAfterConnectionDroppedFail) {
  Env env;
  auto con = env.connection();
  oc::CommandHandle cmd;
  ASSERT_EQ(oc::ct_cmd_alloc(con.get(), cmd), CS_SUCCEED);
  ASSERT_EQ(oc::ct_command(cmd.get(), CS_LANG_CMD, "select 1", CS_NULLTERM, CS_UNUSED), CS_SUCCEED);
  // Not connected: nothing may reach FreeTDS.
  CS_INT type = 0;
  EXPECT_EQ(oc::ct_send(cmd.get()), CS_FAIL);
  EXPECT_EQ(oc::ct_results(cmd.get(), &type), CS_FAIL);
  EXPECT_EQ(oc::ct_cancel(nullptr, cmd.get(), CS_CANCEL_ALL), CS_FAIL);

  ASSERT_EQ(oc::ct_con_drop(con), CS_SUCCEED);
  CS_INT rows = 0;
  EXPECT_EQ(oc::ct_command(cmd.get(), CS_LANG_CMD, "select 1", CS_NULLTERM, CS_UNUSED), CS_FAIL);
  EXPECT_EQ(oc::ct_send(cmd.get()), CS_FAIL);
  EXPECT_EQ(oc::ct_results(cmd.get(), &type), CS_FAIL);
  EXPECT_EQ(oc::ct_fetch(cmd.get(), CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows), CS_FAIL);
  EXPECT_EQ(oc::ct_cancel(nullptr, cmd.get(), CS_CANCEL_ALL), CS_FAIL);
  EXPECT_EQ(oc::ct_cmd_drop(cmd), CS_SUCCEED);
  EXPECT_FALSE(cmd);
}

// ---- Tracing -------------------------------------------------------------------------------
TEST(OpenClientDebug, TraceLinesWhileFlagsSet) {
  Env env;
  auto con = env.connection();
  const std::string path = temp_path("oc-debug-");
  std::filesystem::remove(path);
  ASSERT_EQ(oc::ct_debug(nullptr, con.get(), CS_SET_DBG_FILE, CS_UNUSED, path.c_str(), CS_NULLTERM),
            CS_SUCCEED);
  CS_INT value = 0;
  oc::IgnoreStatus(oc::ct_con_props(con.get(), CS_GET, CS_LOGIN_STATUS, &value, CS_UNUSED, nullptr),
                   "only the trace of the call matters");  // no flags yet
  ASSERT_EQ(oc::ct_debug(nullptr, con.get(), CS_SET_FLAG, CS_DBG_API_STATES, nullptr, CS_UNUSED),
            CS_SUCCEED);
  oc::IgnoreStatus(oc::ct_con_props(con.get(), CS_GET, CS_BULK_LOGIN, &value, CS_UNUSED, nullptr),
                   "as above");
  oc::IgnoreStatus(oc::ct_diag(con.get(), CS_INIT, CS_UNUSED, CS_UNUSED, nullptr), "as above");
  ASSERT_EQ(oc::ct_debug(nullptr, con.get(), CS_CLEAR_FLAG, CS_DBG_API_STATES, nullptr, CS_UNUSED),
            CS_SUCCEED);
  oc::IgnoreStatus(oc::ct_con_props(con.get(), CS_GET, CS_LOGIN_STATUS, &value, CS_UNUSED, nullptr),
                   "as above");

  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::filesystem::remove(path);
  ASSERT_EQ(lines.size(), 3u);  // ct_debug(SET_FLAG), ct_con_props, ct_diag
  EXPECT_EQ(lines[1].rfind("ct_con_props(", 0), 0u) << lines[1];
  EXPECT_NE(lines[1].find(std::to_string(CS_BULK_LOGIN)), std::string::npos);
  EXPECT_NE(lines[1].find("-> 1"), std::string::npos);
  EXPECT_EQ(lines[2].rfind("ct_diag(", 0), 0u) << lines[2];
}

// ---- Bulk-Library without a connection ----------------------------------------------------------
TEST(OpenClientBulk, AllocNeedsConnectionAndIdleDoneSucceeds) {
  Env env;
  auto con = env.connection();
  oc::BlkHandle blk;
  EXPECT_EQ(oc::blk_alloc(con.get(), BLK_VERSION_100, blk), CS_FAIL);
  EXPECT_FALSE(blk);
}

// ---- Datetime text --------------------------------------------------------------------------
namespace {
std::string to_text(oc::Context* ctx, CS_INT type, void* value, CS_INT maxlength = 64,
                    CS_RETCODE* rc = nullptr) {
  CS_DATAFMT src{};
  src.datatype = type;
  src.maxlength = type == CS_DATETIME_TYPE ? sizeof(CS_DATETIME) : sizeof(CS_DATETIME4);
  CS_DATAFMT dst{};
  dst.datatype = CS_CHAR_TYPE;
  dst.format = CS_FMT_NULLTERM;
  dst.maxlength = maxlength;
  std::vector<char> buf(static_cast<size_t>(maxlength) + 1, 'x');
  CS_INT len = 0;
  CS_RETCODE r = oc::cs_convert(ctx, &src, value, &dst, buf.data(), &len);
  if (rc) *rc = r;
  return r == CS_SUCCEED ? std::string(buf.data()) : std::string();
}

CS_DATETIME from_text(oc::Context* ctx, const std::string& text) {
  CS_DATAFMT src{};
  src.datatype = CS_CHAR_TYPE;
  src.maxlength = static_cast<CS_INT>(text.size());
  CS_DATAFMT dst{};
  dst.datatype = CS_DATETIME_TYPE;
  dst.maxlength = sizeof(CS_DATETIME);
  CS_DATETIME dt{-1, 0};
  CS_INT len = 0;
  EXPECT_EQ(oc::cs_convert(ctx, &src, const_cast<char*>(text.c_str()), &dst, &dt, &len), CS_SUCCEED)
      << text;
  return dt;
}
}  // namespace

TEST(OpenClientDatetime, LongFormAndRoundTrip) {
  Env env;
  struct Case {
    CS_INT days;
    CS_INT ticks;
    const char* text;
  };
  const Case cases[] = {
      {0, 0, "Jan  1 1900 12:00:00:000AM"},
      {0, 150 + 12 * 3600 * 300, "Jan  1 1900 12:00:00:500PM"},
      {0, (13 * 3600 + 5 * 60 + 7) * 300, "Jan  1 1900  1:05:07:000PM"},
      {36521, 0, "Dec 29 1999 12:00:00:000AM"},
      {36521, 299, "Dec 29 1999 12:00:00:997AM"},
      {36521, 1, "Dec 29 1999 12:00:00:003AM"},
      {36521, 2, "Dec 29 1999 12:00:00:007AM"},
      {-53690, 0, "Jan  1 1753 12:00:00:000AM"},
      {2958463, 86399 * 300 + 299, "Dec 31 9999 11:59:59:997PM"},
  };
  for (const Case& c : cases) {
    CS_DATETIME dt{c.days, c.ticks};
    const std::string text = to_text(env.ctx.get(), CS_DATETIME_TYPE, &dt);
    EXPECT_EQ(text, c.text);
    const CS_DATETIME back = from_text(env.ctx.get(), text);
    EXPECT_EQ(back.dtdays, c.days) << text;
    EXPECT_EQ(back.dttime, c.ticks) << text;
  }
}

TEST(OpenClientDatetime, SmalldatetimeAndShortBuffer) {
  Env env;
  CS_DATETIME4 sdt{};
  sdt.days = 36521;
  sdt.minutes = 13 * 60 + 30;
  EXPECT_EQ(to_text(env.ctx.get(), CS_DATETIME4_TYPE, &sdt), "Dec 29 1999  1:30:00:000PM");

  CS_DATETIME dt{0, 0};
  CS_RETCODE rc = CS_SUCCEED;
  EXPECT_EQ(to_text(env.ctx.get(), CS_DATETIME_TYPE, &dt, 27, &rc), "Jan  1 1900 12:00:00:000AM");
  EXPECT_EQ(rc, CS_SUCCEED);  // exact fit with terminator
  to_text(env.ctx.get(), CS_DATETIME_TYPE, &dt, 26, &rc);
  EXPECT_EQ(rc, CS_FAIL);
}

// ---- Numeric text ---------------------------------------------------------------------------

// The adapter formats numerics fetched as text itself; the text must be FreeTDS's own, digit for
// digit, at every precision and scale.
TEST(OpenClientNumeric, TextIsTheLibrarysConversion) {
  Env env;
  CS_CONTEXT* cs = env.ctx->state->cs;
  const std::pair<int, int> shapes[] = {{1, 0},   {5, 2},   {12, 2}, {18, 0},  {19, 4},
                                        {38, 10}, {38, 38}, {77, 0}, {77, 20}, {9, 9}};
  unsigned seed = 12345;
  auto digit = [&] {
    seed = seed * 1103515245u + 12345u;
    return static_cast<char>('0' + (seed >> 16) % 10);
  };
  for (const auto& [precision, scale] : shapes) {
    const int whole = precision - scale;
    std::vector<std::string> values = {"0", "-0", "1", "-1"};
    if (whole == 0) values = {"0", ".1", "-.5"};
    if (scale > 0) values.push_back("0." + std::string(static_cast<size_t>(scale - 1), '0') + "1");
    std::string big(static_cast<size_t>(whole), '9');
    if (scale > 0) big += "." + std::string(static_cast<size_t>(scale), '9');
    values.push_back(big);
    values.push_back("-" + big);
    for (int n = 0; n < 6; ++n) {
      std::string v = n % 2 ? "-" : "";
      for (int i = 0; i < whole; ++i) v += digit();
      if (scale > 0) v += ".";
      for (int i = 0; i < scale; ++i) v += digit();
      values.push_back(v);
    }
    for (const std::string& text : values) {
      CS_DATAFMT src{};
      src.datatype = CS_CHAR_TYPE;
      src.maxlength = static_cast<CS_INT>(text.size());
      CS_DATAFMT num{};
      num.datatype = CS_NUMERIC_TYPE;
      num.maxlength = sizeof(CS_NUMERIC);
      num.precision = precision;
      num.scale = scale;
      CS_NUMERIC value{};
      CS_INT len = 0;
      ASSERT_EQ(::cs_convert(cs, &src, const_cast<char*>(text.c_str()), &num, &value, &len),
                CS_SUCCEED)
          << text;
      CS_DATAFMT chr{};
      chr.datatype = CS_CHAR_TYPE;
      chr.maxlength = 128;
      chr.format = CS_FMT_NULLTERM;
      char expected[128] = {};
      ASSERT_EQ(::cs_convert(cs, &num, &value, &chr, expected, &len), CS_SUCCEED) << text;
      char ours[96];
      const size_t n = oc::internal::numeric_text(&value, ours);
      EXPECT_EQ(std::string(ours, n), std::string(expected))
          << text << " as numeric(" << precision << "," << scale << ")";
    }
  }
  CS_NUMERIC bad{};
  bad.precision = 5;
  bad.scale = 6;
  char out[96];
  EXPECT_EQ(oc::internal::numeric_text(&bad, out), 0u);
}
