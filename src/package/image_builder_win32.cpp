// build_image: the program (without a signature of its own), the package and
// the trailer copied mapping to mapping into a new self-contained image.
#include <windows.h>

#include <cstring>

#include "image_builder.h"
#include "package_format.h"
#include "pe_image.h"
#include "text_win32.h"

namespace {

// Everything the builder obtained, so that one path releases it.
struct ImageFiles {
  HANDLE program = INVALID_HANDLE_VALUE;
  HANDLE package = INVALID_HANDLE_VALUE;
  HANDLE output = INVALID_HANDLE_VALUE;
  HANDLE output_mapping = nullptr;
  uint8_t* output_view = nullptr;
  HANDLE program_mapping = nullptr;
  const uint8_t* program_view = nullptr;
  uint32_t program_size = 0;
  uint32_t package_size = 0;
  ProgramCopy program_copy;  // the program whole, or without its signature
};

// Opens an input for reading, other readers allowed, and takes its size.
// A file of 4 GiB or more does not fit the image's 32-bit sizes.
bool open_input(const char* path, HANDLE* file, uint32_t* size) {
  *file = CreateFileW(extended_path(widen_utf8(path)).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (*file == INVALID_HANDLE_VALUE) return false;
  // A size of 0xFFFFFFFF is refused with the failures: no image could hold it.
  DWORD size_high = 0;
  DWORD size_low = GetFileSize(*file, &size_high);
  if (size_low == INVALID_FILE_SIZE || size_high != 0) return false;
  *size = size_low;
  return true;
}

// Copies the whole file through a read-only mapping; an empty file cannot
// be mapped and fails here.
bool copy_mapped(HANDLE file, uint32_t size, uint8_t* destination) {
  HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping == nullptr) return false;
  const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  if (view != nullptr) {
    memcpy(destination, view, size);
    UnmapViewOfFile(view);
  }
  CloseHandle(mapping);
  return view != nullptr;
}

// The program is mapped before the output exists, since a signed program
// is copied shorter (without its certificate table) and that decides the
// image's size. An empty program cannot be mapped and fails here.
bool map_program(ImageFiles* files) {
  files->program_mapping =
      CreateFileMappingW(files->program, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (files->program_mapping == nullptr) return false;
  files->program_view =
      static_cast<const uint8_t*>(MapViewOfFile(files->program_mapping, FILE_MAP_READ, 0, 0, 0));
  if (files->program_view == nullptr) return false;
  files->program_copy = plan_program_copy(ByteSpan{files->program_view, files->program_size});
  return true;
}

// Creating the output's mapping gives the output its final size in one step.
bool fill_output(ImageFiles* files) {
  const uint32_t program_part = files->program_copy.length;
  uint32_t image_size = program_part + files->package_size + kTrailerSize;
  files->output_mapping =
      CreateFileMappingW(files->output, nullptr, PAGE_READWRITE, 0, image_size, nullptr);
  if (files->output_mapping == nullptr) return false;
  files->output_view =
      static_cast<uint8_t*>(MapViewOfFile(files->output_mapping, FILE_MAP_WRITE, 0, 0, 0));
  if (files->output_view == nullptr) return false;
  memcpy(files->output_view, files->program_view, program_part);
  finish_program_copy(files->program_copy, files->output_view);
  uint8_t* package_part = files->output_view + program_part;
  if (!copy_mapped(files->package, files->package_size, package_part)) return false;
  uint8_t* trailer = package_part + files->package_size;
  write_le32(trailer, program_part);
  memcpy(trailer + 4, kTrailerTag, sizeof(kTrailerTag));
  return true;
}

void release(ImageFiles* files) {
  if (files->output_view != nullptr) UnmapViewOfFile(files->output_view);
  if (files->output_mapping != nullptr) CloseHandle(files->output_mapping);
  if (files->output != INVALID_HANDLE_VALUE) CloseHandle(files->output);
  if (files->program_view != nullptr) UnmapViewOfFile(files->program_view);
  if (files->program_mapping != nullptr) CloseHandle(files->program_mapping);
  if (files->program != INVALID_HANDLE_VALUE) CloseHandle(files->program);
  if (files->package != INVALID_HANDLE_VALUE) CloseHandle(files->package);
}

}  // namespace

// Sizes are checked before the output is created, so a refused image
// touches nothing; an output that was created but not completed is deleted,
// so a broken image is never left to be shipped. An output that could not
// be created (one of the inputs, held open for readers only) stays as it was.
void build_image(const char* program_path, const char* package_path, const char* output_path) {
  ImageFiles files;
  std::wstring output = extended_path(widen_utf8(output_path));
  bool created = false;
  bool complete = false;
  if (open_input(program_path, &files.program, &files.program_size) &&
      map_program(&files) &&
      open_input(package_path, &files.package, &files.package_size) &&
      range_inside(0xFFFFFFFFu, files.program_copy.length,
                   uint64_t{files.package_size} + kTrailerSize)) {
    files.output = CreateFileW(output.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    created = files.output != INVALID_HANDLE_VALUE;
    complete = created && fill_output(&files);
  }
  release(&files);
  if (created && !complete) DeleteFileW(output.c_str());
}
