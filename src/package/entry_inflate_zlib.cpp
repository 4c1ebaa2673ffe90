// One zlib inflate call over a whole stream into an exact output area. In a
// file of its own so that programs that only use inflate_exact do not link
// zlib's decoder.
#include <zlib.h>

#include "entry_inflate.h"

bool inflate_exact_zlib(const uint8_t* in, size_t in_size, uint8_t* out, size_t out_size) {
  if (in_size > UINT32_MAX || out_size > UINT32_MAX) return false;
  // zlib refuses a null output pointer even for zero bytes of room.
  uint8_t no_room = 0;
  z_stream stream = {};
  stream.next_in = const_cast<Bytef*>(in);
  stream.avail_in = static_cast<uInt>(in_size);
  stream.next_out = out_size != 0 ? out : &no_room;
  stream.avail_out = static_cast<uInt>(out_size);
  if (inflateInit_(&stream, ZLIB_VERSION, static_cast<int>(sizeof(z_stream))) != Z_OK) {
    return false;
  }
  int result = inflate(&stream, Z_NO_FLUSH);
  // Z_STREAM_END means the checksum held; anything else is a short, long
  // or damaged stream.
  bool exact = result == Z_STREAM_END && stream.total_out == out_size;
  inflateEnd(&stream);
  return exact;
}

bool inflate_stream_matches(const uint8_t* in, size_t in_size, uint64_t expected_size,
                            uint8_t* scratch, size_t scratch_size) {
  if (in_size > UINT32_MAX || scratch_size == 0 || scratch_size > UINT32_MAX) return false;
  z_stream stream = {};
  stream.next_in = const_cast<Bytef*>(in);
  stream.avail_in = static_cast<uInt>(in_size);
  if (inflateInit_(&stream, ZLIB_VERSION, static_cast<int>(sizeof(z_stream))) != Z_OK) {
    return false;
  }
  int result = Z_OK;
  // Stop as soon as the output passes the expected size: a stream that
  // would give more is damaged whatever follows.
  while (result == Z_OK && stream.total_out <= expected_size) {
    stream.next_out = scratch;
    stream.avail_out = static_cast<uInt>(scratch_size);
    result = inflate(&stream, Z_NO_FLUSH);
  }
  bool exact = result == Z_STREAM_END && stream.total_out == expected_size;
  inflateEnd(&stream);
  return exact;
}
