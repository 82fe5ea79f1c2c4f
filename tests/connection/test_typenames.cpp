#include "connection/openclient.h"
#include "connection/typenames.h"

#include <gtest/gtest.h>

TEST(TypeNames, CodesAndOutOfRangeValues) {
  EXPECT_EQ(NorvTypeName(0), "char");
  EXPECT_EQ(NorvTypeName(2), "char");
  EXPECT_EQ(NorvTypeName(19), "varbinary");
  EXPECT_EQ(NorvTypeName(20), "int");
  EXPECT_EQ(NorvTypeName(22), "sensitivity_boundry");
  EXPECT_EQ(NorvTypeName(12), "datetime");
  EXPECT_EQ(NorvTypeName(13), "smalldatetime");
  EXPECT_EQ(NorvTypeName(23), "unknown");
  EXPECT_EQ(NorvTypeName(24), "unknown");
  EXPECT_EQ(NorvTypeName(40), "unknown/illegal");
  EXPECT_EQ(NorvTypeName(-2), "unknown/illegal");
  EXPECT_EQ(NorvTypeName(CS_ILLEGAL_TYPE), "illegal");
}

TEST(TypeNames, DisplayWidths) {
  EXPECT_EQ(NorvDisplayLength(600, CS_VARBINARY_TYPE, 4), 1024);
  EXPECT_EQ(NorvDisplayLength(2000, CS_VARBINARY_TYPE, 4), 2000);
  EXPECT_EQ(NorvDisplayLength(8, CS_BINARY_TYPE, 4), 18);
  EXPECT_EQ(NorvDisplayLength(4, CS_INT_TYPE, 16), 16);
  EXPECT_EQ(NorvDisplayLength(4, CS_INT_TYPE, 2), 11);
  EXPECT_EQ(NorvDisplayLength(255, CS_CHAR_TYPE, 3), 255);
  EXPECT_EQ(NorvDisplayLength(1, CS_BIT_TYPE, 1), 3);
  EXPECT_EQ(NorvDisplayLength(2, CS_SMALLINT_TYPE, 1), 6);
  EXPECT_EQ(NorvDisplayLength(8, CS_MONEY_TYPE, 1), 24);
  EXPECT_EQ(NorvDisplayLength(8, CS_DATETIME_TYPE, 1), 30);
  EXPECT_EQ(NorvDisplayLength(17, CS_NUMERIC_TYPE, 1), 79);
  EXPECT_EQ(NorvDisplayLength(4, 23, 1), 12);
}

TEST(TypeNames, WidthsThatMustNotCutValues) {
  // A bigint needs 20 characters ("-9223372036854775808").
  EXPECT_GE(NorvDisplayLength(8, CS_BIGINT_TYPE, 1), 20);
  EXPECT_GE(NorvDisplayLength(8, CS_UBIGINT_TYPE, 1), 20);
  // A huge image column must not overflow the binary width rule.
  EXPECT_EQ(NorvDisplayLength(0x7fffffff, CS_IMAGE_TYPE, 5), 0x7fffffff);
  EXPECT_EQ(NorvDisplayLength(0x7fffffff, CS_VARBINARY_TYPE, 5), 0x7fffffff);
}
