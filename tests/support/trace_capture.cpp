#include "trace_capture.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QUuid>

namespace norvtest {

TraceCapture::TraceCapture() {
  qputenv("NORV_MONITOR_SOCKET",
          ("norv-test-trace-" + QUuid::createUuid().toString(QUuid::Id128)).toUtf8());
  QObject::connect(&listener_, &MonitorListener::LineReceived,
                   [this](quintptr, const QString& line) { lines_ << line; });
  listening_ = listener_.Listen();
}

TraceCapture::~TraceCapture() { qunsetenv("NORV_MONITOR_SOCKET"); }

QStringList TraceCapture::Wait(qsizetype count, int msecs) {
  QDeadlineTimer deadline(msecs);
  while (lines_.size() < count && !deadline.hasExpired())
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return lines_;
}

}  // namespace norvtest
