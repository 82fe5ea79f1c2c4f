#include "connection/monitor.h"
#include "monitorwindow.h"
#include "recording_presenter.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QLocalSocket>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QUuid>

#include <functional>
#include <memory>
#include <thread>

namespace {

class MonitorWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings_.path());
    name_ = "norv-test-monitor-" + QUuid::createUuid().toString(QUuid::Id128);
  }

  MonitorWindow& Open(size_t capacity = MonitorWindow::kDefaultCapacity) {
    window_ = std::make_unique<MonitorWindow>(capacity);
    EXPECT_TRUE(window_->Listen(name_));
    return *window_;
  }

  // One sender: a socket of its own, as a program's thread has.
  void Send(const QString& program, const QStringList& lines) {
    QLocalSocket socket;
    socket.connectToServer(name_, QIODevice::WriteOnly);
    ASSERT_TRUE(socket.waitForConnected(2000));
    for (const QString& line : lines)
      socket.write(EncodeMonitorFrame(0, line, program, QStringLiteral("TNorvDatabase")));
    while (socket.bytesToWrite() > 0 && socket.waitForBytesWritten(2000)) {
    }
  }

  // The shown lines without their arrival time, waiting until `count` of them are there.
  QStringList Shown(qsizetype count) {
    QDeadlineTimer deadline(5000);
    QStringList lines;
    do {
      QApplication::processEvents(QEventLoop::AllEvents, 20);
      window_->Flush();
      lines = window_->ShownText().split(u'\n', Qt::SkipEmptyParts);
    } while (lines.size() < count && !deadline.hasExpired());
    for (QString& line : lines)
      if (line.at(2) == u':') line = line.mid(14);  // "HH:mm:ss.zzz  "
    return lines;
  }

  QTemporaryDir settings_;
  QString name_;
  norv::ScopedRecordingPresenter presenter_;
  std::unique_ptr<MonitorWindow> window_;
};

QStringList Numbered(const QString& prefix, int count, int from = 0) {
  QStringList lines;
  for (int i = from; i < from + count; ++i) lines << prefix + QString::number(i);
  return lines;
}

TEST_F(MonitorWindowTest, TwoProgramsSendingAtOnceAreAllShownEachInItsOrder) {
  Open();
  constexpr int kEach = 300;
  std::thread first([&] { Send("alpha", Numbered("line ", kEach)); });
  std::thread second([&] { Send("beta", Numbered("line ", kEach)); });
  first.join();
  second.join();
  const QStringList shown = Shown(2 * kEach);
  ASSERT_EQ(shown.size(), 2 * kEach);
  for (const QString program : {"alpha", "beta"}) {
    const QStringList own = shown.filter(QRegularExpression("^" + program + "  "));
    QStringList expected;
    for (const QString& line : Numbered("line ", kEach))
      expected << program + "  TNorvDatabase  " + line;
    EXPECT_EQ(own, expected);
  }
}

TEST_F(MonitorWindowTest, PausedLinesWaitAndAppearOnResume) {
  Open();
  Send("p", {"before"});
  ASSERT_EQ(Shown(1).size(), 1);
  window_->SetPaused(true);
  Send("p", {"during 1", "during 2"});
  QApplication::processEvents(QEventLoop::AllEvents, 200);
  EXPECT_EQ(Shown(0), QStringList({"p  TNorvDatabase  before"}));
  window_->SetPaused(false);
  EXPECT_EQ(Shown(3), QStringList({"p  TNorvDatabase  before", "p  TNorvDatabase  during 1",
                                   "p  TNorvDatabase  during 2"}));
}

TEST_F(MonitorWindowTest, FilterBySubstringOrRegularExpression) {
  Open();
  Send("p", {"SQL Execute: select 1", "Open-Client: ct_cmd_alloc", "sql execute: select 22"});
  ASSERT_EQ(Shown(3).size(), 3);
  const struct {
    QString filter;
    bool regex;
    QStringList shown;
  } cases[] = {
      {"sql execute",
       false,
       {"p  TNorvDatabase  SQL Execute: select 1", "p  TNorvDatabase  sql execute: select 22"}},
      {"select \\d\\d$", true, {"p  TNorvDatabase  sql execute: select 22"}},
      {"select \\d\\d$", false, {}},  // taken literally
      {"", false, Shown(3)},
  };
  for (const auto& c : cases) {
    window_->SetFilter(c.filter, c.regex);
    EXPECT_EQ(Shown(0), c.shown) << c.filter.toStdString();
  }
}

TEST_F(MonitorWindowTest, HoldsABoundedNumberOfLinesAndSaysHowManyWereDropped) {
  Open(4);
  Send("p", Numbered("n", 7));
  QStringList expected{"(3 earlier lines dropped)"};
  for (const QString& line : Numbered("n", 4, 3)) expected << "p  TNorvDatabase  " + line;
  EXPECT_EQ(Shown(5), expected);
}

TEST_F(MonitorWindowTest, SaveWritesWhatIsShown) {
  Open();
  Send("p", {"keep 1", "other", "keep 2"});
  ASSERT_EQ(Shown(3).size(), 3);
  window_->SetFilter("keep", false);
  const QString path = settings_.filePath("saved.txt");
  ASSERT_TRUE(window_->Save(path));
  QFile saved(path);
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly | QIODevice::Text));
  EXPECT_EQ(QString::fromUtf8(saved.readAll()), window_->ShownText() + "\n");
  EXPECT_EQ(window_->ShownText().count("keep"), 2);
  EXPECT_FALSE(window_->ShownText().contains("other"));
}

TEST_F(MonitorWindowTest, FollowsNewLinesOnlyWhileAtTheBottom) {
  Open().resize(400, 200);
  window_->show();
  Send("p", Numbered("first ", 100));
  ASSERT_EQ(Shown(100).size(), 100);
  QScrollBar* bar = window_->View()->verticalScrollBar();
  ASSERT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), bar->maximum());
  bar->setValue(10);  // the user scrolls up
  Send("p", Numbered("second ", 50));
  ASSERT_EQ(Shown(150).size(), 150);
  EXPECT_EQ(bar->value(), 10);
  bar->setValue(bar->maximum());  // and back down
  Send("p", Numbered("third ", 50));
  ASSERT_EQ(Shown(200).size(), 200);
  EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(MonitorWindowTest, RemembersItsGeometry) {
  Open().resize(640, 321);
  window_->close();
  MonitorWindow again;
  EXPECT_EQ(again.size(), QSize(640, 321));
}

}  // namespace
