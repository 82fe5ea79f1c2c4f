// TDS packet framing: an 8-byte header (type, status, big-endian total length, channel, number,
// window) in front of each piece of a message; status bit 0x01 marks a message's last packet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace sampleserver::tds {

enum PacketType : uint8_t {
  kPacketQuery = 0x01,  // plain SQL text (emulated prepared statements)
  kPacketLogin = 0x02,
  kPacketReply = 0x04,
  kPacketAttention = 0x06,
  kPacketBulk = 0x07,
  kPacketNormal = 0x0F,
  kPacketPrelogin = 0x12,
};

constexpr size_t kHeaderSize = 8;
constexpr uint8_t kStatusEom = 0x01;

struct Message {
  uint8_t type = 0;
  std::vector<uint8_t> payload;
  bool partial = false;  // a bulk message's piece that more pieces follow
};

// Turns a byte stream into whole messages. Attention packets always stand alone: one arriving in
// the middle of a message drops the unfinished message, because the client abandoned it. Bulk
// messages are the exception to wholeness: each packet is handed on as a piece (a batch may be
// far larger than any message limit), and a packet of another type ends an unfinished one.
class PacketAssembler {
 public:
  explicit PacketAssembler(size_t maxMessage = 64u << 20) : maxMessage_(maxMessage) {}

  // Throws ProtocolError on a header that cannot be valid or a message over the limit.
  void Feed(const uint8_t* data, size_t size);

  bool HasMessage() const { return !ready_.empty(); }
  Message Pop();
  // Removes queued attention messages and returns how many there were.
  int TakeAttentions();
  // Bytes of a message that has begun but not ended (tests and diagnostics).
  bool MidMessage() const { return inMessage_ || !raw_.empty(); }

 private:
  void Packet(const uint8_t* p, size_t total);

  size_t maxMessage_;
  std::vector<uint8_t> raw_;  // an incomplete packet
  bool inMessage_ = false;
  Message current_;
  std::deque<Message> ready_;
};

// Appends `payload` to `out` as packets of at most `packetSize` bytes (header included); the last
// packet carries the end-of-message bit when `last` is set.
void AppendPackets(uint8_t type, const uint8_t* payload, size_t size, size_t packetSize, bool last,
                   std::vector<uint8_t>& out);

}  // namespace sampleserver::tds
