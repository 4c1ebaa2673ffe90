// Decoding file entries ahead of their writer: a second thread decodes the
// next entries into one bounded ring of memory while the caller writes the
// current one, and hands them over strictly in the order they were asked
// for. Portable: std::thread, one mutex, two condition variables.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "package.h"

enum class AheadState {
  kDecoded,     // data holds exactly size bytes of the entry's content
  kFailed,      // the entry does not decode to its size (or is not an entry)
  kNotDecoded,  // too large to hold here: the caller decodes it itself
};

struct AheadEntry {
  int index = -1;
  AheadState state = AheadState::kNotDecoded;
  const uint8_t* data = nullptr;  // kDecoded only; valid until the next take
  size_t size = 0;
};

// Decodes one entry into `size` bytes at `destination`; true when it gave
// exactly its content. The default is load_entry_into; a caller may wrap it
// (the updater guards the package's view against faults there).
using EntryDecoder = bool (*)(const Package& package, int index, uint8_t* destination,
                              size_t size);

class DecodeAhead {
 public:
  // Decodes the entries of `order`, in that order, each of at most
  // `largest_decoded` bytes (larger ones are handed over as kNotDecoded),
  // holding at most `budget` bytes of decoded content at once. When the
  // thread or the memory cannot be had, every entry is kNotDecoded.
  DecodeAhead(const Package& package, std::vector<int> order, size_t largest_decoded,
              size_t budget, EntryDecoder decoder = nullptr);
  // Stops the decoding thread, whether or not every entry was taken.
  ~DecodeAhead();
  DecodeAhead(const DecodeAhead&) = delete;
  DecodeAhead& operator=(const DecodeAhead&) = delete;

  // Releases the entry taken before and waits for the next one in order;
  // false once every entry of the order was taken.
  bool take(AheadEntry* entry);

  // Bytes of the ring (0 when nothing is decoded ahead), for the tests.
  size_t ring_capacity() const { return capacity_; }

 private:
  struct Slot {
    int index;
    AheadState state;
    bool pending;      // still being decoded
    bool holds_bytes;  // owns the oldest reservation once it is the front
    size_t offset;
    size_t size;
  };
  struct Reservation {
    size_t offset;
    size_t size;
  };

  void decode_all();
  bool reserve(size_t size, size_t* offset) const;
  void release_held();

  const Package& package_;
  const std::vector<int> order_;
  size_t largest_decoded_ = 0;
  EntryDecoder decoder_function_ = nullptr;
  size_t capacity_ = 0;
  std::unique_ptr<uint8_t[]> ring_;

  std::mutex mutex_;
  std::condition_variable ready_;  // the front slot was decoded
  std::condition_variable space_;  // ring bytes were released
  std::deque<Slot> slots_;                 // handed over in this order
  std::deque<Reservation> reservations_;   // ring bytes in use, oldest first
  size_t taken_ = 0;
  bool holding_ = false;  // the front slot is the caller's current entry
  bool stop_ = false;
  bool taker_waiting_ = false;
  bool decoder_waiting_ = false;
  size_t released_while_waiting_ = 0;
  std::thread decoder_;
};
