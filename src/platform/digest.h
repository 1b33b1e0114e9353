// SHA-256, from the system's own cryptography (libcrypto on POSIX, CNG on
// Windows), never our own: a manifest is only worth what its digest is.
#ifndef PLENVAR_PLATFORM_DIGEST_H_
#define PLENVAR_PLATFORM_DIGEST_H_

#include <memory>
#include <string>
#include <string_view>

namespace plenvar::platform {

// A digest fed in pieces, for text that is never whole in memory.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  void Add(std::string_view data);
  // The digest of everything added, in 64 lower-case hex digits; the object
  // is spent.
  std::string Hex();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The digest of `data`, in 64 lower-case hex digits.
std::string Sha256Hex(std::string_view data);

}  // namespace plenvar::platform

#endif  // PLENVAR_PLATFORM_DIGEST_H_
