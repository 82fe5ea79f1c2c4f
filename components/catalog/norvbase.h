// What every catalog-style component shares: the connection name, the message switches and
// events, and the trace switch. Each operation of a derived component runs on a query of its own,
// made here with the component's switches and handlers, and frees it before returning.
#pragma once

#include "connection/component.h"
#include "connection/norvtypes.h"

#include <QObject>
#include <QString>

#include <memory>

class TNorvQuery;

class TNorvBase : public QObject,
                  public TDbMessageReporter,
                  public TComponentCommon,
                  public TDbNameProperty {
  Q_OBJECT
 public:
  explicit TNorvBase(QObject* owner = nullptr);
  ~TNorvBase() override;

  TNorvBase(const TNorvBase&) = delete;
  TNorvBase& operator=(const TNorvBase&) = delete;

  QString Name() const { return objectName(); }
  void SetName(const QString& name) { setObjectName(name); }

 protected:
  // A read-only cursor query without owner on DbName, carrying this component's switches and
  // message handlers; results are left untrimmed.
  std::unique_ptr<TNorvQuery> MakeQuery() const;
  // Gives `query` this component's connection name, message switches and handlers.
  void ConfigureQuery(TNorvQuery& query) const;
};

// `value` as a Transact-SQL string literal: in single quotes, each quote inside doubled, so a
// name holding a quote is asked for as it is and never ends the literal early.
QString SqlLiteral(const QString& value);
