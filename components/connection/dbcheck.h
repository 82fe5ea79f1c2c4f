// Looking up a connection component by its name, as every component does with its DbName.
#pragma once

#include <QString>

class TNorvDatabase;

// The registered connection whose component name equals `name` exactly, or null.
TNorvDatabase* FindDatabase(const QString& name);

// Raises EDatabaseError when `name` is blank or names no registered connection.
void CheckDbName(const QString& name);
