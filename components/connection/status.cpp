#include "status.h"

#include "norvexception.h"

void CheckStatus(CS_RETCODE rc, const QString& messageOrNumber) {
  if (rc != CS_SUCCEED) throw ENorvException(messageOrNumber);
}
