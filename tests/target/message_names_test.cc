#include "target/message_names.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace plenvar {
namespace {

TEST(MessageNamesTest, NamesByEighteenDigits) {
  EXPECT_EQ(MessageFileName(1), "000000000000000001.MAI");
  EXPECT_EQ(MessageFileName(2147483648), "000000002147483648.MAI");  // past 32 bits
  // What a verify and a rerun take a name in the target for.
  const struct {
    const char* name;
    NameKind kind;
  } names[] = {{"000000000000000042.MAI", NameKind::kMessageFile},
               {"000000000000000042.MAI.tmp", NameKind::kTemporary},
               {"000000000000000007-3.MAI.tmp", NameKind::kTemporary},
               {"000000000000000007-12.MAI.tmp", NameKind::kTemporary},
               {"000000000000000007-x.MAI.tmp", NameKind::kOther},
               {"000000000000000007-.MAI.tmp", NameKind::kOther},
               {"000000000000000007-3x.MAI.tmp", NameKind::kOther},
               {"000000000000000007-3.MAI", NameKind::kOther},
               {"00000000000000042.MAI", NameKind::kOther},
               {"000000000000000000.MAI", NameKind::kMessageFile},  // never one it writes
               {"000000000000000000-1.MAI.tmp", NameKind::kTemporary},
               {"000000000000000042.mai", NameKind::kOther},
               {"000000000000000042.MAI.bak", NameKind::kOther}};
  for (const auto& n : names) {
    std::int64_t number = 0;
    EXPECT_EQ(KindOfName(n.name, &number), n.kind) << n.name;
  }
}

}  // namespace
}  // namespace plenvar
