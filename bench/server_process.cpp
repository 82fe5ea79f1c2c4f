#include "server_process.h"

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

namespace bench {

using Clock = std::chrono::steady_clock;

ServerProcess::ServerProcess(const std::filesystem::path& data) {
  int out[2];
  if (::pipe(out) != 0) throw std::runtime_error("pipe failed");
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    // The server must not outlive the program that started it, whatever becomes of it.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(out[1], STDERR_FILENO);
    ::close(out[0]);
    ::close(out[1]);
    ::execl(SAMPLESERVER_EXE, "sampleserver", "--port", "0", "--data", data.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  output_ = out[0];
  try {
    AwaitPort();
  } catch (...) {
    Stop();
    ::close(output_);
    throw;
  }
  // Whatever the server prints later is read, or it would block on a full pipe.
  drain_ = std::thread([fd = output_] {
    char buf[512];
    while (::read(fd, buf, sizeof buf) > 0) {
    }
  });
}

void ServerProcess::AwaitPort() {
  std::string text;
  const auto deadline = Clock::now() + std::chrono::seconds(60);
  const std::string marker = "sampleserver listening on ";
  while (port_ == 0) {
    pollfd p{output_, POLLIN, 0};
    if (Clock::now() > deadline || ::poll(&p, 1, 1000) < 0)
      throw std::runtime_error("the sample server did not start: " + text);
    if (!(p.revents & (POLLIN | POLLHUP))) continue;
    char buf[512];
    ssize_t n = ::read(output_, buf, sizeof buf);
    if (n <= 0) throw std::runtime_error("the sample server did not start: " + text);
    text.append(buf, static_cast<size_t>(n));
    auto at = text.find(marker);
    auto colon = at == std::string::npos ? at : text.find(':', at + marker.size());
    auto eol = colon == std::string::npos ? colon : text.find('\n', colon);
    if (eol != std::string::npos) port_ = std::atoi(text.substr(colon + 1, eol - colon).c_str());
  }
}

ServerProcess::~ServerProcess() {
  Stop();
  if (drain_.joinable()) drain_.join();
  ::close(output_);
}

bool ServerProcess::Alive() const { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }

ServerProcess::Memory ServerProcess::ReadMemory() const {
  Memory m;
  std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) m.rss = std::atol(line.c_str() + 6);
    if (line.rfind("VmHWM:", 0) == 0) m.peak = std::atol(line.c_str() + 6);
  }
  return m;
}

void ServerProcess::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  for (int i = 0; i < 300 && ::waitpid(pid_, nullptr, WNOHANG) == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  if (::kill(pid_, 0) == 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  pid_ = -1;
}

}  // namespace bench
