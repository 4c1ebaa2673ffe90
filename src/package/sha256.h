// SHA-256 as the package code sees it: one function over one span, handed
// in by the caller, so that the byte-level checks stay portable. The
// implementation (nettle in the Windows programs, OpenSSL's libcrypto in the
// native ones) is reached through a PlatformSha256.
#pragma once

#include <cstddef>
#include <cstdint>

#include "package_format.h"

struct Sha256Function {
  // False when the platform could not hash; *system_error then says why.
  bool (*digest)(void* context, const uint8_t* data, size_t size, uint8_t* out,
                 uint32_t* system_error);
  void* context;
};

// The platform's SHA-256, opened once and released by its owner.
struct PlatformSha256 {
  PlatformSha256();
  ~PlatformSha256();
  PlatformSha256(const PlatformSha256&) = delete;
  PlatformSha256& operator=(const PlatformSha256&) = delete;

  Sha256Function function();
};

// SHA-256 fed in pieces, for writers that stream an entry and cannot hold it
// whole. Restarted by begin(); a failure is sticky until the next begin().
class Sha256Stream {
 public:
  Sha256Stream();
  ~Sha256Stream();
  Sha256Stream(const Sha256Stream&) = delete;
  Sha256Stream& operator=(const Sha256Stream&) = delete;

  void begin();
  void update(const uint8_t* data, size_t size);
  // False when the platform failed at any step since begin().
  bool finish(uint8_t (&out)[kSha256Size]);

 private:
  void release();
  PlatformSha256 platform_;
  void* state_ = nullptr;  // EVP_MD_CTX or nettle's sha256_ctx
  bool failed_ = false;
};
