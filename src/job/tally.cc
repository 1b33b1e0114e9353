#include "job/tally.h"

namespace plenvar {

void Tally::CountMessage(std::int64_t number, std::size_t size) {
  if (messages_++ == 0) first_ = number;
  bytes_ += static_cast<std::int64_t>(size);
}

void Tally::Kept(std::int64_t number, std::size_t size) {
  CountMessage(number, size);
  ++report_.done.inPlace;
}

void Tally::NotWritten(const std::string& path, std::string reason, const std::string& mailFile) {
  abandoned_ = true;
  report_.Fail(plenvar::NotWritten(path, std::move(reason), mailFile));
}

void Tally::EndMailFile(const std::string& source, const std::string& targetFolder,
                        std::optional<Failure> failure) {
  report_.MailFileDone(source, targetFolder, first_, messages_, bytes_);
  if (failure && !abandoned_) report_.Fail(std::move(*failure));
  abandoned_ = false;
  first_ = messages_ = bytes_ = 0;
}

}  // namespace plenvar
