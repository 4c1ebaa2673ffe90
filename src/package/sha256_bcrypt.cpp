// SHA-256 from bcrypt.dll, which every supported Windows ships. The
// algorithm provider is opened once per owner; each digest makes and
// destroys one hash object, which works from Windows Vista on.
#include <windows.h>
#include <bcrypt.h>

#include "sha256.h"

namespace {

// BCryptHashData takes a ULONG: very large spans go in slices.
constexpr size_t kSliceSize = 1u << 30;

bool bcrypt_digest(void* context, const uint8_t* data, size_t size, uint8_t* out,
                   uint32_t* system_error) {
  BCRYPT_ALG_HANDLE algorithm = static_cast<BCRYPT_ALG_HANDLE>(context);
  if (algorithm == nullptr) {
    *system_error = static_cast<uint32_t>(ERROR_NOT_SUPPORTED);
    return false;
  }
  BCRYPT_HASH_HANDLE hash = nullptr;
  NTSTATUS status = BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0);
  for (size_t done = 0; BCRYPT_SUCCESS(status) && done < size;) {
    size_t slice = size - done < kSliceSize ? size - done : kSliceSize;
    status = BCryptHashData(hash, const_cast<PUCHAR>(data + done), static_cast<ULONG>(slice), 0);
    done += slice;
  }
  if (BCRYPT_SUCCESS(status)) {
    status = BCryptFinishHash(hash, out, static_cast<ULONG>(kSha256Size), 0);
  }
  if (hash != nullptr) BCryptDestroyHash(hash);
  if (!BCRYPT_SUCCESS(status)) *system_error = static_cast<uint32_t>(status);
  return BCRYPT_SUCCESS(status);
}

}  // namespace

PlatformSha256::PlatformSha256() {
  BCRYPT_ALG_HANDLE handle = nullptr;
  NTSTATUS status = BCryptOpenAlgorithmProvider(&handle, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
  if (BCRYPT_SUCCESS(status)) {
    algorithm = handle;
  } else {
    open_error = static_cast<uint32_t>(status);
  }
}

PlatformSha256::~PlatformSha256() {
  if (algorithm != nullptr) BCryptCloseAlgorithmProvider(algorithm, 0);
}

Sha256Function PlatformSha256::function() { return Sha256Function{bcrypt_digest, algorithm}; }

Sha256Stream::Sha256Stream() = default;
Sha256Stream::~Sha256Stream() { release(); }

void Sha256Stream::release() {
  if (state_ != nullptr) BCryptDestroyHash(static_cast<BCRYPT_HASH_HANDLE>(state_));
  state_ = nullptr;
}

void Sha256Stream::begin() {
  release();
  BCRYPT_HASH_HANDLE hash = nullptr;
  failed_ = platform_.algorithm == nullptr ||
            !BCRYPT_SUCCESS(BCryptCreateHash(static_cast<BCRYPT_ALG_HANDLE>(platform_.algorithm),
                                             &hash, nullptr, 0, nullptr, 0, 0));
  state_ = failed_ ? nullptr : hash;
}

void Sha256Stream::update(const uint8_t* data, size_t size) {
  for (size_t done = 0; !failed_ && done < size;) {
    size_t slice = size - done < kSliceSize ? size - done : kSliceSize;
    failed_ = !BCRYPT_SUCCESS(BCryptHashData(static_cast<BCRYPT_HASH_HANDLE>(state_),
                                             const_cast<PUCHAR>(data + done),
                                             static_cast<ULONG>(slice), 0));
    done += slice;
  }
}

bool Sha256Stream::finish(uint8_t (&out)[kSha256Size]) {
  bool ok = !failed_ && BCRYPT_SUCCESS(BCryptFinishHash(static_cast<BCRYPT_HASH_HANDLE>(state_),
                                                        out, static_cast<ULONG>(kSha256Size), 0));
  release();
  failed_ = true;  // until the next begin()
  return ok;
}
