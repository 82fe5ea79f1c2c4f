// The exception hierarchy of the components.
//
// `Exception` is the common base (a message text). `ENorvException` reports a component's own
// failures, `EDatabaseError` lookup failures and server errors the message router raises, and
// `EAbort` ends an action silently after its error has already been shown.
#pragma once

#include <QString>

#include <exception>
#include <string>

class Exception : public std::exception {
 public:
  explicit Exception(QString message);
  const QString& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return utf8_.c_str(); }

 private:
  QString message_;
  std::string utf8_;
};

class ENorvException : public Exception {
 public:
  // A string that is wholly a decimal integer N selects entry N of the standard message table;
  // any other string is the message itself.
  explicit ENorvException(const QString& messageOrNumber);

  static constexpr int kStandardMessageCount = 25;
  // Entry `index` of the standard message table; empty outside it.
  static QString StandardMessage(int index);
};

class EDatabaseError : public Exception {
 public:
  using Exception::Exception;
};

// The application shows nothing for it.
class EAbort : public Exception {
 public:
  EAbort();
};
