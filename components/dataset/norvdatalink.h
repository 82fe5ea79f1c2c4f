// The two links through which a server data set hears a master data set; the data set creates
// both in its constructor and owns them.
//
// TNorvDataLink sits behind the data set's DataSource: when the master opens or moves to another
// record the data set runs RefreshDetail, when the master closes the data set closes too. A change
// of one field of the master record (a field-level RecordMoved) refreshes nothing.
//
// TNorvQueryDataLink is a detail link calling the data set's MasterChanged. It starts without a
// master and the data set never gives it one: a descendant that wants it attaches it with
// MasterLink().SetDataSource(source) (the framework's circular-link check applies, since the link
// answers the data set as its DetailDataSet). Its Params are a list of its own for that descendant;
// the data set does not read them.
#pragma once

#include "dataset/framework/datasource.h"
#include "dataset/framework/params.h"

class TNorvDataSet;

class TNorvDataLink : public TDataLink {
 public:
  explicit TNorvDataLink(TNorvDataSet* dataSet) : dataSet_(dataSet) {}
  TNorvDataSet* NorvDataSet() const { return dataSet_; }

 protected:
  void ActiveStateChanged() override;
  void EnsureBrowseMode() override;
  void RecordMoved(TField* field) override;

 private:
  TNorvDataSet* dataSet_;  // the owner
};

class TNorvQueryDataLink : public TDetailDataLink {
 public:
  explicit TNorvQueryDataLink(TNorvDataSet* dataSet) : dataSet_(dataSet) {}
  TParams& Params() { return params_; }
  TDataSet* DetailDataSet() const override;

 protected:
  void ActiveStateChanged() override;
  void EnsureBrowseMode() override;
  void RecordMoved(TField* field) override;

 private:
  TNorvDataSet* dataSet_;  // the owner
  TParams params_;
};
