#include "dbcheck.h"

#include "norvdatabase.h"
#include "norvexception.h"

TNorvDatabase* FindDatabase(const QString& name) {
  for (TNorvDatabase* db : TNorvDatabase::Registry())
    if (db->Name() == name) return db;
  return nullptr;
}

void CheckDbName(const QString& name) {
  if (name.trimmed().isEmpty()) throw EDatabaseError(QStringLiteral("DBName not specified"));
  if (!FindDatabase(name))
    throw EDatabaseError(QStringLiteral("Could not find NorvDatabase component named ") + name);
}
