#include "messagerouter.h"

#include "component.h"
#include "norvexception.h"
#include "norvtypes.h"
#include "presenter.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace {

constexpr int kMaxServerName = 132;
constexpr int kMaxMessageText = 1024;
const QString kCrLf = QStringLiteral("\r\n");

// How the router treats an owner, by its kind (component.h): whether it stores texts and fires
// events, and whether error texts carry the "Line" line.
struct OwnerKind {
  TDbMessageReporter* reporter = nullptr;  // null: nothing stored, no events
  bool showLine = true;
};

OwnerKind Classify(QObject* owner) {
  const TComponentKind kind = ComponentKind(owner);
  OwnerKind treatment;
  treatment.showLine = RouterShowsLine(kind);
  if (RouterStoresMessages(kind)) treatment.reporter = dynamic_cast<TDbMessageReporter*>(owner);
  return treatment;
}

bool HasVisibleChar(const QString& text) {
  return std::any_of(text.begin(), text.end(), [](QChar c) { return c > u' '; });
}

bool Qualifies(const CS_SERVERMSG& rec, const QString& text) {
  if (rec.msgnumber == 2401 || rec.msgnumber == 2409 || rec.msgnumber == 5701) return false;
  return (rec.severity > 3 && HasVisibleChar(text)) || rec.msgnumber >= 1000;
}

void ClearQueues(oc::Connection* con) {
  if (!con) return;
  oc::IgnoreStatus(oc::ct_diag(con, CS_CLEAR, CS_SERVERMSG_TYPE, CS_UNUSED, nullptr),
                   "fails only on a connection that does not collect inline: nothing queued");
  oc::IgnoreStatus(oc::ct_diag(con, CS_CLEAR, CS_CLIENTMSG_TYPE, CS_UNUSED, nullptr), "as above");
}

void Fire(const TNotifyEvent& event, QObject* owner) {
  if (event) event(owner);
}

void ShowErrorWindow(const QString& errText) {
  norv::CurrentPresenter().Beep();
  norv::CurrentPresenter().ShowMessageWindow(QStringLiteral("CT-Library error"), errText,
                                             norv::PanelColour::Error);
}

void HandleError(oc::Connection* con, QObject* owner, const OwnerKind& kind, const QString& errText,
                 const CS_SERVERMSG& rec, std::vector<TServerMessageRecord> records,
                 bool raiseOnError, bool enhErr, bool showErr) {
  if (kind.reporter) {
    kind.reporter->SetDbErrorText(errText);
    kind.reporter->SetDbServerMsg(rec);
    Fire(kind.reporter->OnDbError, owner);
  }
  ClearQueues(con);
  auto afterError = [&] {
    if (kind.reporter) Fire(kind.reporter->AfterDbError, owner);
  };
  if (raiseOnError) {
    if (enhErr) {
      if (showErr) ShowErrorWindow(errText);
      afterError();
      throw EAbort();
    }
    afterError();
    if (showErr) throw EDatabaseError(errText, std::move(records));
    throw EAbort();
  }
  if (showErr) {
    if (enhErr)
      ShowErrorWindow(errText);
    else
      norv::CurrentPresenter().ShowMessageBox(QStringLiteral("CT-Library error"), errText,
                                              norv::MsgIcon::Error);
  }
  afterError();
}

// The records of an error: the one it reports, then every later error of the same step (severity
// above 10), in queue order. Reading them shows nothing; they travel with the exception for a
// program to inspect.
std::vector<TServerMessageRecord> ErrorRecords(oc::Connection* con, const CS_SERVERMSG& first,
                                               CS_INT firstIndex, CS_INT count) {
  std::vector<TServerMessageRecord> records{ServerMessageRecord(first)};
  for (CS_INT index = firstIndex + 1; index <= count; ++index) {
    CS_SERVERMSG rec{};
    if (oc::ct_diag(con, CS_GET, CS_SERVERMSG_TYPE, index, &rec) != CS_SUCCEED) continue;
    if (rec.severity > 10 && Qualifies(rec, MessageField(rec.text, rec.textlen, kMaxMessageText)))
      records.push_back(ServerMessageRecord(rec));
  }
  return records;
}

}  // namespace

TServerMessageRecord ServerMessageRecord(const CS_SERVERMSG& msg) {
  TServerMessageRecord record;
  record.Number = msg.msgnumber;
  record.Severity = msg.severity;
  record.State = msg.state;
  record.Line = msg.line;
  record.Server = MessageField(msg.svrname, msg.svrnlen, kMaxServerName);
  record.Procedure = MessageField(msg.proc, msg.proclen, kMaxServerName);
  record.Text = MessageField(msg.text, msg.textlen, kMaxMessageText);
  return record;
}

void HandleDbMessages(oc::Connection* con, QObject* owner, bool RaiseOnError, bool EnhErr,
                      bool EnhMsg, bool ShowMsg, bool ShowErr) {
  const OwnerKind kind = Classify(owner);

  // A connection that does not collect inline answers no count: nothing to report then.
  CS_INT serverCount = 0;
  CS_INT clientCount = 0;
  if (con) {
    if (oc::ct_diag(con, CS_STATUS, CS_SERVERMSG_TYPE, CS_UNUSED, &serverCount) != CS_SUCCEED)
      serverCount = 0;
    // Client messages are not reported here; the clearing below discards them.
    oc::IgnoreStatus(oc::ct_diag(con, CS_STATUS, CS_CLIENTMSG_TYPE, CS_UNUSED, &clientCount),
                     "the count is only asked for; the clearing below discards them");
  }

  QString msgText;
  for (CS_INT index = 1; index <= serverCount; ++index) {
    CS_SERVERMSG rec{};
    if (oc::ct_diag(con, CS_GET, CS_SERVERMSG_TYPE, index, &rec) != CS_SUCCEED) continue;
    const QString text = MessageField(rec.text, rec.textlen, kMaxMessageText);
    if (!Qualifies(rec, text)) continue;
    const QString server = MessageField(rec.svrname, rec.svrnlen, kMaxServerName);
    const QString lineText = kind.showLine && rec.msgnumber != 4002
                                 ? QStringLiteral("Line     : ") + QString::number(rec.line) + kCrLf
                                 : QString();
    if (rec.severity > 10) {
      const QString errText = QStringLiteral("Server   : ") + server + kCrLf +
                              QStringLiteral("Message  : ") + QString::number(rec.msgnumber) +
                              kCrLf + QStringLiteral("Severity : ") +
                              QString::number(rec.severity) + kCrLf + lineText + kCrLf + text;
      HandleError(con, owner, kind, errText, rec, ErrorRecords(con, rec, index, serverCount),
                  RaiseOnError, EnhErr, ShowErr);
      return;
    }
    if (msgText.isEmpty()) msgText = QStringLiteral("Server   : ") + server + kCrLf;
    msgText += text;
  }

  ClearQueues(con);

  if (!HasVisibleChar(msgText)) return;
  if (kind.reporter) {
    kind.reporter->SetDbMessageText(msgText);
    Fire(kind.reporter->OnDbMessage, owner);
  }
  if (ShowMsg) {
    if (EnhMsg)
      norv::CurrentPresenter().ShowMessageWindow(QStringLiteral("CT-Library message"), msgText,
                                                 norv::PanelColour::ButtonFace);
    else
      norv::CurrentPresenter().ShowMessageBox(QStringLiteral("CT-Library message"), msgText,
                                              norv::MsgIcon::Information);
  }
  if (kind.reporter) Fire(kind.reporter->AfterDbMessage, owner);
}
