// Consistency of the sample database script: every row fits its table's declared columns, the
// keys rows refer to exist, the rules bound to columns hold, and every date reads.
#include "engine/datetime.h"
#include "engine/sample_script.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>
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

bool StartsWith(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

std::vector<std::string> Words(const std::string& s) {
  std::vector<std::string> words;
  std::string w;
  for (char c : s) {
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '_') {
      w += c;
    } else if (!w.empty()) {
      words.push_back(w);
      w.clear();
    }
  }
  if (!w.empty()) words.push_back(w);
  return words;
}

// Reads a column definition such as " au_lname varchar(40) not null".
std::optional<Column> ParseColumn(const std::string& def,
                                  const std::map<std::string, int>& userTypes) {
  std::vector<std::string> w = Words(def);
  if (w.size() < 2) return std::nullopt;
  Column c{w[0], w[1], 0, false};
  if (w.size() >= 3 && std::isdigit(static_cast<unsigned char>(w[2][0])))
    c.length = std::stoi(w[2]);
  c.nullable = w.back() == "null" && w[w.size() - 2] != "not";
  if (auto it = userTypes.find(c.type); it != userTypes.end()) c.length = it->second;
  return c;
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
  for (const std::string& b : sc.batches) {
    std::istringstream lines(b);
    while (std::getline(lines, line)) {
      if (StartsWith(line, "exec sp_addtype ")) {
        // exec sp_addtype id, 'varchar(11)', 'not null'
        std::vector<std::string> w = Words(line);
        if (w.size() >= 5) sc.userTypeLengths[w[2]] = std::stoi(w[4]);
      } else if (StartsWith(line, "insert into ")) {
        size_t open = line.find(" values (");
        if (open == std::string::npos || line.back() != ')') continue;
        std::string table = line.substr(12, open - 12);
        sc.rows[table].push_back(ParseTuple(line.substr(open + 9, line.size() - open - 10)));
      }
    }
    if (size_t at = b.find("create table "); at != std::string::npos) {
      size_t open = b.find('(', at), close = b.rfind(')');
      if (open == std::string::npos || close == std::string::npos || close < open) continue;
      std::string table = Words(b.substr(at + 13, open - at - 13)).at(0);
      std::istringstream cols(b.substr(open + 1, close - open - 1));
      std::string def;
      while (std::getline(cols, def, ','))
        if (auto c = ParseColumn(def, sc.userTypeLengths)) sc.tables[table].push_back(*c);
    }
  }
  return sc;
}

bool IsHexBlob(const std::string& s) {
  if (s.size() < 4 || s.size() % 2 != 0 || !StartsWith(s, "0x")) return false;
  for (size_t i = 2; i < s.size(); ++i)
    if (!std::isxdigit(static_cast<unsigned char>(s[i]))) return false;
  return true;
}

// like '[A-Z][A-Z][0-9][0-9][0-9][0-9]'
bool TitleRule(const std::string& s) {
  return s.size() == 6 && std::isupper(static_cast<unsigned char>(s[0])) &&
         std::isupper(static_cast<unsigned char>(s[1])) &&
         std::all_of(s.begin() + 2, s.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

// in ('1001', '1002', '1003', '1004') or like '99[0-9][0-9]'
bool PubRule(const std::string& s) {
  if (s == "1001" || s == "1002" || s == "1003" || s == "1004") return true;
  return s.size() == 4 && StartsWith(s, "99") && std::isdigit(static_cast<unsigned char>(s[2])) &&
         std::isdigit(static_cast<unsigned char>(s[3]));
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
          EXPECT_TRUE(IsHexBlob(r[i].text)) << r[i].text;
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
  for (const auto& r : sc.rows["titles"]) EXPECT_TRUE(TitleRule(r[0].text)) << r[0].text;
  for (const auto& r : sc.rows["publishers"]) EXPECT_TRUE(PubRule(r[0].text)) << r[0].text;
  // The rules the script creates are the ones checked here.
  std::string all;
  for (const auto& b : sc.batches) all += b;
  EXPECT_NE(all.find("@title_id like '[A-Z][A-Z][0-9][0-9][0-9][0-9]'"), std::string::npos);
  EXPECT_NE(all.find("@pub_id in ('1001', '1002', '1003', '1004') or @pub_id like '99[0-9][0-9]'"),
            std::string::npos);
  // Some titles have sales and some do not, so the delete trigger has both cases to refuse and
  // allow.
  std::set<std::string> sold;
  for (const auto& r : sc.rows["salesdetail"]) sold.insert(r[2].text);
  EXPECT_GT(sold.size(), 0u);
  EXPECT_LT(sold.size(), sc.rows["titles"].size());
}

}  // namespace
}  // namespace sampleserver
