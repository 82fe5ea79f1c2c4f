// The enumerations and small types the data-set framework shares between the data set, its
// fields, parameters and data links, and the native forms in which field values travel between a
// field and the data set that stores it.
#pragma once

#include "connection/norvtypes.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class TDataSet;
class TField;

enum TFieldType {
  ftUnknown,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFixedChar,
};
// The type's name as messages show it ("String", "Integer", ...).
QString FieldTypeName(TFieldType type);

enum TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert, dsSetKey, dsCalcFields, dsFilter };

// What ReadRecord is asked for and what it answers.
enum TGetMode { gmCurrent, gmNext, gmPrior };
enum TGetResult { grOK, grBOF, grEOF, grError };

// Where a record buffer stands: a record read from the cursor, a record being inserted before the
// one it displaced, or a record being appended (or inserted into an empty data set) at an end.
enum TBookmarkFlag { bfCurrent, bfBOF, bfEOF, bfInserted };

enum TFieldKind { fkData, fkCalculated, fkLookup };

enum TDataEvent {
  deFieldChange,      // info: the field
  deRecordChange,     // info: the field, or none for the whole record
  deDataSetChange,    // the window's contents changed: reread everything
  deDataSetScroll,    // info: records the active record moved by, contents otherwise the same
  deLayoutChange,     // fields were created, destroyed or changed their look
  deUpdateRecord,     // controls: put pending edits into the fields
  deUpdateState,      // the state changed (also open and close)
  deCheckBrowseMode,  // about to leave the record: post or cancel pending edits
  dePropertyChange,   // a property that controls show changed
  deFocusControl,     // info: the field whose control should take the focus
};

enum TResyncMode { rmExact, rmCenter };
using TResyncModes = TSet<TResyncMode>;

enum TDataAction { daFail, daAbort, daRetry };
enum TBlobStreamMode { bmRead, bmWrite, bmReadWrite };
enum TParamType { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

// A record buffer as the framework hands it to a descendant: a view of bytes the descendant
// allocated. The framework owns each buffer through a TRecordBufferHolder and gives it back
// through ReleaseRecordBuffer.
using TRecordBuffer = char*;
using TRecordBufferHolder = std::unique_ptr<char[]>;

// A bookmark: an opaque block of BookmarkSize bytes that only the descendant interprets; empty
// when there is no record to mark.
using TBookmark = QByteArray;

using TDataSetNotifyEvent = std::function<void(TDataSet* DataSet)>;
using TFilterRecordEvent = std::function<void(TDataSet* DataSet, bool& Accept)>;
class EDatabaseError;
using TDataSetErrorEvent =
    std::function<void(TDataSet* DataSet, EDatabaseError& E, TDataAction& Action)>;
using TFieldNotifyEvent = std::function<void(TField* Sender)>;
using TFieldGetTextEvent = std::function<void(TField* Sender, QString& Text, bool DisplayText)>;
using TFieldSetTextEvent = std::function<void(TField* Sender, const QString& Text)>;

// ---- Date-time values ---------------------------------------------------------------------------
// A date-time travels between a field and its data set as a 64-bit float counting milliseconds
// from the time-stamp origin: day number × 86,400,000 + milliseconds of the day, where day 1 is
// 0001-01-01 (proleptic Gregorian). A time-only value has day number 0; a date-only value has
// no milliseconds of the day.
//
// The framework's date-time number (what a descendant converts server values into, "days + 2"
// from 1900-01-01) counts days from 1899-12-30 with the time of day as the fraction.
using TDateTime = double;

constexpr qint64 kMSecsPerDay = 86400000;
// Day number of 1899-12-30, the date-time number's day 0, counted from the origin.
constexpr qint64 kDateDelta = 693594;

// A date-time as the naive QDateTime the fields hand out (in Qt::UTC, so no local time
// zone rule ever shifts or rejects a value).
QDateTime NaiveDateTime(QDate date, QTime time);
double DateTimeToNative(const QDateTime& value);
QDateTime NativeToDateTime(double msecs);
TDateTime DateTimeToNumber(const QDateTime& value);
QDateTime NumberToDateTime(TDateTime value);

// ---- The fixed text forms (field.h lists them) ----------------------------------------------
namespace FieldText {
QString FromFloat(double value);
QString FromDateTime(TFieldType type, const QDateTime& value);
QString FromBytes(const QByteArray& value);
QString FromBoolean(bool value);
// Each answers whether the text converts; surrounding blanks are ignored.
bool ToInteger(const QString& text, qint64& value);
bool ToFloat(const QString& text, double& value);
bool ToDateTime(TFieldType type, const QString& text, QDateTime& value);
bool ToBytes(const QString& text, QByteArray& value);
bool ToBoolean(const QString& text, bool& value);
}  // namespace FieldText
