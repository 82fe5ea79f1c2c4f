// The sample server in-process: a listener thread on a loopback address and one thread per
// client session, serving TDS 5.0 on top of the engine.
#pragma once

#include "engine/engine.h"

#include <cstdint>
#include <memory>
#include <string>

namespace sampleserver {

struct ServerOptions {
  std::string host = "127.0.0.1";
  uint16_t port = 0;  // 0: any free port
  std::string dataDir;
  std::shared_ptr<Engine> engine;  // null: Engine::Create({dataDir})
  int maxConnections = 64;
};

class SampleServer {
 public:
  // Throws std::runtime_error when the address cannot be bound or the engine cannot be created.
  static std::unique_ptr<SampleServer> Start(const ServerOptions& options);
  ~SampleServer();
  SampleServer(const SampleServer&) = delete;
  SampleServer& operator=(const SampleServer&) = delete;

  uint16_t Port() const;
  const std::string& Host() const;
  // Closes the listener and every session, then waits for their threads. Idempotent.
  void Stop();

  struct Impl;

 private:
  explicit SampleServer(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace sampleserver
