#include "walk/walk.h"

#include <gtest/gtest.h>

namespace plenvar {
namespace {

TEST(MatchesMaskTest, CoreAnywhereIgnoringCase) {
  struct Case {
    const char* name;
    const char* mask;
    bool selected;
  };
  const Case cases[] = {
      {"inbox.msg", "*.*", true},   {"inbox", "*.*", false},      {"inbox.msg", "*.msg", true},
      {"INBOX.MSG", "*.msg", true}, {"a.msg.bak", "*.msg", true}, {"a.txt", "*.msg", false},
      {"anything", "*", true},      {"anything", "", true},       {"a?b", "a?b", true},
      {"axb", "a?b", false},        {"in.msg", "in*msg", false},  {"inmsg", "in*msg", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchesMask(c.name, c.mask), c.selected) << c.name << " with mask " << c.mask;
  }
}

TEST(IsOwnOutputNameTest, MessageAndTemporaryShapesOnly) {
  const std::pair<const char*, bool> cases[] = {
      {"000000000000000001.MAI", true},       {"000000000000000000.mai", true},
      {"000000000000000007-3.MAI.tmp", true}, {"000000000000000007.MAI.TMP", true},
      {"000000000000000007-3.MAI", false},    {"000000000000000007-.MAI.tmp", false},
      {"00000000000000001.MAI", false},       {"0000000000000000001.MAI", false},
      {"00000000000000000x.MAI", false},      {"000000000000000001.MAIL", false},
      {"000000000000000001.MAI.tmpx", false}, {"inbox.msg", false},
  };
  for (const auto& [name, own] : cases) EXPECT_EQ(IsOwnOutputName(name), own) << name;
}

TEST(TargetFolderOfTest, MirrorsTheRelativePart) {
  struct Case {
    const char* source;
    const char* target;
    const char* folder;
    const char* expected;
  };
  const Case cases[] = {
      {"C:\\Old\\Mailboxes", "D:\\New", "C:\\Old\\Mailboxes", "D:\\New\\"},
      {"C:\\Old\\Mailboxes", "D:\\New", "C:\\Old\\Mailboxes\\anna", "D:\\New\\anna"},
      {"C:\\Old\\Mailboxes", "D:\\New", "C:\\Old\\Mailboxes\\anna\\sent", "D:\\New\\anna\\sent"},
      {"C:\\Old\\Mailboxes\\", "D:\\New", "C:\\Old\\Mailboxes\\anna", "D:\\New\\anna"},
      {"c:\\old\\MAILBOXES", "D:\\New", "C:\\Old\\Mailboxes\\anna", "D:\\New\\anna"},
      // Only the leading occurrence goes.
      {"\\m", "\\t", "\\m\\x\\m\\y", "\\t\\x\\m\\y"},
      {"src", "out", "src\\src", "out\\src"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TargetFolderOf(c.source, c.target, c.folder), c.expected)
        << c.folder << " from " << c.source;
  }
}

}  // namespace
}  // namespace plenvar
