#include "typenames.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::array<const char*, 23> kTypeNames = {
    "char",
    "binary",
    "char",
    "binary",
    "text",
    "image",
    "tinyint",
    "smallint",
    "int",
    "real",
    "float",
    "bit",
    "datetime",
    "smalldatetime",
    "money",
    "smallmoney",
    "numeric",
    "decimal",
    "varchar",
    "varbinary",
    "int",
    "sensitivity",
    "sensitivity_boundry",
};

int TypeWidth(int maxLength, int code) {
  switch (code) {
    case 0:
    case 4:
    case 5:
    case 18:  // char, text, image, varchar
      return maxLength;
    case 1:
    case 19: {  // binary, varbinary: two hex digits a byte and "0x", within reason
      const long long hex = 2LL * maxLength + 2;  // 64-bit: a 2 GB image must not overflow
      return static_cast<int>(std::min<long long>(hex, std::max(1024, maxLength)));
    }
    case 6:
    case 11: return 3;
    case 7: return 6;
    case 8: return 11;
    case 9:
    case 10:
    case 14:
    case 15: return 24;
    case 12:
    case 13: return 30;
    case 16:
    case 17: return 79;
    // Types newer servers report: the common width would cut their values short.
    case 28:
    case 36: return 20;  // time, bigtime
    case 30:
    case 32:
    case 33: return 20;  // bigint, unsigned int, unsigned bigint
    case 35: return 30;  // bigdatetime
    default: return 12;
  }
}

}  // namespace

QString NorvTypeName(int code) {
  if (code == -1) return QStringLiteral("illegal");
  if (code == 23 || code == 24) return QStringLiteral("unknown");
  if (code >= 0 && code < static_cast<int>(kTypeNames.size()))
    return QString::fromLatin1(kTypeNames[static_cast<size_t>(code)]);
  return QStringLiteral("unknown/illegal");
}

int NorvDisplayLength(int maxLength, int code, int nameLength) {
  return std::max(TypeWidth(maxLength, code), nameLength);
}
