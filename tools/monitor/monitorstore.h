// What the monitor holds: the lines received, each with its arrival time and sender, at most a
// bounded number of them; and the reader that receives them on a thread of its own, so that a
// busy window never makes a sender wait.
#pragma once

#include <QDateTime>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QThread>

#include <deque>
#include <vector>

struct MonitorLine {
  QDateTime received;
  QString program;  // empty when the sender did not say
  QString component;
  QString text;

  // The line as the window shows it.
  QString Display() const;
};

// Keeps the newest `capacity` lines; older ones are dropped and counted.
class MonitorStore {
 public:
  explicit MonitorStore(size_t capacity) : capacity_(capacity) {}
  // False when an older line had to go to make room.
  bool Add(MonitorLine line);
  void AddDropped(qint64 count) { dropped_ += count; }
  void Clear();
  const std::deque<MonitorLine>& Lines() const { return lines_; }
  qint64 Dropped() const { return dropped_; }
  size_t Capacity() const { return capacity_; }

 private:
  size_t capacity_;
  std::deque<MonitorLine> lines_;
  qint64 dropped_ = 0;
};

// Listens on the monitor socket from its own thread and queues each line received; the window
// takes them out in batches.
class MonitorReader {
 public:
  explicit MonitorReader(size_t capacity);
  ~MonitorReader();
  MonitorReader(const MonitorReader&) = delete;
  MonitorReader& operator=(const MonitorReader&) = delete;

  bool Listen(const QString& name);
  // The lines queued since the last call, and how many were dropped because the queue was full.
  std::vector<MonitorLine> Take(qint64* dropped);

 private:
  void Queue(MonitorLine line);

  QThread thread_;
  QObject* worker_ = nullptr;  // lives on thread_, deleted when it finishes
  QMutex mutex_;
  MonitorStore queue_;
};
