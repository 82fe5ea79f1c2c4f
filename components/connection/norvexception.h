// The exception hierarchy of the components.
//
// `Exception` is the common base (a message text). `ENorvException` reports a component's own
// failures, `EDatabaseError` lookup failures and server errors the message router raises, and
// `EAbort` ends an action silently after its error has already been shown.
//
// The message is what a user is shown and never changes once built. What a program needs beyond
// it travels beside it: the standard message table entry of an ENorvException, the server's
// message records of an EDatabaseError, and context lines that each layer may add as the error
// rises (which component, which statement).
#pragma once

#include <QString>
#include <QStringList>

#include <exception>
#include <optional>
#include <string>
#include <vector>

class Exception : public std::exception {
 public:
  explicit Exception(QString message);
  const QString& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return utf8_.c_str(); }

  // Lines added on the way up, innermost first; Message() and what() stay as built.
  const QStringList& Context() const noexcept { return context_; }
  void AddContext(const QString& line) { context_ << line; }

 private:
  QString message_;
  std::string utf8_;
  QStringList context_;
};

class ENorvException : public Exception {
 public:
  // A string that is wholly a decimal integer N selects entry N of the standard message table;
  // any other string is the message itself.
  explicit ENorvException(const QString& messageOrNumber);

  static constexpr int kStandardMessageCount = 25;
  // Entry `index` of the standard message table; empty outside it.
  static QString StandardMessage(int index);

  // The table entry the message was taken from; none for a free text.
  std::optional<int> TableNumber() const noexcept { return tableNumber_; }

 private:
  std::optional<int> tableNumber_;
};

// One server message as the server sent it (the fields of a CS_SERVERMSG a program reads).
struct TServerMessageRecord {
  int Number = 0;
  int Severity = 0;
  int State = 0;
  int Line = 0;
  QString Server;
  QString Procedure;  // empty outside a stored procedure
  QString Text;
  friend bool operator==(const TServerMessageRecord&, const TServerMessageRecord&) = default;
};

// Message numbers a program commonly acts on.
namespace ServerMessage {
constexpr int kDeadlock = 1205;
constexpr int kDuplicateKey = 2601;
}  // namespace ServerMessage

class EDatabaseError : public Exception {
 public:
  // `records`: the server messages that make up the error, the one the message reports first.
  explicit EDatabaseError(QString message, std::vector<TServerMessageRecord> records = {});

  // Empty for an error the server did not report (a lookup, "Command failed" without a message).
  const std::vector<TServerMessageRecord>& Records() const noexcept { return records_; }
  // The number of the first record, 0 without records.
  int Number() const noexcept { return records_.empty() ? 0 : records_.front().Number; }
  bool HasNumber(int number) const noexcept;

 private:
  std::vector<TServerMessageRecord> records_;
};

// The application shows nothing for it.
class EAbort : public Exception {
 public:
  EAbort();
};
