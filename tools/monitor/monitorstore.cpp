#include "monitorstore.h"

#include "connection/monitor.h"

#include <QMutexLocker>

#include <atomic>
#include <utility>

QString MonitorLine::Display() const {
  const QString dash = QStringLiteral("-");
  return QStringLiteral("%1  %2  %3  %4")
      .arg(received.toString(QStringLiteral("HH:mm:ss.zzz")), program.isEmpty() ? dash : program,
           component.isEmpty() ? dash : component, text);
}

bool MonitorStore::Add(MonitorLine line) {
  lines_.push_back(std::move(line));
  if (lines_.size() <= capacity_) return true;
  lines_.pop_front();
  ++dropped_;
  return false;
}

void MonitorStore::Clear() {
  lines_.clear();
  dropped_ = 0;
}

MonitorReader::MonitorReader(size_t capacity) : queue_(capacity) {
  worker_ = new QObject;  // owned by the thread from here on: deleted when it finishes
  worker_->moveToThread(&thread_);
  QObject::connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
  thread_.setObjectName(QStringLiteral("monitor reader"));
  thread_.start();
}

MonitorReader::~MonitorReader() {
  thread_.quit();
  thread_.wait();
}

bool MonitorReader::Listen(const QString& name) {
  // Set on the reader's thread; atomic, since the blocking hand-over that orders it is Qt's own.
  std::atomic<bool> listening = false;
  // The listener and its sockets are made on the reader's thread, so they read there.
  QMetaObject::invokeMethod(
      worker_,
      [this, &name, &listening] {
        auto* listener = new MonitorListener(worker_);
        QObject::connect(listener, &MonitorListener::LineFrom,
                         [this](quintptr, const QString& program, const QString& component,
                                const QString& text) {
                           Queue({QDateTime::currentDateTime(), program, component, text});
                         });
        listening = listener->Listen(name);
      },
      Qt::BlockingQueuedConnection);
  return listening;
}

void MonitorReader::Queue(MonitorLine line) {
  QMutexLocker lock(&mutex_);
  queue_.Add(std::move(line));
}

std::vector<MonitorLine> MonitorReader::Take(qint64* dropped) {
  QMutexLocker lock(&mutex_);
  std::vector<MonitorLine> lines(queue_.Lines().begin(), queue_.Lines().end());
  *dropped = queue_.Dropped();
  queue_.Clear();
  return lines;
}
