// A message's time: found in its header by the date-time reader, and written
// as the log writes it.
#include <algorithm>
#include <cstdio>

#include "base/mail_date.h"
#include "base/text.h"

namespace plenvar {
namespace {

// A header field's name, followed by optional white space and its colon, in
// any letter case, at the start of a line; the field's body starts after.
std::size_t BodyStart(std::string_view line, std::string_view upperName) {
  if (line.size() <= upperName.size() ||
      !std::equal(upperName.begin(), upperName.end(), line.begin(),
                  [](char upper, char c) { return AsciiUpper(c) == upper; }))
    return 0;
  std::size_t at = upperName.size();
  while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
  return at < line.size() && line[at] == ':' ? at + 1 : 0;
}

}  // namespace

std::optional<MessageTime> FindMessageTime(std::string_view message) {
  std::optional<std::int64_t> date;
  bool receivedSeen = false, dateSeen = false;
  std::size_t at = 0;
  while (at < message.size()) {
    // One field: its first line and every line that folds onto it.
    std::size_t end = at;
    for (;;) {
      std::size_t cr = message.find("\r\n", end);
      end = cr == std::string_view::npos ? message.size() : cr;
      if (end + 2 < message.size() && (message[end + 2] == ' ' || message[end + 2] == '\t')) {
        end += 2;
        continue;
      }
      break;
    }
    std::string_view field = message.substr(at, end - at);
    if (field.empty()) break;  // the empty line that ends the header
    at = end + 2;

    if (!receivedSeen) {
      if (std::size_t body = BodyStart(field, "RECEIVED")) {
        receivedSeen = true;
        std::size_t semicolon = field.rfind(';');
        if (semicolon != std::string_view::npos && semicolon >= body) {
          if (std::optional<std::int64_t> t = ParseMailDate(field.substr(semicolon + 1)))
            return MessageTime{TimeSource::kReceived, *t};
        }
        continue;
      }
    }
    if (!dateSeen) {
      if (std::size_t body = BodyStart(field, "DATE")) {
        dateSeen = true;
        date = ParseMailDate(field.substr(body));
      }
    }
    if (receivedSeen && dateSeen) break;
  }
  if (date) return MessageTime{TimeSource::kDate, *date};
  return std::nullopt;
}

std::string FormatMailTime(std::int64_t seconds) {
  constexpr std::int64_t kEndOf9999 = 253402300799;
  if (seconds < 0 || seconds > kEndOf9999) return std::to_string(seconds);
  // The civil date of a day count, the inverse of DaysFromCivil.
  const std::int64_t z = seconds / 86400 + 719468, second = seconds % 86400;
  const std::int64_t era = z / 146097, doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
  const std::int64_t day = doy - (153 * mp + 2) / 5 + 1, month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yoe + era * 400 + (month <= 2);
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", static_cast<int>(year),
                static_cast<int>(month), static_cast<int>(day), static_cast<int>(second / 3600),
                static_cast<int>(second / 60 % 60), static_cast<int>(second % 60));
  return text;
}

}  // namespace plenvar
