// The sample server the component benchmarks run against: started in-process on a free port with
// throw-away databases, and named BENCH in a temporary SQL.INI that SYBASE points at, so the
// components reach it as they would reach any server.
#pragma once

#include "connection/norvdatabase.h"
#include "tds/sampleserver.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <stdexcept>

struct BenchServer {
  QTemporaryDir data, sybase;
  std::unique_ptr<sampleserver::SampleServer> server;

  BenchServer() {
    sampleserver::ServerOptions options;
    options.dataDir = data.path().toStdString();
    server = sampleserver::SampleServer::Start(options);
    QDir(sybase.path()).mkpath(QStringLiteral("INI"));
    QFile ini(sybase.filePath(QStringLiteral("INI/SQL.INI")));
    if (!ini.open(QIODevice::WriteOnly)) throw std::runtime_error("cannot write SQL.INI");
    ini.write(QStringLiteral("[BENCH]\nquery=TCP,127.0.0.1,%1\n").arg(server->Port()).toUtf8());
    ini.close();
    qputenv("SYBASE", sybase.path().toUtf8());
  }
};

// Logs `db` in to BENCH as sa under the component name "db".
inline void ConnectBench(TNorvDatabase& db) {
  db.SetName(QStringLiteral("db"));
  db.SetServerName(QStringLiteral("BENCH"));
  db.SetUserName(QStringLiteral("sa"));
  db.SetLoginPrompt(false);
  db.SetConnected(true);
  if (!db.Connected()) throw std::runtime_error("cannot connect to the sample server");
}
