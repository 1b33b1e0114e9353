#include "base/mail_date.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace plenvar {
namespace {

constexpr std::int64_t kNone = -1;

std::int64_t Read(const std::string& text) { return ParseMailDate(text).value_or(kNone); }

// Each expected time was computed apart from this code: the row's reading
// under the date grammar of mail, written in its plain modern form, turned
// into seconds by another language's library.
TEST(MailDateTest, ReadsEveryFormMailHasCarried) {
  const struct {
    std::string text;
    std::int64_t seconds;
  } cases[] = {
      {"Tue, 1 Jul 2003 10:52:37 +0200", 1057049557},
      {"1 Jul 2003 10:52:37 +0200", 1057049557},
      {"Tue, 01 Jul 2003 10:52:37 -0000", 1057056757},
      {"Thu, 1 Jan 1970 00:00:00 +0000", 0},
      {"Sun, 31 Dec 2006 23:59:59 -1200", 1167652799},
      {"Mon, 1 Jan 2007 00:00:00 +1400", 1167559200},
      {"Fri, 13 Feb 2009 23:31:30 +0000", 1234567890},
      {"Fri, 13 Feb 2009 18:31:30 -0500", 1234567890},
      {"Wed, 4 Mar 1998 08:13 +0100", 888995580},
      {"4 Mar 1998 08:13:21 +0530", 888979401},
      {"  4 Mar 1998 08:13:21 +0530  ", 888979401},
      {"\t4 Mar 1998\t08:13:21\t+0530", 888979401},
      {"tue, 1 jul 2003 10:52:37 +0200", 1057049557},
      {"TUE, 1 JUL 2003 10:52:37 gmt", 1057056757},
      {"15 Jan 2001 12:00:00 +0000", 979560000},
      {"15 Feb 2001 12:00:00 +0000", 982238400},
      {"15 Mar 2001 12:00:00 +0000", 984657600},
      {"15 Apr 2001 12:00:00 +0000", 987336000},
      {"15 May 2001 12:00:00 +0000", 989928000},
      {"15 Jun 2001 12:00:00 +0000", 992606400},
      {"15 Jul 2001 12:00:00 +0000", 995198400},
      {"15 Aug 2001 12:00:00 +0000", 997876800},
      {"15 Sep 2001 12:00:00 +0000", 1000555200},
      {"15 Oct 2001 12:00:00 +0000", 1003147200},
      {"15 Nov 2001 12:00:00 +0000", 1005825600},
      {"15 Dec 2001 12:00:00 +0000", 1008417600},
      {"1 Jul 2003 10:52:37 UT", 1057056757},
      {"1 Jul 2003 10:52:37 GMT", 1057056757},
      {"1 Jul 2003 10:52:37 EST", 1057074757},
      {"1 Jul 2003 10:52:37 EDT", 1057071157},
      {"1 Jul 2003 10:52:37 CST", 1057078357},
      {"1 Jul 2003 10:52:37 CDT", 1057074757},
      {"1 Jul 2003 10:52:37 MST", 1057081957},
      {"1 Jul 2003 10:52:37 MDT", 1057078357},
      {"1 Jul 2003 10:52:37 PST", 1057085557},
      {"1 Jul 2003 10:52:37 PDT", 1057081957},
      {"1 Jul 2003 10:52:37 Z", 1057056757},
      {"1 Jul 2003 10:52:37 A", 1057056757},
      {"1 Jul 2003 10:52:37 m", 1057056757},
      {"1 Jul 2003 10:52:37 Y", 1057056757},
      {"1 Jul 2003 10:52:37 CEST", 1057056757},
      {"1 Jul 2003 10:52:37 MET", 1057056757},
      {"Mon, 12 Jan 1998 15:34:30 -0500 (EST)", 884637270},
      {"Mon, 12 Jan 1998 15:34:30 +0100 MET", 884615670},
      {"1 Jul 03 10:52:37 +0200", 1057049557},
      {"1 Jul 37 10:52:37 +0000", 2130058357},
      {"1 Jul 49 10:52:37 +0000", 2147483647},
      {"1 Jul 50 10:52:37 +0000", 0},
      {"1 Jul 70 10:52:37 +0000", 15677557},
      {"Mon, 12 Jan 98 15:34:30 -0500", 884637270},
      {"1 Jul 00 00:00:00 +0000", 962409600},
      {"1 Jul 103 10:52:37 +0000", 1057056757},
      {"1 Jul 099 10:52:37 +0000", 930826357},
      {"Tue(day),(x) 1 (of) Jul (month) 2003 (year) 10 : 52 : 37 (time) +0200 (CEST)", 1057049557},
      {"(a (nested) comment) 1 Jul 2003 10:52:37 +0200", 1057049557},
      {"1 Jul 2003 10:52:37 +0200 (with \\) a quoted paren)", 1057049557},
      {"Tue,\r\n 1 Jul 2003\r\n\t10:52:37\r\n +0200", 1057049557},
      {"Tue , 1 Jul 2003 10:52:37 +0200", 1057049557},
      {"29 Feb 2004 12:00:00 +0000", 1078056000},
      {"29 Feb 2000 12:00:00 +0000", 951825600},
      {"31 Dec 2016 23:59:60 +0000", 1483228800},
      {"31 Dec 1969 19:00:00 -0500", 0},
      {"1 Jan 1900 00:00:00 +0000", 0},
      {"31 Dec 1969 23:59:59 +0000", 0},
      {"1 Jan 10000 00:00:00 +0000", 2147483647},
      {"31 Dec 9999 23:59:59 -2359", 2147483647},
      {"19 Jan 2038 03:14:07 +0000", 2147483647},
      {"19 Jan 2038 03:14:08 +0000", 2147483647},
      {"19 Jan 2038 04:14:07 +0100", 2147483647},
      {"1 Jan 123456789012 00:00:00 +0000", 2147483647},
      {"", kNone},
      {"   (only a comment)", kNone},
      {"garbage", kNone},
      {"Tue 1 Jul 2003 10:52:37 +0200", kNone},
      {"Tuesday, 1 Jul 2003 10:52:37 +0200", kNone},
      {"Xyz, 1 Jul 2003 10:52:37 +0200", kNone},
      {"1 July 2003 10:52:37 +0200", kNone},
      {"1 Jux 2003 10:52:37 +0200", kNone},
      {"123 Jul 2003 10:52:37 +0200", kNone},
      {"0 Jul 2003 10:52:37 +0200", kNone},
      {"32 Jan 2003 10:52:37 +0200", kNone},
      {"31 Apr 2003 10:52:37 +0200", kNone},
      {"29 Feb 2003 10:52:37 +0200", kNone},
      {"29 Feb 1900 10:52:37 +0200", kNone},
      {"1 Jul 7 10:52:37 +0200", kNone},
      {"1 Jul 1899 10:52:37 +0200", kNone},
      {"1 Jul 2003 24:00:00 +0200", kNone},
      {"1 Jul 2003 10:60:00 +0200", kNone},
      {"1 Jul 2003 10:52:61 +0200", kNone},
      {"1 Jul 2003 1:52:37 +0200", kNone},
      {"1 Jul 2003 10:5:37 +0200", kNone},
      {"1 Jul 2003 10:52:37", kNone},
      {"1 Jul 2003 10:52:37 +020", kNone},
      {"1 Jul 2003 10:52:37 +02000", kNone},
      {"1 Jul 2003 10:52:37 +0260", kNone},
      {"1 Jul 2003 10:52:37 0200", kNone},
      {"1 Jul 2003 10:52:37 +0200 (unclosed", kNone},
      {"1 Jul 2003 10:52:37 +0200 x y", kNone},
      {"1 Jul 2003 10:52:37 +0200 ;", kNone},
      {"1 Jul 2003 10:52 37 +0200", kNone},
      {std::string("1 Jul 2003 10:52:37 +0200\0", 26), kNone},
      {std::string("1\0 Jul 2003 10:52:37 +0200", 26), kNone},
      {"1 Jul 2003", kNone},
  };
  for (const auto& c : cases) EXPECT_EQ(Read(c.text), c.seconds) << c.text;
}

// The log's form of a time; the expected texts are another library's.
TEST(MailDateTest, FormatsTimesAsTheLogWritesThem) {
  const struct {
    std::int64_t seconds;
    const char* text;
  } cases[] = {{0, "1970-01-01T00:00:00Z"},
               {951782400, "2000-02-29T00:00:00Z"},
               {1057049557, "2003-07-01T08:52:37Z"},
               {4107542399, "2100-02-28T23:59:59Z"},
               {kLatestMailTime, "2038-01-19T03:14:07Z"},
               {253402300799, "9999-12-31T23:59:59Z"},
               {-1, "-1"},
               {253402300800, "253402300800"}};
  for (const auto& c : cases) EXPECT_EQ(FormatMailTime(c.seconds), c.text) << c.seconds;
}

// Which field gives the time: the first Received: field's date after its
// last ';', else the first Date: field's; only the header is read.
TEST(MailDateTest, FindsTheTimeInTheHeader) {
  constexpr std::int64_t kJuly = 1057049557;    // 1 Jul 2003 08:52:37 +0000
  constexpr std::int64_t kJanuary = 884637270;  // 12 Jan 1998 20:34:30 +0000
  constexpr std::int64_t kMarch = 889004001;    // 4 Mar 1998 09:33:21 +0000
  const std::string received = "Received: from a by b; Tue, 1 Jul 2003 10:52:37 +0200\r\n";
  const std::string date = "Date: Mon, 12 Jan 1998 15:34:30 -0500\r\n";
  const struct {
    std::string message;
    std::optional<MessageTime> time;
  } cases[] = {
      {received + date + "\r\nbody\r\n", MessageTime{TimeSource::kReceived, kJuly}},
      {date + received + "\r\nbody\r\n", MessageTime{TimeSource::kReceived, kJuly}},
      {date + "Subject: x\r\n\r\nbody\r\n", MessageTime{TimeSource::kDate, kJanuary}},
      {"Received: from a by b (no date)\r\n" + date + "\r\n",
       MessageTime{TimeSource::kDate, kJanuary}},
      {"Received: from a; not a date\r\n" + received + "\r\n", std::nullopt},
      {"Received: from a\r\n\tby b (x; y)\r\n\t;\r\n Wed, 4 Mar 1998 09:33:21 +0000\r\n\r\n",
       MessageTime{TimeSource::kReceived, kMarch}},
      {"received : from a; 4 Mar 1998 09:33:21 GMT\r\n\r\n",
       MessageTime{TimeSource::kReceived, kMarch}},
      {"DATE:4 Mar 1998 09:33:21 UT\r\n\r\n", MessageTime{TimeSource::kDate, kMarch}},
      {"From a@b Tue Jul  1 10:52:37 2003\r\n" + received + "\r\n",
       MessageTime{TimeSource::kReceived, kJuly}},
      {"X-Received: from a; 4 Mar 1998 09:33:21 GMT\r\nResent-Date: 4 Mar 1998 09:33:21 GMT\r\n" +
           date + "\r\n",
       MessageTime{TimeSource::kDate, kJanuary}},
      {"Date: bad\r\n" + date + "\r\n", std::nullopt},
      {"Subject: x\r\n\r\n" + received + date, std::nullopt},
      {"\r\n" + received, std::nullopt},
      {received, MessageTime{TimeSource::kReceived, kJuly}},
      {"Received: from a; Tue, 1 Jul 2003 10:52:37 +0200",
       MessageTime{TimeSource::kReceived, kJuly}},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    std::optional<MessageTime> found = FindMessageTime(c.message);
    ASSERT_EQ(found.has_value(), c.time.has_value()) << c.message;
    if (!found) continue;
    EXPECT_EQ(found->source, c.time->source) << c.message;
    EXPECT_EQ(found->seconds, c.time->seconds) << c.message;
  }
}

}  // namespace
}  // namespace plenvar
