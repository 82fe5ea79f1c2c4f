// Engine::Create, the database files and logins.
#include "engine/engine.h"

#include "engine/catalog.h"
#include "engine/messages.h"
#include "engine/sample_script.h"
#include "engine/session.h"
#include "engine/storage.h"

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <system_error>

namespace sampleserver {

namespace fs = std::filesystem;
using storage::Exec;
using storage::QuoteId;
using storage::Statement;

EngineState::~EngineState() {
  if (ownsDir && !dir.empty()) {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
}

namespace {

// Standard database ids: master 1, tempdb 2; the sample database takes 4 as on a server
// with sybsystemprocs installed before it.
constexpr int kMasterId = 1;
constexpr int kTempdbId = 2;
constexpr int kPubs2Id = 4;

// The layout of stored values (PRAGMA user_version of every database file). 2: numeric,
// decimal, money and smallmoney in the exact form of engine/exact.h (1 and 0 stored them as
// REAL). A data folder of an older layout is made anew rather than misread.
constexpr int kStorageVersion = 2;

int StorageVersionOf(const std::string& path) {
  auto db = storage::Open(path, false);
  return static_cast<int>(storage::QueryInt(db.get(), "PRAGMA user_version").value_or(0));
}

void InitDatabaseFile(const std::string& path, bool master, bool guest) {
  auto db = storage::Open(path, true);
  Exec(db.get(), "PRAGMA journal_mode=WAL");
  Exec(db.get(), "PRAGMA user_version = " + std::to_string(kStorageVersion));
  Exec(db.get(), "BEGIN");
  catalog::CreateCatalog(db.get(), "main", master);
  if (guest)
    Exec(db.get(), "INSERT INTO sysusers (suid, uid, gid, name) VALUES (-1, 2, 0, 'guest')");
  Exec(db.get(), "COMMIT");
}

class EngineImpl : public Engine {
 public:
  explicit EngineImpl(std::shared_ptr<EngineState> state) : state_(std::move(state)) {}

  std::string ServerName() const override { return state_->config.serverName; }
  std::string DataDir() const override { return state_->dir; }
  std::string Version() const override { return state_->version; }

  std::unique_ptr<Session> Login(const LoginRequest& request, ServerMessage* failure) override {
    auto refuse = [&]() -> std::unique_ptr<Session> {
      if (failure) {
        *failure = MakeMessage(4002);
        failure->server = state_->config.serverName;
      }
      return nullptr;
    };
    int64_t suid = 0;
    std::string defaultDb = "master";
    try {
      auto db = storage::Open(state_->PathOf("master"), false);
      Statement s(db.get(),
                  "SELECT suid, password, dbname, status FROM syslogins"
                  " WHERE name = ? COLLATE BINARY");
      s.Bind(1, std::string_view(request.user));
      if (request.user.empty() || !s.Step()) return refuse();
      std::string stored;
      if (!s.IsNull(1)) {
        auto b = s.Blob(1);
        stored.assign(b.begin(), b.end());
      }
      if (stored != request.password) return refuse();
      if ((s.Int(3) & 0x2) != 0) return refuse();  // locked
      suid = s.Int(0);
      if (!s.IsNull(2) && !s.Text(2).empty()) defaultDb = s.Text(2);
      Statement d(db.get(), "SELECT 1 FROM sysdatabases WHERE name = ? COLLATE BINARY");
      d.Bind(1, std::string_view(defaultDb));
      if (!d.Step()) defaultDb = "master";
    } catch (const storage::SqliteError&) {
      return refuse();
    }
    int spid;
    {
      ProcessInfo p;
      p.suid = suid;
      p.login = request.user;
      p.host = request.host;
      p.program = request.application;
      p.loggedIn = catalog::NowText();
      std::lock_guard lock(state_->mutex);
      spid = state_->nextSpid++;
      state_->processes[spid] = std::move(p);
    }
    return std::make_unique<SessionImpl>(state_, spid, request, suid, defaultDb);
  }

  void Bootstrap(bool fresh) {
    if (!fresh) return;
    LoginRequest sa;
    sa.user = "sa";
    sa.application = "bootstrap";
    ServerMessage failure;
    auto session = Login(sa, &failure);
    if (!session) throw std::runtime_error("cannot log in to the new server as sa");
    auto* impl = static_cast<SessionImpl*>(session.get());
    // The script runs in the sample database.
    auto errors = impl->RunScript("use pubs2");
    auto more = impl->RunScript(std::string_view(kPubs2Script ? kPubs2Script : ""));
    errors.insert(errors.end(), more.begin(), more.end());
    for (const auto& e : errors)
      std::cerr << "sample database script: Msg " << e.number << ", Level " << int(e.severity)
                << ", Line " << e.line << ": " << e.text << "\n";
  }

 private:
  std::shared_ptr<EngineState> state_;
};

}  // namespace

std::unique_ptr<Engine> Engine::Create(const EngineConfig& config) {
  auto state = std::make_shared<EngineState>();
  state->config = config;
  if (config.dataDir.empty()) {
    std::string tmpl = (fs::temp_directory_path() / "sampleserver-XXXXXX").string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) throw std::runtime_error("cannot create a temporary data folder");
    state->dir = buf.data();
    state->ownsDir = true;
  } else {
    std::error_code ec;
    fs::create_directories(config.dataDir, ec);
    if (!fs::is_directory(config.dataDir))
      throw std::runtime_error("cannot use the data folder " + config.dataDir);
    state->dir = config.dataDir;
  }
  state->version = "Adaptive Server Enterprise/15.0.3/EBF 0 Sample Server/P/x86_64/Linux/" +
                   config.serverName + " sample server/1/64-bit/OPT/Tue Dec  8 00:00:00 2026";

  bool fresh = !fs::exists(state->PathOf("master"));
  try {
    if (!fresh && StorageVersionOf(state->PathOf("master")) < kStorageVersion) {
      std::cerr << "data folder " << state->dir << " holds an older storage layout;"
                << " its databases are created anew\n";
      fresh = true;
    }
    if (fresh) {
      for (const char* name : {"master", "tempdb", "pubs2"}) {
        std::error_code ec;
        fs::remove(state->PathOf(name), ec);
        fs::remove(state->PathOf(name) + "-wal", ec);
        fs::remove(state->PathOf(name) + "-shm", ec);
      }
      InitDatabaseFile(state->PathOf("tempdb"), false, true);
      InitDatabaseFile(state->PathOf("pubs2"), false, false);
      InitDatabaseFile(state->PathOf("master"), true, true);
      auto db = storage::Open(state->PathOf("master"), false);
      std::string now = catalog::NowText();
      Statement d(db.get(),
                  "INSERT INTO sysdatabases (name, dbid, suid, status, crdate,"
                  " dumptrdate) VALUES (?, ?, 1, ?, ?, ?)");
      for (auto [name, id] : {std::pair{"master", kMasterId}, std::pair{"tempdb", kTempdbId},
                              std::pair{"pubs2", kPubs2Id}}) {
        d.Reset();
        // tempdb and the sample database allow select into, as shipped.
        int64_t status = std::string_view(name) == "master" ? 0 : 4;
        d.Bind(1, std::string_view(name))
            .Bind(2, int64_t{id})
            .Bind(3, status)
            .Bind(4, std::string_view(now))
            .Bind(5, std::string_view(now));
        d.Step();
      }
      Exec(db.get(),
           "INSERT INTO syslogins (suid, status, accdate, dbname, name, password,"
           " language, pwdate) VALUES (1, 0, '" +
               now +
               "', 'master', 'sa', NULL,"
               " 'us_english', '" +
               now + "')");
    } else {
      // Each database under its own name, as sessions see them: views name their tables so.
      auto db = storage::Open(state->PathOf("master"), false);
      std::vector<std::string> names;
      {
        Statement d(db.get(), "SELECT name FROM sysdatabases WHERE name <> 'master' ORDER BY dbid");
        while (d.Step()) names.push_back(d.Text(0));
      }
      for (const auto& name : names) {
        if (!fs::exists(state->PathOf(name))) continue;
        Statement a(db.get(), "ATTACH DATABASE ? AS " + QuoteId(name));
        a.Bind(1, std::string_view(state->PathOf(name)));
        a.Step();
      }
      Exec(db.get(), "BEGIN");
      catalog::UpgradeCatalog(db.get(), "main", true);
      for (const auto& name : names)
        if (fs::exists(state->PathOf(name))) catalog::UpgradeCatalog(db.get(), name, false);
      Exec(db.get(), "COMMIT");
    }
  } catch (const storage::SqliteError& e) {
    throw std::runtime_error(std::string("cannot create the databases: ") + e.what());
  }
  auto engine = std::make_unique<EngineImpl>(state);
  engine->Bootstrap(fresh);
  return engine;
}

}  // namespace sampleserver
