// Statement parameters: a name, a field type, a parameter type and a value.
//
// Values keep the field type they were created with: an As... setter sets DataType only while it
// is ftUnknown, so a parameter made for a float field and given a text keeps ftFloat. The text
// forms are those of the fields (field.h).
#pragma once

#include "dataset/framework/dbtypes.h"

#include <QDateTime>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <vector>

class TField;

class TParam {
 public:
  TParam() = default;
  TParam(const QString& name, TFieldType dataType, TParamType paramType)
      : name_(name), dataType_(dataType), paramType_(paramType) {}

  QString Name() const { return name_; }
  void SetName(const QString& value) { name_ = value; }
  TFieldType DataType() const { return dataType_; }
  void SetDataType(TFieldType value) { dataType_ = value; }
  TParamType ParamType() const { return paramType_; }
  void SetParamType(TParamType value) { paramType_ = value; }

  bool IsNull() const { return value_.isNull(); }
  void Clear() { value_ = QVariant(); }
  QVariant Value() const { return value_; }
  // Keeps the value as given; a field type follows from it while DataType is ftUnknown.
  void SetValue(const QVariant& value);

  // Getters convert as the fields do and raise EDatabaseError on a text that does not convert;
  // NULL reads as "", 0, 0.0, false or an invalid date-time.
  QString AsString() const;
  void SetAsString(const QString& value) { Set(value, ftString); }
  int AsInteger() const;
  void SetAsInteger(int value) { Set(value, ftInteger); }
  int AsSmallInt() const { return AsInteger(); }
  void SetAsSmallInt(int value) { Set(value, ftSmallint); }
  double AsFloat() const;
  void SetAsFloat(double value) { Set(value, ftFloat); }
  double AsCurrency() const { return AsFloat(); }
  void SetAsCurrency(double value) { Set(value, ftCurrency); }
  QDateTime AsDateTime() const;
  void SetAsDateTime(const QDateTime& value) { Set(value, ftDateTime); }
  bool AsBoolean() const;
  void SetAsBoolean(bool value) { Set(value, ftBoolean); }

  // Name, type and value of the field (value NULL when the field is NULL).
  void AssignField(const TField* field);

 private:
  void Set(const QVariant& value, TFieldType type);
  QString name_;
  TFieldType dataType_ = ftUnknown;
  TParamType paramType_ = ptUnknown;
  QVariant value_;
};

class TParams {
 public:
  int Count() const { return static_cast<int>(params_.size()); }
  TParam& operator[](int index) { return *params_.at(static_cast<size_t>(index)); }
  const TParam& operator[](int index) const { return *params_.at(static_cast<size_t>(index)); }
  void Clear() { params_.clear(); }
  TParam& CreateParam(TFieldType dataType, const QString& name, TParamType paramType);
  // Names compare case-insensitively; the first of equal names.
  TParam* FindParam(const QString& name);
  // Raises "Parameter 'X' not found".
  TParam& ParamByName(const QString& name);

  // Finds the ":name" placeholders of `sql` and returns the text with each replaced by what
  // `replace` gives for it (name, 0-based position), "?" by default. With doCreate the list is
  // cleared and gets one input parameter of type ftUnknown per placeholder, in text order (so
  // positional parameters line up). "::" stands for one ":"; quoted strings ('...', "...",
  // [...]) and comments (-- to the end of the line, /* ... */) are copied as they are. A name is
  // letters, digits, "_", "@", "#" and "$"; a ":" followed by anything else stays.
  QString ParseSQL(const QString& sql, bool doCreate,
                   const std::function<QString(const QString& name, int position)>& replace = {});

 private:
  std::vector<std::unique_ptr<TParam>> params_;
};
