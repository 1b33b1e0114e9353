// CNG's SHA-256 (bcrypt.dll, in every Windows since Vista): nothing to ship
// beside the .exe.
#include <windows.h>
// After windows.h, whose types it uses.
#include <bcrypt.h>

#include <algorithm>
#include <new>

#include "base/text.h"
#include "platform/digest.h"

namespace plenvar::platform {

namespace {

// Opened once for the process: opening the provider costs far more than a
// hash, and its handle may be shared by every thread.
BCRYPT_ALG_HANDLE Algorithm() {
  static const BCRYPT_ALG_HANDLE algorithm = [] {
    BCRYPT_ALG_HANDLE opened = nullptr;
    return BCryptOpenAlgorithmProvider(&opened, BCRYPT_SHA256_ALGORITHM, nullptr, 0) >= 0 ? opened
                                                                                          : nullptr;
  }();
  return algorithm;
}

}  // namespace

struct Sha256::State {
  BCRYPT_HASH_HANDLE hash = nullptr;
  ~State() {
    if (hash != nullptr) BCryptDestroyHash(hash);
  }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  if (Algorithm() == nullptr ||
      BCryptCreateHash(Algorithm(), &state_->hash, nullptr, 0, nullptr, 0, 0) < 0)
    throw std::bad_alloc();
}

Sha256::~Sha256() = default;

void Sha256::Add(std::string_view data) {
  // A ULONG a call: a message past 4 GiB goes in pieces.
  constexpr std::size_t kPiece = 1u << 30;
  for (std::size_t at = 0; at < data.size(); at += kPiece) {
    const std::size_t size = std::min(kPiece, data.size() - at);
    auto* bytes = reinterpret_cast<PUCHAR>(const_cast<char*>(data.data() + at));
    if (BCryptHashData(state_->hash, bytes, static_cast<ULONG>(size), 0) < 0)
      throw std::bad_alloc();
  }
}

std::string Sha256::Hex() {
  UCHAR digest[32];
  if (BCryptFinishHash(state_->hash, digest, sizeof digest, 0) < 0) throw std::bad_alloc();
  return LowerHex(digest, sizeof digest);
}

std::string Sha256Hex(std::string_view data) {
  Sha256 digest;
  digest.Add(data);
  return digest.Hex();
}

}  // namespace plenvar::platform
