// The decode-ahead ring: the decoding thread reserves room for an entry at
// the ring's head, decodes into it without the lock, and publishes it; the
// taker releases entries from the tail in the same order. Entries are
// contiguous: one that does not fit before the ring's end starts again at 0.
#include "decode_ahead.h"

#include <algorithm>
#include <new>
#include <system_error>
#include <utility>

namespace {

bool valid_index(const Package& package, int index) {
  return package.entries != nullptr && index >= 0 &&
         static_cast<uint32_t>(index) < package.header.entry_count;
}

// Content bytes of the entries that will be decoded here, capped: a small
// package never holds a ring larger than its files.
size_t bytes_to_decode(const Package& package, const std::vector<int>& order, size_t largest,
                       size_t cap) {
  size_t total = 0;
  for (int index : order) {
    if (!valid_index(package, index)) continue;
    size_t size = package.entries[index].size;
    if (size > largest) continue;
    if (size >= cap - total) return cap;
    total += size;
  }
  return total;
}

}  // namespace

DecodeAhead::DecodeAhead(const Package& package, std::vector<int> order, size_t largest_decoded,
                         size_t budget, EntryDecoder decoder)
    : package_(package), order_(std::move(order)), decoder_function_(decoder) {
  largest_decoded_ = std::min(largest_decoded, budget);
  capacity_ = bytes_to_decode(package_, order_, largest_decoded_, budget);
  if (capacity_ == 0) return;
  ring_.reset(new (std::nothrow) uint8_t[capacity_]);
  if (ring_ == nullptr) {
    capacity_ = 0;
    return;
  }
  // A thread that cannot be started leaves every entry to the caller.
  try {
    decoder_ = std::thread(&DecodeAhead::decode_all, this);
  } catch (const std::system_error&) {
    ring_.reset();
    capacity_ = 0;
  }
}

DecodeAhead::~DecodeAhead() {
  if (!decoder_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  space_.notify_one();
  decoder_.join();
}

// Where `size` bytes fit after the newest reservation without touching the
// oldest; false when they do not fit yet.
bool DecodeAhead::reserve(size_t size, size_t* offset) const {
  if (reservations_.empty()) {
    *offset = 0;
    return size <= capacity_;
  }
  const Reservation& oldest = reservations_.front();
  const Reservation& newest = reservations_.back();
  size_t tail = oldest.offset;
  size_t head = newest.offset + newest.size;
  if (newest.offset >= oldest.offset) {  // in use: [tail, head)
    if (size <= capacity_ - head) {
      *offset = head;
      return true;
    }
    if (size <= tail) {
      *offset = 0;
      return true;
    }
    return false;
  }
  // Wrapped: in use are [tail, end of the older run) and [0, head).
  if (size <= tail - head) {
    *offset = head;
    return true;
  }
  return false;
}

void DecodeAhead::decode_all() {
  for (int index : order_) {
    size_t size = valid_index(package_, index) ? package_.entries[index].size : 0;
    Slot slot{index, AheadState::kFailed, false, false, 0, 0};
    if (valid_index(package_, index) && size > largest_decoded_) {
      slot.state = AheadState::kNotDecoded;
    } else if (valid_index(package_, index)) {
      slot.pending = true;
      slot.size = size;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    if (stop_) return;
    if (slot.pending && size != 0) {
      decoder_waiting_ = true;
      released_while_waiting_ = 0;
      space_.wait(lock, [&] { return stop_ || reserve(size, &slot.offset); });
      decoder_waiting_ = false;
      if (stop_) return;
      reservations_.push_back(Reservation{slot.offset, size});
      slot.holds_bytes = true;
    }
    slots_.push_back(slot);
    Slot& published = slots_.back();  // stays in place while later slots are added
    if (published.pending) {
      lock.unlock();
      uint8_t* destination = ring_.get() + published.offset;
      bool decoded = decoder_function_ != nullptr
                         ? decoder_function_(package_, index, destination, published.size)
                         : static_cast<bool>(load_entry_into(&package_, index, destination));
      lock.lock();
      published.state = decoded ? AheadState::kDecoded : AheadState::kFailed;
      published.pending = false;
    }
    // Only a taker that waits needs the wake-up (each is a system call).
    bool wake = taker_waiting_;
    lock.unlock();
    if (wake) ready_.notify_one();
  }
}

// With the lock held: drops the caller's current entry and its ring bytes.
void DecodeAhead::release_held() {
  if (!holding_) return;
  holding_ = false;
  const Slot& held = slots_.front();
  if (held.holds_bytes) {
    released_while_waiting_ += reservations_.front().size;
    reservations_.pop_front();
  }
  slots_.pop_front();
}

bool DecodeAhead::take(AheadEntry* entry) {
  if (!decoder_.joinable()) {
    if (taken_ == order_.size()) return false;
    *entry = AheadEntry{order_[taken_++], AheadState::kNotDecoded, nullptr, 0};
    return true;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  release_held();
  // The decoder is woken once an eighth of the ring is free again (or all
  // of it), not for every entry: fewer wake-ups, same order.
  bool wake_decoder = decoder_waiting_ && (released_while_waiting_ >= capacity_ / 8 ||
                                           reservations_.empty());
  if (taken_ == order_.size()) {
    lock.unlock();
    if (wake_decoder) space_.notify_one();
    return false;
  }
  if (wake_decoder) {
    lock.unlock();
    space_.notify_one();
    lock.lock();
  }
  taker_waiting_ = true;
  ready_.wait(lock, [&] { return !slots_.empty() && !slots_.front().pending; });
  taker_waiting_ = false;
  const Slot& next = slots_.front();
  entry->index = next.index;
  entry->state = next.state;
  entry->size = next.state == AheadState::kDecoded ? next.size : 0;
  entry->data = next.state == AheadState::kDecoded ? ring_.get() + next.offset : nullptr;
  holding_ = true;
  ++taken_;
  return true;
}
