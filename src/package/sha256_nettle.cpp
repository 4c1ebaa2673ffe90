// SHA-256 from nettle, linked statically into the Windows programs. Its
// "fat" build picks the SHA instructions when the processor has them, which
// bcrypt.dll under Wine does not: the check of a 170 MB package went from
// about 0.7 s to a fraction of that. Hashing cannot fail here.
#include <nettle/sha2.h>

#include <memory>

#include "sha256.h"

namespace {

bool nettle_digest(void*, const uint8_t* data, size_t size, uint8_t* out, uint32_t*) {
  sha256_ctx context;
  sha256_init(&context);
  sha256_update(&context, size, data);
  sha256_digest(&context, kSha256Size, out);
  return true;
}

}  // namespace

PlatformSha256::PlatformSha256() = default;
PlatformSha256::~PlatformSha256() = default;

Sha256Function PlatformSha256::function() { return Sha256Function{nettle_digest, nullptr}; }

Sha256Stream::Sha256Stream() = default;
Sha256Stream::~Sha256Stream() { release(); }

void Sha256Stream::release() {
  delete static_cast<sha256_ctx*>(state_);
  state_ = nullptr;
}

void Sha256Stream::begin() {
  release();
  auto context = std::make_unique<sha256_ctx>();
  sha256_init(context.get());
  state_ = context.release();
  failed_ = false;
}

void Sha256Stream::update(const uint8_t* data, size_t size) {
  if (failed_ || size == 0) return;
  sha256_update(static_cast<sha256_ctx*>(state_), size, data);
}

bool Sha256Stream::finish(uint8_t (&out)[kSha256Size]) {
  bool ok = !failed_ && state_ != nullptr;
  if (ok) sha256_digest(static_cast<sha256_ctx*>(state_), kSha256Size, out);
  release();
  failed_ = true;  // until the next begin()
  return ok;
}
