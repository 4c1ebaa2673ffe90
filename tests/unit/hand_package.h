// A second, deliberately independent way of making package bytes for the
// tests: its own little-endian writes, its own Adler-32 and stored-block
// zlib streams, and free placement of every part. A fault shared by our
// writer and our reader cannot hide behind packages made only by the writer.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace hand {

using Bytes = std::vector<uint8_t>;

inline void put32(Bytes* b, size_t at, uint32_t v) {
  if (b->size() < at + 4) b->resize(at + 4, 0);
  for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

inline void put16(Bytes* b, size_t at, uint16_t v) {
  if (b->size() < at + 2) b->resize(at + 2, 0);
  (*b)[at] = static_cast<uint8_t>(v);
  (*b)[at + 1] = static_cast<uint8_t>(v >> 8);
}

inline void put_bytes(Bytes* b, size_t at, const void* data, size_t n) {
  if (b->size() < at + n) b->resize(at + n, 0);
  const uint8_t* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < n; ++i) (*b)[at + i] = p[i];
}

inline uint32_t get32(const Bytes& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

inline Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

inline uint32_t adler32_of(const Bytes& data) {
  uint32_t a = 1, b = 0;
  for (uint8_t byte : data) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}

// A zlib stream made of stored blocks of at most `block` bytes, written by
// hand (header 0x78 0x01, LEN/NLEN blocks, big-endian Adler-32).
inline Bytes stored_block_stream(const Bytes& data, size_t block = 65535) {
  Bytes out = {0x78, 0x01};
  size_t pos = 0;
  do {
    size_t n = data.size() - pos < block ? data.size() - pos : block;
    bool last = pos + n == data.size();
    out.push_back(last ? 1 : 0);
    out.push_back(static_cast<uint8_t>(n));
    out.push_back(static_cast<uint8_t>(n >> 8));
    out.push_back(static_cast<uint8_t>(~n));
    out.push_back(static_cast<uint8_t>(~n >> 8));
    out.insert(out.end(), data.begin() + pos, data.begin() + pos + n);
    pos += n;
  } while (pos < data.size());
  uint32_t adler = adler32_of(data);
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(adler >> shift));
  return out;
}

// A zlib stream from zlib's deflate with the given settings.
inline Bytes deflate_stream(const Bytes& data, int level, int window_bits = 15, int mem_level = 8,
                            int strategy = Z_DEFAULT_STRATEGY) {
  z_stream s = {};
  if (deflateInit2(&s, level, Z_DEFLATED, window_bits, mem_level, strategy) != Z_OK) return {};
  Bytes out(deflateBound(&s, data.size()) + 16);
  s.next_in = const_cast<Bytef*>(data.data());
  s.avail_in = static_cast<uInt>(data.size());
  s.next_out = out.data();
  s.avail_out = static_cast<uInt>(out.size());
  int result = deflate(&s, Z_FINISH);
  out.resize(s.total_out);
  deflateEnd(&s);
  return result == Z_STREAM_END ? out : Bytes{};
}

// One directory record exactly as it will be written; every field is free.
struct Record {
  Bytes name;  // up to 32 bytes, padded with NULs
  uint32_t offset = 0;
  uint32_t size = 0;
  uint16_t reserved = 0;
  uint16_t flags = 0;
  uint32_t stored_size = 0;
};

inline Record named(const std::string& name) {
  Record r;
  r.name = bytes_of(name);
  return r;
}

inline Bytes directory_bytes(const std::vector<Record>& records) {
  Bytes d;
  for (size_t i = 0; i < records.size(); ++i) {
    const Record& r = records[i];
    size_t at = i * 48;
    d.resize(at + 48, 0);
    put_bytes(&d, at, r.name.data(), r.name.size() < 32 ? r.name.size() : 32);
    put32(&d, at + 32, r.offset);
    put32(&d, at + 36, r.size);
    put16(&d, at + 40, r.reserved);
    put16(&d, at + 42, r.flags);
    put32(&d, at + 44, r.stored_size);
  }
  return d;
}

inline void put_header(Bytes* b, size_t at, uint32_t count, uint32_t directory_offset,
                       uint32_t flags, uint32_t directory_stored_size) {
  static const char kMagic[] = "Korvinda data  \x1a";
  put_bytes(b, at, kMagic, 16);
  put32(b, at + 16, count);
  put32(b, at + 20, directory_offset);
  put32(b, at + 24, flags);
  put32(b, at + 28, directory_stored_size);
}

// An entry's content and how the hand builder stores it.
enum class Store { kPlain, kZlibDefault, kZlibLevel0, kZlibLevel1, kZlibLevel9, kSmallWindow,
                   kHuffmanOnly, kRle, kFixed, kStoredBlocks, kStoredBlocksTiny };

inline Bytes store(const Bytes& content, Store how) {
  switch (how) {
    case Store::kPlain: return content;
    case Store::kZlibDefault: return deflate_stream(content, Z_DEFAULT_COMPRESSION);
    case Store::kZlibLevel0: return deflate_stream(content, 0);
    case Store::kZlibLevel1: return deflate_stream(content, 1);
    case Store::kZlibLevel9: return deflate_stream(content, 9, 15, 9);
    case Store::kSmallWindow: return deflate_stream(content, 6, 9, 1);
    case Store::kHuffmanOnly: return deflate_stream(content, 6, 15, 8, Z_HUFFMAN_ONLY);
    case Store::kRle: return deflate_stream(content, 6, 15, 8, Z_RLE);
    case Store::kFixed: return deflate_stream(content, 6, 15, 8, Z_FIXED);
    case Store::kStoredBlocks: return stored_block_stream(content);
    case Store::kStoredBlocksTiny: return stored_block_stream(content, 7);
  }
  return {};
}

struct Item {
  std::string name;
  Bytes content;
  Store how = Store::kZlibDefault;
  uint16_t extra_flags = 0;  // or'ed into the entry's flags
};

// Directory right after the header, stored plain (storage 0 or 3), then the
// entries in reverse order with a gap of junk before each: valid, but unlike
// what our writer lays out.
inline Bytes directory_first_package(const std::vector<Item>& items, uint32_t header_flags = 0,
                                     Bytes junk = {0xEE, 0xDD}) {
  std::vector<Record> records(items.size());
  size_t pos = 32 + items.size() * 48;
  Bytes out;
  std::vector<Bytes> stored(items.size());
  for (size_t k = items.size(); k-- > 0;) {
    stored[k] = store(items[k].content, items[k].how);
    bool zlib = items[k].how != Store::kPlain;
    Record& r = records[k];
    r = named(items[k].name);
    pos += junk.size();
    r.offset = static_cast<uint32_t>(pos);
    r.size = static_cast<uint32_t>(items[k].content.size());
    r.flags = static_cast<uint16_t>((zlib ? 1 : 0) | items[k].extra_flags);
    // A plain entry's stored_size is not read: make it nonsense.
    r.stored_size = zlib ? static_cast<uint32_t>(stored[k].size()) : 0xFFFFFFFFu;
    pos += stored[k].size();
  }
  // directory_stored_size is not read for a plain directory: nonsense too.
  put_header(&out, 0, static_cast<uint32_t>(items.size()), 32, header_flags, 0xFFFFFFFFu);
  put_bytes(&out, 32, directory_bytes(records).data(), items.size() * 48);
  for (size_t k = items.size(); k-- > 0;) {
    out.insert(out.end(), junk.begin(), junk.end());
    out.insert(out.end(), stored[k].begin(), stored[k].end());
  }
  return out;
}

// The usual order (entries from 32, directory at the end) with the directory
// compressed by the given method (storage 2) or plain (storage 0 or 3).
inline Bytes directory_last_package(const std::vector<Item>& items, uint32_t header_flags,
                                    Store directory_how = Store::kZlibDefault) {
  Bytes out(32, 0);
  std::vector<Record> records;
  for (const Item& item : items) {
    Bytes stored = store(item.content, item.how);
    bool zlib = item.how != Store::kPlain;
    Record r = named(item.name);
    r.offset = static_cast<uint32_t>(out.size());
    r.size = static_cast<uint32_t>(item.content.size());
    r.flags = static_cast<uint16_t>((zlib ? 1 : 0) | item.extra_flags);
    r.stored_size = zlib ? static_cast<uint32_t>(stored.size()) : 0;
    records.push_back(r);
    out.insert(out.end(), stored.begin(), stored.end());
  }
  Bytes directory = directory_bytes(records);
  bool deflated = (header_flags & 3) == 2;
  Bytes stored_directory = deflated ? store(directory, directory_how) : directory;
  put_header(&out, 0, static_cast<uint32_t>(items.size()), static_cast<uint32_t>(out.size()),
             header_flags, deflated ? static_cast<uint32_t>(stored_directory.size()) : 0);
  out.insert(out.end(), stored_directory.begin(), stored_directory.end());
  return out;
}

inline Bytes image_of(const Bytes& program, const Bytes& package) {
  Bytes out = program;
  out.insert(out.end(), package.begin(), package.end());
  put32(&out, out.size(), static_cast<uint32_t>(program.size()));
  put_bytes(&out, out.size(), "KRVD", 4);
  return out;
}

// Deterministic content: text-like when `text`, otherwise noise.
inline Bytes content_of(size_t n, uint32_t seed, bool text = true) {
  Bytes out(n);
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    out[i] = text ? static_cast<uint8_t>("abc de\r\nfgh\0\xE0\xFF"[(x >> 16) % 14])
                  : static_cast<uint8_t>(x >> 16);
  }
  return out;
}

}  // namespace hand
