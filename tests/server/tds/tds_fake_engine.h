// A scripted engine standing in for the real one in protocol tests: a few canned batches, options
// kept in a map and cursors over canned rows. It replaces the engine only, never the client.
#pragma once

#include "engine/engine.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace tdstest {

using namespace sampleserver;

inline ColumnInfo Col(std::string name, SqlType type, int32_t length, bool nullable,
                      uint8_t precision = 0, uint8_t scale = 0) {
  ColumnInfo c;
  c.name = std::move(name);
  c.type = type;
  c.length = length;
  c.nullable = nullable;
  c.precision = precision;
  c.scale = scale;
  return c;
}

// The "select types" result: one column of every type, nullable ones as well as NOT NULL ones.
inline std::vector<ColumnInfo> TypeColumns() {
  std::vector<ColumnInfo> c = {
      Col("ti", SqlType::TinyInt, 1, false),
      Col("si", SqlType::SmallInt, 2, false),
      Col("i", SqlType::Int, 4, false),
      Col("bi", SqlType::BigInt, 8, false),
      Col("b", SqlType::Bit, 1, false),
      Col("num", SqlType::Numeric, 6, false, 10, 2),
      Col("dec", SqlType::Decimal, 17, true, 38, 4),
      Col("f", SqlType::Float, 8, false),
      Col("r", SqlType::Real, 4, false),
      Col("m", SqlType::Money, 8, false),
      Col("sm", SqlType::SmallMoney, 4, false),
      Col("dt", SqlType::DateTime, 8, false),
      Col("sdt", SqlType::SmallDateTime, 4, false),
      Col("c", SqlType::Char, 10, false),
      Col("vc", SqlType::VarChar, 20, true),
      Col("t", SqlType::Text, 0x7FFFFFFF, true),
      Col("bin", SqlType::Binary, 4, false),
      Col("vb", SqlType::VarBinary, 8, true),
      Col("img", SqlType::Image, 0x7FFFFFFF, true),
      Col("ni", SqlType::Int, 4, true),
      Col("nf", SqlType::Float, 8, true),
      Col("nm", SqlType::Money, 8, true),
      Col("ndt", SqlType::DateTime, 8, true),
      Col("lvc", SqlType::VarChar, 600, true),
      Col("id", SqlType::Int, 4, false),
  };
  c[15].table = "blurbs";
  c[18].table = "au_pix";
  c.back().identity = true;
  c[13].updatable = true;
  return c;
}

inline NumericValue Num(bool neg, std::string digits, uint8_t precision, uint8_t scale) {
  NumericValue n;
  n.negative = neg;
  n.digits = std::move(digits);
  n.precision = precision;
  n.scale = scale;
  return n;
}

inline std::vector<Value> TypeRow() {
  return {int64_t{200},
          int64_t{-32000},
          int64_t{2000000000},
          int64_t{-9000000000000000000},
          int64_t{1},
          Num(false, "1234", 10, 2),
          Num(true, "12345678901234567890123456789012345678", 38, 4),
          1.5,
          2.25,
          MoneyValue{123456789},
          MoneyValue{-12345},
          DateTimeValue{45416, 7706700},
          DateTimeValue{45416, 16740000},
          std::string("abc"),
          std::string(""),
          std::string("some text"),
          Bytes{0xde, 0xad, 0xbe, 0xef},
          Bytes{},
          Bytes{1, 2, 3},
          int64_t{-7},
          -0.5,
          MoneyValue{5000},
          DateTimeValue{-1, 300},
          std::string(600, 'x'),
          int64_t{1}};
}

inline std::vector<Value> TypeNullRow() {
  std::vector<Value> r = TypeRow();
  for (size_t i : {6, 14, 15, 17, 18, 19, 20, 21, 22, 23}) r[i] = std::monostate{};
  r.back() = int64_t{2};
  return r;
}

// Counters the tests read after the server has run requests.
struct FakeState {
  std::mutex mutex;
  std::map<int, std::vector<uint8_t>> lastOptions;  // option -> value set (empty: default)
  std::atomic<int> sessions{0};
  std::atomic<int> cancelledBatches{0};
  std::atomic<int> rowsProduced{0};
  std::atomic<int> liveSessions{0};
};

class FakeSession final : public Session {
 public:
  FakeSession(int spid, std::shared_ptr<FakeState> state) : spid_(spid), state_(std::move(state)) {
    ++state_->liveSessions;
  }
  ~FakeSession() override { --state_->liveSessions; }

  int Spid() const override { return spid_; }
  std::string Database() const override { return db_; }
  std::string User() const override { return "sa"; }

  void Execute(std::string_view sqlView, ResultSink& sink) override {
    std::string sql(sqlView);
    while (!sql.empty() && std::isspace(static_cast<unsigned char>(sql.back()))) sql.pop_back();
    if (sql == "select @@spid") {
      sink.Columns({Col("", SqlType::Int, 4, false)});
      sink.Row({int64_t{spid_}});
      sink.Done(kDoneCount, 1, false);
    } else if (sql == "select types") {
      sink.Columns(TypeColumns());
      sink.Row(TypeRow());
      sink.Row(TypeNullRow());
      sink.Done(kDoneCount, 2, false);
    } else if (sql == "insert select") {
      sink.Done(kDoneCount, 3, false);
      sink.Columns({Col("n", SqlType::Int, 4, false), Col("s", SqlType::VarChar, 10, true)});
      sink.Row({int64_t{1}, std::string("one")});
      sink.Row({int64_t{2}, std::monostate{}});
      sink.Done(kDoneCount, 2, false);
      sink.Done(0, 0, false);  // a set statement
    } else if (sql == "error") {
      sink.Done(kDoneCount, 1, false);
      ServerMessage m{208,
                      1,
                      16,
                      "bogus not found. Specify owner.objectname or use sp_help to check whether "
                      "the object exists (sp_help may produce lots of output).",
                      "SAMPLE",
                      "",
                      3};
      sink.Message(m);
      sink.Done(kDoneError, 0, false);
    } else if (sql == "print") {
      sink.Message(ServerMessage{0, 1, 10, "hello from print", "SAMPLE", "", 1});
      sink.Done(0, 0, false);
    } else if (sql == "proc") {
      sink.Columns({Col("a", SqlType::Int, 4, true)});
      sink.Row({int64_t{5}});
      sink.Done(kDoneCount, 1, true);
      sink.Message(ServerMessage{50001, 2, 16, "proc failure", "SAMPLE", "myproc", 7});
      sink.Done(kDoneError, 0, true);
      sink.ReturnStatus(-6);
      sink.Done(kDoneError, 0, false);
    } else if (sql.rfind("use ", 0) == 0) {
      std::string old = db_;
      db_ = sql.substr(4);
      sink.DatabaseChanged(db_, old);
      sink.Message(ServerMessage{5701, 1, 10, "Changed database context to '" + db_ + "'.",
                                 "SAMPLE", "", 1});
      sink.Done(0, 0, false);
    } else if (sql == "select db_name()") {
      sink.Columns({Col("", SqlType::VarChar, 30, true)});
      sink.Row({db_});
      sink.Done(kDoneCount, 1, false);
    } else if (sql.rfind("long ", 0) == 0) {
      int n = std::stoi(sql.substr(5));
      sink.Columns({Col("n", SqlType::Int, 4, false), Col("pad", SqlType::VarChar, 200, false)});
      for (int i = 0; i < n; ++i) {
        if (sink.Cancelled()) {
          ++state_->cancelledBatches;
          return;
        }
        sink.Row({int64_t{i}, std::string(200, 'p')});
        ++state_->rowsProduced;
      }
      sink.Done(kDoneCount, n, false);
    } else if (sql.rfind("wide ", 0) == 0) {
      int n = std::stoi(sql.substr(5));
      sink.Columns({Col("n", SqlType::Int, 4, false), Col("big", SqlType::VarChar, 3000, false),
                    Col("img", SqlType::Image, 0x7FFFFFFF, true)});
      for (int i = 0; i < n; ++i) {
        std::string s(3000, static_cast<char>('a' + i % 26));
        Bytes b(5000);
        for (size_t k = 0; k < b.size(); ++k) b[k] = static_cast<uint8_t>(k * 7 + i);
        sink.Row({int64_t{i}, s, b});
      }
      sink.Done(kDoneCount, n, false);
    } else if (sql == "overlong") {
      // Declares varchar(5) but produces more: the protocol layer must cut it.
      sink.Columns({Col("s", SqlType::VarChar, 5, false), Col("c", SqlType::Char, 4, false)});
      sink.Row({std::string("abcdefgh"), std::string("h\xc3\xa9llo")});
      sink.Done(kDoneCount, 1, false);
    } else {
      sink.Message(
          ServerMessage{102, 1, 15, "Incorrect syntax near '" + sql + "'.", "SAMPLE", "", 1});
      sink.Done(kDoneError, 0, false);
    }
  }

  void SetOption(int option, std::optional<std::vector<uint8_t>> value, ResultSink& sink) override {
    if (option == 99) {
      sink.Message(ServerMessage{1001, 1, 16, "option refused", "SAMPLE", "", 1});
      return;
    }
    if (value)
      options_[option] = *value;
    else
      options_.erase(option);
    std::lock_guard lock(state_->mutex);
    state_->lastOptions[option] = value.value_or(std::vector<uint8_t>{});
  }
  std::optional<std::vector<uint8_t>> GetOption(int option) const override {
    auto it = options_.find(option);
    if (it != options_.end()) return it->second;
    if (option == static_cast<int>(Option::TextSize)) return std::vector<uint8_t>{0x00, 0x80, 0, 0};
    if (option < 40) return std::vector<uint8_t>{0};
    return std::nullopt;
  }

  // Cursors over "select n, name from nums": kNumRows rows.
  static constexpr int kNumRows = 25;
  struct Cursor {
    std::string name;
    int32_t rows = 1;
    int position = 0;
    uint16_t state = 0;
  };

  int32_t CursorDeclare(const std::string& name, std::string_view select, bool,
                        ResultSink& sink) override {
    if (select.find("nums") == std::string_view::npos) {
      sink.Message(ServerMessage{208, 1, 16, "no such table", "SAMPLE", "", 1});
      return 0;
    }
    for (auto it = cursors_.begin(); it != cursors_.end(); ++it) {
      if (it->second.name == name) {
        cursors_.erase(it);
        break;
      }
    }
    int32_t id = nextId_++;
    cursors_[id] = Cursor{name, 1, 0, kCursorDeclared | kCursorReadOnly};
    return id;
  }
  int32_t CursorId(const std::string& name) const override {
    for (const auto& [id, c] : cursors_)
      if (c.name == name) return id;
    return 0;
  }
  bool CursorSetRows(int32_t id, int32_t rows, ResultSink&) override {
    auto it = cursors_.find(id);
    if (it == cursors_.end()) return false;
    it->second.rows = rows;
    it->second.state |= kCursorRowCount;
    return true;
  }
  bool CursorOpen(int32_t id, ResultSink& sink) override {
    auto it = cursors_.find(id);
    if (it == cursors_.end()) return false;
    it->second.position = 0;
    it->second.state = kCursorOpen | kCursorReadOnly;
    sink.Columns({Col("n", SqlType::Int, 4, false), Col("name", SqlType::VarChar, 12, true)});
    return true;
  }
  int32_t CursorFetch(int32_t id, ResultSink& sink) override {
    auto it = cursors_.find(id);
    if (it == cursors_.end()) return 0;
    int32_t sent = 0;
    while (sent < it->second.rows && it->second.position < kNumRows) {
      int n = it->second.position++;
      sink.Row({int64_t{n}, "row" + std::to_string(n)});
      ++sent;
    }
    return sent;
  }
  bool CursorClose(int32_t id, bool deallocate, ResultSink&) override {
    auto it = cursors_.find(id);
    if (it == cursors_.end()) return false;
    if (deallocate)
      cursors_.erase(it);
    else
      it->second.state = kCursorClosed | kCursorDeclared | kCursorReadOnly;
    return true;
  }
  uint16_t CursorState(int32_t id) const override {
    auto it = cursors_.find(id);
    return it == cursors_.end() ? 0 : it->second.state;
  }
  int32_t CursorRows(int32_t id) const override {
    auto it = cursors_.find(id);
    return it == cursors_.end() ? 0 : it->second.rows;
  }

  size_t CursorCount() const { return cursors_.size(); }

 private:
  int spid_;
  std::shared_ptr<FakeState> state_;
  std::string db_ = "master";
  std::map<int, std::vector<uint8_t>> options_;
  std::map<int32_t, Cursor> cursors_;
  int32_t nextId_ = 100;
};

class FakeEngine final : public Engine {
 public:
  std::shared_ptr<FakeState> state = std::make_shared<FakeState>();

  std::string ServerName() const override { return "SAMPLE"; }
  std::string DataDir() const override { return {}; }
  std::string Version() const override { return "Sample Server/1.0"; }
  std::unique_ptr<Session> Login(const LoginRequest& request, ServerMessage* failure) override {
    {
      std::lock_guard lock(state->mutex);
      lastLogin = request;
    }
    if (request.user != "sa" || !request.password.empty()) {
      *failure = ServerMessage{4002, 1, 14, "Login failed.", "SAMPLE", "", 1};
      return nullptr;
    }
    return std::make_unique<FakeSession>(++state->sessions, state);
  }
  LoginRequest LastLogin() {
    std::lock_guard lock(state->mutex);
    return lastLogin;
  }

 private:
  LoginRequest lastLogin;
};

}  // namespace tdstest
