#include "tds/sampleserver.h"

#include "tds/connection.h"
#include "tds/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <list>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace sampleserver {

namespace {

struct SessionThread {
  tds::UniqueFd socket;
  std::thread thread;
  std::atomic<bool> finished{false};
};

std::runtime_error SystemError(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

}  // namespace

struct SampleServer::Impl {
  std::shared_ptr<Engine> engine;
  std::string host;
  uint16_t port = 0;
  int maxConnections = 64;
  tds::UniqueFd listener;
  tds::UniqueFd wakeRead, wakeWrite;
  std::thread acceptor;
  std::mutex mutex;  // guards sessions and stopped
  std::list<std::unique_ptr<SessionThread>> sessions;
  bool stopped = false;

  void AcceptLoop();
  void Reap();
};

void SampleServer::Impl::Reap() {
  std::lock_guard lock(mutex);
  for (auto it = sessions.begin(); it != sessions.end();) {
    if ((*it)->finished) {
      (*it)->thread.join();
      it = sessions.erase(it);
    } else {
      ++it;
    }
  }
}

void SampleServer::Impl::AcceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listener.Get(), POLLIN, 0}, {wakeRead.Get(), POLLIN, 0}};
    int r = ::poll(fds, 2, -1);
    if (r < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    if (!(fds[0].revents & POLLIN)) continue;
    tds::UniqueFd client(::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!client) continue;
    Reap();
    int one = 1;
    ::setsockopt(client.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::lock_guard lock(mutex);
    if (stopped) return;
    // Beyond the limit the connection is closed at once; the client reports it cannot connect.
    if (static_cast<int>(sessions.size()) >= maxConnections) continue;
    auto s = std::make_unique<SessionThread>();
    s->socket = std::move(client);
    SessionThread* raw = s.get();
    Engine* e = engine.get();
    s->thread = std::thread([raw, e] {
      tds::Connection(raw->socket.Get(), *e).Run();
      raw->finished = true;
    });
    sessions.push_back(std::move(s));
  }
}

SampleServer::SampleServer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

SampleServer::~SampleServer() { Stop(); }

std::unique_ptr<SampleServer> SampleServer::Start(const ServerOptions& options) {
  auto impl = std::make_unique<Impl>();
  impl->engine = options.engine;
  if (!impl->engine) impl->engine = Engine::Create(EngineConfig{options.dataDir, "SAMPLE"});
  impl->maxConnections = options.maxConnections;

  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  std::string port = std::to_string(options.port);
  if (int rc = ::getaddrinfo(options.host.c_str(), port.c_str(), &hints, &found); rc != 0) {
    throw std::runtime_error("cannot resolve " + options.host + ": " + ::gai_strerror(rc));
  }
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(found, ::freeaddrinfo);
  tds::UniqueFd fd(::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, 0));
  if (!fd) throw SystemError("socket");
  int one = 1;
  ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(fd.Get(), found->ai_addr, found->ai_addrlen) != 0) {
    throw SystemError("cannot bind " + options.host + ":" + port);
  }
  if (::listen(fd.Get(), 128) != 0) throw SystemError("listen");
  sockaddr_storage bound{};
  socklen_t len = sizeof bound;
  ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&bound), &len);
  impl->port =
      ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                        : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  impl->host = options.host;
  impl->listener = std::move(fd);

  int pipefd[2];
  if (::pipe2(pipefd, O_CLOEXEC) != 0) throw SystemError("pipe");
  impl->wakeRead = tds::UniqueFd(pipefd[0]);
  impl->wakeWrite = tds::UniqueFd(pipefd[1]);
  Impl* raw = impl.get();
  impl->acceptor = std::thread([raw] { raw->AcceptLoop(); });
  return std::unique_ptr<SampleServer>(new SampleServer(std::move(impl)));
}

uint16_t SampleServer::Port() const { return impl_->port; }

const std::string& SampleServer::Host() const { return impl_->host; }

void SampleServer::Stop() {
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->stopped) return;
    impl_->stopped = true;
  }
  char byte = 1;
  while (::write(impl_->wakeWrite.Get(), &byte, 1) < 0 && errno == EINTR) {
  }
  if (impl_->acceptor.joinable()) impl_->acceptor.join();
  impl_->listener.Reset();
  std::list<std::unique_ptr<SessionThread>> sessions;
  {
    std::lock_guard lock(impl_->mutex);
    sessions.swap(impl_->sessions);
  }
  // Unblocks session threads waiting in recv or send; they then leave on their own.
  for (auto& s : sessions) ::shutdown(s->socket.Get(), SHUT_RDWR);
  for (auto& s : sessions) s->thread.join();
}

}  // namespace sampleserver
