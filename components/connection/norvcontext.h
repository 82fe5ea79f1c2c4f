// The Client-Library context component: owns one library context, its locale and the
// context-wide message handlers. Connections find their context by its ContextName.
#pragma once

#include "component.h"
#include "norvtypes.h"
#include "openclient.h"

#include <QObject>
#include <QString>

#include <vector>

class TNorvContext : public QObject, public TComponentCommon {
  Q_OBJECT
 public:
  // Initialises the library; raises ENorvException when a step fails.
  explicit TNorvContext(QObject* owner = nullptr);
  ~TNorvContext() override;

  // Every context that has been given a component name, in the order they joined.
  static const std::vector<TNorvContext*>& Registry();

  QString Name() const { return objectName(); }
  // Joins the registry and renames the context: "default" while it is the only one, otherwise
  // "context" followed by the number of registered contexts.
  void SetName(const QString& name);

  QString NorvVersion() const;
  QString IniFile() const { return iniFile_; }
  void SetIniFile(const QString& value);
  QString CharSet() const { return charSet_; }
  void SetCharSet(const QString& value);
  QString Language();
  void SetLanguage(const QString& value);
  QString SortOrder();
  void SetSortOrder(const QString& value);
  int MaxConnect() const;
  void SetMaxConnect(int value);
  QString ContextName() const { return contextName_; }
  void SetContextName(const QString& value) { contextName_ = NorvObjectname(value); }
  int TimeOut() const;
  void SetTimeOut(int value);

  oc::Context* Handle() const { return context_.get(); }

 private:
  void InitLibrary();
  void ApplyLoginTimeOut();
  QString ReadLocale(CS_INT type);
  [[nodiscard]] CS_RETCODE WriteLocale(CS_INT type, const QString& value);

  QString iniFile_;
  QString charSet_;
  QString language_;
  QString sortOrder_;
  int maxConnect_ = 25;
  QString contextName_ = QStringLiteral("default");
  int timeOut_ = 60;
  oc::ContextHandle context_;
  oc::LocaleHandle locale_;
};

// The first registered context whose ContextName is `name` (cut to 30 characters), or null.
TNorvContext* FindContext(const QString& name);
// That context's library handle, or null.
oc::Context* FindContextHandle(const QString& name);

// The context-wide handlers. They serve connections that do not collect messages inline and
// CS-Library errors; each shows its text in a message box and returns CS_SUCCEED.
CS_RETCODE ServerMessageHandler(oc::Context* ctx, oc::Connection* con, CS_SERVERMSG* msg);
CS_RETCODE ClientMessageHandler(oc::Context* ctx, oc::Connection* con, CS_CLIENTMSG* msg);
CS_RETCODE CsLibMessageHandler(oc::Context* ctx, CS_CLIENTMSG* msg);
CS_RETCODE CompletionHandler(oc::Connection* con, oc::Command* cmd, CS_INT function,
                             CS_RETCODE status);
