// norvmonitor: shows the trace lines of every program's components as they arrive, listening on
// the monitor socket ("Open Client SQL Monitor", or NORV_MONITOR_SOCKET).
#include "connection/monitor.h"
#include "connection/norvapplication.h"
#include "monitorwindow.h"

int main(int argc, char** argv) {
  NorvApplication app(argc, argv);  // message boxes as dialogs
  QApplication::setOrganizationName(QStringLiteral("Norv"));
  QApplication::setApplicationName(QStringLiteral("norvmonitor"));
  MonitorWindow window;
  if (!window.Listen(MonitorSocketName())) return 1;
  window.show();
  return QApplication::exec();
}
