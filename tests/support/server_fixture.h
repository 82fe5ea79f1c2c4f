// Integration tests of the components run against the sample server, started in-process on an
// ephemeral loopback port, and reach it exactly as a user would: through $SYBASE/INI/SQL.INI.
#pragma once

#include <QString>

#include <cstdint>

namespace norvtest {

// The running server (started on first use, stopped when the test program ends).
struct SampleServerInfo {
  QString serverName;  // the SQL.INI section naming it: "SAMPLE"
  QString host;
  uint16_t port = 0;
  QString sybaseDir;  // what SYBASE points at
};

// Starts the server if needed, writes $SYBASE/INI/SQL.INI naming it and sets SYBASE.
const SampleServerInfo& SampleServer();

// Stops the server now: for tests of a connection that loses its server. The next call to
// SampleServer() starts a fresh one on another port and rewrites SQL.INI.
void StopSampleServer();

}  // namespace norvtest
