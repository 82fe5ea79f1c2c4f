// Blob values of the server data sets and the stream a blob field is read and written through.
//
// A record keeps a blob field's value as a reference to a TNorvBlob in a slot the data set
// answers through its BlobSlot hook (norvdataset.h). TNorvDataSet's record layout has no place for
// blob fields, so it answers no slot; a descendant with blob fields keeps the references itself
// (next to its records) and answers the slot of the field in a record buffer.
//
// A TNorvBlobStream is a memory stream over a copy of the value:
//   read        the stream holds the value's bytes, positioned at 0; writing is refused
//   write       the stream starts empty and the value is dropped at once; destroying the stream
//               stores what was written, so a stream written nothing leaves an empty value
//   read-write  the stream holds the value's bytes; what is written is stored on destruction
// Storing replaces the slot's TNorvBlob with a copy of the whole stream, marks the record
// modified and raises the field-change notification. A write or read-write stream is refused on
// a read-only field ("Field %s is readonly."), outside edit and insert ("Dataset is not in edit
// mode.") and where the data set gives the field no slot, since the bytes could not be kept.
// The data set and the slot must outlive the stream; the framework's fields use theirs at once.
#pragma once

#include "dataset/framework/dbtypes.h"

#include <QBuffer>
#include <QByteArray>

#include <memory>

class TField;
class TNorvDataSet;

class TNorvBlob {
 public:
  explicit TNorvBlob(const QByteArray& bytes) : bytes_(bytes) {}
  qint32 Size() const { return static_cast<qint32>(bytes_.size()); }
  const char* Data() const { return bytes_.constData(); }
  QByteArray Bytes() const { return bytes_; }

 private:
  QByteArray bytes_;
};

class TNorvBlobStream : public QBuffer {
 public:
  // `field` belongs to a TNorvDataSet; raises EDatabaseError on the refusals above.
  TNorvBlobStream(TField* field, TBlobStreamMode mode);
  ~TNorvBlobStream() override;
  TNorvBlobStream(const TNorvBlobStream&) = delete;
  TNorvBlobStream& operator=(const TNorvBlobStream&) = delete;

  TField* Field() const { return field_; }
  TBlobStreamMode Mode() const { return mode_; }
  int FieldNo() const { return fieldNo_; }
  // Whether destroying the stream stores its bytes.
  bool Modified() const { return modified_; }

 protected:
  qint64 writeData(const char* data, qint64 len) override;

 private:
  TField* field_;
  TNorvDataSet* dataSet_;
  TBlobStreamMode mode_;
  std::unique_ptr<TNorvBlob>* slot_ = nullptr;  // in the data set's keeping
  int fieldNo_;
  bool modified_ = false;
};
