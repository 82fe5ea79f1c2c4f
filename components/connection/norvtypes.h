// Types every component shares: object names, small sets of enumeration values, events, and the
// message switches and stored texts of the components that report server messages.
#pragma once

#include "openclient.h"

#include <QObject>
#include <QString>

#include <algorithm>
#include <cstddef>
#include <functional>
#include <initializer_list>

// Object names (servers, users, databases, contexts, tables, components) hold at most 30
// characters; setters cut longer values silently.
constexpr int kNorvObjectnameLength = 30;
inline QString NorvObjectname(const QString& value) { return value.left(kNorvObjectnameLength); }

// The server kinds a connection tells apart. A connection's Rdbms property keeps the text it was
// given; the components compare the kind. Any text other than the two names is Other: such a
// server gets neither kind's treatment (no Sybase-only options, no cancel on closing results).
enum class TRdbms { SybaseSqlServer, SqlAnywhere, Other };

// The kind's name as the Rdbms property and the login dialog show it; empty for Other.
inline QString RdbmsText(TRdbms kind) {
  switch (kind) {
    case TRdbms::SybaseSqlServer: return QStringLiteral("Sybase SQL Server");
    case TRdbms::SqlAnywhere: return QStringLiteral("SQLAnywhere");
    case TRdbms::Other: break;
  }
  return {};
}
// The kind a text names, compared exactly (case-sensitive).
inline TRdbms RdbmsFromText(const QString& text) {
  for (TRdbms kind : {TRdbms::SybaseSqlServer, TRdbms::SqlAnywhere})
    if (text == RdbmsText(kind)) return kind;
  return TRdbms::Other;
}

// A text field of a message record (CS_SERVERMSG, CS_CLIENTMSG): bounded by its array, by its
// length field and by `cap`, and read as UTF-8, the client character set.
template <size_t N>
QString MessageField(const CS_CHAR (&field)[N], CS_INT length, int cap) {
  const auto inArray = std::find(field, field + N, '\0') - field;
  auto len = length >= 0 ? std::min<std::ptrdiff_t>(length, inArray) : inArray;
  len = std::min<std::ptrdiff_t>(len, cap);
  return QString::fromUtf8(field, static_cast<qsizetype>(len));
}

// A set of values of a small enumeration (at most 32 values), as the components' set properties.
template <typename E>
class TSet {
 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> values) {
    for (E v : values) bits_ |= Bit(v);
  }
  constexpr bool Contains(E v) const { return (bits_ & Bit(v)) != 0; }
  constexpr TSet& Include(E v) {
    bits_ |= Bit(v);
    return *this;
  }
  constexpr TSet& Exclude(E v) {
    bits_ &= ~Bit(v);
    return *this;
  }
  constexpr bool Empty() const { return bits_ == 0; }
  friend constexpr bool operator==(TSet a, TSet b) { return a.bits_ == b.bits_; }

 private:
  static constexpr unsigned Bit(E v) { return 1u << static_cast<unsigned>(v); }
  unsigned bits_ = 0;
};

enum TMsgDialog { mdEnhMsg, mdEnhErr };
using TMsgDialogs = TSet<TMsgDialog>;
enum TShowDbMessage { smDbMsg, smDbErr };
using TShowDbMessages = TSet<TShowDbMessage>;

// Events carry the component that fires them; an empty function is an unassigned event.
using TNotifyEvent = std::function<void(QObject* Sender)>;
using TOnDbErrorEvent = TNotifyEvent;
using TAfterDbErrorEvent = TNotifyEvent;
using TOnDbMessageEvent = TNotifyEvent;
using TAfterDbMessageEvent = TNotifyEvent;

// What a component that reports server messages carries: its switches, its events and the last
// texts the message router stored for the event handlers to read.
class TDbMessageReporter {
 public:
  virtual ~TDbMessageReporter() = default;

  TMsgDialogs MsgDialogs() const { return msgDialogs_; }
  void SetMsgDialogs(TMsgDialogs value) { msgDialogs_ = value; }
  TShowDbMessages ShowDbMessages() const { return showDbMessages_; }
  void SetShowDbMessages(TShowDbMessages value) { showDbMessages_ = value; }

  QString DbErrorText() const { return dbErrorText_; }
  const CS_SERVERMSG& DbServerMsg() const { return dbServerMsg_; }
  QString DbMessageText() const { return dbMessageText_; }

  // The router stores through these; a component may watch its own stores.
  virtual void SetDbErrorText(const QString& value) { dbErrorText_ = value; }
  virtual void SetDbServerMsg(const CS_SERVERMSG& value) { dbServerMsg_ = value; }
  virtual void SetDbMessageText(const QString& value) { dbMessageText_ = value; }

  TOnDbErrorEvent OnDbError;
  TAfterDbErrorEvent AfterDbError;
  TOnDbMessageEvent OnDbMessage;
  TAfterDbMessageEvent AfterDbMessage;

 protected:
  explicit TDbMessageReporter(TShowDbMessages show = {smDbMsg, smDbErr}) : showDbMessages_(show) {}

 private:
  TMsgDialogs msgDialogs_;
  TShowDbMessages showDbMessages_;
  QString dbErrorText_;
  CS_SERVERMSG dbServerMsg_{};
  QString dbMessageText_;
};
