#include "component.h"

#include "monitor.h"

#include <QVariant>

#include <array>
#include <utility>

TComponentKind ComponentKind(const QObject* component) {
  if (!component) return TComponentKind::Unknown;
  using K = TComponentKind;
  static const std::array<std::pair<const char*, K>, 12> kNames = {{
      {"TNORVTABLE", K::Table},
      {"TNORVDSQUERY", K::DsQuery},
      {"TNORVSTOREDPROC", K::StoredProc},
      {"TNORVQUERY", K::Query},
      {"TNORVDATABASE", K::Database},
      {"TNORVBULK", K::Bulk},
      {"TNORVGRID", K::Grid},
      {"TNORVLISTBOX", K::ListBox},
      {"TNORVCOMBOBOX", K::ComboBox},
      {"TNORVCHKLISTBOX", K::ChkListBox},
      {"TNORVOBJINFO", K::ObjInfo},
      {"TNORVFUNCTIONS", K::Functions},
  }};
  const QString upper = QString::fromLatin1(component->metaObject()->className()).toUpper();
  for (const auto& [name, kind] : kNames)
    if (upper == QLatin1String(name)) return kind;
  return K::Unknown;
}

bool RouterStoresMessages(TComponentKind kind) {
  switch (kind) {
    case TComponentKind::Table:
    case TComponentKind::DsQuery:
    case TComponentKind::StoredProc:
    case TComponentKind::Query:
    case TComponentKind::Database:
    case TComponentKind::Bulk: return true;
    default: return false;
  }
}

bool RouterShowsLine(TComponentKind kind) {
  switch (kind) {
    case TComponentKind::Table:
    case TComponentKind::Database:
    case TComponentKind::Bulk: return false;
    default: return true;
  }
}

bool OwnerTakesQueryTexts(TComponentKind kind) {
  switch (kind) {
    case TComponentKind::ChkListBox:
    case TComponentKind::ComboBox:
    case TComponentKind::Grid:
    case TComponentKind::ListBox:
    case TComponentKind::ObjInfo:
    case TComponentKind::Database:
    case TComponentKind::Functions: return true;
    default: return false;
  }
}

bool OwnerTakesQueryServerMsg(TComponentKind kind) {
  // The functions component keeps no error record.
  return OwnerTakesQueryTexts(kind) && kind != TComponentKind::Functions;
}

bool IsBackgroundGrid(const QObject* owner) {
  return ComponentKind(owner) == TComponentKind::Grid && owner->property("Background").toBool();
}

void TComponentCommon::MonitorLog(const QString& line) const {
  if (!monitor_) return;
  ::MonitorLog(dynamic_cast<const QObject*>(this), monitor_, line);
}
