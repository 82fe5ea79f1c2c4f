// Fields and field definitions of the data-set framework.
//
// A field reads and writes its value through its data set's ReadFieldData and WriteFieldData on
// the record buffer of the data set's state; the data set lays its record out as it likes. Each
// kind hands the data set its value in one fixed native form:
//
//   ftString, ftFixedChar        Size + 1 bytes: UTF-8 characters, zero-terminated
//   ftSmallint, ftBoolean        2 bytes: 16-bit signed integer (Booleans 1 or 0)
//   ftWord                       2 bytes: 16-bit unsigned integer
//   ftInteger, ftAutoInc         4 bytes: 32-bit signed integer
//   ftFloat, ftCurrency, ftBCD   8 bytes: 64-bit float
//   ftDate, ftTime, ftDateTime   8 bytes: 64-bit float, milliseconds from the time-stamp origin
//                                (dbtypes.h); a time alone has day number 0 and reads as a
//                                QTime (AsDateTime: that time on 1899-12-30)
//   ftBytes                      Size bytes
//   ftVarBytes                   2-byte length (16-bit unsigned) then Size bytes
//   ftBlob, ftMemo, ftGraphic    no place in the record: read and written through the data
//                                set's OpenBlobStream (memo text as UTF-8)
//
// Text forms are fixed and independent of the locale:
//   integers                     decimal, no grouping
//   float                        the shortest text that reads back to the same value
//   currency, BCD                AsString as float (lossless); DisplayText with 2 (currency) or
//                                4 (BCD) decimals
//   Boolean                      "True" / "False" (read: true/false, t/f, yes/no, y/n, 1/0)
//   date-time                    "yyyy-MM-dd hh:mm:ss", with ".zzz" when there are milliseconds
//   date, time                   "yyyy-MM-dd", "hh:mm:ss" (".zzz" likewise)
//   bytes                        "0x" and two lower-case hex digits per byte
// A DisplayFormat changes DisplayText only: for numbers a pattern such as "0.00" or "#,##0.000"
// (the digits after the point fix the decimals, a comma groups thousands with ","); for dates
// and times a QDateTime format in the C locale. NULL reads as an empty text.
#pragma once

#include "dataset/framework/dbtypes.h"

#include <QObject>
#include <QString>
#include <QVariant>

#include <vector>

// ---- Field definitions ----------------------------------------------------------------------

struct TFieldDef {
  QString Name;
  TFieldType DataType = ftUnknown;
  int Size = 0;
  bool Required = false;
  int FieldNo = 0;  // 1-based position in the record, as the descendant numbers it
};

class TFieldDefs {
 public:
  void Clear() { defs_.clear(); }
  // Adds a definition; field number `fieldNo`, or the next position when 0.
  TFieldDef& Add(const QString& name, TFieldType type, int size = 0, bool required = false,
                 int fieldNo = 0);
  int Count() const { return static_cast<int>(defs_.size()); }
  const TFieldDef& operator[](int index) const { return defs_.at(static_cast<size_t>(index)); }
  TFieldDef& operator[](int index) { return defs_.at(static_cast<size_t>(index)); }
  // Names compare case-insensitively; -1 / null when absent.
  int IndexOf(const QString& name) const;
  const TFieldDef* Find(const QString& name) const;

 private:
  std::vector<TFieldDef> defs_;
};

// ---- Fields ---------------------------------------------------------------------------------

class TField : public QObject {
  Q_OBJECT

 public:
  explicit TField(QObject* owner = nullptr, TFieldType type = ftUnknown);
  ~TField() override;

  // Joins the data set's field list (leaves the previous one); allowed only while it is closed.
  TDataSet* DataSet() const { return dataSet_; }
  void SetDataSet(TDataSet* dataSet);

  QString FieldName() const { return fieldName_; }
  void SetFieldName(const QString& value) { fieldName_ = value; }
  QString DisplayLabel() const { return displayLabel_; }
  void SetDisplayLabel(const QString& value) { displayLabel_ = value; }
  QString DisplayName() const { return displayLabel_.isEmpty() ? fieldName_ : displayLabel_; }
  TFieldType DataType() const { return dataType_; }
  int FieldNo() const { return fieldNo_; }
  // Position in the data set's field list.
  int Index() const;
  int Size() const { return size_; }
  void SetSize(int value);
  // Bytes of the native form (see above); 0 for blob kinds.
  int DataSize() const;
  bool Required() const { return required_; }
  void SetRequired(bool value) { required_ = value; }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool value) { readOnly_ = value; }
  bool Visible() const { return visible_; }
  void SetVisible(bool value);
  TFieldKind FieldKind() const { return fieldKind_; }
  void SetFieldKind(TFieldKind value);
  bool Calculated() const { return fieldKind_ == fkCalculated; }
  void SetCalculated(bool value) { SetFieldKind(value ? fkCalculated : fkData); }
  bool Lookup() const { return fieldKind_ == fkLookup; }
  bool IsBlob() const;
  // Place of a calculated or lookup field in the calculated-field area: its leading byte.
  int Offset() const { return offset_; }
  QString DisplayFormat() const { return displayFormat_; }
  void SetDisplayFormat(const QString& value);
  QString EditMask() const { return editMask_; }  // kept for controls; no checking here
  void SetEditMask(const QString& value) { editMask_ = value; }
  int DisplayWidth() const { return displayWidth_ > 0 ? displayWidth_ : DefaultWidth(); }
  void SetDisplayWidth(int value) { displayWidth_ = value; }
  bool CanModify() const;

  bool IsNull() const;
  void Clear();
  QVariant Value() const;  // null QVariant for NULL
  void SetValue(const QVariant& value);
  QVariant AsVariant() const { return Value(); }
  void SetAsVariant(const QVariant& value) { SetValue(value); }
  QString AsString() const;
  void SetAsString(const QString& value);
  int AsInteger() const;
  void SetAsInteger(int value);
  double AsFloat() const;
  void SetAsFloat(double value);
  double AsCurrency() const { return AsFloat(); }
  void SetAsCurrency(double value) { SetAsFloat(value); }
  QDateTime AsDateTime() const;
  void SetAsDateTime(const QDateTime& value);
  bool AsBoolean() const;
  void SetAsBoolean(bool value);
  QByteArray AsBytes() const;
  void SetAsBytes(const QByteArray& value);
  // The edit text (OnGetText with DisplayText false) and the shown text (with DisplayFormat).
  QString Text() const;
  void SetText(const QString& value);
  QString DisplayText() const;

  // Raw access to the native form: GetData answers whether there is a value (no copy without a
  // destination); SetData with null stores NULL.
  bool GetData(void* buffer) const;
  void SetData(const void* buffer);

  // Asks the controls to focus this field's editor.
  void FocusControl();

  TFieldNotifyEvent OnChange;
  TFieldNotifyEvent OnValidate;
  TFieldGetTextEvent OnGetText;
  TFieldSetTextEvent OnSetText;

 protected:
  void SetDataType(TFieldType type) { dataType_ = type; }

 private:
  friend class TDataSet;
  friend TField* CreateFieldOfType(TFieldType type, QObject* owner);
  QString ConvertError(const QString& text, const char* kind) const;
  // Raises through the data set, which names itself in the error's context.
  [[noreturn]] void Fail(const QString& message) const;
  static QDateTime DateTimeOf(const QVariant& value);
  QString FormatDisplay() const;
  int DefaultWidth() const;
  void CheckRange(qint64 value) const;
  void Change() {
    if (OnChange) OnChange(this);
  }
  void Validate() {
    if (OnValidate) OnValidate(this);
  }

  TDataSet* dataSet_ = nullptr;
  QString fieldName_, displayLabel_, displayFormat_, editMask_;
  TFieldType dataType_;
  TFieldKind fieldKind_ = fkData;
  int fieldNo_ = 0;
  int size_ = 0;
  int offset_ = 0;
  int displayWidth_ = 0;
  bool required_ = false;
  bool readOnly_ = false;
  bool visible_ = true;
  bool defaultField_ = false;
};

// The kinds: the behaviour lives in TField by data type; a kind fixes the type. Each declares
// Q_OBJECT so that it reports its own class name.
class TStringField : public TField {
  Q_OBJECT
 public:
  explicit TStringField(QObject* owner = nullptr) : TField(owner, ftString) {}
};
class TSmallintField : public TField {
  Q_OBJECT
 public:
  explicit TSmallintField(QObject* owner = nullptr) : TField(owner, ftSmallint) {}
};
class TIntegerField : public TField {
  Q_OBJECT
 public:
  explicit TIntegerField(QObject* owner = nullptr) : TField(owner, ftInteger) {}
};
class TWordField : public TField {
  Q_OBJECT
 public:
  explicit TWordField(QObject* owner = nullptr) : TField(owner, ftWord) {}
};
class TAutoIncField : public TField {
  Q_OBJECT
 public:
  explicit TAutoIncField(QObject* owner = nullptr) : TField(owner, ftAutoInc) {}
};
class TBooleanField : public TField {
  Q_OBJECT
 public:
  explicit TBooleanField(QObject* owner = nullptr) : TField(owner, ftBoolean) {}
};
class TFloatField : public TField {
  Q_OBJECT
 public:
  explicit TFloatField(QObject* owner = nullptr) : TField(owner, ftFloat) {}
};
class TCurrencyField : public TField {
  Q_OBJECT
 public:
  explicit TCurrencyField(QObject* owner = nullptr) : TField(owner, ftCurrency) {}
};
class TBCDField : public TField {
  Q_OBJECT
 public:
  explicit TBCDField(QObject* owner = nullptr) : TField(owner, ftBCD) {}
};
class TDateField : public TField {
  Q_OBJECT
 public:
  explicit TDateField(QObject* owner = nullptr) : TField(owner, ftDate) {}
};
class TTimeField : public TField {
  Q_OBJECT
 public:
  explicit TTimeField(QObject* owner = nullptr) : TField(owner, ftTime) {}
};
class TDateTimeField : public TField {
  Q_OBJECT
 public:
  explicit TDateTimeField(QObject* owner = nullptr) : TField(owner, ftDateTime) {}
};
class TBytesField : public TField {
  Q_OBJECT
 public:
  explicit TBytesField(QObject* owner = nullptr) : TField(owner, ftBytes) {}
};
class TVarBytesField : public TField {
  Q_OBJECT
 public:
  explicit TVarBytesField(QObject* owner = nullptr) : TField(owner, ftVarBytes) {}
};
class TBlobField : public TField {
  Q_OBJECT
 public:
  explicit TBlobField(QObject* owner = nullptr) : TField(owner, ftBlob) {}
};
class TMemoField : public TField {
  Q_OBJECT
 public:
  explicit TMemoField(QObject* owner = nullptr) : TField(owner, ftMemo) {}
};
class TGraphicField : public TField {
  Q_OBJECT
 public:
  explicit TGraphicField(QObject* owner = nullptr) : TField(owner, ftGraphic) {}
};

// A field of the right kind for `type` (a TStringField for ftFixedChar), owned by `owner`.
TField* CreateFieldOfType(TFieldType type, QObject* owner);

// The data set's fields in order (owned by their Qt parents, not by the list).
class TFields {
 public:
  int Count() const { return static_cast<int>(fields_.size()); }
  TField* operator[](int index) const { return fields_.at(static_cast<size_t>(index)); }
  // Names compare case-insensitively.
  TField* FindField(const QString& name) const;
  // Raises "Field 'X' not found".
  TField* FieldByName(const QString& name) const;
  TField* FieldByNumber(int fieldNo) const;
  int IndexOf(const TField* field) const;
  auto begin() const { return fields_.begin(); }
  auto end() const { return fields_.end(); }

 private:
  friend class TDataSet;
  std::vector<TField*> fields_;
};
