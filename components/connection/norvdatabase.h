// The connection component: one login to one server. Every other component names it by its
// component name (its DbName) and finds it in the process-wide registry.
#pragma once

#include "norvtypes.h"

#include <QObject>
#include <QString>

#include <vector>

class TNorvDatabase : public QObject, public TDbMessageReporter {
  Q_OBJECT
 public:
  explicit TNorvDatabase(QObject* owner = nullptr);
  ~TNorvDatabase() override;

  // Every connection that has been given a name, in the order they joined.
  static const std::vector<TNorvDatabase*>& Registry();

  QString Name() const { return objectName(); }
  // Raises EDatabaseError when another registered connection already has the name.
  void SetName(const QString& name);

  bool Monitor() const { return monitor_; }
  void SetMonitor(bool value) { monitor_ = value; }
  void MonitorLog(const QString& line) const;

 private:
  void JoinRegistry();
  bool monitor_ = false;
};
