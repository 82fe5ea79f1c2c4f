#include "norvdatabase.h"

#include "dbcheck.h"
#include "monitor.h"
#include "norvexception.h"

#include <algorithm>

namespace {

// Lives until the program ends; connections leave it when destroyed.
std::vector<TNorvDatabase*>& Databases() {
  static std::vector<TNorvDatabase*> databases;
  return databases;
}

}  // namespace

TNorvDatabase::TNorvDatabase(QObject* owner) : QObject(owner) {}

TNorvDatabase::~TNorvDatabase() {
  auto& all = Databases();
  all.erase(std::remove(all.begin(), all.end(), this), all.end());
}

const std::vector<TNorvDatabase*>& TNorvDatabase::Registry() { return Databases(); }

void TNorvDatabase::SetName(const QString& name) {
  TNorvDatabase* holder = FindDatabase(name);
  if (holder && holder != this)
    throw EDatabaseError(QStringLiteral("A NorvDatabase component named ") + name +
                         QStringLiteral(" already exist"));
  setObjectName(name);
  JoinRegistry();
}

void TNorvDatabase::JoinRegistry() {
  auto& all = Databases();
  if (std::find(all.begin(), all.end(), this) == all.end()) all.push_back(this);
}

void TNorvDatabase::MonitorLog(const QString& line) const { ::MonitorLog(this, monitor_, line); }
