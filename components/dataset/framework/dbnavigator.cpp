#include "dataset/framework/dbnavigator.h"

#include "connection/presenter.h"

#include <QHBoxLayout>
#include <QToolButton>

class TDBNavigator::Link : public TDataLink {
 public:
  explicit Link(TDBNavigator& navigator) : navigator_(navigator) {}

 protected:
  void ActiveStateChanged() override { navigator_.UpdateButtons(); }
  void DataSetChanged() override { navigator_.UpdateButtons(); }
  void DataSetScrolled(int /*distance*/) override { navigator_.UpdateButtons(); }
  void EditingChanged() override { navigator_.UpdateButtons(); }

 private:
  TDBNavigator& navigator_;
};

namespace {
struct ButtonText {
  const char* glyph;
  const char* hint;
};
constexpr std::array<ButtonText, 10> kButtons{{{"|\u25C0", "First record"},
                                               {"\u25C0", "Prior record"},
                                               {"\u25B6", "Next record"},
                                               {"\u25B6|", "Last record"},
                                               {"+", "Insert record"},
                                               {"\u2212", "Delete record"},
                                               {"\u25B2", "Edit record"},
                                               {"\u2714", "Post edit"},
                                               {"\u2716", "Cancel edit"},
                                               {"\u21BB", "Refresh data"}}};
}  // namespace

TDBNavigator::TDBNavigator(QWidget* parent)
    : QWidget(parent), link_(std::make_unique<Link>(*this)) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  for (size_t i = 0; i < buttons_.size(); ++i) {
    auto* button = new QToolButton(this);
    button->setText(QString::fromUtf8(kButtons[i].glyph));
    button->setToolTip(QString::fromLatin1(kButtons[i].hint));
    button->setAutoRaise(false);
    const auto which = static_cast<TNavigateBtn>(i);
    connect(button, &QToolButton::clicked, this, [this, which] { BtnClick(which); });
    layout->addWidget(button);
    buttons_[i] = button;
  }
  UpdateButtons();
}

TDBNavigator::~TDBNavigator() {
  // The link may still hear its source while the buttons go; it must not reach them.
  link_.reset();
}

TDataSource* TDBNavigator::DataSource() const { return link_->DataSource(); }

void TDBNavigator::SetDataSource(TDataSource* source) {
  link_->SetDataSource(source);
  UpdateButtons();
}

void TDBNavigator::UpdateButtons() {
  std::array<bool, 10> on{};
  if (link_->Active()) {
    TDataSet* dataSet = link_->DataSet();
    const bool editing = dataSet->State() == dsEdit || dataSet->State() == dsInsert;
    const bool canModify = dataSet->CanModify() && !link_->ReadOnly();
    if (editing) {
      on[nbPost] = on[nbCancel] = canModify;
    } else {
      on[nbFirst] = on[nbPrior] = !dataSet->Bof();
      on[nbNext] = on[nbLast] = !dataSet->Eof();
      on[nbInsert] = on[nbEdit] = canModify;
      on[nbDelete] = canModify && !dataSet->IsEmpty();
      on[nbRefresh] = true;
    }
  }
  for (size_t i = 0; i < buttons_.size(); ++i) buttons_[i]->setEnabled(on[i]);
}

void TDBNavigator::BtnClick(TNavigateBtn button) {
  TDataSet* dataSet = link_->Active() ? link_->DataSet() : nullptr;
  if (!dataSet) return;
  switch (button) {
    case nbFirst: dataSet->First(); break;
    case nbPrior: dataSet->Prior(); break;
    case nbNext: dataSet->Next(); break;
    case nbLast: dataSet->Last(); break;
    case nbInsert: dataSet->Insert(); break;
    case nbDelete:
      if (!confirmDelete_ || norv::CurrentPresenter().Confirm(QStringLiteral("Confirm"),
                                                              QStringLiteral("Delete record?")))
        dataSet->Delete();
      break;
    case nbEdit: dataSet->Edit(); break;
    case nbPost: dataSet->Post(); break;
    case nbCancel: dataSet->Cancel(); break;
    case nbRefresh: dataSet->Refresh(); break;
  }
}
