#include "tds/connection.h"

#include "tds/params.h"
#include "tds/rpc.h"
#include "tds/tokens.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <type_traits>

namespace sampleserver::tds {

namespace {

constexpr uint8_t kProductVersion[4] = {15, 7, 0, 0};
constexpr char kProductName[] = "Adaptive Server Enterprise";
constexpr int32_t kMsgCursorNotFound = 557;
// This server's own number for a request it does not serve.
constexpr int32_t kMsgUnsupported = 16001;

// Capability bits the server must not grant: PROTO_DYNPROC would wrap every prepared statement in
// "create proc"; WIDETABLE and big datetime parameters are not decoded.
constexpr int kWithheldCaps[] = {48, 59, 93, 94};

std::vector<uint8_t> GrantedCaps(std::vector<uint8_t> mask) {
  if (mask.size() != 14) {
    // What FreeTDS 1.3 asks for.
    mask = {0x00, 0x00, 0x60, 0x08, 0x81, 0x81, 0xe8, 0x0f, 0x6d, 0x7f, 0xff, 0xff, 0xff, 0xfe};
  }
  for (int bit : kWithheldCaps) {
    size_t byte = mask.size() - 1 - static_cast<size_t>(bit / 8);
    mask[byte] = static_cast<uint8_t>(mask[byte] & ~(1u << (bit % 8)));
  }
  return mask;
}

}  // namespace

// Turns what the engine produces into tokens. The last DONE is held back until it is known
// whether more follows, because only the reply's final DONE may go without the MORE bit.
class ReplySink final : public ResultSink, public TokenOutput {
 public:
  ReplySink(Connection& conn, size_t packetSize, std::string server)
      : conn_(conn), packetSize_(packetSize), server_(std::move(server)) {}

  void Columns(const std::vector<ColumnInfo>& columns) override {
    if (capture_) {
      captured_ = columns;
      if (fetch_) SetColumns(columns);
      return;
    }
    if (cancelled_) return;
    WriteFormat(columns);
  }

  void BrowseInfo(const std::vector<BrowseColumn>& origins) override {
    if (cancelled_ || capture_) return;
    Framed("browse information", [&](ByteWriter& w) { WriteBrowseInfo(w, columns_, origins); });
  }

  void Row(const std::vector<Value>& values) override { RowWithTextPointers(values, {}); }

  void RowWithTextPointers(const std::vector<Value>& values,
                           const std::vector<Bytes>& pointers) override {
    if (cancelled_) return;
    if (rowLimit_ >= 0 && rowsSent_ >= rowLimit_) return;
    Before();
    WriteRow(out_, columns_, formats_, values, &pointers);
    ++rowsSent_;
    After();
  }

  void ComputeFormats(const std::vector<ComputeFormat>& formats) override {
    if (capture_ || cancelled_) return;
    for (const ComputeFormat& f : formats) {
      // Without its format, the clause's rows are dropped: the client could not read them.
      if (!Framed("compute result description", [&](ByteWriter& w) { WriteComputeFormat(w, f); })) {
        computes_.erase(f.id);
        continue;
      }
      Compute& c = computes_[f.id];
      c.columns.clear();
      c.formats.clear();
      for (const ComputeColumn& col : f.columns) {
        c.columns.push_back(col.info);
        c.formats.push_back(FormatOf(col.info));
      }
    }
  }

  void ComputeRow(uint16_t id, const std::vector<Value>& values) override {
    auto it = computes_.find(id);
    if (cancelled_ || it == computes_.end()) return;
    Before();
    WriteComputeRow(out_, id, it->second.columns, it->second.formats, values);
    After();
  }

  void Done(uint16_t status, int32_t count, bool inProc) override {
    if (cancelled_) return;
    Before();
    uint8_t token = inProc                                 ? kTokDoneInProc
                    : afterStatus_ || (status & kDoneProc) ? kTokDoneProc
                                                           : kTokDone;
    status &= static_cast<uint16_t>(~(kDoneMore | kDoneAttn | kDoneProc));
    pending_ = PendingDone{token, status, count};
    afterStatus_ = false;
  }

  void Message(const ServerMessage& m) override {
    if (m.severity > 10) ++errors_;
    if (cancelled_) return;
    Before();
    ServerMessage copy = m;
    if (copy.server.empty()) copy.server = server_;
    WriteEed(out_, copy, m.number == 4002 ? "28000" : "ZZZZZ");
    After();
  }

  void DatabaseChanged(const std::string& newName, const std::string& oldName) override {
    Before();
    WriteEnvChange(out_, kEnvDatabase, newName, oldName);
    After();
  }

  void ReturnStatus(int32_t status) override {
    if (cancelled_) return;
    Before();
    WriteReturnStatus(out_, status);
    afterStatus_ = true;
    After();
  }

  void OutputParams(const std::vector<ColumnInfo>& params,
                    const std::vector<Value>& values) override {
    if (cancelled_) return;
    Framed("output parameter description",
           [&](ByteWriter& w) { WriteOutputParams(w, params, values); });
  }

  bool Cancelled() const override {
    if (!cancelled_ && conn_.PollAttention()) cancelled_ = true;
    return cancelled_;
  }

  ByteWriter& Begin() override { return Control(); }
  void End() override { EndControl(); }

  // For tokens the protocol layer writes itself.
  ByteWriter& Control() {
    Before();
    return out_;
  }
  void EndControl() { After(); }

  void WriteFormat(const std::vector<ColumnInfo>& columns) {
    Before();
    WriteRowFormat(out_, columns);
    SetColumns(columns);
    After();
  }

  void Error(int32_t number, const std::string& text, uint8_t severity = 16) {
    ServerMessage m;
    m.number = number;
    m.severity = severity;
    m.text = text;
    Message(m);
  }

  // Cursor open: the description is held back so that the cursor's status can precede it.
  void CaptureColumns() {
    capture_ = true;
    captured_.clear();
  }
  std::vector<ColumnInfo> Captured() {
    capture_ = false;
    return std::move(captured_);
  }
  // Cursor fetch: rows use the description sent at open, which is never repeated.
  void BeginFetch(const std::vector<ColumnInfo>& columns, int32_t limit) {
    capture_ = fetch_ = true;
    SetColumns(columns);
    rowLimit_ = limit;
    rowsSent_ = 0;
  }
  int32_t EndFetch() {
    capture_ = fetch_ = false;
    rowLimit_ = -1;
    return rowsSent_;
  }

  int Errors() const { return errors_; }
  bool WasCancelled() const { return cancelled_; }

  // Ends the reply. After an attention, one DONE with the ATTN bit replaces whatever was pending.
  void Finish() {
    if (cancelled_) {
      pending_.reset();
      WriteDone(out_, kTokDone, kDoneAttn, 0);
      conn_.ConsumeAttention();
    } else if (pending_) {
      WriteDone(out_, pending_->token, pending_->status, pending_->count);
      pending_.reset();
    } else {
      WriteDone(out_, kTokDone, kDoneFinal, 0);
    }
    conn_.Send(out_.Buffer(), true);
  }

 private:
  struct PendingDone {
    uint8_t token;
    uint16_t status;
    int32_t count;
  };

  // A compute clause's columns, as its format described them.
  struct Compute {
    std::vector<ColumnInfo> columns;
    std::vector<WireFormat> formats;
  };

  // Writes tokens that carry a 16-bit length. One that cannot be framed is taken back whole and
  // an error goes in its place, so the client never reads a torn reply. False when that happened.
  template <typename Write>
  bool Framed(std::string_view what, Write write) {
    Before();
    const size_t mark = out_.Size();
    try {
      write(out_);
    } catch (const TokenTooLong& e) {
      out_.Truncate(mark);
      Message(TokenTooLongMessage(what, e));
      return false;
    }
    After();
    return true;
  }

  void SetColumns(const std::vector<ColumnInfo>& columns) {
    computes_.clear();  // compute formats belong to the result set they followed
    columns_ = columns;
    formats_.clear();
    for (const ColumnInfo& c : columns_) formats_.push_back(FormatOf(c));
  }
  void Before() {
    if (pending_) {
      WriteDone(out_, pending_->token, static_cast<uint16_t>(pending_->status | kDoneMore),
                pending_->count);
      pending_.reset();
    }
  }
  void After() {
    if (out_.Size() >= packetSize_) conn_.Send(out_.Buffer(), false);
  }

  Connection& conn_;
  size_t packetSize_;
  std::string server_;
  ByteWriter out_;
  std::vector<ColumnInfo> columns_;
  std::vector<WireFormat> formats_;
  std::map<uint16_t, Compute> computes_;
  std::optional<PendingDone> pending_;
  bool afterStatus_ = false;
  mutable bool cancelled_ = false;
  int errors_ = 0;
  bool capture_ = false;
  bool fetch_ = false;
  std::vector<ColumnInfo> captured_;
  int32_t rowLimit_ = -1;
  int32_t rowsSent_ = 0;
};

Connection::Connection(int fd, Engine& engine) : fd_(fd), engine_(engine) {}

Connection::~Connection() = default;

bool Connection::ReadMore() {
  if (closed_) return false;
  uint8_t buf[16384];
  for (;;) {
    ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      closed_ = true;
      return false;
    }
    try {
      input_.Feed(buf, static_cast<size_t>(n));
    } catch (const ProtocolError&) {
      closed_ = true;
      return false;
    }
    return true;
  }
}

bool Connection::PollAttention() {
  if (closed_) return true;
  if (attentions_ > 0) return true;
  auto now = std::chrono::steady_clock::now();
  if (now - lastPoll_ < std::chrono::milliseconds(1)) return false;
  lastPoll_ = now;
  for (;;) {
    pollfd p{fd_, POLLIN, 0};
    int r = ::poll(&p, 1, 0);
    if (r <= 0 || !(p.revents & (POLLIN | POLLHUP | POLLERR))) break;
    uint8_t buf[16384];
    ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR)) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (n <= 0) {
      closed_ = true;
      return true;
    }
    try {
      input_.Feed(buf, static_cast<size_t>(n));
    } catch (const ProtocolError&) {
      closed_ = true;
      return true;
    }
  }
  attentions_ += input_.TakeAttentions();
  return attentions_ > 0;
}

void Connection::ConsumeAttention() {
  // The client sends one attention per cancel and waits for one acknowledgement; any queued
  // beyond the first are answered by this same DONE.
  attentions_ = 0;
}

void Connection::Send(std::vector<uint8_t>& bytes, bool last) {
  size_t room = packetSize_ - kHeaderSize;
  size_t n = last ? bytes.size() : bytes.size() / room * room;
  if (n == 0 && !last) return;
  std::vector<uint8_t> wire;
  wire.reserve(n + (n / room + 1) * kHeaderSize);
  AppendPackets(kPacketReply, bytes.data(), n, packetSize_, last, wire);
  bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
  size_t pos = 0;
  while (!closed_ && pos < wire.size()) {
    ssize_t s = ::send(fd_, wire.data() + pos, wire.size() - pos, MSG_NOSIGNAL);
    if (s < 0 && errno == EINTR) continue;
    if (s <= 0) {
      closed_ = true;  // the engine sees a cancel and stops producing
      break;
    }
    pos += static_cast<size_t>(s);
  }
}

std::optional<Message> Connection::NextMessage() {
  while (!input_.HasMessage()) {
    if (!ReadMore()) return std::nullopt;
  }
  return input_.Pop();
}

void Connection::Run() {
  try {
    std::optional<Message> first = NextMessage();
    bool loggedIn = first && Login(*first);
    while (loggedIn && !closed_) {
      std::optional<Message> m = NextMessage();
      if (!m || !Serve(*m)) break;
    }
  } catch (const std::exception&) {
    // A fault in one session must not take the server down: drop the connection.
  }
  // The client learns at once that the session ended (a refused login waits for this).
  ::shutdown(fd_, SHUT_RDWR);
}

bool Connection::Login(const Message& first) {
  // A TDS 7 prelogin (or anything else) is closed: FreeTDS then retries with a TDS 5.0 login.
  if (first.type != kPacketLogin) return false;
  LoginRecord login;
  try {
    login = ParseLogin(first.payload);
  } catch (const ProtocolError&) {
    return false;
  }
  LoginRequest request;
  request.user = login.user;
  request.password = login.password;
  request.host = login.host;
  request.hostProcess = login.hostProcess;
  request.application = login.application;
  request.language = login.language;
  request.charset = login.charset;
  request.bulkCopy = login.bulkCopy;

  ServerMessage failure;
  if (!login.secureLogin) session_ = engine_.Login(request, &failure);
  ByteWriter w;
  if (!session_) {
    if (failure.number == 0) {
      failure.number = 4002;
      failure.severity = 14;
      failure.state = 1;
      failure.text = "Login failed.";
    }
    if (failure.server.empty()) failure.server = engine_.ServerName();
    WriteEed(w, failure, "28000");
    WriteLoginAck(w, false, kProductName, kProductVersion);
    WriteDone(w, kTokDone, kDoneError, 0);
    Send(w.Buffer(), true);
    return false;
  }
  WriteLoginAck(w, true, kProductName, kProductVersion);
  WriteEnvChange(w, kEnvDatabase, session_->Database(), "master");
  WriteEnvChange(w, kEnvLanguage, login.language.empty() ? "us_english" : login.language, "");
  WriteEnvChange(w, kEnvCharset, "utf8", "");
  if (login.packetSizeRequested) {
    WriteEnvChange(w, kEnvPacketSize, std::to_string(login.packetSize), "512");
  }
  WriteCapability(w, GrantedCaps(login.requestCaps), std::vector<uint8_t>(14, 0));
  WriteDone(w, kTokDone, kDoneFinal, 0);
  Send(w.Buffer(), true);
  if (login.packetSizeRequested) packetSize_ = static_cast<size_t>(login.packetSize);
  return !closed_;
}

void Connection::Unsupported(ReplySink& sink, const std::string& text) {
  sink.Error(kMsgUnsupported, text);
  sink.Done(kDoneError, 0, false);
}

bool Connection::Serve(const Message& m) {
  ReplySink sink(*this, packetSize_, engine_.ServerName());
  switch (m.type) {
    case kPacketAttention: {
      // Idle, or the reply had already ended: the acknowledgement stands alone.
      bulk_.Abandon();
      text_.Abandon();
      ByteWriter w;
      WriteDone(w, kTokDone, kDoneAttn, 0);
      Send(w.Buffer(), true);
      return true;
    }
    case kPacketNormal: {
      // A request after "insert bulk" without the batch's end abandons the copy; the rows the
      // client still held then come first in this message.
      bool abandoned = bulk_.Abandon();
      text_.Abandon();
      std::vector<Request> requests;
      std::string malformed;
      try {
        requests = ParseRequests(m.payload);
      } catch (const ProtocolError& e) {
        malformed = e.what();
      }
      if (abandoned &&
          (!malformed.empty() ||
           (!requests.empty() && std::holds_alternative<UnknownReq>(requests.front())))) {
        sink.Message(BulkCopy::PrematureEnd());
        sink.Done(kDoneError, 0, false);
        sink.Finish();
        return true;
      }
      if (!malformed.empty()) {
        Unsupported(sink, "Malformed request: " + malformed + ".");
        sink.Finish();
        return true;
      }
      HandleRequests(requests, sink);
      sink.Finish();
      bool logout = std::any_of(requests.begin(), requests.end(), [](const Request& r) {
        return std::holds_alternative<LogoutReq>(r);
      });
      return !logout;
    }
    case kPacketQuery: {
      bulk_.Abandon();
      text_.Abandon();
      // Clients pad the text to a whole number of words with NUL bytes: they end the batch.
      std::string_view text(reinterpret_cast<const char*>(m.payload.data()), m.payload.size());
      while (!text.empty() && text.back() == '\0') text.remove_suffix(1);
      session_->Execute(text, sink);
      sink.Finish();
      return true;
    }
    case kPacketBulk:
      // Pieces arrive packet by packet; only the message's last one is answered.
      if (text_.Open())
        text_.Piece(m, sink);
      else
        bulk_.Piece(m, sink);
      if (!m.partial) sink.Finish();
      return true;
    case kPacketPrelogin:
    case kPacketLogin: return false;
    default:
      Unsupported(sink, "Unknown packet type " + std::to_string(m.type) + ".");
      sink.Finish();
      return true;
  }
}

void Connection::HandleRequests(const std::vector<Request>& requests, ReplySink& sink) {
  // Option and cursor commands of one message share one DONE; a language batch ends it.
  bool control = false;
  bool failed = false;
  std::optional<int32_t> fetched;
  auto endControl = [&] {
    if (!control) return;
    uint16_t status = failed ? kDoneError : kDoneFinal;
    int32_t count = 0;
    if (fetched && !failed) {
      status |= kDoneCount;
      count = *fetched;
    }
    sink.Done(status, count, false);
    control = failed = false;
    fetched.reset();
  };

  for (const Request& r : requests) {
    if (sink.WasCancelled()) break;
    if (auto lang = std::get_if<LanguageReq>(&r)) {
      endControl();
      if (auto table = BulkCopy::Target(lang->text)) {
        bulk_.Begin(*session_, *table, sink);
      } else if (BulkText::Is(lang->text)) {
        text_.Begin(*session_, lang->text, sink);
      } else if (lang->hasParams) {
        session_->ExecuteWithParams(lang->text, lang->params, sink);
      } else {
        session_->Execute(lang->text, sink);
      }
    } else if (auto opt = std::get_if<OptionReq>(&r)) {
      control = true;
      int before = sink.Errors();
      if (opt->command == 1) {
        session_->SetOption(opt->option, opt->arg, sink);
      } else if (opt->command == 2) {
        session_->SetOption(opt->option, std::nullopt, sink);
      } else if (opt->command == 3) {
        std::optional<std::vector<uint8_t>> value = session_->GetOption(opt->option);
        WriteOptionInfo(sink.Control(), opt->option, value.value_or(std::vector<uint8_t>{}));
        sink.EndControl();
      } else {
        sink.Error(kMsgUnsupported, "Unknown option command " + std::to_string(opt->command) + ".");
      }
      if (sink.Errors() != before) failed = true;
    } else if (std::holds_alternative<LogoutReq>(r)) {
      endControl();
    } else if (auto rpc = std::get_if<RpcReq>(&r)) {
      endControl();
      HandleRpc(*session_, *rpc, sink);
    } else if (auto dyn = std::get_if<DynamicReq>(&r)) {
      endControl();
      HandleDynamic(*session_, *dyn, sink, sink);
    } else if (auto unknown = std::get_if<UnknownReq>(&r)) {
      endControl();
      Unsupported(sink, "Unknown request token " + std::to_string(unknown->token) + ".");
    } else {
      control = true;
      HandleCursor(r, sink, failed, fetched);
    }
  }
  endControl();
}

int32_t Connection::ResolveCursor(int32_t id, const std::string& name, ReplySink& sink) {
  if (id == 0) id = session_->CursorId(name);
  if (id == 0) {
    sink.Error(
        kMsgCursorNotFound,
        "The cursor '" + name +
            "' can not be used as it could not be found. It is possible that either it was not "
            "declared or it is not available in the current context.");
  }
  return id;
}

void Connection::HandleCursor(const Request& r, ReplySink& sink, bool& failed,
                              std::optional<int32_t>& fetched) {
  int before = sink.Errors();
  if (auto d = std::get_if<CurDeclareReq>(&r)) {
    int32_t id = session_->CursorDeclare(d->name, d->statement, (d->options & 0x02) != 0, sink);
    if (id == 0) {
      failed = true;
    } else {
      cursorColumns_.erase(id);
      uint16_t state = session_->CursorState(id);
      WriteCurInfo(sink.Control(), id, 3, state ? state : kCursorDeclared | kCursorReadOnly);
      sink.EndControl();
    }
  } else if (auto info = std::get_if<CurInfoReq>(&r)) {
    int32_t id = ResolveCursor(info->id, info->name, sink);
    if (id == 0) {
      failed = true;
    } else if (info->command == 1) {
      int32_t rows = std::max<int32_t>(1, info->rows.value_or(1));
      if (session_->CursorSetRows(id, rows, sink)) {
        WriteCurInfo(sink.Control(), id, 1, kCursorRowCount, rows);
        sink.EndControl();
      } else {
        failed = true;
      }
    } else {
      WriteCurInfo(sink.Control(), id, 3, session_->CursorState(id), session_->CursorRows(id));
      sink.EndControl();
    }
  } else if (auto open = std::get_if<CurOpenReq>(&r)) {
    int32_t id = ResolveCursor(open->id, open->name, sink);
    if (id == 0) {
      failed = true;
    } else {
      sink.CaptureColumns();
      bool ok = session_->CursorOpen(id, sink);
      std::vector<ColumnInfo> columns = sink.Captured();
      if (!ok) {
        failed = true;
      } else {
        uint16_t state = session_->CursorState(id);
        WriteCurInfo(sink.Control(), id, 3, state ? state : kCursorOpen | kCursorReadOnly);
        sink.EndControl();
        sink.WriteFormat(columns);
        cursorColumns_[id] = std::move(columns);
      }
    }
  } else if (auto fetch = std::get_if<CurFetchReq>(&r)) {
    int32_t id = ResolveCursor(fetch->id, fetch->name, sink);
    if (id == 0) {
      failed = true;
    } else if (fetch->type != 1) {
      sink.Error(kMsgUnsupported, "Only FETCH NEXT is supported by this server.");
      failed = true;
    } else {
      auto it = cursorColumns_.find(id);
      sink.BeginFetch(it != cursorColumns_.end() ? it->second : std::vector<ColumnInfo>{},
                      std::max<int32_t>(1, session_->CursorRows(id)));
      session_->CursorFetch(id, sink);
      fetched = fetched.value_or(0) + sink.EndFetch();
    }
  } else if (auto close = std::get_if<CurCloseReq>(&r)) {
    int32_t id = ResolveCursor(close->id, close->name, sink);
    bool dealloc = (close->option & 0x01) != 0;
    if (id == 0 || !session_->CursorClose(id, dealloc, sink)) {
      failed = true;
    } else {
      uint16_t state = dealloc ? kCursorClosed | kCursorDeallocated : session_->CursorState(id);
      WriteCurInfo(sink.Control(), id, 3, state ? state : static_cast<uint16_t>(kCursorClosed));
      sink.EndControl();
      if (dealloc) cursorColumns_.erase(id);
    }
  }
  if (sink.Errors() != before) failed = true;
}

}  // namespace sampleserver::tds
