#include "connection/norvexception.h"

#include <gtest/gtest.h>
#include <QStringList>

#include <optional>
#include <utility>

TEST(NorvException, NumbersSelectTheStandardMessage) {
  EXPECT_EQ(ENorvException("7").Message(), "Invalid TimeOut value");
  EXPECT_EQ(ENorvException("0").Message(), "ctx_alloc Failed");
  EXPECT_EQ(ENorvException("24").Message(), "cs_locale Failed");
  EXPECT_EQ(ENorvException("17").Message(), "ct_con_props CS_PACKETSIZE Failed");
  EXPECT_STREQ(ENorvException("8").what(), "ct_con_alloc Failed");
}

TEST(NorvException, OtherTextsAreTheMessageItself) {
  EXPECT_EQ(ENorvException("x7").Message(), "x7");
  EXPECT_EQ(ENorvException("7x").Message(), "7x");
  EXPECT_EQ(ENorvException(" 7").Message(), " 7");
  EXPECT_EQ(ENorvException("").Message(), "");
  // Numbers the table has no entry for stay as they are rather than failing.
  EXPECT_EQ(ENorvException("25").Message(), "25");
  EXPECT_EQ(ENorvException("-1").Message(), "-1");
  EXPECT_EQ(ENorvException("99999999999999999999").Message(), "99999999999999999999");
}

TEST(NorvException, CarriesTheTableNumberItWasBuiltFrom) {
  const std::pair<const char*, std::optional<int>> cases[] = {
      {"0", 0},
      {"7", 7},
      {"24", 24},
      {"x7", std::nullopt},
      {"25", std::nullopt},
      {" 7", std::nullopt},
      {"Could not login to Server", std::nullopt}};
  for (const auto& [text, number] : cases)
    EXPECT_EQ(ENorvException(text).TableNumber(), number) << text;
}

TEST(NorvException, TableHasTwentyFiveDistinctEntries) {
  QStringList all;
  for (int i = 0; i < ENorvException::kStandardMessageCount; ++i) {
    ASSERT_FALSE(ENorvException::StandardMessage(i).isEmpty()) << i;
    all << ENorvException::StandardMessage(i);
  }
  all.removeDuplicates();
  EXPECT_EQ(all.size(), 25);
  EXPECT_EQ(ENorvException::StandardMessage(22), "ct_command Failed");
  EXPECT_EQ(ENorvException::StandardMessage(23), "ct_send Failed");
}

TEST(NorvException, HierarchyLetsCallersCatchTheCommonBase) {
  auto thrower = [](int which) {
    if (which == 0) throw ENorvException("1");
    if (which == 1) throw EDatabaseError("db");
    throw EAbort();
  };
  for (int i = 0; i < 3; ++i) {
    try {
      thrower(i);
      FAIL();
    } catch (const Exception& e) {
      EXPECT_FALSE(e.Message().isEmpty());
    }
  }
}
