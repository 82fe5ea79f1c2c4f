#include "sqlini.h"

#include <QFile>
#include <QFileInfo>

bool TSqlIni::Load(const QString& path) {
  sections_.clear();
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return false;
  Parse(QString::fromUtf8(file.readAll()));
  return true;
}

void TSqlIni::Parse(const QString& text) {
  sections_.clear();
  Section* current = nullptr;
  const QStringList lines = text.split(u'\n');
  for (const QString& raw : lines) {
    const QString line = raw.trimmed();
    if (line.isEmpty() || line.startsWith(u';') || line.startsWith(u'#')) continue;
    if (line.startsWith(u'[')) {
      const qsizetype close = line.indexOf(u']');
      if (close < 0) continue;  // a broken header opens nothing
      const QString name = line.mid(1, close - 1).trimmed();
      if (name.isEmpty()) {
        current = nullptr;
        continue;
      }
      sections_.push_back({name, {}});
      current = &sections_.back();
      continue;
    }
    const qsizetype eq = line.indexOf(u'=');
    if (!current || eq <= 0) continue;
    current->entries.emplace_back(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
  }
}

QStringList TSqlIni::SectionNames() const {
  QStringList names;
  for (const Section& section : sections_)
    if (!names.contains(section.name, Qt::CaseInsensitive)) names.append(section.name);
  return names;
}

QString TSqlIni::Value(const QString& section, const QString& key) const {
  for (const Section& s : sections_) {
    if (s.name.compare(section, Qt::CaseInsensitive) != 0) continue;
    for (const auto& [k, v] : s.entries)
      if (k.compare(key, Qt::CaseInsensitive) == 0) return v;
  }
  return {};
}

QString SqlIniPath() {
  const QString sybase = qEnvironmentVariable("SYBASE");
  const QString upper = sybase + QStringLiteral("/INI/SQL.INI");
  if (QFileInfo::exists(upper)) return upper;
  const QString lower = sybase + QStringLiteral("/ini/sql.ini");
  return QFileInfo::exists(lower) ? lower : upper;
}

QString ServerAddress(const TSqlIni& ini, const QString& server) {
  if (server.isEmpty()) return {};
  QString entry = ini.Value(server, QStringLiteral("query"));
  if (entry.isEmpty()) entry = ini.Value(server, QStringLiteral("master"));
  // The protocol word varies between installations (TCP, NLWNSCK, ...); the address is always
  // the last two fields.
  QStringList fields = entry.split(u',');
  for (QString& field : fields) field = field.trimmed();
  if (fields.size() < 2 || fields.size() > 3) return {};
  const QString& host = fields[fields.size() - 2];
  const QString& port = fields.back();
  if (host.isEmpty() || port.isEmpty()) return {};
  return QStringLiteral("TCP,") + host + u',' + port;
}
