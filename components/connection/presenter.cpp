#include "presenter.h"

#include <cstdio>
#include <mutex>

namespace norv {
namespace {

std::mutex g_installMutex;
std::unique_ptr<Presenter> g_installed;

const char* IconWord(MsgIcon icon) {
  switch (icon) {
    case MsgIcon::Information: return "information";
    case MsgIcon::Warning: return "warning";
    case MsgIcon::Error: return "error";
  }
  return "";
}

thread_local Presenter* t_threadPresenter = nullptr;

}  // namespace

ScopedThreadPresenter::ScopedThreadPresenter(Presenter* presenter) : previous_(t_threadPresenter) {
  t_threadPresenter = presenter;
}

ScopedThreadPresenter::~ScopedThreadPresenter() { t_threadPresenter = previous_; }

Presenter& CurrentPresenter() {
  if (t_threadPresenter) return *t_threadPresenter;
  static ConsolePresenter console;
  std::lock_guard lock(g_installMutex);
  if (g_installed) return *g_installed;
  return console;
}

std::unique_ptr<Presenter> InstallPresenter(std::unique_ptr<Presenter> presenter) {
  std::lock_guard lock(g_installMutex);
  std::swap(g_installed, presenter);
  return presenter;
}

void ConsolePresenter::ShowMessageBox(const QString& caption, const QString& text, MsgIcon icon) {
  std::fprintf(stderr, "[%s] %s\n%s\n", IconWord(icon), qPrintable(caption), qPrintable(text));
}

void ConsolePresenter::ShowMessageWindow(const QString& caption, const QString& text,
                                         PanelColour bottom) {
  ShowMessageBox(caption, text,
                 bottom == PanelColour::Error ? MsgIcon::Error : MsgIcon::Information);
}

void ConsolePresenter::Beep() { std::fputc('\a', stderr); }

void ConsolePresenter::SetWaitCursor(bool) {}

bool ConsolePresenter::LoginPrompt(TLoginRequest&) { return false; }

bool ConsolePresenter::Confirm(const QString& caption, const QString& text) {
  std::fprintf(stderr, "[question] %s\n%s\n%s\n", qPrintable(caption), qPrintable(text),
               confirmAnswer_ ? "yes" : "no");
  return confirmAnswer_;
}

}  // namespace norv
