#include "dataset/norvblob.h"

#include "dataset/framework/field.h"
#include "dataset/norvdataset.h"

TNorvBlobStream::TNorvBlobStream(TField* field, TBlobStreamMode mode)
    : field_(field),
      dataSet_(qobject_cast<TNorvDataSet*>(field->DataSet())),
      mode_(mode),
      fieldNo_(field->FieldNo()) {
  if (!dataSet_)
    throw EDatabaseError(QStringLiteral("Field '%1' cannot be modified").arg(field->DisplayName()));
  slot_ = dataSet_->ActiveBlobSlot(field);
  if (mode != bmRead) {
    if (field->ReadOnly())
      dataSet_->DatabaseError(QStringLiteral("Field %1 is readonly.").arg(field->DisplayName()));
    if (dataSet_->State() != dsEdit && dataSet_->State() != dsInsert)
      dataSet_->DatabaseError(QStringLiteral("Dataset is not in edit mode."));
    if (!slot_)
      dataSet_->DatabaseError(
          QStringLiteral("Field '%1' cannot be modified").arg(field->DisplayName()));
  }
  if (mode == bmWrite) {
    slot_->reset();
    modified_ = true;
  } else if (slot_ && *slot_) {
    setData((*slot_)->Bytes());
  }
  // A read stream refuses writes; the others read and write like any memory stream.
  open(mode == bmRead ? QIODevice::ReadOnly : QIODevice::ReadWrite);
}

TNorvBlobStream::~TNorvBlobStream() {
  if (!modified_) return;
  try {
    *slot_ = std::make_unique<TNorvBlob>(data());
    dataSet_->BlobChanged(field_);
  } catch (...) {
    // Nothing may leave a destructor: the data set reports it as it reports its own.
    dataSet_->ReportBlobException(std::current_exception());
  }
}

qint64 TNorvBlobStream::writeData(const char* data, qint64 len) {
  const qint64 written = QBuffer::writeData(data, len);
  // Read-write counts too: its writes would be lost otherwise.
  if (written > 0 || mode_ == bmWrite) modified_ = true;
  return written;
}
