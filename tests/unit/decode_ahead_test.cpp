// Decode-ahead: entries come back strictly in the order asked for, each
// with exactly its content, while the decoding thread runs ahead through a
// ring small enough to wrap many times; failures stay at their place.
#include "decode_ahead.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "package_writer.h"
#include "test_support.h"

namespace {

std::string content_of(size_t size, uint32_t seed) {
  std::string s(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    // Runs of text with some noise: compresses, but not to nothing.
    s[i] = (x >> 24) < 40 ? static_cast<char>(x >> 16) : static_cast<char>('a' + i % 23);
  }
  return s;
}

struct Built {
  std::vector<std::string> contents;  // by entry index
  std::vector<uint8_t> bytes;
};

// A zlib stream at the fastest level: these tests make hundreds of entries.
PreparedEntry fast_entry(const std::string& name, const std::string& content, bool compress) {
  PreparedEntry entry;
  std::string error;
  EXPECT_TRUE(prepare_entry(name, reinterpret_cast<const uint8_t*>(content.data()),
                            content.size(), compress, 1, &entry, &error))
      << error;
  return entry;
}

// Entries "f0", "f1", ... of the given sizes, compressed and plain in turn.
Built package_of(const std::vector<size_t>& sizes) {
  Built built;
  std::vector<PreparedEntry> entries;
  for (size_t i = 0; i < sizes.size(); ++i) {
    std::string content = content_of(sizes[i], static_cast<uint32_t>(i));
    entries.push_back(fast_entry("f" + std::to_string(i), content, i % 3 != 2));
    built.contents.push_back(content);
  }
  std::string error;
  EXPECT_TRUE(write_package(entries, PackageLayout{}, &built.bytes, &error)) << error;
  return built;
}

std::vector<int> all_indices(size_t count) {
  std::vector<int> order;
  for (size_t i = 0; i < count; ++i) order.push_back(static_cast<int>(i));
  return order;
}

std::string text_of(const AheadEntry& entry) {
  return std::string(reinterpret_cast<const char*>(entry.data), entry.size);
}

TEST(DecodeAhead, DeliversEveryEntryInOrderWithItsContentWhateverTheBudget) {
  std::vector<size_t> sizes;
  for (size_t i = 0; i < 120; ++i) sizes.push_back((i * 7919) % 3000 + (i % 10 == 0 ? 0 : 1));
  Built built = package_of(sizes);
  test::OpenedView view(built.bytes, false);
  ASSERT_TRUE(view.ok);
  struct Case {
    size_t budget;
    size_t largest;
  };
  // A ring barely larger than the largest entry wraps on almost every entry.
  for (Case c : {Case{3000, 3000}, Case{4500, 3000}, Case{20000, 3000}, Case{1 << 20, 1 << 20}}) {
    SCOPED_TRACE("budget " + std::to_string(c.budget));
    DecodeAhead ahead(view.package, all_indices(sizes.size()), c.largest, c.budget);
    EXPECT_LE(ahead.ring_capacity(), c.budget);
    AheadEntry entry;
    for (size_t i = 0; i < sizes.size(); ++i) {
      ASSERT_TRUE(ahead.take(&entry));
      ASSERT_EQ(entry.index, static_cast<int>(i));
      ASSERT_EQ(entry.state, AheadState::kDecoded);
      ASSERT_EQ(entry.size, sizes[i]);
      ASSERT_EQ(text_of(entry), built.contents[i]);
    }
    EXPECT_FALSE(ahead.take(&entry));
    EXPECT_FALSE(ahead.take(&entry));
  }
}

TEST(DecodeAhead, HeldEntryStaysIntactWhileTheDecoderRunsAhead) {
  // Uneven sizes, so that the ring's free room is never a whole number of
  // entries and the wrap to its start is tried at every kind of gap.
  std::vector<size_t> sizes;
  for (size_t i = 0; i < 80; ++i) sizes.push_back(300 + (i * 577) % 1200);
  Built built = package_of(sizes);
  test::OpenedView view(built.bytes, false);
  ASSERT_TRUE(view.ok);
  for (size_t budget : {1500, 2200, 3100}) {
    SCOPED_TRACE("budget " + std::to_string(budget));
    DecodeAhead ahead(view.package, all_indices(sizes.size()), 1500, budget);
    AheadEntry entry;
    for (size_t i = 0; i < sizes.size(); ++i) {
      ASSERT_TRUE(ahead.take(&entry));
      // Time for the decoder to fill every free byte of the ring.
      std::this_thread::sleep_for(std::chrono::microseconds(300));
      ASSERT_EQ(text_of(entry), built.contents[i]) << "entry " << i;
    }
  }
}

TEST(DecodeAhead, LargeEntriesAreLeftToTheCallerAtTheirPlace) {
  Built built = package_of({100, 5000, 200, 4097, 4096, 0});
  test::OpenedView view(built.bytes, false);
  ASSERT_TRUE(view.ok);
  DecodeAhead ahead(view.package, all_indices(6), 4096, 1 << 20);
  // Only the entries it decodes count towards its ring.
  EXPECT_EQ(ahead.ring_capacity(), 100u + 200u + 4096u);
  const AheadState expected[] = {AheadState::kDecoded, AheadState::kNotDecoded,
                                 AheadState::kDecoded, AheadState::kNotDecoded,
                                 AheadState::kDecoded, AheadState::kDecoded};
  AheadEntry entry;
  for (int i = 0; i < 6; ++i) {
    ASSERT_TRUE(ahead.take(&entry));
    EXPECT_EQ(entry.index, i);
    EXPECT_EQ(entry.state, expected[i]) << "entry " << i;
    if (entry.state == AheadState::kDecoded) EXPECT_EQ(text_of(entry), built.contents[i]);
    if (entry.state == AheadState::kNotDecoded) EXPECT_EQ(entry.data, nullptr);
  }
  EXPECT_FALSE(ahead.take(&entry));
}

TEST(DecodeAhead, FailuresAreDeliveredAtTheirOwnPlace) {
  std::vector<PreparedEntry> entries = {
      fast_entry("good0", content_of(900, 1), true),
      fast_entry("short", content_of(900, 2), true),
      fast_entry("good2", content_of(900, 3), true),
  };
  entries[1].size += 1;  // the stream gives one byte less than the entry claims
  std::vector<uint8_t> bytes;
  std::string error;
  ASSERT_TRUE(write_package(entries, PackageLayout{}, &bytes, &error)) << error;
  test::OpenedView view(bytes, false);
  ASSERT_TRUE(view.ok);
  // Also indices that are no entry at all, at the front and in the middle.
  DecodeAhead ahead(view.package, {-1, 0, 1, 7, 2}, 1 << 20, 1 << 20);
  struct Want {
    int index;
    AheadState state;
  };
  const Want want[] = {{-1, AheadState::kFailed},  {0, AheadState::kDecoded},
                       {1, AheadState::kFailed},   {7, AheadState::kFailed},
                       {2, AheadState::kDecoded}};
  AheadEntry entry;
  for (const Want& w : want) {
    ASSERT_TRUE(ahead.take(&entry));
    EXPECT_EQ(entry.index, w.index);
    EXPECT_EQ(entry.state, w.state) << "index " << w.index;
    if (w.state == AheadState::kFailed) EXPECT_EQ(entry.data, nullptr);
  }
  EXPECT_EQ(text_of(entry), content_of(900, 3));
  EXPECT_FALSE(ahead.take(&entry));
}

TEST(DecodeAhead, StopsCleanlyWhenNotEveryEntryIsTaken) {
  std::vector<size_t> sizes(200, 2000);
  Built built = package_of(sizes);
  test::OpenedView view(built.bytes, false);
  ASSERT_TRUE(view.ok);
  for (int taken : {0, 1, 5}) {
    // A ring that fills up: the decoder is waiting for room when it is told to stop.
    DecodeAhead ahead(view.package, all_indices(sizes.size()), 2000, 8000);
    AheadEntry entry;
    for (int i = 0; i < taken; ++i) {
      ASSERT_TRUE(ahead.take(&entry));
      EXPECT_EQ(text_of(entry), built.contents[i]);
    }
  }
}

TEST(DecodeAhead, NothingToDecodeLeavesEveryEntryToTheCaller) {
  Built built = package_of({0, 70000, 0});
  test::OpenedView view(built.bytes, false);
  ASSERT_TRUE(view.ok);
  DecodeAhead ahead(view.package, all_indices(3), 65536, 1 << 20);
  EXPECT_EQ(ahead.ring_capacity(), 0u);
  AheadEntry entry;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(ahead.take(&entry));
    EXPECT_EQ(entry.index, i);
    EXPECT_EQ(entry.state, AheadState::kNotDecoded);
  }
  EXPECT_FALSE(ahead.take(&entry));
}

}  // namespace
