// The Open Client call surface.
//
// Components talk to Client-Library, CS-Library and Bulk-Library only through this module. It
// offers the vendor's routines under their own names, with the vendor's arguments, constants,
// records and result codes, in the namespace `oc`, and forwards them to FreeTDS. FreeTDS has gaps
// and faults that the components would trip over; each one is mended here, beside the routine it
// concerns, so that the code above reads as it would on the vendor's libraries.
//
// Handles are opaque structures of this module. Each allocating routine fills an owning handle
// (`ContextHandle`, `ConnectionHandle`, ...); the matching drop routine takes that handle, drops
// the object and empties the handle, and the handle's destructor drops whatever is left. A
// context stays alive underneath until the last connection allocated on it has been dropped.
//
// Constants and records (CS_SUCCEED, CS_DATAFMT, CS_SERVERMSG, ...) are FreeTDS's; the few the
// vendor has and FreeTDS lacks are defined below with the vendor's values.
#pragma once

#include <bkpublic.h>
#include <ctpublic.h>

#include <memory>

// Debug routine constants (ct_debug) that FreeTDS does not define.
#ifndef CS_SET_FLAG
#define CS_SET_FLAG 1700
#endif
#ifndef CS_CLEAR_FLAG
#define CS_CLEAR_FLAG 1701
#endif
#ifndef CS_SET_DBG_FILE
#define CS_SET_DBG_FILE 1702
#endif
#ifndef CS_SET_PROTOCOL_FILE
#define CS_SET_PROTOCOL_FILE 1703
#endif
#ifndef CS_DBG_ALL
#define CS_DBG_ALL 0x1
#define CS_DBG_ASYNC 0x2
#define CS_DBG_ERROR 0x4
#define CS_DBG_MEM 0x8
#define CS_DBG_PROTOCOL 0x10
#define CS_DBG_PROTOCOL_STATES 0x20
#define CS_DBG_API_STATES 0x40
#define CS_DBG_DIAG 0x80
#define CS_DBG_NETWORK 0x100
#define CS_DBG_API_LOGCALL 0x200
#endif
// Connection property FreeTDS does not define.
#ifndef CS_ASYNC_NOTIFS
#define CS_ASYNC_NOTIFS 9144
#endif

namespace oc {

struct Context;
struct Connection;
struct Command;
struct Locale;
struct BlkDesc;

// Handler shapes, as the vendor's, with this module's handles.
using ServerMessageFunc = CS_RETCODE (*)(Context*, Connection*, CS_SERVERMSG*);
using ClientMessageFunc = CS_RETCODE (*)(Context*, Connection*, CS_CLIENTMSG*);
using CsLibMessageFunc = CS_RETCODE (*)(Context*, CS_CLIENTMSG*);
using CompletionFunc = CS_RETCODE (*)(Connection*, Command*, CS_INT function, CS_RETCODE status);

struct ContextDeleter {
  void operator()(Context* ctx) const noexcept;
};
struct ConnectionDeleter {
  void operator()(Connection* con) const noexcept;
};
struct CommandDeleter {
  void operator()(Command* cmd) const noexcept;
};
struct LocaleDeleter {
  void operator()(Locale* loc) const noexcept;
};
struct BlkDeleter {
  void operator()(BlkDesc* blk) const noexcept;
};

using ContextHandle = std::unique_ptr<Context, ContextDeleter>;
using ConnectionHandle = std::unique_ptr<Connection, ConnectionDeleter>;
using CommandHandle = std::unique_ptr<Command, CommandDeleter>;
using LocaleHandle = std::unique_ptr<Locale, LocaleDeleter>;
using BlkHandle = std::unique_ptr<BlkDesc, BlkDeleter>;

// Every routine's return code is [[nodiscard]]: a caller acts on it, or says why it has no use
// for it through this one idiom (`why` is for the reader; nothing is done with either argument).
constexpr void IgnoreStatus(CS_RETCODE /*rc*/, const char* /*why*/) noexcept {}

// ---- CS-Library -------------------------------------------------------------------------------
[[nodiscard]] CS_RETCODE cs_ctx_alloc(CS_INT version, ContextHandle& ctx);
[[nodiscard]] CS_RETCODE cs_ctx_drop(ContextHandle& ctx);
[[nodiscard]] CS_RETCODE cs_config(Context* ctx, CS_INT action, CS_INT property, CS_VOID* buffer,
                                   CS_INT buflen, CS_INT* outlen);
[[nodiscard]] CS_RETCODE cs_loc_alloc(Context* ctx, LocaleHandle& locale);
[[nodiscard]] CS_RETCODE cs_loc_drop(Context* ctx, LocaleHandle& locale);
[[nodiscard]] CS_RETCODE cs_locale(Context* ctx, CS_INT action, Locale* locale, CS_INT type,
                                   CS_VOID* buffer, CS_INT buflen, CS_INT* outlen);
[[nodiscard]] CS_RETCODE cs_convert(Context* ctx, CS_DATAFMT* srcfmt, CS_VOID* srcdata,
                                    CS_DATAFMT* destfmt, CS_VOID* destdata, CS_INT* resultlen);

// ---- Client-Library: context ------------------------------------------------------------------
[[nodiscard]] CS_RETCODE ct_init(Context* ctx, CS_INT version);
[[nodiscard]] CS_RETCODE ct_exit(Context* ctx, CS_INT option);
[[nodiscard]] CS_RETCODE ct_config(Context* ctx, CS_INT action, CS_INT property, CS_VOID* buffer,
                                   CS_INT buflen, CS_INT* outlen);
// `con` null: the context's handler; otherwise the connection's own (it takes precedence).
[[nodiscard]] CS_RETCODE ct_callback(Context* ctx, Connection* con, CS_INT action, CS_INT type,
                                     CS_VOID* func);

// ---- Client-Library: connection ---------------------------------------------------------------
[[nodiscard]] CS_RETCODE ct_con_alloc(Context* ctx, ConnectionHandle& con);
[[nodiscard]] CS_RETCODE ct_con_props(Connection* con, CS_INT action, CS_INT property,
                                      CS_VOID* buffer, CS_INT buflen, CS_INT* outlen);
[[nodiscard]] CS_RETCODE ct_connect(Connection* con, const CS_CHAR* servername, CS_INT snamelen);
[[nodiscard]] CS_RETCODE ct_options(Connection* con, CS_INT action, CS_INT option, CS_VOID* param,
                                    CS_INT paramlen, CS_INT* outlen);
[[nodiscard]] CS_RETCODE ct_debug(Context* ctx, Connection* con, CS_INT operation, CS_INT flag,
                                  const CS_CHAR* filename, CS_INT fnamelen);
[[nodiscard]] CS_RETCODE ct_close(Connection* con, CS_INT option);
[[nodiscard]] CS_RETCODE ct_con_drop(ConnectionHandle& con);
[[nodiscard]] CS_RETCODE ct_diag(Connection* con, CS_INT operation, CS_INT type, CS_INT idx,
                                 CS_VOID* buffer);
[[nodiscard]] CS_RETCODE ct_cancel(Connection* con, Command* cmd, CS_INT type);

// ---- Client-Library: commands and results -----------------------------------------------------
[[nodiscard]] CS_RETCODE ct_cmd_alloc(Connection* con, CommandHandle& cmd);
[[nodiscard]] CS_RETCODE ct_cmd_drop(CommandHandle& cmd);
[[nodiscard]] CS_RETCODE ct_command(Command* cmd, CS_INT type, const CS_VOID* buffer, CS_INT buflen,
                                    CS_INT option);
[[nodiscard]] CS_RETCODE ct_cursor(Command* cmd, CS_INT type, const CS_CHAR* name, CS_INT namelen,
                                   const CS_CHAR* text, CS_INT tlen, CS_INT option);
[[nodiscard]] CS_RETCODE ct_dynamic(Command* cmd, CS_INT type, const CS_CHAR* id, CS_INT idlen,
                                    const CS_CHAR* buffer, CS_INT buflen);
[[nodiscard]] CS_RETCODE ct_param(Command* cmd, CS_DATAFMT* datafmt, CS_VOID* data, CS_INT datalen,
                                  CS_SMALLINT indicator);
[[nodiscard]] CS_RETCODE ct_send(Command* cmd);
[[nodiscard]] CS_RETCODE ct_cmd_props(Command* cmd, CS_INT action, CS_INT property, CS_VOID* buffer,
                                      CS_INT buflen, CS_INT* outlen);
[[nodiscard]] CS_RETCODE ct_results(Command* cmd, CS_INT* result_type);
[[nodiscard]] CS_RETCODE ct_res_info(Command* cmd, CS_INT type, CS_VOID* buffer, CS_INT buflen,
                                     CS_INT* outlen);
[[nodiscard]] CS_RETCODE ct_describe(Command* cmd, CS_INT item, CS_DATAFMT* datafmt);
[[nodiscard]] CS_RETCODE ct_bind(Command* cmd, CS_INT item, CS_DATAFMT* datafmt, CS_VOID* buffer,
                                 CS_INT* copied, CS_SMALLINT* indicator);
[[nodiscard]] CS_RETCODE ct_fetch(Command* cmd, CS_INT type, CS_INT offset, CS_INT option,
                                  CS_INT* rows_read);
[[nodiscard]] CS_RETCODE ct_get_data(Command* cmd, CS_INT item, CS_VOID* buffer, CS_INT buflen,
                                     CS_INT* outlen);

// ---- Bulk-Library -----------------------------------------------------------------------------
[[nodiscard]] CS_RETCODE blk_alloc(Connection* con, CS_INT version, BlkHandle& blk);
[[nodiscard]] CS_RETCODE blk_drop(BlkHandle& blk);
[[nodiscard]] CS_RETCODE blk_init(BlkDesc* blk, CS_INT direction, const CS_CHAR* tablename,
                                  CS_INT tnamelen);
[[nodiscard]] CS_RETCODE blk_describe(BlkDesc* blk, CS_INT colnum, CS_DATAFMT* datafmt);
[[nodiscard]] CS_RETCODE blk_bind(BlkDesc* blk, CS_INT colnum, CS_DATAFMT* datafmt, CS_VOID* buffer,
                                  CS_INT* datalen, CS_SMALLINT* indicator);
[[nodiscard]] CS_RETCODE blk_rowxfer(BlkDesc* blk);
[[nodiscard]] CS_RETCODE blk_done(BlkDesc* blk, CS_INT type, CS_INT* outrow);
[[nodiscard]] CS_RETCODE blk_props(BlkDesc* blk, CS_INT action, CS_INT property, CS_VOID* buffer,
                                   CS_INT buflen, CS_INT* outlen);

// ---- Seams -------------------------------------------------------------------------------------
// The adapter learns every server and client message through these two entries, which it
// registers with FreeTDS. They are public so that a program without a server (the tests) can feed
// a connection exactly as FreeTDS would: to the connection's inline queue when it collects inline,
// else to its own or its context's handler. `con` may be null (a message about no connection).
namespace detail {
[[nodiscard]] CS_RETCODE deliver_server_message(Context* ctx, Connection* con,
                                                const CS_SERVERMSG& msg);
[[nodiscard]] CS_RETCODE deliver_client_message(Context* ctx, Connection* con,
                                                const CS_CLIENTMSG& msg);
}  // namespace detail

}  // namespace oc
