#include "package_build.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "file_io.h"
#include "package_file_writer.h"
#include "package_writer.h"
#include "paths.h"
#include "progress.h"

namespace {

// Deflate when it shrinks the content; otherwise store it plain.
bool prepare_smallest(const std::string& name, const uint8_t* data, size_t size, int level,
                      PreparedEntry* entry, std::string* error) {
  if (!prepare_entry(name, data, size, true, level, entry, error)) return false;
  if (entry->stored.size() < size) return true;
  return prepare_entry(name, data, size, false, level, entry, error);
}

bool add_section(PackageFileWriter* writer, const char* name, const std::string& bytes, int level,
                 std::string* error) {
  PreparedEntry entry;
  return prepare_smallest(name, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), level,
                          &entry, error) &&
         writer->add_entry(entry.name, entry.size, entry.flags != 0, entry.stored.data(),
                           entry.stored.size(), error);
}

std::vector<std::string> entry_names(const std::vector<TreeFile>& files,
                                     std::vector<std::pair<std::string, std::string>>* pairs) {
  std::vector<std::string> names;
  uint64_t serial = 0;
  for (const TreeFile& file : files) {
    const std::string& path = file.package_path;
    if (needs_substitute_name(path) || looks_like_substitute_name(path)) {
      names.push_back(substitute_name(++serial));
      pairs->emplace_back(names.back(), path);
    } else {
      names.push_back(path);
    }
  }
  return names;
}

bool write_sections(const PackageContent& content,
                    const std::vector<std::pair<std::string, std::string>>& pairs, int level,
                    PackageFileWriter* writer, std::string* error) {
  if (content.has_registry &&
      !add_section(writer, kRegistryKeysName,
                   build_registry_keys(content.key_path, content.folder_value,
                                       content.program_value, content.level_value, content.level),
                   level, error)) {
    return false;
  }
  return (!content.has_startup ||
          add_section(writer, kStartupMsgName, build_startup_message(content.caption, content.text),
                      level, error)) &&
         (pairs.empty() || add_section(writer, kXlatNamesTableName, build_name_table(pairs), level, error)) &&
         (content.folders.empty() ||
          add_section(writer, kFoldersName, build_string_list(content.folders), level, error)) &&
         (content.commands.empty() ||
          add_section(writer, kCommandsToExecuteName, build_commands(content.commands), level, error)) &&
         (content.remove.empty() ||
          add_section(writer, kFilesToRemoveName, build_string_list(content.remove), level, error));
}

// One file's entry held in memory: its content when stored plain, or the
// touched part of a deflate buffer (pages never written are never resident).
struct CompressedFile {
  bool done = false;
  std::string error;
  uint32_t size = 0;
  std::vector<uint8_t> plain;
  std::unique_ptr<uint8_t[]> deflated;
  size_t deflated_size = 0;
  uint64_t cost = 0;
};

bool compress_file(const std::filesystem::path& path, int level, CompressedFile* out, std::string* error) {
  std::vector<uint8_t> content;
  if (!read_whole_file(path, &content, error)) return false;
  out->size = static_cast<uint32_t>(content.size());
  // Only a stream smaller than the content is kept.
  size_t room = content.empty() ? 0 : content.size() - 1;
  if (room > 0) {
    libdeflate_compressor* compressor = libdeflate_alloc_compressor(level);
    if (compressor == nullptr) {
      *error = "out of memory for the compressor";
      return false;
    }
    out->deflated.reset(new uint8_t[room]);
    out->deflated_size =
        libdeflate_zlib_compress(compressor, content.data(), content.size(), out->deflated.get(), room);
    libdeflate_free_compressor(compressor);
  }
  if (out->deflated_size == 0) {
    out->deflated.reset();
    out->plain = std::move(content);
  }
  return true;
}

// The files' pipeline: workers compress in directory order within the
// memory allowed; the writer takes the results in the same order.
struct Pipeline {
  const std::vector<TreeFile>* files;
  const BuildOptions* options;
  std::vector<CompressedFile> results;
  std::vector<uint64_t> sizes;
  std::mutex lock;
  std::condition_variable changed;
  size_t next = 0;
  uint64_t in_flight = 0;
  bool stop = false;
  Progress progress;

  bool streamed(size_t i) const { return sizes[i] > options->streamed_above; }
};

void compress_worker(Pipeline* p) {
  for (;;) {
    size_t i;
    {
      std::unique_lock<std::mutex> guard(p->lock);
      for (;;) {
        while (p->next < p->files->size() && p->streamed(p->next)) ++p->next;
        if (p->stop || p->next >= p->files->size()) return;
        uint64_t cost = 2 * p->sizes[p->next] + (64u << 10);
        if (p->in_flight == 0 || p->in_flight + cost <= p->options->memory_in_flight) {
          i = p->next++;
          p->in_flight += cost;
          p->results[i].cost = cost;
          break;
        }
        p->changed.wait(guard);
      }
    }
    CompressedFile result;
    result.cost = p->results[i].cost;
    if (!compress_file((*p->files)[i].disk_path, p->options->compression_level, &result,
                       &result.error) && result.error.empty()) {
      result.error = "cannot compress \"" + (*p->files)[i].disk_path.u8string() + "\"";
    }
    std::lock_guard<std::mutex> guard(p->lock);
    result.done = true;
    p->results[i] = std::move(result);
    p->changed.notify_all();
  }
}

// A file above the streaming size: deflated while read, in pieces; written
// again plain when the stream does not come out smaller.
bool stream_file(const std::string& path, const std::string& name, int level,
                 PackageFileWriter* writer, std::string* error) {
  constexpr size_t kPiece = 1 << 20;
  InputFile file;
  uint64_t size = 0;
  if (!file.open(path, error) || !file.size(&size, error)) return false;
  if (size > UINT32_MAX) {
    *error = "\"" + path + "\" is 4 GiB or more, more than a package can hold";
    return false;
  }
  std::vector<uint8_t> in(kPiece), out(kPiece);
  z_stream z = {};
  if (deflateInit(&z, std::min(level, 9)) != Z_OK) {
    *error = "cannot start the compressor";
    return false;
  }
  bool ok = writer->begin_entry(name, error);
  uint64_t total = 0;
  int flush = Z_NO_FLUSH;
  while (ok && flush != Z_FINISH) {
    size_t got = 0;
    ok = file.read_some(in.data(), in.size(), &got, error);
    total += got;
    flush = got == 0 ? Z_FINISH : Z_NO_FLUSH;
    z.next_in = in.data();
    z.avail_in = static_cast<uInt>(got);
    int status = Z_OK;
    do {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      status = deflate(&z, flush);
      ok = ok && writer->append(out.data(), out.size() - z.avail_out, error);
    } while (ok && z.avail_out == 0 && status != Z_STREAM_END);
  }
  deflateEnd(&z);
  if (ok && total != size) {
    *error = "cannot read \"" + path + "\": it changed while it was read";
    ok = false;
  }
  if (!ok) return false;
  if (writer->entry_bytes() < size) return writer->end_entry(static_cast<uint32_t>(size), true, error);
  writer->rewind_entry();
  if (!file.open(path, error)) return false;
  for (uint64_t left = size; left > 0;) {
    size_t piece = static_cast<size_t>(std::min<uint64_t>(left, kPiece));
    if (!file.read_exact(in.data(), piece, error) || !writer->append(in.data(), piece, error)) return false;
    left -= piece;
  }
  return writer->end_entry(static_cast<uint32_t>(size), false, error);
}

bool write_result(CompressedFile* r, const std::string& name, PackageFileWriter* writer,
                  std::string* error) {
  if (!r->error.empty()) {
    *error = r->error;
    return false;
  }
  bool compressed = r->deflated != nullptr;
  return writer->add_entry(name, r->size, compressed, compressed ? r->deflated.get() : r->plain.data(),
                           compressed ? r->deflated_size : r->plain.size(), error);
}

bool write_files(const std::vector<TreeFile>& files, const std::vector<std::string>& names,
                 const BuildOptions& options, PackageFileWriter* writer, std::string* error) {
  Pipeline p;
  p.files = &files;
  p.options = &options;
  p.results.resize(files.size());
  for (const TreeFile& f : files) {
    std::error_code ec;
    uint64_t size = std::filesystem::file_size(f.disk_path, ec);
    p.sizes.push_back(ec ? UINT64_MAX : size);  // unknown: the stream names the fault
  }
  unsigned threads = options.threads != 0 ? options.threads : std::thread::hardware_concurrency();
  threads = std::max(1u, std::min<unsigned>(threads, static_cast<unsigned>(files.size())));
  progress_start(&p.progress, "compressing", files.size());
  std::vector<std::thread> workers;
  for (unsigned t = 0; t < threads; ++t) workers.emplace_back(compress_worker, &p);
  bool ok = true;
  for (size_t i = 0; ok && i < files.size(); ++i) {
    if (p.streamed(i)) {
      ok = stream_file(files[i].disk_path.u8string(), names[i], options.compression_level, writer, error);
    } else {
      CompressedFile result;
      {
        std::unique_lock<std::mutex> guard(p.lock);
        p.changed.wait(guard, [&] { return p.results[i].done; });
        result = std::move(p.results[i]);
      }
      ok = write_result(&result, names[i], writer, error);
      std::lock_guard<std::mutex> guard(p.lock);
      p.in_flight -= result.cost;
      p.changed.notify_all();
    }
    progress_step(&p.progress);
  }
  {
    std::lock_guard<std::mutex> guard(p.lock);
    p.stop = true;
    p.changed.notify_all();
  }
  for (std::thread& worker : workers) worker.join();
  progress_end(&p.progress);
  return ok;
}

}  // namespace

bool build_package_file(const PackageContent& content, const BuildOptions& options,
                        const std::string& output, uint64_t* package_size, std::string* error) {
  std::vector<std::pair<std::string, std::string>> pairs;
  std::vector<std::string> names = entry_names(content.files, &pairs);
  if (options.compression_level < 1 || options.compression_level > kMaxCompressionLevel) {
    *error = "compression level " + std::to_string(options.compression_level) + " is outside 1 to 12";
    return false;
  }
  PackageFileWriter writer;
  return writer.open(output, error) &&
         write_sections(content, pairs, options.compression_level, &writer, error) &&
         write_files(content.files, names, options, &writer, error) &&
         writer.finish(package_size, error);
}
