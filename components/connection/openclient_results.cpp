// Commands, results, binding and cursors.
#include "connection/openclient_internal.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>

namespace oc {
namespace internal {
namespace {

std::string text_of(const CS_CHAR* text, CS_INT len) {
  if (!text) return {};
  if (len == CS_NULLTERM) return std::string(text);
  if (len < 0) return {};
  return std::string(text, static_cast<size_t>(len));
}

// FreeTDS returns CS_CANCELED once from the call after a successful CS_CANCEL_ALL of a sent
// command; the vendor's library does not, and the command is reusable at once. That one answer
// is swallowed and the call repeated.
template <typename Call>
CS_RETCODE after_cancel(Command* cmd, Call call) {
  CS_RETCODE rc = call();
  if (cmd->swallow_canceled) {
    cmd->swallow_canceled = false;
    if (rc == CS_CANCELED) rc = call();
  }
  return rc;
}

// A command may only reach FreeTDS while its connection is there and alive: FreeTDS dereferences
// the missing socket of a closed or dropped connection.
bool usable(Command* cmd) { return cmd && cmd->cs && connection_alive(cmd->con); }

void reset_batch(Command* cmd) {
  cmd->batch_rows = 0;
  cmd->batch_pos = 0;
  cmd->batch_row_failed = false;
}

void reset_binds(Command* cmd) {
  cmd->binds.clear();
  cmd->user_count = 0;
  cmd->batch_capacity = 1;
  reset_batch(cmd);
}

// Identifier boundaries for named parameter substitution.
bool ident_char(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '@' || c == '#' ||
         c == '$';
}

// Writes parameter values into statement text: `?` markers in order, or `@name` where the
// parameter was named. Quoted strings and comments are left alone.
std::string substitute(const std::string& text,
                       const std::vector<std::pair<std::string, std::string>>& params) {
  std::string out;
  size_t next = 0;
  for (size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c == '\'' || c == '"') {
      const size_t end = text.find(c, i + 1);
      const size_t stop = end == std::string::npos ? text.size() : end + 1;
      out.append(text, i, stop - i);
      i = stop;
      continue;
    }
    if (c == '-' && i + 1 < text.size() && text[i + 1] == '-') {
      const size_t end = text.find('\n', i);
      const size_t stop = end == std::string::npos ? text.size() : end;
      out.append(text, i, stop - i);
      i = stop;
      continue;
    }
    if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
      const size_t end = text.find("*/", i + 2);
      const size_t stop = end == std::string::npos ? text.size() : end + 2;
      out.append(text, i, stop - i);
      i = stop;
      continue;
    }
    if (c == '?') {
      while (next < params.size() && !params[next].first.empty()) ++next;
      out += next < params.size() ? params[next++].second : std::string("NULL");
      ++i;
      continue;
    }
    if (c == '@' && (i == 0 || !ident_char(text[i - 1]))) {
      size_t end = i + 1;
      while (end < text.size() && ident_char(text[end])) ++end;
      const std::string name = text.substr(i, end - i);
      auto it = std::find_if(params.begin(), params.end(), [&](const auto& p) {
        return !p.first.empty() && (p.first == name || "@" + p.first == name);
      });
      if (it != params.end()) {
        out += it->second;
        i = end;
        continue;
      }
      out.append(text, i, end - i);
      i = end;
      continue;
    }
    out += c;
    ++i;
  }
  return out;
}

std::atomic<unsigned> command_serial{0};

// Parameters given to a cursor command, as literals with their names.
std::vector<std::pair<std::string, std::string>> named_literals(Command* cmd) {
  std::vector<std::pair<std::string, std::string>> out;
  for (size_t i = 0; i < cmd->literals.size(); ++i)
    out.emplace_back(i < cmd->literal_names.size() ? cmd->literal_names[i] : std::string(),
                     cmd->literals[i]);
  return out;
}

void clear_literals(Command* cmd) {
  cmd->literals.clear();
  cmd->literal_names.clear();
}

// A null buffer clears a column's binding, as the vendor's library allows. FreeTDS then stops
// converting into the column but still writes its length and indicator through the pointers it
// was given last, so those arrays are kept until the result set ends; only the data goes.
CS_RETCODE unbind(Command* cmd, CS_INT item) {
  if (item < 1 || static_cast<size_t>(item) > cmd->binds.size()) return CS_SUCCEED;
  ColumnBind& b = cmd->binds[static_cast<size_t>(item - 1)];
  if (!b.bound) return CS_SUCCEED;
  CS_DATAFMT internal{};
  internal.datatype = b.internal_type;
  internal.maxlength = b.internal_len;
  internal.count = cmd->batch_capacity;
  const CS_RETCODE rc = ::ct_bind(cmd->cs, item, &internal, nullptr, b.lens.data(), b.inds.data());
  if (rc != CS_SUCCEED) return rc;
  b.bound = false;
  b.buffer = nullptr;
  b.copied = nullptr;
  b.indicator = nullptr;
  std::vector<char>().swap(b.data);
  return CS_SUCCEED;
}

std::atomic<CS_INT> failing_bind{0};

bool take_bind_failure(CS_INT item) {
  CS_INT expected = item;
  return item > 0 && failing_bind.compare_exchange_strong(expected, 0);
}

}  // namespace

void detach_command(Command* cmd) { cmd->con = nullptr; }

}  // namespace internal

namespace detail {
void fail_next_bind(CS_INT item) { internal::failing_bind = item; }
}  // namespace detail

using namespace internal;

// FreeTDS links its commands into a list of the connection, which an attention sent from another
// thread walks (ct_cancel on the connection); the list changes only under the connection's lock.
Command::~Command() {
  if (con) {
    std::lock_guard lock(con->mutex);
    con->commands.erase(this);
    if (cs) ::ct_cmd_drop(cs);
    return;
  }
  if (cs) ::ct_cmd_drop(cs);
}

void CommandDeleter::operator()(Command* cmd) const noexcept { delete cmd; }

CS_RETCODE ct_cmd_alloc(Connection* con, CommandHandle& cmd) {
  if (!con || !con->cs) return CS_FAIL;
  CS_COMMAND* raw = nullptr;
  CS_RETCODE rc;
  {
    std::lock_guard lock(con->mutex);
    rc = ::ct_cmd_alloc(con->cs, &raw);
  }
  if (rc == CS_SUCCEED) {
    CommandHandle handle(new Command);
    handle->cs = raw;
    handle->con = con;
    handle->ctx = con->ctx;
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "_%06u", ++command_serial % 1000000u);
    handle->dyn_prefix = prefix;
    {
      std::lock_guard lock(con->mutex);
      con->commands.insert(handle.get());
    }
    cmd = std::move(handle);
  }
  trace(sink_of(con), "ct_cmd_alloc", rc, con, cmd.get());
  return rc;
}

CS_RETCODE ct_cmd_drop(CommandHandle& cmd) {
  if (!cmd) return CS_FAIL;
  trace(sink_of(cmd.get()), "ct_cmd_drop", CS_SUCCEED, cmd.get());
  cmd.reset();  // a command detached from its dropped connection is freed just the same
  return CS_SUCCEED;
}

CS_RETCODE ct_command(Command* cmd, CS_INT type, const CS_VOID* buffer, CS_INT buflen,
                      CS_INT option) {
  CS_RETCODE rc = CS_FAIL;
  if (cmd && cmd->cs && cmd->con) {
    rc = ::ct_command(cmd->cs, type, buffer, buflen, option);
    if (rc == CS_SUCCEED && option != CS_MORE) {
      cmd->is_cursor = false;
      cmd->emulated_cursor = false;
      clear_literals(cmd);
    }
  }
  trace(sink_of(cmd), "ct_command", rc, cmd, type, buflen, option);
  return rc;
}

namespace {
// Declares the FreeTDS cursor on the text with the collected values written in, and replays the
// rows and open requests made on it since.
CS_RETCODE declare_with_values(Command* cmd) {
  const std::string text = substitute(cmd->cursor_text, named_literals(cmd));
  CS_INT option = cmd->cursor_option == CS_READ_ONLY ? CS_READ_ONLY : CS_UNUSED;
  CS_RETCODE rc =
      ::ct_cursor(cmd->cs, CS_CURSOR_DECLARE, const_cast<char*>(cmd->cursor_name.c_str()),
                  CS_NULLTERM, const_cast<char*>(text.c_str()), CS_NULLTERM, option);
  if (rc == CS_SUCCEED && cmd->cursor_rows_requested)
    rc = ::ct_cursor(cmd->cs, CS_CURSOR_ROWS, nullptr, CS_UNUSED, nullptr, CS_UNUSED,
                     cmd->cursor_rows);
  if (rc == CS_SUCCEED && cmd->cursor_open_requested)
    rc = ::ct_cursor(cmd->cs, CS_CURSOR_OPEN, nullptr, CS_UNUSED, nullptr, CS_UNUSED, CS_UNUSED);
  return rc;
}
}  // namespace

CS_RETCODE ct_cursor(Command* cmd, CS_INT type, const CS_CHAR* name, CS_INT namelen,
                     const CS_CHAR* text, CS_INT tlen, CS_INT option) {
  CS_RETCODE rc = CS_FAIL;
  if (cmd && cmd->cs && cmd->con) {
    if (cmd->emulated_cursor) {
      // A cursor declared on a prepared statement exists only here until ct_send.
      switch (type) {
        case CS_CURSOR_OPTION:
          cmd->cursor_option = option;
          rc = CS_SUCCEED;
          break;
        case CS_CURSOR_ROWS:
          if (option >= 1) {
            cmd->cursor_rows = option;
            cmd->cursor_rows_requested = true;
            rc = CS_SUCCEED;
          }
          break;
        case CS_CURSOR_OPEN:
          cmd->cursor_open_requested = true;
          rc = CS_SUCCEED;
          break;
        case CS_CURSOR_DEALLOC:
          cmd->emulated_dealloc = true;
          rc = CS_SUCCEED;
          break;
        default: rc = CS_FAIL;
      }
    } else {
      switch (type) {
        case CS_CURSOR_DECLARE:
          rc = ::ct_cursor(cmd->cs, type, const_cast<CS_CHAR*>(name), namelen,
                           const_cast<CS_CHAR*>(text), tlen, option);
          if (rc == CS_SUCCEED) {
            cmd->is_cursor = true;
            cmd->cursor_name = text_of(name, namelen);
            cmd->cursor_text = text_of(text, tlen);
            cmd->cursor_option = option;
            cmd->cursor_rows = 1;
            cmd->cursor_rows_requested = false;
            cmd->cursor_open_requested = false;
            clear_literals(cmd);
          }
          break;
        case CS_CURSOR_OPTION:
          // FreeTDS has no separate option step; over TDS 5.0 its declare asks for a read-only
          // cursor in any case. The option is kept for a re-declare with parameter values.
          if (cmd->is_cursor) {
            cmd->cursor_option = option;
            rc = CS_SUCCEED;
          }
          break;
        case CS_CURSOR_ROWS:
          rc = ::ct_cursor(cmd->cs, type, const_cast<CS_CHAR*>(name), namelen,
                           const_cast<CS_CHAR*>(text), tlen, option);
          if (rc == CS_SUCCEED) {
            cmd->cursor_rows = std::max<CS_INT>(option, 1);
            cmd->cursor_rows_requested = true;
          }
          break;
        case CS_CURSOR_OPEN:
          rc = ::ct_cursor(cmd->cs, type, const_cast<CS_CHAR*>(name), namelen,
                           const_cast<CS_CHAR*>(text), tlen, option);
          if (rc == CS_SUCCEED) cmd->cursor_open_requested = true;
          break;
        default:
          rc = ::ct_cursor(cmd->cs, type, const_cast<CS_CHAR*>(name), namelen,
                           const_cast<CS_CHAR*>(text), tlen, option);
      }
    }
  }
  trace(sink_of(cmd), "ct_cursor", rc, cmd, type, text_of(name, namelen), option);
  return rc;
}

// Prepared statements: FreeTDS keeps dynamic ids per connection, matched by prefix, so two
// commands preparing the same id would collide. Each command's ids carry a suffix of its own on
// the wire. A command reaches the statement it prepared itself, other commands of the connection
// the latest one still prepared under that id: when a data set prepares and releases "PrepId"
// for a moment, the one another data set prepared before is reached again. The statement text is
// remembered for cursors declared on it.
namespace {
using PreparedList = std::vector<std::pair<std::string, std::string>>;

// The statement `cmd` reaches under `name`, or null. The connection's lock is held.
std::pair<std::string, std::string>* reached(Command* cmd, const std::string& name) {
  auto it = cmd->con->prepared.find(name);
  if (it == cmd->con->prepared.end() || it->second.empty()) return nullptr;
  PreparedList& list = it->second;
  const std::string own = name + cmd->dyn_prefix;
  auto mine = std::find_if(list.begin(), list.end(), [&](const auto& p) { return p.first == own; });
  return mine != list.end() ? &*mine : &list.back();
}
}  // namespace

CS_RETCODE ct_dynamic(Command* cmd, CS_INT type, const CS_CHAR* id, CS_INT idlen,
                      const CS_CHAR* buffer, CS_INT buflen) {
  CS_RETCODE rc = CS_FAIL;
  const std::string name = text_of(id, idlen);
  if (cmd && cmd->cs && cmd->con) {
    Connection* con = cmd->con;
    switch (type) {
      case CS_PREPARE: {
        const std::string wire = name + cmd->dyn_prefix;
        rc = ::ct_dynamic(cmd->cs, type, const_cast<char*>(wire.c_str()), CS_NULLTERM,
                          const_cast<CS_CHAR*>(buffer), buflen);
        if (rc == CS_SUCCEED) {
          std::lock_guard lock(con->mutex);
          PreparedList& list = con->prepared[name];
          std::erase_if(list, [&](const auto& p) { return p.first == wire; });
          list.emplace_back(wire, text_of(buffer, buflen));
        }
        cmd->is_cursor = false;
        cmd->emulated_cursor = false;
        break;
      }
      case CS_CURSOR_DECLARE: {
        // FreeTDS cannot declare a cursor on a prepared statement: an ordinary cursor is
        // declared on the statement's text instead, with the parameter values written in as
        // literals, at the ct_send that opens it.
        std::string text;
        {
          std::lock_guard lock(con->mutex);
          if (const auto* p = reached(cmd, name)) text = p->second;
        }
        if (text.empty()) {
          client_message(con, 16843146, 1,
                         "ct_dynamic(): user api layer: external error: The dynamic statement was "
                         "not prepared.");
          break;
        }
        cmd->emulated_cursor = true;
        cmd->is_cursor = true;
        cmd->cursor_name = text_of(buffer, buflen);
        cmd->cursor_text = text;
        cmd->cursor_option = CS_UNUSED;
        cmd->cursor_rows = 1;
        cmd->cursor_rows_requested = false;
        cmd->cursor_open_requested = false;
        cmd->emulated_declared = false;
        cmd->emulated_dealloc = false;
        clear_literals(cmd);
        rc = CS_SUCCEED;
        break;
      }
      default: {
        std::string wire = name;
        {
          std::lock_guard lock(con->mutex);
          if (const auto* p = reached(cmd, name)) {
            wire = p->first;
            if (type == CS_DEALLOC) {
              PreparedList& list = con->prepared[name];
              std::erase_if(list, [&](const auto& q) { return q.first == wire; });
              if (list.empty()) con->prepared.erase(name);
            }
          }
        }
        rc = ::ct_dynamic(cmd->cs, type, id ? const_cast<char*>(wire.c_str()) : nullptr,
                          id ? CS_NULLTERM : idlen, const_cast<CS_CHAR*>(buffer), buflen);
        cmd->is_cursor = false;
        cmd->emulated_cursor = false;
      }
    }
  }
  trace(sink_of(cmd), "ct_dynamic", rc, cmd, type, name);
  return rc;
}

// FreeTDS takes no parameters on cursor commands: their values are kept as Transact-SQL literals
// and written into the cursor's text at ct_send.
CS_RETCODE ct_param(Command* cmd, CS_DATAFMT* datafmt, CS_VOID* data, CS_INT datalen,
                    CS_SMALLINT indicator) {
  CS_RETCODE rc = CS_FAIL;
  if (cmd && cmd->cs && cmd->con && datafmt) {
    if (cmd->is_cursor) {
      bool ok = true;
      std::string literal =
          sql_literal(cmd->ctx ? cmd->ctx->cs : nullptr, datafmt, data, datalen, indicator, &ok);
      if (ok) {
        cmd->literals.push_back(std::move(literal));
        std::string pname(
            datafmt->name,
            static_cast<size_t>(std::clamp<CS_INT>(
                datafmt->namelen == CS_NULLTERM
                    ? static_cast<CS_INT>(strnlen(datafmt->name, sizeof datafmt->name))
                    : datafmt->namelen,
                0, sizeof datafmt->name)));
        cmd->literal_names.push_back(std::move(pname));
        rc = CS_SUCCEED;
      }
    } else {
      rc = ::ct_param(cmd->cs, datafmt, data, datalen, indicator);
    }
  }
  trace(sink_of(cmd), "ct_param", rc, cmd, datafmt ? datafmt->datatype : 0, datalen, indicator);
  return rc;
}

CS_RETCODE ct_send(Command* cmd) {
  CS_RETCODE rc = CS_FAIL;
  if (usable(cmd) && cmd->emulated_cursor &&
      (cmd->emulated_dealloc || !cmd->cursor_open_requested)) {
    // Declaring (or releasing) a cursor on a prepared statement before its open: the server
    // cursor is declared only at the open, once the parameter values are known, so these sends
    // have nothing to carry and are answered as the server would answer them.
    if (cmd->emulated_dealloc) {
      cmd->emulated_cursor = false;
      cmd->emulated_declared = false;
      cmd->emulated_dealloc = false;
      cmd->is_cursor = false;
      clear_literals(cmd);
    } else {
      cmd->emulated_declared = true;
    }
    cmd->synthetic = true;
    cmd->synthetic_results = {CS_CMD_SUCCEED, CS_CMD_DONE};
    cmd->cursor_rows_requested = false;
    cmd->cmd_number = 0;
    cmd->at_boundary = true;
    reset_binds(cmd);
    rc = CS_SUCCEED;
  } else if (usable(cmd)) {
    cmd->synthetic = false;
    rc = CS_SUCCEED;
    if (cmd->is_cursor && (cmd->emulated_cursor || !cmd->literals.empty())) {
      if (cmd->cursor_text.empty())
        rc = CS_FAIL;
      else
        rc = declare_with_values(cmd);
      cmd->emulated_cursor = false;
      clear_literals(cmd);
    }
    if (rc == CS_SUCCEED) rc = after_cancel(cmd, [&] { return ::ct_send(cmd->cs); });
    cmd->cursor_open_requested = false;
    cmd->cursor_rows_requested = false;
    cmd->cmd_number = 0;
    cmd->at_boundary = true;
    reset_binds(cmd);
  }
  trace(sink_of(cmd), "ct_send", rc, cmd);
  return rc;
}

// The command number is counted here (FreeTDS fails CS_CMD_NUMBER and prints to stderr): 0 after
// ct_send, raised by the first result of the send and by each first result after a CS_CMD_DONE;
// CS_CMD_DONE itself keeps the number of the statement it ends.
//
// Rows of the current result set that were not fetched are discarded first: FreeTDS would hand
// out the same row result again on every call, and a caller reading results until they end would
// never get past it. Rows that cannot be discarded (a reply FreeTDS cannot decode) stay where
// they are and FreeTDS reports them again at every call: the result stream has failed.
CS_RETCODE ct_results(Command* cmd, CS_INT* result_type) {
  CS_RETCODE rc = CS_FAIL;
  if (usable(cmd) && result_type) {
    bool failed = false;
    if (cmd->rows_pending) {
      failed = ::ct_cancel(nullptr, cmd->cs, CS_CANCEL_CURRENT) != CS_SUCCEED;
      cmd->rows_pending = false;
    }
    if (failed) {
      rc = CS_FAIL;
    } else if (cmd->synthetic) {
      rc = cmd->synthetic_results.empty() ? CS_END_RESULTS : CS_SUCCEED;
      if (rc == CS_SUCCEED) {
        *result_type = cmd->synthetic_results.front();
        cmd->synthetic_results.pop_front();
      } else {
        cmd->synthetic = false;
      }
    } else {
      rc = after_cancel(cmd, [&] { return ::ct_results(cmd->cs, result_type); });
    }
    reset_binds(cmd);
    if (rc == CS_SUCCEED) {
      if (cmd->at_boundary) {
        ++cmd->cmd_number;
        cmd->at_boundary = false;
      }
      if (*result_type == CS_CMD_DONE) cmd->at_boundary = true;
      cmd->last_result = *result_type;
      cmd->rows_pending = *result_type == CS_ROW_RESULT || *result_type == CS_CURSOR_RESULT ||
                          *result_type == CS_PARAM_RESULT || *result_type == CS_STATUS_RESULT ||
                          *result_type == CS_COMPUTE_RESULT;
    } else {
      cmd->last_result = 0;
    }
  }
  trace(sink_of(cmd), "ct_results", rc, cmd, result_type ? *result_type : 0);
  return rc;
}

CS_RETCODE ct_res_info(Command* cmd, CS_INT type, CS_VOID* buffer, CS_INT buflen, CS_INT* outlen) {
  CS_RETCODE rc = CS_FAIL;
  if (type == CS_CMD_NUMBER) {
    if (cmd && buffer) {
      *static_cast<CS_INT*>(buffer) = cmd->cmd_number;
      if (outlen) *outlen = sizeof(CS_INT);
      rc = CS_SUCCEED;
    }
  } else if (usable(cmd) && buffer && cmd->synthetic && type == CS_ROW_COUNT) {
    *static_cast<CS_INT*>(buffer) = CS_NO_COUNT;
    if (outlen) *outlen = sizeof(CS_INT);
    rc = CS_SUCCEED;
  } else if (usable(cmd) && buffer) {
    rc = ::ct_res_info(cmd->cs, type, buffer, buflen, outlen);
  }
  trace(sink_of(cmd), "ct_res_info", rc, cmd, type);
  return rc;
}

CS_RETCODE ct_describe(Command* cmd, CS_INT item, CS_DATAFMT* datafmt) {
  constexpr CS_INT kTimestampUserType = 80;
  CS_RETCODE rc = CS_FAIL;
  if (usable(cmd) && datafmt) {
    // FreeTDS writes every field but `format`.
    *datafmt = CS_DATAFMT{};
    CS_INT columns = 0;
    if (::ct_res_info(cmd->cs, CS_NUMDATA, &columns, CS_UNUSED, nullptr) == CS_SUCCEED &&
        item >= 1 && item <= columns)
      rc = ::ct_describe(cmd->cs, item, datafmt);
    // A timestamp column is known by its user type. FreeTDS flags it only when it arrives as
    // binary, but servers send it as varbinary.
    if (rc == CS_SUCCEED && datafmt->usertype == kTimestampUserType)
      datafmt->status |= CS_TIMESTAMP;
  }
  trace(sink_of(cmd), "ct_describe", rc, cmd, item);
  return rc;
}

// Binding goes through internal arrays: FreeTDS converts into them, the adapter hands rows out of
// them into the caller's buffers. That lets a cursor fetch CS_CURSOR_ROWS rows per round trip
// while the caller binds fewer (FreeTDS fails fetches with a bind count below the cursor rows),
// gives NULLs their substitution, terminates short text, and formats datetimes.
CS_RETCODE ct_bind(Command* cmd, CS_INT item, CS_DATAFMT* datafmt, CS_VOID* buffer, CS_INT* copied,
                   CS_SMALLINT* indicator) {
  CS_RETCODE rc = CS_FAIL;
  if (usable(cmd) && !buffer) {
    rc = unbind(cmd, item);
  } else if (usable(cmd) && datafmt && !take_bind_failure(item)) {
    CS_INT columns = 0;
    CS_DATAFMT col{};
    const CS_INT count = datafmt->count <= 0 ? 1 : datafmt->count;
    if (::ct_res_info(cmd->cs, CS_NUMDATA, &columns, CS_UNUSED, nullptr) == CS_SUCCEED &&
        item >= 1 && item <= columns && (cmd->user_count == 0 || cmd->user_count == count) &&
        ::ct_describe(cmd->cs, item, &col) == CS_SUCCEED) {
      if (cmd->user_count == 0) {
        cmd->user_count = count;
        const bool cursor_rows = cmd->last_result == CS_CURSOR_RESULT;
        cmd->batch_capacity = std::max(count, cursor_rows ? cmd->cursor_rows : cmd->read_ahead);
      }
      if (cmd->binds.size() < static_cast<size_t>(columns))
        cmd->binds.resize(static_cast<size_t>(columns));
      // The new binding is built aside: FreeTDS keeps writing into the old arrays until its
      // ct_bind has succeeded, so they are replaced only then.
      ColumnBind b;
      b.user = *datafmt;
      b.buffer = buffer;
      b.copied = copied;
      b.indicator = indicator;
      b.column_type = col.datatype;
      CS_DATAFMT internal{};
      internal.count = cmd->batch_capacity;
      const CS_INT wanted = std::max<CS_INT>(datafmt->maxlength, 0);
      const CS_INT cap = std::max<CS_INT>(wanted + 1, 1 << 20);
      using TextForm = ColumnBind::TextForm;
      if (is_char_type(datafmt->datatype) &&
          (col.datatype == CS_DATETIME_TYPE || col.datatype == CS_DATETIME4_TYPE)) {
        b.text_form = TextForm::Datetime;
        internal.datatype = CS_DATETIME_TYPE;
        internal.maxlength = sizeof(CS_DATETIME);
      } else if (is_char_type(datafmt->datatype) &&
                 (col.datatype == CS_MONEY_TYPE || col.datatype == CS_MONEY4_TYPE)) {
        b.text_form = TextForm::Money;
        internal.datatype = CS_MONEY_TYPE;
        internal.maxlength = sizeof(CS_MONEY);
      } else if (is_char_type(datafmt->datatype) &&
                 (col.datatype == CS_INT_TYPE || col.datatype == CS_SMALLINT_TYPE ||
                  col.datatype == CS_TINYINT_TYPE)) {
        b.text_form = TextForm::Integer;
        internal.datatype = CS_INT_TYPE;
        internal.maxlength = sizeof(CS_INT);
      } else if (is_char_type(datafmt->datatype) &&
                 (col.datatype == CS_NUMERIC_TYPE || col.datatype == CS_DECIMAL_TYPE)) {
        // Arrives as the wire's numeric, its own precision and scale kept.
        b.text_form = TextForm::Numeric;
        internal.datatype = col.datatype;
        internal.maxlength = sizeof(CS_NUMERIC);
        internal.precision = col.precision;
        internal.scale = col.scale;
      } else if (is_char_type(datafmt->datatype)) {
        internal.datatype = CS_CHAR_TYPE;
        internal.format = CS_FMT_UNUSED;
        // Counted wide: text and image columns declare a 2 GB length.
        int64_t need = 256;
        if (is_char_type(col.datatype))
          need = int64_t{col.maxlength} + 1;  // one spare byte
        else if (is_binary_type(col.datatype))
          need = 2 * int64_t{col.maxlength} + 3;
        internal.maxlength = static_cast<CS_INT>(
            std::clamp<int64_t>(std::max<int64_t>(need, int64_t{wanted} + 1), 1, cap));
      } else if (is_binary_type(datafmt->datatype)) {
        // Image stays image: FreeTDS pads a conversion into binary to the whole buffer.
        internal.datatype = datafmt->datatype == CS_VARBINARY_TYPE ? CS_VARBINARY_TYPE
                            : datafmt->datatype == CS_IMAGE_TYPE   ? CS_IMAGE_TYPE
                                                                   : CS_BINARY_TYPE;
        internal.format = CS_FMT_UNUSED;
        internal.maxlength = internal.datatype == CS_VARBINARY_TYPE
                                 ? static_cast<CS_INT>(sizeof(CS_VARBINARY))
                                 : static_cast<CS_INT>(std::clamp<int64_t>(
                                       int64_t{std::max(col.maxlength, wanted)} + 1, 1, cap));
      } else {
        internal.datatype = datafmt->datatype;
        internal.format = datafmt->format;
        internal.precision = datafmt->precision;
        internal.scale = datafmt->scale;
        internal.maxlength = std::max<CS_INT>(std::max(fixed_size(datafmt->datatype), wanted), 1);
      }
      b.internal_type = internal.datatype;
      b.internal_len = internal.maxlength;
      b.data.assign(static_cast<size_t>(internal.maxlength) * static_cast<size_t>(internal.count),
                    0);
      b.lens.assign(static_cast<size_t>(internal.count), 0);
      b.inds.assign(static_cast<size_t>(internal.count), 0);
      rc = ::ct_bind(cmd->cs, item, &internal, b.data.data(), b.lens.data(), b.inds.data());
      b.bound = rc == CS_SUCCEED;
      if (b.bound) cmd->binds[static_cast<size_t>(item - 1)] = std::move(b);
    }
  }
  trace(sink_of(cmd), "ct_bind", rc, cmd, item, datafmt ? datafmt->datatype : 0,
        datafmt ? datafmt->maxlength : 0);
  return rc;
}

namespace {
// One row of the batch into the caller's buffers at array position `r`. False: a value did not
// fit.
bool hand_out(Command* cmd, CS_INT slot, CS_INT r) {
  bool ok = true;
  for (auto& b : cmd->binds) {
    if (!b.bound) continue;
    const size_t s = static_cast<size_t>(slot);
    const CS_INT stride = std::max<CS_INT>(b.user.maxlength, fixed_size(b.user.datatype));
    char* dest = b.buffer ? static_cast<char*>(b.buffer) +
                                static_cast<size_t>(r) * static_cast<size_t>(stride)
                          : nullptr;
    CS_INT* copied = b.copied ? b.copied + r : nullptr;
    CS_SMALLINT* indicator = b.indicator ? b.indicator + r : nullptr;
    const char* src = b.data.data() + s * static_cast<size_t>(b.internal_len);
    if (b.inds[s] == -1) {
      put_null(b.user, dest, copied, indicator);
    } else if (b.text_form != ColumnBind::TextForm::None) {
      char text[96];
      size_t len = 0;
      switch (b.text_form) {
        case ColumnBind::TextForm::Numeric: len = numeric_text(src, text); break;
        case ColumnBind::TextForm::Datetime:
          len = datetime_text(CS_DATETIME_TYPE, src, text);
          break;
        case ColumnBind::TextForm::Money: len = money_text(src, text); break;
        case ColumnBind::TextForm::Integer: len = int_text(src, text); break;
        case ColumnBind::TextForm::None: break;
      }
      // A numeric out of range has no text: the row fails, as FreeTDS's conversion would.
      ok = (len > 0 || b.text_form != ColumnBind::TextForm::Numeric) &&
           put_value(b.user, dest, text, static_cast<CS_INT>(len), copied, indicator) && ok;
    } else if ((is_char_type(b.user.datatype) || is_binary_type(b.user.datatype)) &&
               b.internal_type != CS_VARBINARY_TYPE) {
      const CS_INT len = std::clamp<CS_INT>(b.lens[s], 0, b.internal_len);
      ok = put_value(b.user, dest, src, len, copied, indicator) && ok;
    } else {
      // Never more than the caller's maxlength: numeric buffers are often sized by the wire.
      const CS_INT size = fixed_size(b.user.datatype);
      const CS_INT n = size > 0 ? (b.user.maxlength > 0 ? std::min(size, b.user.maxlength) : size)
                                : std::min(b.lens[s], b.user.maxlength);
      if (dest && n > 0) std::memcpy(dest, src, static_cast<size_t>(std::min(n, b.internal_len)));
      if (copied) *copied = b.lens[s];
      if (indicator) *indicator = 0;
    }
  }
  return ok;
}
}  // namespace

CS_RETCODE ct_fetch(Command* cmd, CS_INT type, CS_INT offset, CS_INT option, CS_INT* rows_read) {
  CS_RETCODE rc = CS_FAIL;
  if (rows_read) *rows_read = 0;
  if (usable(cmd)) {
    const bool any_bound = std::any_of(cmd->binds.begin(), cmd->binds.end(),
                                       [](const ColumnBind& b) { return b.bound; });
    if (!any_bound) {
      rc = after_cancel(cmd, [&] { return ::ct_fetch(cmd->cs, type, offset, option, rows_read); });
    } else {
      rc = CS_SUCCEED;
      if (cmd->batch_pos >= cmd->batch_rows) {
        reset_batch(cmd);
        for (auto& b : cmd->binds) std::fill(b.inds.begin(), b.inds.end(), CS_SMALLINT{0});
        CS_INT n = 0;
        rc = after_cancel(cmd, [&] { return ::ct_fetch(cmd->cs, type, offset, option, &n); });
        // One line per batch the library fetched, so a trace shows what crossed the wire.
        trace(sink_of(cmd), "ct_fetch_batch", rc, cmd, n);
        if (rc == CS_SUCCEED) {
          cmd->batch_rows = n;
        } else if (rc == CS_ROW_FAIL) {
          // The failing row was converted as far as FreeTDS could, into the slot after the
          // good ones.
          cmd->batch_rows = std::min(n + 1, cmd->batch_capacity);
          cmd->batch_row_failed = true;
          rc = CS_SUCCEED;
        }
        if (rc == CS_SUCCEED && cmd->batch_rows == 0) rc = CS_END_DATA;
      }
      if (rc == CS_SUCCEED) {
        const CS_INT k =
            std::min(std::max<CS_INT>(cmd->user_count, 1), cmd->batch_rows - cmd->batch_pos);
        bool ok = true;
        for (CS_INT r = 0; r < k; ++r) {
          const CS_INT slot = cmd->batch_pos + r;
          ok = hand_out(cmd, slot, r) && ok;
          if (cmd->batch_row_failed && slot == cmd->batch_rows - 1) ok = false;
        }
        cmd->batch_pos += k;
        if (rows_read) *rows_read = k;
        rc = ok ? CS_SUCCEED : CS_ROW_FAIL;
      }
    }
  }
  if (cmd && rc != CS_SUCCEED && rc != CS_ROW_FAIL) cmd->rows_pending = false;
  trace(sink_of(cmd), "ct_fetch", rc, cmd, type, rows_read ? *rows_read : 0);
  return rc;
}

CS_RETCODE ct_get_data(Command* cmd, CS_INT item, CS_VOID* buffer, CS_INT buflen, CS_INT* outlen) {
  CS_RETCODE rc = CS_FAIL;
  if (usable(cmd)) rc = ::ct_get_data(cmd->cs, item, buffer, buflen, outlen);
  trace(sink_of(cmd), "ct_get_data", rc, cmd, item, buflen);
  return rc;
}

CS_RETCODE ct_cmd_props(Command* cmd, CS_INT action, CS_INT property, CS_VOID* buffer,
                        CS_INT buflen, CS_INT* outlen) {
  CS_RETCODE rc = CS_FAIL;
  if (cmd && cmd->cs) {
    if (property == CS_USERDATA) {
      if (action == CS_SET && buffer && buflen >= 0) {
        cmd->userdata.assign(static_cast<char*>(buffer), static_cast<char*>(buffer) + buflen);
        rc = CS_SUCCEED;
      } else if (action == CS_GET && buffer) {
        const CS_INT n = std::min<CS_INT>(buflen, static_cast<CS_INT>(cmd->userdata.size()));
        if (n > 0) std::memcpy(buffer, cmd->userdata.data(), static_cast<size_t>(n));
        if (outlen) *outlen = static_cast<CS_INT>(cmd->userdata.size());
        rc = CS_SUCCEED;
      } else if (action == CS_CLEAR) {
        cmd->userdata.clear();
        rc = CS_SUCCEED;
      }
    } else if (property == CS_PARENT_HANDLE) {
      if (action == CS_GET && buffer && cmd->con) {
        *static_cast<Connection**>(buffer) = cmd->con;
        rc = CS_SUCCEED;
      }
    } else if (property == CS_CUR_STATUS && action == CS_GET && buffer && cmd->con &&
               cmd->emulated_cursor && cmd->emulated_declared) {
      // Declared on a prepared statement and not yet opened: known here only.
      *static_cast<CS_INT*>(buffer) =
          CS_CURSTAT_DECLARED | (cmd->cursor_option == CS_READ_ONLY ? CS_CURSTAT_RDONLY : 0);
      if (outlen) *outlen = sizeof(CS_INT);
      rc = CS_SUCCEED;
    } else if (cmd->con) {
      rc = ::ct_cmd_props(cmd->cs, action, property, buffer, buflen, outlen);
    }
  }
  trace(sink_of(cmd), "ct_cmd_props", rc, cmd, action, property);
  return rc;
}

namespace {
// An attention only asks the server to stop; the results it cuts short end in CS_CANCELED at the
// command's next call, on the thread that reads them. It may come from another thread while that
// one is blocked in a read (FreeTDS wakes the reader to send it), so it takes no lock the reader
// holds there and leaves the commands' own state alone.
CS_RETCODE send_attention(Connection* con, Command* cmd) {
  if (cmd) return usable(cmd) ? ::ct_cancel(nullptr, cmd->cs, CS_CANCEL_ATTN) : CS_FAIL;
  if (!connection_alive(con)) return CS_FAIL;
  std::lock_guard lock(con->mutex);  // the command list stays as it is meanwhile
  return ::ct_cancel(con->cs, nullptr, CS_CANCEL_ATTN);
}
}  // namespace

CS_RETCODE ct_cancel(Connection* con, Command* cmd, CS_INT type) {
  CS_RETCODE rc = CS_FAIL;
  if ((con == nullptr) != (cmd == nullptr)) {
    if (type == CS_CANCEL_ATTN) {
      rc = send_attention(con, cmd);
    } else if (cmd) {
      if (usable(cmd)) {
        rc = ::ct_cancel(nullptr, cmd->cs, type);
        if (cmd->synthetic) {
          cmd->synthetic = false;
          cmd->synthetic_results.clear();
        }
        reset_batch(cmd);
        if (rc == CS_SUCCEED) cmd->rows_pending = false;
        if (rc == CS_SUCCEED && type != CS_CANCEL_CURRENT) {
          cmd->swallow_canceled = true;
          reset_binds(cmd);
        }
      }
    } else if (connection_alive(con)) {
      rc = ::ct_cancel(con->cs, nullptr, type);
      if (rc == CS_SUCCEED) {
        std::lock_guard lock(con->mutex);
        for (Command* c : con->commands) {
          c->swallow_canceled = true;
          c->rows_pending = false;
          reset_binds(c);
        }
      }
    }
  }
  trace(con ? sink_of(con) : sink_of(cmd), "ct_cancel", rc, con, cmd, type);
  return rc;
}

}  // namespace oc
