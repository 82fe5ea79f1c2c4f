// What the bulk copy tests share: a connection with the bulk-copy login flag, a scratch
// directory for data files, a component set up for a foreground copy, and ways to read tables
// and files back.
#pragma once

#include "bulk/norvbulk.h"
#include "connection/norvdatabase.h"
#include "query/norvquery.h"

#include "server_fixture.h"
#include "trace_capture.h"

#include <QCoreApplication>
#include <QDate>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QTime>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace norvtest {

using Rows = std::vector<std::vector<std::string>>;

class BulkTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const auto& info = SampleServer();
    db_ = new TNorvDatabase;
    db_->SetName(QStringLiteral("bulkdb"));
    db_->SetServerName(info.serverName);
    db_->SetUserName(QStringLiteral("sa"));
    db_->SetLoginPrompt(false);
    db_->SetConProps({cpBulk_Login});
    db_->SetConnected(true);
  }
  static void TearDownTestSuite() {
    delete db_;
    db_ = nullptr;
  }

  // A component for a foreground copy of `table` through `file` (a name in the scratch folder).
  std::unique_ptr<TNorvBulk> Bulk(TBulkDirection direction, const QString& table,
                                  const QString& file) {
    auto bulk = std::make_unique<TNorvBulk>();
    bulk->SetName(QStringLiteral("bulk"));
    bulk->SetDbName(QStringLiteral("bulkdb"));
    bulk->SetBackground(false);
    bulk->SetDirection(direction);
    bulk->SetTableName(table);
    bulk->SetDataFile(Path(file));
    return bulk;
  }

  QString Path(const QString& file) const { return dir_.filePath(file); }

  // Every row of `sql` as text, sorted.
  static Rows Query(const QString& sql) {
    TNorvQuery q;
    q.SetDbName(QStringLiteral("bulkdb"));
    q.SetSql(sql);
    Rows rows;
    if (q.Execute() != CS_SUCCEED) return rows;
    while (q.Fetch() == 1) {
      std::vector<std::string> row;
      for (int c = 1; c <= q.ColumnCount(); ++c) row.push_back(q.FieldValue(c).toStdString());
      rows.push_back(row);
    }
    std::sort(rows.begin(), rows.end());
    return rows;
  }

  static void Run(std::initializer_list<const char*> statements) {
    for (const char* sql : statements) {
      TNorvQuery q;
      q.SetDbName(QStringLiteral("bulkdb"));
      q.SetSql(QString::fromUtf8(sql));
      ASSERT_EQ(q.Execute(), CS_SUCCEED) << sql;
      while (q.Fetch() == 1) {
      }
    }
  }

  std::string Read(const QString& file) const {
    QFile f(Path(file));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll().toStdString();
  }
  void Write(const QString& file, const std::string& bytes) const {
    QFile f(Path(file));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes.data(), static_cast<qint64>(bytes.size()));
  }

  // Serves the events a background copy sends here until its worker is done and freed.
  static void Finish(const TNorvBulk& bulk) {
    QDeadlineTimer deadline(30000);
    while ((bulk.Running() || bulk.Worker()) && !deadline.hasExpired())
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }

  // What a FreeTDS tool run through the shell says.
  static std::string Shell(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen((command + " 2>&1").c_str(), "r"), ::pclose);
    std::string text;
    char buf[4096];
    size_t n;
    while (pipe && (n = std::fread(buf, 1, sizeof buf, pipe.get())) > 0) text.append(buf, n);
    return text;
  }

  // `copy` made anew as an empty table shaped like `source`.
  static void EmptyCopy(const QString& source, const QString& copy) {
    Run({QStringLiteral("if object_id('%1') is not null drop table %1")
             .arg(copy)
             .toUtf8()
             .constData(),
         QStringLiteral("select * into %1 from %2 where 1=0")
             .arg(copy, source)
             .toUtf8()
             .constData()});
  }

  // The message of the failure `copy` ends in; empty when it succeeds.
  static std::string Failure(TNorvBulk& bulk) {
    try {
      bulk.BulkCopy();
    } catch (const Exception& e) {
      return e.what();
    }
    return {};
  }

  static inline TNorvDatabase* db_ = nullptr;
  QTemporaryDir dir_;
};

}  // namespace norvtest
