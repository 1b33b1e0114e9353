// When a message was received, read from its own header: the date-time of
// mail fields, with the obsolete forms mail has carried for decades.
#ifndef PLENVAR_BASE_MAIL_DATE_H_
#define PLENVAR_BASE_MAIL_DATE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace plenvar {

// Seconds since 1970-01-01T00:00:00Z. Every time the reader gives lies in
// [0, kLatestMailTime]; a date outside is clamped to the nearer end, since a
// message file can carry no other and the date itself was readable. The end
// is the last second every file system a target may lie on holds (ext4 with
// small inodes and XFS without big timestamps stop there): a later time would
// be clamped by the file system itself, and a verify then never agree.
inline constexpr std::int64_t kLatestMailTime = 2147483647;  // 2038-01-19T03:14:07Z

// The time a date-time field body names (the text after "Date:", or after a
// "Received:" field's last ';'), folds, comments and all; nullopt when the
// text is no date-time. A year before 1900 is none; an unknown zone name or a
// military letter counts as -0000; a day name that does not fit the date is
// not checked, as readers of mail never have.
std::optional<std::int64_t> ParseMailDate(std::string_view text);

// Where a message's time came from, in the order they are tried.
enum class TimeSource { kReceived, kDate, kMailFile };

struct MessageTime {
  TimeSource source = TimeSource::kMailFile;
  std::int64_t seconds = 0;
};

// The date-time of the message's first "Received:" field, else of its first
// "Date:" field; nullopt when neither can be read. Looks only at the header,
// which ends at the first empty line, and copies nothing.
std::optional<MessageTime> FindMessageTime(std::string_view message);

// A time as the log writes it: "2003-07-01T08:52:37Z" (UTC), for any time in
// [0, kLatestMailTime]; a time outside is written as its count of seconds.
std::string FormatMailTime(std::int64_t seconds);

}  // namespace plenvar

#endif  // PLENVAR_BASE_MAIL_DATE_H_
