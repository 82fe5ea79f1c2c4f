#include "dataset/framework/params.h"

#include "dataset/framework/field.h"

#include "connection/norvexception.h"

#include <cmath>
#include <limits>

static QString ParamError(const TParam& p, const QString& text, const char* kind) {
  return QStringLiteral("'%1' is not a valid %2 value for parameter '%3'")
      .arg(text, QLatin1String(kind), p.Name());
}

static TFieldType TypeOfValue(const QVariant& value) {
  switch (value.typeId()) {
    case QMetaType::Bool: return ftBoolean;
    case QMetaType::Int:
    case QMetaType::LongLong: return ftInteger;
    case QMetaType::Double: return ftFloat;
    case QMetaType::QDate: return ftDate;
    case QMetaType::QTime: return ftTime;
    case QMetaType::QDateTime: return ftDateTime;
    case QMetaType::QByteArray: return ftVarBytes;
    default: return ftString;
  }
}

void TParam::SetValue(const QVariant& value) {
  value_ = value;
  if (dataType_ == ftUnknown && !value.isNull()) dataType_ = TypeOfValue(value);
}

void TParam::Set(const QVariant& value, TFieldType type) {
  value_ = value;
  if (dataType_ == ftUnknown) dataType_ = type;
}

QString TParam::AsString() const {
  if (IsNull()) return {};
  switch (value_.typeId()) {
    case QMetaType::Double: return FieldText::FromFloat(value_.toDouble());
    case QMetaType::Bool: return FieldText::FromBoolean(value_.toBool());
    case QMetaType::QDateTime:
      return FieldText::FromDateTime(
          dataType_ == ftDate || dataType_ == ftTime ? dataType_ : ftDateTime, value_.toDateTime());
    case QMetaType::QByteArray: return FieldText::FromBytes(value_.toByteArray());
    default: return value_.toString();
  }
}

int TParam::AsInteger() const {
  if (IsNull()) return 0;
  if (value_.typeId() == QMetaType::Double)
    return static_cast<int>(std::llround(value_.toDouble()));
  if (value_.typeId() == QMetaType::Bool) return value_.toBool() ? 1 : 0;
  qint64 n = 0;
  if (!FieldText::ToInteger(AsString(), n) || n < std::numeric_limits<int>::min() ||
      n > std::numeric_limits<int>::max())
    throw EDatabaseError(ParamError(*this, AsString(), "integer"));
  return static_cast<int>(n);
}

double TParam::AsFloat() const {
  if (IsNull()) return 0;
  if (value_.typeId() == QMetaType::QDateTime) return DateTimeToNumber(value_.toDateTime());
  double d = 0;
  if (value_.typeId() == QMetaType::Double || value_.typeId() == QMetaType::Int ||
      value_.typeId() == QMetaType::LongLong || value_.typeId() == QMetaType::Bool)
    return value_.toDouble();
  if (!FieldText::ToFloat(AsString(), d))
    throw EDatabaseError(ParamError(*this, AsString(), "floating point"));
  return d;
}

QDateTime TParam::AsDateTime() const {
  if (IsNull()) return {};
  if (value_.typeId() == QMetaType::QDateTime) return value_.toDateTime();
  if (value_.typeId() == QMetaType::QDate) return NaiveDateTime(value_.toDate(), QTime(0, 0));
  if (value_.typeId() == QMetaType::Double) return NumberToDateTime(value_.toDouble());
  QDateTime dt;
  if (!FieldText::ToDateTime(ftDateTime, AsString(), dt))
    throw EDatabaseError(ParamError(*this, AsString(), "date and time"));
  return dt;
}

bool TParam::AsBoolean() const {
  if (IsNull()) return false;
  if (value_.typeId() == QMetaType::Bool) return value_.toBool();
  if (value_.typeId() == QMetaType::Double || value_.typeId() == QMetaType::Int ||
      value_.typeId() == QMetaType::LongLong)
    return value_.toDouble() != 0;
  bool b = false;
  if (!FieldText::ToBoolean(AsString(), b))
    throw EDatabaseError(ParamError(*this, AsString(), "boolean"));
  return b;
}

void TParam::AssignField(const TField* field) {
  name_ = field->FieldName();
  dataType_ = field->DataType();
  value_ = field->Value();
}

// ---- Parameter list -------------------------------------------------------------------------

TParam& TParams::CreateParam(TFieldType dataType, const QString& name, TParamType paramType) {
  params_.push_back(std::make_unique<TParam>(name, dataType, paramType));
  return *params_.back();
}

TParam* TParams::FindParam(const QString& name) {
  for (auto& p : params_)
    if (p->Name().compare(name, Qt::CaseInsensitive) == 0) return p.get();
  return nullptr;
}

TParam& TParams::ParamByName(const QString& name) {
  if (TParam* p = FindParam(name)) return *p;
  throw EDatabaseError(QStringLiteral("Parameter '%1' not found").arg(name));
}

static bool IsNameChar(QChar c) {
  return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('@') ||
         c == QLatin1Char('#') || c == QLatin1Char('$');
}

QString TParams::ParseSQL(const QString& sql, bool doCreate,
                          const std::function<QString(const QString&, int)>& replace) {
  if (doCreate) Clear();
  QString out;
  out.reserve(sql.size());
  int position = 0;
  const int n = static_cast<int>(sql.size());
  for (int i = 0; i < n;) {
    const QChar c = sql[i];
    // Quoted text and comments are copied whole.
    QString close;
    if (c == '\'' || c == '"') close = c;
    if (c == '[') close = QStringLiteral("]");
    if (c == '-' && i + 1 < n && sql[i + 1] == '-') close = QStringLiteral("\n");
    if (c == '/' && i + 1 < n && sql[i + 1] == '*') close = QStringLiteral("*/");
    if (!close.isEmpty()) {
      int from = i + (close.size() == 2 || close == "\n" ? 2 : 1);
      int end = sql.indexOf(close, from);
      // A doubled quote inside a string is part of it.
      while (end >= 0 && close.size() == 1 && close != "\n" && end + 1 < n &&
             sql[end + 1] == close[0])
        end = sql.indexOf(close, end + 2);
      end = end < 0 ? n : end + static_cast<int>(close.size());
      out += sql.mid(i, end - i);
      i = end;
      continue;
    }
    if (c == ':' && i + 1 < n && sql[i + 1] == ':') {
      out += QLatin1Char(':');
      i += 2;
      continue;
    }
    if (c == ':' && i + 1 < n && IsNameChar(sql[i + 1])) {
      int end = i + 1;
      while (end < n && IsNameChar(sql[end])) ++end;
      const QString name = sql.mid(i + 1, end - i - 1);
      if (doCreate) CreateParam(ftUnknown, name, ptInput);
      out += replace ? replace(name, position) : QStringLiteral("?");
      ++position;
      i = end;
      continue;
    }
    out += c;
    ++i;
  }
  return out;
}
