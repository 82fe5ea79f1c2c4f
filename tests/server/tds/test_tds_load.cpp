// Cancel, concurrency, connection limits, shutdown, malformed input on a raw socket, and tsql.
#include "tds_ctlib.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdio>
#include <thread>

namespace tdstest {
namespace {

TEST_F(TdsServerTest, CancelAllWhileRowsStreamThenRunAnotherQuery) {
  auto c = Connected();
  CS_COMMAND* cmd = nullptr;
  ASSERT_EQ(ct_cmd_alloc(c->Connection(), &cmd), CS_SUCCEED);
  std::unique_ptr<CS_COMMAND, CS_RETCODE (*)(CS_COMMAND*)> guard(cmd, ct_cmd_drop);
  ct_command(cmd, CS_LANG_CMD, const_cast<char*>("long 1000000"), CS_NULLTERM, CS_UNUSED);
  ASSERT_EQ(ct_send(cmd), CS_SUCCEED);
  CS_INT type = 0;
  ASSERT_EQ(ct_results(cmd, &type), CS_SUCCEED);
  ASSERT_EQ(type, CS_ROW_RESULT);
  ResultSet first = Client::FetchAll(cmd, 3);
  ASSERT_EQ(first.rows.size(), 3u);
  EXPECT_EQ(first.rows[2][0], "2");
  ASSERT_EQ(ct_cancel(nullptr, cmd, CS_CANCEL_ALL), CS_SUCCEED);
  // The engine noticed the attention and stopped long before the end.
  EXPECT_EQ(engine->state->cancelledBatches.load(), 1);
  EXPECT_LT(engine->state->rowsProduced.load(), 1000000);

  Outcome o = c->Run("select @@spid");
  ASSERT_EQ(o.sets.size(), 1u);
  EXPECT_EQ(o.sets[0].rows.size(), 1u);
  EXPECT_EQ(o.end, CS_END_RESULTS);
  o = c->Run("insert select");
  EXPECT_EQ(o.counts, (std::vector<CS_INT>{3, 2, -1}));
}

TEST_F(TdsServerTest, CancelAfterTheReplyEndedIsAcknowledged) {
  auto c = Connected();
  CS_COMMAND* cmd = nullptr;
  ASSERT_EQ(ct_cmd_alloc(c->Connection(), &cmd), CS_SUCCEED);
  std::unique_ptr<CS_COMMAND, CS_RETCODE (*)(CS_COMMAND*)> guard(cmd, ct_cmd_drop);
  // The whole reply fits the socket buffers, so the attention arrives when the server is idle.
  ct_command(cmd, CS_LANG_CMD, const_cast<char*>("long 20"), CS_NULLTERM, CS_UNUSED);
  ASSERT_EQ(ct_send(cmd), CS_SUCCEED);
  CS_INT type = 0;
  ASSERT_EQ(ct_results(cmd, &type), CS_SUCCEED);
  ::usleep(50000);
  ASSERT_EQ(ct_cancel(nullptr, cmd, CS_CANCEL_ALL), CS_SUCCEED);
  EXPECT_EQ(engine->state->cancelledBatches.load(), 0);
  Outcome o = c->Run("select @@spid");
  ASSERT_EQ(o.sets.size(), 1u);
  EXPECT_EQ(o.end, CS_END_RESULTS);
}

TEST_F(TdsServerTest, ThirtyTwoConcurrentConnections) {
  constexpr int kClients = 32;
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < kClients; ++i) clients.push_back(std::make_unique<Client>(server->Port()));
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (auto& c : clients) {
    threads.emplace_back([&good, client = c.get()] {
      if (client->Connect() != CS_SUCCEED) return;
      bool ok = true;
      for (int round = 0; round < 3; ++round) {
        Outcome o = client->Run("long 300");
        ok = ok && o.end == CS_END_RESULTS && o.sets.size() == 1 && o.sets[0].rows.size() == 300 &&
             o.sets[0].rows[299][0] == "299";
        Outcome t = client->Run("select types");
        ok = ok && t.sets.size() == 1 && t.sets[0].rows.size() == 2 &&
             t.sets[0].rows[0][13] == "abc";
      }
      if (ok) ++good;
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(good.load(), kClients);
  EXPECT_EQ(engine->state->liveSessions.load(), kClients);
}

class TdsLimitTest : public TdsServerTest {
 protected:
  int MaxConnections() const override { return 2; }
};

TEST_F(TdsLimitTest, ConnectionsBeyondTheLimitAreRefused) {
  auto a = Connected();
  auto b = Connected();
  Client refused(server->Port());
  EXPECT_EQ(refused.Connect(), CS_FAIL);
  EXPECT_EQ(a->Run("select @@spid").end, CS_END_RESULTS);
  b.reset();  // logs out; its place frees once the session thread ended
  bool connected = false;
  for (int i = 0; i < 100 && !connected; ++i) {
    Client again(server->Port());
    connected = again.Connect() == CS_SUCCEED;
    if (!connected) ::usleep(20000);
  }
  EXPECT_TRUE(connected);
}

TEST_F(TdsServerTest, StopEndsBusyAndIdleSessions) {
  auto idle = Connected();
  auto busy = Connected();
  CS_COMMAND* cmd = nullptr;
  ASSERT_EQ(ct_cmd_alloc(busy->Connection(), &cmd), CS_SUCCEED);
  std::unique_ptr<CS_COMMAND, CS_RETCODE (*)(CS_COMMAND*)> guard(cmd, ct_cmd_drop);
  // The client reads nothing, so the session blocks writing once the socket buffers are full.
  ct_command(cmd, CS_LANG_CMD, const_cast<char*>("long 1000000"), CS_NULLTERM, CS_UNUSED);
  ASSERT_EQ(ct_send(cmd), CS_SUCCEED);
  ::usleep(100000);
  server->Stop();
  server->Stop();  // idempotent
  EXPECT_EQ(engine->state->liveSessions.load(), 0);
  EXPECT_NE(idle->Run("select @@spid").end, CS_END_RESULTS);
}

// A client speaking raw bytes, for input FreeTDS would never send.
class RawClient {
 public:
  explicit RawClient(uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~RawClient() { ::close(fd_); }
  bool Connected() const { return connected_; }

  void SendPacket(uint8_t type, const std::vector<uint8_t>& body, uint8_t status = 1) {
    std::vector<uint8_t> p = {type,
                              status,
                              static_cast<uint8_t>((body.size() + 8) >> 8),
                              static_cast<uint8_t>(body.size() + 8),
                              0,
                              0,
                              0,
                              0};
    p.insert(p.end(), body.begin(), body.end());
    SendRaw(p);
  }
  void SendRaw(const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }
  // Reads one reply message (up to the end-of-message packet); empty when the server closed.
  std::vector<uint8_t> ReadReply() {
    std::vector<uint8_t> payload;
    for (;;) {
      uint8_t h[8];
      if (!ReadN(h, 8)) return {};
      size_t len = static_cast<size_t>(h[2]) << 8 | h[3];
      std::vector<uint8_t> body(len - 8);
      if (!ReadN(body.data(), body.size())) return {};
      payload.insert(payload.end(), body.begin(), body.end());
      if (h[1] & 1) return payload;
    }
  }
  bool Closed() {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0) return false;
    uint8_t b;
    return ::recv(fd_, &b, 1, 0) == 0;
  }
  bool Login(const std::string& user) {
    std::vector<uint8_t> rec(568, 0);
    auto put = [&](size_t off, size_t width, const std::string& s) {
      std::copy(s.begin(), s.end(), rec.begin() + static_cast<long>(off));
      rec[off + width] = static_cast<uint8_t>(s.size());
    };
    put(0, 30, "rawhost");
    put(31, 30, user);
    put(140, 30, "raw");
    put(480, 30, "us_english");
    put(557, 6, "512");
    SendPacket(0x02, rec);
    std::vector<uint8_t> reply = ReadReply();
    return reply.size() > 3 && reply[0] == 0xAD && reply[3] == 5;
  }

 private:
  bool ReadN(uint8_t* p, size_t n) {
    while (n > 0) {
      pollfd pf{fd_, POLLIN, 0};
      if (::poll(&pf, 1, 5000) <= 0) return false;
      ssize_t r = ::recv(fd_, p, n, 0);
      if (r <= 0) return false;
      p += r;
      n -= static_cast<size_t>(r);
    }
    return true;
  }
  int fd_;
  bool connected_ = false;
};

// The reply's last token is a DONE; its status word.
uint16_t FinalDoneStatus(const std::vector<uint8_t>& reply) {
  if (reply.size() < 9 || reply[reply.size() - 9] != 0xFD) return 0xFFFF;
  return static_cast<uint16_t>(reply[reply.size() - 8] | reply[reply.size() - 7] << 8);
}

TEST_F(TdsServerTest, RawPreloginIsClosedAndOddInputAnswered) {
  {
    RawClient prelogin(server->Port());
    ASSERT_TRUE(prelogin.Connected());
    prelogin.SendPacket(0x12, std::vector<uint8_t>(50, 0));
    EXPECT_TRUE(prelogin.Closed());
  }
  RawClient raw(server->Port());
  ASSERT_TRUE(raw.Login("sa"));
  // An attention while idle gets exactly one DONE with the ATTN bit.
  raw.SendPacket(0x06, {});
  EXPECT_EQ(FinalDoneStatus(raw.ReadReply()), 0x0020);
  // An unknown token: an error message and DONE with the error bit, connection kept.
  std::vector<uint8_t> reply;
  raw.SendPacket(0x0F, {0x34, 0x00, 0x04, 0x00, 0x01});
  reply = raw.ReadReply();
  ASSERT_FALSE(reply.empty());
  EXPECT_EQ(reply[0], 0xE5);
  EXPECT_EQ(FinalDoneStatus(reply), 0x0002);
  // A token whose length runs past the message.
  raw.SendPacket(0x0F, {0x21, 0xFF, 0x00, 0x00, 0x00, 0x00, 's'});
  EXPECT_EQ(FinalDoneStatus(raw.ReadReply()), 0x0002);
  // A language batch split over two packets is reassembled.
  raw.SendPacket(0x0F, {0x21, 0x0E, 0x00, 0x00, 0x00, 0x00, 's', 'e', 'l', 'e'}, 0);
  raw.SendPacket(0x0F, {'c', 't', ' ', '@', '@', 's', 'p', 'i', 'd'});
  reply = raw.ReadReply();
  ASSERT_FALSE(reply.empty());
  EXPECT_EQ(reply[0], 0xEE);
  EXPECT_EQ(FinalDoneStatus(reply), 0x0010);
  // Plain-text query packets run like language batches.
  raw.SendPacket(0x01, {'p', 'r', 'i', 'n', 't'});
  reply = raw.ReadReply();
  ASSERT_FALSE(reply.empty());
  EXPECT_EQ(reply[0], 0xE5);
  EXPECT_EQ(FinalDoneStatus(reply), 0x0000);
  // A header claiming fewer bytes than a header closes the connection.
  raw.SendRaw({0x0F, 0x01, 0x00, 0x04, 0, 0, 0, 0});
  EXPECT_TRUE(raw.Closed());
  // The server still serves others.
  RawClient next(server->Port());
  EXPECT_TRUE(next.Login("sa"));
}

TEST_F(TdsServerTest, RawLoginRefusalAndLogout) {
  RawClient bad(server->Port());
  bad.SendPacket(0x02, std::vector<uint8_t>(100, 0));  // too short to be a login record
  EXPECT_TRUE(bad.Closed());
  RawClient raw(server->Port());
  ASSERT_TRUE(raw.Login("sa"));
  raw.SendPacket(0x0F, {0x71, 0x00});
  EXPECT_EQ(FinalDoneStatus(raw.ReadReply()), 0x0000);
  EXPECT_TRUE(raw.Closed());
}

TEST_F(TdsServerTest, TsqlGetsTheCannedRows) {
  std::string cmd =
      "printf 'select types\\ngo\\nuse pubs2\\ngo\\nselect db_name()\\ngo\\nexit\\n' | "
      "TDSVER=5.0 tsql -H 127.0.0.1 -p " +
      std::to_string(server->Port()) + " -U sa -P '' 2>&1";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(cmd.c_str(), "r"), ::pclose);
  ASSERT_NE(pipe, nullptr);
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe.get())) > 0) out.append(buf, n);
  EXPECT_NE(out.find("-9000000000000000000"), std::string::npos) << out;
  EXPECT_NE(out.find("some text"), std::string::npos) << out;
  EXPECT_NE(out.find("(2 rows affected)"), std::string::npos) << out;
  EXPECT_NE(out.find("pubs2"), std::string::npos) << out;
}

}  // namespace
}  // namespace tdstest
