// What every component shares: its kind, read from its class name, and the properties that each
// component class would otherwise repeat (About, Monitor with MonitorLog, DbName).
//
// Every component class declares Q_OBJECT. The components recognise one another by class name,
// upper-cased, as the rules below do: the message router decides where texts are stored and
// which errors carry the "Line" line, and the query decides which owner takes copies of its texts
// and whether it may raise. metaObject()->className() names the most derived class that declares
// Q_OBJECT, so a component class without it would report its base class's name and be routed as
// that class; a class derived from a component that declares Q_OBJECT reports its own name and is
// Unknown, which is the treatment a derived class is meant to get.
#pragma once

#include "norvtypes.h"

#include <QObject>
#include <QString>

// The classes the components recognise by name.
enum class TComponentKind {
  Unknown,     // any other class, also one derived from a component below
  Table,       // TNorvTable
  DsQuery,     // TNorvDsQuery (no such class is built; the name stays recognised)
  StoredProc,  // TNorvStoredProc (likewise)
  Query,       // TNorvQuery
  Database,    // TNorvDatabase
  Bulk,        // TNorvBulk
  Grid,        // TNorvGrid
  ListBox,     // TNorvListBox
  ComboBox,    // TNorvComboBox
  ChkListBox,  // TNorvChkListBox
  ObjInfo,     // TNorvObjInfo
  Functions,   // TNorvFunctions
};

// The kind of `component` by its class name, upper-cased and compared exactly; Unknown for null.
TComponentKind ComponentKind(const QObject* component);

// ---- The rules that depend on a kind ----------------------------------------------------------
// The message router stores texts in the owner and fires its events.
bool RouterStoresMessages(TComponentKind kind);
// The router's error texts carry the "Line" line.
bool RouterShowsLine(TComponentKind kind);
// A query copies its error and message texts into its owner ...
bool OwnerTakesQueryTexts(TComponentKind kind);
// ... and its error record too.
bool OwnerTakesQueryServerMsg(TComponentKind kind);
// A grid working in the background: its query neither raises nor lets an error escape Execute.
bool IsBackgroundGrid(const QObject* owner);

// ---- Shared properties ------------------------------------------------------------------------

// About (design-time text, no behaviour), Monitor and MonitorLog: the component's trace lines go
// to the monitor when Monitor is on and the component has an owner. Mixed into a QObject.
class TComponentCommon {
 public:
  QString About() const { return about_; }
  void SetAbout(const QString& value) { about_ = value; }
  bool Monitor() const { return monitor_; }
  void SetMonitor(bool value) { monitor_ = value; }
  void MonitorLog(const QString& line) const;

 protected:
  TComponentCommon() = default;
  virtual ~TComponentCommon() = default;
  TComponentCommon(const TComponentCommon&) = default;
  TComponentCommon& operator=(const TComponentCommon&) = default;

 private:
  QString about_;
  bool monitor_ = false;
};

// DbName: the connection component's Name, cut to 30 characters. A component that acts on a new
// name overrides DbNameChanged (the query prepares a command on the connection).
class TDbNameProperty {
 public:
  QString DbName() const { return dbName_; }
  void SetDbName(const QString& value) {
    dbName_ = NorvObjectname(value);
    DbNameChanged();
  }

 protected:
  TDbNameProperty() = default;
  virtual ~TDbNameProperty() = default;
  TDbNameProperty(const TDbNameProperty&) = default;
  TDbNameProperty& operator=(const TDbNameProperty&) = default;
  virtual void DbNameChanged() {}

 private:
  QString dbName_;
};
