// The two decoders of entry streams (libdeflate, zlib) against streams from
// several encoders, whole and damaged: each gives exactly the content or
// fails, both agree, and neither reads or writes past its buffers (input and
// output are exactly-sized heap blocks).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "entry_inflate.h"
#include "hand_package.h"
#include "test_support.h"

namespace {

using hand::Bytes;
using hand::Store;

struct Verdicts {
  bool libdeflate;
  bool zlib;
  Bytes libdeflate_out;
  Bytes zlib_out;
};

Verdicts decode(const Bytes& stream, size_t out_size, const Bytes* want) {
  test::HeapCopy in(stream);
  Verdicts v;
  for (int which = 0; which < 2; ++which) {
    test::HeapCopy out(Bytes(out_size, 0xA5));
    bool ok = which == 0 ? inflate_exact(in.data, in.size, out.data, out.size)
                         : inflate_exact_zlib(in.data, in.size, out.data, out.size);
    if (ok && want != nullptr) EXPECT_EQ(Bytes(out.data, out.data + out.size), *want);
    (which == 0 ? v.libdeflate : v.zlib) = ok;
    (which == 0 ? v.libdeflate_out : v.zlib_out).assign(out.data, out.data + out.size);
  }
  return v;
}

TEST(EntryInflate, BothDecodersGiveExactlyTheContentOrFail) {
  const Store methods[] = {Store::kZlibDefault, Store::kZlibLevel0, Store::kZlibLevel1,
                           Store::kZlibLevel9, Store::kSmallWindow, Store::kHuffmanOnly,
                           Store::kRle, Store::kFixed, Store::kStoredBlocks,
                           Store::kStoredBlocksTiny};
  const Bytes contents[] = {{}, {'x'}, hand::content_of(1000, 1), hand::content_of(70000, 2, false)};
  for (const Bytes& content : contents) {
    for (Store how : methods) {
      SCOPED_TRACE("method " + std::to_string(static_cast<int>(how)) + ", size " +
                   std::to_string(content.size()));
      const Bytes stream = hand::store(content, how);
      ASSERT_GE(stream.size(), 6u);
      struct Case {
        const char* what;
        Bytes stream;
        size_t out_size;
        bool ok;
      };
      Bytes bad_adler = stream;
      bad_adler.back() ^= 0x80;
      Bytes bad_header = stream;
      bad_header[0] = 0x08;  // compression method 8 with a 256-byte window: wrong check bits
      Bytes cut(stream.begin(), stream.end() - 1);
      Bytes trailing = stream;
      trailing.insert(trailing.end(), {1, 2, 3});
      Bytes raw(stream.begin() + 2, stream.end());
      std::vector<Case> cases = {
          {"whole", stream, content.size(), true},
          {"one byte more room", stream, content.size() + 1, false},
          {"bad Adler-32", bad_adler, content.size(), false},
          {"bad header", bad_header, content.size(), false},
          {"cut by one byte", cut, content.size(), false},
          {"no input", {}, content.size(), false},
          {"raw deflate without a zlib header", raw, content.size(), false},
          // Bytes after the end of the stream are not part of it.
          {"bytes after the stream", trailing, content.size(), true},
      };
      if (!content.empty()) cases.push_back({"one byte less room", stream, content.size() - 1, false});
      for (const Case& c : cases) {
        Verdicts v = decode(c.stream, c.out_size, c.ok ? &content : nullptr);
        EXPECT_EQ(v.libdeflate, c.ok) << c.what << " (libdeflate)";
        EXPECT_EQ(v.zlib, c.ok) << c.what << " (zlib)";
      }
    }
  }
}

// Every single-byte change of a small stream: both decoders give the same
// verdict and, where they accept, the same bytes. (Accepted output may still
// differ from the original: Adler-32 over a few hundred bytes has collisions,
// and one of these changes hits one.)
TEST(EntryInflate, EveryFlippedByteIsJudgedAlike) {
  const Bytes content = hand::content_of(300, 7);
  for (Store how : {Store::kZlibDefault, Store::kStoredBlocksTiny, Store::kFixed}) {
    const Bytes stream = hand::store(content, how);
    for (size_t i = 0; i < stream.size(); ++i) {
      for (uint8_t mask : {0x01, 0x80, 0xFF}) {
        Bytes damaged = stream;
        damaged[i] ^= mask;
        Verdicts v = decode(damaged, content.size(), nullptr);
        ASSERT_EQ(v.libdeflate, v.zlib) << "byte " << i << " mask " << int(mask);
        if (v.zlib) EXPECT_EQ(v.libdeflate_out, v.zlib_out) << "byte " << i;
      }
    }
  }
}

}  // namespace
