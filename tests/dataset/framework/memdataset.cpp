#include "memdataset.h"

#include <QBuffer>

#include <cstring>

namespace {
// A stream over the data set's blob that stores what was written when it is destroyed.
class BlobStream : public QBuffer {
 public:
  BlobStream(QByteArray& store, std::function<void()> stored)
      : store_(store), stored_(std::move(stored)) {}
  ~BlobStream() override {
    if (!written_) return;
    store_ = data();
    try {
      stored_();
    } catch (...) {  // a destructor cannot pass it on; the test sees the missing change
    }
  }

 protected:
  qint64 writeData(const char* data, qint64 length) override {
    written_ = true;
    return QBuffer::writeData(data, length);
  }

 private:
  QByteArray& store_;
  std::function<void()> stored_;
  bool written_ = false;
};
}  // namespace

TMemDataSet::TMemDataSet(QObject* owner) : TDataSet(owner) { SetBookmarkSize(8); }

TMemDataSet::~TMemDataSet() {
  try {
    Close();
  } catch (...) {
    HandleInternalException(std::current_exception());
  }
}

int TMemDataSet::SlotSize(const Column& c) {
  switch (c.type) {
    case ftString: return c.size + 1;
    case ftSmallint:
    case ftBoolean:
    case ftWord: return 2;
    case ftInteger:
    case ftAutoInc: return 4;
    case ftBytes: return c.size;
    case ftVarBytes: return c.size + 2;
    default: return 8;
  }
}

void TMemDataSet::AddColumn(const QString& name, TFieldType type, int size, bool required) {
  columns_.push_back({name, type, size, required});
  offsets_.push_back(recordSize_);
  recordSize_ += SlotSize(columns_.back()) + 1;
}

// Stores a row image in the native forms the fields use.
void TMemDataSet::AddRow(const QVariantList& values) {
  QByteArray image(recordSize_, '\0');
  for (size_t i = 0; i < columns_.size(); ++i) {
    char* slot = image.data() + offsets_[i];
    const int size = SlotSize(columns_[i]);
    const QVariant v = int(i) < values.size() ? values[int(i)] : QVariant();
    slot[size] = v.isValid() && !v.isNull() ? 0 : 1;
    if (slot[size]) continue;
    switch (columns_[i].type) {
      case ftString: {
        const QByteArray s = v.toString().toUtf8().left(columns_[i].size);
        std::memcpy(slot, s.constData(), size_t(s.size()));
        break;
      }
      case ftSmallint:
      case ftBoolean: {
        const auto n = static_cast<qint16>(v.toInt());
        std::memcpy(slot, &n, 2);
        break;
      }
      case ftInteger: {
        const auto n = static_cast<qint32>(v.toInt());
        std::memcpy(slot, &n, 4);
        break;
      }
      case ftDate:
      case ftTime:
      case ftDateTime: {
        const double d = DateTimeToNative(v.toDateTime());
        std::memcpy(slot, &d, 8);
        break;
      }
      default: {
        const double d = v.toDouble();
        std::memcpy(slot, &d, 8);
      }
    }
  }
  rows_.push_back(image);
}

QVariant TMemDataSet::Stored(int row, int column) const {
  const char* slot = rows_.at(size_t(row)).constData() + offsets_.at(size_t(column));
  const Column& c = columns_.at(size_t(column));
  if (slot[SlotSize(c)]) return {};
  switch (c.type) {
    case ftString: return QString::fromUtf8(slot);
    case ftInteger: {
      qint32 n;
      std::memcpy(&n, slot, 4);
      return n;
    }
    default: return {};
  }
}

TRecordBufferHolder TMemDataSet::AllocateRecordBuffer() {
  const int size = recordSize_ + 20 + CalcFieldsSize();
  TRecordBufferHolder buffer(new char[size_t(size)]);
  std::memset(buffer.get(), 0, size_t(size));
  return buffer;
}

void TMemDataSet::ReadBookmarkData(TRecordBuffer buffer, void* data) {
  std::memcpy(data, buffer + InfoAt() + 12, 4);
}

void TMemDataSet::WriteBookmarkData(TRecordBuffer buffer, const void* data) {
  const qint32 zero = 0;
  std::memcpy(buffer + InfoAt() + 12, data ? data : &zero, 4);
}

TBookmarkFlag TMemDataSet::ReadBookmarkFlag(TRecordBuffer buffer) {
  return static_cast<TBookmarkFlag>(buffer[InfoAt() + 16]);
}

void TMemDataSet::WriteBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) {
  buffer[InfoAt() + 16] = static_cast<char>(flag);
}

bool TMemDataSet::FilterAccepts(TRecordBuffer buffer) {
  if (!OnFilterRecord) return true;
  bool accept = true;
  const TDataSetState previous = SetTempState(dsFilter, buffer);
  try {
    OnFilterRecord(this, accept);
  } catch (...) {
    RestoreState(previous);
    throw;
  }
  RestoreState(previous);
  return accept;
}

TGetResult TMemDataSet::ReadRecord(TRecordBuffer buffer, TGetMode mode, bool /*doCheck*/) {
  ++reads;
  const int count = static_cast<int>(rows_.size());
  if (count < 1) return grEOF;
  for (;;) {
    switch (mode) {
      case gmCurrent:
        if (current_ < 0 || current_ >= count) return grError;
        break;
      case gmNext:
        if (current_ >= count - 1) {
          current_ = count;
          return grEOF;
        }
        ++current_;
        break;
      case gmPrior:
        if (current_ <= 0) {
          current_ = -1;
          return grBOF;
        }
        --current_;
        break;
    }
    std::memcpy(buffer, rows_[size_t(current_)].constData(), size_t(recordSize_));
    const qint32 mark = current_;
    WriteBookmarkData(buffer, &mark);
    WriteBookmarkFlag(buffer, bfCurrent);
    std::memset(buffer + recordSize_ + 20, 0, size_t(CalcFieldsSize()));
    GetCalcFields(buffer);
    const bool accepted = !Filtered() || FilterAccepts(buffer);
    if (accepted) return grOK;
    if (mode == gmCurrent) return grError;
  }
}

bool TMemDataSet::ReadFieldData(TField* field, void* dest) {
  TRecordBuffer buffer = StateBuffer();
  if (!buffer || !open_) return false;
  if (field->FieldKind() != fkData) {
    const char* p = buffer + recordSize_ + 20 + field->Offset();
    if (!p[0]) return false;
    if (dest) std::memcpy(dest, p + 1, size_t(field->DataSize()));
    return true;
  }
  const int n = field->FieldNo();
  if (n < 1) return false;
  const int size = SlotSize(columns_[size_t(n - 1)]);
  const char* slot = buffer + offsets_[size_t(n - 1)];
  if (slot[size]) return false;
  if (dest) std::memcpy(dest, slot, size_t(size));
  return true;
}

void TMemDataSet::WriteFieldData(TField* field, const void* source) {
  TRecordBuffer buffer = StateBuffer();
  if (!buffer) return;
  if (field->FieldKind() != fkData) {
    char* p = buffer + recordSize_ + 20 + field->Offset();
    p[0] = source ? 1 : 0;
    if (source) std::memcpy(p + 1, source, size_t(field->DataSize()));
  } else if (field->FieldNo() >= 1) {
    const int n = field->FieldNo();
    const int size = SlotSize(columns_[size_t(n - 1)]);
    char* slot = buffer + offsets_[size_t(n - 1)];
    if (source) std::memcpy(slot, source, size_t(size));
    slot[size] = source ? 0 : 1;
  }
  FieldChanged(field);
}

void TMemDataSet::BuildFieldDefs() {
  FieldDefs().Clear();
  for (const Column& c : columns_) FieldDefs().Add(c.name, c.type, c.size, c.required);
}

void TMemDataSet::OpenInternal() {
  BuildFieldDefs();
  if (DefaultFields()) CreateFields();
  BindFields(true);
  current_ = -1;
  open_ = true;
}

void TMemDataSet::CloseInternal() {
  open_ = false;
  current_ = -1;
  if (DefaultFields()) DestroyFields();
}

void TMemDataSet::MoveToBookmark(const TBookmark& bookmark) {
  qint32 index = -1;
  if (bookmark.size() >= 4) std::memcpy(&index, bookmark.constData(), 4);
  if (index < 0 || index >= static_cast<int>(rows_.size()))
    DatabaseError(QStringLiteral("Bookmark %1 not found!").arg(index));
  current_ = index;
}

void TMemDataSet::MoveToRecordOf(TRecordBuffer buffer) {
  MoveToBookmark(QByteArray(buffer + InfoAt() + 12, 4));
}

void TMemDataSet::InitNewRecord(TRecordBuffer buffer) {
  std::memset(buffer, 0, size_t(recordSize_));
  for (size_t i = 0; i < columns_.size(); ++i) buffer[offsets_[i] + SlotSize(columns_[i])] = 1;
}

void TMemDataSet::PostInternal() {
  if (failPost) failPost();
  const QByteArray image(ActiveBuffer(), recordSize_);
  if (State() == dsEdit) {
    rows_[size_t(current_)] = image;
  } else {
    current_ = std::max(current_, 0);
    rows_.insert(rows_.begin() + current_, image);
  }
}

void TMemDataSet::AddRecord(TRecordBuffer buffer, bool /*append*/) {
  rows_.emplace_back(buffer, recordSize_);
  current_ = static_cast<int>(rows_.size());
}

void TMemDataSet::DeleteInternal() {
  const int count = static_cast<int>(rows_.size());
  if (current_ < 0 || current_ >= count) return;
  rows_.erase(rows_.begin() + current_);
  if (rows_.empty())
    current_ = -1;
  else if (current_ >= count - 1)
    current_ = count - 2;
}

int TMemDataSet::RecordNumber() {
  if (!Filtered()) return current_ + 1;
  // Accepted records up to the current one, read into a scratch buffer.
  const int at = current_;
  TRecordBufferHolder scratch = AllocateRecordBuffer();
  int n = 0;
  current_ = -1;
  while (ReadRecord(scratch.get(), gmNext, false) == grOK && current_ <= at) ++n;
  current_ = at;
  return n;
}

bool TMemDataSet::StepFind(bool restart, bool goForward) {
  const int count = static_cast<int>(rows_.size());
  const int next = restart ? (goForward ? 0 : count - 1) : current_ + (goForward ? 1 : -1);
  if (next < 0 || next >= count) return false;
  current_ = next;
  return true;
}

std::unique_ptr<QIODevice> TMemDataSet::OpenBlobStream(TField* field, TBlobStreamMode mode) {
  if (mode != bmRead && State() != dsEdit && State() != dsInsert)
    DatabaseError(QStringLiteral("Dataset is not in edit mode."));
  auto stream = std::make_unique<BlobStream>(blob, [this, field] { FieldChanged(field); });
  if (mode != bmWrite) stream->setData(blob);
  stream->open(mode == bmRead ? QIODevice::ReadOnly : QIODevice::ReadWrite);
  return stream;
}
