// A small INI reader for SQL.INI. QSettings sorts its groups, but the server list must keep the
// order in which the file names its servers, so sections are kept as read.
#pragma once

#include <QString>
#include <QStringList>

#include <utility>
#include <vector>

class TSqlIni {
 public:
  // Reads `path`; false when the file cannot be opened (the reader is then empty).
  bool Load(const QString& path);
  // Parses INI text: "[name]" opens a section, "key=value" adds to it, lines starting with ';'
  // or '#' are comments. Keys before the first section are ignored.
  void Parse(const QString& text);

  // Section names in file order, each once. Names compare without regard to case, as INI
  // readers do; the first spelling is kept.
  QStringList SectionNames() const;
  // The first value of `key` in the sections named `section` (both without regard to case);
  // empty when there is none.
  QString Value(const QString& section, const QString& key) const;

 private:
  struct Section {
    QString name;
    std::vector<std::pair<QString, QString>> entries;
  };
  std::vector<Section> sections_;
};

// The file the server list comes from: $SYBASE/INI/SQL.INI, or $SYBASE/ini/sql.ini when only
// that one exists (case-sensitive file systems).
QString SqlIniPath();

// The address of `server` in the SQL.INI read into `ini`, as the adapter takes it
// ("TCP,host,port"): its query entry, else its master entry, whatever protocol word it names;
// empty when it has neither or the entry is not "protocol,host,port" or "host,port".
QString ServerAddress(const TSqlIni& ini, const QString& server);
