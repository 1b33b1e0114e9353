// What the program says to its user: a notice, and the icons it may carry.
#ifndef PLENVAR_BASE_NOTICE_H_
#define PLENVAR_BASE_NOTICE_H_

#include <string>

namespace plenvar {

// The message box icons of the notices, by their Windows codes.
enum NoticeStyle { kIconError = 0x10, kIconWarning = 0x30, kIconInformation = 0x40 };

struct Notice {
  std::string text;  // lines separated by CR LF
  std::string title;
  int style;
};

}  // namespace plenvar

#endif  // PLENVAR_BASE_NOTICE_H_
