#include "norvexception.h"

#include <algorithm>
#include <array>
#include <utility>

namespace {

constexpr std::array<const char*, ENorvException::kStandardMessageCount> kStandardMessages = {
    "ctx_alloc Failed",
    "ct_init Failed",
    "cs_loc_alloc Failed",
    "ct_callback Failed for CS_SERVERMSG_CB",
    "ct_callback Failed for CS_CLIENTMSG_CB",
    "ct_callback Failed for CS_COMPLETION_CB",
    "Invalid MaxConnect value",
    "Invalid TimeOut value",
    "ct_con_alloc Failed",
    "ct_con_props CS_ASYNC_NOTIFS Failed",
    "ct_con_props CS_BULK_LOGIN Failed",
    "ct_con_props CS_DIAG_TIMEOUT Failed",
    "ct_con_props CS_EXTRA_INF Failed",
    "ct_con_props CS_HIDDEN_KEYS Failed",
    "ct_con_props CS_LOGIN_STATUS Failed",
    "ct_con_props CS_SEC_ENCRYPTION Failed",
    "ct_con_props CS_SEC_NEGOTIATE Failed",
    "ct_con_props CS_PACKETSIZE Failed",
    "ct_con_props CS_USERNAME Failed",
    "ct_con_props CS_PASSWORD Failed",
    "ct_con_props CS_APPNAME Failed",
    "ct_con_props CS_HOSTNAME Failed",
    "ct_command Failed",
    "ct_send Failed",
    "cs_locale Failed",
};

// The table entry `text` names when the whole text is a decimal number that names one. A number
// outside the table has no entry; the text itself is then the message, which beats throwing from
// inside an exception's constructor.
std::optional<int> TableIndex(const QString& text) {
  bool ok = false;
  const int index = text.toInt(&ok, 10);
  if (ok && !text.isEmpty() && text.front() != u'+' && text.front() != u' ' &&
      text.back() != u' ' && index >= 0 && index < ENorvException::kStandardMessageCount)
    return index;
  return std::nullopt;
}

}  // namespace

Exception::Exception(QString message)
    : message_(std::move(message)), utf8_(message_.toStdString()) {}

ENorvException::ENorvException(const QString& messageOrNumber)
    : Exception(TableIndex(messageOrNumber) ? StandardMessage(*TableIndex(messageOrNumber))
                                            : messageOrNumber),
      tableNumber_(TableIndex(messageOrNumber)) {}

QString ENorvException::StandardMessage(int index) {
  if (index < 0 || index >= kStandardMessageCount) return {};
  return QString::fromLatin1(kStandardMessages[static_cast<size_t>(index)]);
}

EDatabaseError::EDatabaseError(QString message, std::vector<TServerMessageRecord> records)
    : Exception(std::move(message)), records_(std::move(records)) {}

bool EDatabaseError::HasNumber(int number) const noexcept {
  return std::any_of(records_.begin(), records_.end(),
                     [number](const TServerMessageRecord& r) { return r.Number == number; });
}

EAbort::EAbort() : Exception(QStringLiteral("Operation aborted")) {}
