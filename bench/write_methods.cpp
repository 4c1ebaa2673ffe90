// write_methods.exe: the cost of filling a new file of a given size by
// each way the updater could use, to choose where writing through a
// mapping starts to pay (scripts/bench.sh prints it as a table).
//
//   write_methods.exe FOLDER [TOTAL_MB]
//
// For each size, as many files as make TOTAL_MB (default 64, at least 8 and
// at most 500 files) are created in FOLDER, filled from one buffer and
// closed, then removed (untimed). Prints one line per size and method:
// size=... method=... files=... us_per_file=... mb_per_s=...
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

enum class Method { kMapping, kWriteFile, kSizeThenWrite };
const char* const kMethodNames[] = {"mapping", "write", "size_then_write"};

bool fill_by_mapping(HANDLE file, const uint8_t* data, DWORD size) {
  HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, size, nullptr);
  if (mapping == nullptr) return false;
  void* view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0);
  if (view != nullptr) {
    memcpy(view, data, size);
    UnmapViewOfFile(view);
  }
  CloseHandle(mapping);
  return view != nullptr;
}

bool fill_by_write(HANDLE file, const uint8_t* data, DWORD size, bool size_first) {
  if (size_first) {
    FILE_END_OF_FILE_INFO end = {};
    end.EndOfFile.QuadPart = size;
    if (!SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end)) return false;
  }
  DWORD written = 0;
  return WriteFile(file, data, size, &written, nullptr) && written == size;
}

double now_seconds() {
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Seconds to create and fill `count` files; negative when a step failed.
double time_files(const std::wstring& folder, Method method, const std::vector<uint8_t>& data,
                  int count) {
  DWORD size = static_cast<DWORD>(data.size());
  double start = now_seconds();
  for (int i = 0; i < count; ++i) {
    std::wstring path = folder + L"\\f" + std::to_wstring(i) + L".bin";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    bool filled = method == Method::kMapping
                      ? fill_by_mapping(file, data.data(), size)
                      : fill_by_write(file, data.data(), size, method == Method::kSizeThenWrite);
    CloseHandle(file);
    if (!filled) return -1;
  }
  double seconds = now_seconds() - start;
  for (int i = 0; i < count; ++i) {
    DeleteFileW((folder + L"\\f" + std::to_wstring(i) + L".bin").c_str());
  }
  return seconds;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  std::wstring folder = argv[1];
  double total_mb = argc > 2 ? _wtof(argv[2]) : 64;
  CreateDirectoryW(folder.c_str(), nullptr);
  const size_t kSizes[] = {1 << 10, 4 << 10, 16 << 10, 64 << 10, 256 << 10,
                           1 << 20, 4 << 20, 16 << 20};
  for (size_t size : kSizes) {
    std::vector<uint8_t> data(size);
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(i * 131 + i / 4096);
    int count = static_cast<int>(total_mb * 1048576.0 / static_cast<double>(size));
    count = count < 8 ? 8 : count > 500 ? 500 : count;
    // Methods alternate within each size; the best of three rounds counts,
    // to keep a shared machine's stalls out of the figure.
    double best[3] = {1e30, 1e30, 1e30};
    for (int round = 0; round < 3; ++round) {
      for (int m = 0; m < 3; ++m) {
        double seconds = time_files(folder, static_cast<Method>(m), data, count);
        if (seconds < 0) {
          fprintf(stderr, "write_methods: %s failed at size %zu\n", kMethodNames[m], size);
          return 1;
        }
        if (seconds < best[m]) best[m] = seconds;
      }
    }
    for (int m = 0; m < 3; ++m) {
      printf("size=%zu method=%s files=%d us_per_file=%.1f mb_per_s=%.1f\n", size,
             kMethodNames[m], count, best[m] * 1e6 / count,
             static_cast<double>(size) * count / 1048576.0 / best[m]);
    }
    fflush(stdout);
  }
  return 0;
}
