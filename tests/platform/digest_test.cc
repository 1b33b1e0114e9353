#include "platform/digest.h"

#include <gtest/gtest.h>

#include <string>

namespace plenvar::platform {
namespace {

// FIPS 180-2's examples, and text fed in pieces that split a 64-byte block.
TEST(Sha256Test, KnownDigestsWholeAndInPieces) {
  const std::string million(1000000, 'a');
  const struct {
    const char* name;
    std::string text;
    const char* hex;
  } cases[] = {
      {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"two blocks", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"a million a", million, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Sha256Hex(c.text), c.hex) << c.name;
    Sha256 pieces;
    for (std::size_t at = 0; at < c.text.size(); at += 37)
      pieces.Add(std::string_view(c.text).substr(at, 37));
    EXPECT_EQ(pieces.Hex(), c.hex) << c.name << " in pieces of 37";
  }
}

}  // namespace
}  // namespace plenvar::platform
