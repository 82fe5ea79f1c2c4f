#include "tds/packet.h"

#include "tds/wire.h"

#include <algorithm>

namespace sampleserver::tds {

void PacketAssembler::Feed(const uint8_t* data, size_t size) {
  raw_.insert(raw_.end(), data, data + size);
  size_t pos = 0;
  while (raw_.size() - pos >= kHeaderSize) {
    const uint8_t* h = raw_.data() + pos;
    size_t total = static_cast<size_t>(h[2]) << 8 | h[3];
    if (total < kHeaderSize) throw ProtocolError("packet length below header size");
    if (raw_.size() - pos < total) break;
    Packet(h, total);
    pos += total;
  }
  raw_.erase(raw_.begin(), raw_.begin() + static_cast<std::ptrdiff_t>(pos));
}

void PacketAssembler::Packet(const uint8_t* p, size_t total) {
  uint8_t type = p[0];
  bool eom = (p[1] & kStatusEom) != 0;
  if (type == kPacketAttention) {
    inMessage_ = false;
    current_ = Message{};
    ready_.push_back(Message{kPacketAttention, {}});
    return;
  }
  if (inMessage_ && current_.type == kPacketBulk && type != kPacketBulk) {
    // The client gave up on a bulk message (a cancelled copy) and sent a request; rows it still
    // held may come in front of that request.
    inMessage_ = false;
  }
  if (!inMessage_) {
    current_ = Message{};
    current_.type = type;
    inMessage_ = true;
  }
  if (current_.type == kPacketBulk) {
    ready_.push_back(Message{kPacketBulk, std::vector<uint8_t>(p + kHeaderSize, p + total), !eom});
    inMessage_ = !eom;
    return;
  }
  size_t body = total - kHeaderSize;
  if (current_.payload.size() + body > maxMessage_) throw ProtocolError("message too large");
  current_.payload.insert(current_.payload.end(), p + kHeaderSize, p + total);
  if (eom) {
    ready_.push_back(std::move(current_));
    current_ = Message{};
    inMessage_ = false;
  }
}

Message PacketAssembler::Pop() {
  Message m = std::move(ready_.front());
  ready_.pop_front();
  return m;
}

int PacketAssembler::TakeAttentions() {
  int n = 0;
  for (auto it = ready_.begin(); it != ready_.end();) {
    if (it->type == kPacketAttention) {
      it = ready_.erase(it);
      ++n;
    } else {
      ++it;
    }
  }
  return n;
}

void AppendPackets(uint8_t type, const uint8_t* payload, size_t size, size_t packetSize, bool last,
                   std::vector<uint8_t>& out) {
  packetSize = std::clamp<size_t>(packetSize, 512, 65535);
  size_t room = packetSize - kHeaderSize;
  size_t pos = 0;
  do {
    size_t n = std::min(room, size - pos);
    bool final = last && pos + n == size;
    size_t total = n + kHeaderSize;
    uint8_t header[kHeaderSize] = {type,
                                   static_cast<uint8_t>(final ? kStatusEom : 0),
                                   static_cast<uint8_t>(total >> 8),
                                   static_cast<uint8_t>(total),
                                   0,
                                   0,
                                   0,
                                   0};
    out.insert(out.end(), header, header + kHeaderSize);
    out.insert(out.end(), payload + pos, payload + pos + n);
    pos += n;
  } while (pos < size);
}

}  // namespace sampleserver::tds
