// The message router: after a component has driven a step of a command on a connection that
// collects its messages inline, it hands the connection here. The router drains the queued server
// messages, builds an error text or one informational text, stores it in the component, fires the
// component's message events and, as its switches say, shows the text or raises.
#pragma once

#include "openclient.h"

#include <QObject>

// Raises EAbort or EDatabaseError for a server error when `RaiseOnError`; returns otherwise.
// The connection's message queues are empty when it returns or raises.
void HandleDbMessages(oc::Connection* con, QObject* owner, bool RaiseOnError, bool EnhErr,
                      bool EnhMsg, bool ShowMsg, bool ShowErr);
