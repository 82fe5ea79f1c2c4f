// What the data-set tests share: a connection to the sample server and a table set up on it.
#pragma once

#include "connection/norvdatabase.h"
#include "query/norvquery.h"

#include "server_fixture.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>

namespace norvtest {

// A connection component named `name`, logged in to the sample server as sa without a dialog.
inline std::unique_ptr<TNorvDatabase> ConnectSample(const QString& name) {
  const auto& info = SampleServer();  // SYBASE set before the first context
  auto db = std::make_unique<TNorvDatabase>();
  db->SetName(name);
  db->SetServerName(info.serverName);
  db->SetUserName(QStringLiteral("sa"));
  db->SetLoginPrompt(false);
  db->SetConnected(true);
  return db;
}

// Runs each statement on a connection of its own, reading every result.
inline void RunSetup(std::initializer_list<const char*> statements) {
  auto db = ConnectSample(QStringLiteral("dataset_setup"));
  TNorvQuery q;
  q.SetDbName(QStringLiteral("dataset_setup"));
  for (const char* sql : statements) {
    q.SetSql(QString::fromLatin1(sql));
    ASSERT_EQ(q.Execute(), CS_SUCCEED) << sql;
    while (q.Fetch() == 1) {
    }
  }
}

}  // namespace norvtest
