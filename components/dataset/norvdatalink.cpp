#include "dataset/norvdatalink.h"

#include "dataset/norvdataset.h"

// ---- Link of DataSource -----------------------------------------------------------------------

void TNorvDataLink::ActiveStateChanged() {
  if (Active())
    dataSet_->RefreshDetail();
  else if (dataSet_->Active())
    dataSet_->Close();
}

void TNorvDataLink::EnsureBrowseMode() {
  if (dataSet_->Active()) dataSet_->CheckBrowseMode();
}

void TNorvDataLink::RecordMoved(TField* field) {
  // A field given means one value of the master record changed, not the record.
  if (!field && dataSet_->Active()) dataSet_->RefreshDetail();
}

// ---- Master link ------------------------------------------------------------------------------

TDataSet* TNorvQueryDataLink::DetailDataSet() const { return dataSet_; }

void TNorvQueryDataLink::ActiveStateChanged() {
  if (dataSet_->Active()) dataSet_->MasterChanged();
}

void TNorvQueryDataLink::EnsureBrowseMode() {
  if (dataSet_->Active()) dataSet_->CheckBrowseMode();
}

void TNorvQueryDataLink::RecordMoved(TField* field) {
  if (!field && dataSet_->Active()) dataSet_->MasterChanged();
}
