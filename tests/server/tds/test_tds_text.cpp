// Text and image values far beyond the packet size, written as literals and as parameters, read
// back whole or cut to the session's textsize.
#include "tds_ctlib.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace tdstest {
namespace {

using Guard = std::unique_ptr<CS_COMMAND, CS_RETCODE (*)(CS_COMMAND*)>;

constexpr size_t kMegabyte = 1 << 20;

std::string Pattern(size_t n) {
  std::string s(n, ' ');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7 + i / 1000) % 26);
  return s;
}

class TdsTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server = sampleserver::SampleServer::Start(sampleserver::ServerOptions{});
    client = std::make_unique<Client>(server->Port(), "sa", "", 4096);
    ASSERT_EQ(client->Connect(), CS_SUCCEED);
    Outcome o = client->Run("create table #big (id int, t text null, i image null)");
    ASSERT_EQ(o.end, CS_END_RESULTS);
  }
  void TearDown() override {
    client.reset();
    server->Stop();
  }

  struct Fetched {
    std::vector<std::string> text;
    std::vector<std::string> image;
    std::vector<CS_INT> pointerLengths;
    std::vector<CS_IODESC> descriptors;
  };

  // Reads (t, i) rows whole with ct_get_data, and each text column's I/O descriptor.
  Fetched ReadBack(const std::string& sql) {
    Fetched out;
    CS_COMMAND* cmd = nullptr;
    EXPECT_EQ(ct_cmd_alloc(client->Connection(), &cmd), CS_SUCCEED);
    Guard guard(cmd, ct_cmd_drop);
    ct_command(cmd, CS_LANG_CMD, const_cast<char*>(sql.c_str()), CS_NULLTERM, CS_UNUSED);
    EXPECT_EQ(ct_send(cmd), CS_SUCCEED);
    CS_INT type = 0;
    while (ct_results(cmd, &type) == CS_SUCCEED) {
      if (type != CS_ROW_RESULT) continue;
      while (ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, nullptr) == CS_SUCCEED) {
        for (CS_INT col = 1; col <= 2; ++col) {
          std::string value;
          std::vector<char> piece(64 * 1024);
          CS_INT got = 0;
          CS_RETCODE rc;
          while ((rc = ct_get_data(cmd, col, piece.data(), static_cast<CS_INT>(piece.size()),
                                   &got)) == CS_SUCCEED)
            value.append(piece.data(), static_cast<size_t>(got));
          EXPECT_TRUE(rc == CS_END_ITEM || rc == CS_END_DATA) << rc;
          value.append(piece.data(), static_cast<size_t>(got));
          CS_IODESC io{};
          if (ct_data_info(cmd, CS_GET, col, &io) == CS_SUCCEED) {
            out.pointerLengths.push_back(io.textptrlen);
            out.descriptors.push_back(io);
          }
          (col == 1 ? out.text : out.image).push_back(std::move(value));
        }
      }
    }
    return out;
  }

  // Inserts through a prepared statement with a text and an image parameter.
  void InsertWithParameters(int id, const std::string& text, const std::string& image) {
    CS_COMMAND* cmd = nullptr;
    ASSERT_EQ(ct_cmd_alloc(client->Connection(), &cmd), CS_SUCCEED);
    Guard guard(cmd, ct_cmd_drop);
    ASSERT_EQ(ct_dynamic(cmd, CS_PREPARE, const_cast<char*>("big"), CS_NULLTERM,
                         const_cast<char*>("insert #big values (?, ?, ?)"), CS_NULLTERM),
              CS_SUCCEED);
    Outcome o;
    ASSERT_EQ(ct_send(cmd), CS_SUCCEED);
    Client::Drain(cmd, o);
    ASSERT_EQ(
        ct_dynamic(cmd, CS_EXECUTE, const_cast<char*>("big"), CS_NULLTERM, nullptr, CS_UNUSED),
        CS_SUCCEED);
    CS_INT n = id;
    CS_DATAFMT f{};
    f.status = CS_INPUTVALUE;
    f.datatype = CS_INT_TYPE;
    f.maxlength = sizeof n;
    ASSERT_EQ(ct_param(cmd, &f, &n, sizeof n, 0), CS_SUCCEED);
    f.datatype = CS_TEXT_TYPE;
    f.maxlength = static_cast<CS_INT>(text.size());
    ASSERT_EQ(
        ct_param(cmd, &f, const_cast<char*>(text.data()), static_cast<CS_INT>(text.size()), 0),
        CS_SUCCEED);
    f.datatype = CS_IMAGE_TYPE;
    f.maxlength = static_cast<CS_INT>(image.size());
    ASSERT_EQ(
        ct_param(cmd, &f, const_cast<char*>(image.data()), static_cast<CS_INT>(image.size()), 0),
        CS_SUCCEED);
    ASSERT_EQ(ct_send(cmd), CS_SUCCEED);
    o = Outcome{};
    Client::Drain(cmd, o);
    EXPECT_EQ(o.types, (std::vector<CS_INT>{CS_CMD_SUCCEED, CS_CMD_DONE}))
        << (client->serverMsgs.empty() ? "" : client->serverMsgs.back().text);
    EXPECT_EQ(o.counts, (std::vector<CS_INT>{1}));
  }

  // Replaces the value `io` describes with ct_send_data, in pieces; returns what ct_results gave.
  Outcome SendData(CS_IODESC io, const std::string& data, size_t piece) {
    Outcome o;
    CS_COMMAND* cmd = nullptr;
    EXPECT_EQ(ct_cmd_alloc(client->Connection(), &cmd), CS_SUCCEED);
    Guard guard(cmd, ct_cmd_drop);
    EXPECT_EQ(ct_command(cmd, CS_SEND_DATA_CMD, nullptr, CS_UNUSED, CS_COLUMN_DATA), CS_SUCCEED);
    io.total_txtlen = static_cast<CS_INT>(data.size());
    io.log_on_update = CS_TRUE;
    EXPECT_EQ(ct_data_info(cmd, CS_SET, CS_UNUSED, &io), CS_SUCCEED);
    for (size_t at = 0; at < data.size(); at += piece) {
      CS_INT n = static_cast<CS_INT>(std::min(piece, data.size() - at));
      EXPECT_EQ(ct_send_data(cmd, const_cast<char*>(data.data() + at), n), CS_SUCCEED);
    }
    EXPECT_EQ(ct_send(cmd), CS_SUCCEED);
    Client::Drain(cmd, o);
    return o;
  }

  std::unique_ptr<sampleserver::SampleServer> server;
  std::unique_ptr<Client> client;
};

TEST_F(TdsTextTest, AMegabyteWrittenAsALiteralComesBackWhole) {
  std::string text = Pattern(kMegabyte);
  Outcome o =
      client->Run("insert #big values (1, '" + text + "', 0x" + std::string(2 * 100000, 'a') + ")");
  ASSERT_EQ(o.types, (std::vector<CS_INT>{CS_CMD_SUCCEED, CS_CMD_DONE}))
      << (client->serverMsgs.empty() ? "" : client->serverMsgs.back().text);
  o = client->Run("set textsize 2000000");
  ASSERT_EQ(o.end, CS_END_RESULTS);
  Fetched f = ReadBack("select t, i from #big");
  ASSERT_EQ(f.text.size(), 1u);
  EXPECT_EQ(f.text[0].size(), text.size());
  EXPECT_TRUE(f.text[0] == text);
  EXPECT_EQ(f.image[0], std::string(100000, '\xaa'));
  // Every value carries a text pointer for ct_data_info.
  EXPECT_EQ(f.pointerLengths, (std::vector<CS_INT>{16, 16}));
  EXPECT_EQ(client->Run("select datalength(t) from #big").sets.at(0).rows.at(0).at(0),
            std::to_string(kMegabyte));
}

TEST_F(TdsTextTest, AMegabyteWrittenAsParametersComesBackWhole) {
  std::string text = Pattern(kMegabyte);
  std::string image = Pattern(kMegabyte / 2);
  image[10] = '\0';  // binary data, not text
  InsertWithParameters(2, text, image);
  ASSERT_EQ(client->Run("set textsize 2147483647").end, CS_END_RESULTS);
  Fetched f = ReadBack("select t, i from #big where id = 2");
  ASSERT_EQ(f.text.size(), 1u);
  EXPECT_EQ(f.text[0].size(), text.size());
  EXPECT_TRUE(f.text[0] == text);
  EXPECT_EQ(f.image[0].size(), image.size());
  EXPECT_TRUE(f.image[0] == image);
}

TEST_F(TdsTextTest, TextsizeCutsValuesFromSetAndFromTheOptionCommand) {
  std::string text = Pattern(100000);
  InsertWithParameters(3, text, "xyz");
  // The default textsize is 32768.
  Fetched f = ReadBack("select t, i from #big");
  ASSERT_EQ(f.text.size(), 1u);
  EXPECT_EQ(f.text[0], text.substr(0, 32768));
  ASSERT_EQ(client->Run("set textsize 100").end, CS_END_RESULTS);
  f = ReadBack("select t, i from #big");
  EXPECT_EQ(f.text[0], text.substr(0, 100));
  EXPECT_EQ(f.image[0], "xyz");
  EXPECT_EQ(client->Run("select @@textsize").sets.at(0).rows.at(0).at(0), "100");
  // ct_options(CS_OPT_TEXTSIZE) arrives as the option command.
  CS_INT size = 5000;
  ASSERT_EQ(ct_options(client->Connection(), CS_SET, CS_OPT_TEXTSIZE, &size, CS_UNUSED, nullptr),
            CS_SUCCEED);
  f = ReadBack("select t, i from #big");
  EXPECT_EQ(f.text[0], text.substr(0, 5000));
  EXPECT_EQ(client->Run("select @@textsize").sets.at(0).rows.at(0).at(0), "5000");
}

TEST_F(TdsTextTest, SendDataReplacesValuesThroughTheirTextPointers) {
  ASSERT_EQ(
      client->Run("insert #big values (4, 'old', 0x01) insert #big values (5, 'other', 0x02)").end,
      CS_END_RESULTS);
  ASSERT_EQ(client->Run("set textsize 1000000").end, CS_END_RESULTS);
  Fetched before = ReadBack("select t, i from #big where id = 4");
  ASSERT_EQ(before.descriptors.size(), 2u);
  // Far more than a 4096-byte packet, sent in uneven pieces.
  std::string text = Pattern(300000);
  std::string image = Pattern(70000);
  image[5] = '\0';
  for (auto [io, data] :
       {std::pair{before.descriptors[0], text}, std::pair{before.descriptors[1], image}}) {
    Outcome o = SendData(io, data, 7001);
    EXPECT_EQ(o.types, (std::vector<CS_INT>{CS_CMD_SUCCEED, CS_CMD_DONE}))
        << (client->serverMsgs.empty() ? "" : client->serverMsgs.back().text);
    EXPECT_EQ(o.end, CS_END_RESULTS);
  }
  Fetched after = ReadBack("select t, i from #big order by id");
  ASSERT_EQ(after.text.size(), 2u);
  EXPECT_EQ(after.text[0].size(), text.size());
  EXPECT_TRUE(after.text[0] == text);
  EXPECT_TRUE(after.image[0] == image);
  EXPECT_EQ(after.text[1], "other");  // only the designated row changed
  // The session goes on normally after the bulk message.
  EXPECT_EQ(client->Run("select datalength(t) from #big where id = 4").sets.at(0).rows.at(0).at(0),
            "300000");
}

}  // namespace
}  // namespace tdstest
