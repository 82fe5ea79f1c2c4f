#include "dataset/framework/field.h"

#include "dataset/framework/dataset.h"

#include "connection/norvexception.h"

#include <QLocale>

#include <cmath>
#include <cstring>
#include <limits>

// ---- Field definitions ----------------------------------------------------------------------

TFieldDef& TFieldDefs::Add(const QString& name, TFieldType type, int size, bool required,
                           int fieldNo) {
  defs_.push_back({name, type, size, required, fieldNo > 0 ? fieldNo : Count() + 1});
  return defs_.back();
}

int TFieldDefs::IndexOf(const QString& name) const {
  for (int i = 0; i < Count(); ++i)
    if (defs_[static_cast<size_t>(i)].Name.compare(name, Qt::CaseInsensitive) == 0) return i;
  return -1;
}

const TFieldDef* TFieldDefs::Find(const QString& name) const {
  const int i = IndexOf(name);
  return i < 0 ? nullptr : &defs_[static_cast<size_t>(i)];
}

// ---- Field list -----------------------------------------------------------------------------

TField* TFields::FindField(const QString& name) const {
  for (TField* field : fields_)
    if (field->FieldName().compare(name, Qt::CaseInsensitive) == 0) return field;
  return nullptr;
}

TField* TFields::FieldByName(const QString& name) const {
  if (TField* field = FindField(name)) return field;
  throw EDatabaseError(QStringLiteral("Field '%1' not found").arg(name));
}

TField* TFields::FieldByNumber(int fieldNo) const {
  for (TField* field : fields_)
    if (field->FieldNo() == fieldNo) return field;
  return nullptr;
}

int TFields::IndexOf(const TField* field) const {
  for (size_t i = 0; i < fields_.size(); ++i)
    if (fields_[i] == field) return static_cast<int>(i);
  return -1;
}

TField* CreateFieldOfType(TFieldType type, QObject* owner) {
  switch (type) {
    case ftString: return new TStringField(owner);
    case ftFixedChar: {
      auto* field = new TStringField(owner);
      field->SetDataType(ftFixedChar);
      return field;
    }
    case ftSmallint: return new TSmallintField(owner);
    case ftInteger: return new TIntegerField(owner);
    case ftWord: return new TWordField(owner);
    case ftAutoInc: return new TAutoIncField(owner);
    case ftBoolean: return new TBooleanField(owner);
    case ftFloat: return new TFloatField(owner);
    case ftCurrency: return new TCurrencyField(owner);
    case ftBCD: return new TBCDField(owner);
    case ftDate: return new TDateField(owner);
    case ftTime: return new TTimeField(owner);
    case ftDateTime: return new TDateTimeField(owner);
    case ftBytes: return new TBytesField(owner);
    case ftVarBytes: return new TVarBytesField(owner);
    case ftBlob: return new TBlobField(owner);
    case ftMemo: return new TMemoField(owner);
    case ftGraphic: return new TGraphicField(owner);
    case ftUnknown: break;
  }
  return nullptr;
}

// ---- Field ----------------------------------------------------------------------------------

TField::TField(QObject* owner, TFieldType type) : QObject(owner), dataType_(type) {
  if (type == ftString || type == ftFixedChar) size_ = 20;
  if (type == ftBytes || type == ftVarBytes) size_ = 16;
}

TField::~TField() {
  if (dataSet_) dataSet_->RemoveField(this);
}

void TField::SetDataSet(TDataSet* dataSet) {
  if (dataSet == dataSet_) return;
  if (dataSet_) dataSet_->CheckInactive();
  if (dataSet) dataSet->CheckInactive();
  if (dataSet_) dataSet_->RemoveField(this);
  dataSet_ = dataSet;
  if (dataSet_) dataSet_->AddField(this);
}

void TField::Fail(const QString& message) const {
  if (dataSet_) dataSet_->DatabaseError(message);
  throw EDatabaseError(message);
}

int TField::Index() const { return dataSet_ ? dataSet_->Fields().IndexOf(this) : -1; }

void TField::SetSize(int value) {
  if (dataSet_) dataSet_->CheckInactive();
  size_ = value;
}

int TField::DataSize() const {
  switch (dataType_) {
    case ftString:
    case ftFixedChar: return size_ + 1;
    case ftSmallint:
    case ftWord:
    case ftBoolean: return 2;
    case ftInteger:
    case ftAutoInc: return 4;
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftDate:
    case ftTime:
    case ftDateTime: return 8;
    case ftBytes: return size_;
    case ftVarBytes: return size_ + 2;
    default: return 0;
  }
}

bool TField::IsBlob() const {
  return dataType_ == ftBlob || dataType_ == ftMemo || dataType_ == ftGraphic;
}

void TField::SetVisible(bool value) {
  visible_ = value;
  if (dataSet_) dataSet_->DataEvent(deLayoutChange);
}

void TField::SetFieldKind(TFieldKind value) {
  if (dataSet_) dataSet_->CheckInactive();
  fieldKind_ = value;
}

void TField::SetDisplayFormat(const QString& value) {
  displayFormat_ = value;
  if (dataSet_) dataSet_->DataEvent(deLayoutChange);
}

bool TField::CanModify() const {
  return !readOnly_ && dataSet_ && dataSet_->CanModify() && dataType_ != ftAutoInc;
}

int TField::DefaultWidth() const {
  switch (dataType_) {
    case ftString:
    case ftFixedChar: return size_;
    case ftBoolean: return 5;
    case ftDate: return 10;
    case ftTime: return 8;
    case ftDateTime: return 19;
    case ftBytes:
    case ftVarBytes: return 2 + 2 * size_;
    default: return 10;
  }
}

bool TField::GetData(void* buffer) const {
  if (!dataSet_) Fail(QStringLiteral("Field '%1' has no dataset").arg(fieldName_));
  return dataSet_->GetFieldData(const_cast<TField*>(this), buffer);
}

void TField::SetData(const void* buffer) {
  if (!dataSet_) Fail(QStringLiteral("Field '%1' has no dataset").arg(fieldName_));
  dataSet_->SetFieldData(this, buffer);
}

bool TField::IsNull() const { return !GetData(nullptr); }

void TField::Clear() { SetData(nullptr); }

void TField::FocusControl() {
  if (dataSet_) dataSet_->DataEvent(deFocusControl, this);
}

QString TField::ConvertError(const QString& text, const char* kind) const {
  return QStringLiteral("'%1' is not a valid %2 value for field '%3'")
      .arg(text, QLatin1String(kind), DisplayName());
}

void TField::CheckRange(qint64 value) const {
  qint64 low = std::numeric_limits<qint32>::min(), high = std::numeric_limits<qint32>::max();
  if (dataType_ == ftSmallint) low = -32768, high = 32767;
  if (dataType_ == ftWord) low = 0, high = 65535;
  if (dataType_ == ftBoolean) low = 0, high = 1;
  if (value < low || value > high)
    Fail(QStringLiteral("%1 is not a valid value for field '%2'. The allowed range is %3 to %4")
             .arg(value)
             .arg(DisplayName())
             .arg(low)
             .arg(high));
}

// A time alone reads as that time on day 0 of the date-time numbers.
QDateTime TField::DateTimeOf(const QVariant& value) {
  if (value.typeId() == QMetaType::QTime) return NaiveDateTime(QDate(1899, 12, 30), value.toTime());
  return value.toDateTime();
}

// Every reading goes through the native form; Value() is the one place that decodes it.
QVariant TField::Value() const {
  if (IsBlob()) {
    if (!dataSet_) return {};
    auto stream = dataSet_->OpenBlobStream(const_cast<TField*>(this), bmRead);
    if (!stream) return {};
    const QByteArray bytes = stream->readAll();
    if (dataType_ == ftMemo) return QString::fromUtf8(bytes);
    return bytes;
  }
  QByteArray native(DataSize(), '\0');
  if (!GetData(native.data())) return {};
  const char* p = native.constData();
  switch (dataType_) {
    case ftString:
    case ftFixedChar:
      return QString::fromUtf8(p, static_cast<qsizetype>(strnlen(p, size_t(size_))));
    case ftSmallint: {
      qint16 v;
      std::memcpy(&v, p, 2);
      return static_cast<int>(v);
    }
    case ftBoolean: {
      qint16 v;
      std::memcpy(&v, p, 2);
      return v != 0;
    }
    case ftWord: {
      quint16 v;
      std::memcpy(&v, p, 2);
      return static_cast<int>(v);
    }
    case ftInteger:
    case ftAutoInc: {
      qint32 v;
      std::memcpy(&v, p, 4);
      return static_cast<int>(v);
    }
    case ftFloat:
    case ftCurrency:
    case ftBCD: {
      double v;
      std::memcpy(&v, p, 8);
      return v;
    }
    case ftTime: {
      double v;
      std::memcpy(&v, p, 8);
      return QTime::fromMSecsSinceStartOfDay(
          static_cast<int>(static_cast<qint64>(v) % kMSecsPerDay));
    }
    case ftDate:
    case ftDateTime: {
      double v;
      std::memcpy(&v, p, 8);
      return NativeToDateTime(v);
    }
    case ftBytes: return native;
    case ftVarBytes: {
      quint16 len;
      std::memcpy(&len, p, 2);
      return native.mid(2, std::min<int>(len, size_));
    }
    default: return {};
  }
}

// Every writing goes through SetValue, which converts to the native form or refuses.
void TField::SetValue(const QVariant& value) {
  if (value.isNull() || !value.isValid()) return Clear();
  if (IsBlob()) {
    if (!dataSet_) return;
    auto stream = dataSet_->OpenBlobStream(this, bmWrite);
    if (!stream) Fail(QStringLiteral("Field '%1' cannot be modified").arg(DisplayName()));
    stream->write(dataType_ == ftMemo ? value.toString().toUtf8() : value.toByteArray());
    return;
  }
  QByteArray native(DataSize(), '\0');
  char* p = native.data();
  const bool isText = value.typeId() == QMetaType::QString;
  const QString text = value.toString();
  switch (dataType_) {
    case ftString:
    case ftFixedChar: {
      QByteArray utf8 = text.toUtf8();
      // Cut to Size bytes, back to the start of a character that would be split.
      if (utf8.size() > size_) {
        qsizetype n = size_;
        while (n > 0 && (static_cast<unsigned char>(utf8[n]) & 0xC0) == 0x80) --n;
        utf8.truncate(n);
      }
      std::memcpy(p, utf8.constData(), static_cast<size_t>(utf8.size()));
      break;
    }
    case ftSmallint:
    case ftWord:
    case ftInteger:
    case ftAutoInc: {
      qint64 v = 0;
      if (isText) {
        if (!FieldText::ToInteger(text, v)) Fail(ConvertError(text, "integer"));
      } else if (value.typeId() == QMetaType::Double) {
        v = std::llround(value.toDouble());
      } else {
        bool ok = false;
        v = value.toLongLong(&ok);
        if (!ok) Fail(ConvertError(text, "integer"));
      }
      CheckRange(v);
      if (dataType_ == ftInteger || dataType_ == ftAutoInc) {
        const auto v32 = static_cast<qint32>(v);
        std::memcpy(p, &v32, 4);
      } else {
        const auto v16 = static_cast<quint16>(v);
        std::memcpy(p, &v16, 2);
      }
      break;
    }
    case ftBoolean: {
      bool b = false;
      if (isText) {
        if (!FieldText::ToBoolean(text, b)) Fail(ConvertError(text, "boolean"));
      } else {
        b = value.toBool();
      }
      const qint16 v = b ? 1 : 0;
      std::memcpy(p, &v, 2);
      break;
    }
    case ftFloat:
    case ftCurrency:
    case ftBCD: {
      double v = 0;
      bool ok = true;
      if (isText)
        ok = FieldText::ToFloat(text, v);
      else
        v = value.toDouble(&ok);
      if (!ok) Fail(ConvertError(text, "floating point"));
      std::memcpy(p, &v, 8);
      break;
    }
    case ftDate:
    case ftTime:
    case ftDateTime: {
      QDateTime dt;
      if (isText) {
        if (!FieldText::ToDateTime(dataType_, text, dt))
          Fail(ConvertError(text, dataType_ == ftDate   ? "date"
                                  : dataType_ == ftTime ? "time"
                                                        : "date and time"));
      } else if (value.typeId() == QMetaType::QDate) {
        dt = NaiveDateTime(value.toDate(), QTime(0, 0));
      } else if (value.typeId() == QMetaType::QTime) {
        dt = DateTimeOf(value);
      } else {
        dt = value.toDateTime();
        if (!dt.isValid()) Fail(ConvertError(text, "date and time"));
        dt = NaiveDateTime(dt.date(), dt.time());
      }
      if (dataType_ == ftDate) dt.setTime(QTime(0, 0));
      // A time alone keeps day number 0.
      const double v =
          dataType_ == ftTime ? double(dt.time().msecsSinceStartOfDay()) : DateTimeToNative(dt);
      std::memcpy(p, &v, 8);
      break;
    }
    case ftBytes:
    case ftVarBytes: {
      QByteArray bytes = value.toByteArray();
      if (isText && !FieldText::ToBytes(text, bytes)) Fail(ConvertError(text, "binary"));
      bytes = bytes.left(size_);
      const int at = dataType_ == ftVarBytes ? 2 : 0;
      const auto len = static_cast<quint16>(bytes.size());
      if (at) std::memcpy(p, &len, 2);
      std::memcpy(p + at, bytes.constData(), static_cast<size_t>(bytes.size()));
      break;
    }
    default: Fail(QStringLiteral("Field '%1' is of an unknown type").arg(DisplayName()));
  }
  SetData(native.constData());
}

QString TField::AsString() const {
  const QVariant v = Value();
  if (v.isNull()) return {};
  switch (dataType_) {
    case ftFloat:
    case ftCurrency:
    case ftBCD: return FieldText::FromFloat(v.toDouble());
    case ftBoolean: return FieldText::FromBoolean(v.toBool());
    case ftDate:
    case ftTime:
    case ftDateTime: return FieldText::FromDateTime(dataType_, DateTimeOf(v));
    case ftBytes:
    case ftVarBytes:
    case ftBlob:
    case ftGraphic: return FieldText::FromBytes(v.toByteArray());
    default: return v.toString();
  }
}

void TField::SetAsString(const QString& value) { SetValue(value); }

int TField::AsInteger() const {
  const QVariant v = Value();
  if (v.isNull()) return 0;
  switch (dataType_) {
    case ftSmallint:
    case ftWord:
    case ftInteger:
    case ftAutoInc:
    case ftBoolean: return v.toInt();
    case ftFloat:
    case ftCurrency:
    case ftBCD: return static_cast<int>(std::llround(v.toDouble()));
    default: {
      qint64 n = 0;
      const QString text = AsString();
      if (!FieldText::ToInteger(text, n) || n < std::numeric_limits<int>::min() ||
          n > std::numeric_limits<int>::max())
        Fail(ConvertError(text, "integer"));
      return static_cast<int>(n);
    }
  }
}

void TField::SetAsInteger(int value) { SetValue(value); }

double TField::AsFloat() const {
  const QVariant v = Value();
  if (v.isNull()) return 0;
  switch (dataType_) {
    case ftDate:
    case ftTime:
    case ftDateTime: return DateTimeToNumber(DateTimeOf(v));
    case ftString:
    case ftFixedChar:
    case ftMemo: {
      double d = 0;
      if (!FieldText::ToFloat(v.toString(), d)) Fail(ConvertError(v.toString(), "floating point"));
      return d;
    }
    case ftBytes:
    case ftVarBytes:
    case ftBlob:
    case ftGraphic: Fail(ConvertError(AsString(), "floating point"));
    default: return v.toDouble();
  }
}

void TField::SetAsFloat(double value) {
  if (dataType_ == ftDate || dataType_ == ftTime || dataType_ == ftDateTime)
    return SetValue(NumberToDateTime(value));
  SetValue(value);
}

QDateTime TField::AsDateTime() const {
  const QVariant v = Value();
  if (v.isNull()) return {};
  switch (dataType_) {
    case ftDate:
    case ftTime:
    case ftDateTime: return DateTimeOf(v);
    case ftString:
    case ftFixedChar:
    case ftMemo: {
      QDateTime dt;
      if (!FieldText::ToDateTime(ftDateTime, v.toString(), dt))
        Fail(ConvertError(v.toString(), "date and time"));
      return dt;
    }
    default: Fail(ConvertError(AsString(), "date and time"));
  }
}

void TField::SetAsDateTime(const QDateTime& value) {
  if (dataType_ == ftString || dataType_ == ftFixedChar || dataType_ == ftMemo)
    return SetValue(FieldText::FromDateTime(ftDateTime, value));
  SetValue(value);
}

bool TField::AsBoolean() const {
  const QVariant v = Value();
  if (v.isNull()) return false;
  if (dataType_ == ftString || dataType_ == ftFixedChar || dataType_ == ftMemo) {
    bool b = false;
    if (!FieldText::ToBoolean(v.toString(), b)) Fail(ConvertError(v.toString(), "boolean"));
    return b;
  }
  if (dataType_ == ftDate || dataType_ == ftTime || dataType_ == ftDateTime || IsBlob() ||
      dataType_ == ftBytes || dataType_ == ftVarBytes)
    Fail(ConvertError(AsString(), "boolean"));
  return v.toDouble() != 0;
}

void TField::SetAsBoolean(bool value) {
  if (dataType_ == ftString || dataType_ == ftFixedChar || dataType_ == ftMemo)
    return SetValue(FieldText::FromBoolean(value));
  SetValue(value);
}

QByteArray TField::AsBytes() const {
  const QVariant v = Value();
  if (v.isNull()) return {};
  if (v.typeId() == QMetaType::QByteArray) return v.toByteArray();
  return AsString().toUtf8();
}

void TField::SetAsBytes(const QByteArray& value) { SetValue(value); }

QString TField::Text() const {
  QString text = AsString();
  if (OnGetText) OnGetText(const_cast<TField*>(this), text, false);
  return text;
}

void TField::SetText(const QString& value) {
  if (OnSetText)
    OnSetText(this, value);
  else
    SetAsString(value);
}

QString TField::DisplayText() const {
  QString text = FormatDisplay();
  if (OnGetText) OnGetText(const_cast<TField*>(this), text, true);
  return text;
}

// DisplayFormat for numbers: the count of digit places after the point sets the decimals, a
// comma before it groups thousands.
static QString FormatNumber(double value, const QString& pattern) {
  const int point = pattern.indexOf(QLatin1Char('.'));
  int decimals = 0;
  if (point >= 0)
    for (int i = point + 1; i < pattern.size() && (pattern[i] == '0' || pattern[i] == '#'); ++i)
      ++decimals;
  const bool group = pattern.left(point < 0 ? pattern.size() : point).contains(QLatin1Char(','));
  QLocale c = QLocale::c();
  c.setNumberOptions(group ? QLocale::NumberOptions() : QLocale::OmitGroupSeparator);
  return c.toString(value, 'f', decimals);
}

QString TField::FormatDisplay() const {
  const QVariant v = Value();
  if (v.isNull()) return {};
  switch (dataType_) {
    case ftSmallint:
    case ftWord:
    case ftInteger:
    case ftAutoInc:
    case ftFloat:
    case ftCurrency:
    case ftBCD:
      if (!displayFormat_.isEmpty()) return FormatNumber(v.toDouble(), displayFormat_);
      if (dataType_ == ftCurrency) return FormatNumber(v.toDouble(), QStringLiteral("0.00"));
      if (dataType_ == ftBCD) return FormatNumber(v.toDouble(), QStringLiteral("0.0000"));
      return AsString();
    case ftDate:
    case ftTime:
    case ftDateTime:
      if (!displayFormat_.isEmpty()) return QLocale::c().toString(DateTimeOf(v), displayFormat_);
      return AsString();
    case ftMemo:
    case ftBlob:
    case ftGraphic: return QStringLiteral("(%1)").arg(FieldTypeName(dataType_).toUpper());
    default: return AsString();
  }
}
