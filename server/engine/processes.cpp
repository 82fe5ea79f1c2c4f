// master..sysprocesses: a virtual table over the engine's live sessions, read when queried.
#include "engine/session.h"

#include <cstring>

namespace sampleserver {

namespace {

// The columns in sysprocesses' catalog order (catalog.cpp lists their types).
enum Col {
  kSpid,
  kKpid,
  kEnginenum,
  kStatus,
  kSuid,
  kHostname,
  kProgramName,
  kHostprocess,
  kCmd,
  kCpu,
  kPhysicalIo,
  kMemusage,
  kBlocked,
  kDbid,
  kUid,
  kGid,
  kTranName,
  kTimeBlocked,
  kNetworkPktsz,
  kFid,
  kExeclass,
  kPriority,
  kAffinity,
  kId,
  kStmtnum,
  kLinenum,
  kOrigsuid,
  kBlockXloid,
  kClientname,
  kClienthostname,
  kClientapplname,
  kSysId,
  kSesId,
  kLoggedin,
  kIpaddr,
};
constexpr const char* kDeclaration =
    "CREATE TABLE x(spid, kpid, enginenum, status, suid, hostname, program_name, hostprocess, cmd,"
    " cpu, physical_io, memusage, blocked, dbid, uid, gid, tran_name, time_blocked, network_pktsz,"
    " fid, execlass, priority, affinity, id, stmtnum, linenum, origsuid, block_xloid, clientname,"
    " clienthostname, clientapplname, sys_id, ses_id, loggedindatetime, ipaddr)";

struct Table {
  sqlite3_vtab base;
  EngineState* state;
};

struct Cursor {
  sqlite3_vtab_cursor base;
  std::vector<std::pair<int, ProcessInfo>> rows;
  size_t at = 0;
};

int Connect(sqlite3* db, void* aux, int, const char* const*, sqlite3_vtab** out, char**) {
  int rc = sqlite3_declare_vtab(db, kDeclaration);
  if (rc != SQLITE_OK) return rc;
  auto* t = new Table{};
  t->state = static_cast<EngineState*>(aux);
  *out = &t->base;
  return SQLITE_OK;
}

int Disconnect(sqlite3_vtab* v) {
  delete reinterpret_cast<Table*>(v);
  return SQLITE_OK;
}

int BestIndex(sqlite3_vtab*, sqlite3_index_info* info) {
  info->estimatedCost = 100;
  info->estimatedRows = 16;
  return SQLITE_OK;
}

int Open(sqlite3_vtab*, sqlite3_vtab_cursor** out) {
  auto* c = new Cursor{};
  *out = &c->base;
  return SQLITE_OK;
}

int Close(sqlite3_vtab_cursor* cur) {
  delete reinterpret_cast<Cursor*>(cur);
  return SQLITE_OK;
}

int Filter(sqlite3_vtab_cursor* cur, int, const char*, int, sqlite3_value**) {
  auto* c = reinterpret_cast<Cursor*>(cur);
  auto* t = reinterpret_cast<Table*>(cur->pVtab);
  auto all = t->state->Processes();
  c->rows.assign(all.begin(), all.end());
  c->at = 0;
  return SQLITE_OK;
}

int Next(sqlite3_vtab_cursor* cur) {
  ++reinterpret_cast<Cursor*>(cur)->at;
  return SQLITE_OK;
}

int Eof(sqlite3_vtab_cursor* cur) {
  auto* c = reinterpret_cast<Cursor*>(cur);
  return c->at >= c->rows.size();
}

void Text(sqlite3_context* ctx, const std::string& s) {
  sqlite3_result_text(ctx, s.c_str(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

int Column(sqlite3_vtab_cursor* cur, sqlite3_context* ctx, int col) {
  auto* c = reinterpret_cast<Cursor*>(cur);
  const auto& [spid, p] = c->rows[c->at];
  switch (col) {
    case kSpid:
    case kKpid: sqlite3_result_int64(ctx, spid); break;
    case kStatus: Text(ctx, p.status); break;
    case kSuid: sqlite3_result_int64(ctx, p.suid); break;
    case kHostname: Text(ctx, p.host); break;
    case kProgramName: Text(ctx, p.program); break;
    case kCmd: Text(ctx, p.cmd); break;
    case kDbid: sqlite3_result_int64(ctx, p.dbid); break;
    case kUid: sqlite3_result_int64(ctx, p.uid); break;
    case kBlocked: sqlite3_result_int64(ctx, p.blocked); break;
    case kTranName: Text(ctx, ""); break;
    case kNetworkPktsz: sqlite3_result_int64(ctx, 512); break;
    case kExeclass: Text(ctx, "EC2"); break;
    case kPriority: Text(ctx, "MEDIUM"); break;
    case kAffinity: Text(ctx, "ANYENGINE"); break;
    case kOrigsuid: sqlite3_result_int64(ctx, p.suid); break;
    case kLoggedin: Text(ctx, p.loggedIn); break;
    case kIpaddr: Text(ctx, "127.0.0.1"); break;
    case kHostprocess:
    case kTimeBlocked:
    case kClientname:
    case kClienthostname:
    case kClientapplname:
    case kSysId:
    case kSesId: sqlite3_result_null(ctx); break;
    default: sqlite3_result_int64(ctx, 0); break;  // counters, engine, blocking: none here
  }
  return SQLITE_OK;
}

int Rowid(sqlite3_vtab_cursor* cur, sqlite3_int64* out) {
  auto* c = reinterpret_cast<Cursor*>(cur);
  *out = c->rows[c->at].first;
  return SQLITE_OK;
}

}  // namespace

void RegisterProcessTable(sqlite3* db, EngineState* state) {
  // Eponymous only (no xCreate): the table exists in schema main, which is master.
  static const sqlite3_module module = [] {
    sqlite3_module m;
    std::memset(&m, 0, sizeof m);
    m.xConnect = Connect;
    m.xBestIndex = BestIndex;
    m.xDisconnect = Disconnect;
    m.xOpen = Open;
    m.xClose = Close;
    m.xFilter = Filter;
    m.xNext = Next;
    m.xEof = Eof;
    m.xColumn = Column;
    m.xRowid = Rowid;
    return m;
  }();
  sqlite3_create_module_v2(db, "sysprocesses", &module, state, nullptr);
}

}  // namespace sampleserver
