#include "catalog/norvbase.h"

#include "query/norvquery.h"

TNorvBase::TNorvBase(QObject* owner) : QObject(owner) {}

TNorvBase::~TNorvBase() = default;

std::unique_ptr<TNorvQuery> TNorvBase::MakeQuery() const {
  auto query = std::make_unique<TNorvQuery>();
  query->SetIsCursor(true);
  query->SetReadOnly(true);
  ConfigureQuery(*query);
  return query;
}

void TNorvBase::ConfigureQuery(TNorvQuery& query) const {
  query.SetMsgDialogs(MsgDialogs());
  query.SetShowDbMessages(ShowDbMessages());
  query.OnDbError = OnDbError;
  query.AfterDbError = AfterDbError;
  query.OnDbMessage = OnDbMessage;
  query.AfterDbMessage = AfterDbMessage;
  query.SetDbName(DbName());
}

QString SqlLiteral(const QString& value) {
  QString text = value;
  text.replace(QLatin1Char('\''), QStringLiteral("''"));
  return QLatin1Char('\'') + text + QLatin1Char('\'');
}
