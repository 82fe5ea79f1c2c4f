// A TCP proxy between the components and the sample server that misbehaves on request: it holds
// each chunk back, stops forwarding, cuts the connection after a number of bytes, or resets it.
// A fault is armed at any moment and starts once a given number of bytes has passed after that,
// so a flow meets it in its middle, on every connection live at that moment.
#pragma once

#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

namespace norvtest {

enum class Direction { ToServer, ToClient };

struct Fault {
  enum class Kind { None, Delay, Stall, Cut, Reset };
  Kind kind = Kind::None;
  // Bytes that still pass in `direction` (counted over all connections from the moment the
  // fault is armed) before it starts. Zero: it starts at once.
  Direction direction = Direction::ToServer;
  uint64_t after = 0;
  std::chrono::milliseconds delay{0};  // Delay: how long each chunk is held back
};

// Listens on an ephemeral loopback port and forwards every connection to host:port, on a thread
// of its own. Destroying it closes every socket and joins the thread.
class FaultProxy {
 public:
  FaultProxy(const QString& host, uint16_t port);
  ~FaultProxy();
  FaultProxy(const FaultProxy&) = delete;
  FaultProxy& operator=(const FaultProxy&) = delete;

  uint16_t Port() const;
  // Names the proxy in $SYBASE/INI/SQL.INI (appended beside the sample server's entry).
  void AddToSqlIni(const QString& serverName) const;

  // Replaces the fault; Stall, Cut and Reset apply to every connection live when it starts, and
  // Cut and Reset refuse new connections until the next Arm. Arm({}) heals: new connections pass,
  // and those a fault had stopped are closed (what they held is never delivered late).
  void Arm(const Fault& fault);
  bool Started() const;                // the armed fault has started
  uint64_t Passed(Direction d) const;  // bytes forwarded since construction
  int Connections() const;             // live client connections

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace norvtest
