// Private structures of the Open Client adapter, shared by its translation units
// (openclient.cpp: contexts, connections, messages; openclient_results.cpp: commands, results,
// cursors; openclient_text.cpp: text forms; openclient_blk.cpp: Bulk-Library).
#pragma once

#include "connection/openclient.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace oc::internal {

// ---- Trace file (ct_debug) -----------------------------------------------------------------
// One per context and per connection. Writes are locked: worker threads trace too.
class DebugSink {
 public:
  bool active() const;
  void set_flags(CS_INT flags, bool on);
  CS_INT flags() const;
  bool open(const std::string& path);  // empty path closes
  void write(const std::string& line);

 private:
  mutable std::mutex mutex_;
  CS_INT flags_ = 0;
  std::ofstream file_;
  std::atomic<bool> active_{false};  // flags set and a file open
};

// ---- Context ---------------------------------------------------------------------------------
// Everything a context owns. Shared by the Context handle and every connection allocated on it,
// so that the FreeTDS context outlives both (released by the last owner).
struct ContextState {
  ~ContextState();

  CS_CONTEXT* cs = nullptr;
  Context* handle = nullptr;  // null once the Context handle was dropped

  std::mutex mutex;  // guards the handlers, the configuration and the connection count
  ServerMessageFunc server_cb = nullptr;
  ClientMessageFunc client_cb = nullptr;
  CompletionFunc completion_cb = nullptr;
  CsLibMessageFunc cslib_cb = nullptr;

  std::string ifile;
  CS_INT max_connect = 25;
  bool timeout_set = false;
  CS_INT timeout = CS_NO_LIMIT;
  bool login_timeout_set = false;
  CS_INT login_timeout = CS_NO_LIMIT;
  int live_connections = 0;
  bool initialised = false;  // ct_init done

  DebugSink debug;
};

// ---- Messages ------------------------------------------------------------------------------
struct MessageQueue {
  std::deque<CS_SERVERMSG> server;
  std::deque<CS_CLIENTMSG> client;
  CS_INT server_limit = CS_NO_LIMIT;
  CS_INT client_limit = CS_NO_LIMIT;
  CS_INT all_limit = CS_NO_LIMIT;
};

// ---- Column binding (ct_bind through internal buffers) --------------------------------------
struct ColumnBind {
  bool bound = false;
  CS_DATAFMT user{};          // the caller's format
  CS_VOID* buffer = nullptr;  // the caller's buffers
  CS_INT* copied = nullptr;
  CS_SMALLINT* indicator = nullptr;

  CS_INT column_type = 0;    // what the column holds (ct_describe)
  CS_INT internal_type = 0;  // what FreeTDS converts into for us
  CS_INT internal_len = 0;   // bytes per row of the internal array
  // Columns bound natively and written as text here: FreeTDS's own conversion of these goes
  // through sprintf, the largest share of a listing's per-row work.
  enum class TextForm : std::uint8_t { None, Datetime, Money, Integer, Numeric };
  TextForm text_form = TextForm::None;
  std::vector<char> data;
  std::vector<CS_INT> lens;
  std::vector<CS_SMALLINT> inds;
};

}  // namespace oc::internal

namespace oc {

struct Context {
  std::shared_ptr<internal::ContextState> state;
};

struct Connection {
  ~Connection();

  std::shared_ptr<internal::ContextState> ctx;
  CS_CONNECTION* cs = nullptr;

  std::mutex mutex;  // guards handlers, queue, inline flag, option map, command list
  ServerMessageFunc server_cb = nullptr;
  ClientMessageFunc client_cb = nullptr;
  CompletionFunc completion_cb = nullptr;
  bool inline_diag = false;
  internal::MessageQueue queue;

  bool connected = false;  // ct_connect succeeded and ct_close not yet called
  bool bulk_login = true;  // FreeTDS's login default: bulk copy allowed
  bool tds_version_set = false;
  CS_INT tds_version = CS_TDS_50;
  std::vector<char> userdata;
  std::string server_host;  // from CS_SERVERADDR
  int server_port = 0;
  std::string server_addr_text;
  // The socket FreeTDS opened for this connection (see shut_on_timeout): sockets to the server
  // before ct_connect, and the one found after, each by descriptor and socket inode.
  std::map<int, unsigned long> sockets_before;
  bool connecting = false;
  int socket = -1;
  unsigned long socket_inode = 0;
  std::map<CS_INT, CS_INT> int_props;  // properties FreeTDS does not keep
  std::map<CS_INT, std::string> string_props;
  std::map<CS_INT, std::vector<char>> options;  // ct_options read-back
  std::set<Command*> commands;
  // Dynamic ids prepared on the connection, each with the statements prepared under it by the
  // commands of the connection, oldest first: {id on the wire, statement text}.
  std::map<std::string, std::vector<std::pair<std::string, std::string>>> prepared;
  Locale* locale = nullptr;  // CS_LOC_PROP as given (copied into FreeTDS)

  internal::DebugSink debug;
};

struct Locale {
  ~Locale();
  std::shared_ptr<internal::ContextState> ctx;
  CS_LOCALE* cs = nullptr;
  std::string charset, language, sortorder;  // empty: never set
};

struct Command {
  ~Command();

  Connection* con = nullptr;  // null once the connection was dropped
  std::shared_ptr<internal::ContextState> ctx;
  CS_COMMAND* cs = nullptr;

  // Command numbers counted from the result stream.
  CS_INT cmd_number = 0;
  bool at_boundary = true;
  bool swallow_canceled = false;  // one CS_CANCELED owed by FreeTDS after CS_CANCEL_ALL

  // Internal binding of the current result set.
  std::vector<internal::ColumnBind> binds;
  bool binds_applied = false;  // FreeTDS bound to our arrays for the current result set
  CS_INT user_count = 0;       // the caller's datafmt.count (0 until the first bind)
  CS_INT batch_capacity = 1;   // rows FreeTDS fills per fetch
  // Rows a regular result may fetch ahead of the caller: more than one only where nothing reads
  // the current row behind the binding (ct_get_data), as for a copy-out.
  CS_INT read_ahead = 1;
  CS_INT batch_rows = 0;                // rows held
  CS_INT batch_pos = 0;                 // next row to hand out
  bool batch_row_failed = false;        // the last held row failed FreeTDS's conversion
  CS_RETCODE pending_end = CS_SUCCEED;  // FreeTDS's answer after the held rows (e.g. CS_END_DATA)
  bool is_cursor = false;
  CS_INT cursor_rows = 1;
  CS_INT last_result = 0;
  bool rows_pending = false;  // a row-bearing result whose rows were not all fetched

  // A cursor declared on a prepared statement: sent as an ordinary cursor on the text with the
  // parameter values written in.
  bool emulated_cursor = false;
  std::string cursor_name;
  std::string cursor_text;
  CS_INT cursor_option = CS_UNUSED;
  bool cursor_open_requested = false;
  bool cursor_rows_requested = false;
  std::vector<std::string> literals;
  std::vector<std::string> literal_names;  // empty for `?` markers
  bool emulated_declared = false;          // its declare was sent: it reports as declared
  bool emulated_dealloc = false;           // a deallocation asked for, before any open
  // Results answered here for a send that had nothing to tell the server (the declare or the
  // deallocation of such a cursor): handed out before CS_END_RESULTS.
  bool synthetic = false;
  std::deque<CS_INT> synthetic_results;

  std::vector<char> userdata;
  std::string dyn_prefix;  // namespace for dynamic ids on the wire
};

struct BlkState;
struct BlkDesc {
  ~BlkDesc();
  Connection* con = nullptr;
  std::shared_ptr<internal::ContextState> ctx;
  std::unique_ptr<BlkState> state;
};

}  // namespace oc

namespace oc::internal {

// Shared helpers (openclient.cpp).
Connection* connection_of(CS_CONNECTION* cs);
std::shared_ptr<ContextState> context_of(CS_CONTEXT* cs);
bool connection_alive(Connection* con);  // connected and not dead
void client_message(Connection* con, CS_INT number, CS_INT severity, std::string_view text);
void cslib_message(const std::shared_ptr<ContextState>& ctx, CS_INT number, std::string_view text);
DebugSink* sink_of(Context* ctx);
DebugSink* sink_of(Connection* con);
DebugSink* sink_of(Command* cmd);
void detach_command(Command* cmd);
void drop_command(Command* cmd);  // FreeTDS side and bookkeeping

// Language statement on an internal command; results drained. CS_FAIL on any CS_CMD_FAIL.
CS_RETCODE run_internal(Connection* con, const std::string& sql);

// Text forms (openclient_text.cpp).
std::string datetime_text(CS_CONTEXT* cs, CS_INT type, const void* value);
// The same into `out` (room for 40 bytes), zero-terminated; returns its length.
size_t datetime_text(CS_INT type, const void* value, char* out);
// A CS_MONEY as FreeTDS converts it to text (four decimals), and a CS_INT in decimal, into `out`
// (room for 40 bytes), zero-terminated; each returns its length.
size_t money_text(const void* value, char* out);
size_t int_text(const void* value, char* out);
// A CS_NUMERIC as FreeTDS converts it to text (every digit of its scale; "0." before a fraction
// without whole digits) into `out` (room for 96 bytes), zero-terminated; 0 for a value whose
// precision or scale is out of range.
size_t numeric_text(const void* value, char* out);
bool is_char_type(CS_INT type);
bool is_binary_type(CS_INT type);
CS_INT fixed_size(CS_INT type);  // 0 for variable-length types
std::string sql_literal(CS_CONTEXT* cs, const CS_DATAFMT* fmt, const void* data, CS_INT datalen,
                        CS_SMALLINT indicator, bool* ok);
// Copies a text/binary value into the caller's buffer by its format. Returns false when it did
// not fit (the caller's row then fails); *copied and *indicator follow the vendor's rules.
bool put_value(const CS_DATAFMT& fmt, void* buffer, const char* value, CS_INT len, CS_INT* copied,
               CS_SMALLINT* indicator);
void put_null(const CS_DATAFMT& fmt, void* buffer, CS_INT* copied, CS_SMALLINT* indicator);

// Tracing: formats a line only when the sink is active.
template <typename... Args>
void trace(DebugSink* sink, const char* routine, CS_RETCODE rc, const Args&... args) {
  if (!sink || !sink->active()) return;
  std::ostringstream out;
  out << routine << '(';
  bool first = true;
  ((out << (first ? "" : ", ") << args, first = false), ...);
  out << ") -> " << rc;
  sink->write(out.str());
}

}  // namespace oc::internal

namespace oc::detail {
// For tests of a bind failing part-way, which no server can provoke: the next ct_bind of column
// `item` (on any command) fails without binding.
void fail_next_bind(CS_INT item);
}  // namespace oc::detail
