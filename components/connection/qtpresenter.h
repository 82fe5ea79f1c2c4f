// The presenter that shows things with Qt widgets. Safe to call from any thread: calls from a
// worker are carried out on the GUI thread while the worker waits, as it would for a modal box.
// Without a QApplication (a console tool, a core-only test) it writes to standard error instead.
#pragma once

#include "presenter.h"

namespace norv {

class QtPresenter : public Presenter {
 public:
  QtPresenter() = default;
  ~QtPresenter() override;
  QtPresenter(const QtPresenter&) = delete;
  QtPresenter& operator=(const QtPresenter&) = delete;

  void ShowMessageBox(const QString& caption, const QString& text, MsgIcon icon) override;
  void ShowMessageWindow(const QString& caption, const QString& text, PanelColour bottom) override;
  void Beep() override;
  void SetWaitCursor(bool on) override;
  // Shows the login dialog modally over the active window.
  bool LoginPrompt(TLoginRequest& request) override;
  // A question box with Yes and No over the active window; closing it answers No.
  bool Confirm(const QString& caption, const QString& text) override;

  // How many wait cursors this presenter has pushed and not yet taken back.
  int WaitCursorDepth() const { return waitCursors_; }

 private:
  ConsolePresenter console_;
  int waitCursors_ = 0;  // only touched on the GUI thread
};

}  // namespace norv
