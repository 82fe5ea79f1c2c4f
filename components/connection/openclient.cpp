// The Open Client call surface: contexts, locales, configuration, connections, messages,
// options and tracing. Commands and results live in openclient_results.cpp, text forms in
// openclient_text.cpp, the Bulk-Library in openclient_blk.cpp.
#include "connection/openclient.h"

#include "connection/openclient_internal.h"

#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace oc {
namespace internal {
namespace {

std::string text_arg(const CS_CHAR* text, CS_INT len) {
  if (!text) return {};
  if (len == CS_NULLTERM) return std::string(text);
  if (len < 0) return {};
  return std::string(text, static_cast<size_t>(len));
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Copies a string property out the vendor's way: CS_FAIL with the needed size (terminator
// included) when the buffer is too short.
CS_RETCODE get_string(const std::string& value, CS_VOID* buffer, CS_INT buflen, CS_INT* outlen) {
  const CS_INT needed = static_cast<CS_INT>(value.size()) + 1;
  if (outlen) *outlen = needed;
  if (!buffer || buflen < needed) return CS_FAIL;
  std::memcpy(buffer, value.c_str(), static_cast<size_t>(needed));
  return CS_SUCCEED;
}

// ---- Registry of FreeTDS contexts, for messages that arrive without a connection ----------
std::mutex registry_mutex;
std::map<CS_CONTEXT*, std::weak_ptr<ContextState>>& registry() {
  static std::map<CS_CONTEXT*, std::weak_ptr<ContextState>> map;
  return map;
}

// ---- Generated FreeTDS configuration ---------------------------------------------------------
// FreeTDS reports client message 20012 whenever a server is reached by address
// (CS_SERVERADDR) instead of through a configuration entry, and it converts text to ISO-8859-1
// unless told otherwise. Both are avoided at the source: the adapter writes its own configuration
// file (TDS 5.0, UTF-8 client character set, one section per server whose address a caller gave)
// and points FREETDSCONF at it before the first FreeTDS context exists. FreeTDS reads the file at
// every connect, and falls through to ~/.freetds.conf, the system file and the interfaces files
// for names it does not hold, so plain server names keep working. A FREETDSCONF the user set
// already is left alone; addresses are then handed to FreeTDS as CS_SERVERADDR.
class GeneratedConfig {
 public:
  static GeneratedConfig& instance() {
    static GeneratedConfig config;
    return config;
  }

  void ensure() {
    std::call_once(once_, [this] {
      if (std::getenv("FREETDSCONF")) return;  // the user's own configuration wins
      std::string pattern =
          (std::filesystem::temp_directory_path() / "norv-freetds-XXXXXX").string();
      std::vector<char> buf(pattern.begin(), pattern.end());
      buf.push_back('\0');
      if (!::mkdtemp(buf.data())) return;
      dir_ = buf.data();
      path_ = dir_ + "/freetds.conf";
      std::lock_guard lock(mutex_);
      if (write_locked()) {
        ::setenv("FREETDSCONF", path_.c_str(), 1);
        owned_ = true;
      }
    });
  }

  bool owned() const { return owned_; }

  // Makes `name` resolve to host:port; rewrites the file when that is news.
  bool add_server(const std::string& name, const std::string& host, int port) {
    if (!owned_) return false;
    std::lock_guard lock(mutex_);
    auto& entry = servers_[name];
    if (entry.first == host && entry.second == port) return true;
    entry = {host, port};
    return write_locked();
  }

  ~GeneratedConfig() {
    if (!dir_.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(dir_, ec);
    }
  }

 private:
  bool write_locked() {
    // Written beside and renamed, so a connect in another thread never reads half a file.
    const std::string tmp = path_ + ".new";
    {
      std::ofstream out(tmp, std::ios::trunc);
      if (!out) return false;
      out << "[global]\n\ttds version = 5.0\n\tclient charset = UTF-8\n";
      for (const auto& [name, addr] : servers_)
        out << "\n[" << name << "]\n\thost = " << addr.first << "\n\tport = " << addr.second
            << "\n\ttds version = 5.0\n";
      if (!out.flush()) return false;
    }
    std::error_code ec;
    std::filesystem::rename(tmp, path_, ec);
    return !ec;
  }

  std::once_flag once_;
  std::mutex mutex_;
  std::string dir_, path_;
  bool owned_ = false;
  std::map<std::string, std::pair<std::string, int>> servers_;
};

// "host port", "tcp host port", "host:port", "tcp,host,port" (as SQL.INI writes it).
bool parse_server_addr(const std::string& text, std::string& host, int& port) {
  std::string s = text;
  std::replace(s.begin(), s.end(), ',', ' ');
  std::istringstream in(s);
  std::vector<std::string> parts;
  for (std::string p; in >> p;) parts.push_back(p);
  if (!parts.empty() && lower(parts.front()) == "tcp") parts.erase(parts.begin());
  if (parts.size() == 1) {
    const auto colon = parts[0].rfind(':');
    if (colon == std::string::npos) return false;
    parts = {parts[0].substr(0, colon), parts[0].substr(colon + 1)};
  }
  if (parts.size() != 2 || parts[0].empty()) return false;
  char* end = nullptr;
  const long value = std::strtol(parts[1].c_str(), &end, 10);
  if (*end != '\0' || value < 1 || value > 65535) return false;
  host = parts[0];
  port = static_cast<int>(value);
  return true;
}

// ---- FreeTDS message trampolines -------------------------------------------------------------
CS_RETCODE server_trampoline(CS_CONTEXT* c, CS_CONNECTION* k, CS_SERVERMSG* msg) {
  Connection* con = connection_of(k);
  Context* ctx = nullptr;
  std::shared_ptr<ContextState> state = con ? con->ctx : context_of(c);
  if (state) ctx = state->handle;
  if (!con && !ctx) return CS_SUCCEED;
  return detail::deliver_server_message(ctx, con, *msg);
}

// ---- The socket under a connection -----------------------------------------------------------
// On a time-out FreeTDS keeps waiting while the answer is CS_SUCCEED, and the inline queue always
// answers so: a server that stops answering would hold the caller for ever. Answering CS_FAIL is
// no way out either: FreeTDS then logs out gracefully, which waits for the silent server again,
// and its MARS build waits there for itself, five seconds at a time, for ever. So a time-out on a
// connection that queues its messages inline is ended here by shutting the connection's socket:
// FreeTDS reads the end of the stream at once, marks the connection dead and fails the call, and
// the caller finds the connection lost. The context's time-out thus bounds every wait.
//
// FreeTDS offers no property for the socket. It is the one socket to the server's port that
// appears while ct_connect runs (connects to a port are serialised for that), found through /proc
// (the descriptor table and the TCP table) without touching other threads' descriptors, and kept
// with its inode so that a descriptor reused after FreeTDS closed it is never taken for it.

// FreeTDS's number for "Adaptive Server connection timed out".
constexpr CS_INT kTimedOut = 20003;

// The inode of the socket a descriptor refers to (0 for none), read through /proc: the
// descriptors looked at belong to other threads, and are never touched themselves.
unsigned long socket_inode(int fd) {
  std::array<char, 64> link{};
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t n = ::readlink(path.c_str(), link.data(), link.size() - 1);
  unsigned long inode = 0;
  if (n <= 0 || std::sscanf(link.data(), "socket:[%lu]", &inode) != 1) return 0;
  return inode;
}

// The inodes of the TCP sockets, other than listeners, whose remote port is `peer_port` (any
// for 0).
std::set<unsigned long> tcp_inodes_to(int peer_port) {
  std::set<unsigned long> inodes;
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);  // the header
    while (std::getline(in, line)) {
      // sl local_address rem_address st tx_queue:rx_queue tr:tm->when retrnsmt uid timeout inode
      std::istringstream fields(line);
      std::string skip, remote, state;
      unsigned long inode = 0;
      if (!(fields >> skip >> skip >> remote >> state >> skip >> skip >> skip >> skip >> skip >>
            inode))
        continue;
      const auto colon = remote.rfind(':');
      if (colon == std::string::npos || state == "0A") continue;
      const long port = std::strtol(remote.c_str() + colon + 1, nullptr, 16);
      if (peer_port == 0 || port == peer_port) inodes.insert(inode);
    }
  }
  return inodes;
}

// This process's descriptors of TCP sockets to `peer_port`, each with its socket's inode.
std::map<int, unsigned long> sockets_to(int peer_port) {
  const std::set<unsigned long> inodes = tcp_inodes_to(peer_port);
  std::map<int, unsigned long> fds;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
    const int fd = std::atoi(entry.path().filename().c_str());
    const unsigned long inode = socket_inode(fd);
    if (inode != 0 && inodes.count(inode)) fds[fd] = inode;
  }
  return fds;
}

std::mutex& connect_lock(int port) {
  static std::mutex guard;
  static std::map<int, std::mutex> locks;
  std::lock_guard lock(guard);
  return locks[port];
}

// Called with con->mutex held, while ct_connect runs or after it succeeded.
void find_socket(Connection* con) {
  std::map<int, unsigned long> fresh;
  for (const auto& [fd, inode] : sockets_to(con->server_port)) {
    const auto before = con->sockets_before.find(fd);
    if (before == con->sockets_before.end() || before->second != inode) fresh[fd] = inode;
  }
  if (fresh.size() != 1) return;
  con->socket = fresh.begin()->first;
  con->socket_inode = fresh.begin()->second;
}

// Runs in the thread that waits on the connection (FreeTDS calls its handler from there), so the
// socket is shut by the thread that uses it.
void shut_on_timeout(Connection* con) {
  std::lock_guard lock(con->mutex);
  if (!con->inline_diag) return;
  if (con->socket < 0 && con->connecting) find_socket(con);
  if (con->socket >= 0 && socket_inode(con->socket) == con->socket_inode)
    ::shutdown(con->socket, SHUT_RDWR);
}

CS_RETCODE client_trampoline(CS_CONTEXT* c, CS_CONNECTION* k, CS_CLIENTMSG* msg) {
  Connection* con = connection_of(k);
  Context* ctx = nullptr;
  std::shared_ptr<ContextState> state = con ? con->ctx : context_of(c);
  if (state) ctx = state->handle;
  if (!con && !ctx) return CS_SUCCEED;
  const CS_RETCODE rc = detail::deliver_client_message(ctx, con, *msg);
  if (con && msg->msgnumber == kTimedOut) shut_on_timeout(con);
  return rc;
}

CS_RETCODE cslib_trampoline(CS_CONTEXT* c, CS_CLIENTMSG* msg) {
  auto state = context_of(c);
  if (!state) return CS_SUCCEED;
  CsLibMessageFunc cb;
  {
    std::lock_guard lock(state->mutex);
    cb = state->cslib_cb;
  }
  return cb ? cb(state->handle, msg) : CS_SUCCEED;
}

// Built-in names a Sybase installation ships, for validating cs_locale(CS_SET).
constexpr std::array kCharsets = {
    "utf8",     "iso_1",    "cp850",    "cp437",    "cp1252",   "roman8", "ascii_8",  "ascii",
    "mac",      "cp1250",   "cp1251",   "cp1253",   "cp1254",   "cp1255", "cp1256",   "cp1257",
    "cp1258",   "cp852",    "cp855",    "cp857",    "cp858",    "cp860",  "cp864",    "cp866",
    "cp869",    "cp874",    "cp932",    "cp936",    "cp949",    "cp950",  "iso88592", "iso88595",
    "iso88596", "iso88597", "iso88598", "iso88599", "iso15",    "sjis",   "eucjis",   "deckanji",
    "big5",     "big5hk",   "eucgb",    "gb18030",  "euccns",   "eucksc", "koi8",     "mac_cyr",
    "mac_ee",   "macgrk2",  "macturk",  "greek8",   "turkish8", "tis620", "utf16",    "unicode",
    "roman9",   "kz1048",   "mac_euro", "macthai"};
constexpr std::array kLanguages = {
    "us_english", "english",   "french",    "german",  "spanish", "italian",   "portuguese",
    "japanese",   "chinese",   "tchinese",  "korean",  "polish",  "thai",      "russian",
    "czech",      "greek",     "hungarian", "turkish", "swedish", "danish",    "dutch",
    "finnish",    "norwegian", "brazilian", "arabic",  "hebrew",  "lithuanian"};
constexpr std::array kSortOrders = {
    "binary",    "dictionary", "nocase",       "noaccents",       "nocasepref",       "bin_iso_1",
    "bin_cp850", "bin_utf8",   "bin_cp437",    "bin_cp1252",      "bin_roman8",       "altdict",
    "altnoacc",  "altnocsp",   "nocase_iso_1", "noaccents_iso_1", "nocasepref_iso_1", "espdict",
    "espnocs",   "espnoac",    "scandict",     "scannocp",        "utf8bin",          "cyrdict",
    "cyrnocs",   "elldict",    "hundict",      "hunnoac",         "hunnocs",          "turknocs",
    "turknoac",  "turdict",    "thaidict",     "sjisbin",         "eucjisbn",         "big5bin",
    "gbpinyin",  "kor_bin"};

template <size_t N>
bool known(const std::array<const char*, N>& names, const std::string& value) {
  const std::string v = lower(value);
  return std::any_of(names.begin(), names.end(), [&](const char* n) { return v == n; });
}

}  // namespace

// ---- DebugSink -------------------------------------------------------------------------------
// Read on every traced call of every thread: a flag, so that an inactive sink costs no lock.
bool DebugSink::active() const { return active_.load(std::memory_order_relaxed); }
void DebugSink::set_flags(CS_INT flags, bool on) {
  std::lock_guard lock(mutex_);
  flags_ = on ? (flags_ | flags) : (flags_ & ~flags);
  active_ = flags_ != 0 && file_.is_open();
}
CS_INT DebugSink::flags() const {
  std::lock_guard lock(mutex_);
  return flags_;
}
bool DebugSink::open(const std::string& path) {
  std::lock_guard lock(mutex_);
  if (file_.is_open()) file_.close();
  if (!path.empty()) file_.open(path, std::ios::app);
  active_ = flags_ != 0 && file_.is_open();
  return path.empty() || file_.is_open();
}
void DebugSink::write(const std::string& line) {
  std::lock_guard lock(mutex_);
  if (!file_.is_open()) return;
  file_ << line << '\n';
  file_.flush();
}

ContextState::~ContextState() {
  if (cs) {
    {
      std::lock_guard lock(registry_mutex);
      registry().erase(cs);
    }
    ::ct_exit(cs, CS_FORCE_EXIT);
    ::cs_ctx_drop(cs);
  }
}

Connection* connection_of(CS_CONNECTION* cs) {
  if (!cs) return nullptr;
  Connection* con = nullptr;
  CS_INT len = 0;
  if (::ct_con_props(cs, CS_GET, CS_USERDATA, &con, sizeof con, &len) != CS_SUCCEED ||
      len != static_cast<CS_INT>(sizeof con))
    return nullptr;
  return con;
}

std::shared_ptr<ContextState> context_of(CS_CONTEXT* cs) {
  std::lock_guard lock(registry_mutex);
  auto it = registry().find(cs);
  return it == registry().end() ? nullptr : it->second.lock();
}

bool connection_alive(Connection* con) {
  if (!con || !con->connected || !con->cs) return false;
  CS_INT status = 0;
  if (::ct_con_props(con->cs, CS_GET, CS_CON_STATUS, &status, CS_UNUSED, nullptr) != CS_SUCCEED)
    return false;
  return (status & CS_CONSTAT_CONNECTED) && !(status & CS_CONSTAT_DEAD);
}

void client_message(Connection* con, CS_INT number, CS_INT severity, std::string_view text) {
  CS_CLIENTMSG msg{};
  msg.severity = severity;
  msg.msgnumber = number;
  const size_t n = std::min(text.size(), sizeof msg.msgstring - 1);
  std::memcpy(msg.msgstring, text.data(), n);
  msg.msgstringlen = static_cast<CS_INT>(n);
  IgnoreStatus(
      detail::deliver_client_message(con && con->ctx ? con->ctx->handle : nullptr, con, msg),
      "the handlers' answer concerns FreeTDS, which did not send this message");
}

void cslib_message(const std::shared_ptr<ContextState>& ctx, CS_INT number, std::string_view text) {
  if (!ctx) return;
  CS_CLIENTMSG msg{};
  msg.severity = CS_SV_CONFIG_FAIL;
  msg.msgnumber = number;
  const size_t n = std::min(text.size(), sizeof msg.msgstring - 1);
  std::memcpy(msg.msgstring, text.data(), n);
  msg.msgstringlen = static_cast<CS_INT>(n);
  CsLibMessageFunc cb;
  {
    std::lock_guard lock(ctx->mutex);
    cb = ctx->cslib_cb;
  }
  if (cb) cb(ctx->handle, &msg);
}

DebugSink* sink_of(Context* ctx) { return ctx && ctx->state ? &ctx->state->debug : nullptr; }
DebugSink* sink_of(Connection* con) {
  if (!con) return nullptr;
  if (con->debug.active()) return &con->debug;
  return con->ctx ? &con->ctx->debug : nullptr;
}
DebugSink* sink_of(Command* cmd) {
  if (!cmd) return nullptr;
  if (cmd->con) return sink_of(cmd->con);
  return cmd->ctx ? &cmd->ctx->debug : nullptr;
}

namespace {
// Keeps a FreeTDS command for internal statements; dropped on every path.
struct FreeCommand {
  void operator()(CS_COMMAND* cmd) const noexcept { ::ct_cmd_drop(cmd); }
};
using FreeCommandPtr = std::unique_ptr<CS_COMMAND, FreeCommand>;
}  // namespace

CS_RETCODE run_internal(Connection* con, const std::string& sql) {
  if (!connection_alive(con)) return CS_FAIL;
  CS_COMMAND* raw = nullptr;
  if (::ct_cmd_alloc(con->cs, &raw) != CS_SUCCEED) return CS_FAIL;
  FreeCommandPtr cmd(raw);
  if (::ct_command(cmd.get(), CS_LANG_CMD, sql.c_str(), CS_NULLTERM, CS_UNUSED) != CS_SUCCEED ||
      ::ct_send(cmd.get()) != CS_SUCCEED)
    return CS_FAIL;
  CS_RETCODE result = CS_SUCCEED;
  CS_INT type = 0;
  CS_RETCODE rc;
  while ((rc = ::ct_results(cmd.get(), &type)) == CS_SUCCEED) {
    if (type == CS_CMD_FAIL) result = CS_FAIL;
    if (type == CS_ROW_RESULT || type == CS_STATUS_RESULT || type == CS_PARAM_RESULT ||
        type == CS_COMPUTE_RESULT)
      ::ct_cancel(nullptr, cmd.get(), CS_CANCEL_CURRENT);
  }
  if (rc != CS_END_RESULTS) result = CS_FAIL;
  return result;
}

}  // namespace internal

using namespace internal;

// ---- Destructors and deleters ----------------------------------------------------------------
Connection::~Connection() {
  for (Command* cmd : commands) cmd->con = nullptr;
  if (cs) {
    if (connected) ::ct_close(cs, CS_FORCE_CLOSE);
    ::ct_con_drop(cs);
  }
  if (ctx) {
    std::lock_guard lock(ctx->mutex);
    --ctx->live_connections;
  }
}

Locale::~Locale() {
  if (cs) ::cs_loc_drop(ctx ? ctx->cs : nullptr, cs);
}

void ContextDeleter::operator()(Context* ctx) const noexcept {
  if (!ctx) return;
  if (ctx->state) {
    std::lock_guard lock(ctx->state->mutex);
    ctx->state->handle = nullptr;
  }
  delete ctx;
}
void ConnectionDeleter::operator()(Connection* con) const noexcept { delete con; }
void LocaleDeleter::operator()(Locale* loc) const noexcept { delete loc; }

// ---- CS-Library -------------------------------------------------------------------------------
CS_RETCODE cs_ctx_alloc(CS_INT version, ContextHandle& ctx) {
  GeneratedConfig::instance().ensure();
  CS_CONTEXT* raw = nullptr;
  if (::cs_ctx_alloc(version, &raw) != CS_SUCCEED || !raw) return CS_FAIL;
  auto state = std::make_shared<ContextState>();
  state->cs = raw;
  ContextHandle handle(new Context{state});
  state->handle = handle.get();
  {
    std::lock_guard lock(registry_mutex);
    registry()[raw] = state;
  }
  ctx = std::move(handle);
  trace(sink_of(ctx.get()), "cs_ctx_alloc", CS_SUCCEED, version, ctx.get());
  return CS_SUCCEED;
}

CS_RETCODE cs_ctx_drop(ContextHandle& ctx) {
  if (!ctx) return CS_FAIL;
  trace(sink_of(ctx.get()), "cs_ctx_drop", CS_SUCCEED, ctx.get());
  ctx.reset();
  return CS_SUCCEED;
}

CS_RETCODE cs_config(Context* ctx, CS_INT action, CS_INT property, CS_VOID* buffer, CS_INT buflen,
                     CS_INT* outlen) {
  if (!ctx || !ctx->state) return CS_FAIL;
  auto& st = *ctx->state;
  CS_RETCODE rc;
  if (property == CS_MESSAGE_CB) {
    // The CS-Library handler is kept here and reached through a trampoline. FreeTDS's switch to
    // "callback mode" would break its own ct_diag, but that is never used (see ct_diag).
    std::lock_guard lock(st.mutex);
    if (action == CS_SET) {
      st.cslib_cb = reinterpret_cast<CsLibMessageFunc>(buffer);
      rc = ::cs_config(st.cs, CS_SET, CS_MESSAGE_CB, reinterpret_cast<CS_VOID*>(&cslib_trampoline),
                       CS_UNUSED, nullptr);
    } else if (action == CS_GET) {
      if (buffer) *static_cast<CsLibMessageFunc*>(buffer) = st.cslib_cb;
      rc = buffer ? CS_SUCCEED : CS_FAIL;
    } else if (action == CS_CLEAR) {
      st.cslib_cb = nullptr;
      rc = ::cs_config(st.cs, CS_CLEAR, CS_MESSAGE_CB, nullptr, CS_UNUSED, nullptr);
    } else {
      rc = CS_FAIL;
    }
  } else {
    rc = ::cs_config(st.cs, action, property, buffer, buflen, outlen);
  }
  trace(sink_of(ctx), "cs_config", rc, ctx, action, property, buflen);
  return rc;
}

CS_RETCODE cs_loc_alloc(Context* ctx, LocaleHandle& locale) {
  if (!ctx || !ctx->state) return CS_FAIL;
  CS_LOCALE* raw = nullptr;
  CS_RETCODE rc = ::cs_loc_alloc(ctx->state->cs, &raw);
  if (rc == CS_SUCCEED) {
    LocaleHandle handle(new Locale);
    handle->ctx = ctx->state;
    handle->cs = raw;
    locale = std::move(handle);
  }
  trace(sink_of(ctx), "cs_loc_alloc", rc, ctx, locale.get());
  return rc;
}

CS_RETCODE cs_loc_drop(Context* ctx, LocaleHandle& locale) {
  if (!locale) return CS_FAIL;
  trace(sink_of(ctx), "cs_loc_drop", CS_SUCCEED, ctx, locale.get());
  locale.reset();
  return CS_SUCCEED;
}

// Names read back what was set, or the library's own values. Setting checks the name against the
// names a Sybase installation ships (FreeTDS accepts anything for charset and language and fails
// every sort order); the charset and language also reach FreeTDS's locale so that a connection
// given this locale (CS_LOC_PROP) uses them.
CS_RETCODE cs_locale(Context* ctx, CS_INT action, Locale* locale, CS_INT type, CS_VOID* buffer,
                     CS_INT buflen, CS_INT* outlen) {
  if (!ctx || !ctx->state || !locale) return CS_FAIL;
  CS_RETCODE rc = CS_FAIL;
  auto value_of = [&](CS_INT t) -> std::string {
    switch (t) {
      case CS_SYB_CHARSET: return locale->charset.empty() ? "utf8" : locale->charset;
      case CS_SYB_LANG: return locale->language.empty() ? "us_english" : locale->language;
      case CS_SYB_SORTORDER: return locale->sortorder.empty() ? "binary" : locale->sortorder;
      default: return {};
    }
  };
  if (action == CS_GET) {
    switch (type) {
      case CS_SYB_CHARSET:
      case CS_SYB_LANG:
      case CS_SYB_SORTORDER: rc = get_string(value_of(type), buffer, buflen, outlen); break;
      case CS_SYB_LANG_CHARSET:
        rc = get_string(value_of(CS_SYB_LANG) + "." + value_of(CS_SYB_CHARSET), buffer, buflen,
                        outlen);
        break;
      default: rc = ::cs_locale(ctx->state->cs, action, locale->cs, type, buffer, buflen, outlen);
    }
  } else if (action == CS_SET) {
    const std::string value = text_arg(static_cast<const CS_CHAR*>(buffer), buflen);
    switch (type) {
      case CS_SYB_CHARSET:
        if (known(kCharsets, value) &&
            ::cs_locale(ctx->state->cs, CS_SET, locale->cs, type, const_cast<char*>(value.c_str()),
                        CS_NULLTERM, nullptr) == CS_SUCCEED) {
          locale->charset = lower(value);
          rc = CS_SUCCEED;
        }
        break;
      case CS_SYB_LANG:
        if (known(kLanguages, value) &&
            ::cs_locale(ctx->state->cs, CS_SET, locale->cs, type, const_cast<char*>(value.c_str()),
                        CS_NULLTERM, nullptr) == CS_SUCCEED) {
          locale->language = lower(value);
          rc = CS_SUCCEED;
        }
        break;
      case CS_SYB_SORTORDER:
        if (known(kSortOrders, value)) {
          locale->sortorder = lower(value);
          rc = CS_SUCCEED;
        }
        break;
      case CS_SYB_LANG_CHARSET: {
        const auto dot = value.find('.');
        const std::string lang = value.substr(0, dot);
        const std::string cset = dot == std::string::npos ? std::string() : value.substr(dot + 1);
        if (known(kLanguages, lang) && (cset.empty() || known(kCharsets, cset))) {
          locale->language = lower(lang);
          if (!cset.empty()) locale->charset = lower(cset);
          rc = CS_SUCCEED;
        }
        break;
      }
      default: rc = ::cs_locale(ctx->state->cs, action, locale->cs, type, buffer, buflen, outlen);
    }
  } else if (action == CS_CLEAR) {
    switch (type) {
      case CS_SYB_CHARSET:
        locale->charset.clear();
        rc = CS_SUCCEED;
        break;
      case CS_SYB_LANG:
        locale->language.clear();
        rc = CS_SUCCEED;
        break;
      case CS_SYB_SORTORDER:
        locale->sortorder.clear();
        rc = CS_SUCCEED;
        break;
      default: rc = ::cs_locale(ctx->state->cs, action, locale->cs, type, buffer, buflen, outlen);
    }
  }
  trace(sink_of(ctx), "cs_locale", rc, ctx, action, locale, type);
  return rc;
}

// ---- Client-Library: context ------------------------------------------------------------------
CS_RETCODE ct_init(Context* ctx, CS_INT version) {
  if (!ctx || !ctx->state) return CS_FAIL;
  auto& st = *ctx->state;
  CS_RETCODE rc = ::ct_init(st.cs, version);
  // Every message passes through the adapter: it routes them per connection (inline queue or
  // handler) instead of FreeTDS's single unlocked per-context store.
  if (rc == CS_SUCCEED)
    rc = ::ct_callback(st.cs, nullptr, CS_SET, CS_SERVERMSG_CB,
                       reinterpret_cast<CS_VOID*>(&server_trampoline));
  if (rc == CS_SUCCEED)
    rc = ::ct_callback(st.cs, nullptr, CS_SET, CS_CLIENTMSG_CB,
                       reinterpret_cast<CS_VOID*>(&client_trampoline));
  if (rc == CS_SUCCEED) {
    std::lock_guard lock(st.mutex);
    st.initialised = true;
  }
  trace(sink_of(ctx), "ct_init", rc, ctx, version);
  return rc;
}

CS_RETCODE ct_exit(Context* ctx, CS_INT option) {
  if (!ctx || !ctx->state) return CS_FAIL;
  // The FreeTDS context is released with the last owner (see ContextState); a non-forced exit
  // with connections still allocated fails as the vendor's does.
  CS_RETCODE rc = CS_SUCCEED;
  {
    std::lock_guard lock(ctx->state->mutex);
    if (option != CS_FORCE_EXIT && ctx->state->live_connections > 0)
      rc = CS_FAIL;
    else
      ctx->state->initialised = false;
  }
  trace(sink_of(ctx), "ct_exit", rc, ctx, option);
  return rc;
}

// FreeTDS fails CS_VER_STRING without an outlen, keeps neither CS_IFILE nor CS_MAX_CONNECT, and
// answers -1 for a timeout never set; those are kept here. CS_TIMEOUT and CS_LOGIN_TIMEOUT are
// also forwarded, but FreeTDS copies them into a connection only at ct_connect: connections
// already open keep the values they were opened with.
CS_RETCODE ct_config(Context* ctx, CS_INT action, CS_INT property, CS_VOID* buffer, CS_INT buflen,
                     CS_INT* outlen) {
  if (!ctx || !ctx->state) return CS_FAIL;
  auto& st = *ctx->state;
  CS_RETCODE rc = CS_FAIL;
  switch (property) {
    case CS_VER_STRING:
    case CS_VERSION: {
      if (action != CS_GET || !buffer || buflen <= 0) break;
      std::vector<char> text(512);
      CS_INT len = 0;
      if (::ct_config(st.cs, CS_GET, property, text.data(), static_cast<CS_INT>(text.size()),
                      &len) != CS_SUCCEED)
        break;
      const std::string value(text.data());
      const size_t n = std::min(value.size(), static_cast<size_t>(buflen - 1));
      std::memcpy(buffer, value.data(), n);
      static_cast<char*>(buffer)[n] = '\0';
      if (outlen) *outlen = static_cast<CS_INT>(value.size());
      rc = CS_SUCCEED;
      break;
    }
    case CS_IFILE: {
      std::lock_guard lock(st.mutex);
      if (action == CS_SET) {
        if (!buffer) break;
        st.ifile = text_arg(static_cast<const CS_CHAR*>(buffer), buflen);
        rc = CS_SUCCEED;
      } else if (action == CS_GET) {
        rc = get_string(st.ifile, buffer, buflen, outlen);
      } else if (action == CS_CLEAR) {
        st.ifile.clear();
        rc = CS_SUCCEED;
      }
      break;
    }
    case CS_MAX_CONNECT: {
      std::lock_guard lock(st.mutex);
      if (action == CS_SET) {
        if (!buffer) break;
        const CS_INT value = *static_cast<CS_INT*>(buffer);
        if (value < 1) break;
        st.max_connect = value;
        rc = CS_SUCCEED;
      } else if (action == CS_GET) {
        if (!buffer) break;
        *static_cast<CS_INT*>(buffer) = st.max_connect;
        if (outlen) *outlen = sizeof(CS_INT);
        rc = CS_SUCCEED;
      } else if (action == CS_CLEAR) {
        st.max_connect = 25;
        rc = CS_SUCCEED;
      }
      break;
    }
    case CS_TIMEOUT:
    case CS_LOGIN_TIMEOUT: {
      const bool query = property == CS_TIMEOUT;
      if (action == CS_SET) {
        if (!buffer) break;
        const CS_INT value = *static_cast<CS_INT*>(buffer);
        if (value < 0 && value != CS_NO_LIMIT) break;
        rc = ::ct_config(st.cs, CS_SET, property, buffer, buflen, outlen);
        if (rc == CS_SUCCEED) {
          std::lock_guard lock(st.mutex);
          (query ? st.timeout : st.login_timeout) = value;
          (query ? st.timeout_set : st.login_timeout_set) = true;
        }
      } else if (action == CS_GET) {
        if (!buffer) break;
        std::lock_guard lock(st.mutex);
        *static_cast<CS_INT*>(buffer) = query ? st.timeout : st.login_timeout;
        if (outlen) *outlen = sizeof(CS_INT);
        rc = CS_SUCCEED;
      } else if (action == CS_CLEAR) {
        rc = ::ct_config(st.cs, CS_CLEAR, property, buffer, buflen, outlen);
        std::lock_guard lock(st.mutex);
        (query ? st.timeout : st.login_timeout) = CS_NO_LIMIT;
        (query ? st.timeout_set : st.login_timeout_set) = false;
      }
      break;
    }
    default: rc = ::ct_config(st.cs, action, property, buffer, buflen, outlen);
  }
  trace(sink_of(ctx), "ct_config", rc, ctx, action, property, buflen);
  return rc;
}

// Handlers are kept by the adapter (its own trampolines stay installed in FreeTDS). The
// completion handler is stored and read back but never called: nothing here is asynchronous.
CS_RETCODE ct_callback(Context* ctx, Connection* con, CS_INT action, CS_INT type, CS_VOID* func) {
  CS_RETCODE rc = CS_FAIL;
  std::mutex* mutex = con ? &con->mutex : (ctx && ctx->state ? &ctx->state->mutex : nullptr);
  if (mutex && (action == CS_SET || action == CS_GET || action == CS_CLEAR)) {
    std::lock_guard lock(*mutex);
    ServerMessageFunc& server = con ? con->server_cb : ctx->state->server_cb;
    ClientMessageFunc& client = con ? con->client_cb : ctx->state->client_cb;
    CompletionFunc& completion = con ? con->completion_cb : ctx->state->completion_cb;
    rc = CS_SUCCEED;
    if (action == CS_GET) {
      if (!func) {
        rc = CS_FAIL;
      } else {
        switch (type) {
          case CS_SERVERMSG_CB: *static_cast<ServerMessageFunc*>(func) = server; break;
          case CS_CLIENTMSG_CB: *static_cast<ClientMessageFunc*>(func) = client; break;
          case CS_COMPLETION_CB: *static_cast<CompletionFunc*>(func) = completion; break;
          default: rc = CS_FAIL;
        }
      }
    } else {
      const bool clear = action == CS_CLEAR;
      switch (type) {
        case CS_SERVERMSG_CB:
          server = clear ? nullptr : reinterpret_cast<ServerMessageFunc>(func);
          break;
        case CS_CLIENTMSG_CB:
          client = clear ? nullptr : reinterpret_cast<ClientMessageFunc>(func);
          break;
        case CS_COMPLETION_CB:
          completion = clear ? nullptr : reinterpret_cast<CompletionFunc>(func);
          break;
        default: rc = CS_FAIL;
      }
    }
  }
  trace(con ? sink_of(con) : sink_of(ctx), "ct_callback", rc, ctx, con, action, type);
  return rc;
}

// ---- Client-Library: connection ---------------------------------------------------------------
CS_RETCODE ct_con_alloc(Context* ctx, ConnectionHandle& con) {
  if (!ctx || !ctx->state) return CS_FAIL;
  auto state = ctx->state;
  {
    std::lock_guard lock(state->mutex);
    if (state->live_connections >= state->max_connect) {
      trace(sink_of(ctx), "ct_con_alloc", CS_FAIL, ctx, "max connect reached");
      return CS_FAIL;
    }
    ++state->live_connections;  // given back by ~Connection
  }
  ConnectionHandle handle(new Connection);
  handle->ctx = state;
  CS_CONNECTION* raw = nullptr;
  CS_RETCODE rc = ::ct_con_alloc(state->cs, &raw);
  if (rc == CS_SUCCEED) {
    handle->cs = raw;
    Connection* self = handle.get();
    // FreeTDS hands its own connection to the message callbacks; its user data leads back to
    // ours. The caller's CS_USERDATA is therefore kept by the adapter.
    rc = ::ct_con_props(raw, CS_SET, CS_USERDATA, &self, sizeof self, nullptr);
    // Sybase servers speak TDS 5.0; FreeTDS's default "auto" would first try TDS 7.
    CS_INT version = CS_TDS_50;
    if (rc == CS_SUCCEED)
      rc = ::ct_con_props(raw, CS_SET, CS_TDS_VERSION, &version, CS_UNUSED, nullptr);
  }
  if (rc == CS_SUCCEED) con = std::move(handle);
  trace(sink_of(ctx), "ct_con_alloc", rc, ctx, con.get());
  return rc;
}

CS_RETCODE ct_con_props(Connection* con, CS_INT action, CS_INT property, CS_VOID* buffer,
                        CS_INT buflen, CS_INT* outlen) {
  if (!con || !con->cs) return CS_FAIL;
  CS_RETCODE rc = CS_FAIL;
  auto get_int = [&](CS_INT value) {
    if (!buffer) return CS_FAIL;
    *static_cast<CS_INT*>(buffer) = value;
    if (outlen) *outlen = sizeof(CS_INT);
    return CS_SUCCEED;
  };
  switch (property) {
    case CS_USERDATA: {
      std::lock_guard lock(con->mutex);
      if (action == CS_SET) {
        if (!buffer || buflen < 0) break;
        con->userdata.assign(static_cast<char*>(buffer), static_cast<char*>(buffer) + buflen);
        rc = CS_SUCCEED;
      } else if (action == CS_GET) {
        if (!buffer) break;
        const CS_INT n = std::min<CS_INT>(buflen, static_cast<CS_INT>(con->userdata.size()));
        if (n > 0) std::memcpy(buffer, con->userdata.data(), static_cast<size_t>(n));
        if (outlen) *outlen = static_cast<CS_INT>(con->userdata.size());
        rc = CS_SUCCEED;
      } else if (action == CS_CLEAR) {
        con->userdata.clear();
        rc = CS_SUCCEED;
      }
      break;
    }
    case CS_BULK_LOGIN:
      // FreeTDS answers GET inverted; the value is kept here.
      if (action == CS_SET && buffer) {
        rc = ::ct_con_props(con->cs, action, property, buffer, buflen, outlen);
        if (rc == CS_SUCCEED) con->bulk_login = *static_cast<CS_INT*>(buffer) != CS_FALSE;
      } else if (action == CS_GET) {
        rc = get_int(con->bulk_login ? CS_TRUE : CS_FALSE);
      } else if (action == CS_CLEAR) {
        CS_INT on = CS_TRUE;
        rc = ::ct_con_props(con->cs, CS_SET, property, &on, CS_UNUSED, nullptr);
        con->bulk_login = true;
      }
      break;
    case CS_LOGIN_STATUS:
      // FreeTDS leaves the buffer untouched.
      if (action == CS_GET) rc = get_int(connection_alive(con) ? CS_TRUE : CS_FALSE);
      break;
    case CS_TDS_VERSION:
      if (action == CS_SET && buffer) {
        rc = ::ct_con_props(con->cs, action, property, buffer, buflen, outlen);
        if (rc == CS_SUCCEED) {
          con->tds_version = *static_cast<CS_INT*>(buffer);
          con->tds_version_set = true;
        }
      } else if (action == CS_GET) {
        // FreeTDS dereferences the missing socket before connect.
        if (con->connected)
          rc = ::ct_con_props(con->cs, action, property, buffer, buflen, outlen);
        else
          rc = get_int(con->tds_version);
      }
      break;
    case CS_ASYNC_NOTIFS:
    case CS_DIAG_TIMEOUT:
    case CS_EXTRA_INF:
    case CS_HIDDEN_KEYS:
    case CS_SEC_ENCRYPTION:
    case CS_SEC_NEGOTIATE: {
      // Accepted by FreeTDS but not kept: stored here so they read back.
      std::lock_guard lock(con->mutex);
      if (action == CS_SET && buffer) {
        con->int_props[property] = *static_cast<CS_INT*>(buffer);
        rc = CS_SUCCEED;
      } else if (action == CS_GET) {
        auto it = con->int_props.find(property);
        rc = get_int(it == con->int_props.end() ? CS_FALSE : it->second);
      } else if (action == CS_CLEAR) {
        con->int_props.erase(property);
        rc = CS_SUCCEED;
      }
      break;
    }
    case CS_SERVERADDR: {
      // Kept here; ct_connect turns it into an entry of the generated configuration.
      std::lock_guard lock(con->mutex);
      if (action == CS_SET) {
        const std::string text = text_arg(static_cast<const CS_CHAR*>(buffer), buflen);
        std::string host;
        int port = 0;
        if (buffer && parse_server_addr(text, host, port)) {
          con->server_host = host;
          con->server_port = port;
          con->server_addr_text = host + " " + std::to_string(port);
          rc = CS_SUCCEED;
        }
      } else if (action == CS_GET) {
        rc = get_string(con->server_addr_text, buffer, buflen, outlen);
      } else if (action == CS_CLEAR) {
        con->server_host.clear();
        con->server_port = 0;
        con->server_addr_text.clear();
        rc = CS_SUCCEED;
      }
      break;
    }
    case CS_LOC_PROP:
      if (action == CS_SET) {
        auto* loc = static_cast<Locale*>(buffer);
        if (loc && loc->cs) {
          rc = ::ct_con_props(con->cs, CS_SET, CS_LOC_PROP, loc->cs, CS_UNUSED, outlen);
          if (rc == CS_SUCCEED) con->locale = loc;
        }
      } else if (action == CS_GET) {
        auto* loc = static_cast<Locale*>(buffer);
        if (loc && loc->cs && con->locale) {
          loc->charset = con->locale->charset;
          loc->language = con->locale->language;
          loc->sortorder = con->locale->sortorder;
          rc = ::ct_con_props(con->cs, CS_GET, CS_LOC_PROP, loc->cs, CS_UNUSED, outlen);
        }
      }
      break;
    case CS_PARENT_HANDLE:
      if (action == CS_GET && buffer) {
        *static_cast<Context**>(buffer) = con->ctx ? con->ctx->handle : nullptr;
        rc = CS_SUCCEED;
      }
      break;
    default: rc = ::ct_con_props(con->cs, action, property, buffer, buflen, outlen);
  }
  trace(sink_of(con), "ct_con_props", rc, con, action, property, buflen);
  return rc;
}

CS_RETCODE ct_connect(Connection* con, const CS_CHAR* servername, CS_INT snamelen) {
  if (!con || !con->cs) return CS_FAIL;
  CS_RETCODE rc = CS_FAIL;
  std::string name = text_arg(servername, snamelen);
  std::string host;
  int port = 0;
  {
    std::lock_guard lock(con->mutex);
    host = con->server_host;
    port = con->server_port;
  }
  if (con->connected) {
    client_message(con, 16843049, 1,
                   "ct_connect(): user api layer: external error: The connection is already open.");
  } else {
    bool ok = true;
    if (!host.empty()) {
      if (name.empty()) name = host + "_" + std::to_string(port);
      // The address reaches FreeTDS as a configuration entry for the server name (see
      // GeneratedConfig); only a user's own FREETDSCONF makes us fall back to CS_SERVERADDR.
      if (!GeneratedConfig::instance().add_server(name, host, port)) {
        const std::string addr = host + " " + std::to_string(port);
        ok = ::ct_con_props(con->cs, CS_SET, CS_SERVERADDR, const_cast<char*>(addr.c_str()),
                            CS_NULLTERM, nullptr) == CS_SUCCEED;
      }
    }
    if (ok) {
      // One connect at a time to a port, so that the socket it opens can be told apart (see
      // find_socket).
      std::lock_guard serial(connect_lock(port));
      {
        std::lock_guard lock(con->mutex);
        con->sockets_before = sockets_to(con->server_port);
        con->connecting = true;
        con->socket = -1;
      }
      rc = ::ct_connect(con->cs, name.empty() ? nullptr : const_cast<char*>(name.c_str()),
                        name.empty() ? 0 : CS_NULLTERM);
      con->connected = rc == CS_SUCCEED;
      std::lock_guard lock(con->mutex);
      con->connecting = false;
      if (con->connected && con->socket < 0) find_socket(con);
      con->sockets_before.clear();
    }
  }
  trace(sink_of(con), "ct_connect", rc, con, name);
  return rc;
}

namespace {
// FreeTDS cannot send these options over TDS 5.0 (rowcount fails outright, ansi permissions and
// string truncation go out as option 0, and arithabort/arithignore cannot be switched off);
// the equivalent Transact-SQL is sent instead.
bool option_as_sql(CS_INT option, CS_INT value, std::string& sql) {
  switch (option) {
    case CS_OPT_ROWCOUNT: sql = "set rowcount " + std::to_string(value); return true;
    case CS_OPT_ANSIPERM:
      sql = std::string("set ansi_permissions ") + (value ? "on" : "off");
      return true;
    case CS_OPT_STR_RTRUNC:
      sql = std::string("set string_rtruncation ") + (value ? "on" : "off");
      return true;
    case CS_OPT_ARITHABORT:
      if (value) return false;
      sql = "set arithabort off";
      return true;
    case CS_OPT_ARITHIGNORE:
      if (value) return false;
      sql = "set arithignore off";
      return true;
    default: return false;
  }
}
}  // namespace

CS_RETCODE ct_options(Connection* con, CS_INT action, CS_INT option, CS_VOID* param,
                      CS_INT paramlen, CS_INT* outlen) {
  if (!con || !con->cs) return CS_FAIL;
  CS_RETCODE rc = CS_FAIL;
  if (action == CS_SET) {
    std::string sql;
    const CS_INT value = param ? *static_cast<CS_INT*>(param) : 0;
    if (param && option_as_sql(option, value, sql))
      rc = run_internal(con, sql);
    else
      rc = ::ct_options(con->cs, action, option, param, paramlen, outlen);
    if (rc == CS_SUCCEED && param) {
      // Strings (paramlen given) and integers are kept as given, for CS_GET.
      const size_t n = paramlen > 0 ? static_cast<size_t>(paramlen) : sizeof(CS_INT);
      std::lock_guard lock(con->mutex);
      con->options[option].assign(static_cast<char*>(param), static_cast<char*>(param) + n);
    }
  } else if (action == CS_GET) {
    std::vector<char> value;
    {
      std::lock_guard lock(con->mutex);
      if (auto it = con->options.find(option); it != con->options.end()) value = it->second;
    }
    if (!value.empty()) {
      if (param && (paramlen <= 0 || paramlen >= static_cast<CS_INT>(value.size()))) {
        std::memcpy(param, value.data(), value.size());
        if (outlen) *outlen = static_cast<CS_INT>(value.size());
        rc = CS_SUCCEED;
      }
    } else {
      rc = ::ct_options(con->cs, action, option, param, paramlen, outlen);
    }
  } else if (action == CS_CLEAR) {
    rc = ::ct_options(con->cs, action, option, param, paramlen, outlen);
    std::lock_guard lock(con->mutex);
    con->options.erase(option);
  }
  trace(sink_of(con), "ct_options", rc, con, action, option, paramlen);
  return rc;
}

// FreeTDS has no ct_debug (its own trace is process-wide, from TDSDUMP). The adapter traces its
// own calls: one line per routine called on the context or connection while flags are set and
// a file is open.
CS_RETCODE ct_debug(Context* ctx, Connection* con, CS_INT operation, CS_INT flag,
                    const CS_CHAR* filename, CS_INT fnamelen) {
  DebugSink* sink = con ? &con->debug : (ctx && ctx->state ? &ctx->state->debug : nullptr);
  CS_RETCODE rc = CS_FAIL;
  if (sink) {
    switch (operation) {
      case CS_SET_DBG_FILE:
        rc = sink->open(text_arg(filename, fnamelen)) ? CS_SUCCEED : CS_FAIL;
        break;
      case CS_SET_PROTOCOL_FILE: rc = CS_SUCCEED; break;  // no protocol capture below FreeTDS
      case CS_SET_FLAG:
        sink->set_flags(flag, true);
        rc = CS_SUCCEED;
        break;
      case CS_CLEAR_FLAG:
        sink->set_flags(flag, false);
        rc = CS_SUCCEED;
        break;
      default: break;
    }
  }
  if (sink && sink->active()) trace(sink, "ct_debug", rc, ctx, con, operation, flag);
  return rc;
}

CS_RETCODE ct_close(Connection* con, CS_INT option) {
  if (!con || !con->cs) return CS_FAIL;
  CS_RETCODE rc = CS_SUCCEED;
  // FreeTDS frees its socket unconditionally; calling it on a closed connection would touch a
  // missing socket.
  if (con->connected) rc = ::ct_close(con->cs, option);
  con->connected = false;
  {
    std::lock_guard lock(con->mutex);
    con->socket = -1;
  }
  trace(sink_of(con), "ct_close", rc, con, option);
  return rc;
}

CS_RETCODE ct_con_drop(ConnectionHandle& con) {
  if (!con) return CS_FAIL;
  trace(sink_of(con.get()), "ct_con_drop", CS_SUCCEED, con.get());
  con.reset();  // ~Connection detaches its commands and closes an open connection first
  return CS_SUCCEED;
}

// ---- Messages -----------------------------------------------------------------------------
// FreeTDS's ct_diag keeps one unlocked store per context and fails once a CS-Library handler was
// installed; it is never used. Each connection switched to inline collection has a locked queue
// of its own, so worker threads never see each other's messages.
CS_RETCODE ct_diag(Connection* con, CS_INT operation, CS_INT type, CS_INT idx, CS_VOID* buffer) {
  if (!con) return CS_FAIL;
  CS_RETCODE rc = CS_FAIL;
  {
    std::lock_guard lock(con->mutex);
    auto& q = con->queue;
    const bool server = type == CS_SERVERMSG_TYPE;
    const bool client = type == CS_CLIENTMSG_TYPE;
    const bool all = type == CS_ALLMSG_TYPE;
    if (operation == CS_INIT) {
      con->inline_diag = true;
      rc = CS_SUCCEED;
    } else if (!con->inline_diag) {
      rc = CS_FAIL;  // as the vendor's: inline collection not started
    } else if (operation == CS_STATUS) {
      if (buffer && (server || client || all)) {
        const size_t n = server   ? q.server.size()
                         : client ? q.client.size()
                                  : q.server.size() + q.client.size();
        *static_cast<CS_INT*>(buffer) = static_cast<CS_INT>(n);
        rc = CS_SUCCEED;
      }
    } else if (operation == CS_GET) {
      if (buffer && idx >= 1 && (server || client)) {
        const size_t n = server ? q.server.size() : q.client.size();
        if (static_cast<size_t>(idx) > n) {
          rc = CS_NOMSG;
        } else {
          if (server)
            *static_cast<CS_SERVERMSG*>(buffer) = q.server[static_cast<size_t>(idx - 1)];
          else
            *static_cast<CS_CLIENTMSG*>(buffer) = q.client[static_cast<size_t>(idx - 1)];
          rc = CS_SUCCEED;
        }
      }
    } else if (operation == CS_CLEAR) {
      if (server || all) q.server.clear();
      if (client || all) q.client.clear();
      rc = (server || client || all) ? CS_SUCCEED : CS_FAIL;
    } else if (operation == CS_MSGLIMIT) {
      if (buffer && (server || client || all)) {
        const CS_INT limit = *static_cast<CS_INT*>(buffer);
        if (limit >= 0 || limit == CS_NO_LIMIT) {
          (server ? q.server_limit : client ? q.client_limit : q.all_limit) = limit;
          rc = CS_SUCCEED;
        }
      }
    }
  }
  trace(sink_of(con), "ct_diag", rc, con, operation, type, idx);
  return rc;
}

namespace detail {
namespace {
bool room_for(const MessageQueue& q, bool server) {
  const size_t own = server ? q.server.size() : q.client.size();
  const CS_INT own_limit = server ? q.server_limit : q.client_limit;
  if (own_limit != CS_NO_LIMIT && own >= static_cast<size_t>(own_limit)) return false;
  if (q.all_limit != CS_NO_LIMIT &&
      q.server.size() + q.client.size() >= static_cast<size_t>(q.all_limit))
    return false;
  return true;
}
}  // namespace

// Inline connections keep the message (beyond a CS_MSGLIMIT it is dropped); otherwise the
// connection's handler, else the context's, is called and its answer returned.
CS_RETCODE deliver_server_message(Context* ctx, Connection* con, const CS_SERVERMSG& msg) {
  ServerMessageFunc cb = nullptr;
  if (con) {
    std::lock_guard lock(con->mutex);
    if (con->inline_diag) {
      if (room_for(con->queue, true)) con->queue.server.push_back(msg);
      return CS_SUCCEED;
    }
    cb = con->server_cb;
  }
  std::shared_ptr<ContextState> state = con ? con->ctx : (ctx ? ctx->state : nullptr);
  if (!cb && state) {
    std::lock_guard lock(state->mutex);
    cb = state->server_cb;
  }
  if (!cb) return CS_SUCCEED;
  CS_SERVERMSG copy = msg;
  return cb(state ? state->handle : ctx, con, &copy);
}

CS_RETCODE deliver_client_message(Context* ctx, Connection* con, const CS_CLIENTMSG& msg) {
  ClientMessageFunc cb = nullptr;
  if (con) {
    std::lock_guard lock(con->mutex);
    if (con->inline_diag) {
      if (room_for(con->queue, false)) con->queue.client.push_back(msg);
      return CS_SUCCEED;
    }
    cb = con->client_cb;
  }
  std::shared_ptr<ContextState> state = con ? con->ctx : (ctx ? ctx->state : nullptr);
  if (!cb && state) {
    std::lock_guard lock(state->mutex);
    cb = state->client_cb;
  }
  if (!cb) return CS_SUCCEED;
  CS_CLIENTMSG copy = msg;
  return cb(state ? state->handle : ctx, con, &copy);
}
}  // namespace detail

}  // namespace oc
