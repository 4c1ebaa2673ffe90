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
