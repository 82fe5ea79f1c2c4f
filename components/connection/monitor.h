// The trace sink: components send their trace lines to an outside monitor program listening on a
// local socket. Each line travels as one frame:
//   u64 sender   the sending window's identifier, 0 when the sender has no window
//   u32 dwData   always 99
//   u32 cbData   length of the text plus its terminating zero
//   cbData bytes the text, UTF-8, with the terminating zero
// all little-endian. Without a listener nothing happens, and a slow or dead listener holds a
// component up for a moment at most.
#pragma once

#include <QByteArray>
#include <QLocalServer>
#include <QObject>
#include <QString>

#include <memory>
#include <vector>

// "Open Client SQL Monitor", unless NORV_MONITOR_SOCKET names another socket (tests run
// side by side with their own).
QString MonitorSocketName();

// Sends `line` to the monitor, if one listens.
void SendToMonitor(quintptr window, const QString& line);

// What each component's MonitorLog does: when `monitor` is on and the component has an owner,
// the line goes to the monitor on behalf of the owner.
void MonitorLog(const QObject* component, bool monitor, const QString& line);

constexpr quint32 kMonitorCopyDataTag = 99;

// Encodes one frame; the inverse of what MonitorListener reads.
QByteArray EncodeMonitorFrame(quintptr window, const QString& line);

// A minimal monitor: listens on the monitor socket and hands out each line it receives.
class MonitorListener : public QObject {
  Q_OBJECT
 public:
  explicit MonitorListener(QObject* parent = nullptr);
  ~MonitorListener() override;
  bool Listen(const QString& name = MonitorSocketName());

 signals:
  void LineReceived(quintptr window, const QString& line);

 private:
  void Accept();
  void ReadFrom(class QLocalSocket* socket);
  QLocalServer server_;
};
