#include "monitor.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QLocalSocket>
#include <QtEndian>

#include <array>

namespace {

// A monitor is a debugging aid: never let it hold a component up for long.
constexpr int kConnectWaitMs = 50;
constexpr int kWriteWaitMs = 100;
constexpr qsizetype kFrameHeader = 16;

// One socket a thread, kept open between lines; sockets belong to the thread that made them.
thread_local std::unique_ptr<QLocalSocket> t_socket;
// After a listener stalled, lines are dropped for a while instead of stalling every one of them.
constexpr int kStallPauseMs = 1000;
thread_local QDeadlineTimer t_pausedUntil;

QLocalSocket* ConnectedSocket() {
  if (!t_pausedUntil.hasExpired()) return nullptr;
  if (t_socket && t_socket->state() == QLocalSocket::ConnectedState) return t_socket.get();
  t_socket = std::make_unique<QLocalSocket>();
  t_socket->connectToServer(MonitorSocketName(), QIODevice::WriteOnly);
  if (!t_socket->waitForConnected(kConnectWaitMs)) {
    t_socket.reset();
    return nullptr;
  }
  return t_socket.get();
}

}  // namespace

QString MonitorSocketName() {
  const QString override = qEnvironmentVariable("NORV_MONITOR_SOCKET");
  return override.isEmpty() ? QStringLiteral("Open Client SQL Monitor") : override;
}

QString MonitorProgramName() {
  const QString name = QCoreApplication::applicationName();
  if (!name.isEmpty()) return name;
  return QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget()).fileName();
}

namespace {

QByteArray Frame(quintptr window, quint32 tag, QByteArray text) {
  text.append('\0');
  QByteArray frame(kFrameHeader, Qt::Uninitialized);
  qToLittleEndian<quint64>(window, frame.data());
  qToLittleEndian<quint32>(tag, frame.data() + 8);
  qToLittleEndian<quint32>(static_cast<quint32>(text.size()), frame.data() + 12);
  return frame + text;
}

}  // namespace

QByteArray EncodeMonitorFrame(quintptr window, const QString& line) {
  return Frame(window, kMonitorCopyDataTag, line.toUtf8());
}

QByteArray EncodeMonitorFrame(quintptr window, const QString& line, const QString& program,
                              const QString& component) {
  // Names cannot hold the zero that ends them.
  QByteArray text = program.toUtf8().replace('\0', ' ');
  text.append('\0');
  text.append(component.toUtf8().replace('\0', ' '));
  text.append('\0');
  text.append(line.toUtf8());
  return Frame(window, kMonitorSenderTag, text);
}

namespace {

// Writes one frame; false when the listener is gone or stopped reading.
bool WriteFrame(QLocalSocket* socket, const QByteArray& frame) {
  if (socket->write(frame) != frame.size()) return false;
  // A listener that stops reading must not stall us: give up on it after a moment.
  while (socket->bytesToWrite() > 0) {
    if (!socket->waitForBytesWritten(kWriteWaitMs)) {
      if (socket->state() == QLocalSocket::ConnectedState)
        t_pausedUntil = QDeadlineTimer(kStallPauseMs);
      return false;
    }
  }
  return socket->state() == QLocalSocket::ConnectedState;
}

}  // namespace

void SendToMonitor(quintptr window, const QString& line, const QString& component) {
  const QByteArray frame = EncodeMonitorFrame(window, line, MonitorProgramName(), component);
  // A socket kept from an earlier line may lead to a monitor that has since gone: then try a
  // fresh connection once.
  for (int attempt = 0; attempt < 2; ++attempt) {
    const bool reused = t_socket != nullptr;
    QLocalSocket* socket = ConnectedSocket();
    if (!socket) return;
    if (WriteFrame(socket, frame)) return;
    t_socket.reset();
    if (!reused) return;
  }
}

void MonitorLog(const QObject* component, bool monitor, const QString& line) {
  if (!monitor || !component) return;
  const QObject* owner = component->parent();
  if (!owner) return;
  const quintptr window = owner->isWidgetType() ? reinterpret_cast<quintptr>(owner) : 0;
  const QString name = component->objectName();
  SendToMonitor(window, line,
                name.isEmpty() ? QString::fromLatin1(component->metaObject()->className()) : name);
}

MonitorListener::MonitorListener(QObject* parent) : QObject(parent) {
  connect(&server_, &QLocalServer::newConnection, this, &MonitorListener::Accept);
}

MonitorListener::~MonitorListener() = default;

bool MonitorListener::Listen(const QString& name) {
  QLocalServer::removeServer(name);  // a socket file left by a crashed monitor
  return server_.listen(name);
}

void MonitorListener::Accept() {
  while (QLocalSocket* socket = server_.nextPendingConnection()) {
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { ReadFrom(socket); });
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    ReadFrom(socket);
  }
}

void MonitorListener::ReadFrom(QLocalSocket* socket) {
  // Frames may arrive in pieces: take only whole ones, leave the rest buffered in the socket.
  while (socket->bytesAvailable() >= kFrameHeader) {
    std::array<char, kFrameHeader> header{};
    if (socket->peek(header.data(), kFrameHeader) != kFrameHeader) return;
    const auto window = qFromLittleEndian<quint64>(header.data());
    const auto tag = qFromLittleEndian<quint32>(header.data() + 8);
    const auto length = qFromLittleEndian<quint32>(header.data() + 12);
    if ((tag != kMonitorCopyDataTag && tag != kMonitorSenderTag) ||
        length == 0) {  // not one of ours: drop the peer
      socket->abort();
      return;
    }
    if (socket->bytesAvailable() < kFrameHeader + qint64(length)) return;
    socket->skip(kFrameHeader);
    QByteArray text = socket->read(length);
    text.chop(1);  // the terminating zero
    QString program;
    QString component;
    if (tag == kMonitorSenderTag) {
      const qsizetype end1 = text.indexOf('\0');
      const qsizetype end2 = end1 < 0 ? -1 : text.indexOf('\0', end1 + 1);
      if (end2 < 0) {  // a sender frame without its names: not one of ours
        socket->abort();
        return;
      }
      program = QString::fromUtf8(text.left(end1));
      component = QString::fromUtf8(text.mid(end1 + 1, end2 - end1 - 1));
      text.remove(0, end2 + 1);
    }
    const QString line = QString::fromUtf8(text);
    emit LineReceived(static_cast<quintptr>(window), line);
    emit LineFrom(static_cast<quintptr>(window), program, component, line);
  }
}
