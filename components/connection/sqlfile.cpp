#include "sqlfile.h"

#include "norvexception.h"

#include <QFile>
#include <QTextStream>

QString ReadSqlFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
    throw ENorvException(QStringLiteral("Cannot read SQL file ") + path + QStringLiteral(": ") +
                         file.errorString());
  QTextStream in(&file);
  QString sql;
  QString line;
  while (in.readLineInto(&line)) {
    sql += u' ';
    sql += line;
  }
  if (file.error() != QFileDevice::NoError)
    throw ENorvException(QStringLiteral("Cannot read SQL file ") + path + QStringLiteral(": ") +
                         file.errorString());
  return sql;
}
