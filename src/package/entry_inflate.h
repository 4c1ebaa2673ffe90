// Inflation of one zlib-format stream into an output area of exact size.
#pragma once

#include <cstddef>
#include <cstdint>

// True only when the stream is complete, its checksum holds and it gives
// exactly out_size bytes: fewer or more is a failure. Decodes with
// libdeflate, whole buffer to whole buffer.
bool inflate_exact(const uint8_t* in, size_t in_size, uint8_t* out, size_t out_size);

// The same contract with one zlib inflate call; kept so that the benchmarks
// and the tests can hold the two decoders side by side.
bool inflate_exact_zlib(const uint8_t* in, size_t in_size, uint8_t* out, size_t out_size);

// Inflates the stream through `scratch` again and again, keeping nothing,
// and says whether it is complete, its Adler-32 holds and it gives exactly
// expected_size bytes. Memory stays the scratch and zlib's window whatever
// the entry's size.
bool inflate_stream_matches(const uint8_t* in, size_t in_size, uint64_t expected_size,
                            uint8_t* scratch, size_t scratch_size);
