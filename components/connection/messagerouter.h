// The message router: after a component has driven a step of a command on a connection that
// collects its messages inline, it hands the connection here. The router drains the queued server
// messages, builds an error text or one informational text, stores it in the component, fires the
// component's message events and, as its switches say, shows the text or raises.
#pragma once

#include "norvexception.h"
#include "openclient.h"

#include <QObject>

// Raises EAbort or EDatabaseError for a server error when `RaiseOnError`; returns otherwise. An
// EDatabaseError carries the error's server message records (ServerMessageRecord) beside its
// text. The connection's message queues are empty when it returns or raises.
void HandleDbMessages(oc::Connection* con, QObject* owner, bool RaiseOnError, bool EnhErr,
                      bool EnhMsg, bool ShowMsg, bool ShowErr);

// The fields of a server message a program reads, texts bounded as the router bounds them.
TServerMessageRecord ServerMessageRecord(const CS_SERVERMSG& msg);
