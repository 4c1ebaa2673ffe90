// A small PE32+ reader for the checks of the built PATCH.EXE.
#include "pe_reader.h"

#include <cstring>

namespace {

struct Section {
  uint32_t virtual_address, virtual_size, raw_offset, raw_size;
};

struct Reader {
  const std::string& bytes;
  std::vector<Section> sections;
  bool ok = true;

  uint32_t u16(uint64_t at) {
    if (at + 2 > bytes.size()) return fail();
    return static_cast<uint8_t>(bytes[at]) | (static_cast<uint8_t>(bytes[at + 1]) << 8);
  }
  uint32_t u32(uint64_t at) {
    if (at + 4 > bytes.size()) return fail();
    return u16(at) | (u16(at + 2) << 16);
  }
  uint32_t fail() {
    ok = false;
    return 0;
  }
  // File offset of a relative virtual address, or 0 (with ok cleared).
  uint64_t offset_of(uint32_t rva) {
    for (const Section& s : sections) {
      uint32_t size = s.virtual_size > s.raw_size ? s.virtual_size : s.raw_size;
      if (rva >= s.virtual_address && rva - s.virtual_address < size) {
        uint64_t off = uint64_t{s.raw_offset} + (rva - s.virtual_address);
        if (off < bytes.size()) return off;
      }
    }
    return fail();
  }
  std::string c_string(uint64_t at) {
    std::string out;
    while (at < bytes.size() && bytes[at] != '\0' && out.size() < 4096) out += bytes[at++];
    if (at >= bytes.size()) fail();
    return out;
  }
};

void read_imports(Reader* r, uint32_t rva, std::vector<PeImport>* imports) {
  for (uint64_t at = r->offset_of(rva); r->ok && imports->size() < 256; at += 20) {
    uint32_t lookup = r->u32(at);
    uint32_t name = r->u32(at + 12);
    uint32_t thunks = r->u32(at + 16);
    if (name == 0) break;
    PeImport import;
    import.dll = r->c_string(r->offset_of(name));
    uint64_t entry = r->offset_of(lookup != 0 ? lookup : thunks);
    for (int i = 0; r->ok && i < 4096; ++i, entry += 8) {
      uint32_t low = r->u32(entry);
      uint32_t high = r->u32(entry + 4);
      if (low == 0 && high == 0) break;
      if ((high & 0x80000000u) != 0) continue;  // by ordinal
      import.functions.push_back(r->c_string(r->offset_of(low) + 2));
    }
    imports->push_back(import);
  }
}

// The resource tree: type, then id, then language, then the data entry.
void read_resources(Reader* r, uint32_t rva, uint32_t size, std::vector<PeResource>* out) {
  uint64_t base = r->offset_of(rva);
  auto entries = [&](uint64_t dir, auto&& visit) {
    uint32_t count = r->u16(dir + 12) + r->u16(dir + 14);
    for (uint32_t i = 0; r->ok && i < count && i < 1024; ++i) {
      uint64_t e = dir + 16 + 8ull * i;
      uint32_t name = r->u32(e);
      uint32_t target = r->u32(e + 4);
      if ((target & 0x7FFFFFFFu) >= size) {
        r->fail();
        return;
      }
      visit(name, target);
    }
  };
  entries(base, [&](uint32_t type, uint32_t type_target) {
    if ((type & 0x80000000u) != 0 || (type_target & 0x80000000u) == 0) return;
    entries(base + (type_target & 0x7FFFFFFFu), [&](uint32_t id, uint32_t id_target) {
      if ((id & 0x80000000u) != 0 || (id_target & 0x80000000u) == 0) return;
      entries(base + (id_target & 0x7FFFFFFFu), [&](uint32_t, uint32_t leaf) {
        if ((leaf & 0x80000000u) != 0) return;
        uint32_t data_rva = r->u32(base + leaf);
        uint32_t data_size = r->u32(base + leaf + 4);
        uint64_t at = r->offset_of(data_rva);
        if (!r->ok || data_size > r->bytes.size() - at) {
          r->fail();
          return;
        }
        out->push_back({type, id, r->bytes.substr(at, data_size)});
      });
    });
  });
}

}  // namespace

bool read_pe(const std::string& bytes, PeFile* pe, std::string* error) {
  Reader r{bytes, {}};
  if (bytes.size() < 64 || bytes.compare(0, 2, "MZ") != 0) {
    *error = "no MZ header";
    return false;
  }
  uint64_t nt = r.u32(0x3C);
  if (nt + 24 > bytes.size() || bytes.compare(nt, 4, std::string("PE\0\0", 4)) != 0) {
    *error = "no PE signature";
    return false;
  }
  pe->machine = static_cast<uint16_t>(r.u16(nt + 4));
  uint32_t section_count = r.u16(nt + 6);
  uint32_t optional_size = r.u16(nt + 20);
  uint64_t opt = nt + 24;
  if (r.u16(opt) != 0x20B) {
    *error = "not PE32+";
    return false;
  }
  pe->subsystem = static_cast<uint16_t>(r.u16(opt + 68));
  uint64_t dirs = opt + 112;
  uint32_t import_rva = r.u32(dirs + 8);
  uint32_t resource_rva = r.u32(dirs + 16);
  uint32_t resource_size = r.u32(dirs + 20);
  uint64_t table = opt + optional_size;
  for (uint32_t i = 0; i < section_count && r.ok; ++i) {
    uint64_t s = table + 40ull * i;
    r.sections.push_back({r.u32(s + 12), r.u32(s + 8), r.u32(s + 20), r.u32(s + 16)});
  }
  if (import_rva != 0) read_imports(&r, import_rva, &pe->imports);
  if (resource_rva != 0) read_resources(&r, resource_rva, resource_size, &pe->resources);
  if (!r.ok) *error = "an offset or size points outside the file";
  return r.ok;
}

const PeResource* find_resource(const PeFile& pe, uint32_t type, uint32_t id) {
  for (const PeResource& res : pe.resources) {
    if (res.type == type && res.id == id) return &res;
  }
  return nullptr;
}
