// A recording result sink and helpers for engine-level tests: batches run through
// Session::Execute, no network.
#pragma once

#include "engine/engine.h"
#include "engine/values.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace sampleserver::testing {

struct ResultSet {
  std::vector<ColumnInfo> columns;
  std::vector<std::vector<Value>> rows;
};

struct DoneRecord {
  uint16_t status = 0;
  int32_t count = 0;
  bool inProc = false;
};

class RecordingSink : public ResultSink {
 public:
  void Columns(const std::vector<ColumnInfo>& columns) override {
    sets.push_back({columns, {}});
    events.push_back("columns");
  }
  void Row(const std::vector<Value>& values) override {
    if (sets.empty()) sets.push_back({});
    sets.back().rows.push_back(values);
    events.push_back("row");
  }
  void Done(uint16_t status, int32_t count, bool inProc) override {
    dones.push_back({status, count, inProc});
    events.push_back("done");
  }
  void Message(const ServerMessage& message) override {
    messages.push_back(message);
    events.push_back("message");
  }
  void DatabaseChanged(const std::string& newName, const std::string& oldName) override {
    dbChanges.push_back({newName, oldName});
    events.push_back("envchange");
  }
  void ReturnStatus(int32_t status) override {
    statuses.push_back(status);
    events.push_back("status");
  }
  void OutputParams(const std::vector<ColumnInfo>& params,
                    const std::vector<Value>& values) override {
    outputs.push_back({params, {values}});
    events.push_back("params");
  }
  void ComputeFormats(const std::vector<ComputeFormat>& formats) override {
    computeFormats = formats;
    events.push_back("computefmt");
  }
  void ComputeRow(uint16_t id, const std::vector<Value>& values) override {
    computeRows.push_back({id, values});
    events.push_back("compute");
  }
  bool Cancelled() const override {
    return cancelAfterRows >= 0 && RowCount() >= static_cast<size_t>(cancelAfterRows);
  }

  size_t RowCount() const {
    size_t n = 0;
    for (const auto& s : sets) n += s.rows.size();
    return n;
  }
  std::vector<int> ErrorNumbers() const {
    std::vector<int> out;
    for (const auto& m : messages)
      if (m.severity > 10) out.push_back(m.number);
    return out;
  }
  void Clear() { *this = RecordingSink(); }

  std::vector<ResultSet> sets;
  std::vector<DoneRecord> dones;
  std::vector<ServerMessage> messages;
  std::vector<std::pair<std::string, std::string>> dbChanges;
  std::vector<int32_t> statuses;
  std::vector<ResultSet> outputs;             // output parameters: names and one row of values
  std::vector<ComputeFormat> computeFormats;  // of the last select with compute clauses
  std::vector<std::pair<uint16_t, std::vector<Value>>> computeRows;
  std::vector<std::string> events;
  long cancelAfterRows = -1;
};

// Text of a value as a test compares it: strings as stored, numbers in Sybase's text form.
inline std::string Text(const Value& v, SqlType type = SqlType::VarChar) {
  if (IsNull(v)) return "NULL";
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  if (const auto* i = std::get_if<int64_t>(&v)) return std::to_string(*i);
  return FormatValue(v, type);
}

// One engine shared by a test suite (creating the sample database takes a moment).
class EngineTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!engine_) engine_ = Engine::Create({});
  }
  static void TearDownTestSuite() {}

  std::unique_ptr<Session> Login(const std::string& user = "sa", const std::string& pw = "") {
    LoginRequest r;
    r.user = user;
    r.password = pw;
    r.host = "testhost";
    r.application = "engine-tests";
    ServerMessage failure;
    return engine_->Login(r, &failure);
  }

  // Runs a batch on `s` and returns what the sink recorded.
  static RecordingSink Run(Session& s, const std::string& sql) {
    RecordingSink sink;
    s.Execute(sql, sink);
    return sink;
  }

  // The single value of a one-row, one-column select; fails the test otherwise.
  static Value Scalar(Session& s, const std::string& sql) {
    RecordingSink sink = Run(s, sql);
    EXPECT_TRUE(sink.ErrorNumbers().empty())
        << sql << ": " << (sink.messages.empty() ? "" : sink.messages[0].text);
    if (sink.sets.size() != 1 || sink.sets[0].rows.size() != 1 ||
        sink.sets[0].rows[0].size() != 1) {
      ADD_FAILURE() << "not a single value: " << sql;
      return std::monostate{};
    }
    return sink.sets[0].rows[0][0];
  }
  static std::string ScalarText(Session& s, const std::string& sql) {
    RecordingSink sink = Run(s, sql);
    if (sink.sets.size() != 1 || sink.sets[0].rows.size() != 1) {
      ADD_FAILURE() << "not a single value: " << sql << " "
                    << (sink.messages.empty() ? "" : sink.messages[0].text);
      return "";
    }
    return Text(sink.sets[0].rows[0][0], sink.sets[0].columns[0].type);
  }

  // Lives for the whole test program; its private folder goes with it at exit.
  static inline std::unique_ptr<Engine> engine_;
};

// A session of sa in the sample database.
class Pubs2Test : public EngineTest {
 protected:
  void SetUp() override {
    s = Login();
    ASSERT_TRUE(s);
    Run(*s, "use pubs2");
  }
  std::unique_ptr<Session> s;
};

}  // namespace sampleserver::testing
