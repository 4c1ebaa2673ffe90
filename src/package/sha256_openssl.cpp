// SHA-256 from OpenSSL's libcrypto, for the native builds.
#include <openssl/evp.h>

#include "sha256.h"

namespace {

bool openssl_digest(void*, const uint8_t* data, size_t size, uint8_t* out,
                    uint32_t* system_error) {
  unsigned int length = 0;
  bool ok = EVP_Digest(data, size, out, &length, EVP_sha256(), nullptr) == 1 &&
            length == kSha256Size;
  if (!ok) *system_error = 0;
  return ok;
}

}  // namespace

PlatformSha256::PlatformSha256() = default;
PlatformSha256::~PlatformSha256() = default;

Sha256Function PlatformSha256::function() { return Sha256Function{openssl_digest, nullptr}; }

Sha256Stream::Sha256Stream() = default;
Sha256Stream::~Sha256Stream() { release(); }

void Sha256Stream::release() {
  EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(state_));
  state_ = nullptr;
}

void Sha256Stream::begin() {
  release();
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  state_ = context;
  failed_ = context == nullptr || EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1;
}

void Sha256Stream::update(const uint8_t* data, size_t size) {
  if (failed_ || size == 0) return;
  failed_ = EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(state_), data, size) != 1;
}

bool Sha256Stream::finish(uint8_t (&out)[kSha256Size]) {
  unsigned int length = 0;
  bool ok = !failed_ &&
            EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(state_), out, &length) == 1 &&
            length == kSha256Size;
  release();
  failed_ = true;  // until the next begin()
  return ok;
}
