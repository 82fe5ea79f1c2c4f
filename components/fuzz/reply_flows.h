// What the reply fuzz target and its seed recorder share: the input format, TDS packet framing,
// and the component flows that read the replies.
//
// An input is one flow byte, one flags byte, then the replies to the requests the flow sends after
// login, in order: each a packet-size byte, a 16-bit little-endian length and that many bytes of
// reply stream. The flow byte's low two bits pick the flow (query, data set, bulk copy out, bulk
// copy in), the rest the statement or table it names. Flags bit 0 keeps the connection open once
// the replies are spent, and the server silent while the client waits for the rest of a reply cut
// short, so that the client meets its own time-out instead of a closed socket.
#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class TNorvDatabase;

namespace norvfuzz {

// The connection component every flow names.
inline constexpr const char* kDbName = "fuzzdb";

enum Flow : uint8_t { kQuery = 0, kDataSet = 1, kBulkOut = 2, kBulkIn = 3 };
inline constexpr uint8_t kKeepOpen = 1;

struct Reply {
  size_t packetPayload = 0;  // bytes of reply stream per packet
  std::vector<uint8_t> stream;
};

struct Script {
  uint8_t flow = 0;
  uint8_t flags = 0;
  std::vector<Reply> replies;
};

Script ParseInput(const uint8_t* data, size_t size);
std::vector<uint8_t> EncodeScript(const Script& script);
// The packet-size byte of an input: 0 is the login's 512-byte packet, any other value that many
// bytes.
size_t PacketPayloadFromByte(uint8_t value);

// ---- TDS packets -------------------------------------------------------------------------------
inline constexpr size_t kHeaderSize = 8;
inline constexpr uint8_t kPacketReply = 0x04;
inline constexpr uint8_t kStatusEom = 0x01;

// `stream` cut into reply packets of `payload` bytes each, the last one marked end of message.
std::vector<uint8_t> FramePackets(const std::vector<uint8_t>& stream, size_t payload);

// Reads one whole client message (packets up to end of message) from `fd`; false on end of
// stream, error or the socket's receive timeout. The packets are appended to `raw` when given.
bool ReadMessage(int fd, std::vector<uint8_t>* payload, std::vector<uint8_t>* raw = nullptr);
bool WriteAll(int fd, const uint8_t* data, size_t size);

// ---- Flows -------------------------------------------------------------------------------------
// Logs in to `server` as sa with the bulk-copy flag, under the name kDbName; null when the login
// fails (the reason went through the message router).
std::unique_ptr<TNorvDatabase> Connect(const QString& server);
// Runs the flow the flow byte picks on the connection named kDbName; data files go to `scratch`.
// Failures come back as exceptions and message boxes and are swallowed here.
void RunFlow(uint8_t flowByte, const QString& scratch);

// The statements and tables the recorder's database holds, so that its seeds carry real replies.
const std::vector<const char*>& SetupStatements();

}  // namespace norvfuzz
