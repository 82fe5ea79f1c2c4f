// Data sources and data links: how controls, views and detail data sets hear a data set.
//
// A TDataSource connects one data set to any number of TDataLinks. A link learns, through the
// virtual operations it overrides, everything a view needs:
//   ActiveStateChanged         the data set opened or closed (or the link was attached elsewhere)
//   DataSetChanged             the window's contents changed: reread all (after First, Last, a
//                              post, an insert or append, a delete, Refresh, a resync, a bookmark
//                              jump, and when DisableControls ends); RecordCount may differ
//   DataSetScrolled(distance)  the active record moved by `distance` records within the same
//                              contents (Next, Prior, MoveBy inside the window)
//   RecordMoved(field)         one field changed (field given), or the record as a whole (none)
//   EditingChanged             edit or insert began or ended
//   UpdateData                 put pending edits into the fields now (before a post)
//   LayoutChanged              fields were created, destroyed or changed how they show
//   EnsureBrowseMode           the data set is about to leave the record
//   FocusControl(field)        the field's editor should take the focus
// A link with a BufferCount above 1 (a grid) widens the data set's window to that many records;
// ActiveRecord is then the active record's row within the link's part of the window.
#pragma once

#include "dataset/framework/dataset.h"

#include <QList>
#include <QObject>
#include <QPointer>

class TDataLink;

using TDataChangeEvent = std::function<void(QObject* Sender, TField* Field)>;

class TDataSource : public QObject {
  Q_OBJECT

 public:
  explicit TDataSource(QObject* owner = nullptr);
  ~TDataSource() override;

  TDataSet* DataSet() const { return dataSet_; }
  void SetDataSet(TDataSet* dataSet);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  // Controls may put the data set into edit state themselves (Edit below).
  bool AutoEdit() const { return autoEdit_; }
  void SetAutoEdit(bool value) { autoEdit_ = value; }
  // The data set's state; inactive without an enabled data set.
  TDataSetState State() const { return state_; }
  // Puts a browsing data set into edit state when AutoEdit allows; a control calls it when the
  // user starts typing.
  void Edit();

  TNotifyEvent OnStateChange;
  TDataChangeEvent OnDataChange;
  TNotifyEvent OnUpdateData;

 private:
  friend class TDataSet;
  friend class TDataLink;
  void DataEvent(TDataEvent event, const void* info);
  void NotifyLinks(TDataEvent event, const void* info);
  void UpdateState();
  void DataSetDestroyed();

  QPointer<TDataSet> dataSet_;
  QList<TDataLink*> links_;
  TDataSetState state_ = dsInactive;
  bool enabled_ = true;
  bool autoEdit_ = true;
};

class TDataLink {
 public:
  TDataLink() = default;
  virtual ~TDataLink();
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;

  TDataSource* DataSource() const { return dataSource_; }
  void SetDataSource(TDataSource* source);
  TDataSet* DataSet() const { return dataSource_ ? dataSource_->DataSet() : nullptr; }
  // The source is enabled and its data set open.
  bool Active() const { return active_; }
  bool Editing() const { return editing_; }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool value);
  int BufferCount() const { return bufferCount_; }
  void SetBufferCount(int value);
  // Rows of the window this link sees (at most BufferCount).
  int RecordCount() const;
  // The active record's row among them; setting it makes another row active for reading (no
  // events, no cursor move), as a grid does while it paints.
  int ActiveRecord() const;
  void SetActiveRecord(int value);
  // Puts the data set in edit state (when allowed); answers whether it is editing now.
  bool Edit();
  // Asks the link for its pending edits (UpdateData) outside a post.
  void UpdateRecord();

 protected:
  virtual void ActiveStateChanged() {}
  virtual void DataSetChanged() { RecordMoved(nullptr); }
  virtual void DataSetScrolled(int /*distance*/) { DataSetChanged(); }
  virtual void RecordMoved(TField* /*field*/) {}
  virtual void EditingChanged() {}
  virtual void UpdateData() {}
  virtual void LayoutChanged() { DataSetChanged(); }
  virtual void EnsureBrowseMode() {}
  virtual void FocusControl(TField* /*field*/) {}
  // The data set of a detail link; none for others.
  virtual TDataSet* DetailDataSet() const { return nullptr; }

 private:
  friend class TDataSource;
  friend class TDataSet;
  void DataEvent(TDataEvent event, const void* info);
  void UpdateActive();
  void UpdateEditing();
  void UpdateRange();

  TDataSource* dataSource_ = nullptr;
  int bufferCount_ = 1;
  int firstRecord_ = 0;
  bool active_ = false;
  bool editing_ = false;
  bool readOnly_ = false;
  bool updating_ = false;
};

// The link of a detail to its master's data source: the detail data set answers DetailDataSet,
// so the circular-link check follows it.
class TDetailDataLink : public TDataLink {
 public:
  TDataSet* DetailDataSet() const override { return nullptr; }
};
