#include "fault_proxy.h"

#include <QDir>
#include <QFile>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <list>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace norvtest {
namespace {

using Clock = std::chrono::steady_clock;

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Close(); }
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Close();
      fd_ = other.fd_;
      other.fd_ = -1;
    }
    return *this;
  }
  int get() const { return fd_; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  // A FIN rather than the RST that unread input would cause.
  void CloseCleanly() {
    if (fd_ < 0) return;
    ::shutdown(fd_, SHUT_WR);
    char sink[4096];
    while (::recv(fd_, sink, sizeof sink, MSG_DONTWAIT) > 0) {
    }
    Close();
  }
  void Reset() {
    if (fd_ < 0) return;
    linger l{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    Close();
  }

 private:
  int fd_ = -1;
};

struct Chunk {
  Clock::time_point ready;
  std::string bytes;
};

// One direction of a connection: bytes read from `from`, waiting to be written to `to`.
struct Flow {
  std::deque<Chunk> pending;
  size_t size = 0;
  bool eof = false;  // `from` has closed; `to` is shut once the rest is written
  bool shut = false;
  uint64_t limit = UINT64_MAX;  // Cut/Reset: bytes still to write before the connection goes
};

struct Pair {
  Fd client, server;
  Flow up, down;  // to the server, to the client
  bool stalled = false;
  Fault::Kind ending = Fault::Kind::None;  // Cut or Reset once `limit` is written
  bool dead = false;
};

constexpr size_t kReadSize = 16384;
constexpr size_t kMaxPending = 256 * 1024;  // read no more until the other side takes it

}  // namespace

struct FaultProxy::Impl {
  QString host;
  uint16_t target = 0;
  uint16_t port = 0;
  Fd listener;
  Fd wake;
  std::thread thread;

  mutable std::mutex mutex;  // guards what follows, set from the test's thread
  Fault fault;
  uint64_t counted = 0;  // bytes in fault.direction since Arm
  bool started = false;
  bool changed = false;  // Arm since the loop last looked
  bool stop = false;
  std::atomic<uint64_t> passed[2] = {0, 0};
  std::atomic<int> connections{0};

  std::list<Pair> pairs;  // the loop's own

  void Wake() const {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake.get(), &one, sizeof one);
  }

  void Run();
  void Accept();
  void Read(Pair& pair, bool up);
  void Write(Pair& pair, bool up);
  void StartFault(Pair* trigger);
  void End(Pair& pair, Fault::Kind how);
};

FaultProxy::FaultProxy(const QString& host, uint16_t port) : impl_(std::make_unique<Impl>()) {
  impl_->host = host;
  impl_->target = port;
  impl_->listener = Fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (impl_->listener.get() < 0 ||
      ::bind(impl_->listener.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(impl_->listener.get(), 16) != 0 ||
      ::getsockname(impl_->listener.get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0)
    throw std::runtime_error("fault proxy: cannot listen");
  impl_->port = ntohs(addr.sin_port);
  impl_->wake = Fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  impl_->thread = std::thread([this] { impl_->Run(); });
}

FaultProxy::~FaultProxy() {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->stop = true;
  }
  impl_->Wake();
  impl_->thread.join();
}

uint16_t FaultProxy::Port() const { return impl_->port; }

void FaultProxy::AddToSqlIni(const QString& serverName) const {
  QFile ini(QDir(qEnvironmentVariable("SYBASE")).filePath(QStringLiteral("INI/SQL.INI")));
  if (!ini.open(QIODevice::Append)) throw std::runtime_error("fault proxy: cannot write SQL.INI");
  ini.write(
      QStringLiteral("\n[%1]\nquery=TCP,127.0.0.1,%2\n").arg(serverName).arg(Port()).toUtf8());
}

void FaultProxy::Arm(const Fault& fault) {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->fault = fault;
    impl_->counted = 0;
    impl_->started = fault.kind != Fault::Kind::None && fault.after == 0;
    impl_->changed = true;
  }
  impl_->Wake();
}

bool FaultProxy::Started() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->started;
}

uint64_t FaultProxy::Passed(Direction d) const {
  return impl_->passed[d == Direction::ToServer ? 0 : 1].load();
}

int FaultProxy::Connections() const { return impl_->connections.load(); }

void FaultProxy::Impl::End(Pair& pair, Fault::Kind how) {
  if (pair.dead) return;
  if (how == Fault::Kind::Reset) {
    pair.client.Reset();
    pair.server.Reset();
  } else {
    pair.client.CloseCleanly();
    pair.server.CloseCleanly();
  }
  pair.dead = true;
  --connections;
}

// Called under the mutex when the armed fault starts: what each connection has read so far
// still passes, nothing more is read. `trigger` is the connection whose bytes reached the count
// (null when the fault starts on Arm).
void FaultProxy::Impl::StartFault(Pair* trigger) {
  started = true;
  const Fault::Kind kind = fault.kind;
  if (kind == Fault::Kind::Delay) return;
  for (Pair& pair : pairs) {
    if (pair.dead) continue;
    if (kind != Fault::Kind::Stall && &pair != trigger) {
      End(pair, kind);
      continue;
    }
    pair.stalled = true;
    pair.up.limit = pair.up.size;
    pair.down.limit = pair.down.size;
    if (kind != Fault::Kind::Stall) pair.ending = kind;
  }
}

void FaultProxy::Impl::Accept() {
  for (;;) {
    Fd client(::accept4(listener.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (client.get() < 0) return;
    {
      std::lock_guard lock(mutex);
      if (started && (fault.kind == Fault::Kind::Cut || fault.kind == Fault::Kind::Reset)) {
        if (fault.kind == Fault::Kind::Reset)
          client.Reset();
        else
          client.CloseCleanly();
        continue;
      }
    }
    Fd server(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(target);
    ::inet_pton(AF_INET, host.toLatin1().constData(), &addr.sin_addr);
    // Loopback: the connect is immediate, so it may block.
    if (::connect(server.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) continue;
    ::fcntl(server.get(), F_SETFL, O_NONBLOCK);
    Pair& pair = pairs.emplace_back();
    pair.client = std::move(client);
    pair.server = std::move(server);
    ++connections;
    std::lock_guard lock(mutex);
    if (started && fault.kind == Fault::Kind::Stall) {
      pair.stalled = true;
      pair.up.limit = pair.down.limit = 0;
    }
  }
}

void FaultProxy::Impl::Read(Pair& pair, bool up) {
  Flow& flow = up ? pair.up : pair.down;
  const int from = up ? pair.client.get() : pair.server.get();
  std::string bytes(kReadSize, '\0');
  const ssize_t n = ::recv(from, bytes.data(), bytes.size(), MSG_DONTWAIT);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
  if (n == 0) {
    flow.eof = true;
    return;
  }
  if (n < 0) {
    End(pair, Fault::Kind::Cut);
    return;
  }
  bytes.resize(static_cast<size_t>(n));
  std::lock_guard lock(mutex);
  const Direction direction = up ? Direction::ToServer : Direction::ToClient;
  std::string rest;  // read after the fault started
  bool starts = false;
  if (!started && fault.kind != Fault::Kind::None && fault.direction == direction) {
    const uint64_t left = fault.after - counted;
    if (bytes.size() >= left) {
      rest = bytes.substr(static_cast<size_t>(left));
      bytes.resize(static_cast<size_t>(left));
      starts = true;
    } else {
      counted += bytes.size();
    }
  }
  const Clock::time_point now = Clock::now();
  const auto push = [&](std::string&& chunk) {
    if (chunk.empty()) return;
    const bool delayed = started && fault.kind == Fault::Kind::Delay;
    flow.size += chunk.size();
    flow.pending.push_back({delayed ? now + fault.delay : now, std::move(chunk)});
  };
  push(std::move(bytes));
  if (starts) StartFault(&pair);
  push(std::move(rest));
}

void FaultProxy::Impl::Write(Pair& pair, bool up) {
  Flow& flow = up ? pair.up : pair.down;
  const int to = up ? pair.server.get() : pair.client.get();
  const Clock::time_point now = Clock::now();
  while (!flow.pending.empty() && flow.pending.front().ready <= now && flow.limit > 0) {
    Chunk& chunk = flow.pending.front();
    const size_t want = static_cast<size_t>(std::min<uint64_t>(chunk.bytes.size(), flow.limit));
    const ssize_t n = ::send(to, chunk.bytes.data(), want, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) End(pair, Fault::Kind::Cut);
      return;
    }
    passed[up ? 0 : 1] += static_cast<uint64_t>(n);
    flow.size -= static_cast<size_t>(n);
    if (flow.limit != UINT64_MAX) flow.limit -= static_cast<uint64_t>(n);
    chunk.bytes.erase(0, static_cast<size_t>(n));
    if (chunk.bytes.empty()) flow.pending.pop_front();
  }
  if (pair.ending != Fault::Kind::None && pair.up.limit == 0 && pair.down.limit == 0) {
    End(pair, pair.ending);
    return;
  }
  if (flow.eof && flow.pending.empty() && !flow.shut) {
    ::shutdown(to, SHUT_WR);
    flow.shut = true;
  }
}

void FaultProxy::Impl::Run() {
  std::vector<pollfd> fds;
  std::vector<std::pair<Pair*, bool>> owners;  // per pollfd after the first two: pair, client?
  for (;;) {
    {
      std::lock_guard lock(mutex);
      if (stop) break;
      if (changed) {
        changed = false;
        for (Pair& pair : pairs) {
          // Its client has given up on it by now; what it holds is never delivered late.
          if (pair.stalled) End(pair, Fault::Kind::Cut);
          pair.ending = Fault::Kind::None;
          pair.up.limit = pair.down.limit = UINT64_MAX;
        }
        if (started) StartFault(nullptr);
      }
    }
    for (auto it = pairs.begin(); it != pairs.end();) {
      const bool done = it->up.shut && it->down.shut;
      if (done && !it->dead) End(*it, Fault::Kind::Cut);
      it = it->dead ? pairs.erase(it) : std::next(it);
    }

    // Everything due is written first; what is left waits for room or for its time.
    Clock::time_point next = Clock::time_point::max();
    for (Pair& pair : pairs) {
      for (const bool up : {true, false}) {
        if (pair.dead) continue;
        Write(pair, up);
        const Flow& flow = up ? pair.up : pair.down;
        if (!pair.dead && !flow.pending.empty() && flow.limit > 0)
          next = std::min(next, flow.pending.front().ready);
      }
    }

    fds.clear();
    owners.clear();
    fds.push_back({listener.get(), POLLIN, 0});
    fds.push_back({wake.get(), POLLIN, 0});
    const Clock::time_point now = Clock::now();
    for (Pair& pair : pairs) {
      if (pair.dead) continue;
      for (const bool client : {true, false}) {
        // The client's socket is read for the flow up and written for the flow down.
        const Flow& in = client ? pair.up : pair.down;
        const Flow& out = client ? pair.down : pair.up;
        short events = 0;
        if (!pair.stalled && !in.eof && in.size < kMaxPending) events |= POLLIN;
        if (out.limit > 0 && !out.pending.empty() && out.pending.front().ready <= now)
          events |= POLLOUT;
        fds.push_back({client ? pair.client.get() : pair.server.get(), events, 0});
        owners.emplace_back(&pair, client);
      }
    }
    int timeout = -1;
    if (next != Clock::time_point::max())
      timeout = static_cast<int>(std::clamp<int64_t>(
          std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count() + 1, 0, 1000));
    if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) break;

    if (fds[1].revents & POLLIN) {
      uint64_t value = 0;
      [[maybe_unused]] const ssize_t n = ::read(wake.get(), &value, sizeof value);
    }
    if (fds[0].revents & POLLIN) Accept();
    for (size_t i = 2; i < fds.size(); ++i) {
      auto [pair, client] = owners[i - 2];
      if (pair->dead) continue;
      if (pair->stalled) {
        // Its input waits in the kernel; a socket in error would only wake the loop again.
        if (fds[i].revents & (POLLERR | POLLHUP | POLLNVAL)) End(*pair, Fault::Kind::Cut);
        continue;
      }
      if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) Read(*pair, client);
    }
  }
  for (Pair& pair : pairs) End(pair, Fault::Kind::Cut);
  pairs.clear();
}

}  // namespace norvtest
