#include "norvcontext.h"

#include "norvexception.h"
#include "presenter.h"
#include "status.h"

#include <QByteArray>

#include <algorithm>
#include <array>

namespace {

std::vector<TNorvContext*>& Contexts() {
  static std::vector<TNorvContext*> contexts;
  return contexts;
}

constexpr int kMaxHandlerText = 1024;
constexpr int kVersionBuffer = 1025;
constexpr int kLocaleNameBuffer = 31;

bool ShownServerNumber(CS_INT number) {
  static constexpr std::array<CS_INT, 19> kAlways = {3612, 3613, 3614, 3615, 6201, 6203, 6215,
                                                     6217, 6219, 6223, 6225, 6227, 6272, 6273,
                                                     6276, 6278, 6282, 6286, 6289};
  if (std::find(kAlways.begin(), kAlways.end(), number) != kAlways.end()) return true;
  return (number >= 7309 && number <= 7326) || (number >= 7337 && number <= 7341) ||
         (number >= 7349 && number <= 7362);
}

QString ClientMessageText(const CS_CLIENTMSG& msg) {
  QString text = QStringLiteral("Message: ") + QString::number(CS_NUMBER(msg.msgnumber)) +
                 QStringLiteral(",  Severity: ") + QString::number(msg.severity) +
                 QStringLiteral(",  Origin: ") + QString::number(CS_ORIGIN(msg.msgnumber)) +
                 QStringLiteral("\r\r") +
                 MessageField(msg.msgstring, msg.msgstringlen, kMaxHandlerText);
  const QString os = MessageField(msg.osstring, msg.osstringlen, kMaxHandlerText);
  if (!os.isEmpty()) text += QStringLiteral("\rOS: ") + os;
  return text;
}

bool ShownClientMessage(const CS_CLIENTMSG& msg) {
  return msg.severity >= 1 && msg.severity < 100000 && CS_NUMBER(msg.msgnumber) != 44;
}

}  // namespace

TNorvContext::TNorvContext(QObject* owner) : QObject(owner) {
  // Only stored: the library keeps its own interfaces file until IniFile is assigned.
  iniFile_ = qEnvironmentVariable("SYBASE") + QStringLiteral("/INI/SQL.INI");
  InitLibrary();
}

TNorvContext::~TNorvContext() {
  auto& all = Contexts();
  all.erase(std::remove(all.begin(), all.end(), this), all.end());
  if (locale_)
    oc::IgnoreStatus(oc::cs_loc_drop(context_.get(), locale_),
                     "a destructor cannot report; the handle is emptied either way");
  // The library context itself goes with `context_`; connections still open on it keep it
  // alive until they are dropped.
}

void TNorvContext::InitLibrary() {
  CheckStatus(oc::cs_ctx_alloc(CS_VERSION_100, context_), "0");
  oc::Context* ctx = context_.get();
  CheckStatus(oc::ct_init(ctx, CS_VERSION_100), "1");
  CheckStatus(oc::cs_loc_alloc(ctx, locale_), "2");
  std::array<CS_CHAR, 32> charset{};
  CS_INT outlen = 0;
  CheckStatus(oc::cs_locale(ctx, CS_GET, locale_.get(), CS_SYB_CHARSET, charset.data(),
                            static_cast<CS_INT>(charset.size()), &outlen),
              "24");
  charset.back() = '\0';
  charSet_ = QString::fromLatin1(charset.data());
  CheckStatus(oc::ct_callback(ctx, nullptr, CS_SET, CS_SERVERMSG_CB,
                              reinterpret_cast<CS_VOID*>(&ServerMessageHandler)),
              "3");
  CheckStatus(oc::ct_callback(ctx, nullptr, CS_SET, CS_CLIENTMSG_CB,
                              reinterpret_cast<CS_VOID*>(&ClientMessageHandler)),
              "4");
  CheckStatus(oc::ct_callback(ctx, nullptr, CS_SET, CS_COMPLETION_CB,
                              reinterpret_cast<CS_VOID*>(&CompletionHandler)),
              "5");
  oc::IgnoreStatus(
      oc::cs_config(ctx, CS_SET, CS_MESSAGE_CB, reinterpret_cast<CS_VOID*>(&CsLibMessageHandler),
                    CS_UNUSED, nullptr),
      "without it CS-Library errors go unshown, which is no reason to fail");
  CS_INT timeOut = timeOut_;
  oc::IgnoreStatus(oc::ct_config(ctx, CS_SET, CS_TIMEOUT, &timeOut, CS_UNUSED, nullptr),
                   "the library keeps its own time-out; TimeOut reads back what it has");
  ApplyLoginTimeOut();
  // The limit was stored before the context existed; hand it over now.
  CS_INT maxConnect = maxConnect_;
  oc::IgnoreStatus(oc::ct_config(ctx, CS_SET, CS_MAX_CONNECT, &maxConnect, CS_UNUSED, nullptr),
                   "MaxConnect reads back what the library has");
}

const std::vector<TNorvContext*>& TNorvContext::Registry() { return Contexts(); }

void TNorvContext::SetName(const QString& name) {
  setObjectName(name);
  auto& all = Contexts();
  if (std::find(all.begin(), all.end(), this) == all.end()) all.push_back(this);
  contextName_ = all.size() == 1 ? QStringLiteral("default")
                                 : QStringLiteral("context") + QString::number(all.size());
}

QString TNorvContext::NorvVersion() const {
  std::array<CS_CHAR, kVersionBuffer> buffer{};
  CS_INT outlen = 0;
  if (oc::ct_config(context_.get(), CS_GET, CS_VER_STRING, buffer.data(),
                    static_cast<CS_INT>(buffer.size()), &outlen) != CS_SUCCEED)
    return {};
  buffer.back() = '\0';
  return QString::fromLatin1(buffer.data());
}

void TNorvContext::SetIniFile(const QString& value) {
  if (!std::any_of(value.begin(), value.end(), [](QChar c) { return c > u' '; })) return;
  QByteArray path = value.toLocal8Bit();
  oc::IgnoreStatus(
      oc::ct_config(context_.get(), CS_SET, CS_IFILE, path.data(), CS_NULLTERM, nullptr),
      "the file is only stored; a name the library rejects fails at connect");
  iniFile_ = value;
}

void TNorvContext::SetCharSet(const QString& value) {
  CheckStatus(WriteLocale(CS_SYB_CHARSET, value),
              QStringLiteral("cs_locale Failed. Invalid CS_SYB_CHARSET"));
  charSet_ = value;
}

QString TNorvContext::ReadLocale(CS_INT type) {
  std::array<CS_CHAR, kLocaleNameBuffer> buffer{};
  CS_INT outlen = 0;
  if (oc::cs_locale(context_.get(), CS_GET, locale_.get(), type, buffer.data(),
                    static_cast<CS_INT>(buffer.size()), &outlen) != CS_SUCCEED)
    return {};
  buffer.back() = '\0';
  return NorvObjectname(QString::fromLatin1(buffer.data()));
}

CS_RETCODE TNorvContext::WriteLocale(CS_INT type, const QString& value) {
  QByteArray name = value.toLatin1();
  return oc::cs_locale(context_.get(), CS_SET, locale_.get(), type, name.data(), CS_NULLTERM,
                       nullptr);
}

QString TNorvContext::Language() {
  language_ = ReadLocale(CS_SYB_LANG);
  return language_;
}

void TNorvContext::SetLanguage(const QString& value) {
  const QString name = NorvObjectname(value);
  CheckStatus(WriteLocale(CS_SYB_LANG, name),
              QStringLiteral("cs_locale Failed. Invalid CS_SYB_LANG"));
  language_ = name;
}

QString TNorvContext::SortOrder() {
  sortOrder_ = ReadLocale(CS_SYB_SORTORDER);
  return sortOrder_;
}

void TNorvContext::SetSortOrder(const QString& value) {
  const QString name = NorvObjectname(value);
  CheckStatus(WriteLocale(CS_SYB_SORTORDER, name),
              QStringLiteral("cs_locale Failed. Invalid CS_SYB_SORTORDER"));
  sortOrder_ = name;
}

int TNorvContext::MaxConnect() const {
  CS_INT value = maxConnect_;
  if (oc::ct_config(context_.get(), CS_GET, CS_MAX_CONNECT, &value, CS_UNUSED, nullptr) !=
      CS_SUCCEED)
    return maxConnect_;
  return value;
}

void TNorvContext::SetMaxConnect(int value) {
  if (value < 1) throw ENorvException("6");
  maxConnect_ = value;
  CS_INT v = value;
  oc::IgnoreStatus(oc::ct_config(context_.get(), CS_SET, CS_MAX_CONNECT, &v, CS_UNUSED, nullptr),
                   "stored either way; the reader asks the library");
}

int TNorvContext::TimeOut() const {
  CS_INT value = timeOut_;
  if (oc::ct_config(context_.get(), CS_GET, CS_TIMEOUT, &value, CS_UNUSED, nullptr) != CS_SUCCEED)
    return timeOut_;
  return value;
}

void TNorvContext::SetTimeOut(int value) {
  if (value < 1) throw ENorvException("7");
  timeOut_ = value;
  CS_INT v = value;
  oc::IgnoreStatus(oc::ct_config(context_.get(), CS_SET, CS_TIMEOUT, &v, CS_UNUSED, nullptr),
                   "stored either way; the reader asks the library");
  ApplyLoginTimeOut();
}

// The library's login time-out is otherwise none: a host that never answers the connect would
// hold ct_connect until the system gives up (minutes). TimeOut bounds the login as well.
void TNorvContext::ApplyLoginTimeOut() {
  CS_INT v = timeOut_;
  oc::IgnoreStatus(
      oc::ct_config(context_.get(), CS_SET, CS_LOGIN_TIMEOUT, &v, CS_UNUSED, nullptr),
      "without it a connect waits as long as the system lets it, which is no reason to fail");
}

TNorvContext* FindContext(const QString& name) {
  const QString wanted = NorvObjectname(name);
  for (TNorvContext* context : Contexts())
    if (context->ContextName() == wanted) return context;
  return nullptr;
}

oc::Context* FindContextHandle(const QString& name) {
  TNorvContext* context = FindContext(name);
  return context ? context->Handle() : nullptr;
}

CS_RETCODE ServerMessageHandler(oc::Context*, oc::Connection*, CS_SERVERMSG* msg) {
  if (!msg) return CS_SUCCEED;
  const CS_INT number = msg->msgnumber;
  if (number == 2409 || number == 5701) return CS_SUCCEED;
  if (!(msg->severity > 3 || number == 0 || ShownServerNumber(number))) return CS_SUCCEED;
  const QString lineText =
      number == 4002 ? QString() : QStringLiteral("Line: ") + QString::number(msg->line) + u'\r';
  const QString text = QStringLiteral("Message: ") + QString::number(number) +
                       QStringLiteral(",  Severity: ") + QString::number(msg->severity) +
                       QStringLiteral("\r\r") + lineText +
                       MessageField(msg->text, msg->textlen, kMaxHandlerText);
  norv::CurrentPresenter().ShowMessageBox(
      QStringLiteral("SQL Server Message - ") + QString::number(number), text,
      norv::MsgIcon::Error);
  return CS_SUCCEED;
}

CS_RETCODE ClientMessageHandler(oc::Context*, oc::Connection*, CS_CLIENTMSG* msg) {
  if (msg && ShownClientMessage(*msg))
    norv::CurrentPresenter().ShowMessageBox(QStringLiteral("CT-Library error"),
                                            ClientMessageText(*msg), norv::MsgIcon::Error);
  return CS_SUCCEED;
}

CS_RETCODE CsLibMessageHandler(oc::Context* ctx, CS_CLIENTMSG* msg) {
  return ClientMessageHandler(ctx, nullptr, msg);
}

CS_RETCODE CompletionHandler(oc::Connection*, oc::Command*, CS_INT, CS_RETCODE) {
  norv::CurrentPresenter().ShowMessageBox(
      QStringLiteral("CT-Library message"),
      QStringLiteral("cl_completion_handler called. NOT CURRENTLY USED"),
      norv::MsgIcon::Information);
  return CS_SUCCEED;
}
