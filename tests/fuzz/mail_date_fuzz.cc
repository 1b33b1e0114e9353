// Arbitrary header text for the date reader: no crash, no read past the
// header (what follows its end changes nothing), and no time outside the
// range a message file can carry.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/mail_date.h"

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "mail_date_fuzz: %s\n", what);
    std::abort();
  }
}

bool InRange(std::int64_t t) { return t >= 0 && t <= plenvar::kLatestMailTime; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::optional<std::int64_t> date = plenvar::ParseMailDate(text);
  Check(!date || InRange(*date), "a date-time out of range");

  std::optional<plenvar::MessageTime> time = plenvar::FindMessageTime(text);
  Check(!time || InRange(time->seconds), "a message time out of range");
  Check(!time || time->source != plenvar::TimeSource::kMailFile, "a field named the mail file");

  // The same text as a header with a body after it: the body is never read.
  const std::string message =
      text +
      "\r\n\r\nReceived: x; 1 Jan 2001 00:00:00 +0000\r\nDate: 1 Jan 2002 00:00:00 +0000\r\n";
  std::optional<plenvar::MessageTime> withBody = plenvar::FindMessageTime(message);
  Check(withBody.has_value() == time.has_value(), "the body changed whether a time was found");
  Check(!time || (withBody->source == time->source && withBody->seconds == time->seconds),
        "the body changed the time");
  return 0;
}
