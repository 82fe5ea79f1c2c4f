// The components' handling of server replies: a fake server on a loopback socket in this process
// completes the login with the canned replies a real server gave, then answers each request of
// the flow with the next reply of the input, framed into packets of the input's size. Once the
// replies are spent it closes the connection, or (flags) waits for the client to give up. The
// query, a data set and a bulk copy in and out read what comes back; nothing may crash, leak,
// hang or touch memory wrongly, and failures must come back as errors.
#include "reply_flows.h"

#include "connection/norvcontext.h"
#include "connection/norvdatabase.h"
#include "connection/presenter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

namespace {

// The replies of the sample server to the login and the statements the connection runs after it
// (record_replies writes this file).
#include "canned_connect.inc"

// Every box the components would show is dropped: a fuzz run has nobody to click.
class QuietPresenter : public norv::Presenter {
 public:
  void ShowMessageBox(const QString& caption, const QString& text, norv::MsgIcon) override {
    if (qEnvironmentVariableIntValue("NORV_FUZZ_VERBOSE"))
      std::fprintf(stderr, "[box] %s: %s\n", qPrintable(caption), qPrintable(text));
  }
  void ShowMessageWindow(const QString&, const QString&, norv::PanelColour) override {}
  void Beep() override {}
  void SetWaitCursor(bool) override {}
  bool LoginPrompt(norv::TLoginRequest&) override { return false; }
  bool Confirm(const QString&, const QString&) override { return false; }
};

struct Fd {
  int fd = -1;
  explicit Fd(int value) : fd(value) {}
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
};

// What lives for the whole run: the application object, the fake server's listening socket, the
// SQL.INI naming it, and the library context the connections find.
struct Harness {
  Harness();
  int argc = 1;
  char name[13] = "fuzz_replies";
  char* argv[2] = {name, nullptr};
  QCoreApplication app{argc, argv};
  QTemporaryDir sybase;
  QTemporaryDir scratch;
  Fd listener{::socket(AF_INET, SOCK_STREAM, 0)};
  std::unique_ptr<TNorvContext> context;
};

Harness& TheHarness() {
  static Harness harness;
  return harness;
}

// Answers one connection: the canned login replies, then the input's from `next` on. A client
// that reconnects after a lost connection gets the replies the first connection left. False when
// the client fell silent: it waits for a reply that is not coming (a reply cut short, or the
// connection kept open after the last one) and has to give up by its own time-out.
bool Serve(int fd, const norvfuzz::Script& script, size_t& next) {
  // With the connection kept open the server outwaits the client's one-second time-out, a
  // little longer so that a client that keeps waiting past it still ends; otherwise it closes
  // soon after the client falls silent, which keeps the run fast.
  const bool keepOpen = script.flags & norvfuzz::kKeepOpen;
  timeval wait{keepOpen ? 1 : 0, keepOpen ? 500000 : 300000};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  auto answer = [fd](const std::vector<uint8_t>& stream, size_t payload) {
    errno = 0;
    if (!norvfuzz::ReadMessage(fd, nullptr)) return false;
    const std::vector<uint8_t> packets = norvfuzz::FramePackets(stream, payload);
    return norvfuzz::WriteAll(fd, packets.data(), packets.size());
  };
  for (const CannedReply& canned : kCannedConnect)
    if (!answer(std::vector<uint8_t>(canned.data, canned.data + canned.size), 512 - 8))
      return errno != EAGAIN;
  for (; next < script.replies.size(); ++next)
    if (!answer(script.replies[next].stream, script.replies[next].packetPayload))
      return errno != EAGAIN;
  errno = 0;
  if (keepOpen && !norvfuzz::ReadMessage(fd, nullptr)) return errno != EAGAIN;
  return true;
}

Harness::Harness() {
  norv::InstallPresenter(std::make_unique<QuietPresenter>());

  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof addr;
  if (::bind(listener.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listener.fd, 4) != 0 ||
      ::getsockname(listener.fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0)
    std::abort();

  QDir(sybase.path()).mkpath(QStringLiteral("INI"));
  QFile ini(sybase.filePath(QStringLiteral("INI/SQL.INI")));
  if (!ini.open(QIODevice::WriteOnly)) std::abort();
  ini.write(QStringLiteral("[FUZZ]\nquery=TCP,127.0.0.1,%1\n").arg(ntohs(addr.sin_port)).toUtf8());
  ini.close();
  qputenv("SYBASE", sybase.path().toUtf8());

  // Every wait on the fake server is bounded: a reply that never ends costs a second or two.
  context = std::make_unique<TNorvContext>();
  context->SetName(QStringLiteral("default"));  // the context connections find by default
  context->SetTimeOut(1);
}

}  // namespace

// FreeTDS's own cursor leak, as in scripts/lsan.supp: the stripped library can only be matched by
// name, and every allocation of ours stays checked.
extern "C" const char* __lsan_default_suppressions() { return "leak:libct.so\n"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Harness& harness = TheHarness();
  const norvfuzz::Script script = norvfuzz::ParseInput(data, size);

  std::atomic<bool> clientDone{false};
  std::thread server([&harness, &script, &clientDone] {
    size_t next = 0;
    bool stalled = false;
    while (!clientDone) {
      pollfd listening{harness.listener.fd, POLLIN, 0};
      if (::poll(&listening, 1, 2) != 1) continue;
      Fd client(::accept(harness.listener.fd, nullptr, nullptr));
      // One silent wait an input: a client that reconnects after it finds the server gone.
      if (client.fd >= 0 && !stalled) stalled = !Serve(client.fd, script, next);
    }
  });
  {
    std::unique_ptr<TNorvDatabase> db = norvfuzz::Connect(QStringLiteral("FUZZ"));
    if (db) norvfuzz::RunFlow(script.flow, harness.scratch.path());
  }
  clientDone = true;
  server.join();
  return 0;
}
