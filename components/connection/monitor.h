// The trace sink: components send their trace lines to an outside monitor program listening on a
// local socket. Each line travels as one frame:
//   u64 sender   the sending window's identifier, 0 when the sender has no window
//   u32 dwData   always 99
//   u32 cbData   length of the text plus its terminating zero
//   cbData bytes the text, UTF-8, with the terminating zero
// all little-endian. A frame tagged 100 instead carries who sent the line: its text is the sending
// program's name, a zero, the component's name, a zero, then the line and its zero. Listeners read
// both kinds; senders write the second.
// Without a listener nothing happens, and a slow or dead listener holds a
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

// Sends `line` to the monitor, if one listens, naming this program and `component` as its sender.
void SendToMonitor(quintptr window, const QString& line, const QString& component = {});

// This program's name as the monitor shows it: the application name, else the executable's.
QString MonitorProgramName();

// What each component's MonitorLog does: when `monitor` is on and the component has an owner,
// the line goes to the monitor on behalf of the owner.
void MonitorLog(const QObject* component, bool monitor, const QString& line);

constexpr quint32 kMonitorCopyDataTag = 99;
constexpr quint32 kMonitorSenderTag = 100;

// Encodes one frame without its sender; the inverse of what MonitorListener reads.
QByteArray EncodeMonitorFrame(quintptr window, const QString& line);
// Encodes one frame naming its sending program and component.
QByteArray EncodeMonitorFrame(quintptr window, const QString& line, const QString& program,
                              const QString& component);

// A minimal monitor: listens on the monitor socket and hands out each line it receives.
class MonitorListener : public QObject {
  Q_OBJECT
 public:
  explicit MonitorListener(QObject* parent = nullptr);
  ~MonitorListener() override;
  bool Listen(const QString& name = MonitorSocketName());

 signals:
  void LineReceived(quintptr window, const QString& line);
  // The same line with its sender; both names are empty for a frame that carries none.
  void LineFrom(quintptr window, const QString& program, const QString& component,
                const QString& line);

 private:
  void Accept();
  void ReadFrom(class QLocalSocket* socket);
  QLocalServer server_;
};
