#include "platform/digest.h"

#include <openssl/evp.h>

#include <new>

#include "base/text.h"

namespace plenvar::platform {

namespace {

// Fetched once: OpenSSL 3 looks the algorithm up again at every
// EVP_sha256() init otherwise, a cost per message file.
const EVP_MD* Algorithm() {
  static EVP_MD* const md = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  return md;
}

}  // namespace

struct Sha256::State {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  ~State() { EVP_MD_CTX_free(context); }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  if (state_->context == nullptr || Algorithm() == nullptr ||
      EVP_DigestInit_ex(state_->context, Algorithm(), nullptr) != 1)
    throw std::bad_alloc();
}

Sha256::~Sha256() = default;

void Sha256::Add(std::string_view data) {
  if (EVP_DigestUpdate(state_->context, data.data(), data.size()) != 1) throw std::bad_alloc();
}

std::string Sha256::Hex() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned size = 0;
  if (EVP_DigestFinal_ex(state_->context, digest, &size) != 1) throw std::bad_alloc();
  return LowerHex(digest, size);
}

std::string Sha256Hex(std::string_view data) {
  Sha256 digest;
  digest.Add(data);
  return digest.Hex();
}

}  // namespace plenvar::platform
