// The name of the installation lock; portable so that its form is tested
// natively.
#include "installation_lock.h"

std::u16string installation_lock_name(std::u16string_view folded_key) {
  // FNV-1a over the code units' little-endian bytes.
  uint64_t hash = 0xcbf29ce484222325ull;
  for (char16_t unit : folded_key) {
    for (int shift = 0; shift < 16; shift += 8) {
      hash ^= static_cast<uint8_t>(unit >> shift);
      hash *= 0x100000001b3ull;
    }
  }
  std::u16string name = u"Global\\KorvindaUpdate-";
  static const char16_t kHex[] = u"0123456789abcdef";
  for (int shift = 60; shift >= 0; shift -= 4) name.push_back(kHex[(hash >> shift) & 0xF]);
  return name;
}
