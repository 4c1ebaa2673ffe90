// One libdeflate call over a whole stream into an exact output area.
#include "entry_inflate.h"

#include <libdeflate.h>

bool inflate_exact(const uint8_t* in, size_t in_size, uint8_t* out, size_t out_size) {
  if (in_size > UINT32_MAX || out_size > UINT32_MAX) return false;
  // A zero-byte output still gets a valid pointer, like the zlib path.
  uint8_t no_room = 0;
  libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
  if (decompressor == nullptr) return false;
  size_t produced = 0;
  // SUCCESS means the stream ended and its Adler-32 held; more than
  // out_size bytes gives INSUFFICIENT_SPACE, fewer is caught by the count.
  libdeflate_result result = libdeflate_zlib_decompress(
      decompressor, in, in_size, out_size != 0 ? out : &no_room, out_size, &produced);
  libdeflate_free_decompressor(decompressor);
  return result == LIBDEFLATE_SUCCESS && produced == out_size;
}
