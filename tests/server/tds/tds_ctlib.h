// Test side of the protocol tests: a real FreeTDS Client-Library client against a server started
// in-process, with the messages it receives recorded.
#pragma once

#include "tds/sampleserver.h"
#include "tds_fake_engine.h"

#include <ctpublic.h>
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tdstest {

struct ServerMsg {
  int number = 0;
  int severity = 0;
  int state = 0;
  int line = 0;
  std::string text, proc, server;
};

struct ClientMsg {
  int number = 0;
  int severity = 0;
  std::string text;
};

// Runs a shell command (one of FreeTDS's command-line tools) and returns what it printed on either
// stream.
inline std::string RunCommand(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen((command + " 2>&1").c_str(), "r"), ::pclose);
  if (!pipe) return {};
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe.get())) > 0) text.append(buf, n);
  return text;
}

// FreeTDS reads its configuration at every connect: a file of this process names one section per
// test server, always with TDS 5.0 and UTF-8 on the client side.
inline std::string ConfigureServer(uint16_t port) {
  static std::mutex mutex;
  static std::set<uint16_t> ports;
  std::lock_guard lock(mutex);
  // Rewrite only for a new server: other threads may be reading the file in ct_connect.
  if (!ports.insert(port).second) return "sample" + std::to_string(port);
  std::string path = "/tmp/tds_test_" + std::to_string(::getpid()) + ".conf";
  std::ofstream out(path, std::ios::trunc);
  out << "[global]\n\ttds version = 5.0\n\tclient charset = UTF-8\n";
  for (uint16_t p : ports) out << "[sample" << p << "]\n\thost = 127.0.0.1\n\tport = " << p << "\n";
  out.close();
  ::setenv("FREETDSCONF", path.c_str(), 1);
  return "sample" + std::to_string(port);
}

struct ResultSet {
  std::vector<CS_DATAFMT> formats;
  std::vector<std::vector<std::optional<std::string>>> rows;
};

struct Outcome {
  std::vector<CS_INT> types;    // what ct_results returned, in order
  std::vector<CS_INT> counts;   // CS_ROW_COUNT at each CS_CMD_DONE
  std::vector<ResultSet> sets;  // one per row/cursor/status result
  CS_RETCODE end = CS_FAIL;     // the ct_results return that ended the loop
};

class Client {
 public:
  explicit Client(uint16_t port, std::string user = "sa", std::string password = "",
                  int packetSize = 0)
      : server_(ConfigureServer(port)),
        user_(std::move(user)),
        password_(std::move(password)),
        packetSize_(packetSize) {
    if (cs_ctx_alloc(CS_VERSION_100, &ctx_) != CS_SUCCEED) throw std::runtime_error("cs_ctx_alloc");
    if (ct_init(ctx_, CS_VERSION_100) != CS_SUCCEED) throw std::runtime_error("ct_init");
    CS_INT timeout = 30;
    ct_config(ctx_, CS_SET, CS_TIMEOUT, &timeout, CS_UNUSED, nullptr);
    ct_config(ctx_, CS_SET, CS_LOGIN_TIMEOUT, &timeout, CS_UNUSED, nullptr);
    ct_callback(ctx_, nullptr, CS_SET, CS_SERVERMSG_CB, reinterpret_cast<CS_VOID*>(&OnServerMsg));
    ct_callback(ctx_, nullptr, CS_SET, CS_CLIENTMSG_CB, reinterpret_cast<CS_VOID*>(&OnClientMsg));
    if (ct_con_alloc(ctx_, &conn_) != CS_SUCCEED) throw std::runtime_error("ct_con_alloc");
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;
  ~Client() {
    if (connected_ && ct_close(conn_, CS_UNUSED) != CS_SUCCEED) ct_close(conn_, CS_FORCE_CLOSE);
    ct_con_drop(conn_);
    ct_exit(ctx_, CS_FORCE_EXIT);
    cs_ctx_drop(ctx_);
  }

  CS_RETCODE Connect() {
    Client* self = this;
    ct_con_props(conn_, CS_SET, CS_USERDATA, &self, sizeof self, nullptr);
    ct_con_props(conn_, CS_SET, CS_USERNAME, const_cast<char*>(user_.c_str()), CS_NULLTERM,
                 nullptr);
    ct_con_props(conn_, CS_SET, CS_PASSWORD, const_cast<char*>(password_.c_str()), CS_NULLTERM,
                 nullptr);
    ct_con_props(conn_, CS_SET, CS_APPNAME, const_cast<char*>("tdstest"), CS_NULLTERM, nullptr);
    CS_INT version = CS_TDS_50;
    ct_con_props(conn_, CS_SET, CS_TDS_VERSION, &version, CS_UNUSED, nullptr);
    if (packetSize_ > 0)
      ct_con_props(conn_, CS_SET, CS_PACKETSIZE, &packetSize_, CS_UNUSED, nullptr);
    CS_RETCODE rc = ct_connect(conn_, const_cast<char*>(server_.c_str()), CS_NULLTERM);
    connected_ = rc == CS_SUCCEED;
    return rc;
  }

  // Sends one language command and drains every result, reading rows as character data.
  Outcome Run(const std::string& sql) {
    CS_COMMAND* cmd = nullptr;
    Outcome out;
    if (ct_cmd_alloc(conn_, &cmd) != CS_SUCCEED) return out;
    std::unique_ptr<CS_COMMAND, CS_RETCODE (*)(CS_COMMAND*)> guard(cmd, ct_cmd_drop);
    ct_command(cmd, CS_LANG_CMD, const_cast<char*>(sql.c_str()), CS_NULLTERM, CS_UNUSED);
    if (ct_send(cmd) != CS_SUCCEED) return out;
    Drain(cmd, out);
    return out;
  }

  static void Drain(CS_COMMAND* cmd, Outcome& out) {
    CS_INT type = 0;
    CS_RETCODE rc;
    while ((rc = ct_results(cmd, &type)) == CS_SUCCEED) {
      out.types.push_back(type);
      if (type == CS_ROW_RESULT || type == CS_CURSOR_RESULT || type == CS_STATUS_RESULT ||
          type == CS_PARAM_RESULT) {
        out.sets.push_back(FetchAll(cmd));
      } else if (type == CS_CMD_DONE) {
        CS_INT n = 0;
        ct_res_info(cmd, CS_ROW_COUNT, &n, CS_UNUSED, nullptr);
        out.counts.push_back(n);
      }
    }
    out.end = rc;
  }

  static ResultSet FetchAll(CS_COMMAND* cmd, CS_INT maxRows = -1) {
    ResultSet set;
    CS_INT n = 0;
    ct_res_info(cmd, CS_NUMDATA, &n, CS_UNUSED, nullptr);
    set.formats.resize(static_cast<size_t>(n));
    std::vector<std::vector<char>> buffers(static_cast<size_t>(n), std::vector<char>(20000));
    std::vector<CS_INT> lengths(static_cast<size_t>(n));
    std::vector<CS_SMALLINT> indicators(static_cast<size_t>(n));
    for (CS_INT i = 0; i < n; ++i) {
      ct_describe(cmd, i + 1, &set.formats[static_cast<size_t>(i)]);
      CS_DATAFMT f{};
      f.datatype = CS_CHAR_TYPE;
      f.format = CS_FMT_NULLTERM;
      f.maxlength = 20000;
      f.count = 1;
      ct_bind(cmd, i + 1, &f, buffers[static_cast<size_t>(i)].data(),
              &lengths[static_cast<size_t>(i)], &indicators[static_cast<size_t>(i)]);
    }
    CS_INT fetched = 0;
    while (maxRows != 0 && ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &fetched) == CS_SUCCEED) {
      std::vector<std::optional<std::string>> row;
      for (size_t i = 0; i < static_cast<size_t>(n); ++i) {
        if (indicators[i] == -1)
          row.emplace_back(std::nullopt);
        else
          row.emplace_back(std::string(buffers[i].data()));
      }
      set.rows.push_back(std::move(row));
      if (maxRows > 0 && static_cast<CS_INT>(set.rows.size()) >= maxRows) break;
    }
    return set;
  }

  CS_CONNECTION* Connection() const { return conn_; }
  CS_CONTEXT* Context() const { return ctx_; }
  std::vector<ServerMsg> serverMsgs;
  std::vector<ClientMsg> clientMsgs;

 private:
  static Client* Self(CS_CONNECTION* con) {
    Client* self = nullptr;
    if (con) ct_con_props(con, CS_GET, CS_USERDATA, &self, sizeof self, nullptr);
    return self;
  }
  static CS_RETCODE OnServerMsg(CS_CONTEXT*, CS_CONNECTION* con, CS_SERVERMSG* m) {
    if (Client* self = Self(con)) {
      self->serverMsgs.push_back(ServerMsg{
          static_cast<int>(m->msgnumber), static_cast<int>(m->severity), static_cast<int>(m->state),
          static_cast<int>(m->line), std::string(m->text, static_cast<size_t>(m->textlen)),
          std::string(m->proc, static_cast<size_t>(m->proclen)),
          std::string(m->svrname, static_cast<size_t>(m->svrnlen))});
    }
    return CS_SUCCEED;
  }
  static CS_RETCODE OnClientMsg(CS_CONTEXT*, CS_CONNECTION* con, CS_CLIENTMSG* m) {
    if (Client* self = Self(con)) {
      self->clientMsgs.push_back(ClientMsg{
          static_cast<int>(CS_NUMBER(m->msgnumber)), static_cast<int>(CS_SEVERITY(m->msgnumber)),
          std::string(m->msgstring, static_cast<size_t>(m->msgstringlen))});
    }
    return CS_SUCCEED;
  }

  std::string server_, user_, password_;
  CS_INT packetSize_;
  CS_CONTEXT* ctx_ = nullptr;
  CS_CONNECTION* conn_ = nullptr;
  bool connected_ = false;
};

// A server over the scripted engine, started for each test.
class TdsServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine = std::make_shared<FakeEngine>();
    sampleserver::ServerOptions options;
    options.engine = engine;
    options.maxConnections = MaxConnections();
    server = sampleserver::SampleServer::Start(options);
  }
  void TearDown() override { server->Stop(); }
  virtual int MaxConnections() const { return 64; }

  std::unique_ptr<Client> Connected(int packetSize = 0) {
    auto c = std::make_unique<Client>(server->Port(), "sa", "", packetSize);
    EXPECT_EQ(c->Connect(), CS_SUCCEED);
    return c;
  }

  std::shared_ptr<FakeEngine> engine;
  std::unique_ptr<sampleserver::SampleServer> server;
};

// The real engine's server, started for each test, with one client connected as sa.
class RealServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server = sampleserver::SampleServer::Start(sampleserver::ServerOptions{});
    client = std::make_unique<Client>(server->Port());
    ASSERT_EQ(client->Connect(), CS_SUCCEED);
  }
  void TearDown() override {
    client.reset();
    server->Stop();
  }

  std::unique_ptr<sampleserver::SampleServer> server;
  std::unique_ptr<Client> client;
};

// Cursor steps as the query and data-set components send them.
// Declares, sets the row count and opens in one message, as ct_send does.
inline Outcome OpenCursor(CS_COMMAND* cmd, const char* name, const char* select, CS_INT rows,
                          CS_INT option = CS_READ_ONLY) {
  EXPECT_EQ(ct_cursor(cmd, CS_CURSOR_DECLARE, const_cast<char*>(name), CS_NULLTERM,
                      const_cast<char*>(select), CS_NULLTERM, option),
            CS_SUCCEED);
  EXPECT_EQ(ct_cursor(cmd, CS_CURSOR_ROWS, nullptr, CS_UNUSED, nullptr, CS_UNUSED, rows),
            CS_SUCCEED);
  EXPECT_EQ(ct_cursor(cmd, CS_CURSOR_OPEN, nullptr, CS_UNUSED, nullptr, CS_UNUSED, CS_UNUSED),
            CS_SUCCEED);
  EXPECT_EQ(ct_send(cmd), CS_SUCCEED);
  Outcome o;
  CS_INT type = 0;
  CS_RETCODE rc;
  while ((rc = ct_results(cmd, &type)) == CS_SUCCEED) {
    o.types.push_back(type);
    if (type == CS_CURSOR_RESULT) break;
  }
  o.end = rc;
  return o;
}

// Fetches an (int, text) result with arrays of `rows` elements; returns the batch sizes ct_fetch
// reported.
inline std::vector<CS_INT> FetchIntAndText(CS_COMMAND* cmd, CS_INT rows,
                                           std::vector<std::pair<CS_INT, std::string>>& out) {
  std::vector<CS_INT> n(static_cast<size_t>(rows));
  std::vector<char> names(static_cast<size_t>(rows) * 16);
  std::vector<CS_INT> lengths(static_cast<size_t>(rows));
  std::vector<CS_SMALLINT> ind(static_cast<size_t>(rows));
  CS_DATAFMT f{};
  f.datatype = CS_INT_TYPE;
  f.maxlength = sizeof(CS_INT);
  f.count = rows;
  EXPECT_EQ(ct_bind(cmd, 1, &f, n.data(), nullptr, nullptr), CS_SUCCEED);
  CS_DATAFMT g{};
  g.datatype = CS_CHAR_TYPE;
  g.format = CS_FMT_NULLTERM;
  g.maxlength = 16;
  g.count = rows;
  EXPECT_EQ(ct_bind(cmd, 2, &g, names.data(), lengths.data(), ind.data()), CS_SUCCEED);
  std::vector<CS_INT> batches;
  CS_INT read = 0;
  CS_RETCODE rc;
  while ((rc = ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &read)) == CS_SUCCEED) {
    batches.push_back(read);
    for (CS_INT i = 0; i < read; ++i)
      out.emplace_back(n[static_cast<size_t>(i)], &names[static_cast<size_t>(i) * 16]);
  }
  EXPECT_EQ(rc, CS_END_DATA);
  return batches;
}

inline Outcome CloseCursor(CS_COMMAND* cmd, CS_INT option) {
  EXPECT_EQ(ct_cursor(cmd, CS_CURSOR_CLOSE, nullptr, CS_UNUSED, nullptr, CS_UNUSED, option),
            CS_SUCCEED);
  EXPECT_EQ(ct_send(cmd), CS_SUCCEED);
  Outcome o;
  Client::Drain(cmd, o);
  return o;
}

}  // namespace tdstest
