// What the wire-fault tests share: each user flow runs on a connection through a FaultProxy, meets
// one class of fault in its middle, and must end within the context's TimeOut with a clear error,
// leave the server with all or none of a transaction, and work again once reconnected.
#pragma once

#include "connection/norvdatabase.h"
#include "connection/norvexception.h"
#include "query/norvquery.h"

#include "fault_proxy.h"
#include "recording_presenter.h"
#include "server_fixture.h"

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace norvtest {

constexpr int kTimeOut = 2;  // seconds: the context's TimeOut for every connection here
// A failing flow ends within this: the time-out, plus its cancel and the reconnect it may try.
constexpr qint64 kEndsWithinMs = (kTimeOut * 2 + 2) * 1000;
constexpr std::chrono::milliseconds kDelay{20};  // what a Delay holds back each chunk

enum class FaultClass { Delay, Stall, CutToServer, CutToClient, Reset };

inline std::string FaultName(const ::testing::TestParamInfo<FaultClass>& info) {
  static const char* const names[] = {"Delay", "Stall", "CutToServer", "CutToClient", "Reset"};
  return names[static_cast<int>(info.param)];
}

// Aborts the program when a test outlives its limit: a hang fails at once instead of holding
// the CI job until its own time-out.
class Watchdog {
 public:
  explicit Watchdog(int seconds) {
    thread_ = std::thread([this, seconds] {
      std::unique_lock lock(mutex_);
      if (!done_cv_.wait_for(lock, std::chrono::seconds(seconds), [this] { return done_; })) {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        std::fprintf(stderr, "watchdog: %s.%s hung for %d s\n", test ? test->test_suite_name() : "",
                     test ? test->name() : "", seconds);
        std::fflush(stderr);
        std::_Exit(3);
      }
    });
  }
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    done_cv_.notify_all();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable done_cv_;
  bool done_ = false;
  std::thread thread_;
};

// How a flow ended: the error it raised or showed (empty: none) and how long it took.
struct Outcome {
  QString error;
  qint64 ms = 0;
};

class WireFaults : public ::testing::TestWithParam<FaultClass> {
 protected:
  static constexpr const char* kProxyServer = "FAULTY";

  // One proxy for the program, named in SQL.INI once.
  static void SetUpTestSuite() {
    static FaultProxy proxy(SampleServer().host, SampleServer().port);
    if (!proxy_) proxy.AddToSqlIni(QString::fromLatin1(kProxyServer));
    proxy_ = &proxy;
  }

  void SetUp() override {
    auto* presenter = new norv::ThreadNotingPresenter;
    presenter_ = presenter;
    previous_ = norv::InstallPresenter(std::unique_ptr<norv::Presenter>(presenter));
    proxy_->Arm({});
    db_ = Connect(QStringLiteral("wire"), QString::fromLatin1(kProxyServer));
  }
  void TearDown() override {
    proxy_->Arm({});
    db_.reset();
    norv::InstallPresenter(std::move(previous_));
  }

  // A connection component through `server` (the proxy, or the sample server itself), its
  // context's TimeOut short.
  static std::unique_ptr<TNorvDatabase> Connect(const QString& name, const QString& server,
                                                bool connect = true) {
    auto db = std::make_unique<TNorvDatabase>();
    db->SetName(name);
    db->SetServerName(server);
    db->SetUserName(QStringLiteral("sa"));
    db->SetLoginPrompt(false);
    db->SetDBName(QStringLiteral("pubs2"));
    db->SetConProps({cpBulk_Login});
    db->SetTimeOut(kTimeOut);
    if (connect) db->SetConnected(true);
    return db;
  }

  FaultClass Class() const { return GetParam(); }
  bool Fails() const { return Class() != FaultClass::Delay; }

  // Arms this test's fault class: a cut or reset starts after `toServer` bytes sent to the
  // server or `toClient` bytes sent back (as its direction says), a stall after `toClient`; a
  // delay holds every chunk from now.
  void Arm(uint64_t toServer, uint64_t toClient) {
    Fault f;
    switch (Class()) {
      case FaultClass::Delay: f = {Fault::Kind::Delay, Direction::ToServer, 0, kDelay}; break;
      case FaultClass::Stall: f = {Fault::Kind::Stall, Direction::ToClient, toClient, {}}; break;
      case FaultClass::CutToServer:
        f = {Fault::Kind::Cut, Direction::ToServer, toServer, {}};
        break;
      case FaultClass::CutToClient:
        f = {Fault::Kind::Cut, Direction::ToClient, toClient, {}};
        break;
      case FaultClass::Reset: f = {Fault::Kind::Reset, Direction::ToServer, toServer, {}}; break;
    }
    proxy_->Arm(f);
  }

  // Runs `flow` and says how it ended: what it raised, else the last error box it showed.
  Outcome Run(const std::function<void()>& flow) {
    presenter_->Clear();
    Outcome out;
    QElapsedTimer timer;
    timer.start();
    try {
      flow();
    } catch (const EAbort&) {
      out.error = QStringLiteral("<abort>");
    } catch (const Exception& e) {
      out.error = e.Message();
    }
    out.ms = timer.elapsed();
    if (out.error.isEmpty()) {
      for (const auto& s : presenter_->Taken())
        if (s.kind == norv::RecordingPresenter::Kind::MessageBox && s.icon == norv::MsgIcon::Error)
          out.error = s.text;
    }
    return out;
  }

  // The flow met its fault: it failed within its bound with a clear error, shown (if at all)
  // from the GUI thread; under a mere delay it did its whole work.
  void ExpectEnded(const Outcome& out, const char* clearWord = nullptr) {
    EXPECT_FALSE(presenter_->offGuiThread.load());
    if (!Fails()) {
      EXPECT_EQ(out.error, QString());
      return;
    }
    EXPECT_TRUE(proxy_->Started()) << "the flow ended before its fault";
    EXPECT_LT(out.ms, kEndsWithinMs);
    EXPECT_FALSE(out.error.isEmpty()) << "the fault went unreported";
    if (clearWord) {
      EXPECT_TRUE(out.error.contains(QLatin1String(clearWord), Qt::CaseInsensitive))
          << out.error.toStdString();
    }
  }

  // A copy into a table in batches of `batch` rows keeps exactly the batches it reported
  // committed. When the fault starts in the server's answer, the answer to the batch in flight
  // may be what was lost: the server then holds that batch too, and the copy said it failed.
  void ExpectBatches(int rows, int reported, int batch = 20) {
    EXPECT_EQ(rows % batch, 0) << "a batch is on the server in part";
    const bool answerLost = Class() == FaultClass::Stall || Class() == FaultClass::CutToClient;
    if (answerLost) {
      EXPECT_GE(rows, reported * batch);
      EXPECT_LE(rows, (reported + 1) * batch);
    } else {
      EXPECT_EQ(rows, reported * batch);
    }
  }

  // Heals the wire and reconnects the flow's connection through it.
  void Reconnect(TNorvDatabase& db) {
    proxy_->Arm({});
    db.SetConnected(false);
    db.SetConnected(true);
    ASSERT_TRUE(db.Connected());
  }

  // Statements over a clean connection straight to the sample server.
  static void RunClean(std::initializer_list<QString> statements) {
    auto db = Connect(QStringLiteral("clean"), SampleServer().serverName);
    for (const QString& sql : statements) {
      TNorvQuery q;
      q.SetDbName(QStringLiteral("clean"));
      q.SetSql(sql);
      ASSERT_EQ(q.Execute(), CS_SUCCEED) << sql.toStdString();
      while (q.Fetch() == 1) {
      }
    }
  }
  static QString Scalar(const QString& sql) {
    auto db = Connect(QStringLiteral("clean"), SampleServer().serverName);
    TNorvQuery q;
    q.SetDbName(QStringLiteral("clean"));
    q.SetSql(sql);
    QString value;
    if (q.Execute() == CS_SUCCEED && q.Fetch() == 1) value = q.FieldValue(1).trimmed();
    while (q.Fetch() == 1) {
    }
    return value;
  }

  static inline FaultProxy* proxy_ = nullptr;
  norv::ThreadNotingPresenter* presenter_ = nullptr;  // owned by the installation
  std::unique_ptr<norv::Presenter> previous_;
  std::unique_ptr<TNorvDatabase> db_;
  Watchdog watchdog_{30};
};

}  // namespace norvtest
