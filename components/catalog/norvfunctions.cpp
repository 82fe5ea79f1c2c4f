#include "catalog/norvfunctions.h"

#include "query/norvquery.h"

#include <array>

namespace {

// A string argument as a literal in double quotes. A double quote inside the value is doubled,
// so the value can never end the literal early and turn the rest into statement text.
QString Literal(const QString& value) {
  QString doubled = value;
  doubled.replace(QLatin1Char('"'), QStringLiteral("\"\""));
  return QLatin1Char('"') + doubled + QLatin1Char('"');
}

QString Decimal(int n) { return QString::number(n); }

}  // namespace

// ---- EConvertError -----------------------------------------------------------------------------

EConvertError::EConvertError(const QString& text)
    : Exception(QLatin1Char('\'') + text + QStringLiteral("' is not a valid integer value")) {}

// ---- TNorvFunctions ----------------------------------------------------------------------------

TNorvFunctions::TNorvFunctions(QObject* owner)
    : TNorvBase(owner), query_(std::make_unique<TNorvQuery>(this)) {}

// The query goes first, while this component is still whole: it may store texts into it as it
// closes.
TNorvFunctions::~TNorvFunctions() { query_.reset(); }

QString TNorvFunctions::DatePartName(int part) {
  static const std::array<const char*, 11> kNames = {"year",   "quarter",   "month",      "week",
                                                     "day",    "dayofyear", "weekday",    "hour",
                                                     "minute", "second",    "millisecond"};
  if (part < 0 || part >= static_cast<int>(kNames.size())) return QString();
  return QString::fromLatin1(kNames[static_cast<size_t>(part)]);
}

int TNorvFunctions::ToInteger(const QString& text) {
  bool ok = false;
  const int value = text.trimmed().toInt(&ok, 10);
  if (!ok) throw EConvertError(text);
  return value;
}

void TNorvFunctions::RunFunction(bool AsText, QString& Result) {
  TNorvQuery& q = *query_;
  q.SetIsCursor(true);
  q.SetReadOnly(true);
  q.SetTrimResults(true);
  ConfigureQuery(q);
  q.SetMonitor(Monitor());
  q.SetSql(sql_);
  Result.clear();
  q.Execute();
  q.Fetch();
  Result = q.FieldValue(1);
  if (!AsText && Result.trimmed().isEmpty()) Result = QStringLiteral("0");
  while (q.Next()) {
  }
}

int TNorvFunctions::RunInteger(const QString& sql) {
  sql_ = sql;
  QString answer;
  RunFunction(false, answer);
  return ToInteger(answer);
}

void TNorvFunctions::RunText(const QString& sql, QString& Result) {
  sql_ = sql;
  RunFunction(true, Result);
}

int TNorvFunctions::FnColLength(const QString& Table, const QString& Column) {
  return RunInteger(QStringLiteral("SELECT col_length(") + Literal(Table) + QLatin1Char(',') +
                    Literal(Column) + QLatin1Char(')'));
}

void TNorvFunctions::FnColName(int ObjectId, int ColumnId, int DatabaseId, QString& Result) {
  QString sql =
      QStringLiteral("SELECT col_name(") + Decimal(ObjectId) + QLatin1Char(',') + Decimal(ColumnId);
  if (DatabaseId > 0) sql += QLatin1Char(',') + Decimal(DatabaseId);
  RunText(sql + QLatin1Char(')'), Result);
}

void TNorvFunctions::FnDateAdd(int DatePart, int Number, const QString& Date, QString& Result) {
  RunText(QStringLiteral("SELECT dateadd(") + DatePartName(DatePart) + QLatin1Char(',') +
              Decimal(Number) + QLatin1Char(',') + Literal(Date) + QLatin1Char(')'),
          Result);
}

int TNorvFunctions::FnDateDiff(int DatePart, const QString& FirstDate, const QString& SecondDate) {
  return RunInteger(QStringLiteral("SELECT datediff(") + DatePartName(DatePart) + QLatin1Char(',') +
                    Literal(FirstDate) + QLatin1Char(',') + Literal(SecondDate) + QLatin1Char(')'));
}

void TNorvFunctions::FnDateName(int DatePart, const QString& Date, QString& Result) {
  RunText(QStringLiteral("SELECT datename(") + DatePartName(DatePart) + QLatin1Char(',') +
              Literal(Date) + QLatin1Char(')'),
          Result);
}

int TNorvFunctions::FnDatePart(int DatePart, const QString& Date) {
  return RunInteger(QStringLiteral("SELECT datepart(") + DatePartName(DatePart) + QLatin1Char(',') +
                    Literal(Date) + QLatin1Char(')'));
}

int TNorvFunctions::FnDbId(const QString& DatabaseName) {
  // Tested trimmed, written as given.
  if (DatabaseName.trimmed().isEmpty()) return RunInteger(QStringLiteral("SELECT db_id()"));
  return RunInteger(QStringLiteral("SELECT db_id(") + Literal(DatabaseName) + QLatin1Char(')'));
}

void TNorvFunctions::FnDbName(int DatabaseId, QString& Result) {
  if (DatabaseId == 0) return RunText(QStringLiteral("SELECT db_name()"), Result);
  RunText(QStringLiteral("SELECT db_name(") + Decimal(DatabaseId) + QLatin1Char(')'), Result);
}

int TNorvFunctions::FnHexToInt(const QString& Hex) {
  return RunInteger(QStringLiteral("SELECT hextoint(") + Literal(Hex) + QLatin1Char(')'));
}

int TNorvFunctions::FnHostId() { return RunInteger(QStringLiteral("SELECT host_id()")); }

void TNorvFunctions::FnHostName(QString& Result) {
  RunText(QStringLiteral("SELECT host_name()"), Result);
}

void TNorvFunctions::FnIntToHex(int Value, QString& Result) {
  RunText(QStringLiteral("SELECT inttohex(") + Decimal(Value) + QLatin1Char(')'), Result);
}

int TNorvFunctions::FnObjectId(const QString& ObjectName) {
  return RunInteger(QStringLiteral("SELECT object_id(") + Literal(ObjectName) + QLatin1Char(')'));
}

void TNorvFunctions::FnObjectName(int ObjectId, int DatabaseId, QString& Result) {
  QString sql = QStringLiteral("SELECT object_name(") + Decimal(ObjectId);
  if (DatabaseId > 0) sql += QLatin1Char(',') + Decimal(DatabaseId);
  RunText(sql + QLatin1Char(')'), Result);
}

void TNorvFunctions::FnReplicate(const QString& Text, int Count, QString& Result) {
  RunText(QStringLiteral("SELECT replicate(") + Literal(Text) + QLatin1Char(',') + Decimal(Count) +
              QLatin1Char(')'),
          Result);
}

void TNorvFunctions::FnRight(const QString& Text, int Count, QString& Result) {
  RunText(QStringLiteral("SELECT right(") + Literal(Text) + QLatin1Char(',') + Decimal(Count) +
              QLatin1Char(')'),
          Result);
}

void TNorvFunctions::FnShowRole(QString& Result) {
  RunText(QStringLiteral("SELECT show_role()"), Result);
}

void TNorvFunctions::FnStuff(const QString& Text, int Start, const QString& Replacement, int Length,
                             QString& Result) {
  // The server's order: text, start, length, replacement.
  RunText(QStringLiteral("SELECT stuff(") + Literal(Text) + QLatin1Char(',') + Decimal(Start) +
              QLatin1Char(',') + Decimal(Length) + QLatin1Char(',') + Literal(Replacement) +
              QLatin1Char(')'),
          Result);
}

int TNorvFunctions::FnSuserId(const QString& LoginName) {
  const QString arg = LoginName.trimmed().isEmpty() ? QString() : Literal(LoginName);
  return RunInteger(QStringLiteral("SELECT suser_id(") + arg + QLatin1Char(')'));
}

void TNorvFunctions::FnSuserName(const QString& Login, QString& Result) {
  const QString arg = Login.trimmed().isEmpty() ? QString() : Literal(Login);
  RunText(QStringLiteral("SELECT suser_name(") + arg + QLatin1Char(')'), Result);
}

int TNorvFunctions::FnUserId(const QString& UserName) {
  const QString arg = UserName.trimmed().isEmpty() ? QString() : Literal(UserName);
  return RunInteger(QStringLiteral("SELECT user_id(") + arg + QLatin1Char(')'));
}

void TNorvFunctions::FnUserName(int UserId, QString& Result) {
  if (UserId < 1) return RunText(QStringLiteral("SELECT user_name()"), Result);
  RunText(QStringLiteral("SELECT user_name(") + Decimal(UserId) + QLatin1Char(')'), Result);
}
