// Where the cutter hands the messages of one mail file.
#ifndef PLENVAR_EXTRACT_MESSAGE_SINK_H_
#define PLENVAR_EXTRACT_MESSAGE_SINK_H_

#include <cstdint>
#include <string_view>

#include "extract/text_buffer.h"

namespace plenvar {

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // The mail file is open and this large, before any of its messages.
  virtual void Opened(std::uint64_t /*size*/) {}
  // The next message. When `owner` is not null (a large message) the message
  // lies in *owner: the sink may take the buffer (move it away) to spare a
  // copy. One it leaves is the cutter's again once this returns.
  virtual void Message(std::string_view text, TextBuffer* owner) = 0;
  // Asked once a block: whether the cutter cuts the mail file short here,
  // since the run was asked to stop. A sink that answers yes may note that its
  // mail file was cut short: the cutter asks no more.
  virtual bool CutShort() = 0;
};

}  // namespace plenvar

#endif  // PLENVAR_EXTRACT_MESSAGE_SINK_H_
