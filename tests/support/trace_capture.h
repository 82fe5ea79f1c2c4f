// Collects the trace lines components send to the monitor, on a socket of its own, so a test can
// compare them with what it expects.
#pragma once

#include "connection/monitor.h"

#include <QStringList>

namespace norvtest {

class TraceCapture {
 public:
  // Points NORV_MONITOR_SOCKET at a fresh socket name and listens on it.
  TraceCapture();
  // Unsets NORV_MONITOR_SOCKET again.
  ~TraceCapture();
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;

  bool Listening() const { return listening_; }
  // The lines received so far, after waiting up to `msecs` for at least `count` of them.
  QStringList Wait(qsizetype count, int msecs = 5000);

 private:
  MonitorListener listener_;
  QStringList lines_;
  bool listening_ = false;
};

}  // namespace norvtest
