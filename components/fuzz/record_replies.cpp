// Records the seed corpus of the reply fuzz target from the sample server: each flow runs through
// a recording proxy, and the server's replies after the login become one input. The login's own
// replies become canned_connect.inc, which the fuzz target answers every login with.
//
//   record_replies <corpus folder> <canned_connect.inc>
#include "reply_flows.h"

#include "connection/norvdatabase.h"
#include "query/norvquery.h"
#include "tds/sampleserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

int Listen(uint16_t& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof addr;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 4) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0)
    throw std::runtime_error("cannot listen");
  port = ntohs(addr.sin_port);
  return fd;
}

int Dial(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
    throw std::runtime_error("cannot reach the sample server");
  return fd;
}

// Passes each client message to the server and keeps the server's reply stream to it.
class RecordingProxy {
 public:
  explicit RecordingProxy(uint16_t serverPort) : serverPort_(serverPort) {
    listener_ = Listen(port_);
    thread_ = std::thread([this] { Run(); });
  }
  ~RecordingProxy() {
    ::shutdown(listener_, SHUT_RDWR);
    ::close(listener_);
    thread_.join();
  }
  uint16_t Port() const { return port_; }

  size_t Count() {
    std::lock_guard lock(mutex_);
    return replies_.size();
  }
  // Every reply since the last call, once the client has closed its connection.
  std::vector<std::vector<uint8_t>> Take() {
    std::unique_lock lock(mutex_);
    closed_.wait(lock, [this] { return !open_; });
    return std::exchange(replies_, {});
  }

 private:
  void Run() {
    for (;;) {
      const int client = ::accept(listener_, nullptr, nullptr);
      if (client < 0) return;
      {
        std::lock_guard lock(mutex_);
        open_ = true;
      }
      const int server = Dial(serverPort_);
      for (;;) {
        std::vector<uint8_t> request;
        if (!norvfuzz::ReadMessage(client, nullptr, &request)) break;
        if (!norvfuzz::WriteAll(server, request.data(), request.size())) break;
        std::vector<uint8_t> reply, raw;
        if (!norvfuzz::ReadMessage(server, &reply, &raw)) break;
        {
          std::lock_guard lock(mutex_);
          replies_.push_back(std::move(reply));
        }
        if (!norvfuzz::WriteAll(client, raw.data(), raw.size())) break;
      }
      ::close(server);
      ::close(client);
      std::lock_guard lock(mutex_);
      open_ = false;
      closed_.notify_all();
    }
  }

  uint16_t serverPort_;
  uint16_t port_ = 0;
  int listener_ = -1;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable closed_;
  bool open_ = false;
  std::vector<std::vector<uint8_t>> replies_;
};

void WriteFile(const QString& path, const std::vector<uint8_t>& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
    throw std::runtime_error("cannot write " + path.toStdString());
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
}

void WriteCanned(const QString& path, const std::vector<std::vector<uint8_t>>& replies) {
  std::string text =
      "// The sample server's replies to a login with the bulk-copy flag and to the statements\n"
      "// the connection runs after it. Written by record_replies; do not edit.\n"
      "struct CannedReply {\n  const uint8_t* data;\n  size_t size;\n};\n";
  for (size_t i = 0; i < replies.size(); ++i) {
    text += "const uint8_t kCanned" + std::to_string(i) + "[] = {";
    for (size_t b = 0; b < replies[i].size(); ++b) {
      text += b % 16 == 0 ? "\n    " : " ";
      text += std::to_string(replies[i][b]) + ",";
    }
    text += "\n};\n";
  }
  text += "const CannedReply kCannedConnect[] = {\n";
  for (size_t i = 0; i < replies.size(); ++i)
    text += "    {kCanned" + std::to_string(i) + ", sizeof kCanned" + std::to_string(i) + "},\n";
  text += "};\n";
  WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

struct Seed {
  const char* name;
  uint8_t flowByte;
};

// One seed per statement or table each flow names (the flow byte's upper bits pick it).
const Seed kSeeds[] = {
    {"query_types", 0 << 2 | norvfuzz::kQuery},
    {"query_divide_error", 1 << 2 | norvfuzz::kQuery},
    {"query_two_results", 2 << 2 | norvfuzz::kQuery},
    {"query_proc_output", 3 << 2 | norvfuzz::kQuery},
    {"query_print_compute", 4 << 2 | norvfuzz::kQuery},
    {"query_text_image", 5 << 2 | norvfuzz::kQuery},
    {"query_cursor", 6 << 2 | norvfuzz::kQuery},
    {"query_max_rows", 7 << 2 | norvfuzz::kQuery},
    {"query_no_table", 8 << 2 | norvfuzz::kQuery},
    {"query_raiserror", 9 << 2 | norvfuzz::kQuery},
    {"query_rollback", 10 << 2 | norvfuzz::kQuery},
    {"dataset_types", 0 << 2 | norvfuzz::kDataSet},
    {"dataset_rows", 1 << 2 | norvfuzz::kDataSet},
    {"dataset_no_table", 2 << 2 | norvfuzz::kDataSet},
    {"dataset_divide_error", 3 << 2 | norvfuzz::kDataSet},
    {"bulkout_types", 0 << 2 | norvfuzz::kBulkOut},
    {"bulkout_rows", 1 << 2 | norvfuzz::kBulkOut},
    {"bulkout_no_table", 2 << 2 | norvfuzz::kBulkOut},
    {"bulkin_types", 0 << 2 | norvfuzz::kBulkIn},
    {"bulkin_rows", 1 << 2 | norvfuzz::kBulkIn},
    {"bulkin_no_table", 2 << 2 | norvfuzz::kBulkIn},
    {"bulkin_separator", 3 << 2 | norvfuzz::kBulkIn},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: record_replies <corpus folder> <canned_connect.inc>\n");
    return 2;
  }
  QCoreApplication app(argc, argv);
  const QString corpus = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(corpus);
  QTemporaryDir data, sybase, scratch;

  sampleserver::ServerOptions options;
  options.dataDir = data.path().toStdString();
  auto server = sampleserver::SampleServer::Start(options);
  RecordingProxy proxy(server->Port());

  QDir(sybase.path()).mkpath(QStringLiteral("INI"));
  QFile ini(sybase.filePath(QStringLiteral("INI/SQL.INI")));
  if (!ini.open(QIODevice::WriteOnly)) return 1;
  ini.write(QStringLiteral("[SAMPLE]\nquery=TCP,127.0.0.1,%1\n[FUZZ]\nquery=TCP,127.0.0.1,%2\n")
                .arg(server->Port())
                .arg(proxy.Port())
                .toUtf8());
  ini.close();
  qputenv("SYBASE", sybase.path().toUtf8());

  {
    auto db = norvfuzz::Connect(QStringLiteral("SAMPLE"));
    if (!db) return 1;
    TNorvQuery q;
    q.SetDbName(QString::fromLatin1(norvfuzz::kDbName));
    for (const char* sql : norvfuzz::SetupStatements()) {
      q.SetSql(QString::fromLatin1(sql));
      if (q.Execute() != CS_SUCCEED) {
        std::fprintf(stderr, "setup failed: %s\n", sql);
        return 1;
      }
      while (q.Fetch() == 1) {
      }
    }
  }

  std::vector<std::vector<uint8_t>> canned;
  for (const Seed& seed : kSeeds) {
    size_t connectReplies = 0;
    {
      auto db = norvfuzz::Connect(QStringLiteral("FUZZ"));
      if (!db) return 1;
      connectReplies = proxy.Count();
      norvfuzz::RunFlow(seed.flowByte, scratch.path());
    }
    std::vector<std::vector<uint8_t>> replies = proxy.Take();
    if (canned.empty()) canned.assign(replies.begin(), replies.begin() + connectReplies);
    if (connectReplies != canned.size()) {
      std::fprintf(stderr, "%s: the login took %zu replies, not %zu\n", seed.name, connectReplies,
                   canned.size());
      return 1;
    }
    // As the server framed it, and again cut into small packets.
    for (size_t payload : {size_t{0}, size_t{13}}) {
      norvfuzz::Script script;
      script.flow = seed.flowByte;
      for (size_t i = connectReplies; i < replies.size(); ++i)
        script.replies.push_back({payload, replies[i]});
      const QString name =
          QString::fromLatin1(seed.name) + (payload ? QStringLiteral("_small_packets") : QString());
      WriteFile(QDir(corpus).filePath(name), norvfuzz::EncodeScript(script));
    }
    std::printf("%s: %zu replies\n", seed.name, replies.size() - connectReplies);
  }
  WriteCanned(QString::fromLocal8Bit(argv[2]), canned);
  server->Stop();
  return 0;
}
