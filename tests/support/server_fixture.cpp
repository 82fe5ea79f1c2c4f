#include "server_fixture.h"

#include "tds/sampleserver.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>
#include <mutex>
#include <stdexcept>

namespace norvtest {
namespace {

struct Running {
  QTemporaryDir sybase;
  QTemporaryDir data;
  std::unique_ptr<sampleserver::SampleServer> server;
  SampleServerInfo info;
};

std::mutex g_mutex;
std::unique_ptr<Running> g_running;

void WriteSqlIni(const Running& running) {
  QDir(running.sybase.path()).mkpath("INI");
  QFile ini(running.sybase.filePath("INI/SQL.INI"));
  if (!ini.open(QIODevice::WriteOnly | QIODevice::Truncate))
    throw std::runtime_error("cannot write SQL.INI");
  ini.write(QStringLiteral("[%1]\nquery=TCP,%2,%3\n")
                .arg(running.info.serverName, running.info.host)
                .arg(running.info.port)
                .toUtf8());
}

}  // namespace

const SampleServerInfo& SampleServer() {
  std::lock_guard lock(g_mutex);
  if (!g_running) {
    auto running = std::make_unique<Running>();
    sampleserver::ServerOptions options;
    options.dataDir = running->data.path().toStdString();
    running->server = sampleserver::SampleServer::Start(options);
    running->info.serverName = QStringLiteral("SAMPLE");
    running->info.host = QString::fromStdString(running->server->Host());
    running->info.port = running->server->Port();
    running->info.sybaseDir = running->sybase.path();
    WriteSqlIni(*running);
    qputenv("SYBASE", running->sybase.path().toUtf8());
    g_running = std::move(running);
  }
  return g_running->info;
}

void StopSampleServer() {
  std::lock_guard lock(g_mutex);
  if (g_running) g_running->server->Stop();
  g_running.reset();
}

}  // namespace norvtest
