// One client connection: login, then requests until logout or end of stream. Runs on its own
// thread; the socket is owned by the server, which shuts it down to stop the session.
#pragma once

#include "engine/engine.h"
#include "tds/bulk.h"
#include "tds/packet.h"
#include "tds/requests.h"
#include "tds/wire.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sampleserver::tds {

class ReplySink;

class Connection {
 public:
  Connection(int fd, Engine& engine);
  ~Connection();
  // Serves the connection until the client leaves or the socket is shut down. Never throws.
  void Run();

  // Reads what has arrived without blocking; true once an attention is pending.
  bool PollAttention();
  // One DONE with the ATTN bit went out: every attention received so far is answered.
  void ConsumeAttention();
  // Sends whole packets of `bytes`, keeping a tail shorter than a packet unless `last`.
  void Send(std::vector<uint8_t>& bytes, bool last);

 private:
  bool ReadMore();
  std::optional<Message> NextMessage();
  bool Login(const Message& first);
  bool Serve(const Message& m);  // false: close the connection
  void HandleRequests(const std::vector<Request>& requests, ReplySink& sink);
  void HandleCursor(const Request& r, ReplySink& sink, bool& failed,
                    std::optional<int32_t>& fetched);
  int32_t ResolveCursor(int32_t id, const std::string& name, ReplySink& sink);
  void Unsupported(ReplySink& sink, const std::string& text);

  int fd_;
  Engine& engine_;
  std::unique_ptr<Session> session_;
  PacketAssembler input_;
  size_t packetSize_ = 512;
  int attentions_ = 0;
  std::chrono::steady_clock::time_point lastPoll_{};
  bool closed_ = false;
  std::map<int32_t, std::vector<ColumnInfo>> cursorColumns_;
  BulkCopy bulk_;
  BulkText text_;
};

}  // namespace sampleserver::tds
