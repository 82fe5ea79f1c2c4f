// What a component does with an Open Client return code, in one of two ways and nowhere else:
// it requires success (CheckStatus: a failure raises the component's own exception with its fixed
// text), or it has no use for the code and says why (oc::IgnoreStatus, in openclient.h).
#pragma once

#include "openclient.h"

#include <QString>

// Raises ENorvException(messageOrNumber) unless `rc` is CS_SUCCEED; a decimal number selects the
// standard message table entry, which the exception then carries as its TableNumber.
void CheckStatus(CS_RETCODE rc, const QString& messageOrNumber);
