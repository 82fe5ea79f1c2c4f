// The sample server as a child process on a free loopback port, its databases in a folder of
// the caller's: the benchmarks run it apart from the program they measure, as a real server
// would be, and read its memory from /proc.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <thread>

namespace bench {

class ServerProcess {
 public:
  // Starts the server and waits (up to a minute) until it listens; throws if it does not.
  explicit ServerProcess(const std::filesystem::path& data);
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  int Port() const { return port_; }
  bool Alive() const;

  // Resident and peak resident memory in kB, from /proc.
  struct Memory {
    long rss = 0;
    long peak = 0;
  };
  Memory ReadMemory() const;

  // Asks the server to end, and kills it if it has not within 30 seconds.
  void Stop();

 private:
  void AwaitPort();

  pid_t pid_ = -1;
  int output_ = -1;
  int port_ = 0;
  std::thread drain_;
};

}  // namespace bench
