#include "call_trace.h"

#include "connection/norvcontext.h"
#include "connection/openclient.h"

#include <gtest/gtest.h>
#include <QFile>

namespace norvtest {

CallTrace::CallTrace()
    : path_(dir_.filePath(QStringLiteral("calls.log")).toUtf8()),
      ctx_(FindContextHandle(QStringLiteral("default"))) {
  EXPECT_EQ(oc::ct_debug(ctx_, nullptr, CS_SET_DBG_FILE, CS_UNUSED, path_.constData(), CS_NULLTERM),
            CS_SUCCEED);
  EXPECT_EQ(oc::ct_debug(ctx_, nullptr, CS_SET_FLAG, CS_DBG_API_STATES, nullptr, CS_UNUSED),
            CS_SUCCEED);
}

CallTrace::~CallTrace() {
  EXPECT_EQ(oc::ct_debug(ctx_, nullptr, CS_CLEAR_FLAG, CS_DBG_API_STATES, nullptr, CS_UNUSED),
            CS_SUCCEED);
  EXPECT_EQ(oc::ct_debug(ctx_, nullptr, CS_SET_DBG_FILE, CS_UNUSED, "", CS_NULLTERM), CS_SUCCEED);
}

QStringList CallTrace::Calls(const QString& name) const {
  QFile file(QString::fromUtf8(path_));
  if (!file.open(QIODevice::ReadOnly)) return {};
  QStringList out;
  for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n')))
    if (name.isEmpty() || line.startsWith(name + QLatin1Char('('))) out << line;
  return out;
}

QStringList CallTrace::FetchBatchRows() const {
  QStringList rows;
  for (const QString& line : Calls(QStringLiteral("ct_fetch_batch")))
    rows << line.section(QLatin1Char(')'), 0, 0).section(QStringLiteral(", "), -1);
  return rows;
}

}  // namespace norvtest
