#include "recording_presenter.h"

#include <QCoreApplication>
#include <QThread>

namespace norv {

void RecordingPresenter::ShowMessageBox(const QString& caption, const QString& text, MsgIcon icon) {
  Record({Kind::MessageBox, caption, text, icon, PanelColour::ButtonFace});
}

void RecordingPresenter::ShowMessageWindow(const QString& caption, const QString& text,
                                           PanelColour bottom) {
  Record({Kind::MessageWindow, caption, text, MsgIcon::Information, bottom});
}

void RecordingPresenter::Beep() { Record({Kind::Beep, {}, {}}); }

void RecordingPresenter::SetWaitCursor(bool on) {
  Record({on ? Kind::WaitCursorOn : Kind::WaitCursorOff, {}, {}});
}

bool RecordingPresenter::LoginPrompt(TLoginRequest& request) {
  LoginReply reply;
  {
    std::lock_guard lock(mutex_);
    shown_.push_back({Kind::LoginPrompt, request.ServerName, {}});
    loginRequests_.push_back(request);
    if (!loginReplies_.empty()) {
      reply = std::move(loginReplies_.front());
      loginReplies_.pop_front();
    }
  }
  // Run outside the lock: a reply may look at what was recorded.
  return reply ? reply(request) : false;
}

bool RecordingPresenter::Confirm(const QString& caption, const QString& text) {
  std::lock_guard lock(mutex_);
  shown_.push_back({Kind::Confirm, caption, text});
  return confirmAnswer_;
}

void RecordingPresenter::SetConfirmAnswer(bool yes) {
  std::lock_guard lock(mutex_);
  confirmAnswer_ = yes;
}

void RecordingPresenter::QueueLoginReply(LoginReply reply) {
  std::lock_guard lock(mutex_);
  loginReplies_.push_back(std::move(reply));
}

std::vector<TLoginRequest> RecordingPresenter::LoginRequests() const {
  std::lock_guard lock(mutex_);
  return loginRequests_;
}

std::vector<RecordingPresenter::Shown> RecordingPresenter::Taken() const {
  std::lock_guard lock(mutex_);
  return shown_;
}

void RecordingPresenter::Clear() {
  std::lock_guard lock(mutex_);
  shown_.clear();
  loginRequests_.clear();
  loginReplies_.clear();
}

void RecordingPresenter::Record(Shown shown) {
  std::lock_guard lock(mutex_);
  shown_.push_back(std::move(shown));
}

ScopedRecordingPresenter::ScopedRecordingPresenter() {
  auto recorder = std::make_unique<RecordingPresenter>();
  recorder_ = recorder.get();
  previous_ = InstallPresenter(std::move(recorder));
}

ScopedRecordingPresenter::~ScopedRecordingPresenter() { InstallPresenter(std::move(previous_)); }

void ThreadNotingPresenter::ShowMessageBox(const QString& caption, const QString& text,
                                           MsgIcon icon) {
  Note();
  RecordingPresenter::ShowMessageBox(caption, text, icon);
}

void ThreadNotingPresenter::ShowMessageWindow(const QString& caption, const QString& text,
                                              PanelColour bottom) {
  Note();
  RecordingPresenter::ShowMessageWindow(caption, text, bottom);
}

void ThreadNotingPresenter::Beep() {
  Note();
  RecordingPresenter::Beep();
}

void ThreadNotingPresenter::Note() {
  if (QThread::currentThread() != QCoreApplication::instance()->thread()) offGuiThread = true;
}

}  // namespace norv
