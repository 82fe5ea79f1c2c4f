// Consistency of the sample database script: every row fits its table's declared columns, the
// keys rows refer to exist, the rules bound to columns hold, and every date reads.
#include "engine/datetime.h"
#include "engine/sample_script.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace sampleserver {
namespace {

struct Column {
  std::string name, type;
  int length = 0;  // declared length of char/varchar, 0 otherwise
  bool nullable = false;
};

struct Cell {
  bool null = false;
  std::string text;  // literal text: string contents, number or 0x digits
};

struct Script {
  std::map<std::string, std::vector<Column>> tables;
  std::map<std::string, std::vector<std::vector<Cell>>> rows;
  std::map<std::string, int> userTypeLengths;
  std::vector<std::string> batches;
};

// Reads the comma-separated literals of a values (...) list.
std::vector<Cell> ParseTuple(const std::string& s) {
  std::vector<Cell> cells;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ' ' || s[i] == ',')) ++i;
    if (i >= s.size()) break;
    Cell c;
    if (s[i] == '\'') {
      for (++i; i < s.size(); ++i) {
        if (s[i] == '\'' && i + 1 < s.size() && s[i + 1] == '\'') {
          c.text += '\'';
          ++i;
        } else if (s[i] == '\'') {
          ++i;
          break;
        } else {
          c.text += s[i];
        }
      }
    } else {
      size_t j = s.find(',', i);
      if (j == std::string::npos) j = s.size();
      c.text = s.substr(i, j - i);
      while (!c.text.empty() && c.text.back() == ' ') c.text.pop_back();
      c.null = c.text == "null";
      i = j;
    }
    cells.push_back(c);
  }
  return cells;
}

Script Load() {
  Script sc;
  std::istringstream in(kPubs2Script);
  std::string line, batch;
  while (std::getline(in, line)) {
    if (line == "go") {
      sc.batches.push_back(batch);
      batch.clear();
    } else {
      batch += line + "\n";
    }
  }
  std::regex addtype(R"(exec sp_addtype (\w+), '(?:var)?char\((\d+)\)')");
  std::regex create(R"(create table (\w+)\s*\(([\s\S]*)\))");
  std::regex column(R"(^\s*(\w+) (\w+)(?:\((\d+)\))?( null)?)");
  std::regex insert(R"(^insert into (\w+) values \((.*)\)$)");
  for (const std::string& b : sc.batches) {
    for (std::sregex_iterator it(b.begin(), b.end(), addtype), end; it != end; ++it)
      sc.userTypeLengths[(*it)[1]] = std::stoi((*it)[2]);
    std::smatch m;
    if (std::regex_search(b, m, create)) {
      std::string body = m[2];
      std::istringstream cols(body);
      std::string def;
      while (std::getline(cols, def, ',')) {
        std::smatch cm;
        if (!std::regex_search(def, cm, column)) continue;
        Column c{cm[1], cm[2], cm[3].matched ? std::stoi(cm[3]) : 0, cm[4].matched};
        if (sc.userTypeLengths.count(c.type)) c.length = sc.userTypeLengths[c.type];
        sc.tables[m[1]].push_back(c);
      }
    }
    std::istringstream lines(b);
    while (std::getline(lines, line)) {
      std::smatch im;
      if (std::regex_match(line, im, insert)) sc.rows[im[1]].push_back(ParseTuple(im[2]));
    }
  }
  return sc;
}

std::set<std::string> Keys(const Script& sc, const std::string& table, size_t col) {
  std::set<std::string> keys;
  for (const auto& r : sc.rows.at(table)) keys.insert(r.at(col).text);
  return keys;
}

TEST(ValuesPubs2Script, RowsFitTheirTables) {
  Script sc = Load();
  for (const char* t : {"authors", "publishers", "titles", "titleauthor", "stores", "sales",
                        "salesdetail", "discounts", "roysched", "au_pix", "blurbs"}) {
    ASSERT_TRUE(sc.tables.count(t)) << t;
    ASSERT_TRUE(sc.rows.count(t)) << t;
  }
  EXPECT_GE(sc.rows["authors"].size(), 20u);
  EXPECT_GE(sc.rows["titles"].size(), 20u);
  for (const auto& [table, rows] : sc.rows) {
    const auto& cols = sc.tables.at(table);
    for (const auto& r : rows) {
      ASSERT_EQ(r.size(), cols.size()) << table << " row starting " << r[0].text;
      for (size_t i = 0; i < r.size(); ++i) {
        const Column& c = cols[i];
        // Columns of user types (id, tid) are not null, as their types say.
        if (r[i].null) {
          EXPECT_TRUE(c.nullable) << table << "." << c.name;
          continue;
        }
        if (c.length > 0) {
          EXPECT_LE(r[i].text.size(), static_cast<size_t>(c.length))
              << table << "." << c.name << " " << r[i].text;
        }
        if (c.type == "datetime") {
          EXPECT_TRUE(ParseDateTime(r[i].text).has_value()) << r[i].text;
        }
        if (c.type == "image") {
          EXPECT_TRUE(std::regex_match(r[i].text, std::regex("0x([0-9a-f]{2})+"))) << r[i].text;
        }
      }
    }
  }
}

TEST(ValuesPubs2Script, KeysAreUniqueAndReferencesResolve) {
  Script sc = Load();
  EXPECT_EQ(Keys(sc, "authors", 0).size(), sc.rows["authors"].size());
  EXPECT_EQ(Keys(sc, "titles", 0).size(), sc.rows["titles"].size());
  EXPECT_EQ(Keys(sc, "publishers", 0).size(), sc.rows["publishers"].size());
  auto authors = Keys(sc, "authors", 0), titles = Keys(sc, "titles", 0),
       pubs = Keys(sc, "publishers", 0), stores = Keys(sc, "stores", 0);
  for (const auto& r : sc.rows["titleauthor"]) {
    EXPECT_TRUE(authors.count(r[0].text)) << r[0].text;
    EXPECT_TRUE(titles.count(r[1].text)) << r[1].text;
  }
  std::set<std::string> orders;
  for (const auto& r : sc.rows["sales"]) {
    EXPECT_TRUE(stores.count(r[0].text)) << r[0].text;
    EXPECT_TRUE(orders.insert(r[0].text + "/" + r[1].text).second) << r[1].text;
  }
  for (const auto& r : sc.rows["salesdetail"]) {
    EXPECT_TRUE(orders.count(r[0].text + "/" + r[1].text)) << r[1].text;
    EXPECT_TRUE(titles.count(r[2].text)) << r[2].text;
  }
  for (const auto& r : sc.rows["titles"]) {
    if (!r[3].null) {
      EXPECT_TRUE(pubs.count(r[3].text)) << r[3].text;
    }
  }
  for (const auto& r : sc.rows["roysched"]) EXPECT_TRUE(titles.count(r[0].text)) << r[0].text;
  for (const char* t : {"au_pix", "blurbs"})
    for (const auto& r : sc.rows[t]) EXPECT_TRUE(authors.count(r[0].text)) << r[0].text;
  // Each title's royalty shares add up to 100.
  std::map<std::string, int> shares;
  for (const auto& r : sc.rows["titleauthor"]) shares[r[1].text] += std::stoi(r[3].text);
  for (const auto& [title, total] : shares) EXPECT_EQ(total, 100) << title;
}

TEST(ValuesPubs2Script, RowsObeyTheBoundRules) {
  Script sc = Load();
  std::regex titleRule("[A-Z][A-Z][0-9]{4}");
  std::regex pubRule("1001|1002|1003|1004|99[0-9][0-9]");
  for (const auto& r : sc.rows["titles"]) EXPECT_TRUE(std::regex_match(r[0].text, titleRule)) << r[0].text;
  for (const auto& r : sc.rows["publishers"]) EXPECT_TRUE(std::regex_match(r[0].text, pubRule)) << r[0].text;
  // The rules the script creates are the ones checked here.
  std::string all;
  for (const auto& b : sc.batches) all += b;
  EXPECT_NE(all.find("@title_id like '[A-Z][A-Z][0-9][0-9][0-9][0-9]'"), std::string::npos);
  EXPECT_NE(all.find("@pub_id in ('1001', '1002', '1003', '1004') or @pub_id like '99[0-9][0-9]'"),
            std::string::npos);
  // Some titles have sales and some do not, so the delete trigger has both cases to refuse and allow.
  std::set<std::string> sold;
  for (const auto& r : sc.rows["salesdetail"]) sold.insert(r[2].text);
  EXPECT_GT(sold.size(), 0u);
  EXPECT_LT(sold.size(), sc.rows["titles"].size());
}

}  // namespace
}  // namespace sampleserver
