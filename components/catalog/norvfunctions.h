// The server's built-in functions as methods: each method writes a one-line SELECT of its
// function, runs it on the connection named by DbName and returns the single value, as a number
// or as text. The statement of the last call stays readable in Sql.
#pragma once

#include "catalog/norvbase.h"
#include "connection/component.h"
#include "connection/norvexception.h"
#include "connection/norvtypes.h"

#include <QObject>
#include <QString>

#include <memory>

class TNorvQuery;

// An answer that should have been an integer and is not (or does not fit 32 bits).
class EConvertError : public Exception {
 public:
  explicit EConvertError(const QString& text);
};

class TNorvFunctions : public TNorvBase {
  Q_OBJECT
 public:
  explicit TNorvFunctions(QObject* owner = nullptr);
  ~TNorvFunctions() override;

  // The statement of the last call.
  QString Sql() const { return sql_; }

  // The name of date part `part` (0 "year" ... 10 "millisecond"); empty for any other number.
  static QString DatePartName(int part);
  // The decimal text `text` (blanks around it allowed) as a 32-bit integer; EConvertError
  // otherwise.
  static int ToInteger(const QString& text);

  // ---- The wrappers: integer answers are returned, text answers written to Result ------------
  int FnColLength(const QString& Table, const QString& Column);
  void FnColName(int ObjectId, int ColumnId, int DatabaseId, QString& Result);
  void FnDateAdd(int DatePart, int Number, const QString& Date, QString& Result);
  int FnDateDiff(int DatePart, const QString& FirstDate, const QString& SecondDate);
  void FnDateName(int DatePart, const QString& Date, QString& Result);
  int FnDatePart(int DatePart, const QString& Date);
  int FnDbId(const QString& DatabaseName);
  void FnDbName(int DatabaseId, QString& Result);
  int FnHexToInt(const QString& Hex);
  int FnHostId();
  void FnHostName(QString& Result);
  void FnIntToHex(int Value, QString& Result);
  int FnObjectId(const QString& ObjectName);
  void FnObjectName(int ObjectId, int DatabaseId, QString& Result);
  void FnReplicate(const QString& Text, int Count, QString& Result);
  void FnRight(const QString& Text, int Count, QString& Result);
  void FnShowRole(QString& Result);
  void FnStuff(const QString& Text, int Start, const QString& Replacement, int Length,
               QString& Result);
  int FnSuserId(const QString& LoginName);
  void FnSuserName(const QString& Login, QString& Result);
  int FnUserId(const QString& UserName);
  void FnUserName(int UserId, QString& Result);

 private:
  // Runs Sql and leaves its first column in Result; an empty answer of a number reads "0".
  void RunFunction(bool AsText, QString& Result);
  int RunInteger(const QString& sql);
  void RunText(const QString& sql, QString& Result);

  QString sql_;
  std::unique_ptr<TNorvQuery> query_;  // also a child of this component, so its texts reach it
};
