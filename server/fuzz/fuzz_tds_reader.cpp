// Arbitrary bytes through the packet reader and the request parsers, as a client could send them.
#include "tds/packet.h"
#include "tds/requests.h"
#include "tds/wire.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace sampleserver::tds;
  // A small message limit reaches the over-limit path without huge inputs.
  PacketAssembler input(1 << 16);
  // The first byte picks how the stream is cut into reads, as the network may cut it.
  size_t chunk = size > 0 ? data[0] % 17 + 1 : 1;
  try {
    for (size_t pos = 1; pos < size; pos += chunk) {
      size_t n = pos + chunk <= size ? chunk : size - pos;
      input.Feed(data + pos, n);
      while (input.HasMessage()) {
        Message m = input.Pop();
        try {
          if (m.type == kPacketLogin) {
            LoginRecord login = ParseLogin(m.payload);
            if (login.packetSize < 512 || login.packetSize > 65535) __builtin_trap();
          } else {
            std::vector<Request> requests = ParseRequests(m.payload);
            if (requests.size() > m.payload.size()) __builtin_trap();
          }
        } catch (const ProtocolError&) {
        }
      }
      input.TakeAttentions();
    }
  } catch (const ProtocolError&) {
    // A broken header ends the connection; nothing else to check.
  }
  return 0;
}
