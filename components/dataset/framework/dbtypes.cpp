#include "dataset/framework/dbtypes.h"

#include <QLocale>
#include <QTimeZone>

#include <cctype>

QString FieldTypeName(TFieldType type) {
  static const char* const names[] = {"Unknown", "String",   "Smallint", "Integer",  "Word",
                                      "Boolean", "Float",    "Currency", "BCD",      "Date",
                                      "Time",    "DateTime", "Bytes",    "VarBytes", "AutoInc",
                                      "Blob",    "Memo",     "Graphic",  "FixedChar"};
  return QString::fromLatin1(names[type]);
}

QDateTime NaiveDateTime(QDate date, QTime time) { return QDateTime(date, time, Qt::UTC); }

double DateTimeToNative(const QDateTime& value) {
  // QDate's Julian day of 0001-01-01 is 1721426; that day is day 1 of the origin.
  const qint64 day = value.date().toJulianDay() - 1721425;
  return static_cast<double>(day * kMSecsPerDay + value.time().msecsSinceStartOfDay());
}

QDateTime NativeToDateTime(double msecs) {
  const auto total = static_cast<qint64>(msecs);
  const qint64 day = total / kMSecsPerDay;
  const auto ms = static_cast<int>(total % kMSecsPerDay);
  const QDate date = day > 0 ? QDate::fromJulianDay(day + 1721425) : QDate();
  return NaiveDateTime(date, QTime::fromMSecsSinceStartOfDay(ms));
}

TDateTime DateTimeToNumber(const QDateTime& value) {
  // Whole days and the fraction apart, so the day count costs the fraction no precision.
  const qint64 day = value.date().toJulianDay() - 1721425 - kDateDelta;
  return static_cast<double>(day) +
         static_cast<double>(value.time().msecsSinceStartOfDay()) / kMSecsPerDay;
}

QDateTime NumberToDateTime(TDateTime value) {
  return NativeToDateTime((value + kDateDelta) * kMSecsPerDay + 0.5);
}

namespace FieldText {

QString FromFloat(double value) {
  return QLocale::c().toString(value, 'g', QLocale::FloatingPointShortest);
}

QString FromDateTime(TFieldType type, const QDateTime& value) {
  if (!value.isValid() && type != ftTime) return {};
  const bool ms = value.time().msec() != 0;
  const QString date = QStringLiteral("yyyy-MM-dd");
  const QString time = ms ? QStringLiteral("hh:mm:ss.zzz") : QStringLiteral("hh:mm:ss");
  switch (type) {
    case ftDate: return value.date().toString(date);
    case ftTime: return value.time().toString(time);
    default: return value.toString(date + QLatin1Char(' ') + time);
  }
}

QString FromBytes(const QByteArray& value) {
  return QStringLiteral("0x") + QString::fromLatin1(value.toHex());
}

QString FromBoolean(bool value) { return value ? QStringLiteral("True") : QStringLiteral("False"); }

bool ToInteger(const QString& text, qint64& value) {
  bool ok = false;
  value = text.trimmed().toLongLong(&ok, 10);
  return ok;
}

bool ToFloat(const QString& text, double& value) {
  bool ok = false;
  value = QLocale::c().toDouble(text.trimmed(), &ok);
  return ok;
}

bool ToDateTime(TFieldType type, const QString& text, QDateTime& value) {
  const QString t = text.trimmed();
  const QStringList timeForms = {QStringLiteral("hh:mm:ss.zzz"), QStringLiteral("hh:mm:ss"),
                                 QStringLiteral("hh:mm")};
  if (type == ftTime) {
    for (const QString& form : timeForms) {
      const QTime time = QTime::fromString(t, form);
      if (time.isValid()) {
        value = NaiveDateTime(QDate(1899, 12, 30), time);
        return true;
      }
    }
    return false;
  }
  const QDate date = QDate::fromString(t.left(10), QStringLiteral("yyyy-MM-dd"));
  if (!date.isValid()) return false;
  if (t.size() == 10) {
    value = NaiveDateTime(date, QTime(0, 0));
    return true;
  }
  if (type == ftDate || (t[10] != QLatin1Char(' ') && t[10] != QLatin1Char('T'))) return false;
  for (const QString& form : timeForms) {
    const QTime time = QTime::fromString(t.mid(11), form);
    if (time.isValid()) {
      value = NaiveDateTime(date, time);
      return true;
    }
  }
  return false;
}

bool ToBytes(const QString& text, QByteArray& value) {
  QString t = text.trimmed();
  if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) t = t.mid(2);
  if (t.size() % 2 != 0) return false;
  for (QChar c : t)
    if (!std::isxdigit(c.toLatin1())) return false;
  value = QByteArray::fromHex(t.toLatin1());
  return true;
}

bool ToBoolean(const QString& text, bool& value) {
  const QString t = text.trimmed().toLower();
  static const QStringList yes = {"true", "t", "yes", "y", "1"};
  static const QStringList no = {"false", "f", "no", "n", "0"};
  if (yes.contains(t)) return value = true, true;
  if (no.contains(t)) return value = false, true;
  return false;
}

}  // namespace FieldText
