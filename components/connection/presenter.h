// The one seam through which components show anything: message boxes, the message window,
// beeps and the wait cursor. The widget library installs the Qt implementation at start-up;
// tests install their own. Without one, texts go to standard error.
#pragma once

#include <QString>
#include <QStringList>

#include <memory>

namespace norv {

enum class MsgIcon { Information, Warning, Error };

// Colour of the message window's bottom panel.
enum class PanelColour { ButtonFace, Error };

// What the connection hands the login prompt and reads back from it. The prompt fills UserName,
// Password, ServerName and Rdbms with what the user confirmed; the rest only shapes the prompt.
struct TLoginRequest {
  QString ServerName;
  bool ServerPrompt = true;  // the server may be changed
  bool ServerShow = true;    // the server row is shown at all
  bool RdbmsShow = true;
  bool RdbmsPrompt = true;
  QString UserName;
  QString Password;
  QStringList ServerList;
  QString Rdbms;
};

class Presenter {
 public:
  virtual ~Presenter() = default;
  // A modal message box owned by the active window.
  virtual void ShowMessageBox(const QString& caption, const QString& text, MsgIcon icon) = 0;
  // The message window, modal; it lives only while shown.
  virtual void ShowMessageWindow(const QString& caption, const QString& text,
                                 PanelColour bottom) = 0;
  virtual void Beep() = 0;
  virtual void SetWaitCursor(bool on) = 0;
  // The login dialog, modal. True when the user confirmed; `request` then holds the answers.
  virtual bool LoginPrompt(TLoginRequest& request) = 0;
  // A modal yes/no question owned by the active window; true for Yes.
  virtual bool Confirm(const QString& caption, const QString& text) = 0;
};

// The installed presenter, or the console one when none is installed.
Presenter& CurrentPresenter();
// Installs `presenter` (null uninstalls) and returns the one it replaces.
std::unique_ptr<Presenter> InstallPresenter(std::unique_ptr<Presenter> presenter);

// For the lifetime of the object, what the calling thread shows goes to `presenter` instead of
// the installed one: a worker hands its texts to the GUI thread this way.
class ScopedThreadPresenter {
 public:
  explicit ScopedThreadPresenter(Presenter* presenter);
  ~ScopedThreadPresenter();
  ScopedThreadPresenter(const ScopedThreadPresenter&) = delete;
  ScopedThreadPresenter& operator=(const ScopedThreadPresenter&) = delete;

 private:
  Presenter* previous_;
};

// Writes every text to standard error; used when no presenter is installed.
class ConsolePresenter : public Presenter {
 public:
  void ShowMessageBox(const QString& caption, const QString& text, MsgIcon icon) override;
  void ShowMessageWindow(const QString& caption, const QString& text, PanelColour bottom) override;
  void Beep() override;
  void SetWaitCursor(bool on) override;
  // Nobody can answer: Cancel.
  bool LoginPrompt(TLoginRequest& request) override;
  // Writes the question and answers as set (No unless told otherwise).
  bool Confirm(const QString& caption, const QString& text) override;
  void SetConfirmAnswer(bool yes) { confirmAnswer_ = yes; }

 private:
  bool confirmAnswer_ = false;
};

}  // namespace norv
