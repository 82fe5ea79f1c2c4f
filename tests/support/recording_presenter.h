// The test double of the presentation seam: records what a component would have shown, and
// answers login prompts from a queue.
#pragma once

#include "connection/presenter.h"

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace norv {

// Keeps what would have been shown, in order, so tests can assert on it. Thread-safe.
class RecordingPresenter : public Presenter {
 public:
  enum class Kind {
    MessageBox,
    MessageWindow,
    Beep,
    WaitCursorOn,
    WaitCursorOff,
    LoginPrompt,
    Confirm
  };
  struct Shown {
    Kind kind;
    QString caption;
    QString text;
    MsgIcon icon = MsgIcon::Information;
    PanelColour bottom = PanelColour::ButtonFace;
  };

  void ShowMessageBox(const QString& caption, const QString& text, MsgIcon icon) override;
  void ShowMessageWindow(const QString& caption, const QString& text, PanelColour bottom) override;
  void Beep() override;
  void SetWaitCursor(bool on) override;
  // Records the request as it came (a LoginPrompt entry whose caption is its ServerName) and
  // answers with the next queued reply; with none queued, Cancel.
  bool LoginPrompt(TLoginRequest& request) override;

  // A reply edits the request as a user would fill in the dialog and says whether OK was pressed.
  using LoginReply = std::function<bool(TLoginRequest&)>;
  void QueueLoginReply(LoginReply reply);
  // Records the question (a Confirm entry) and answers as set; No unless told otherwise.
  bool Confirm(const QString& caption, const QString& text) override;
  void SetConfirmAnswer(bool yes);

  std::vector<Shown> Taken() const;                  // a copy of everything recorded so far
  std::vector<TLoginRequest> LoginRequests() const;  // every login request, as it came
  void Clear();

 private:
  void Record(Shown shown);
  mutable std::mutex mutex_;
  std::vector<Shown> shown_;
  std::vector<TLoginRequest> loginRequests_;
  std::deque<LoginReply> loginReplies_;
  bool confirmAnswer_ = false;
};

// Records, besides what would have been shown, whether anything came from another thread than
// the GUI thread.
class ThreadNotingPresenter : public RecordingPresenter {
 public:
  void ShowMessageBox(const QString& caption, const QString& text, MsgIcon icon) override;
  void ShowMessageWindow(const QString& caption, const QString& text, PanelColour bottom) override;
  void Beep() override;
  std::atomic<bool> offGuiThread{false};

 private:
  void Note();
};

// Installs a recorder for the lifetime of this object and restores the previous presenter.
class ScopedRecordingPresenter {
 public:
  ScopedRecordingPresenter();
  ~ScopedRecordingPresenter();
  ScopedRecordingPresenter(const ScopedRecordingPresenter&) = delete;
  ScopedRecordingPresenter& operator=(const ScopedRecordingPresenter&) = delete;
  RecordingPresenter& operator*() const { return *recorder_; }
  RecordingPresenter* operator->() const { return recorder_; }

 private:
  RecordingPresenter* recorder_;  // owned by the installation
  std::unique_ptr<Presenter> previous_;
};

}  // namespace norv
