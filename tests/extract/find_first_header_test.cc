#include <gtest/gtest.h>

#include "extract/extract.h"

namespace plenvar {
namespace {

TEST(FindFirstHeaderTest, EarliestKeywordAnywhere) {
  struct Case {
    std::string text;
    std::size_t position;
  };
  const Case cases[] = {
      {"", 0},
      {"no keyword here", 0},
      {"Received: a", 1},
      {"xxDate: a", 3},
      {"Subject: s\r\nReceived: r", 1},  // earliest wins, not the first listed
      {"Content-Type: t\r\nDate: d", 1},
      {"Resent-Date: d", 8},
      {"Return-Path: <a>", 1},
      {"received: date: subject:", 0},  // exact letter case only
      {"DateReceived:", 5},
      {"Dat", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindFirstHeader(c.text), c.position) << "text \"" << c.text << "\"";
  }
}

TEST(FindFirstHeaderTest, NoCapOnThePosition) {
  std::string text(20'000'000, 'x');
  text += "Content-Type: far";
  EXPECT_EQ(FindFirstHeader(text), 20'000'001u);
}

}  // namespace
}  // namespace plenvar
